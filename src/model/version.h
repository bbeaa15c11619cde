// The program's name and version, as the banner, --version and the run summaries give them.
#pragma once

constexpr const char* kProgramName = "Tavoline";
constexpr const char* kProgramVersion = "2.0";
constexpr const char* kProgramDate = "22.12.2014";

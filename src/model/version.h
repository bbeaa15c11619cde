// The program's name and version, as the banner, --version and the run summaries give them.
#pragma once

constexpr const char* kProgramName = "Tavoline";
constexpr const char* kProgramVersion = TAVOLINE_VERSION;  // the project version in CMakeLists.txt
constexpr const char* kProgramDate = "22.12.2014";

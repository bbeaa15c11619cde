// Text for formats that must be UTF-8 (summary.json, report.html) from bytes that need not
// be: file names on Linux are any bytes but '/' and NUL.
#pragma once

#include <string>

// `text` with every byte that does not belong to a valid UTF-8 sequence (overlong forms,
// surrogates and code points beyond U+10FFFF included) replaced by U+FFFD, the way the
// JSON writer's "replace" handler does it; valid text comes back unchanged.
std::string valid_utf8(const std::string& text);

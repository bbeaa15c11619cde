// Text for formats that must be UTF-8 (summary.json, report.html) from bytes that need not
// be: file names on Linux are any bytes but '/' and NUL.
#pragma once

#include <string>

// `text` with every ill-formed UTF-8 sequence (stray bytes, cut sequences, overlong forms,
// surrogates, code points beyond U+10FFFF) replaced by one U+FFFD per maximal subpart, as
// Unicode recommends and the JSON writer's "replace" handler does; valid text comes back
// unchanged.
std::string valid_utf8(const std::string& text);

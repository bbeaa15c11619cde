// The step every result file shares: written under a temporary name beside its own, it
// replaces the file of that name only when complete (a rename within one folder, which
// no reader can see half done). Knows nothing of the record, so the plotter uses it too.
#pragma once

#include <string>

// Name of the temporary file that stands for `path` while it is written: `path` + ".tmp".
std::string temporary_name(const std::string& path);

// Words for an error number (errno); `fallback` when it is 0.
std::string error_text(int errnum, const char* fallback = "the file system did not take it");

// Renames the completed temporary of `path` over `path`. False, with the reason, when
// that fails; the temporary is removed then.
bool put_in_place(const std::string& path, std::string& reason);

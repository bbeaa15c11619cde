#include "base/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string temporary_name(const std::string& path) { return path + ".tmp"; }

std::string error_text(int errnum, const char* fallback) {
    return errnum != 0 ? std::string(std::strerror(errnum)) : std::string(fallback);
}

bool put_in_place(const std::string& path, std::string& reason) {
    const std::string temporary = temporary_name(path);
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    reason = error_text(errno);
    std::remove(temporary.c_str());
    return false;
}

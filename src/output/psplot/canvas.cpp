#include "output/psplot/canvas.h"

#include <cerrno>
#include <cstdarg>

#include "base/replace_file.h"

PlotFile::PlotFile(const std::string& name) : name_(name) {
    errno = 0;
    file_.reset(std::fopen(temporary_name(name_).c_str(), "wb"));
    if (!file_) fail(errno);
}

void PlotFile::fail(int errnum) {
    if (!failed_) reason_ = error_text(errnum);
    failed_ = true;
}

void PlotFile::print(const char* format, ...) {
    if (!file_) return;
    va_list args;
    va_start(args, format);
    if (std::vfprintf(file_.get(), format, args) < 0) fail(errno);
    va_end(args);
}

void PlotFile::write(const std::string& text) {
    if (!file_) return;
    if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) fail(errno);
}

bool PlotFile::close() {
    if (!file_) return !failed_;
    // A full disk usually shows only when the buffer is flushed, here or in fclose.
    errno = 0;
    if (std::fflush(file_.get()) != 0 || std::ferror(file_.get())) fail(errno);
    errno = 0;
    if (std::fclose(file_.release()) != 0) fail(errno);
    if (failed_) {
        std::remove(temporary_name(name_).c_str());
        return false;
    }
    if (put_in_place(name_, reason_)) return true;
    failed_ = true;
    return false;
}

void PlotFile::discard() {
    if (!file_) return;
    file_.reset();
    std::remove(temporary_name(name_).c_str());
}

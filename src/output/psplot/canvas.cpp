#include "output/psplot/canvas.h"

#include <cstdarg>

PlotFile::PlotFile(const std::string& name) : name_(name), file_(std::fopen(name.c_str(), "wb")) {}

void PlotFile::print(const char* format, ...) {
    if (!file_) return;
    va_list args;
    va_start(args, format);
    if (std::vfprintf(file_.get(), format, args) < 0) failed_ = true;
    va_end(args);
}

void PlotFile::write(const std::string& text) {
    if (!file_) return;
    if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) failed_ = true;
}

bool PlotFile::close() {
    if (!file_) return !failed_;
    // A full disk usually shows only when the buffer is flushed, here or in fclose.
    if (std::fflush(file_.get()) != 0 || std::ferror(file_.get())) failed_ = true;
    if (std::fclose(file_.release()) != 0) failed_ = true;
    return !failed_;
}

#include "output/output_file.h"

#include <cerrno>
#include <cstdio>

void record_unwritten(RunFiles& files, const std::string& path, const std::string& reason) {
    files.unwrittenFiles[path] = reason;
}

void record_written(RunFiles& files, const std::string& path) { files.unwrittenFiles.erase(path); }

void record_plot(RunFiles& files, const std::string& ps_name, const PlotError* error) {
    for (const std::string& name : {ps_name, svg_file_name(ps_name)}) {
        const PlotFileFailure* failure = nullptr;
        if (error != nullptr)
            for (const PlotFileFailure& f : error->files)
                if (f.name == name) failure = &f;
        if (failure != nullptr)
            record_unwritten(files, name, failure->reason);
        else
            record_written(files, name);
    }
}

bool open_result(RunFiles& files, std::ofstream& out, const std::string& path, const char* gap) {
    if (out.is_open()) out.close();
    out.clear();
    errno = 0;
    out.open(temporary_name(path), std::ios::out | std::ios::trunc | std::ios::binary);
    if (out.is_open()) return true;
    const std::string reason = error_text(errno, "it cannot be created");
    out.setstate(std::ios::failbit);
    tell(*files.messages, "File ", path, gap, "cannot be opened. (", reason, ")\n");
    record_unwritten(files, path, reason);
    return false;
}

bool close_result(RunFiles& files, std::ofstream& out, const std::string& path) {
    if (!out.is_open()) return false;
    // A write that failed earlier left its errno; a full disk usually shows only when the
    // buffer goes out, in the flush or the close.
    int err = out ? 0 : errno;
    if (out) {
        errno = 0;
        out.flush();
        if (!out) err = errno;
    }
    const bool written = static_cast<bool>(out);
    errno = 0;
    out.close();
    if ((written && !out) || err == 0) err = errno;
    std::string reason;
    if (written && out) {
        if (put_in_place(path, reason)) {
            record_written(files, path);
            return true;
        }
    } else {
        reason = error_text(err);
        std::remove(temporary_name(path).c_str());
    }
    tell(*files.messages, "File ", path, " cannot be written. (", reason, ")\n");
    record_unwritten(files, path, reason);
    return false;
}

bool write_result(RunFiles& files, const std::string& path, const std::string& text) {
    std::ofstream out;
    if (!open_result(files, out, path)) return false;
    out << text;
    return close_result(files, out, path);
}

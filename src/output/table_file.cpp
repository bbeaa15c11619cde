#include "output/table_file.h"

#include <charconv>

#include "output/output_file.h"

void open_table(model& md, RunFiles& files, const std::string& path, const char* gap) {
    md.fileName = path;
    files.outFilePath = path;
    files.outFile.precision(15);
    open_result(files, files.outFile, path, gap);
}

bool close_table(RunFiles& files) {
    const bool written = close_result(files, files.outFile, files.outFilePath);
    files.outFile.clear();
    return written;
}

void put_number(std::ostream& out, double v) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general,
                                   static_cast<int>(out.precision()))
                         .ptr;
    out.write(text, end - text);
}

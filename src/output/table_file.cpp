#include "output/table_file.h"

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

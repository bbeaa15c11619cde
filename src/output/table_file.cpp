#include "output/table_file.h"

#include "output/output_file.h"

void open_table(model& md, const std::string& path, const char* gap) {
    md.fileName = path;
    md.outFilePath = path;
    md.outFile.precision(15);
    open_result(md, md.outFile, path, gap);
}

bool close_table(model& md) {
    const bool written = close_result(md, md.outFile, md.outFilePath);
    md.outFile.clear();
    return written;
}

#include "output/table_file.h"

#include <iostream>

void open_table(model& md, const std::string& path, const char* gap) {
    md.fileName = path;
    md.outFile.clear();
    md.outFile.precision(15);
    md.outFile.open(path, std::ios::out | std::ios::trunc);
    if (!md.outFile.is_open()) std::cout << "File " << path << gap << "cannot be opened. \n";
}

void close_table(model& md) {
    if (md.outFile.is_open()) md.outFile.close();
    md.outFile.clear();
}

// What a run keeps about its result files while it writes them: the stream the result
// tables share, the files that could not be written, and the sink of the writers' messages. Held by
// the run beside its record and passed to the writers, so that a problem record holds no open file.
#pragma once

#include <fstream>
#include <map>
#include <string>

#include "base/message_sink.h"
#include "output/run_traces.h"

struct RunFiles {
    RunFiles() { outFile.precision(15); }

    std::ofstream outFile;    // shared stream of the table writers, precision 15
    std::string outFilePath;  // the table outFile writes (under its temporary name)
    // Result files that could not be written, and why (output/output_file.h).
    std::map<std::string, std::string> unwrittenFiles;
    // Where the writers say which file was generated and which could not be written.
    MessageSink* messages = &standard_output();
    // What the figure set and the tables with units are drawn from (output/run_figures.h);
    // filled by the run that writes its files.
    RunTraces traces;
};

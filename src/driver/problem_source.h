// An input as a run reads it, as often as it needs a fresh record (the automatic grid and
// the grid check read the problem once per grid): its text, read once, and the name its
// messages give.
#pragma once

#include <string>

#include "model/model.h"

struct ProblemSource {
    std::string inputName;  // the run's name, without ".cci"
    std::string text;       // the input text, in any of its forms
    std::string fileName;   // the name messages give the text

    // The program's input: the file inputName + ".cci". Throws InputError when it cannot
    // be opened, in the words of the reader.
    static ProblemSource from_file(const std::string& inputName);

    // Reads the text into the fresh record `md`, as an input file is read.
    void load(model& md) const;
};

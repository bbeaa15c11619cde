// Between the library's problems and the program's record: the input text a problem runs
// from, and the library's errors made from the program's faults.
#pragma once

#include <string>
#include <vector>

#include "base/fault.h"
#include "model/model.h"
#include "tavoline/tavoline.h"

namespace tavoline {

// Input text and the name it is read under; for text written from a problem's fields,
// fields[k] names the field of line k (empty for comment lines).
struct ProblemText {
    std::string text;
    std::string fileName;
    std::vector<std::string> fields;
};

// The text a problem runs from: with `fromSource` the text it was read from while it is
// unchanged, otherwise its fields in the current form. A problem of an older form with
// several calibration targets, which the current form cannot hold, is refused.
ProblemText problem_text(const Problem& problem, bool fromSource = true);

// Reads the text into a fresh record, as the program reads an input file.
void read_problem(model& md, const ProblemText& text);

// The library's error for a fault of the program, with its file, line, value and, through
// `fields`, the problem field of its line.
Error input_error(const std::string& message, const std::vector<std::string>* fields);
Error library_error(const Fault& fault, const std::vector<std::string>* fields);

}  // namespace tavoline

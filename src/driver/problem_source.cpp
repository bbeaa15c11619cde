#include "driver/problem_source.h"

#include <fstream>
#include <sstream>

#include "model/errors.h"
#include "model/input_file.h"

ProblemSource ProblemSource::from_file(const std::string& inputName) {
    ProblemSource source;
    source.inputName = inputName;
    source.fileName = inputName + ".cci";
    std::ifstream in(source.fileName, std::ios::binary);
    if (!in)
        throw InputError("File " + source.fileName + " cannot be opened.\nFile " + source.fileName +
                         " is not a correct input file.");
    std::ostringstream text;
    text << in.rdbuf();
    source.text = text.str();
    return source;
}

void ProblemSource::load(model& md) const {
    md.inputName = inputName;
    md.fileName = fileName;
    read_input_text(md, text, fileName);
}

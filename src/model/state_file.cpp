#include "model/state_file.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/message_sink.h"
#include "base/number_text.h"
#include "model/errors.h"
#include "model/text_scanner.h"

namespace {

const char* const kStateFile = "y.vec";

// A y.vec that does not fit the problem: the size message and what was found, one key
// when a person is watching, then the end of the run.
[[noreturn]] void wrong_size(const std::string& detail, MessageSink& sink) {
    // Flushed: the message must be on screen before the wait for a key.
    tell(sink, "Input data error: wrong input vector size\n", detail);
    sink.flush();
    if (isatty(STDIN_FILENO)) {
        char ch;
        std::cin >> ch;
    }
    throw ReportedError("Input data error: wrong input vector size");
}

// What the value at `index` of the state vector is, for messages: a concentration or the
// field, its layer and its node.
std::string describe_unknown(const model& md, int index, bool& concentration) {
    for (int l = md.n; l >= 1; --l) {
        const int start = md.layerStart.at(l);
        if (index < start) continue;
        const int stride = md.N.at(l) + 2;
        const int block = (index - start) / stride;
        const int node = (index - start) % stride;
        concentration = block < md.R;
        const std::string where =
            " at node " + std::to_string(node) + " of layer " + std::to_string(l);
        return concentration ? "the concentration of component " + std::to_string(block + 1) + where
                             : "the field" + where;
    }
    concentration = false;
    return "value " + std::to_string(index + 1);
}

// Why y.vec cannot be read, and that the input asks for it, as the last line of the message.
[[noreturn]] void unreadable(const model& md, const std::string& reason, MessageSink& sink) {
    const auto line = md.inputLines.find("loadYvec");
    std::string where = md.fileName.empty() ? "the input" : md.fileName;
    if (line != md.inputLines.end()) where += ", line " + std::to_string(line->second);
    wrong_size(std::string(kStateFile) + " in the working folder cannot be read (" + reason +
                   "), and " + where + " asks to start from it (`load y.vec` = 1): put the saved " +
                   "state there, or set that value to 0.\n",
               sink);
}

}  // namespace

void read_state_file(model& md, MessageSink& sink) {
    errno = 0;
    std::ifstream in(kStateFile, std::ios::binary);
    if (!in.is_open()) {
        const std::string reason = std::strerror(errno != 0 ? errno : ENOENT);
        tell(sink, "File ", kStateFile, " cannot be opened.\n");
        unreadable(md, reason, sink);
    }
    std::ostringstream text;
    errno = 0;
    // A folder opens like a file but gives no byte (EISDIR).
    if (in.peek() == std::char_traits<char>::eof() && in.bad())
        unreadable(md, std::strerror(errno), sink);
    text << in.rdbuf();
    if (in.bad()) unreadable(md, std::strerror(errno != 0 ? errno : EIO), sink);
    TextScanner scan(text.str(), kStateFile);
    if (text.str().find_first_not_of(" \t\r\n") == std::string::npos)
        wrong_size(std::string(kStateFile) + " is empty; the problem has " +
                       std::to_string(md.nEq) + " unknowns.\n",
                   sink);
    const int count = scan.read_int("the count of state values");
    if (count != md.nEq)
        wrong_size(std::string(kStateFile) + " holds " + std::to_string(count) +
                       " state values; the problem has " + std::to_string(md.nEq) + " unknowns.\n",
                   sink);
    const double time = scan.read_double("the time the state was saved at");
    std::vector<double> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        values[i] = scan.read_double("state value " + std::to_string(i + 1) + " of " +
                                     std::to_string(count));
        bool concentration = false;
        const std::string what = describe_unknown(md, i, concentration);
        if (concentration && values[i] < 0)
            scan.fail(scan.value_line(), "state value " + std::to_string(i + 1) + " (" + what +
                                             ") must not be negative, found " +
                                             number_text(values[i]));
        // The state is held divided by the scales; a value they carry to infinity would
        // start the run from another state (and be written back as "inf").
        const double scale = concentration ? md.cScale : md.eScale;
        if (!std::isfinite(values[i] / scale))
            scan.fail(scan.value_line(),
                      "state value " + std::to_string(i + 1) + " (" + what +
                          ") = " + number_text(values[i]) + " becomes " +
                          number_text(values[i] / scale) + " in the problem's units (" +
                          (concentration ? "cmax = " + number_text(md.cScale) + " mol/m^3"
                                         : "Emax = " + number_text(md.eScale) + " V/m") +
                          "); it is too large to compute with");
    }
    md.savedState = std::move(values);
    md.t0 = time;
}

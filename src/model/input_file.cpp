#include "model/input_file.h"

#include <fstream>
#include <sstream>
#include <string_view>

#include "model/errors.h"
#include "model/input_reader.h"

void read_input_file(model& md) {
    md.F = 96485.3;
    md.Rgas = 8.314;
    md.fileName = md.inputName + ".cci";
    std::ifstream in(md.fileName, std::ios::binary);
    if (!in)
        throw InputError("File " + md.fileName + " cannot be opened.\nFile " + md.fileName +
                         " is not a correct input file.");
    std::ostringstream text;
    text << in.rdbuf();
    read_input_text(md, text.str(), md.fileName);
}

namespace {

// The first line as a message shows it: quoted, control bytes escaped, cut after 40
// characters (a binary file has no line ends to stop it).
std::string first_line_text(const std::string& line, bool emptyFile) {
    if (emptyFile) return "an empty file";
    constexpr size_t kShown = 40;
    return "'" + visible_text(line.substr(0, kShown)) + (line.size() > kShown ? "...'" : "'");
}

}  // namespace

void read_input_text(model& md, const std::string& text, const std::string& fileName) {
    md.F = 96485.3;
    md.Rgas = 8.314;
    // Editors that save UTF-8 may put a byte-order mark before the first line; it is no
    // part of the text.
    const std::string_view bom = "\xEF\xBB\xBF";
    const size_t start = std::string_view(text).substr(0, bom.size()) == bom ? bom.size() : 0;
    // The first line, whole, selects the form. A line end written as CR LF counts as a
    // line end, as it does for text read on the platforms that write it.
    const size_t eol = text.find('\n', start);
    std::string magic = text.substr(start, eol == std::string::npos ? eol : eol - start);
    if (!magic.empty() && magic.back() == '\r') magic.pop_back();
    TextScanner scanner(text.substr(start), fileName);
    scanner.skip_line();
    InputReader reader(md, std::move(scanner));
    if (magic == "#TAVO2")
        reader.read_current_form();
    else if (magic == "#TAVO")
        reader.read_legacy_form();
    else if (magic == "#ML")
        reader.read_oldest_form();
    else
        throw InputError(fileName +
                         ", line 1: expected #TAVO2 (or the older #TAVO or #ML), found " +
                         first_line_text(magic, text.size() == start) + "\nFile " + fileName +
                         " is not a correct input file.");
    reader.check_initial_charge();
    reader.check_dilute_range();
    reader.add_plausibility_notes();
}

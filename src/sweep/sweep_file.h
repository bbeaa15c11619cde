// A parameter sweep: one base input and the values some of its groups take. The sweep file
// NAME.sweep is plain text, one statement per line, `#` starting a comment:
//
//   base b                      the base input b.cci, beside the sweep file
//   combine grid                every combination (default), or `zip`: the i-th values together
//   d[1]      lin 5e-6 2e-5 4   thickness of layer 1: 4 values evenly spaced
//   D[1,1]    log 1e-12 1e-10 3 diffusivity of component 1 in layer 1: 3 values evenly
//                               spaced in log10
//   N[1]      20 40             a list
//
// Indices: [layer] for d, epsilon, N, m; [component,layer] for D, cM, Kas, Kdis;
// [component] for cL, cR; [component,interface] for Kif, Kib (interface 0 is the left
// solution's); [point] for multipliers; none for T, tEnd, currentDensity, atol, rtol.
// Values are in the input file's units and are kept as the input copy writes them (six
// significant digits), so that the manifest shows what actually ran.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"

struct SweepParameter {
    std::string group;        // input group, as the sweep file names it ("D")
    std::vector<int> index;   // its indices, in the order written
    std::string label;        // group and indices as written canonically ("D[1,1]")
    std::vector<double> values;
    bool logSpaced = false;   // given as `log a b k`: plotted against log10 of the value
    int line = 0;             // line of the sweep file
};

struct SweepFile {
    std::string fileName;  // as given, for messages
    std::string baseName;  // base input without ".cci"
    int baseLine = 0;
    bool zip = false;
    std::vector<SweepParameter> parameters;
};

// Largest number of combinations a sweep holds.
constexpr long long kMaxCombinations = 100000;

// Reads a sweep file's text; every fault throws InputError "<file>, line <L>: <what>, found
// '<value>'". Indices are checked against the base input by check_sweep_against.
SweepFile read_sweep_text(const std::string& text, const std::string& fileName);
// Reads the file `path` (InputError when it cannot be opened).
SweepFile read_sweep_file(const std::string& path);

// Number of combinations: the product of the value counts, or their common count for zip.
long long combination_count(const SweepFile& sweep);
// Values of combination `id` (1..combination_count), one per parameter. In the full grid the
// last parameter varies fastest.
std::vector<double> combination_values(const SweepFile& sweep, long long id);

// Refuses (InputError naming the sweep file's line) a parameter whose index the base record
// `base` (as read, before set-up) does not have, complexation constants of a component that
// forms no complex, and a base whose scales or first grid step the current form cannot state.
void check_sweep_against(const SweepFile& sweep, const model& base);

// Current-form text of the base input `baseText` (named `baseFile` in messages) with the
// parameters set to `values`. The text is read back by the input reader before it is
// returned; a combination the reader refuses throws InputError naming the sweep file, the
// combination and the reader's reason.
std::string combination_input_text(const SweepFile& sweep, const std::string& baseText,
                                   const std::string& baseFile, const std::vector<double>& values,
                                   long long id);

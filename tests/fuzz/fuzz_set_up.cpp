// Arbitrary bytes as an input file, taken through the program's whole set-up on small
// grids: reading, run folders, scaling, grid and its file, the two input copies and
// data.html, in an emptied scratch working folder. Both copies must read back with the
// program's own reader; the copy in the current form must give the same problem (the
// legacy form drops complexation and the tolerances, the rest must survive there too), and
// must set up again when the input did. Values are written with six significant digits,
// so real values are compared to a relative 1e-5.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/calibration_loop.h"
#include "fuzz_support.h"
#include "model/input_file.h"

namespace {

// Sizes beyond these make an execution slow without reaching other code: every cell is a
// line of xh.dat and every calibration point a folder.
constexpr long kMaxCells = 600;
constexpr int kMaxPoints = 8;

// Below this magnitude a value has no physical meaning in any unit the input uses.
constexpr double kNegligible = 1e-280;

fuzz::ScratchFolder& scratch() {
    static fuzz::ScratchFolder folder("set-up");
    return folder;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fuzz::finding(path + " was not written");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool small_enough(model& md) {
    if (md.nCalib > kMaxPoints) return false;
    long cells = 0;
    for (int l = 1; l <= md.n; ++l) cells += md.N.at(l);
    return cells <= kMaxCells;
}

// Compares the problem read back from a copy with the input it was written from.
class CopyCheck {
  public:
    CopyCheck(model& input, model& copy, const std::string& copyName, const std::string& text)
        : in_(input), back_(copy), name_(copyName), text_(text) {}

    void same(long a, long b, const std::string& what) {
        if (a != b) fail(what + ": input " + std::to_string(a) + ", copy " + std::to_string(b));
    }
    void close(double a, double b, const std::string& what) {
        if (std::fabs(a - b) <= 1e-5 * std::fmax(std::fabs(a), std::fabs(b))) return;
        // Scaling to and from input units takes a value near the bottom of the double
        // range through subnormals, where few digits remain (4.9e-324 may come back as
        // 0); any two such values are zero to the physics.
        if (std::fmax(std::fabs(a), std::fabs(b)) < kNegligible) return;
        std::ostringstream s;
        s.precision(17);
        s << what << ": input " << a << ", copy " << b;
        fail(s.str());
    }

    // What both forms carry.
    void common() {
        same(in_.n, back_.n, "n");
        same(in_.R, back_.R, "R");
        same(in_.method, back_.method, "method");
        same(in_.changedIon, back_.changedIon, "changedIon");
        same(in_.oppositeIon, back_.oppositeIon, "oppositeIon");
        same(in_.nCalib, back_.nCalib, "nCalib");
        same(in_.targets.at(0), back_.targets.at(0), "first calibration target");
        same(in_.loadYvec, back_.loadYvec, "loadYvec");
        same(in_.genPS, back_.genPS, "genPS");
        close(in_.T, back_.T, "T");
        close(in_.tEnd, back_.tEnd, "tEnd");
        close(in_.currentDensity, back_.currentDensity, "currentDensity");
        for (int i = 1; i <= in_.nCalib; ++i)
            close(in_.multipliers[i], back_.multipliers[i], "multiplier " + std::to_string(i));
        for (int l = 1; l <= in_.n; ++l) {
            in_.layer = back_.layer = l;
            const std::string at = " of layer " + std::to_string(l);
            same(in_.N.get(), back_.N.get(), "N" + at);
            same(in_.m.get(), back_.m.get(), "m" + at);
            same(in_.grid_type.get(), back_.grid_type.get(), "grid_type" + at);
            close(in_.d.get(), back_.d.get(), "d" + at);
            close(in_.epsilon.get(), back_.epsilon.get(), "epsilon" + at);
        }
        for (int c = 1; c <= in_.R; ++c) {
            const std::string of = " of component " + std::to_string(c);
            same(in_.z[c], back_.z[c], "z" + of);
            close(in_.cL[c], back_.cL[c], "cL" + of);
            close(in_.cR[c], back_.cR[c], "cR" + of);
            for (int s = 0; s <= in_.n; ++s) {
                const std::string at = of + " at interface " + std::to_string(s);
                close(in_.Kif[s][c], back_.Kif[s][c], "Kif" + at);
                close(in_.Kib[s][c], back_.Kib[s][c], "Kib" + at);
            }
            for (int l = 1; l <= in_.n; ++l) {
                in_.layer = back_.layer = l;
                const std::string at = of + " in layer " + std::to_string(l);
                close(in_.D.item(c), back_.D.item(c), "D" + at);
                close(in_.cM.item(c), back_.cM.item(c), "cM" + at);
            }
        }
        in_.layer = back_.layer = 1;
    }

    // What only the current form carries.
    void current_only() {
        same(in_.modelType, back_.modelType, "modelType");
        close(in_.atol, back_.atol, "atol");
        close(in_.rtol, back_.rtol, "rtol");
        for (int l = 1; l <= in_.n; ++l) {
            in_.layer = back_.layer = l;
            close(in_.complexing.get(), back_.complexing.get(),
                  "complexing of layer " + std::to_string(l));
        }
        in_.layer = back_.layer = 1;
        for (int c = 1; c <= in_.R; ++c) {
            const std::string of = " of component " + std::to_string(c);
            same(in_.ligand[c], back_.ligand[c], "ligand" + of);
            if (in_.ligand[c] <= 0) continue;
            same(in_.complexOf[c], back_.complexOf[c], "complexOf" + of);
            for (int l = 1; l <= in_.n; ++l) {
                const std::string at = of + " in layer " + std::to_string(l);
                close(in_.Kas[l][c], back_.Kas[l][c], "Kas" + at);
                close(in_.Kdis[l][c], back_.Kdis[l][c], "Kdis" + at);
            }
        }
    }

    // The legacy form carries every calibration target.
    void all_targets() {
        same(in_.nTargets, back_.nTargets, "nTargets");
        for (int k = 0; k < in_.nTargets; ++k)
            same(in_.targets[k], back_.targets[k], "calibration target " + std::to_string(k + 1));
    }

    [[noreturn]] void fail(const std::string& what) {
        fuzz::finding("the copy " + name_ + " reads back as another problem, " + what +
                      "\n--- copy:\n" + text_);
    }

  private:
    model& in_;
    model& back_;
    std::string name_;
    const std::string& text_;
};

// Reads a copy with the program's reader; a refusal is a finding.
void read_copy(model& back, const std::string& path, const std::string& text) {
    try {
        read_input_text(back, text, path);
    } catch (const InputError& e) {
        fuzz::finding("the program's reader refuses its own copy: " + std::string(e.what()) +
                      "\n--- copy:\n" + text);
    }
    fuzz::check_record(back, path);
}

// Reads the copy at `path` back and compares it with the input: what both forms carry,
// then what this form alone carries. Returns the copy's text.
std::string check_copy(model& input, const std::string& path, void (CopyCheck::*formOnly)()) {
    const std::string text = read_text(path);
    model back;
    read_copy(back, path, text);
    CopyCheck check(input, back, path, text);
    check.common();
    (check.*formOnly)();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_process();
    scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    model input;
    if (!fuzz::completes([&] { read_input_text(input, text, "fz.cci"); })) return 0;
    if (!small_enough(input)) return -1;
    scratch().run([&] {
        model md;
        RunFiles files;
        md.inputName = "fz";
        md.fileName = "fz.cci";
        read_input_text(md, text, md.fileName);
        RunSeries series;
        if (!fuzz::completes([&] { set_up(md, files, series, SolverPath::banded); })) return;

        const std::string currentText =
            check_copy(input, md.folders[0] + "/fz.cci", &CopyCheck::current_only);
        check_copy(input, md.folders[0] + "/fz_TAVO1.cci", &CopyCheck::all_targets);

        // The copy holds the scales in use as manual scales and the first grid step in
        // use, so it sets up as the input did.
        model again;
        again.inputName = "again";
        again.fileName = "again.cci";
        read_input_text(again, currentText, again.fileName);
        RunSeries againSeries;
        RunFiles againFiles;
        try {
            set_up(again, againFiles, againSeries, SolverPath::banded);
        } catch (const std::exception& e) {
            fuzz::finding("the copy does not set up: " + std::string(e.what()) + "\n--- copy:\n" +
                          currentText);
        }
        if (again.nEq != md.nEq)
            fuzz::finding("the copy sets up " + std::to_string(again.nEq) +
                          " unknowns, the input " + std::to_string(md.nEq));
    });
    return 0;
}

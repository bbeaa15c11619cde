// Shared by the fuzz targets: silenced standard output, a scratch working folder, the line
// between the faults the program reports for a bad input and everything else, and the
// checks every record that the reader accepts must pass, since later code trusts them.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <system_error>

#include "model/errors.h"
#include "model/model.h"
#include "numeric/integrator.h"
#include "output/psplot/psplot.h"

namespace fuzz {

// Drops everything written to it.
class NullBuffer : public std::streambuf {
  protected:
    int overflow(int ch) override { return traits_type::not_eof(ch); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// The program's messages on standard output would bury libFuzzer's report, and a y.vec of
// the wrong size waits for a key when standard input is a terminal.
inline void quiet_process() {
    static NullBuffer sink;
    std::cout.rdbuf(&sink);
    if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
}

// Stops the fuzzer with `what`: libFuzzer keeps the input that led here.
[[noreturn]] inline void finding(const std::string& what) {
    std::fprintf(stderr, "\nFINDING: %s\n", what.c_str());
    std::abort();
}

// Runs `step`. The faults by which the program refuses an input, a y.vec or an integrator
// setting, or reports a plot it cannot write, are normal outcomes (false); any other
// exception, std::bad_alloc included, is a finding.
template <class Step>
bool completes(Step step) {
    try {
        step();
        return true;
    } catch (const InputError&) {
    } catch (const ReportedError&) {
    } catch (const IntegratorError&) {
    } catch (const PlotError&) {
    } catch (const std::exception& e) {
        finding(std::string("unexpected exception: ") + e.what());
    }
    return false;
}

// A working folder of this process under the temporary folder, removed at exit. `run`
// empties it, makes it the working folder for `step` and then restores the previous one.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& label)
        : path_(std::filesystem::temp_directory_path() /
                ("tavoline-fuzz-" + label + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    template <class Step>
    void run(Step step) {
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            std::filesystem::remove_all(entry.path());
        const std::filesystem::path back = std::filesystem::current_path();
        std::filesystem::current_path(path_);
        struct Restore {
            const std::filesystem::path& to;
            ~Restore() { std::filesystem::current_path(to); }
        } restore{back};
        step();
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// What the set-up, the right-hand side and the output code take for granted in a record
// the reader accepted: counts within the fixed arrays, calibration ions and targets that
// exist, a charged opposite ion, complexation partners that exist, every number finite.
inline void check_record(model& md, const std::string& form) {
    const auto need = [&](bool ok, const std::string& what) {
        if (!ok) finding(form + " record accepted with " + what);
    };
    need(md.n >= 1 && md.n <= kMaxLayers, "n = " + std::to_string(md.n));
    need(md.R >= 1 && md.R <= kMaxComponents, "R = " + std::to_string(md.R));
    need(md.nCalib >= 1 && md.multipliers.size() == static_cast<size_t>(md.nCalib) + 1,
         "nCalib = " + std::to_string(md.nCalib) + " and " + std::to_string(md.multipliers.size()) +
             " multipliers");
    for (const double mult : md.multipliers)
        need(std::isfinite(mult) && mult > 0, "a multiplier " + std::to_string(mult));
    need(md.nTargets >= 1 && md.targets.size() == static_cast<size_t>(md.nTargets),
         "nTargets = " + std::to_string(md.nTargets));
    for (const int t : md.targets) need(t >= 0 && t <= md.n + 1, "target " + std::to_string(t));
    need(md.changedIon >= 1 && md.changedIon <= md.R,
         "changedIon " + std::to_string(md.changedIon));
    need(md.oppositeIon >= 1 && md.oppositeIon <= md.R,
         "oppositeIon " + std::to_string(md.oppositeIon));
    need(md.z[md.oppositeIon] != 0, "an uncharged opposite ion");
    need(md.method >= 0 && md.method <= 2, "method " + std::to_string(md.method));
    need(md.modelType == 0 || md.modelType == 1, "modelType " + std::to_string(md.modelType));
    need(std::isfinite(md.T) && md.T > 0, "T " + std::to_string(md.T));
    need(std::isfinite(md.tEnd) && md.tEnd > 0, "tEnd " + std::to_string(md.tEnd));
    need(md.atol > 0 && md.rtol > 0, "a tolerance not above 0");
    for (int c = 1; c <= md.R; ++c) {
        need(md.ligand[c] <= md.R, "ligand " + std::to_string(md.ligand[c]));
        if (md.ligand[c] > 0)
            need(md.complexOf[c] >= 1 && md.complexOf[c] <= md.R,
                 "complexOf " + std::to_string(md.complexOf[c]));
        need(std::isfinite(md.cL[c]) && md.cL[c] >= 0, "cL " + std::to_string(md.cL[c]));
        need(std::isfinite(md.cR[c]) && md.cR[c] >= 0, "cR " + std::to_string(md.cR[c]));
    }
    for (md.layer = 1; md.layer <= md.n; ++md.layer) {
        const std::string l = " in layer " + std::to_string(md.layer);
        need(md.N.get() >= 2, "N " + std::to_string(md.N.get()) + l);
        need(md.grid_type.get() >= 0 && md.grid_type.get() <= 3, "a grid type" + l);
        need(md.m.get() >= 0, "m " + std::to_string(md.m.get()) + l);
        need(std::isfinite(md.d.get()) && md.d.get() > 0, "thickness" + l);
        need(std::isfinite(md.epsilon.get()) && md.epsilon.get() > 0, "permittivity" + l);
        for (int c = 1; c <= md.R; ++c) {
            need(std::isfinite(md.D.item(c)) && md.D.item(c) >= 0, "a diffusivity" + l);
            need(std::isfinite(md.cM.item(c)) && md.cM.item(c) >= 0, "a concentration" + l);
        }
    }
    md.layer = 1;
}

}  // namespace fuzz

// Arbitrary bytes as y.vec, the saved state a run starts from when its input says
// `loadYvec` 1. Every execution runs, in an emptied scratch working folder, the set-up of
// one fixed two-layer problem (nEq = 34) and the initial state of its first calibration
// point, which reads y.vec from the working folder. A refused file must end with the
// program's own faults; an accepted one must give a finite state and start time.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "driver/calibration_loop.h"
#include "fuzz_support.h"
#include "model/input_file.h"
#include "physics/initial_state.h"

namespace {

// Two layers of four uniform cells, two ions; the calibration targets layer 1, so that
// layer is reset to uniform after the saved state is applied. The manual scales below 1
// (cmax = emax = 0.001) let large saved values overflow when scaled.
const char* const kProblem =
    "#TAVO2\n"
    "-- model\n0\n"
    "-- method and current density\n0 0\n"
    "-- n\n2\n"
    "-- d\n1e-05 5e-06\n"
    "-- epsilon\n1e-10 1e-10\n"
    "-- complexing\n0 0\n"
    "-- T\n298.15\n"
    "-- tEnd\n0.01\n"
    "-- R\n2\n"
    "-- calibration\n1 1 2 2\n"
    "-- multipliers\n1 10\n"
    "----\n"
    "---- Component 1\n"
    "Diffusivity [layers]     : 1e-11 2e-11\n"
    "Ion charge               : 1\n"
    "Concentrations [layers+2]: 0.1 50 10 1\n"
    "Kif [layers+1]           : 0.001 0.001 0.001\n"
    "Kib [layers+1]           : 0.001 0.001 0.001\n"
    "reactive with ligand     : 0\n"
    "---- Component 2\n"
    "Diffusivity [layers]     : 1e-11 2e-11\n"
    "Ion charge               : -1\n"
    "Concentrations [layers+2]: 0.1 50 10 1\n"
    "Kif [layers+1]           : 0.001 0.001 0.001\n"
    "Kib [layers+1]           : 0.001 0.001 0.001\n"
    "reactive with ligand     : 0\n"
    "----\n"
    "-- tolerances\n1e-10 0.0001\n"
    "-- xs, ts, cmax, emax, h_min\n1e-09 1 0.001 0.001 0\n"
    "-- grid_type\n3 3\n"
    "-- N\n4 4\n"
    "-- m\n0 0\n"
    "-- loadYvec\n1\n"
    "-- genPS\n0\n";

fuzz::ScratchFolder& scratch() {
    static fuzz::ScratchFolder folder("state-file");
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_process();
    scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scratch().run([&] {
        {
            std::ofstream out("y.vec", std::ios::binary);
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        }
        model md;
        RunFiles files;
        md.inputName = "state";
        md.fileName = "state.cci";
        read_input_text(md, kProblem, md.fileName);
        RunSeries series;
        md.point = 1;
        if (!fuzz::completes([&] {
                set_up(md, files, series, SolverPath::banded);
                set_initial_state(md);
            }))
            return;
        if (md.y.size() != static_cast<std::size_t>(md.nEq))
            fuzz::finding("state of " + std::to_string(md.y.size()) + " values for nEq " +
                          std::to_string(md.nEq));
        for (std::size_t i = 0; i < md.y.size(); ++i)
            if (!std::isfinite(md.y[i]))
                fuzz::finding("y.vec accepted, but scaled state value " + std::to_string(i + 1) +
                              " is " + std::to_string(md.y[i]));
        if (!std::isfinite(md.t0))
            fuzz::finding("y.vec accepted with a start time that is not finite");
    });
    return 0;
}

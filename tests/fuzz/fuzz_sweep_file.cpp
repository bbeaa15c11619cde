// Arbitrary bytes read as a sweep file over one fixed base input. A refused file must raise
// InputError; an accepted one is checked against the base, and its first and last
// combinations are generated, each of which must come back through the input reader with
// the varied values in place or be refused with InputError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model/input_file.h"
#include "sweep/sweep_file.h"

namespace {

// One layer, three ions, one complexing component, so that every group a sweep can name
// has something to point at.
const char* const kBase =
    "#TAVO2\n"
    "-- model\n0\n"
    "-- method and current density\n0 0\n"
    "-- n\n1\n"
    "-- d\n1e-05\n"
    "-- epsilon\n1e-10\n"
    "-- complexing\n2\n"
    "-- T\n298.15\n"
    "-- tEnd\n1\n"
    "-- R\n3\n"
    "-- calibration\n0 1 2 2\n"
    "-- multipliers\n1 10\n"
    "----\n"
    "---- Component 1\n"
    "Diffusivity [layers]     : 1e-11\n"
    "Ion charge               : 1\n"
    "Concentrations [layers+2]: 0.1 1 1\n"
    "Kif [layers+1]           : 0.001 0.001\n"
    "Kib [layers+1]           : 0.001 0.001\n"
    "reactive with ligand     : 3\n"
    "forms complex            : 3\n"
    "Kas [layers]             : 1\n"
    "Kdis [layers]            : 1\n"
    "---- Component 2\n"
    "Diffusivity [layers]     : 1e-11\n"
    "Ion charge               : -1\n"
    "Concentrations [layers+2]: 0.1 1 1\n"
    "Kif [layers+1]           : 0.001 0.001\n"
    "Kib [layers+1]           : 0.001 0.001\n"
    "reactive with ligand     : 0\n"
    "---- Component 3\n"
    "Diffusivity [layers]     : 1e-12\n"
    "Ion charge               : 1\n"
    "Concentrations [layers+2]: 0 0 0\n"
    "Kif [layers+1]           : 0 0\n"
    "Kib [layers+1]           : 0 0\n"
    "reactive with ligand     : 0\n"
    "----\n"
    "-- tolerances\n1e-10 0.0001\n"
    "-- xs, ts, cmax, emax, h_min\n0 0 0 0 0\n"
    "-- grid_type\n3\n"
    "-- N\n8\n"
    "-- m\n0\n"
    "-- loadYvec\n0\n"
    "-- genPS\n0\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_process();
    model base;
    if (!fuzz::completes([&] { read_input_text(base, kBase, "base.cci"); }))
        fuzz::finding("the base input of the sweep target is refused");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SweepFile sweep;
    if (!fuzz::completes([&] { sweep = read_sweep_text(text, "fuzz.sweep"); })) return 0;
    model base;
    read_input_text(base, kBase, "base.cci");
    if (!fuzz::completes([&] { check_sweep_against(sweep, base); })) return 0;
    const long long count = combination_count(sweep);
    if (count < 1 || count > kMaxCombinations)
        fuzz::finding("an accepted sweep has " + std::to_string(count) + " combinations");
    for (const long long id : {1LL, count}) {
        const std::vector<double> values = combination_values(sweep, id);
        if (values.size() != sweep.parameters.size())
            fuzz::finding("a combination has a value count other than its parameters'");
        std::string input;
        if (!fuzz::completes(
                [&] { input = combination_input_text(sweep, kBase, "base.cci", values, id); }))
            continue;
        model back;
        if (!fuzz::completes([&] { read_input_text(back, input, "combination.cci"); }))
            fuzz::finding("a generated input that passed its own read-back is refused");
    }
    return 0;
}

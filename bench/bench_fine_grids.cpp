// Fine grids on the banded path, and what one step costs there against the dense path.
//
// Two Nernst-Planck-Poisson membranes: one layer with two ions (a salt, half-bandwidth
// 3 (R + 1) = 9) and three layers with four ions (primary and interfering cation, anion,
// immobile site; half-bandwidth 15), each at about 800, 1600, 6000, 20000, 10^5 and 10^6
// unknowns. For every size a whole potentiometric calibration runs on the banded path (five
// points; one point from 10^5 unknowns on) in a child process of its own, which reports its
// CPU time, the counters summed over its integrations, and its peak resident memory. Up to
// 6000 unknowns a second child forms, on the first point's initial state, the finite-
// difference Jacobian and the real + complex decomposition pair on both paths and reports
// their CPU times and the ratio of the per-step cost (Jacobian + pair), dense over banded.
//
// With --automatic, every case up to 6000 unknowns also runs on the automatic grid, refined
// from the case's N until its results agree (its row: the grid finally run, and the CPU
// time of the whole refinement).
//
// With --threads, instead: whole banded runs at about 6000, 20000 and 10^5 unknowns, each
// once with one thread and once with two per integration (in one child process, one after
// the other), with wall and CPU time per step and their ratios, two threads over one; the
// counters and the final potentials of the two runs must be the same bit for bit. A second
// row times the Newton linear algebra of a step alone (decomposition pair, three solves).
//
// With --impedance, instead: the three-layer membrane as an impedance run (0.01 A/m²) at
// about 800, 1600, 6000 and 20000 unknowns. On the end state of the first point's
// potentiometric run, the CPU time of the linear-response spectrum at the 2777 frequencies
// (blocks; the band LU at every frequency; the dense path up to 2000 unknowns) and of the
// step method's current-step run and transform from the same state, with their ratio.
//
// With --storage, instead: whole banded runs from about 800 to 10^6 unknowns with the Newton
// matrices held as a band (one thread) and in blocks (one and two threads), each in a
// child process of its own: CPU and wall milliseconds per step, the ratios band / blocks,
// the peak resident memory per unknown, and the largest difference of the final
// potentials from the band's. A second row times the Newton linear algebra of a step
// alone (decomposition pair and three stage solves) on the first point's initial state.
//
// Usage: bench_fine_grids [--largest N] [--only 1|3] [--automatic] [--threads] [--impedance]
//        [--storage]
//        (N: skip sizes above N unknowns)
// Files go to a fresh folder under the system's temporary folder, removed at the end.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "experiments/impedance.h"
#include "experiments/linear_impedance.h"
#include "model/input_file.h"
#include "numeric/stiff_integrator_access.h"
#include "physics/initial_state.h"
#include "whole_run.h"

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Case {
    int layers;
    int N;  // cells per layer
};

struct Component {
    double D;         // diffusivity [m^2/s], every layer
    int z;            // charge
    double left;      // left solution [mol/m^3]
    double layer;     // every layer
    double right;     // right solution
    double transfer;  // Kif = Kib at every interface [m/s]
};

// The input of a case: uniform grids above 10^4 cells per layer (refined ones would not
// fit the layer), five calibration points of ten seconds each below 10^5 unknowns.
std::string input_text(const Case& c, int points, bool impedance = false) {
    const std::vector<Component> ions =
        c.layers == 1
            ? std::vector<Component>{{1e-11, 1, 0.01, 50, 1, 1e-3}, {1e-11, -1, 0.01, 50, 1, 1e-3}}
            : std::vector<Component>{{1e-11, 1, 0.01, 40, 1, 1e-3},
                                     {1e-11, -1, 0.02, 0, 1.1, 1e-3},
                                     {5e-12, 1, 0.01, 10, 0.1, 1e-3},
                                     {1e-13, -1, 0, 50, 0, 0}};
    const int n = c.layers;
    auto per_layer = [n](const std::string& v) {
        std::string s;
        for (int l = 0; l < n; ++l) s += (l ? " " : "") + v;
        return s;
    };
    std::ostringstream in;
    in << "#TAVO2\n-- model\n0\n-- method, current density\n"
       << (impedance ? "1 0.01" : "0 0") << "\n-- n\n"
       << n << "\n-- d\n"
       << per_layer("1e-05") << "\n-- epsilon\n"
       << per_layer("1e-10") << "\n-- complexing\n"
       << per_layer("0") << "\n-- T\n298.15\n-- tEnd\n10\n-- R\n"
       << ions.size() << "\n-- calibration\n0 1 2 " << points << "\n-- multipliers\n";
    const char* multipliers[] = {"1", "10", "100", "1000", "10000"};
    for (int i = 0; i < points; ++i) in << (i ? " " : "") << multipliers[i];
    in << "\n---- components\n";
    for (std::size_t k = 0; k < ions.size(); ++k) {
        const Component& ion = ions[k];
        in << "---- Component " << k + 1
           << "\nDiffusivity [layers]     : " << per_layer(number_text(ion.D))
           << "\nIon charge : " << ion.z << "\nConcentrations [layers+2]: " << ion.left << " "
           << per_layer(number_text(ion.layer)) << " " << ion.right
           << "\nKif [layers+1]           : " << per_layer(number_text(ion.transfer)) << " "
           << ion.transfer
           << "\nKib [layers+1]           : " << per_layer(number_text(ion.transfer)) << " "
           << ion.transfer << "\nreactive with ligand     : 0\n";
    }
    const bool uniform = c.N > 10000;
    in << "----\n-- tolerances\n1e-10 0.0001\n-- scales\n0 0 0 0 0\n-- grid_type\n"
       << per_layer(uniform ? "3" : "0") << "\n-- N\n"
       << per_layer(std::to_string(c.N)) << "\n-- m\n"
       << per_layer("4") << "\n-- load y.vec\n0\n-- PostScript\n0\n";
    return in.str();
}

// Runs `work` in a child process and waits for it; the child's output is its report.
template <class Work>
void in_child(Work work) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            work();
        } catch (const std::exception& e) {
            std::printf("  %s\n", e.what());
            std::fflush(stdout);
            _exit(1);
        }
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  (child failed)\n");
}

void whole_run(const std::string& name, bool automatic = false) {
    const double start = cpu_seconds();
    const WholeRun run = run_whole(name, SolverPath::banded, automatic);
    const double cpu = cpu_seconds() - start;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%8d %3d/%-3d %6.2f %6d %6d %6d %6d %9lld %8.2f %8.0f %s\n", run.nEq,
                run.band.lower, run.band.upper, cpu, run.total.steps, run.total.rejected,
                run.total.jacobians, run.total.complex_decompositions, run.total.all_rhs_calls(),
                1e3 * cpu / run.total.steps, static_cast<double>(usage.ru_maxrss) / 1024.0,
                run.code > 0 ? (automatic ? "automatic grid" : "") : "FAILED");
}

// CPU seconds of a Jacobian and of a decomposition pair on one path, `repeats` times each.
struct StepWork {
    double jacobian = 0;
    double pair = 0;
};

StepWork time_step_work(model& md, RunSeries& series, SolverPath path, int repeats) {
    std::vector<int> order;
    std::vector<double> state = md.y;
    Bandwidths band{md.nEq, md.nEq};
    if (path == SolverPath::banded) {
        order = point_order(md);
        band = point_order_bandwidths(md);
        for (std::size_t p = 0; p < order.size(); ++p) state[p] = md.y[order[p]];
    }
    const RunOptions options;
    MembraneSystem system(md, series, order, options);
    const auto integrator = make_run_integrator(md, system, state.data(), band);
    StiffIntegratorT& s = *integrator;
    system.rhs(md.tBegin, state.data(), StiffIntegratorAccess::vec(s, 6).data());  // f at x
    StepWork w;
    double start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) StiffIntegratorAccess::compute_jacobian(s);
    w.jacobian = (cpu_seconds() - start) / repeats;
    // iteration matrices of a step of about 1e-3 (scaled)
    StiffIntegratorAccess::set_shifts(s, 1e3, 1e3, 1e3);
    start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) {
        StiffIntegratorAccess::decompose_real(s);
        StiffIntegratorAccess::decompose_complex(s);
    }
    w.pair = (cpu_seconds() - start) / repeats;
    return w;
}

// The input `name`.cci set up for `path` (its files written, its messages kept quiet) and
// at the initial state of its first calibration point.
void first_point(const std::string& name, SolverPath path, model& md, RunFiles& files,
                 RunSeries& series) {
    NullSink quiet;
    files.messages = &quiet;
    md.inputName = name;
    read_input_file(md);
    set_up(md, files, series, path);
    md.point = 1;
    set_initial_state(md);
    files.messages = &standard_output();
}

void step_costs(const std::string& name) {
    model md;
    RunFiles files;
    RunSeries series;
    first_point(name, SolverPath::dense, md, files, series);
    const StepWork banded = time_step_work(md, series, SolverPath::banded, 200);
    const int repeats = md.nEq >= 6000 ? 1 : md.nEq >= 1600 ? 2 : 5;
    const StepWork dense = time_step_work(md, series, SolverPath::dense, repeats);
    std::printf("%8d  jacobian %9.3e / %9.3e s  pair %9.3e / %9.3e s  per step dense/banded %.0f\n",
                md.nEq, dense.jacobian, banded.jacobian, dense.pair, banded.pair,
                (dense.jacobian + dense.pair) / (banded.jacobian + banded.pair));
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One whole run with one thread and one with two: per step wall and CPU milliseconds and
// the ratios two threads / one.
void thread_comparison(const std::string& name) {
    struct Timed {
        WholeRun run;
        double wall = 0;
        double cpu = 0;
    };
    auto timed = [&](int threads) {
        Timed t;
        const double wall = wall_seconds();
        const double cpu = cpu_seconds();
        t.run = run_whole(name, SolverPath::banded, false, threads);
        t.cpu = cpu_seconds() - cpu;
        t.wall = wall_seconds() - wall;
        return t;
    };
    const Timed one = timed(1);
    const Timed two = timed(2);
    const IntegratorStatistics& a = one.run.total;
    const IntegratorStatistics& b = two.run.total;
    const bool same = a.steps == b.steps && a.rejected == b.rejected &&
                      a.jacobians == b.jacobians &&
                      a.complex_decompositions == b.complex_decompositions &&
                      a.all_rhs_calls() == b.all_rhs_calls() &&
                      one.run.potentials.size() == two.run.potentials.size() &&
                      std::memcmp(one.run.potentials.data(), two.run.potentials.data(),
                                  sizeof(double) * one.run.potentials.size()) == 0;
    const double steps = a.steps;
    std::printf("%8d %3d/%-3d %6d %9.3f %9.3f %9.3f %9.3f %6.3f %6.3f %s\n", one.run.nEq,
                one.run.band.lower, one.run.band.upper, a.steps, 1e3 * one.wall / steps,
                1e3 * two.wall / steps, 1e3 * one.cpu / steps, 1e3 * two.cpu / steps,
                two.wall / one.wall, two.cpu / one.cpu,
                !same              ? "RESULTS DIFFER"
                : one.run.code > 0 ? "same results"
                                   : "FAILED");
}

// CPU and wall milliseconds of the Newton linear algebra of a step (decomposition pair and
// three stage solves), `repeats` times, on the state of md (its first point set up), with
// `threads` threads and the Newton matrices in blocks or as the band.
struct AlgebraTime {
    double cpu = 0;
    double wall = 0;
};

AlgebraTime time_newton_algebra(model& md, RunSeries& series, int threads, bool blocks,
                                int repeats) {
    const std::vector<int> order = point_order(md);
    const Bandwidths band = point_order_bandwidths(md);
    std::vector<double> state(order.size());
    for (std::size_t p = 0; p < order.size(); ++p) state[p] = md.y[order[p]];
    const RunOptions options;
    MembraneSystem system(md, series, order, options);
    const auto integrator =
        make_run_integrator(md, system, state.data(), band, standard_output(), threads,
                            blocks ? point_order_blocks(md) : std::vector<int>{});
    StiffIntegratorT& s = *integrator;
    using Access = StiffIntegratorAccess;
    system.rhs(md.tBegin, state.data(), Access::vec(s, 6).data());  // f at x
    Access::compute_jacobian(s);
    Access::set_shifts(s, 1e3, 1e3, 1e3);  // a step of about 1e-3 (scaled)
    for (int k = 3; k < 6; ++k) Access::vec(s, k) = Access::vec(s, 6);
    const double w = wall_seconds();
    const double c = cpu_seconds();
    for (int r = 0; r < repeats; ++r) {
        Access::decompose_pair(s);
        for (int iteration = 0; iteration < 3; ++iteration) {
            for (int k = 0; k < 3; ++k)
                std::fill(Access::vec(s, k).begin(), Access::vec(s, k).end(), 0.0);
            Access::solve_stages(s);
        }
    }
    return {1e3 * (cpu_seconds() - c) / repeats, 1e3 * (wall_seconds() - w) / repeats};
}

// The Newton linear algebra of one step alone, on the first point's initial state: the
// decomposition pair and three stage solves (the iterations of a typical step), `repeats`
// times, with one and with two threads: wall and CPU milliseconds per repetition.
void newton_algebra(const std::string& name) {
    model md;
    RunFiles files;
    RunSeries series;
    first_point(name, SolverPath::banded, md, files, series);
    const int repeats = md.nEq >= 50000 ? 10 : 40;
    double wall[3] = {0, 0, 0};
    double cpu[3] = {0, 0, 0};
    for (int threads = 1; threads <= 2; ++threads) {
        const AlgebraTime t = time_newton_algebra(md, series, threads, false, repeats);
        cpu[threads] = t.cpu;
        wall[threads] = t.wall;
    }
    std::printf("%8d %7s %6s %9.3f %9.3f %9.3f %9.3f %6.3f %6.3f pair + 3 solves\n", md.nEq, "", "",
                wall[1], wall[2], cpu[1], cpu[2], wall[2] / wall[1], cpu[2] / cpu[1]);
}

// A whole run in this process: per step wall and CPU milliseconds, peak resident kB per
// unknown, steps and final potentials, written to `out` (one line) for the parent.
void storage_run(const std::string& name, bool blocks, int threads, const std::string& out) {
    const double wall = wall_seconds();
    const double cpu = cpu_seconds();
    const WholeRun run = run_whole(name, SolverPath::banded, false, threads, blocks);
    const double c = cpu_seconds() - cpu;
    const double w = wall_seconds() - wall;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::ofstream file(out);
    file.precision(17);
    file << run.nEq << ' ' << run.total.steps << ' ' << 1e3 * w / run.total.steps << ' '
         << 1e3 * c / run.total.steps << ' '
         << static_cast<double>(usage.ru_maxrss) / run.nEq << ' ' << run.total.jacobians << ' '
         << (run.code > 0 ? 1 : 0);
    for (double p : run.potentials) file << ' ' << p;
    file << '\n';
}

struct StorageRow {
    int nEq = 0, steps = 0, jacobians = 0, ok = 0;
    double wall = 0, cpu = 0, kbPerUnknown = 0;
    std::vector<double> potentials;
};

StorageRow read_storage_row(const std::string& path) {
    StorageRow r;
    std::ifstream in(path);
    in >> r.nEq >> r.steps >> r.wall >> r.cpu >> r.kbPerUnknown >> r.jacobians >> r.ok;
    for (double p = 0; in >> p;) r.potentials.push_back(p);
    return r;
}

// The Newton linear algebra of a step (pair + 3 solves) on the first point's initial
// state: band and blocks on one thread (CPU), blocks on two (wall), milliseconds per repetition.
void storage_algebra(const std::string& name) {
    model md;
    RunFiles files;
    RunSeries series;
    first_point(name, SolverPath::banded, md, files, series);
    const int repeats = md.nEq >= 500000 ? 2 : md.nEq >= 50000 ? 10 : 40;
    // band on one thread, blocks on one, blocks on two
    double cpu[3] = {0, 0, 0};
    double wall[3] = {0, 0, 0};
    for (int way = 0; way < 3; ++way) {
        const AlgebraTime t = time_newton_algebra(md, series, way == 2 ? 2 : 1, way > 0, repeats);
        cpu[way] = t.cpu;
        wall[way] = t.wall;
    }
    std::printf("%8d  Newton algebra of a step, ms: band CPU %8.3f, blocks CPU %8.3f (ratio %5.2f),"
                " blocks 2 threads wall %8.3f (ratio to band %5.2f)\n",
                md.nEq, cpu[0], cpu[1], cpu[0] / cpu[1], wall[2], wall[0] / wall[2]);
}

void storage_comparison(const std::string& name) {
    const std::string out = name + ".row";
    in_child([&] { storage_run(name, false, 1, out); });
    const StorageRow band = read_storage_row(out);
    in_child([&] { storage_run(name, true, 1, out); });
    const StorageRow one = read_storage_row(out);
    in_child([&] { storage_run(name, true, 2, out); });
    const StorageRow two = read_storage_row(out);
    double difference = 0;
    for (std::size_t k = 0; k < band.potentials.size() && k < one.potentials.size(); ++k)
        difference = std::max(difference, std::fabs(band.potentials[k] - one.potentials[k]));
    const bool ok = band.ok && one.ok && two.ok && band.potentials.size() == one.potentials.size();
    std::printf("%8d %5d %5d %4d %4d %9.3f %9.3f %9.3f %9.3f %6.2f %6.2f %6.2f %6.2f %6.3f %8.1e %s\n",
                band.nEq, band.steps, one.steps, band.jacobians, one.jacobians, band.cpu, one.cpu,
                band.wall, two.wall, band.cpu / one.cpu, band.wall / two.wall,
                band.kbPerUnknown, one.kbPerUnknown, two.kbPerUnknown, difference,
                ok ? "" : "FAILED");
}

// The linear spectrum against the step method on the first point's end state.
void impedance_costs(const std::string& name) {
    model md;
    RunFiles files;
    RunSeries series;
    first_point(name, SolverPath::banded, md, files, series);
    RunOptions options;
    options.quiet = true;
    options.announce = false;
    NullSink quiet;
    options.sink = &quiet;
    run_integration(md, series, options);  // the operating point
    const std::vector<double> operatingPoint = md.y;
    auto timed = [&](auto work) {
        const double start = cpu_seconds();
        work();
        return cpu_seconds() - start;
    };
    LinearSpectrum blocks, band, dense;
    const double tBlocks = timed([&] { blocks = linear_spectrum(md, SolverPath::banded, 0.1); });
    const double tBand = timed([&] { band = linear_spectrum(md, SolverPath::banded, 0.1, false); });
    double tDense = 0;
    if (md.nEq <= 2000)
        tDense = timed([&] { dense = linear_spectrum(md, SolverPath::dense, 0.1); });
    // largest relative difference of the band LU's and the dense path's spectra to the blocks'
    auto difference = [&](const LinearSpectrum& other) {
        double largest = 0;
        for (std::size_t k = 0; k < std::min(other.omega.size(), blocks.omega.size()); ++k) {
            largest = std::max(largest, std::hypot(other.zReal[k] - blocks.zReal[k],
                                                   other.zImag[k] - blocks.zImag[k]) /
                                            std::hypot(blocks.zReal[k], blocks.zImag[k]));
        }
        return largest;
    };
    const double tStep = timed([&] {
        start_impedance_run(md, series);
        run_integration(md, series, options);
        compute_spectrum(md, series, quiet);
    });
    md.y = operatingPoint;
    std::printf("%8d %3d/%-3d %8.3f %8.3f %8.3f %8.3f %7.3f %9.1e %9.1e %5d\n", md.nEq,
                point_order_bandwidths(md).lower, point_order_bandwidths(md).upper, tBlocks, tBand,
                tDense, tStep, tBlocks / tStep, difference(band),
                md.nEq <= 2000 ? difference(dense) : 0.0, blocks.fallbacks);
}

}  // namespace

int main(int argc, char** argv) {
    long largest = 2000000;
    int only = 0;
    bool automatic = false;
    bool threads = false;
    bool impedance = false;
    bool storage = false;
    for (int a = 1; a < argc; ++a) {
        const std::string opt = argv[a];
        if (opt == "--automatic") automatic = true;
        if (opt == "--impedance") impedance = true;
        if (opt == "--threads") threads = true;
        if (opt == "--storage") storage = true;
        if (a + 1 >= argc) continue;
        if (opt == "--largest") largest = std::atol(argv[++a]);
        if (opt == "--only") only = std::atoi(argv[++a]);
    }
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "tavoline-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    fs::current_path(folder);

    const std::vector<Case> cases = {{1, 264},   {1, 532},    {1, 1998}, {1, 6666},
                                     {1, 33332}, {1, 333332}, {3, 52},   {3, 106},
                                     {3, 400},   {3, 1332},   {3, 6666}, {3, 66666}};
    if (impedance) {
        std::printf("linear-response spectrum, 2777 frequencies, first point's end state (CPU s)\n");
        std::printf("%8s %7s %8s %8s %8s %8s %7s %9s %9s %5s\n", "nEq", "band", "blocks", "band LU",
                    "dense", "step", "ratio", "dBandLU", "dDense", "fallb");
        for (const Case& c : {Case{3, 52}, Case{3, 106}, Case{3, 400}, Case{3, 1332}}) {
            const long nEq = static_cast<long>(c.layers) * ((c.N + 2) * 5 - 1);
            if (nEq > largest) continue;
            const std::string name = "L" + std::to_string(c.layers) + "N" + std::to_string(c.N);
            std::ofstream(name + ".cci") << input_text(c, 1, true);
            in_child([&] { impedance_costs(name); });
        }
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(folder);
        return 0;
    }
    if (storage) {
        std::printf("whole banded runs: band (1 thread) against blocks (1 and 2 threads); per "
                    "step ms, kB per unknown, largest difference of the final potentials [mV]\n");
        std::printf("%8s %5s %5s %4s %4s %9s %9s %9s %9s %6s %6s %6s %6s %6s %8s\n", "nEq",
                    "stp", "stp", "jac", "jac", "CPU band", "CPU blk1", "wall bnd", "wall blk2",
                    "CPU", "wall", "kB bnd", "kB bl1", "kB bl2", "dE");
        for (const Case& c : {Case{3, 52}, Case{3, 106}, Case{3, 400}, Case{3, 1332},
                              Case{3, 6666}, Case{3, 66666}}) {
            const long nEq = static_cast<long>(c.layers) * ((c.N + 2) * 5 - 1);
            if (nEq > largest) continue;
            const std::string name = "L" + std::to_string(c.layers) + "N" + std::to_string(c.N);
            std::ofstream(name + ".cci") << input_text(c, nEq >= 100000 ? 1 : 5);
            storage_comparison(name);
            in_child([&] { storage_algebra(name); });
        }
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(folder);
        return 0;
    }
    if (threads) {
        // about 6000, 20000 and 10^5 unknowns
        std::printf("whole banded runs, 1 and 2 threads: ms per step, ratio 2 threads / 1\n");
        std::printf("%8s %7s %6s %9s %9s %9s %9s %6s %6s\n", "nEq", "band", "steps", "wall 1",
                    "wall 2", "CPU 1", "CPU 2", "wall", "CPU");
        for (const Case& c : {Case{3, 400}, Case{1, 6666}, Case{1, 33332}}) {
            const long nEq =
                static_cast<long>(c.layers) * ((c.N + 2) * (c.layers == 1 ? 3 : 5) - 1);
            if (nEq > largest || (only != 0 && c.layers != only)) continue;
            const std::string name = "L" + std::to_string(c.layers) + "N" + std::to_string(c.N);
            std::ofstream(name + ".cci") << input_text(c, nEq >= 100000 ? 1 : 5);
            in_child([&] { thread_comparison(name); });
            in_child([&] { newton_algebra(name); });
        }
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(folder);
        return 0;
    }
    std::printf("whole banded runs (CPU s; memory: peak resident MB)\n");
    std::printf("%8s %7s %6s %6s %6s %6s %6s %9s %8s %8s\n", "nEq", "band", "CPU", "steps", "rej",
                "jacs", "decs", "rhs", "ms/step", "MB");
    for (const Case& c : cases) {
        if (only != 0 && c.layers != only) continue;
        const long nEq = static_cast<long>(c.layers) * ((c.N + 2) * (c.layers == 1 ? 3 : 5) - 1);
        if (nEq > largest) continue;
        const std::string name = "L" + std::to_string(c.layers) + "N" + std::to_string(c.N);
        std::ofstream(name + ".cci") << input_text(c, nEq >= 100000 ? 1 : 5);
        std::printf("%d layer(s), N = %d:\n", c.layers, c.N);
        in_child([&] { whole_run(name); });
        if (nEq <= 6100) in_child([&] { step_costs(name); });
        if (automatic && nEq <= 6100) in_child([&] { whole_run(name, true); });
    }
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return 0;
}

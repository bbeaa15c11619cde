#include "experiments/integration_run.h"

#include <ctime>
#include <utility>
#include <vector>

#include "base/number_text.h"
#include "model/dilute_range.h"
#include "physics/flux.h"
#include "physics/rhs.h"
#include "physics/state_check.h"

namespace {

int wall_clock_seconds() { return static_cast<int>(std::time(nullptr)); }

// f with the state in the integrator's order: gathered into the record's layout (unless
// recordIndex is empty: the same order), evaluated, scattered back.
void evaluate_in_order(const model& md, InterfaceTables& tables,
                       const std::vector<int>& recordIndex, std::vector<double>& state,
                       std::vector<double>& rate, const double* y, double* f) {
    if (recordIndex.empty()) {
        evaluate_rhs(md, tables, y, f);
        return;
    }
    const std::size_t n = recordIndex.size();
    for (std::size_t p = 0; p < n; ++p) state[recordIndex[p]] = y[p];
    evaluate_rhs(md, tables, state.data(), rate.data());
    for (std::size_t p = 0; p < n; ++p) f[p] = rate[recordIndex[p]];
}

// The second evaluator of a run's f: the same evaluation on the same record, which it
// only reads, with interface tables and buffers of its own. Its tables start as the
// record's: the solutions' sides of the outer interfaces are set with the point and read,
// never written, by f.
class ConcurrentRhs final : public OdeSystem {
  public:
    ConcurrentRhs(const model& md, const std::vector<int>& recordIndex)
        : md_(md), recordIndex_(recordIndex), tables_(md) {
        if (!recordIndex_.empty()) {
            state_.resize(recordIndex_.size());
            rate_.resize(recordIndex_.size());
        }
    }

    int rhs(double /*x*/, const double* y, double* f) override {
        evaluate_in_order(md_, tables_, recordIndex_, state_, rate_, y, f);
        return 0;
    }

  private:
    const model& md_;
    const std::vector<int>& recordIndex_;
    InterfaceTables tables_;
    std::vector<double> state_, rate_;
};

// The highest concentration, in the state y (record layout, scaled), of the components that
// cross an interface of their layer, and where it stands: layer, component and node.
struct Peak {
    double value = 0;  // scaled
    int layer = 0, component = 0, node = 0;
};

Peak exchanged_peak(const model& md, const double* y,
                    const std::vector<std::pair<int, int>>& crossing) {
    Peak peak;
    for (const auto& [l, c] : crossing) {
        const double* conc = y + state_index(md, l, c, 0);
        for (int k = 0; k <= md.N.at(l) + 1; ++k)
            if (conc[k] > peak.value) peak = {conc[k], l, c, k};
    }
    return peak;
}

// Why a state with that peak at scaled time x lies outside the dilute range, and where.
std::string outside_range_text(const model& md, const Peak& peak, double x) {
    const int l = peak.layer;
    const std::string where = peak.node == 0 ? "the left edge of layer " + std::to_string(l)
                              : peak.node == md.N.at(l) + 1
                                  ? "the right edge of layer " + std::to_string(l)
                                  : "x = " + number_text(md.gridY.at(l)[peak.node] * md.L) +
                                        " m in layer " + std::to_string(l);
    const double conc = peak.value * md.cScale;  // mol/m^3
    return "outside the dilute range: component " + std::to_string(peak.component) + " reached " +
           number_text(conc) + " mol/m^3 (" + number_text(conc / 1000) + " mol/L) at " + where +
           " at t = " + number_text(x * md.tc) + " s, beyond the " + number_text(kDiluteLimit) +
           " mol/m^3 (" + number_text(kDiluteLimit / 1000) +
           " mol/L) within which a dilute-solution model holds; no grid makes such a state a "
           "solution of it";
}

}  // namespace

MembraneSystem::MembraneSystem(model& md, RunSeries& series, std::vector<int> recordIndex,
                               const RunOptions& options)
    : md_(md),
      series_(series),
      options_(options),
      recordIndex_(std::move(recordIndex)),
      negativeFloor_(-md.atol),
      diluteCeiling_(kDiluteLimit / md.cScale) {
    if (permuted()) {
        recordRate_.resize(recordIndex_.size());
    }
    for (int l = 1; l <= md.n; ++l)
        for (int c = 1; c <= md.R; ++c)
            if (md.Kif[l - 1][c] != 0 || md.Kib[l - 1][c] != 0 || md.Kif[l][c] != 0 ||
                md.Kib[l][c] != 0)
                crossing_.emplace_back(l, c);
}

int MembraneSystem::rhs(double /*x*/, const double* y, double* f) {
    // md.y takes the state in the record's layout: it is set from the accepted state before
    // anything reads it (output(), and to_record at the end)
    evaluate_in_order(md_, md_, recordIndex_, md_.y, recordRate_, y, f);
    return 0;
}

OdeSystem* MembraneSystem::concurrent_evaluator() {
    if (concurrent_ == nullptr) concurrent_ = std::make_unique<ConcurrentRhs>(md_, recordIndex_);
    return concurrent_.get();
}

int MembraneSystem::output(IntegratorT& integrator) {
    to_record(integrator.y);
    if (!negativeSeen_)
        negativeSeen_ = has_negative_concentration(md_, md_.y.data(), negativeFloor_);
    const ConcentrationRange range = concentration_range(md_, md_.y.data());
    if (!anyStep_ || range.lowest < lowest_) lowest_ = range.lowest;
    anyStep_ = true;
    const int accepted = integrator.statistics().accepted;
    report_progress(md_, series_, integrator.x, accepted, options_.quiet ? nullptr : options_.sink);
    if (options_.progress != nullptr && md_.tEnd > md_.tBegin)
        options_.progress->step((integrator.x - md_.tBegin) / (md_.tEnd - md_.tBegin), accepted);
    // A state beyond the dilute range is no solution of the model, however it goes on:
    // the run ends here rather than follow it, in ever smaller steps, for the rest of tEnd.
    if (range.highest > diluteCeiling_) {
        const Peak peak = exchanged_peak(md_, md_.y.data(), crossing_);
        if (peak.value > diluteCeiling_) {
            outside_ = outside_range_text(md_, peak, integrator.x);
            return -1;
        }
    }
    // A negative answer ends the integration after this accepted step, with the state
    // reached in place (result code 2).
    return options_.stop_requested() ? -1 : 0;
}

void MembraneSystem::to_record(const double* y) {
    if (!permuted()) return;  // the integrator works on md.y itself
    for (std::size_t p = 0; p < recordIndex_.size(); ++p) md_.y[recordIndex_[p]] = y[p];
}

const char* solver_path_name(SolverPath path) {
    return path == SolverPath::dense ? "dense" : "banded";
}

std::unique_ptr<StiffIntegratorT> make_run_integrator(
    const model& md, OdeSystem& system, double* state, Bandwidths band, MessageSink& messages,
    int threads, std::vector<int> blocks, SparsePattern pattern, double toleranceDivisor) {
    StiffOptions options;
    options.messages = &messages;
    options.threads = threads;
    options.rtol = {md.rtol / toleranceDivisor};
    options.atol = {md.atol / toleranceDivisor};
    options.output = true;
    options.h = md.hInit;
    if (band.lower < md.nEq) {
        options.jacobian = JacobianStructure::band;
        options.jac_lower = band.lower;
        options.jac_upper = band.upper;
        if (!blocks.empty()) {
            options.jacobian = JacobianStructure::blocks;
            options.block_sizes = std::move(blocks);
            if (!pattern.rowStart.empty()) {
                auto groups = std::make_shared<const ColumnGroups>(column_groups(md.nEq, pattern));
                pattern = {};  // freed before the matrices are made
                options.jacobian_groups = std::move(groups);
            }
        }
    }
    return std::make_unique<StiffIntegratorT>(system, md.nEq, state, md.tBegin, md.tEnd, options);
}

namespace {

RunOutcome integrate_once(model& md, RunSeries& series, const RunOptions& options) {
    const bool banded = options.path == SolverPath::banded;
    std::vector<int> recordIndex;
    std::vector<double> state;
    Bandwidths band{md.nEq, md.nEq};  // a lower bandwidth of nEq selects the full Jacobian
    std::vector<int> blocks;
    SparsePattern pattern;
    if (banded) {
        recordIndex = point_order(md);
        band = point_order_bandwidths(md);
        if (options.blockMatrices) {
            blocks = point_order_blocks(md);
            pattern = point_order_pattern(md);
        }
        state.resize(recordIndex.size());
        for (std::size_t p = 0; p < recordIndex.size(); ++p) state[p] = md.y[recordIndex[p]];
    }
    MembraneSystem system(md, series, std::move(recordIndex), options);
    const auto integrator = make_run_integrator(
        md, system, banded ? state.data() : md.y.data(), band, *options.sink, options.threads,
        std::move(blocks), std::move(pattern), options.toleranceDivisor);
    if (options.announce) options.sink->write("** NPP problem integrated with RADAU5 **\n\n");
    md.tStart = wall_clock_seconds();
    RunOutcome outcome;
    outcome.code = integrator->integrate();
    system.to_record(integrator->y);
    outcome.stats = integrator->statistics();
    outcome.negativeConcentration = system.negative_concentration_seen();
    outcome.lowestConcentration = system.lowest_concentration();
    if (!system.outside_dilute_range().empty()) {
        outcome.code = kOutsideDiluteRange;
        outcome.outsideDiluteRange = system.outside_dilute_range();
    }
    return outcome;
}

}  // namespace

RunOutcome run_integration(model& md, RunSeries& series, const RunOptions& options) {
    const bool blocks = options.path == SolverPath::banded && options.blockMatrices;
    if (!blocks) return integrate_once(md, series, options);
    // Should pivoting inside the blocks not be enough for this problem (a decomposition's
    // first solve far less accurate than a band LU's), the point is integrated again from
    // where it started, with the band.
    const std::vector<double> start = md.y;
    const RunSeries startSeries = series;
    const RunOutcome outcome = integrate_once(md, series, options);
    if (outcome.stats.inaccurate_block_solves == 0 ||
        outcome.code == StiffIntegratorT::kStoppedByOutput)
        return outcome;
    options.sink->write(
        "The block-tridiagonal Newton matrices lost accuracy; the point is integrated again "
        "with band matrices.\n");
    md.y = start;
    series = startSeries;
    RunOptions band = options;
    band.blockMatrices = false;
    RunOutcome again = integrate_once(md, series, band);
    again.stats.inaccurate_block_solves = outcome.stats.inaccurate_block_solves;
    return again;
}

double integration_bytes(long long nEq, SolverPath path, long long lower, long long upper) {
    const double n = static_cast<double>(nEq);
    // Jacobian (lower + upper + 1 rows) and three iteration matrices (real, and the complex
    // one as two: 2 lower + upper + 1 rows with the fill-in of pivoting); dense: four of
    // order nEq. Then the integrator's 12 work vectors, its row tables and pivots, and on the
    // banded path the order and two record-layout copies.
    const double rows = path == SolverPath::dense
                            ? 4.0 * n
                            : static_cast<double>(lower + upper + 1) +
                                  3.0 * static_cast<double>(2 * lower + upper + 1);
    const double perUnknown = 8.0 * rows + 8.0 * 12 + 8.0 * 4 + 4.0 * 3 +
                              (path == SolverPath::banded ? 8.0 * 3 + 4.0 : 0.0);
    return n * perUnknown;
}

void report_progress(model& md, RunSeries& series, double x, int step, MessageSink* sink) {
    membrane_potential(md, md.y.data());
    md.tNow = wall_clock_seconds();
    md.t_calc = md.tNow - md.tStart;
    const double millivolts = md.mpot * md.eScale * md.L;
    const double seconds = x * md.tc;
    if (step > 0) {
        series.potSeries.append(millivolts);
        series.timeSeries.append(seconds);
        series.tcalcSeries.append(md.t_calc);
        if (md.eisRun != 0)
            series.depletionSeries.append(lowest_edge_ratio(md, series.edgeStart, md.y.data()));
    }
    if (sink == nullptr) return;
    tell(*sink, "Step ", step, ": t=", seconds, ", m_pot=", millivolts, ", t_calc=", md.t_calc,
         ";\n");
}

std::string describe_failure(int code) {
    switch (code) {
        case StiffIntegratorT::kUnsupportedCase:
            return "the integrator does not support this structure of the system";
        case StiffIntegratorT::kTooManySteps:
            return "the largest number of integration steps was reached";
        case StiffIntegratorT::kStepTooSmall:
            return "the step size became too small";
        case StiffIntegratorT::kRepeatedlySingular:
            return "the iteration matrix was repeatedly singular";
        case StiffIntegratorT::kRhsRefused:
            return "the right-hand side could not be evaluated";
        case kOutsideDiluteRange:
            return "a concentration went beyond the dilute range";
        default:
            return "the integrator stopped with code " + std::to_string(code);
    }
}

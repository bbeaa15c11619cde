#include "physics/jacobian.h"

#include <algorithm>

#include "numeric/difference_jacobian.h"
#include "physics/flux.h"
#include "physics/rhs.h"

PointOrderJacobian transport_jacobian_banded(model& md, const double* y) {
    // f from the record's interface tables as they stand (the solutions' sides), left
    // unchanged
    InterfaceTables tables = md;
    PointOrderJacobian jac;
    jac.recordIndex = point_order(md);
    jac.band = point_order_bandwidths(md);
    const int n = md.nEq;
    const auto un = static_cast<std::size_t>(n);
    std::vector<double> state(un), f0(un), saved(un), delta(un), work(un);
    std::vector<double> recordState(y, y + n), recordRate(un);
    for (std::size_t p = 0; p < un; ++p) state[p] = y[jac.recordIndex[p]];
    // f in point order, as the integrator's right-hand side on the banded path
    auto rhs = [&](const double* v, double* f) {
        for (std::size_t p = 0; p < un; ++p) recordState[jac.recordIndex[p]] = v[p];
        evaluate_rhs(md, tables, recordState.data(), recordRate.data());
        for (std::size_t p = 0; p < un; ++p) f[p] = recordRate[jac.recordIndex[p]];
        return 0;
    };
    rhs(state.data(), f0.data());
    jac.rows.resize(jac.band.lower + jac.band.upper + 1, n);
    long long evaluations = 0;
    band_jacobian_by_differences(rhs, state.data(), f0.data(), kJacobianRoundoff, jac.band.lower,
                                 jac.band.upper, 0, n, jac.rows.ptr(), saved.data(), delta.data(),
                                 work.data(), evaluations);
    return jac;
}

MatDoub transport_jacobian_dense(model& md, const double* y) {
    // f from the record's interface tables as they stand (the solutions' sides), left
    // unchanged
    InterfaceTables tables = md;
    const int n = md.nEq;
    std::vector<double> state(y, y + n), f0(static_cast<std::size_t>(n)),
        work(static_cast<std::size_t>(n));
    auto rhs = [&](const double* v, double* f) {
        evaluate_rhs(md, tables, v, f);
        return 0;
    };
    rhs(state.data(), f0.data());
    MatDoub jac(n, n);
    long long evaluations = 0;
    full_jacobian_by_differences(rhs, n, state.data(), f0.data(), kJacobianRoundoff, 0, jac.ptr(),
                                 work.data(), evaluations);
    return jac;
}

std::vector<double> applied_current_column(const model& md) {
    std::vector<double> b(static_cast<std::size_t>(md.nEq), 0.0);
    for (int l = 1; l <= md.n; ++l) {
        // the current term of the field equation, currentCoef, per unit current density
        const double perUnit = md.tc / (md.epsilon.at(l) * md.eScale);
        for (int k = 0; k <= md.N.at(l); ++k)
            b[static_cast<std::size_t>(state_index(md, l, md.R + 1, k))] = perUnit;
    }
    return b;
}

std::vector<double> state_rate(model& md, const double* y) {
    // f from the record's interface tables as they stand (the solutions' sides), left
    // unchanged
    InterfaceTables tables = md;
    std::vector<double> f(static_cast<std::size_t>(md.nEq));
    evaluate_rhs(md, tables, y, f.data());
    return f;
}

double potential_rate(model& md, const double* y) {
    // the potential is linear in the state: its rate is the potential of the rate
    return potential_integral(md, state_rate(md, y).data()) * md.eScale * md.L / md.tc;
}

std::vector<ConservedCombination> conserved_combinations(const model& md) {
    std::vector<ConservedCombination> list;
    const bool poisson = md.modelType == 0;
    for (int l = 1; l <= md.n; ++l) {
        const double pc = md.poissonCoef.at(l);
        const auto h = md.gridH.at(l);
        for (int k = 1; k <= md.N.at(l); ++k) {
            ConservedCombination c;
            c.terms.emplace_back(state_index(md, l, md.R + 1, k), 1.0);
            c.terms.emplace_back(state_index(md, l, md.R + 1, k - 1), -1.0);
            if (poisson)
                for (int comp = 1; comp <= md.R; ++comp)
                    if (md.z[comp] != 0)
                        c.terms.emplace_back(state_index(md, l, comp, k),
                                             -pc * h[static_cast<std::size_t>(k - 1)] * md.z[comp]);
            list.push_back(std::move(c));
        }
        const int N = md.N.at(l);
        if (N < 3) continue;
        const auto at = [&](int k) { return h[static_cast<std::size_t>(k)]; };
        for (int comp = 1; comp <= md.R; ++comp) {
            const double h0 = at(0), h1 = at(1);
            ConservedCombination left;
            left.terms = {{state_index(md, l, comp, 0), 1.0},
                          {state_index(md, l, comp, 1), -(2 * h0 + h1) / (h0 + h1)},
                          {state_index(md, l, comp, 2), h0 / (h0 + h1)}};
            list.push_back(std::move(left));
            const double a = at(N - 1), b = at(N - 2);
            ConservedCombination right;
            right.terms = {{state_index(md, l, comp, N + 1), 1.0},
                           {state_index(md, l, comp, N), -(2 * a + b) / (a + b)},
                           {state_index(md, l, comp, N - 1), a / (a + b)}};
            list.push_back(std::move(right));
        }
    }
    return list;
}

std::vector<double> potential_weights(const model& md) {
    std::vector<double> weights(static_cast<std::size_t>(md.nEq), 0.0);
    std::vector<double> unit(weights.size(), 0.0);
    // the integral reads the fields only: one unit field at a time
    for (int l = 1; l <= md.n; ++l)
        for (int k = 0; k <= md.N.at(l); ++k) {
            const auto i = static_cast<std::size_t>(state_index(md, l, md.R + 1, k));
            unit[i] = 1;
            weights[i] = potential_integral(md, unit.data());
            unit[i] = 0;
        }
    return weights;
}

std::vector<ConservedCombination> conserved_amounts(const model& md) {
    std::vector<ConservedCombination> list;
    auto reacts = [&](int c) {
        for (int other = 1; other <= md.R; ++other)
            if (md.ligand[other] > 0 &&
                (other == c || md.ligand[other] == c || md.complexOf[other] == c))
                return true;
        return false;
    };
    for (int l = 1; l <= md.n; ++l) {
        const auto h = md.gridH.at(l);
        for (int c = 1; c <= md.R; ++c) {
            const bool closed = md.Kif[l - 1][c] == 0 && md.Kib[l - 1][c] == 0 &&
                                md.Kif[l][c] == 0 && md.Kib[l][c] == 0;
            if (!closed || (md.complexing.at(l) != 0 && reacts(c))) continue;
            ConservedCombination amount;
            for (int k = 1; k <= md.N.at(l); ++k)
                amount.terms.emplace_back(state_index(md, l, c, k), h[static_cast<std::size_t>(k - 1)]);
            list.push_back(std::move(amount));
        }
    }
    return list;
}

// Jacobians df/dy by forward differences, for f: R^n -> R^n given as a callable
// rhs(const double* y, double* f) that returns 0, or non-zero when f cannot be evaluated at
// y. Column j is (f(y + delta_j e_j) - f(y)) / delta_j with
// delta_j = sqrt(uround max(1e-5, |y_j|)): components near 0 are perturbed as if of size
// 1e-5, so that the difference is not lost in rounding. The stiff integrator forms its
// Jacobians with these, and so can anyone who needs the same matrix outside it.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace difference_jacobian {

constexpr double kMinPerturbedSize = 1e-5;

inline double perturbation(double uround, double y) {
    return std::sqrt(uround * std::max(kMinPerturbedSize, std::fabs(y)));
}

}  // namespace difference_jacobian

// Full Jacobian: jac[i - m1][j] for the rows i >= m1 (m1 = 0: every row). y is perturbed
// in place and restored; f0 = f(y); `work` holds n values. Counts the evaluations in
// `evaluations`. Returns false (y restored) as soon as an evaluation is refused.
template <class Rhs>
bool full_jacobian_by_differences(Rhs&& rhs, int n, double* y, const double* f0, double uround,
                                  int m1, double** jac, double* work, long long& evaluations) {
    for (int i = 0; i < n; ++i) {
        const double ysafe = y[i];
        const double delt = difference_jacobian::perturbation(uround, ysafe);
        y[i] = ysafe + delt;
        const int refused = rhs(y, work);
        ++evaluations;
        y[i] = ysafe;
        if (refused != 0) return false;
        for (int j = m1; j < n; ++j) jac[j - m1][i] = (work[j] - f0[j]) / delt;
    }
    return true;
}

// Band Jacobian with `lower` sub- and `upper` super-diagonals: store(i, j, df_i/dy_j) for
// every row i >= m1 of the band in column j (blocks of m2 columns when the system has
// second-order structure; m1 = 0, m2 = n otherwise). Columns that no band row shares are
// perturbed together, so one evaluation serves every (lower + upper + 1)-th column of a
// block. `saved` and `delta` (n values each) keep the unperturbed components and their
// perturbations, `work` (n values) takes f. As above for y, f0, the count and the result.
template <class Rhs, class Store>
bool band_jacobian_by_differences_to(Rhs&& rhs, double* y, const double* f0, double uround,
                                     int lower, int upper, int m1, int m2, Store&& store,
                                     double* saved, double* delta, double* work,
                                     long long& evaluations) {
    const int md = std::min(lower + upper + 1, m2);
    const int blocks = m1 / m2;
    for (int b = 0; b <= blocks; ++b) {
        const int first = b * m2;
        const int last = (b + 1) * m2 - 1;
        for (int k = 0; k < md; ++k) {
            for (int j = k + first; j <= last; j += md) {
                saved[j] = y[j];
                delta[j] = difference_jacobian::perturbation(uround, y[j]);
                y[j] = y[j] + delta[j];
            }
            const int refused = rhs(y, work);
            ++evaluations;
            for (int j = k + first; j <= last; j += md) {
                const int j1 = j - first;
                const int lo = std::max(0, j1 - upper) + m1;
                const int hi = std::min(m2 - 1, j1 + lower) + m1;
                if (refused == 0)
                    for (int l = lo; l <= hi; ++l) store(l, j, (work[l] - f0[l]) / delta[j]);
                y[j] = saved[j];
            }
            if (refused != 0) return false;
        }
    }
    return true;
}

// The same by rows of the band: jac[i - j + upper][j] (rows i >= m1 of blocks of m2
// columns: jac[i - m1 - (j - first) + upper][j], first the block's first column).
template <class Rhs>
bool band_jacobian_by_differences(Rhs&& rhs, double* y, const double* f0, double uround,
                                  int lower, int upper, int m1, int m2, double** jac,
                                  double* saved, double* delta, double* work,
                                  long long& evaluations) {
    auto store = [&](int l, int j, double v) { jac[l - m1 - j % m2 + upper][j] = v; };
    return band_jacobian_by_differences_to(rhs, y, f0, uround, lower, upper, m1, m2, store,
                                           saved, delta, work, evaluations);
}

// The non-zero pattern of a sparse matrix by rows: row i holds the columns
// columns[rowStart[i] .. rowStart[i+1]).
struct SparsePattern {
    std::vector<int> rowStart;
    std::vector<int> columns;
};

// Columns that may be perturbed together: no row holds two columns of one group. The
// groups' columns in increasing order, and the rows of each (the transpose of the
// pattern) in the same order, so that forming a group's columns reads its rows in one
// sweep.
struct ColumnGroups {
    std::vector<int> groupStart, groupColumns;  // group g: groupColumns[groupStart[g] ..]
    // the column groupColumns[e]: rows[rowStart[e] .. rowStart[e+1])
    std::vector<int> rowStart, rows;
    int groups() const { return static_cast<int>(groupStart.size()) - 1; }
};

// A greedy colouring of the columns of an n x n pattern (n + 1 row starts), column by
// column, each into the first group none of whose columns shares a row with it.
ColumnGroups column_groups(int n, const SparsePattern& pattern);

// Jacobian of a sparse f by forward differences, one evaluation per group of columns:
// store(i, j, df_i/dy_j) for every row i of column j's pattern. Rows outside the pattern
// must not depend on the column. As the band version for saved, delta, work, y, f0, the
// count and the result. Only the groups groupFirst .. groupEnd-1 are formed, and only
// their columns of y, saved and delta are touched: two calls on disjoint ranges may run
// at the same time, each with its own copy of y, its own work and an rhs of its own.
template <class Rhs, class Store>
bool sparse_jacobian_by_differences(Rhs&& rhs, double* y, const double* f0, double uround,
                                    const ColumnGroups& g, int groupFirst, int groupEnd,
                                    Store&& store, double* saved, double* delta, double* work,
                                    long long& evaluations) {
    for (int group = groupFirst; group < groupEnd; ++group) {
        const int first = g.groupStart[static_cast<std::size_t>(group)];
        const int last = g.groupStart[static_cast<std::size_t>(group) + 1];
        for (int e = first; e < last; ++e) {
            const int j = g.groupColumns[static_cast<std::size_t>(e)];
            saved[j] = y[j];
            delta[j] = difference_jacobian::perturbation(uround, y[j]);
            y[j] = y[j] + delta[j];
        }
        const int refused = rhs(y, work);
        ++evaluations;
        for (int e = first; e < last; ++e) {
            const int j = g.groupColumns[static_cast<std::size_t>(e)];
            if (refused == 0)
                for (int r = g.rowStart[static_cast<std::size_t>(e)];
                     r < g.rowStart[static_cast<std::size_t>(e) + 1]; ++r) {
                    const int l = g.rows[static_cast<std::size_t>(r)];
                    store(l, j, (work[l] - f0[l]) / delta[j]);
                }
            y[j] = saved[j];
        }
        if (refused != 0) return false;
    }
    return true;
}

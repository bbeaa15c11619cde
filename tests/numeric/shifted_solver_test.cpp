// Frequency responses (s I - A)^-1 b: the block-tridiagonal path for band matrices against
// the independent Hessenberg path on the same matrix, and the fall-back to the band LU
// where a diagonal block is singular although the matrix is not.
#include "numeric/shifted_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "point_order_matrix.h"

namespace {

// The band of a full matrix by rows, a[i - j + upper][j], and its bandwidths.
MatDoub band_rows(const MatDoub& a, int& lower, int& upper) {
    const int n = a.nrows();
    lower = upper = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (a[i][j] != 0) {
                lower = std::max(lower, i - j);
                upper = std::max(upper, j - i);
            }
    MatDoub band(lower + upper + 1, n);
    for (int i = 0; i < n; ++i)
        for (int j = std::max(0, i - lower); j <= std::min(n - 1, i + upper); ++j)
            band[i - j + upper][j] = a[i][j];
    return band;
}

double relative_difference(const std::vector<double>& ar, const std::vector<double>& ai,
                           const std::vector<double>& br, const std::vector<double>& bi) {
    double diff = 0, size = 0;
    for (std::size_t i = 0; i < ar.size(); ++i) {
        diff = std::max(diff, std::hypot(ar[i] - br[i], ai[i] - bi[i]));
        size = std::max(size, std::hypot(br[i], bi[i]));
    }
    return diff / size;
}

TEST(ShiftedSolver, BlocksAgreeWithTheHessenbergPathFromLowToHighFrequency) {
    std::mt19937 gen(7);
    const MatDoub a = point_order_matrix(60, 5, 20, gen);
    const int n = a.nrows();
    int lower = 0, upper = 0;
    const MatDoub band = band_rows(a, lower, upper);
    ASSERT_EQ(lower, 19);  // the edge rows widen the band to almost four nodes
    ShiftedSolver blocks = ShiftedSolver::band(n, lower, upper, band.ptr());
    ShiftedSolver dense = ShiftedSolver::full(n, a.ptr());
    // the blocks stay near the size of a node (three nodes at the stretches' edges)
    ASSERT_FALSE(blocks.block_sizes().empty());
    EXPECT_LE(*std::max_element(blocks.block_sizes().begin(), blocks.block_sizes().end()), 20);

    std::vector<double> b(static_cast<std::size_t>(n));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (double& v : b) v = u(gen);
    std::vector<double> xr(b.size()), xi(b.size()), yr(b.size()), yi(b.size());
    for (const double omega : {1e-6, 0.3, 4.0, 1e3, 1e9}) {
        ASSERT_TRUE(blocks.solve(0.0, omega, b.data(), xr.data(), xi.data()));
        ASSERT_TRUE(dense.solve(0.0, omega, b.data(), yr.data(), yi.data()));
        // both backward stable on a matrix of modest condition: agreement to ~1e-13
        EXPECT_LT(relative_difference(xr, xi, yr, yi), 1e-10) << "omega " << omega;
    }
    EXPECT_EQ(blocks.fallbacks(), 0);
}

TEST(ShiftedSolver, SingularDiagonalBlockFallsBackToPivotingBandLU) {
    // the path graph's adjacency: every diagonal block of -A is 0 at s = 0, while A is
    // invertible, A^-1 e0 = (0, 1, 0, -1)
    MatDoub a(4, 4);
    for (int i = 0; i + 1 < 4; ++i) a[i][i + 1] = a[i + 1][i] = 1.0;
    int lower = 0, upper = 0;
    const MatDoub band = band_rows(a, lower, upper);
    ShiftedSolver solver = ShiftedSolver::band(4, lower, upper, band.ptr());
    const std::vector<double> b = {1, 0, 0, 0};
    std::vector<double> xr(4), xi(4);
    ASSERT_TRUE(solver.solve(0.0, 0.0, b.data(), xr.data(), xi.data()));
    EXPECT_EQ(solver.fallbacks(), 1);
    const double expected[4] = {0, -1, 0, 1};  // (0 I - A)^-1 e0
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(xr[i], expected[i], 1e-15);
        EXPECT_EQ(xi[i], 0.0);
    }
}

}  // namespace

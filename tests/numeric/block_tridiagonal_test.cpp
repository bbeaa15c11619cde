// Block-tridiagonal decompositions against the dense LU with partial pivoting on the same
// matrices, real and complex, on the couplings of a transport Jacobian in point order, with
// the elimination from both ends meeting at the first, an inner and the last block; the
// partition that sizes the blocks; an exact zero pivot.
#include "numeric/block_tridiagonal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numeric/linear_solvers.h"
#include "numeric/nr.h"
#include "point_order_matrix.h"

namespace {

std::vector<int> reach_of(const MatDoub& a) {
    const int n = a.nrows();
    std::vector<int> reach(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) reach[i] = i;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (a[i][j] != 0.0) reach[std::min(i, j)] = std::max(reach[std::min(i, j)], std::max(i, j));
    return reach;
}

// Shifts as a stiff integrator makes them: s I - J with s from a small step (dominant
// diagonal) to a large one (s well inside J's spectrum).
TEST(BlockTridiagonal, SolvesLikeTheDenseLuRealAndComplex) {
    std::mt19937 gen(11);
    for (const double s : {100.0, 3.0, 0.3})
    for (const int middle : {0, 7, -1}) {
        SCOPED_TRACE(testing::Message() << "s " << s << ", middle " << middle);
        const MatDoub j = point_order_matrix(24, 5, 8, gen);
        const int n = j.nrows();
        const std::vector<int> sizes = tridiagonal_partition(reach_of(j));
        BlockTridiagonal real(sizes, false), complex(sizes, true);
        real.set_middle(middle);
        complex.set_middle(middle);
        ASSERT_EQ(real.order(), n);
        // every non-zero must have a place in the blocks; a point's 5 unknowns make a block
        // inside a stretch, several points at its ends
        EXPECT_EQ(sizes[sizes.size() / 2], 5);
        MatDoub er(n, n), ei(n, n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) {
                er[r][c] = (r == c ? s : 0.0) - j[r][c];
                ei[r][c] = r == c ? 0.7 * s : 0.0;
                if (j[r][c] == 0.0 && r != c) continue;
                ASSERT_TRUE(real.holds(r, c)) << r << ", " << c;
                real.row_re(r)[c - real.first_column(r)] = er[r][c];
                complex.row_re(r)[c - complex.first_column(r)] = er[r][c];
                complex.row_im(r)[c - complex.first_column(r)] = ei[r][c];
            }
        ASSERT_EQ(real.factor(), 0);
        ASSERT_EQ(complex.factor(), 0);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<double> b(n), bi(n), x(n), xi(n);
        for (int i = 0; i < n; ++i) {
            b[i] = u(gen);
            bi[i] = u(gen);
        }
        x = b;
        real.solve(x.data());
        std::vector<double> y = b, yi = bi;
        std::vector<int> piv(n);
        MatDoub lu = er;
        ASSERT_EQ(decompose_full(n, lu.ptr(), piv.data()), 0);
        solve_full(n, lu.ptr(), y.data(), piv.data());
        // both are backward stable on these matrices (growth() stays small), and the
        // matrices are well conditioned: the solutions agree to some thousand roundings
        double scale = 0;
        for (double v : y) scale = std::max(scale, std::fabs(v));
        for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], y[i], 1e-11 * scale) << i;
        EXPECT_LT(real.growth(), 1e3);

        x = b;
        xi = bi;
        complex.solve(x.data(), xi.data());
        MatDoub lr = er, li = ei;
        ASSERT_EQ(decompose_full_complex(n, lr.ptr(), li.ptr(), piv.data()), 0);
        y = b;
        solve_full_complex(n, lr.ptr(), li.ptr(), y.data(), yi.data(), piv.data());
        scale = 0;
        for (int i = 0; i < n; ++i) scale = std::max(scale, std::hypot(y[i], yi[i]));
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(x[i], y[i], 1e-11 * scale) << i;
            EXPECT_NEAR(xi[i], yi[i], 1e-11 * scale) << i;
        }
    }
}

// A diagonal block whose column is zero cannot be decomposed: its row is named, counted
// from 1, and the matrix is left unfactored, also when decomposed part by part.
TEST(BlockTridiagonal, ExactZeroPivotIsReported) {
    auto singular = [] {
        BlockTridiagonal a({2, 2, 1}, false);
        for (int i = 0; i < 5; ++i) a.row_re(i)[i - a.first_column(i)] = 1.0;
        a.row_re(2)[2 - a.first_column(2)] = 0.0;  // row 2 of the second block: column 2 empty
        return a;
    };
    BlockTridiagonal whole = singular();
    EXPECT_EQ(whole.factor(), 3);
    EXPECT_FALSE(whole.factored());
    BlockTridiagonal parts = singular();  // the middle is the last block: the top part fails
    EXPECT_EQ(parts.factor_part(BlockTridiagonal::Part::top), 3);
    EXPECT_EQ(parts.factor_part(BlockTridiagonal::Part::bottom), 0);
    parts.factor_middle();
    EXPECT_FALSE(parts.factored());
}

}  // namespace

// Gaussian elimination with partial pivoting, real and complex, in full, band and Hessenberg
// storage. Small hand-worked cases pin the pivot rules, the stored multipliers and the
// result codes; random systems check residuals; the band and Hessenberg forms and the
// complex routines are checked against independent paths (the full real routines on the
// same matrix, and the real 2n x 2n embedding of a complex system).
#include "numeric/linear_solvers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <vector>

#include "numeric/nr.h"

namespace {

double max_abs(const std::vector<double>& v) {
    double m = 0.0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

// Full matrix with entries in [-1, 1] plus `shift` on the diagonal, rows then shuffled so
// that pivoting has to find the dominant entries.
void random_matrix(MatDoub& a, int n, double shift, std::mt19937& gen) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    a.resize(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a[i][j] = u(gen) + (i == j ? shift : 0.0);
    for (int i = n - 1; i > 0; --i) {
        const int k = std::uniform_int_distribution<int>(0, i)(gen);
        for (int j = 0; j < n; ++j) std::swap(a[i][j], a[k][j]);
    }
}

// Band storage of a full matrix: element (i, j) at band[j][i - j + ml + mu].
void to_band(const MatDoub& full, int n, int ml, int mu, MatDoub& band) {
    band.resize(n, 2 * ml + mu + 1);
    for (int j = 0; j < n; ++j)
        for (int i = std::max(0, j - mu); i <= std::min(n - 1, j + ml); ++i)
            band[j][i - j + ml + mu] = full[i][j];
}

// A full matrix given row by row.
MatDoub rows_of(std::initializer_list<std::initializer_list<double>> rows) {
    MatDoub a(static_cast<int>(rows.size()), static_cast<int>(rows.begin()->size()));
    int i = 0;
    for (const auto& row : rows) {
        int j = 0;
        for (double v : row) a[i][j++] = v;
        ++i;
    }
    return a;
}

TEST(LinearSolversSmall, SwapOfTwoRows) {
    MatDoub a = rows_of({{0, 1}, {1, 0}});
    int ip[2];
    ASSERT_EQ(decompose_full(2, a.ptr(), ip), 0);
    EXPECT_EQ(ip[0], 1);
    EXPECT_EQ(ip[1], -1);  // one interchange: det = -1 * 1 * 1
    double b[2] = {3.0, 4.0};
    solve_full(2, a.ptr(), b, ip);
    EXPECT_EQ(b[0], 4.0);
    EXPECT_EQ(b[1], 3.0);
}

TEST(LinearSolversSmall, OrderOne) {
    MatDoub a(1, 1);
    a[0][0] = 4.0;
    int ip[1];
    EXPECT_EQ(decompose_full(1, a.ptr(), ip), 0);
    EXPECT_EQ(ip[0], 1);
    double b[1] = {2.0};
    solve_full(1, a.ptr(), b, ip);
    EXPECT_EQ(b[0], 0.5);

    a[0][0] = 0.0;
    EXPECT_EQ(decompose_full(1, a.ptr(), ip), 1);
    EXPECT_EQ(ip[0], 0);

    MatDoub ar(1, 1), ai(1, 1);
    EXPECT_EQ(decompose_full_complex(1, ar.ptr(), ai.ptr(), ip), 1);
    ai[0][0] = 2.0;  // pivot 0 + 2i: b = 4 + 2i gives x = 1 - 2i
    EXPECT_EQ(decompose_full_complex(1, ar.ptr(), ai.ptr(), ip), 0);
    double br[1] = {4.0}, bi[1] = {2.0};
    solve_full_complex(1, ar.ptr(), ai.ptr(), br, bi, ip);
    EXPECT_EQ(br[0], 1.0);
    EXPECT_EQ(bi[0], -2.0);
}

TEST(LinearSolversSmall, ZeroPivotsGiveTheColumnCountedFromOne) {
    MatDoub a = rows_of({{0, 1, 0}, {0, 0, 2}, {0, 3, 0}});
    int ip[3];
    EXPECT_EQ(decompose_full(3, a.ptr(), ip), 1);  // first column all zero
    EXPECT_EQ(ip[2], 0);

    // rank 2: the second column becomes zero below the diagonal after step 1
    MatDoub s = rows_of({{1, 2, 3}, {2, 4, 7}, {3, 6, 1}});
    EXPECT_EQ(decompose_full(3, s.ptr(), ip), 2);
    EXPECT_EQ(ip[2], 0);

    // singular only in the last diagonal element
    MatDoub u = rows_of({{1, 1}, {1, 1}});
    EXPECT_EQ(decompose_full(2, u.ptr(), ip), 2);
    EXPECT_EQ(ip[1], 0);
}

TEST(LinearSolversSmall, PivotRulesAndStoredMultipliers) {
    // |-2| against 2 is a tie: the upper row stays
    MatDoub a = rows_of({{-2, 1}, {2, 3}});
    int ip[2];
    ASSERT_EQ(decompose_full(2, a.ptr(), ip), 0);
    EXPECT_EQ(ip[0], 0);
    EXPECT_EQ(ip[1], 1);
    EXPECT_EQ(a[1][0], 1.0);  // negated multiplier -l = -(2 / -2)
    EXPECT_EQ(a[1][1], 4.0);  // 3 - (-1) * 1

    // the strictly larger row wins: rows (1, 1), (4, 2); l = 1/4 stored as -0.25
    MatDoub b = rows_of({{1, 1}, {4, 2}});
    ASSERT_EQ(decompose_full(2, b.ptr(), ip), 0);
    EXPECT_EQ(ip[0], 1);
    EXPECT_EQ(b[0][0], 4.0);
    EXPECT_EQ(b[0][1], 2.0);
    EXPECT_EQ(b[1][0], -0.25);
    EXPECT_EQ(b[1][1], 0.5);
    EXPECT_EQ(ip[1] * b[0][0] * b[1][1], -2.0);  // det (1*2 - 1*4)

    // complex: 0.5 + 3.6i (|re| + |im| = 4.1) displaces 4 + 0i (4), although its modulus
    // is smaller
    MatDoub cr = rows_of({{4, 1}, {0.5, 1}}), ci = rows_of({{0, 0}, {3.6, 0}});
    ASSERT_EQ(decompose_full_complex(2, cr.ptr(), ci.ptr(), ip), 0);
    EXPECT_EQ(ip[0], 1);
    EXPECT_EQ(ip[1], -1);
    EXPECT_EQ(cr[0][0], 0.5);
    EXPECT_EQ(ci[0][0], 3.6);
    // multiplier: -(4 / (0.5 + 3.6i)) = -(4 (0.5 - 3.6i) / 13.21)
    EXPECT_NEAR(cr[1][0], -2.0 / 13.21, 1e-15);
    EXPECT_NEAR(ci[1][0], 14.4 / 13.21, 1e-15);
}

TEST(LinearSolversRandom, FullRealResidualsForOrders1To60) {
    std::mt19937 gen(12345);
    for (int n = 1; n <= 60; ++n) {
        MatDoub a;
        random_matrix(a, n, 2.0, gen);
        MatDoub lu = a;
        std::vector<int> ip(n);
        ASSERT_EQ(decompose_full(n, lu.ptr(), ip.data()), 0) << n;
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<double> b(n), x(n);
        for (int i = 0; i < n; ++i) b[i] = x[i] = u(gen);
        solve_full(n, lu.ptr(), x.data(), ip.data());
        std::vector<double> r(n);
        double norm_a = 0.0;
        for (int i = 0; i < n; ++i) {
            double s = -b[i], row = 0.0;
            for (int j = 0; j < n; ++j) {
                s += a[i][j] * x[j];
                row += std::fabs(a[i][j]);
            }
            r[i] = s;
            norm_a = std::max(norm_a, row);
        }
        // backward stable elimination: residual ~ n eps |A| |x|; 100 n eps is ample
        EXPECT_LE(max_abs(r), 100.0 * n * 2.2e-16 * norm_a * max_abs(x)) << n;
    }
}

TEST(LinearSolversRandom, ComplexAgreesWithRealEmbedding) {
    // (Ar + i Ai)(xr + i xi) = br + i bi  <=>  [Ar -Ai; Ai Ar] [xr; xi] = [br; bi]
    std::mt19937 gen(777);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 2, 3, 7, 20, 41}) {
        MatDoub ar, ai, big;
        random_matrix(ar, n, 1.5, gen);
        random_matrix(ai, n, 0.0, gen);
        big.resize(2 * n, 2 * n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                big[i][j] = ar[i][j];
                big[i][j + n] = -ai[i][j];
                big[i + n][j] = ai[i][j];
                big[i + n][j + n] = ar[i][j];
            }
        std::vector<double> br(n), bi(n), bb(2 * n);
        for (int i = 0; i < n; ++i) {
            br[i] = bb[i] = u(gen);
            bi[i] = bb[i + n] = u(gen);
        }
        std::vector<int> ip(n), ip2(2 * n);
        ASSERT_EQ(decompose_full_complex(n, ar.ptr(), ai.ptr(), ip.data()), 0);
        ASSERT_EQ(decompose_full(2 * n, big.ptr(), ip2.data()), 0);
        solve_full_complex(n, ar.ptr(), ai.ptr(), br.data(), bi.data(), ip.data());
        solve_full(2 * n, big.ptr(), bb.data(), ip2.data());
        // both well conditioned (cond ~ 10): agreement to ~1e-13
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(br[i], bb[i], 1e-12) << n;
            EXPECT_NEAR(bi[i], bb[i + n], 1e-12) << n;
        }
    }
}

// Band storage must make the same pivot choices and give the same solution as full storage
// of the same matrix, real and complex. The complex entries mix real-only, imaginary-only
// and full values so that every update path runs.
TEST(LinearSolversBand, AgreesWithFullStorage) {
    std::mt19937 gen(4242);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int shapes[][3] = {{1, 0, 0},  {2, 1, 0}, {9, 1, 1},  {12, 2, 1}, {15, 3, 0},
                             {10, 0, 2}, {7, 6, 6}, {30, 4, 3}, {5, 1, 4}};
    for (const auto& shape : shapes) {
        const int n = shape[0], ml = shape[1], mu = shape[2];
        MatDoub fr(n, n), fi(n, n), cr(n, n);
        for (int i = 0; i < n; ++i)
            for (int j = std::max(0, i - ml); j <= std::min(n - 1, i + mu); ++j) {
                fr[i][j] = u(gen);
                fi[i][j] = (i + j) % 3 == 0 ? 0.0 : u(gen);
                cr[i][j] = (i + 2 * j) % 5 == 0 && i != j ? 0.0 : fr[i][j];
            }
        MatDoub br, bi, bcr;
        to_band(fr, n, ml, mu, br);
        to_band(fi, n, ml, mu, bi);
        to_band(cr, n, ml, mu, bcr);
        // the fill-in positions hold garbage on entry; the decomposition must clear them
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < ml; ++i) br[j][i] = bi[j][i] = bcr[j][i] = 1e300;

        std::vector<int> ipf(n), ipb(n), ipcf(n), ipcb(n);
        ASSERT_EQ(decompose_full(n, fr.ptr(), ipf.data()), 0);
        ASSERT_EQ(decompose_band(n, br.ptr(), ml, mu, ipb.data()), 0);
        ASSERT_EQ(decompose_full_complex(n, cr.ptr(), fi.ptr(), ipcf.data()), 0);
        ASSERT_EQ(decompose_band_complex(n, bcr.ptr(), bi.ptr(), ml, mu, ipcb.data()), 0);
        if (ml > 0) {  // with ml = 0 the band routines leave the pivot entries alone
            EXPECT_EQ(ipf, ipb) << n << " " << ml << " " << mu;
            EXPECT_EQ(ipcf, ipcb) << n << " " << ml << " " << mu;
        }
        std::vector<double> xf(n), xb(n), xr(n), xi(n), yr(n), yi(n);
        for (int i = 0; i < n; ++i) {
            xf[i] = xb[i] = xr[i] = yr[i] = u(gen);
            xi[i] = yi[i] = u(gen);
        }
        solve_full(n, fr.ptr(), xf.data(), ipf.data());
        solve_band(n, br.ptr(), ml, mu, xb.data(), ipb.data());
        solve_full_complex(n, cr.ptr(), fi.ptr(), xr.data(), xi.data(), ipcf.data());
        solve_band_complex(n, bcr.ptr(), bi.ptr(), ml, mu, yr.data(), yi.data(), ipcb.data());
        // same operations up to the order of a few additions of exact zeros: agreement to
        // rounding, scaled by the size of the solution
        const double sr = max_abs(xf), sc = std::max(max_abs(xr), max_abs(xi));
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(xb[i], xf[i], 1e-12 * sr) << n;
            EXPECT_NEAR(yr[i], xr[i], 1e-12 * sc) << n;
            EXPECT_NEAR(yi[i], xi[i], 1e-12 * sc) << n;
        }
    }
}

TEST(LinearSolversBand, UpperTriangularBandIsOnlyBackSubstituted) {
    // ml = 0: [[2, 1, 0], [0, 4, 2], [0, 0, 8]] x = (3, 6, 8) has x = (1, 1, 1)
    const MatDoub full = rows_of({{2, 1, 0}, {0, 4, 2}, {0, 0, 8}});
    MatDoub band;
    to_band(full, 3, 0, 1, band);
    const MatDoub before = band;
    int ip[3] = {-7, -7, -7};
    ASSERT_EQ(decompose_band(3, band.ptr(), 0, 1, ip), 0);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < band.ncols(); ++i) EXPECT_EQ(band[j][i], before[j][i]);
    double b[3] = {3, 6, 8};
    solve_band(3, band.ptr(), 0, 1, b, ip);  // no forward pass: pivot entries unused
    EXPECT_EQ(b[0], 1.0);
    EXPECT_EQ(b[1], 1.0);
    EXPECT_EQ(b[2], 1.0);

    band[2][1] = 0.0;  // last diagonal element
    EXPECT_EQ(decompose_band(3, band.ptr(), 0, 1, ip), 3);
    EXPECT_EQ(ip[2], 0);
}

// Full storage with a limited lower bandwidth: the same pivots and solutions as the full
// routines on the same matrix (real for several bandwidths, complex for lb = 1).
TEST(LinearSolversHessenberg, AgreesWithFullOnLimitedLowerBandwidth) {
    std::mt19937 gen(5150);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int lb : {1, 2, 4}) {
        for (int n : {1, 2, 3, 8, 25}) {
            MatDoub fr(n, n), fi(n, n), hr(n, n), hi(n, n), cr(n, n);
            for (int i = 0; i < n; ++i)
                for (int j = std::max(0, i - lb); j < n; ++j) {
                    fr[i][j] = hr[i][j] = cr[i][j] = u(gen);
                    fi[i][j] = hi[i][j] = u(gen);
                }
            MatDoub real_h = hr;
            std::vector<int> ipf(n), iph(n), ipcf(n), ipch(n);
            ASSERT_EQ(decompose_full(n, fr.ptr(), ipf.data()), 0);
            ASSERT_EQ(decompose_hessenberg(n, real_h.ptr(), lb, iph.data()), 0);
            EXPECT_EQ(ipf, iph);
            std::vector<double> b1(n), b2(n), xr(n), xi(n), yr(n), yi(n);
            for (int i = 0; i < n; ++i) {
                b1[i] = b2[i] = xr[i] = yr[i] = u(gen);
                xi[i] = yi[i] = u(gen);
            }
            solve_full(n, fr.ptr(), b1.data(), ipf.data());
            solve_hessenberg(n, real_h.ptr(), lb, b2.data(), iph.data());
            for (int i = 0; i < n; ++i) EXPECT_NEAR(b1[i], b2[i], 1e-12 * max_abs(b1));
            if (lb != 1) continue;

            ASSERT_EQ(decompose_full_complex(n, cr.ptr(), fi.ptr(), ipcf.data()), 0);
            ASSERT_EQ(decompose_hessenberg_complex(n, hr.ptr(), hi.ptr(), 1, ipch.data()), 0);
            EXPECT_EQ(ipcf, ipch);
            solve_full_complex(n, cr.ptr(), fi.ptr(), xr.data(), xi.data(), ipcf.data());
            solve_hessenberg_complex(n, hr.ptr(), hi.ptr(), 1, yr.data(), yi.data(), ipch.data());
            const double sc = std::max(max_abs(xr), max_abs(xi));
            for (int i = 0; i < n; ++i) {
                EXPECT_NEAR(yr[i], xr[i], 1e-12 * sc);
                EXPECT_NEAR(yi[i], xi[i], 1e-12 * sc);
            }
        }
    }
}

TEST(LinearSolversHessenberg, ReductionIsASimilarityTransform) {
    // Trace and determinant are invariants of a similarity transform; the reduced matrix
    // must be upper Hessenberg apart from the multipliers kept below the sub-diagonal.
    std::mt19937 gen(2024);
    for (int n : {3, 5, 12}) {
        MatDoub a;
        random_matrix(a, n, 0.5, gen);
        a[2][0] = 0.0;  // a zero entry below the sub-diagonal takes the skip path
        MatDoub h = a, lu_a = a;
        std::vector<int> swaps(n, -1);
        reduce_to_hessenberg(n, 0, n, h.ptr(), swaps.data());
        double trace_a = 0.0, trace_h = 0.0;
        for (int i = 0; i < n; ++i) {
            trace_a += a[i][i];
            trace_h += h[i][i];
        }
        EXPECT_NEAR(trace_h, trace_a, 1e-13 * n);
        for (int m = 1; m <= n - 2; ++m) {
            EXPECT_GE(swaps[m], m);
            for (int r = m + 1; r < n; ++r) EXPECT_LE(std::fabs(h[r][m - 1]), 1.0);
        }
        std::vector<int> ipa(n), iph(n);
        ASSERT_EQ(decompose_full(n, lu_a.ptr(), ipa.data()), 0);
        ASSERT_EQ(decompose_hessenberg(n, h.ptr(), 1, iph.data()), 0);
        double det_a = ipa[n - 1], det_h = iph[n - 1];
        for (int i = 0; i < n; ++i) {
            det_a *= lu_a[i][i];
            det_h *= h[i][i];
        }
        EXPECT_NEAR(det_h, det_a, 1e-12 * std::fabs(det_a));
    }
    int untouched[2] = {-5, -5};
    MatDoub small(2, 2);
    reduce_to_hessenberg(2, 0, 2, small.ptr(), untouched);  // nothing to reduce
    EXPECT_EQ(untouched[0], -5);
}

}  // namespace

namespace {

// Column-ordered elimination written straight from the algorithm's statement: pivot search,
// interchange of column k, negated multipliers, then for each column j the interchange and
// the update of every row below, skipped when the pivot-row factor is zero. The library
// walks rows instead; every element must still receive the same operations in the same
// order, so the results have to agree bit for bit.
int column_ordered_decompose(int n, double** a, int* ip) {
    ip[n - 1] = 1;
    for (int k = 0; k < n - 1; ++k) {
        int m = k;
        for (int i = k + 1; i < n; ++i)
            if (std::fabs(a[i][k]) > std::fabs(a[m][k])) m = i;
        ip[k] = m;
        double t = a[m][k];
        if (m != k) {
            ip[n - 1] = -ip[n - 1];
            a[m][k] = a[k][k];
            a[k][k] = t;
        }
        if (t == 0.0) return k + 1;
        t = 1.0 / t;
        for (int i = k + 1; i < n; ++i) a[i][k] = -t * a[i][k];
        for (int j = k + 1; j < n; ++j) {
            t = a[m][j];
            a[m][j] = a[k][j];
            a[k][j] = t;
            if (t != 0.0)
                for (int i = k + 1; i < n; ++i) a[i][j] = a[i][j] + a[i][k] * t;
        }
    }
    return a[n - 1][n - 1] == 0.0 ? n : 0;
}

int column_ordered_decompose_complex(int n, double** ar, double** ai, int* ip) {
    auto mag = [](double r, double i) { return std::fabs(r) + std::fabs(i); };
    ip[n - 1] = 1;
    for (int k = 0; k < n - 1; ++k) {
        int m = k;
        for (int i = k + 1; i < n; ++i)
            if (mag(ar[i][k], ai[i][k]) > mag(ar[m][k], ai[m][k])) m = i;
        ip[k] = m;
        double tr = ar[m][k], ti = ai[m][k];
        if (m != k) {
            ip[n - 1] = -ip[n - 1];
            ar[m][k] = ar[k][k];
            ai[m][k] = ai[k][k];
            ar[k][k] = tr;
            ai[k][k] = ti;
        }
        if (mag(tr, ti) == 0.0) return k + 1;
        const double den = tr * tr + ti * ti;
        tr = tr / den;
        ti = -ti / den;
        for (int i = k + 1; i < n; ++i) {
            const double pr = ar[i][k] * tr - ai[i][k] * ti;
            const double pi = ai[i][k] * tr + ar[i][k] * ti;
            ar[i][k] = -pr;
            ai[i][k] = -pi;
        }
        for (int j = k + 1; j < n; ++j) {
            tr = ar[m][j];
            ti = ai[m][j];
            ar[m][j] = ar[k][j];
            ai[m][j] = ai[k][j];
            ar[k][j] = tr;
            ai[k][j] = ti;
            if (mag(tr, ti) == 0.0) continue;
            for (int i = k + 1; i < n; ++i) {
                if (ti == 0.0) {
                    ar[i][j] = ar[i][j] + ar[i][k] * tr;
                    ai[i][j] = ai[i][j] + ai[i][k] * tr;
                } else if (tr == 0.0) {
                    ar[i][j] = ar[i][j] + -ai[i][k] * ti;
                    ai[i][j] = ai[i][j] + ar[i][k] * ti;
                } else {
                    ar[i][j] = ar[i][j] + (ar[i][k] * tr - ai[i][k] * ti);
                    ai[i][j] = ai[i][j] + (ai[i][k] * tr + ar[i][k] * ti);
                }
            }
        }
    }
    return mag(ar[n - 1][n - 1], ai[n - 1][n - 1]) == 0.0 ? n : 0;
}

// Sparse-ish matrix: about a third of the entries exactly zero, so that both the skipped
// and the gathered column paths run; n > 256 crosses a column chunk boundary.
TEST(LinearSolversRowOrder, FullDecompositionsMatchColumnOrderBitForBit) {
    std::mt19937 gen(8);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {5, 64, 300}) {
        MatDoub a(n, n), b(n, n), ar(n, n), ai(n, n), br(n, n), bi(n, n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const double r = u(gen);
                a[i][j] = b[i][j] = std::fabs(r) < 0.33 ? 0.0 : r;
                const int kind = (i * 7 + j * 3) % 4;  // complex: zero, real, imaginary, full
                ar[i][j] = br[i][j] = (kind == 1 || kind == 3) ? u(gen) : 0.0;
                ai[i][j] = bi[i][j] = (kind == 2 || kind == 3) ? u(gen) : 0.0;
            }
        std::vector<int> ip1(n), ip2(n);
        ASSERT_EQ(decompose_full(n, a.ptr(), ip1.data()),
                  column_ordered_decompose(n, b.ptr(), ip2.data()));
        EXPECT_EQ(ip1, ip2);
        ASSERT_EQ(decompose_full_complex(n, ar.ptr(), ai.ptr(), ip1.data()),
                  column_ordered_decompose_complex(n, br.ptr(), bi.ptr(), ip2.data()));
        EXPECT_EQ(ip1, ip2);
        int differing = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (a[i][j] != b[i][j] || ar[i][j] != br[i][j] || ai[i][j] != bi[i][j]) ++differing;
        EXPECT_EQ(differing, 0) << n;
    }
}

}  // namespace

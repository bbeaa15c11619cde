#include "numeric/linear_solvers.h"

#include <algorithm>
#include <utility>
#include <cmath>

namespace {

// Columns of the pivot row are processed in chunks of this many; the indices of the chunk's
// nonzero pivot-row elements are gathered on the stack, so zero factors are skipped without
// any heap storage while every row is still walked along its own contiguous memory.
constexpr int kChunk = 256;

// One elimination step on full storage, row by row:
//   a(i, j) += a(i, k) * a(k, j)   for rows i in [row_begin, row_end), columns j in (k, n),
// where a(i, k) already holds the negated multiplier and row k the (interchanged) pivot row.
// A column whose pivot-row element is an exact zero is skipped, so no zero product is ever
// added. Each element receives exactly one update per step, as in the column-ordered form.
void eliminate_rows(double** a, int k, int row_begin, int row_end, int n) {
    const double* pivot_row = a[k];
    int cols[kChunk];
    for (int j0 = k + 1; j0 < n; j0 += kChunk) {
        const int j1 = std::min(n, j0 + kChunk);
        int count = 0;
        for (int j = j0; j < j1; ++j)
            if (pivot_row[j] != 0.0) cols[count++] = j;
        if (count == 0) continue;
        if (count == j1 - j0) {
            for (int i = row_begin; i < row_end; ++i) {
                double* row = a[i];
                const double l = row[k];
                for (int j = j0; j < j1; ++j) row[j] = row[j] + l * pivot_row[j];
            }
        } else {
            for (int i = row_begin; i < row_end; ++i) {
                double* row = a[i];
                const double l = row[k];
                for (int c = 0; c < count; ++c) {
                    const int j = cols[c];
                    row[j] = row[j] + l * pivot_row[j];
                }
            }
        }
    }
}

// Complex twin of eliminate_rows. The factor t = (tr, ti) of column j comes from the pivot
// row; products with an exact zero part are never formed:
//   tr = ti = 0      column skipped
//   ti = 0           re += lr*tr,            im += li*tr
//   tr = 0           re += -li*ti,           im += lr*ti
//   otherwise        re += lr*tr - li*ti,    im += li*tr + lr*ti
void eliminate_rows_complex(double** ar, double** ai, int k, int row_begin, int row_end, int n) {
    const double* pr = ar[k];
    const double* pi = ai[k];
    int real_cols[kChunk];
    int imag_cols[kChunk];
    int full_cols[kChunk];
    for (int j0 = k + 1; j0 < n; j0 += kChunk) {
        const int j1 = std::min(n, j0 + kChunk);
        const int width = j1 - j0;
        int n_real = 0;
        int n_imag = 0;
        int n_full = 0;
        for (int j = j0; j < j1; ++j) {
            const double tr = pr[j];
            const double ti = pi[j];
            if (std::fabs(tr) + std::fabs(ti) == 0.0) continue;
            if (ti == 0.0) {
                real_cols[n_real++] = j;
            } else if (tr == 0.0) {
                imag_cols[n_imag++] = j;
            } else {
                full_cols[n_full++] = j;
            }
        }
        if (n_real + n_imag + n_full == 0) continue;
        for (int i = row_begin; i < row_end; ++i) {
            double* rr = ar[i];
            double* ri = ai[i];
            const double lr = rr[k];
            const double li = ri[k];
            if (n_full == width) {
                for (int j = j0; j < j1; ++j) {
                    const double tr = pr[j];
                    const double ti = pi[j];
                    rr[j] = rr[j] + (lr * tr - li * ti);
                    ri[j] = ri[j] + (li * tr + lr * ti);
                }
                continue;
            }
            if (n_real == width) {
                for (int j = j0; j < j1; ++j) {
                    const double tr = pr[j];
                    rr[j] = rr[j] + lr * tr;
                    ri[j] = ri[j] + li * tr;
                }
                continue;
            }
            for (int c = 0; c < n_real; ++c) {
                const int j = real_cols[c];
                const double tr = pr[j];
                rr[j] = rr[j] + lr * tr;
                ri[j] = ri[j] + li * tr;
            }
            for (int c = 0; c < n_imag; ++c) {
                const int j = imag_cols[c];
                const double ti = pi[j];
                rr[j] = rr[j] + -li * ti;
                ri[j] = ri[j] + lr * ti;
            }
            for (int c = 0; c < n_full; ++c) {
                const int j = full_cols[c];
                const double tr = pr[j];
                const double ti = pi[j];
                rr[j] = rr[j] + (lr * tr - li * ti);
                ri[j] = ri[j] + (li * tr + lr * ti);
            }
        }
    }
}

double magnitude(double re, double im) { return std::fabs(re) + std::fabs(im); }

// Pivot of a complex elimination step, shared by the full and band forms: the chosen
// element (pr, pi) changes place with the diagonal element (dr, di) when `exchange`, which
// flips the parity of the interchanges. Returns false (parity 0) for a zero pivot;
// otherwise (rr, ri) is its reciprocal, (pr, -pi) / (pr^2 + pi^2).
bool take_complex_pivot(double& pr, double& pi, double& dr, double& di, bool exchange,
                        int& parity, double& rr, double& ri) {
    const double tr = pr;
    const double ti = pi;
    if (exchange) {
        parity = -parity;
        pr = dr;
        pi = di;
        dr = tr;
        di = ti;
    }
    if (magnitude(tr, ti) == 0.0) {
        parity = 0;
        return false;
    }
    const double den = tr * tr + ti * ti;
    rr = tr / den;
    ri = -ti / den;
    return true;
}

// Stored multiplier: (er, ei) <- -((er, ei) * (rr, ri)), (rr, ri) the pivot's reciprocal.
void negate_multiplier(double& er, double& ei, double rr, double ri) {
    const double prod_re = er * rr - ei * ri;
    const double prod_im = ei * rr + er * ri;
    er = -prod_re;
    ei = -prod_im;
}

// Shared body of the full and Hessenberg real decompositions: rows below the diagonal of
// column k are limited to k+1 .. min(n, lb + k + 1) - 1 (lb = n - 1 gives the full case).
int decompose_real_limited(int n, double** a, int lb, int* pivots) {
    if (n <= 0) return 0;
    pivots[n - 1] = 1;
    for (int k = 0; k < n - 1; ++k) {
        const int na = std::min(n, lb + k + 1);
        int m = k;
        for (int i = k + 1; i < na; ++i)
            if (std::fabs(a[i][k]) > std::fabs(a[m][k])) m = i;
        pivots[k] = m;
        double t = a[m][k];
        if (m != k) {
            pivots[n - 1] = -pivots[n - 1];
            a[m][k] = a[k][k];
            a[k][k] = t;
        }
        if (t == 0.0) {
            pivots[n - 1] = 0;
            return k + 1;
        }
        t = 1.0 / t;
        for (int i = k + 1; i < na; ++i) a[i][k] = -t * a[i][k];
        if (m != k) std::swap_ranges(a[m] + k + 1, a[m] + n, a[k] + k + 1);
        eliminate_rows(a, k, k + 1, na, n);
    }
    if (a[n - 1][n - 1] == 0.0) {
        pivots[n - 1] = 0;
        return n;
    }
    return 0;
}

// Forward pass limited to rows k+1 .. na-1, then back substitution over the full upper
// triangle. The back substitution runs along each row:
//   x_i = (b_i + sum over k = n-1 down to i+1 of a(i,k) * (-x_k)) / a(i,i),
// which adds the same terms in the same order as the column-ordered form.
void solve_real_limited(int n, double* const* a, int lb, double* b, const int* pivots) {
    if (n <= 0) return;
    for (int k = 0; k < n - 1; ++k) {
        const int na = std::min(n, lb + k + 1);
        const int m = pivots[k];
        const double t = b[m];
        b[m] = b[k];
        b[k] = t;
        for (int i = k + 1; i < na; ++i) b[i] = b[i] + a[i][k] * t;
    }
    for (int i = n - 1; i >= 0; --i) {
        const double* row = a[i];
        double s = b[i];
        for (int k = n - 1; k > i; --k) s = s + row[k] * -b[k];
        b[i] = s / row[i];
    }
}

int decompose_complex_limited(int n, double** ar, double** ai, int lb, int* pivots) {
    if (n <= 0) return 0;
    pivots[n - 1] = 1;
    if (lb != 0) {
        for (int k = 0; k < n - 1; ++k) {
            const int na = std::min(n, lb + k + 1);
            int m = k;
            for (int i = k + 1; i < na; ++i)
                if (magnitude(ar[i][k], ai[i][k]) > magnitude(ar[m][k], ai[m][k])) m = i;
            pivots[k] = m;
            double tr = 0.0;
            double ti = 0.0;
            if (!take_complex_pivot(ar[m][k], ai[m][k], ar[k][k], ai[k][k], m != k,
                                    pivots[n - 1], tr, ti))
                return k + 1;
            for (int i = k + 1; i < na; ++i) negate_multiplier(ar[i][k], ai[i][k], tr, ti);
            if (m != k) {
                std::swap_ranges(ar[m] + k + 1, ar[m] + n, ar[k] + k + 1);
                std::swap_ranges(ai[m] + k + 1, ai[m] + n, ai[k] + k + 1);
            }
            eliminate_rows_complex(ar, ai, k, k + 1, na, n);
        }
    }
    if (magnitude(ar[n - 1][n - 1], ai[n - 1][n - 1]) == 0.0) {
        pivots[n - 1] = 0;
        return n;
    }
    return 0;
}

// (br, bi) / (ur, ui)
void divide_complex(double& br, double& bi, double ur, double ui) {
    const double den = ur * ur + ui * ui;
    const double re = (br * ur + bi * ui) / den;
    const double im = (bi * ur - br * ui) / den;
    br = re;
    bi = im;
}

void solve_complex_limited(int n, double* const* ar, double* const* ai, int lb, double* br,
                           double* bi, const int* pivots) {
    if (n <= 0) return;
    if (lb != 0) {
        for (int k = 0; k < n - 1; ++k) {
            const int na = std::min(n, lb + k + 1);
            const int m = pivots[k];
            const double tr = br[m];
            const double ti = bi[m];
            br[m] = br[k];
            bi[m] = bi[k];
            br[k] = tr;
            bi[k] = ti;
            for (int i = k + 1; i < na; ++i) {
                const double lr = ar[i][k];
                const double li = ai[i][k];
                br[i] = br[i] + (lr * tr - li * ti);
                bi[i] = bi[i] + (li * tr + lr * ti);
            }
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        const double* rr = ar[i];
        const double* ri = ai[i];
        double sr = br[i];
        double si = bi[i];
        for (int k = n - 1; k > i; --k) {
            const double tr = -br[k];
            const double ti = -bi[k];
            sr = sr + (rr[k] * tr - ri[k] * ti);
            si = si + (ri[k] * tr + rr[k] * ti);
        }
        divide_complex(sr, si, rr[i], ri[i]);
        br[i] = sr;
        bi[i] = si;
    }
}

}  // namespace

int decompose_full(int n, double** a, int* pivots) {
    return decompose_real_limited(n, a, n - 1, pivots);
}

void solve_full(int n, double* const* a, double* b, const int* pivots) {
    solve_real_limited(n, a, n - 1, b, pivots);
}

int decompose_hessenberg(int n, double** a, int lb, int* pivots) {
    return decompose_real_limited(n, a, lb, pivots);
}

void solve_hessenberg(int n, double* const* a, int lb, double* b, const int* pivots) {
    solve_real_limited(n, a, lb, b, pivots);
}

int decompose_full_complex(int n, double** ar, double** ai, int* pivots) {
    // lb = n - 1 reaches every row; n = 1 gives lb = 0, which only tests the one element.
    return decompose_complex_limited(n, ar, ai, n - 1, pivots);
}

void solve_full_complex(int n, double* const* ar, double* const* ai, double* br, double* bi,
                        const int* pivots) {
    solve_complex_limited(n, ar, ai, n - 1, br, bi, pivots);
}

int decompose_hessenberg_complex(int n, double** ar, double** ai, int lb, int* pivots) {
    return decompose_complex_limited(n, ar, ai, lb, pivots);
}

void solve_hessenberg_complex(int n, double* const* ar, double* const* ai, int lb, double* br,
                              double* bi, const int* pivots) {
    solve_complex_limited(n, ar, ai, lb, br, bi, pivots);
}

// Band storage: element (i, j) of the full matrix is a[j][i - j + md], md = ml + mu, so the
// band part of each column is contiguous. Position md + r of column k holds the full row
// k + r; elimination step k adds to full row k + r, column j, i.e. to position
// md + r - (j - k) of column j. Every inner loop therefore runs along one or two columns.
int decompose_band(int n, double** a, int ml, int mu, int* pivots) {
    if (n <= 0) return 0;
    const int md = ml + mu;
    pivots[n - 1] = 1;
    if (ml != 0 && n != 1) {
        if (n >= mu + 2)
            for (int j = mu + 1; j < n; ++j)
                for (int i = 0; i < ml; ++i) a[j][i] = 0.0;
        int ju = 0;
        for (int k = 0; k < n - 1; ++k) {
            double* const ak = a[k];
            const int mdl = md + std::min(ml, n - 1 - k);
            int m = md;
            for (int i = md + 1; i <= mdl; ++i)
                if (std::fabs(ak[i]) > std::fabs(ak[m])) m = i;
            pivots[k] = m + k - md;
            double t = ak[m];
            if (m != md) {
                pivots[n - 1] = -pivots[n - 1];
                ak[m] = ak[md];
                ak[md] = t;
            }
            if (t == 0.0) {
                pivots[n - 1] = 0;
                return k + 1;
            }
            t = 1.0 / t;
            for (int i = md + 1; i <= mdl; ++i) ak[i] = -t * ak[i];
            ju = std::min(std::max(ju, mu + pivots[k] + 1), n);
            int mm = md;
            for (int j = k + 1; j < ju; ++j) {
                double* const aj = a[j];
                --m;
                --mm;
                t = aj[m];
                if (m != mm) {
                    aj[m] = aj[mm];
                    aj[mm] = t;
                }
                if (t == 0.0) continue;
                const int jk = j - k;
                for (int i = md + 1; i <= mdl; ++i) aj[i - jk] = aj[i - jk] + ak[i] * t;
            }
        }
    }
    if (a[n - 1][md] == 0.0) {
        pivots[n - 1] = 0;
        return n;
    }
    return 0;
}

void solve_band(int n, double* const* a, int ml, int mu, double* b, const int* pivots) {
    if (n <= 0) return;
    const int md = ml + mu;
    if (ml != 0 && n > 1) {
        for (int k = 0; k < n - 1; ++k) {
            const double* const ak = a[k];
            const int m = pivots[k];
            const double t = b[m];
            b[m] = b[k];
            b[k] = t;
            const int mdl = md + std::min(ml, n - 1 - k);
            for (int i = md + 1; i <= mdl; ++i) b[k + i - md] = b[k + i - md] + ak[i] * t;
        }
    }
    for (int k = n - 1; k >= 1; --k) {
        const double* const ak = a[k];
        b[k] = b[k] / ak[md];
        const double t = -b[k];
        for (int i = std::max(0, md - k); i < md; ++i) b[i - md + k] = b[i - md + k] + ak[i] * t;
    }
    b[0] = b[0] / a[0][md];
}

int decompose_band_complex(int n, double** ar, double** ai, int ml, int mu, int* pivots) {
    if (n <= 0) return 0;
    const int md = ml + mu;
    pivots[n - 1] = 1;
    if (ml != 0 && n != 1) {
        if (n >= mu + 2)
            for (int j = mu + 1; j < n; ++j)
                for (int i = 0; i < ml; ++i) {
                    ar[j][i] = 0.0;
                    ai[j][i] = 0.0;
                }
        int ju = 0;
        for (int k = 0; k < n - 1; ++k) {
            double* const akr = ar[k];
            double* const aki = ai[k];
            const int mdl = md + std::min(ml, n - 1 - k);
            int m = md;
            for (int i = md + 1; i <= mdl; ++i)
                if (magnitude(akr[i], aki[i]) > magnitude(akr[m], aki[m])) m = i;
            pivots[k] = m + k - md;
            double tr = 0.0;
            double ti = 0.0;
            if (!take_complex_pivot(akr[m], aki[m], akr[md], aki[md], m != md, pivots[n - 1], tr,
                                    ti))
                return k + 1;
            for (int i = md + 1; i <= mdl; ++i) negate_multiplier(akr[i], aki[i], tr, ti);
            ju = std::min(std::max(ju, mu + pivots[k] + 1), n);
            int mm = md;
            for (int j = k + 1; j < ju; ++j) {
                double* const ajr = ar[j];
                double* const aji = ai[j];
                --m;
                --mm;
                tr = ajr[m];
                ti = aji[m];
                if (m != mm) {
                    ajr[m] = ajr[mm];
                    aji[m] = aji[mm];
                    ajr[mm] = tr;
                    aji[mm] = ti;
                }
                if (magnitude(tr, ti) == 0.0) continue;
                const int jk = j - k;
                if (ti == 0.0) {
                    for (int i = md + 1; i <= mdl; ++i) {
                        ajr[i - jk] = ajr[i - jk] + akr[i] * tr;
                        aji[i - jk] = aji[i - jk] + aki[i] * tr;
                    }
                } else if (tr == 0.0) {
                    for (int i = md + 1; i <= mdl; ++i) {
                        ajr[i - jk] = ajr[i - jk] + -aki[i] * ti;
                        aji[i - jk] = aji[i - jk] + akr[i] * ti;
                    }
                } else {
                    for (int i = md + 1; i <= mdl; ++i) {
                        const double lr = akr[i];
                        const double li = aki[i];
                        ajr[i - jk] = ajr[i - jk] + (lr * tr - li * ti);
                        aji[i - jk] = aji[i - jk] + (li * tr + lr * ti);
                    }
                }
            }
        }
    }
    if (magnitude(ar[n - 1][md], ai[n - 1][md]) == 0.0) {
        pivots[n - 1] = 0;
        return n;
    }
    return 0;
}

void solve_band_complex(int n, double* const* ar, double* const* ai, int ml, int mu, double* br,
                        double* bi, const int* pivots) {
    if (n <= 0) return;
    const int md = ml + mu;
    if (ml != 0 && n > 1) {
        for (int k = 0; k < n - 1; ++k) {
            const double* const akr = ar[k];
            const double* const aki = ai[k];
            const int m = pivots[k];
            const double tr = br[m];
            const double ti = bi[m];
            br[m] = br[k];
            bi[m] = bi[k];
            br[k] = tr;
            bi[k] = ti;
            const int mdl = md + std::min(ml, n - 1 - k);
            for (int i = md + 1; i <= mdl; ++i) {
                const int r = k + i - md;
                const double lr = akr[i];
                const double li = aki[i];
                br[r] = br[r] + (lr * tr - li * ti);
                bi[r] = bi[r] + (li * tr + lr * ti);
            }
        }
    }
    for (int k = n - 1; k >= 1; --k) {
        const double* const akr = ar[k];
        const double* const aki = ai[k];
        divide_complex(br[k], bi[k], akr[md], aki[md]);
        const double tr = -br[k];
        const double ti = -bi[k];
        for (int i = std::max(0, md - k); i < md; ++i) {
            const int r = i - md + k;
            const double ur = akr[i];
            const double ui = aki[i];
            br[r] = br[r] + (ur * tr - ui * ti);
            bi[r] = bi[r] + (ui * tr + ur * ti);
        }
    }
    divide_complex(br[0], bi[0], ar[0][md], ai[0][md]);
}

void reduce_to_hessenberg(int n, int low, int igh, double** a, int* interchanges) {
    if (igh - 2 < low + 1) return;
    for (int m = low + 1; m <= igh - 2; ++m) {
        double x = 0.0;
        int i = m;
        for (int j = m; j < igh; ++j) {
            if (std::fabs(a[j][m - 1]) > std::fabs(x)) {
                x = a[j][m - 1];
                i = j;
            }
        }
        interchanges[m] = i;
        if (i != m) {
            for (int j = m - 1; j < n; ++j) std::swap(a[i][j], a[m][j]);
            for (int j = 0; j < igh; ++j) std::swap(a[j][i], a[j][m]);
        }
        if (x == 0.0) continue;
        for (int r = m + 1; r < igh; ++r) {
            double y = a[r][m - 1];
            if (y == 0.0) continue;
            y = y / x;
            a[r][m - 1] = y;
            for (int j = m; j < n; ++j) a[r][j] = a[r][j] - y * a[m][j];
            for (int j = 0; j < igh; ++j) a[j][m] = a[j][m] + y * a[j][r];
        }
    }
}

// S^-1 applies P_1, L_1^-1, P_2, ... in increasing m; S applies L_{n-2}, P_{n-2}, ..., L_1,
// P_1 in decreasing m.
void into_hessenberg_basis(int n, const double* const* a, const int* interchanges, double* v) {
    for (int mp = 1; mp <= n - 2; ++mp) {
        const int i = interchanges[mp];
        if (i != mp) std::swap(v[mp], v[i]);
        const double vm = v[mp];
        for (int r = mp + 1; r < n; ++r) v[r] = v[r] - a[r][mp - 1] * vm;
    }
}

void out_of_hessenberg_basis(int n, const double* const* a, const int* interchanges, double* v) {
    for (int mp = n - 2; mp >= 1; --mp) {
        const double vm = v[mp];
        for (int r = mp + 1; r < n; ++r) v[r] = v[r] + a[r][mp - 1] * vm;
        const int i = interchanges[mp];
        if (i != mp) std::swap(v[mp], v[i]);
    }
}

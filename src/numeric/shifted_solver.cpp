#include "numeric/shifted_solver.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "numeric/block_tridiagonal.h"
#include "numeric/linear_solvers.h"

namespace {

// In-place LU with partial pivoting of the complex m x m matrix (re, im), by rows; whole
// rows are interchanged, pivot[c] is the row swapped with row c, and (invr, invi) keep
// the reciprocals of U's diagonal. False at an exact zero pivot.
bool factor_block(int m, double* re, double* im, int* pivot, double* invr, double* invi) {
    for (int c = 0; c < m; ++c) {
        int p = c;
        double largest = std::fabs(re[c * m + c]) + std::fabs(im[c * m + c]);
        for (int r = c + 1; r < m; ++r) {
            const double v = std::fabs(re[r * m + c]) + std::fabs(im[r * m + c]);
            if (v > largest) {
                largest = v;
                p = r;
            }
        }
        pivot[c] = p;
        if (largest == 0) return false;
        if (p != c)
            for (int j = 0; j < m; ++j) {
                std::swap(re[c * m + j], re[p * m + j]);
                std::swap(im[c * m + j], im[p * m + j]);
            }
        const double ar = re[c * m + c];
        const double ai = im[c * m + c];
        const double norm = ar * ar + ai * ai;
        invr[c] = ar / norm;
        invi[c] = -ai / norm;
        for (int r = c + 1; r < m; ++r) {
            const double xr = re[r * m + c];
            const double xi = im[r * m + c];
            const double lr = xr * invr[c] - xi * invi[c];
            const double li = xr * invi[c] + xi * invr[c];
            re[r * m + c] = lr;
            im[r * m + c] = li;
            for (int j = c + 1; j < m; ++j) {
                const double ur = re[c * m + j];
                const double ui = im[c * m + j];
                re[r * m + j] -= lr * ur - li * ui;
                im[r * m + j] -= lr * ui + li * ur;
            }
        }
    }
    return true;
}

// Solves with the factors of factor_block for the `cols` right-hand sides held by rows in
// the m x cols matrix (wr, wi), in place.
// One right-hand side: the same operations in the same order, without the loops over
// columns (the sweeps of every frequency take this path).
void solve_block_vector(int m, const double* re, const double* im, const int* pivot,
                        const double* invr, const double* invi, double* vr, double* vi) {
    for (int c = 0; c < m; ++c) {
        const int p = pivot[c];
        if (p == c) continue;
        std::swap(vr[c], vr[p]);
        std::swap(vi[c], vi[p]);
    }
    for (int c = 0; c < m; ++c) {
        const double xr = vr[c];
        const double xi = vi[c];
        for (int r = c + 1; r < m; ++r) {
            const double lr = re[r * m + c];
            const double li = im[r * m + c];
            vr[r] -= lr * xr - li * xi;
            vi[r] -= lr * xi + li * xr;
        }
    }
    for (int c = m - 1; c >= 0; --c) {
        double tr = vr[c];
        double ti = vi[c];
        for (int j = c + 1; j < m; ++j) {
            const double ur = re[c * m + j];
            const double ui = im[c * m + j];
            tr -= ur * vr[j] - ui * vi[j];
            ti -= ur * vi[j] + ui * vr[j];
        }
        vr[c] = tr * invr[c] - ti * invi[c];
        vi[c] = tr * invi[c] + ti * invr[c];
    }
}

void solve_block(int m, const double* re, const double* im, const int* pivot, const double* invr,
                 const double* invi, int cols, double* wr, double* wi) {
    if (cols == 1) {
        solve_block_vector(m, re, im, pivot, invr, invi, wr, wi);
        return;
    }
    // the interchanges moved whole rows, multipliers included: P first, then L and U
    for (int c = 0; c < m; ++c) {
        const int p = pivot[c];
        if (p == c) continue;
        for (int q = 0; q < cols; ++q) {
            std::swap(wr[c * cols + q], wr[p * cols + q]);
            std::swap(wi[c * cols + q], wi[p * cols + q]);
        }
    }
    for (int c = 0; c < m; ++c) {
        const double* vr = wr + c * cols;
        const double* vi = wi + c * cols;
        for (int r = c + 1; r < m; ++r) {
            const double lr = re[r * m + c];
            const double li = im[r * m + c];
            double* tr = wr + r * cols;
            double* ti = wi + r * cols;
            for (int q = 0; q < cols; ++q) {
                tr[q] -= lr * vr[q] - li * vi[q];
                ti[q] -= lr * vi[q] + li * vr[q];
            }
        }
    }
    for (int c = m - 1; c >= 0; --c) {
        double* tr = wr + c * cols;
        double* ti = wi + c * cols;
        for (int j = c + 1; j < m; ++j) {
            const double ur = re[c * m + j];
            const double ui = im[c * m + j];
            const double* vr = wr + j * cols;
            const double* vi = wi + j * cols;
            for (int q = 0; q < cols; ++q) {
                tr[q] -= ur * vr[q] - ui * vi[q];
                ti[q] -= ur * vi[q] + ui * vr[q];
            }
        }
        for (int q = 0; q < cols; ++q) {
            const double sr = tr[q];
            const double si = ti[q];
            tr[q] = sr * invr[c] - si * invi[c];
            ti[q] = sr * invi[c] + si * invr[c];
        }
    }
}

}  // namespace

ShiftedSolver ShiftedSolver::band(int n, int lower, int upper, const double* const* a,
                                  bool blocks) {
    ShiftedSolver s;
    s.n_ = n;
    s.lower_ = lower;
    s.upper_ = upper;
    s.bandRows_.resize(lower + upper + 1, n);
    for (int r = 0; r < lower + upper + 1; ++r)
        std::copy(a[r], a[r] + n, s.bandRows_[r]);
    s.rowStart_.assign(1, 0);
    for (int i = 0; i < n; ++i) {
        for (int j = std::max(0, i - lower); j <= std::min(n - 1, i + upper); ++j) {
            const double v = a[i - j + upper][j];
            if (v == 0) continue;
            s.col_.push_back(j);
            s.val_.push_back(v);
        }
        s.rowStart_.push_back(static_cast<int>(s.col_.size()));
    }
    if (blocks) {
        s.analyse_blocks();
    } else {
        s.kind_ = Kind::band;
        s.shifted_ = SquareMatrix(SquareMatrix::Layout::band, n, true, lower, upper);
    }
    return s;
}

ShiftedSolver ShiftedSolver::full(int n, const double* const* a) {
    ShiftedSolver s;
    s.kind_ = Kind::hessenberg;
    s.n_ = n;
    s.hess_.resize(n, n);
    for (int i = 0; i < n; ++i) std::copy(a[i], a[i] + n, s.hess_[i]);
    s.interchanges_.assign(static_cast<std::size_t>(n), 0);
    reduce_to_hessenberg(n, 0, n, s.hess_.ptr(), s.interchanges_.data());
    s.shifted_ = SquareMatrix(SquareMatrix::Layout::hessenberg, n, true);
    s.rhs_.assign(static_cast<std::size_t>(n), 0.0);
    return s;
}

// Splits 0 .. n-1 into blocks by the couplings of A's non-zeros.
void ShiftedSolver::analyse_blocks() {
    const int n = n_;
    std::vector<int> reach(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) reach[static_cast<std::size_t>(i)] = i;
    for (int i = 0; i < n; ++i)
        for (int e = rowStart_[i]; e < rowStart_[i + 1]; ++e) {
            const int j = col_[static_cast<std::size_t>(e)];
            const int lo = std::min(i, j);
            reach[static_cast<std::size_t>(lo)] = std::max(reach[static_cast<std::size_t>(lo)], std::max(i, j));
        }
    size_ = tridiagonal_partition(reach);
    start_.clear();
    for (int k = 0, at = 0; k < static_cast<int>(size_.size()); at += size_[k], ++k)
        start_.push_back(at);
    // cost of a block LU (factor, couplings) against the band LU, in multiply-adds
    double blockWork = 0;
    for (int b : size_) blockWork += 3.0 * b * b * b;
    const double bandWork = static_cast<double>(n) * (lower_ + 1) * (lower_ + upper_ + 1);
    if (blockWork >= bandWork || n == 0) {
        kind_ = Kind::band;
        start_.clear();
        size_.clear();
        shifted_ = SquareMatrix(SquareMatrix::Layout::band, n, true, lower_, upper_);
        return;
    }
    kind_ = Kind::blocks;

    const int blocks = static_cast<int>(size_.size());
    std::vector<int> blockOf(static_cast<std::size_t>(n));
    for (int k = 0; k < blocks; ++k)
        for (int p = start_[k]; p < start_[k] + size_[k]; ++p) blockOf[static_cast<std::size_t>(p)] = k;
    std::size_t diagSize = 0, xSize = 0, upSize = 0;
    lowAt_.assign(1, 0);
    upColAt_.assign(1, 0);
    for (int k = 0; k < blocks; ++k) {
        const int b = size_[k];
        diagAt_.push_back(diagSize);
        diagSize += static_cast<std::size_t>(b) * b;
        diagVal_.resize(diagSize, 0.0);
        // the upper coupling's non-zero columns, in increasing order
        std::vector<int> cols;
        for (int i = start_[k]; i < start_[k] + b; ++i)
            for (int e2 = rowStart_[i]; e2 < rowStart_[i + 1]; ++e2) {
                const int j = col_[static_cast<std::size_t>(e2)];
                const int kj = blockOf[static_cast<std::size_t>(j)];
                const double v = val_[static_cast<std::size_t>(e2)];
                if (kj == k) {
                    diagVal_[diagAt_[k] + static_cast<std::size_t>((i - start_[k]) * b + j - start_[k])] = v;
                } else if (kj == k - 1) {
                    lowRow_.push_back(i - start_[k]);
                    lowCol_.push_back(j - start_[kj]);
                    lowVal_.push_back(v);
                } else {
                    cols.push_back(j - start_[kj]);
                }
            }
        std::sort(cols.begin(), cols.end());
        cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
        lowAt_.push_back(static_cast<int>(lowVal_.size()));
        upCols_.insert(upCols_.end(), cols.begin(), cols.end());
        upColAt_.push_back(static_cast<int>(upCols_.size()));
        upAt_.push_back(upSize);
        upSize += cols.size() * static_cast<std::size_t>(b);
        xAt_.push_back(xSize);
        xSize += cols.size() * static_cast<std::size_t>(b);
        upVal_.resize(upSize, 0.0);
        for (std::size_t q = 0; q < cols.size(); ++q) {
            const int j = start_[k + 1] + cols[q];
            for (int i = start_[k]; i < start_[k] + b; ++i) {
                const int lo = std::max(0, i - lower_);
                if (j < lo || j > i + upper_) continue;
                upVal_[upAt_[k] + q * static_cast<std::size_t>(b) + static_cast<std::size_t>(i - start_[k])] =
                    bandRows_[i - j + upper_][j];
            }
        }
    }
    dRe_.assign(diagSize, 0.0);
    dIm_.assign(diagSize, 0.0);
    invRe_.assign(static_cast<std::size_t>(n), 0.0);
    invIm_.assign(static_cast<std::size_t>(n), 0.0);
    rRe_.assign(static_cast<std::size_t>(n), 0.0);
    rIm_.assign(static_cast<std::size_t>(n), 0.0);
    xRe_.assign(xSize, 0.0);
    xIm_.assign(xSize, 0.0);
    pivot_.assign(static_cast<std::size_t>(n), 0);
}

bool ShiftedSolver::solve(double sr, double si, const double* b, double* xr, double* xi) {
    switch (kind_) {
        case Kind::hessenberg:
            return solve_hessenberg(sr, si, b, xr, xi);
        case Kind::band:
            return solve_band(sr, si, b, xr, xi);
        case Kind::blocks:
            if (solve_blocks(sr, si, b, xr, xi)) return true;

            ++fallbacks_;
            if (shifted_.order() != n_)
                shifted_ = SquareMatrix(SquareMatrix::Layout::band, n_, true, lower_, upper_);
            return solve_band(sr, si, b, xr, xi);
    }
    return false;
}

bool ShiftedSolver::factor_blocks(double sr, double si) {
    const int blocks = static_cast<int>(size_.size());
    for (int k = 0; k < blocks; ++k) {
        const int m = size_[k];
        const int s0 = start_[k];
        double* dr = dRe_.data() + diagAt_[k];
        double* di = dIm_.data() + diagAt_[k];
        // D_k = s I - A_kk - A_k,k-1 X_k-1
        const double* a = diagVal_.data() + diagAt_[k];
        for (int i = 0; i < m * m; ++i) {
            dr[i] = -a[i];
            di[i] = 0;
        }
        for (int i = 0; i < m; ++i) {
            if (!shifted_row(s0 + i)) continue;
            dr[i * m + i] += sr;
            di[i * m + i] += si;
        }
        if (k > 0) {
            const int c0 = upColAt_[k - 1];
            const int nc = upColAt_[k] - c0;
            const double* pr = xRe_.data() + xAt_[k - 1];
            const double* pi = xIm_.data() + xAt_[k - 1];
            for (int e = lowAt_[k]; e < lowAt_[k + 1]; ++e) {
                const int r = lowRow_[static_cast<std::size_t>(e)];
                const int c = lowCol_[static_cast<std::size_t>(e)];
                const double v = lowVal_[static_cast<std::size_t>(e)];
                for (int q = 0; q < nc; ++q) {
                    const int col = upCols_[static_cast<std::size_t>(c0 + q)];
                    dr[r * m + col] -= v * pr[c * nc + q];
                    di[r * m + col] -= v * pi[c * nc + q];
                }
            }
        }
        double* invr = invRe_.data() + start_[k];
        double* invi = invIm_.data() + start_[k];
        int* pivot = pivot_.data() + start_[k];
        if (!factor_block(m, dr, di, pivot, invr, invi)) return false;
        if (k + 1 == blocks) break;
        // X_k = D_k^-1 A_k,k+1 on its non-zero columns, by rows
        const int nc = upColAt_[k + 1] - upColAt_[k];
        double* pr = xRe_.data() + xAt_[k];
        double* pi = xIm_.data() + xAt_[k];
        const double* u = upVal_.data() + upAt_[k];
        for (int i = 0; i < m; ++i)
            for (int q = 0; q < nc; ++q) {
                pr[i * nc + q] = u[q * m + i];
                pi[i * nc + q] = 0;
            }
        solve_block(m, dr, di, pivot, invr, invi, nc, pr, pi);
    }
    return true;
}

void ShiftedSolver::sweep_blocks(double* xr, double* xi) const {
    const int blocks = static_cast<int>(size_.size());
    // y_k = D_k^-1 (b_k + A_k,k-1 y_k-1), in place of b
    for (int k = 0; k < blocks; ++k) {
        const int m = size_[k];
        double* yr = xr + start_[k];
        double* yi = xi + start_[k];
        if (k > 0) {
            const double* prevR = xr + start_[k - 1];
            const double* prevI = xi + start_[k - 1];
            for (int e = lowAt_[k]; e < lowAt_[k + 1]; ++e) {
                const int r = lowRow_[static_cast<std::size_t>(e)];
                const int c = lowCol_[static_cast<std::size_t>(e)];
                const double v = lowVal_[static_cast<std::size_t>(e)];
                yr[r] += v * prevR[c];
                yi[r] += v * prevI[c];
            }
        }
        solve_block(m, dRe_.data() + diagAt_[k], dIm_.data() + diagAt_[k], pivot_.data() + start_[k],
                    invRe_.data() + start_[k], invIm_.data() + start_[k], 1, yr, yi);
    }
    // x_k = y_k + X_k x_k+1
    for (int k = blocks - 2; k >= 0; --k) {
        const int m = size_[k];
        const int c0 = upColAt_[k];
        const int nc = upColAt_[k + 1] - c0;
        const double* pr = xRe_.data() + xAt_[k];
        const double* pi = xIm_.data() + xAt_[k];
        const double* nextR = xr + start_[k + 1];
        const double* nextI = xi + start_[k + 1];
        double* yr = xr + start_[k];
        double* yi = xi + start_[k];
        for (int i = 0; i < m; ++i) {
            double accR = 0, accI = 0;
            for (int q = 0; q < nc; ++q) {
                const int col = upCols_[static_cast<std::size_t>(c0 + q)];
                const double ar = pr[i * nc + q];
                const double ai = pi[i * nc + q];
                accR += ar * nextR[col] - ai * nextI[col];
                accI += ar * nextI[col] + ai * nextR[col];
            }
            yr[i] += accR;
            yi[i] += accI;
        }
    }
}

bool ShiftedSolver::solve_blocks(double sr, double si, const double* b, double* xr, double* xi) {
    if (!factor_blocks(sr, si)) return false;
    std::copy(b, b + n_, xr);
    std::fill(xi, xi + n_, 0.0);
    sweep_blocks(xr, xi);
    // Without interchanges between blocks the factors can grow near a singular block; a
    // step or two of iterative refinement with them restores a small backward error.
    for (int step = 0; step <= kRefinements; ++step) {
        if (residual(sr, si, b, xr, xi) <= kBackwardErrorLimit) return true;
        if (step == kRefinements) break;
        sweep_blocks(rRe_.data(), rIm_.data());
        for (int i = 0; i < n_; ++i) {
            xr[i] += rRe_[static_cast<std::size_t>(i)];
            xi[i] += rIm_[static_cast<std::size_t>(i)];
        }
    }
    return false;
}

double ShiftedSolver::residual(double sr, double si, const double* b, const double* xr,
                               const double* xi) {
    // Componentwise: the rows of a discretised system differ in scale by many orders, and a
    // residual small against the norms of the whole can still be large in a row of small
    // entries.
    double worst = 0, worstAlgebraic = 0;
    const double shift = std::fabs(sr) + std::fabs(si);
    for (int i = 0; i < n_; ++i) {
        // r = b - s x + A x, against |b| + |s| |x| + |A| |x| (moduli bounded by |re| + |im|)
        double rr = b[i];
        double ri = 0;
        double size = std::fabs(b[i]);
        if (shifted_row(i)) {
            rr -= sr * xr[i] - si * xi[i];
            ri -= sr * xi[i] + si * xr[i];
            size += shift * (std::fabs(xr[i]) + std::fabs(xi[i]));
        }
        for (int e = rowStart_[i]; e < rowStart_[i + 1]; ++e) {
            const double v = val_[static_cast<std::size_t>(e)];
            const int j = col_[static_cast<std::size_t>(e)];
            rr += v * xr[j];
            ri += v * xi[j];
            size += std::fabs(v) * (std::fabs(xr[j]) + std::fabs(xi[j]));
        }
        rRe_[static_cast<std::size_t>(i)] = rr;
        rIm_[static_cast<std::size_t>(i)] = ri;
        const double r = std::fabs(rr) + std::fabs(ri);
        if (!(r <= size)) {  // a NaN, or more than the row's own size
            if (r == 0) continue;
            return INFINITY;
        }
        if (size == 0) continue;
        double& largest = shifted_row(i) ? worst : worstAlgebraic;
        largest = std::max(largest, r / size);
    }
    // in the units of kBackwardErrorLimit
    return std::max(worst, worstAlgebraic * (kBackwardErrorLimit / kAlgebraicErrorLimit));
}

bool ShiftedSolver::solve_band(double sr, double si, const double* b, double* xr, double* xi) {
    // column j of s I - A: band row r of A at position r + lower of the column
    double** re = shifted_.re();
    double** im = shifted_.im();
    const int rows = lower_ + upper_ + 1;
    for (int j = 0; j < n_; ++j) {
        std::fill(re[j], re[j] + lower_, 0.0);
        std::fill(im[j], im[j] + lower_ + rows, 0.0);
        for (int r = 0; r < rows; ++r) re[j][lower_ + r] = -bandRows_[r][j];
        if (!shifted_row(j)) continue;
        re[j][shifted_.diagonal_row()] += sr;
        im[j][shifted_.diagonal_row()] = si;
    }
    if (shifted_.factor() != 0) return false;
    std::copy(b, b + n_, xr);
    std::fill(xi, xi + n_, 0.0);
    shifted_.solve(xr, xi);
    return true;
}

bool ShiftedSolver::solve_hessenberg(double sr, double si, const double* b, double* xr,
                                     double* xi) {
    double** re = shifted_.re();
    double** im = shifted_.im();
    for (int i = 0; i < n_; ++i) {
        for (int j = std::max(0, i - 1); j < n_; ++j) {
            re[i][j] = -hess_[i][j];
            im[i][j] = 0;
        }
        re[i][i] += sr;
        im[i][i] = si;
    }
    if (shifted_.factor() != 0) return false;
    std::copy(b, b + n_, xr);
    into_hessenberg_basis(n_, hess_.ptr(), interchanges_.data(), xr);
    std::fill(xi, xi + n_, 0.0);
    shifted_.solve(xr, xi);
    out_of_hessenberg_basis(n_, hess_.ptr(), interchanges_.data(), xr);
    out_of_hessenberg_basis(n_, hess_.ptr(), interchanges_.data(), xi);
    return true;
}

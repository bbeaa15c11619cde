#include "numeric/block_tridiagonal.h"

#include <algorithm>
#include <cmath>
#include <utility>

std::vector<int> tridiagonal_partition(const std::vector<int>& reach) {
    const int n = static_cast<int>(reach.size());
    // Each block after the first is as short as it may be; the first block's length sets
    // where the others fall, and is chosen for the least work (blocks that match the
    // nodes of a point order couple fewer unknowns of their neighbours).
    auto partition = [&](int firstEnd, std::vector<int>& sizes) {
        sizes.clear();
        int s = 0;
        int e = std::min(firstEnd, n);
        while (s < n) {
            sizes.push_back(e - s);
            int far = s;
            for (int p = s; p < e; ++p) far = std::max(far, reach[static_cast<std::size_t>(p)]);
            const int next = std::min(n, std::max(e + 1, far + 1));
            s = e;
            e = next;
        }
        double work = 0;
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const double b = sizes[k];
            work += b * b * (b + (k + 1 < sizes.size() ? sizes[k + 1] : 0));
        }
        return work;
    };
    double best = -1;
    std::vector<int> sizes, chosen;
    for (int firstEnd = 1; firstEnd <= std::min(n, reach.empty() ? 1 : reach[0] + 1); ++firstEnd) {
        const double work = partition(firstEnd, sizes);
        if (best >= 0 && work >= best) continue;
        best = work;
        chosen = sizes;
    }
    return chosen;
}

BlockTridiagonal::BlockTridiagonal(const std::vector<int>& sizes, bool complex) {
    auto layout = std::make_shared<Layout>();
    layout->size = sizes;
    const int blocks = static_cast<int>(sizes.size());
    std::size_t at = 0;
    for (int k = 0; k < blocks; ++k) {
        const int before = k > 0 ? sizes[k - 1] : 0;
        const int after = k + 1 < blocks ? sizes[k + 1] : 0;
        layout->start.push_back(n_);
        layout->first.push_back(n_ - before);
        layout->width.push_back(before + sizes[k] + after);
        layout->blockAt.push_back(at);
        layout->blockOf.insert(layout->blockOf.end(), static_cast<std::size_t>(sizes[k]), k);
        at += static_cast<std::size_t>(sizes[k]) * static_cast<std::size_t>(layout->width.back());
        n_ += sizes[k];
    }
    layout_ = std::move(layout);
    allocate(complex, at, true);
}

BlockTridiagonal::BlockTridiagonal(const BlockTridiagonal& shape, bool complex, bool factorable)
    : n_(shape.n_), layout_(shape.layout_) {
    allocate(complex, shape.re_.size(), factorable);
}

void BlockTridiagonal::allocate(bool complex, std::size_t entries, bool factorable) {
    complex_ = complex;
    re_.assign(entries, 0.0);
    if (complex_) im_.assign(entries, 0.0);
    if (!factorable) return;
    const auto n = static_cast<std::size_t>(n_);
    invRe_.assign(n, 0.0);
    if (complex_) invIm_.assign(n, 0.0);
    pivot_.assign(n, 0);
}

namespace {

// The rows of one block: values by rows of `w`, real part and (complex) imaginary part.
struct BlockRows {
    double* re;
    double* im;
    int w;
    std::size_t at(int r, int c) const { return static_cast<std::size_t>(r) * w + c; }
};

// a -= m b for real or complex numbers (imaginary parts ignored when not Complex)
template <bool Complex>
inline void subtract_product(double& ar, double& ai, double mr, double mi, double br, double bi) {
    if constexpr (Complex) {
        ar -= mr * br - mi * bi;
        ai -= mr * bi + mi * br;
    } else {
        (void)ai;
        (void)mi;
        (void)bi;
        ar -= mr * br;
    }
}

}  // namespace

int BlockTridiagonal::factor() {
    int ier = factor_part(Part::top);
    const int bottom = factor_part(Part::bottom);
    if (ier == 0) ier = bottom;
    const int middle = factor_middle();
    if (ier == 0) ier = middle;
    factored_ = ier == 0;
    return ier;
}

int BlockTridiagonal::factor_part(Part part) {
    // the top part alone marks the factors stale: the bottom part may run at the same time;
    // each part notes its own failure, which the middle block reads
    if (part == Part::top) factored_ = false;
    const int ier = complex_ ? factor_part<true>(part) : factor_part<false>(part);
    partFailed_[part == Part::top ? 0 : 1] = ier != 0;
    return ier;
}

int BlockTridiagonal::factor_middle() {
    const int ier = complex_ ? factor_middle<true>() : factor_middle<false>();
    factored_ = ier == 0 && !partFailed_[0] && !partFailed_[1];
    return ier;
}

template <bool Complex>
int BlockTridiagonal::factor_part(Part part) {
    const int blocks = this->blocks();
    const int m = middle_ < 0 || middle_ >= blocks ? blocks - 1 : middle_;
    if (part == Part::top) {
        growth_[0] = 0;
        for (int k = 0; k < m; ++k) {
            if (k > 0) schur_update<Complex>(k, k - 1);
            const int before = k > 0 ? lay().size[k - 1] : 0;
            if (const int ier = factor_diagonal<Complex>(k, before + lay().size[k], lay().width[k], growth_[0]))
                return ier;
        }
    } else {
        growth_[1] = 0;
        for (int k = blocks - 1; k > m; --k) {
            if (k < blocks - 1) schur_update<Complex>(k, k + 1);
            const int before = lay().size[k - 1];
            if (const int ier = factor_diagonal<Complex>(k, 0, before, growth_[1])) return ier;
        }
    }
    return 0;
}

template <bool Complex>
int BlockTridiagonal::factor_middle() {
    const int blocks = this->blocks();
    if (blocks == 0) return 0;
    const int m = middle_ < 0 || middle_ >= blocks ? blocks - 1 : middle_;
    if (m > 0) schur_update<Complex>(m, m - 1);
    if (m < blocks - 1) schur_update<Complex>(m, m + 1);
    double unused = 0;
    return factor_diagonal<Complex>(m, 0, 0, unused);
}

// D_target -= (coupling to source) (source's D^-1 coupling back): the top part's
// L_k W_k-1 when source = target - 1, the bottom part's U_k V_k+1 when source = target + 1.
template <bool Complex>
void BlockTridiagonal::schur_update(int target, int source) {
    const int st = lay().size[target];
    const int ss = lay().size[source];
    const int beforeT = target > 0 ? lay().size[target - 1] : 0;
    const int beforeS = source > 0 ? lay().size[source - 1] : 0;
    const bool fromAbove = source < target;
    const int couplingFirst = fromAbove ? 0 : beforeT + st;  // in the target's rows
    const int sourceFirst = fromAbove ? beforeS + ss : 0;    // W or V in the source's rows
    const std::size_t tb = row_at(lay().start[target]);
    const std::size_t sb = row_at(lay().start[source]);
    const BlockRows t{re_.data() + tb, Complex ? im_.data() + tb : nullptr, lay().width[target]};
    const BlockRows s{re_.data() + sb, Complex ? im_.data() + sb : nullptr, lay().width[source]};
    for (int r = 0; r < st; ++r) {
        for (int q = 0; q < ss; ++q) {
            const double lr = t.re[t.at(r, couplingFirst + q)];
            const double li = Complex ? t.im[t.at(r, couplingFirst + q)] : 0.0;
            if (lr == 0.0 && li == 0.0) continue;
            double* const dr = t.re + t.at(r, beforeT);
            double* const di = Complex ? t.im + t.at(r, beforeT) : nullptr;
            const double* const wr = s.re + s.at(q, sourceFirst);
            const double* const wi = Complex ? s.im + s.at(q, sourceFirst) : nullptr;
            for (int c = 0; c < st; ++c) {
                double unused = 0;
                subtract_product<Complex>(dr[c], Complex ? di[c] : unused, lr, li, wr[c],
                                          Complex ? wi[c] : 0.0);
            }
        }
    }
}

// LU with partial pivoting of the diagonal block of block k, whole rows interchanged, the
// row operations carried to the columns xFirst .. xEnd-1 of its rows as well, which then
// become D^-1 (those columns); growth takes their largest element.
template <bool Complex>
int BlockTridiagonal::factor_diagonal(int k, int xFirst, int xEnd, double& growth) {
    const int s = lay().size[k];
    const int before = k > 0 ? lay().size[k - 1] : 0;
    const int w = lay().width[k];
    const int start = lay().start[k];
    const std::size_t base = row_at(start);
    const BlockRows a{re_.data() + base, Complex ? im_.data() + base : nullptr, w};
    auto size_of = [&](int r, int c) {
        const double v = std::fabs(a.re[a.at(r, c)]);
        return Complex ? v + std::fabs(a.im[a.at(r, c)]) : v;
    };
    for (int c = 0; c < s; ++c) {
        const int dc = before + c;
        int p = c;
        double largest = size_of(c, dc);
        for (int r = c + 1; r < s; ++r) {
            const double v = size_of(r, dc);
            if (v > largest) {
                largest = v;
                p = r;
            }
        }
        pivot_[static_cast<std::size_t>(start + c)] = start + p;
        if (largest == 0.0) return start + c + 1;
        if (p != c) {
            std::swap_ranges(a.re + a.at(c, 0), a.re + a.at(c, w), a.re + a.at(p, 0));
            if constexpr (Complex)
                std::swap_ranges(a.im + a.at(c, 0), a.im + a.at(c, w), a.im + a.at(p, 0));
        }
        double invr = 0;
        double invi = 0;
        if constexpr (Complex) {
            const double pr = a.re[a.at(c, dc)];
            const double pi = a.im[a.at(c, dc)];
            const double norm = pr * pr + pi * pi;
            invr = pr / norm;
            invi = -pi / norm;
            invIm_[static_cast<std::size_t>(start + c)] = invi;
        } else {
            invr = 1.0 / a.re[a.at(c, dc)];
        }
        invRe_[static_cast<std::size_t>(start + c)] = invr;
        const double* const cr = a.re + a.at(c, 0);
        const double* const ci = Complex ? a.im + a.at(c, 0) : nullptr;
        for (int r = c + 1; r < s; ++r) {
            double* const rr = a.re + a.at(r, 0);
            double* const ri = Complex ? a.im + a.at(r, 0) : nullptr;
            double mr = rr[dc] * invr;
            double mi = 0;
            if constexpr (Complex) {
                mr = rr[dc] * invr - ri[dc] * invi;
                mi = rr[dc] * invi + ri[dc] * invr;
                ri[dc] = mi;
            }
            rr[dc] = mr;
            if (mr == 0.0 && mi == 0.0) continue;
            double unused = 0;
            for (int j = dc + 1; j < before + s; ++j)
                subtract_product<Complex>(rr[j], Complex ? ri[j] : unused, mr, mi, cr[j],
                                          Complex ? ci[j] : 0.0);
            for (int j = xFirst; j < xEnd; ++j)
                subtract_product<Complex>(rr[j], Complex ? ri[j] : unused, mr, mi, cr[j],
                                          Complex ? ci[j] : 0.0);
        }
    }
    // the carried columns times U^-1, row by row from the last
    for (int r = s - 1; r >= 0; --r) {
        double* const rr = a.re + a.at(r, 0);
        double* const ri = Complex ? a.im + a.at(r, 0) : nullptr;
        double unused = 0;
        for (int q = r + 1; q < s; ++q) {
            const double ur = rr[before + q];
            const double ui = Complex ? ri[before + q] : 0.0;
            if (ur == 0.0 && ui == 0.0) continue;
            const double* const qr = a.re + a.at(q, 0);
            const double* const qi = Complex ? a.im + a.at(q, 0) : nullptr;
            for (int j = xFirst; j < xEnd; ++j)
                subtract_product<Complex>(rr[j], Complex ? ri[j] : unused, ur, ui, qr[j],
                                          Complex ? qi[j] : 0.0);
        }
        const double invr = invRe_[static_cast<std::size_t>(start + r)];
        if constexpr (Complex) {
            const double invi = invIm_[static_cast<std::size_t>(start + r)];
            for (int j = xFirst; j < xEnd; ++j) {
                const double vr = rr[j];
                const double vi = ri[j];
                rr[j] = vr * invr - vi * invi;
                ri[j] = vr * invi + vi * invr;
                growth = std::max(growth, std::fabs(rr[j]) + std::fabs(ri[j]));
            }
        } else {
            for (int j = xFirst; j < xEnd; ++j) {
                rr[j] *= invr;
                growth = std::max(growth, std::fabs(rr[j]));
            }
        }
    }
    return 0;
}

void BlockTridiagonal::solve(double* br, double* bi) const {
    solve_part(Part::top, br, bi);
    solve_part(Part::bottom, br, bi);
    solve_middle(br, bi);
    back_part(Part::top, br, bi);
    back_part(Part::bottom, br, bi);
}

void BlockTridiagonal::solve_part(Part part, double* br, double* bi) const {
    const int blocks = this->blocks();
    const int m = middle_ < 0 || middle_ >= blocks ? blocks - 1 : middle_;
    auto one = [&](int k, int first, int count, int neighbour) {
        const double* const yr = count > 0 ? br + lay().start[neighbour] : nullptr;
        const double* const yi = count > 0 && bi != nullptr ? bi + lay().start[neighbour] : nullptr;
        if (complex_)
            solve_diagonal<true>(k, br, bi, yr, yi, first, count, nullptr, nullptr, 0, 0);
        else
            solve_diagonal<false>(k, br, bi, yr, yi, first, count, nullptr, nullptr, 0, 0);
    };
    if (part == Part::top) {
        for (int k = 0; k < m; ++k) one(k, 0, k > 0 ? lay().size[k - 1] : 0, k - 1);
    } else {
        for (int k = blocks - 1; k > m; --k) {
            const int upper = lay().size[k - 1] + lay().size[k];
            one(k, upper, k + 1 < blocks ? lay().size[k + 1] : 0, k + 1);
        }
    }
}

void BlockTridiagonal::solve_middle(double* br, double* bi) const {
    const int blocks = this->blocks();
    if (blocks == 0) return;
    const int m = middle_ < 0 || middle_ >= blocks ? blocks - 1 : middle_;
    const int before = m > 0 ? lay().size[m - 1] : 0;
    const int after = m + 1 < blocks ? lay().size[m + 1] : 0;
    const double* const yr = before > 0 ? br + lay().start[m - 1] : nullptr;
    const double* const yi = before > 0 && bi != nullptr ? bi + lay().start[m - 1] : nullptr;
    const double* const zr = after > 0 ? br + lay().start[m + 1] : nullptr;
    const double* const zi = after > 0 && bi != nullptr ? bi + lay().start[m + 1] : nullptr;
    if (complex_)
        solve_diagonal<true>(m, br, bi, yr, yi, 0, before, zr, zi, before + lay().size[m], after);
    else
        solve_diagonal<false>(m, br, bi, yr, yi, 0, before, zr, zi, before + lay().size[m], after);
}

void BlockTridiagonal::back_part(Part part, double* br, double* bi) const {
    const int blocks = this->blocks();
    const int m = middle_ < 0 || middle_ >= blocks ? blocks - 1 : middle_;
    if (part == Part::top) {
        for (int k = m - 1; k >= 0; --k) {
            const int upper = (k > 0 ? lay().size[k - 1] : 0) + lay().size[k];
            if (complex_)
                back_block<true>(k, br, bi, k + 1, upper);
            else
                back_block<false>(k, br, bi, k + 1, upper);
        }
    } else {
        for (int k = m + 1; k < blocks; ++k) {
            if (complex_)
                back_block<true>(k, br, bi, k - 1, 0);
            else
                back_block<false>(k, br, bi, k - 1, 0);
        }
    }
}

// b_k <- D_k^-1 (P b_k - C1 y - C2 z) with the factors of block k, C1 and C2 the columns
// couplingFirst .. (+ couplingCount) and secondFirst .. (+ secondCount) of its rows.
template <bool Complex>
void BlockTridiagonal::solve_diagonal(int k, double* br, double* bi, const double* yr,
                                      const double* yi, int couplingFirst, int couplingCount,
                                      const double* zr, const double* zi, int secondFirst,
                                      int secondCount) const {
    const int s = lay().size[k];
    const int before = k > 0 ? lay().size[k - 1] : 0;
    const int w = lay().width[k];
    const int start = lay().start[k];
    const std::size_t base = row_at(start);
    const double* const ar = re_.data() + base;
    const double* const ai = Complex ? im_.data() + base : nullptr;
    double* const xr = br + start;
    double* const xi = Complex ? bi + start : nullptr;
    for (int c = 0; c < s; ++c) {
        const int p = pivot_[static_cast<std::size_t>(start + c)];
        if (p == start + c) continue;
        std::swap(br[start + c], br[p]);
        if constexpr (Complex) std::swap(bi[start + c], bi[p]);
    }
    for (int r = 0; r < s; ++r) {
        const double* const rr = ar + static_cast<std::size_t>(r) * w;
        const double* const ri = Complex ? ai + static_cast<std::size_t>(r) * w : nullptr;
        double sr = xr[r];
        double si = Complex ? xi[r] : 0.0;
        for (int q = 0; q < couplingCount; ++q)
            subtract_product<Complex>(sr, si, rr[couplingFirst + q],
                                      Complex ? ri[couplingFirst + q] : 0.0, yr[q],
                                      Complex ? yi[q] : 0.0);
        for (int q = 0; q < secondCount; ++q)
            subtract_product<Complex>(sr, si, rr[secondFirst + q],
                                      Complex ? ri[secondFirst + q] : 0.0, zr[q],
                                      Complex ? zi[q] : 0.0);
        for (int q = 0; q < r; ++q)
            subtract_product<Complex>(sr, si, rr[before + q], Complex ? ri[before + q] : 0.0,
                                      xr[q], Complex ? xi[q] : 0.0);
        xr[r] = sr;
        if constexpr (Complex) xi[r] = si;
    }
    for (int r = s - 1; r >= 0; --r) {
        const double* const rr = ar + static_cast<std::size_t>(r) * w;
        const double* const ri = Complex ? ai + static_cast<std::size_t>(r) * w : nullptr;
        double sr = xr[r];
        double si = Complex ? xi[r] : 0.0;
        for (int q = r + 1; q < s; ++q)
            subtract_product<Complex>(sr, si, rr[before + q], Complex ? ri[before + q] : 0.0,
                                      xr[q], Complex ? xi[q] : 0.0);
        const double invr = invRe_[static_cast<std::size_t>(start + r)];
        if constexpr (Complex) {
            const double invi = invIm_[static_cast<std::size_t>(start + r)];
            xr[r] = sr * invr - si * invi;
            xi[r] = sr * invi + si * invr;
        } else {
            xr[r] = sr * invr;
        }
    }
}

// x_k -= X x_neighbour with X (W_k or V_k) in the columns columnFirst .. of block k's rows.
template <bool Complex>
void BlockTridiagonal::back_block(int k, double* br, double* bi, int neighbour,
                                  int columnFirst) const {
    const int s = lay().size[k];
    const int count = lay().size[neighbour];
    const int w = lay().width[k];
    const int start = lay().start[k];
    const std::size_t base = row_at(start);
    const double* const nr = br + lay().start[neighbour];
    const double* const ni = Complex ? bi + lay().start[neighbour] : nullptr;
    for (int r = 0; r < s; ++r) {
        const double* const rr = re_.data() + base + static_cast<std::size_t>(r) * w + columnFirst;
        const double* const ri =
            Complex ? im_.data() + base + static_cast<std::size_t>(r) * w + columnFirst : nullptr;
        double sr = br[start + r];
        double si = Complex ? bi[start + r] : 0.0;
        for (int q = 0; q < count; ++q)
            subtract_product<Complex>(sr, si, rr[q], Complex ? ri[q] : 0.0, nr[q],
                                      Complex ? ni[q] : 0.0);
        br[start + r] = sr;
        if constexpr (Complex) bi[start + r] = si;
    }
}

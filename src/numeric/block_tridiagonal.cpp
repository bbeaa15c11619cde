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

BlockTridiagonal::BlockTridiagonal(const std::vector<int>& sizes, bool complex)
    : complex_(complex), size_(sizes) {
    const int blocks = static_cast<int>(size_.size());
    std::size_t at = 0;
    for (int k = 0; k < blocks; ++k) {
        const int before = k > 0 ? size_[k - 1] : 0;
        const int after = k + 1 < blocks ? size_[k + 1] : 0;
        start_.push_back(n_);
        first_.push_back(n_ - before);
        width_.push_back(before + size_[k] + after);
        for (int r = 0; r < size_[k]; ++r) {
            blockOf_.push_back(k);
            rowAt_.push_back(at);
            at += static_cast<std::size_t>(width_.back());
        }
        n_ += size_[k];
    }
    re_.assign(at, 0.0);
    if (complex_) im_.assign(at, 0.0);
    invRe_.assign(static_cast<std::size_t>(n_), 0.0);
    if (complex_) invIm_.assign(static_cast<std::size_t>(n_), 0.0);
    pivot_.assign(static_cast<std::size_t>(n_), 0);
}

int BlockTridiagonal::factor() {
    const int ier = complex_ ? factor_complex() : factor_real();
    factored_ = ier == 0;
    return ier;
}

// The real and the complex decomposition and solves below follow the same steps; the
// complex ones carry the imaginary parts along.
int BlockTridiagonal::factor_real() {
    growth_ = 0;
    const int blocks = this->blocks();
    for (int k = 0; k < blocks; ++k) {
        const int s = size_[k];
        const int before = k > 0 ? size_[k - 1] : 0;
        const int w = width_[k];
        const int start = start_[k];
        double* const a = re_.data() + rowAt_[static_cast<std::size_t>(start)];
        if (k > 0) {
            // D_k -= A_k,k-1 W_k-1, W_k-1 held in the upper part of block k-1's rows
            const int pw = width_[k - 1];
            const int pUpper = (k > 1 ? size_[k - 2] : 0) + before;
            const double* const prev = re_.data() + rowAt_[static_cast<std::size_t>(start_[k - 1])];
            for (int r = 0; r < s; ++r) {
                double* const row = a + static_cast<std::size_t>(r) * w;
                for (int q = 0; q < before; ++q) {
                    const double l = row[q];
                    if (l == 0.0) continue;
                    const double* const wq = prev + static_cast<std::size_t>(q) * pw + pUpper;
                    for (int c = 0; c < s; ++c) row[before + c] -= l * wq[c];
                }
            }
        }
        // elimination in the diagonal block, applied to the upper coupling alike
        for (int c = 0; c < s; ++c) {
            int p = c;
            double largest = std::fabs(a[static_cast<std::size_t>(c) * w + before + c]);
            for (int r = c + 1; r < s; ++r) {
                const double v = std::fabs(a[static_cast<std::size_t>(r) * w + before + c]);
                if (v > largest) {
                    largest = v;
                    p = r;
                }
            }
            pivot_[static_cast<std::size_t>(start + c)] = start + p;
            if (largest == 0.0) return start + c + 1;
            double* const rowC = a + static_cast<std::size_t>(c) * w;
            if (p != c) std::swap_ranges(rowC, rowC + w, a + static_cast<std::size_t>(p) * w);
            const double inv = 1.0 / rowC[before + c];
            invRe_[static_cast<std::size_t>(start + c)] = inv;
            for (int r = c + 1; r < s; ++r) {
                double* const row = a + static_cast<std::size_t>(r) * w;
                const double m = row[before + c] * inv;
                row[before + c] = m;
                if (m == 0.0) continue;
                for (int j = before + c + 1; j < w; ++j) row[j] -= m * rowC[j];
            }
        }
        // W_k = U^-1 (the eliminated coupling), row by row from the last
        const int upper = before + s;
        for (int r = s - 1; r >= 0; --r) {
            double* const row = a + static_cast<std::size_t>(r) * w;
            for (int q = r + 1; q < s; ++q) {
                const double u = row[before + q];
                if (u == 0.0) continue;
                const double* const wq = a + static_cast<std::size_t>(q) * w;
                for (int j = upper; j < w; ++j) row[j] -= u * wq[j];
            }
            const double inv = invRe_[static_cast<std::size_t>(start + r)];
            for (int j = upper; j < w; ++j) {
                row[j] *= inv;
                growth_ = std::max(growth_, std::fabs(row[j]));
            }
        }
    }
    return 0;
}

int BlockTridiagonal::factor_complex() {
    growth_ = 0;
    const int blocks = this->blocks();
    for (int k = 0; k < blocks; ++k) {
        const int s = size_[k];
        const int before = k > 0 ? size_[k - 1] : 0;
        const int w = width_[k];
        const int start = start_[k];
        const std::size_t base = rowAt_[static_cast<std::size_t>(start)];
        double* const ar = re_.data() + base;
        double* const ai = im_.data() + base;
        auto at = [w](int r, int c) { return static_cast<std::size_t>(r) * w + c; };
        if (k > 0) {
            const int pw = width_[k - 1];
            const int pUpper = (k > 1 ? size_[k - 2] : 0) + before;
            const std::size_t pbase = rowAt_[static_cast<std::size_t>(start_[k - 1])];
            for (int r = 0; r < s; ++r) {
                for (int q = 0; q < before; ++q) {
                    const double lr = ar[at(r, q)];
                    const double li = ai[at(r, q)];
                    if (lr == 0.0 && li == 0.0) continue;
                    const double* const wr = re_.data() + pbase + static_cast<std::size_t>(q) * pw + pUpper;
                    const double* const wi = im_.data() + pbase + static_cast<std::size_t>(q) * pw + pUpper;
                    double* const dr = ar + at(r, before);
                    double* const di = ai + at(r, before);
                    for (int c = 0; c < s; ++c) {
                        dr[c] -= lr * wr[c] - li * wi[c];
                        di[c] -= lr * wi[c] + li * wr[c];
                    }
                }
            }
        }
        for (int c = 0; c < s; ++c) {
            int p = c;
            double largest = std::fabs(ar[at(c, before + c)]) + std::fabs(ai[at(c, before + c)]);
            for (int r = c + 1; r < s; ++r) {
                const double v = std::fabs(ar[at(r, before + c)]) + std::fabs(ai[at(r, before + c)]);
                if (v > largest) {
                    largest = v;
                    p = r;
                }
            }
            pivot_[static_cast<std::size_t>(start + c)] = start + p;
            if (largest == 0.0) return start + c + 1;
            if (p != c) {
                std::swap_ranges(ar + at(c, 0), ar + at(c, w), ar + at(p, 0));
                std::swap_ranges(ai + at(c, 0), ai + at(c, w), ai + at(p, 0));
            }
            const double pr = ar[at(c, before + c)];
            const double pi = ai[at(c, before + c)];
            const double norm = pr * pr + pi * pi;
            const double invr = pr / norm;
            const double invi = -pi / norm;
            invRe_[static_cast<std::size_t>(start + c)] = invr;
            invIm_[static_cast<std::size_t>(start + c)] = invi;
            const double* const cr = ar + at(c, 0);
            const double* const ci = ai + at(c, 0);
            for (int r = c + 1; r < s; ++r) {
                double* const rr = ar + at(r, 0);
                double* const ri = ai + at(r, 0);
                const double vr = rr[before + c];
                const double vi = ri[before + c];
                const double mr = vr * invr - vi * invi;
                const double mi = vr * invi + vi * invr;
                rr[before + c] = mr;
                ri[before + c] = mi;
                if (mr == 0.0 && mi == 0.0) continue;
                for (int j = before + c + 1; j < w; ++j) {
                    rr[j] -= mr * cr[j] - mi * ci[j];
                    ri[j] -= mr * ci[j] + mi * cr[j];
                }
            }
        }
        const int upper = before + s;
        for (int r = s - 1; r >= 0; --r) {
            double* const rr = ar + at(r, 0);
            double* const ri = ai + at(r, 0);
            for (int q = r + 1; q < s; ++q) {
                const double ur = rr[before + q];
                const double ui = ri[before + q];
                if (ur == 0.0 && ui == 0.0) continue;
                const double* const qr = ar + at(q, 0);
                const double* const qi = ai + at(q, 0);
                for (int j = upper; j < w; ++j) {
                    rr[j] -= ur * qr[j] - ui * qi[j];
                    ri[j] -= ur * qi[j] + ui * qr[j];
                }
            }
            const double invr = invRe_[static_cast<std::size_t>(start + r)];
            const double invi = invIm_[static_cast<std::size_t>(start + r)];
            for (int j = upper; j < w; ++j) {
                const double vr = rr[j];
                const double vi = ri[j];
                rr[j] = vr * invr - vi * invi;
                ri[j] = vr * invi + vi * invr;
                growth_ = std::max(growth_, std::fabs(rr[j]) + std::fabs(ri[j]));
            }
        }
    }
    return 0;
}

void BlockTridiagonal::solve(double* b) const {
    const int blocks = this->blocks();
    for (int k = 0; k < blocks; ++k) {
        const int s = size_[k];
        const int before = k > 0 ? size_[k - 1] : 0;
        const int w = width_[k];
        const int start = start_[k];
        const double* const a = re_.data() + rowAt_[static_cast<std::size_t>(start)];
        double* const x = b + start;
        for (int c = 0; c < s; ++c) {
            const int p = pivot_[static_cast<std::size_t>(start + c)];
            if (p != start + c) std::swap(b[start + c], b[p]);
        }
        const double* const xPrev = b + start - before;
        for (int r = 0; r < s; ++r) {
            const double* const row = a + static_cast<std::size_t>(r) * w;
            double sum = x[r];
            for (int q = 0; q < before; ++q) sum -= row[q] * xPrev[q];
            for (int q = 0; q < r; ++q) sum -= row[before + q] * x[q];
            x[r] = sum;
        }
        for (int r = s - 1; r >= 0; --r) {
            const double* const row = a + static_cast<std::size_t>(r) * w;
            double sum = x[r];
            for (int q = r + 1; q < s; ++q) sum -= row[before + q] * x[q];
            x[r] = sum * invRe_[static_cast<std::size_t>(start + r)];
        }
    }
    for (int k = blocks - 2; k >= 0; --k) {
        const int s = size_[k];
        const int upper = (k > 0 ? size_[k - 1] : 0) + s;
        const int w = width_[k];
        const int start = start_[k];
        const double* const a = re_.data() + rowAt_[static_cast<std::size_t>(start)];
        const double* const xNext = b + start + s;
        for (int r = 0; r < s; ++r) {
            const double* const row = a + static_cast<std::size_t>(r) * w + upper;
            double sum = b[start + r];
            for (int q = 0; q < w - upper; ++q) sum -= row[q] * xNext[q];
            b[start + r] = sum;
        }
    }
}

void BlockTridiagonal::solve(double* br, double* bi) const {
    const int blocks = this->blocks();
    for (int k = 0; k < blocks; ++k) {
        const int s = size_[k];
        const int before = k > 0 ? size_[k - 1] : 0;
        const int w = width_[k];
        const int start = start_[k];
        const std::size_t base = rowAt_[static_cast<std::size_t>(start)];
        const double* const ar = re_.data() + base;
        const double* const ai = im_.data() + base;
        double* const xr = br + start;
        double* const xi = bi + start;
        for (int c = 0; c < s; ++c) {
            const int p = pivot_[static_cast<std::size_t>(start + c)];
            if (p == start + c) continue;
            std::swap(br[start + c], br[p]);
            std::swap(bi[start + c], bi[p]);
        }
        const double* const pr = br + start - before;
        const double* const pi = bi + start - before;
        for (int r = 0; r < s; ++r) {
            const double* const rr = ar + static_cast<std::size_t>(r) * w;
            const double* const ri = ai + static_cast<std::size_t>(r) * w;
            double sr = xr[r];
            double si = xi[r];
            for (int q = 0; q < before; ++q) {
                sr -= rr[q] * pr[q] - ri[q] * pi[q];
                si -= rr[q] * pi[q] + ri[q] * pr[q];
            }
            for (int q = 0; q < r; ++q) {
                sr -= rr[before + q] * xr[q] - ri[before + q] * xi[q];
                si -= rr[before + q] * xi[q] + ri[before + q] * xr[q];
            }
            xr[r] = sr;
            xi[r] = si;
        }
        for (int r = s - 1; r >= 0; --r) {
            const double* const rr = ar + static_cast<std::size_t>(r) * w;
            const double* const ri = ai + static_cast<std::size_t>(r) * w;
            double sr = xr[r];
            double si = xi[r];
            for (int q = r + 1; q < s; ++q) {
                sr -= rr[before + q] * xr[q] - ri[before + q] * xi[q];
                si -= rr[before + q] * xi[q] + ri[before + q] * xr[q];
            }
            const double invr = invRe_[static_cast<std::size_t>(start + r)];
            const double invi = invIm_[static_cast<std::size_t>(start + r)];
            xr[r] = sr * invr - si * invi;
            xi[r] = sr * invi + si * invr;
        }
    }
    for (int k = blocks - 2; k >= 0; --k) {
        const int s = size_[k];
        const int upper = (k > 0 ? size_[k - 1] : 0) + s;
        const int w = width_[k];
        const int start = start_[k];
        const std::size_t base = rowAt_[static_cast<std::size_t>(start)];
        const double* const nr = br + start + s;
        const double* const ni = bi + start + s;
        for (int r = 0; r < s; ++r) {
            const double* const rr = re_.data() + base + static_cast<std::size_t>(r) * w + upper;
            const double* const ri = im_.data() + base + static_cast<std::size_t>(r) * w + upper;
            double sr = br[start + r];
            double si = bi[start + r];
            for (int q = 0; q < w - upper; ++q) {
                sr -= rr[q] * nr[q] - ri[q] * ni[q];
                si -= rr[q] * ni[q] + ri[q] * nr[q];
            }
            br[start + r] = sr;
            bi[start + r] = si;
        }
    }
}

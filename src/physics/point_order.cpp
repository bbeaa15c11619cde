#include "physics/point_order.h"

#include <algorithm>

#include "numeric/block_tridiagonal.h"

namespace {

// Positions in point order within the whole state, as wide integers so that a grid too
// large to run can still be measured.
class PointPositions {
  public:
    explicit PointPositions(const model& md) : md_(md), group_(md.R + 1) {}

    // Concentration of component c (1..R) at node j (0..N+1) of layer l.
    long long concentration(int l, int c, int j) const {
        return start(l) + static_cast<long long>(j) * group_ + (c - 1);
    }
    // Field at grid point k (0..N) of layer l.
    long long field(int l, int k) const {
        return start(l) + static_cast<long long>(k) * group_ + md_.R;
    }

  private:
    long long start(int l) const { return md_.layerStart.at(l); }

    const model& md_;
    long long group_;  // unknowns of one node that has a field value
};

// Gathers the lowest and highest position of the unknowns one equation reads.
struct Reach {
    long long low;
    long long high;
    std::vector<int>* read = nullptr;  // when given, every position read, in turn
    void add(long long p) {
        low = std::min(low, p);
        high = std::max(high, p);
        if (read != nullptr) read->push_back(static_cast<int>(p));
    }
};

// The couplings of evaluate_rhs, unknown by unknown.
class Couplings {
  public:
    explicit Couplings(const model& md) : md_(md), at_(md) {
        for (int c = 1; c <= md.R; ++c) reactive_ = reactive_ || md.ligand[c] > 0;
    }

    // Unknowns the flux of component c at grid point k (0..N) of layer l depends on.
    void flux(int l, int c, int k, Reach& r) const {
        const int N = md_.N.at(l);
        if (k == 0) return interface(l - 1, c, r);
        if (k == N) return interface(l, c, r);
        r.add(at_.concentration(l, c, k));
        r.add(at_.concentration(l, c, k + 1));
        if (md_.modelType == 0) r.add(at_.field(l, k));
    }

    // Unknowns the time derivative of the concentration of c at node j of layer l reads.
    void concentration_equation(int l, int c, int j, Reach& r) const {
        const int N = md_.N.at(l);
        if (j == 0) {
            for (int k = 0; k <= 2; ++k) flux(l, c, std::min(k, N), r);
        } else if (j == N + 1) {
            for (int k = N; k >= N - 2; --k) flux(l, c, std::max(k, 0), r);
        } else {
            flux(l, c, j - 1, r);
            flux(l, c, j, r);
        }
        // volume complexation couples the components of one node
        if (reactive_ && md_.complexing.at(l) > 1)
            for (int other = 1; other <= md_.R; ++other) r.add(at_.concentration(l, other, j));
    }

    // Unknowns the time derivative of the field at grid point k of layer l reads.
    void field_equation(int l, int k, Reach& r) const {
        if (md_.modelType != 0) return;  // constant field under pure diffusion
        for (int c = 1; c <= md_.R; ++c) flux(l, c, k, r);
    }

  private:
    // Transfer through interface s (0..n) reads the edge nodes on both sides; boundary
    // complexation in a layer next to it mixes the components of those nodes.
    void interface(int s, int c, Reach& r) const {
        const bool mixing = reactive_ && ((s >= 1 && md_.complexing.at(s) == 1) ||
                                          (s < md_.n && md_.complexing.at(s + 1) == 1));
        for (int other = 1; other <= md_.R; ++other) {
            if (other != c && !mixing) continue;
            if (s >= 1) r.add(at_.concentration(s, other, md_.N.at(s) + 1));
            if (s < md_.n) r.add(at_.concentration(s + 1, other, 0));
        }
    }

    const model& md_;
    PointPositions at_;
    bool reactive_ = false;
};

// Calls visit(row, reach) for the equation at every position of the point order, in
// order, reach holding what it reads (and listing it in *read when given). With `inner`
// false only the nodes 0, 1, 2 and N-1, N, N+1 of each layer, which show every distance
// there is: nodes 2 .. N-1 see the same pattern as node 2 (fluxes between inner nodes).
template <class Visit>
void each_equation(const model& md, bool inner, std::vector<int>* read, Visit visit) {
    const Couplings couplings(md);
    const PointPositions at(md);
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        for (int j = 0; j <= N + 1; ++j) {
            if (!inner && j > 2 && j < N - 1) j = N - 1;
            for (int c = 1; c <= md.R; ++c) {
                const long long row = at.concentration(l, c, j);
                Reach r{row, row, read};
                couplings.concentration_equation(l, c, j, r);
                visit(row, r);
            }
            if (j <= N) {
                const long long row = at.field(l, j);
                Reach r{row, row, read};
                couplings.field_equation(l, j, r);
                visit(row, r);
            }
        }
    }
}

}  // namespace

Bandwidths point_order_bandwidths(const model& md) {
    long long lower = 0;
    long long upper = 0;
    each_equation(md, false, nullptr, [&](long long row, const Reach& r) {
        lower = std::max(lower, row - r.low);
        upper = std::max(upper, r.high - row);
    });
    return {static_cast<int>(lower), static_cast<int>(upper)};
}

std::vector<int> point_order_blocks(const model& md) {
    std::vector<int> reach(static_cast<std::size_t>(md.nEq));
    for (int p = 0; p < md.nEq; ++p) reach[static_cast<std::size_t>(p)] = p;
    // an equation couples its unknown with everything between the first and the last it reads
    each_equation(md, true, nullptr, [&](long long row, const Reach& r) {
        auto& own = reach[static_cast<std::size_t>(row)];
        own = std::max(own, static_cast<int>(r.high));
        for (long long p = r.low; p < row; ++p) {
            auto& before = reach[static_cast<std::size_t>(p)];
            before = std::max(before, static_cast<int>(row));
        }
    });
    // Blocks of whole grid points: the first three and the last three nodes of a layer
    // together, each other node alone. An edge node's equation is the extrapolation of
    // its two neighbours' rates, so for long steps its row of the Newton matrix nearly
    // repeats theirs; with all three in one block the pivoting inside it sees that.
    std::vector<int> sizes;
    for (int l = 1; l <= md.n; ++l) {
        const int N = md.N.at(l);
        auto nodes = [&](int first, int last) {  // unknowns of nodes first .. last
            int count = 0;
            for (int j = first; j <= last; ++j) count += md.R + (j <= N ? 1 : 0);
            return count;
        };
        const int leftEnd = std::min(2, N + 1);
        const int rightStart = std::max(N - 1, leftEnd + 1);
        sizes.push_back(nodes(0, leftEnd));
        for (int j = leftEnd + 1; j < rightStart; ++j) sizes.push_back(nodes(j, j));
        if (rightStart <= N + 1) sizes.push_back(nodes(rightStart, N + 1));
    }
    // the couplings must join only neighbouring blocks; otherwise the blocks follow them
    int end = 0;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const int start = end;
        end += sizes[k];
        for (int p = start; p < end; ++p) {
            const int nextEnd = k + 1 < sizes.size() ? end + sizes[k + 1] : end;
            if (reach[static_cast<std::size_t>(p)] >= nextEnd) return tridiagonal_partition(reach);
        }
    }
    return sizes;
}

SparsePattern point_order_pattern(const model& md) {
    SparsePattern pattern;
    pattern.rowStart.assign(1, 0);
    std::vector<int> read;
    each_equation(md, true, &read, [&](long long row, const Reach&) {
        read.push_back(static_cast<int>(row));  // the diagonal, for the shift of the Newton matrices
        std::sort(read.begin(), read.end());
        read.erase(std::unique(read.begin(), read.end()), read.end());
        pattern.columns.insert(pattern.columns.end(), read.begin(), read.end());
        pattern.rowStart.push_back(static_cast<int>(pattern.columns.size()));
        read.clear();
    });
    return pattern;
}

std::vector<int> point_order(const model& md) {
    std::vector<int> recordIndex(static_cast<std::size_t>(md.nEq));
    const int R = md.R;
    for (int l = 1; l <= md.n; ++l) {
        const int start = md.layerStart.at(l);
        const int N = md.N.at(l);
        const int stride = N + 2;  // one component's block in the record
        int p = start;
        for (int j = 0; j <= N + 1; ++j) {
            for (int c = 1; c <= R; ++c) recordIndex[p++] = start + stride * (c - 1) + j;
            if (j <= N) recordIndex[p++] = start + stride * R + j;
        }
    }
    return recordIndex;
}

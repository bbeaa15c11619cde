// Block-tridiagonal matrices: the unknowns split into consecutive blocks, and every non-zero
// couples a block with itself or with one of its two neighbours. A discretised transport
// system in point order has this form with one block per grid point (a few points where
// one-sided differences reach further), so such a matrix holds what couples and little
// more, where a band wide enough for its widest row holds mostly zeros.
//
// Storage: the rows of block k are held one after another, each as the columns of blocks
// k-1, k and k+1 (width(k) values; block 0 starts at its own columns). Real or complex (real
// and imaginary parts apart).
//
// Decomposition: block elimination without interchanges between blocks, partial pivoting
// inside each diagonal block, from both ends towards a middle block m (A_k,k-1 = L_k,
// A_kk = D_k, A_k,k+1 = U_k):
// - from the top, k = 0 .. m-1: D'_0 = D_0, W_k = D'_k^-1 U_k, D'_k+1 = D_k+1 - L_k+1 W_k;
// - from the bottom, k = K-1 .. m+1: D''_K-1 = D_K-1, V_k = D''_k^-1 L_k,
//   D''_k-1 = D_k-1 - U_k-1 V_k;
// - the middle block D*_m = D_m - L_m W_m-1 - U_m V_m+1.
// A solve sweeps down the top part and up the bottom part, solves the middle block, and
// substitutes back outwards. The two parts touch different blocks, so they may run on two
// threads at the same time (factor_part, solve_part, back_part), with the middle block
// after both (factor_middle, solve_middle); factor() and solve() run them in turn, with
// the same results bit for bit. With m = K-1 (the default) this is the usual block LU.
//
// For the Newton matrices of a stiff integrator (a shift of the identity minus a Jacobian
// whose largest entries sit on and next to the diagonal) this is as accurate as the band
// LU when the blocks hold whole grid points.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Splits 0 .. n-1 into blocks for a matrix in which unknown p is coupled with no unknown
// beyond reach[p] (reach[p] >= p; couplings are symmetric: an entry (i, j) or (j, i) with
// i < j counts as reach[i] >= j). Every block after the first is as short as it may be: it
// reaches as far as any unknown of the block before it is coupled. The first block's length
// is chosen for the least work of a block LU. Returns the block sizes.
std::vector<int> tridiagonal_partition(const std::vector<int>& reach);

class BlockTridiagonal {
  public:
    enum class Part { top, bottom };

    BlockTridiagonal() = default;
    // Zeros in the blocks of the given sizes (each > 0).
    BlockTridiagonal(const std::vector<int>& sizes, bool complex);
    // Zeros in the blocks of `shape`, whose layout the two share (it is never changed); a
    // matrix that is not `factorable` is only formed and read, and holds no room for factors.
    BlockTridiagonal(const BlockTridiagonal& shape, bool complex, bool factorable = true);

    int order() const { return n_; }
    int blocks() const { return layout_ ? static_cast<int>(lay().size.size()) : 0; }
    bool is_complex() const { return complex_; }
    const std::vector<int>& sizes() const { return lay().size; }
    // Entries held, per part (real or imaginary).
    std::size_t entries() const { return re_.size(); }

    // The middle block m of the elimination (0 <= m < blocks()); set before factor().
    void set_middle(int m) { middle_ = m; }
    int middle() const { return middle_; }

    // Whether row i and column j lie in the blocks held.
    bool holds(int i, int j) const {
        return j >= first_column(i) && j < first_column(i) + width(i);
    }
    // The real part of element (i, j) when held, else null.
    double* element_re(int i, int j) {
        const Layout& l = lay();
        const std::size_t b = block_of(i);
        const int c = j - l.first[b];
        const int w = l.width[b];
        if (c < 0 || c >= w) return nullptr;
        return re_.data() + l.blockAt[b] +
               static_cast<std::size_t>(i - l.start[b]) * static_cast<std::size_t>(w) + c;
    }
    // First column held in row i, and how many.
    int first_column(int i) const { return lay().first[block_of(i)]; }
    int width(int i) const { return lay().width[block_of(i)]; }
    // Row i's values, columns first_column(i) ...
    double* row_re(int i) { return re_.data() + row_at(i); }
    double* row_im(int i) { return im_.data() + row_at(i); }
    const double* row_re(int i) const { return re_.data() + row_at(i); }
    // Every value, row after row (the layout is the same for every matrix of the same sizes).
    double* values_re() { return re_.data(); }
    double* values_im() { return im_.data(); }
    const double* values_re() const { return re_.data(); }
    // Position of the diagonal element of row i among its values.
    std::size_t diagonal_at(int i) const {
        return row_at(i) + static_cast<std::size_t>(i - first_column(i));
    }

    // In place. Returns 0, or the row (counted from 1) whose pivot was an exact zero (the
    // first such in the top part, then the bottom part, then the middle block); the matrix
    // is then not factored.
    int factor();
    // The pieces of factor(): both parts (in any order, or at the same time), then the
    // middle block; each returns as factor() does for its blocks.
    int factor_part(Part part);
    int factor_middle();
    bool factored() const { return factored_; }
    // Largest |W_k| or |V_k| element of the last decomposition: 1 or less when every
    // diagonal block dominates its couplings, large when eliminating without interchanges
    // between blocks lets errors grow (in units that depend on the scaling of the unknowns).
    double growth() const { return growth_[0] > growth_[1] ? growth_[0] : growth_[1]; }

    // A x = b in place (real matrices: bi null; complex: b = br + i bi).
    void solve(double* br, double* bi = nullptr) const;
    // The pieces of solve(): both parts' sweeps towards the middle, the middle block, then
    // both parts' back-substitution.
    void solve_part(Part part, double* br, double* bi) const;
    void solve_middle(double* br, double* bi) const;
    void back_part(Part part, double* br, double* bi) const;

  private:
    // Where the blocks lie: shared by the matrices of one shape.
    struct Layout {
        std::vector<int> size, start, first, width, blockOf;
        std::vector<std::size_t> blockAt;  // position of the block's first value
    };
    const Layout& lay() const { return *layout_; }
    std::size_t block_of(int i) const {
        return static_cast<std::size_t>(lay().blockOf[static_cast<std::size_t>(i)]);
    }
    // position of row i's first value
    std::size_t row_at(int i) const {
        const std::size_t b = block_of(i);
        return lay().blockAt[b] +
               static_cast<std::size_t>(i - lay().start[b]) * static_cast<std::size_t>(lay().width[b]);
    }
    void allocate(bool complex, std::size_t entries, bool factorable);
    template <bool Complex>
    int factor_part(Part part);
    template <bool Complex>
    int factor_middle();
    template <bool Complex>
    int factor_diagonal(int k, int xFirst, int xEnd, double& growth);
    template <bool Complex>
    void schur_update(int target, int source);
    template <bool Complex>
    void solve_diagonal(int k, double* br, double* bi, const double* yr, const double* yi,
                        int couplingFirst, int couplingCount, const double* zr,
                        const double* zi, int secondFirst, int secondCount) const;
    template <bool Complex>
    void back_block(int k, double* br, double* bi, int neighbour, int columnFirst) const;

    int n_ = 0;
    bool complex_ = false;
    bool factored_ = false;
    int middle_ = -1;  // unset: the last block
    double growth_[2] = {0, 0};  // top and bottom part
    bool partFailed_[2] = {false, false};  // top and bottom part met a zero pivot
    std::shared_ptr<const Layout> layout_;
    std::vector<double> re_, im_;
    // of factorable matrices:
    std::vector<double> invRe_, invIm_;  // reciprocals of U's diagonal, by row
    std::vector<int> pivot_;             // row swapped with row i at its elimination step
};

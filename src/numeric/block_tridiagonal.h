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
// Decomposition: block LU without interchanges between blocks, partial pivoting inside
// each diagonal block. A = L U with L block-lower (diagonal blocks D'_k, the couplings
// A_k,k-1 below) and U block-upper with identity diagonal blocks and W_k = D'_k^-1 A_k,k+1
// above; D'_0 = A_00 and D'_k = A_kk - A_k,k-1 W_k-1. For the Newton matrices of a stiff
// integrator (a shift of the identity minus a Jacobian whose largest entries sit on and
// next to the diagonal) this is as accurate as the band LU; growth() tells how far the
// couplings grew, for a caller that wants to check.
#pragma once

#include <vector>

// Splits 0 .. n-1 into blocks for a matrix in which unknown p is coupled with no unknown
// beyond reach[p] (reach[p] >= p; couplings are symmetric: an entry (i, j) or (j, i) with
// i < j counts as reach[i] >= j). Every block after the first is as short as it may be: it
// reaches as far as any unknown of the block before it is coupled. The first block's length
// is chosen for the least work of a block LU. Returns the block sizes.
std::vector<int> tridiagonal_partition(const std::vector<int>& reach);

class BlockTridiagonal {
  public:
    BlockTridiagonal() = default;
    // Zeros in the blocks of the given sizes (each > 0).
    BlockTridiagonal(const std::vector<int>& sizes, bool complex);

    int order() const { return n_; }
    int blocks() const { return static_cast<int>(size_.size()); }
    bool is_complex() const { return complex_; }
    const std::vector<int>& sizes() const { return size_; }
    // Entries held, per part (real or imaginary).
    std::size_t entries() const { return re_.size(); }

    // Whether row i and column j lie in the blocks held.
    bool holds(int i, int j) const {
        return j >= first_column(i) && j < first_column(i) + width(i);
    }
    // First column held in row i, and how many.
    int first_column(int i) const { return first_[static_cast<std::size_t>(blockOf_[static_cast<std::size_t>(i)])]; }
    int width(int i) const { return width_[static_cast<std::size_t>(blockOf_[static_cast<std::size_t>(i)])]; }
    // Row i's values, columns first_column(i) ...
    double* row_re(int i) { return re_.data() + rowAt_[static_cast<std::size_t>(i)]; }
    double* row_im(int i) { return im_.data() + rowAt_[static_cast<std::size_t>(i)]; }
    const double* row_re(int i) const { return re_.data() + rowAt_[static_cast<std::size_t>(i)]; }
    // Every value, row after row (the layout is the same for every matrix of the same sizes).
    double* values_re() { return re_.data(); }
    double* values_im() { return im_.data(); }
    const double* values_re() const { return re_.data(); }
    // Position of the diagonal element of row i among its values.
    std::size_t diagonal_at(int i) const {
        return rowAt_[static_cast<std::size_t>(i)] + static_cast<std::size_t>(i - first_column(i));
    }

    // In place. Returns 0, or the row (counted from 1) whose pivot was an exact zero; the
    // matrix is then not factored.
    int factor();
    bool factored() const { return factored_; }
    // Largest |W_k| element of the last decomposition: 1 or less when every diagonal block
    // dominates its couplings, large when eliminating without interchanges between blocks
    // lets errors grow.
    double growth() const { return growth_; }

    // A x = b in place (real matrices).
    void solve(double* b) const;
    // A x = b in place for b = br + i bi (complex matrices).
    void solve(double* br, double* bi) const;

  private:
    int factor_real();
    int factor_complex();

    int n_ = 0;
    bool complex_ = false;
    bool factored_ = false;
    double growth_ = 0;
    std::vector<int> size_, start_, first_, width_, blockOf_;
    std::vector<std::size_t> rowAt_;
    std::vector<double> re_, im_;
    std::vector<double> invRe_, invIm_;  // reciprocals of U's diagonal, by row
    std::vector<int> pivot_;             // row swapped with row i at its elimination step
};

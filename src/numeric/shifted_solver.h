// Solutions of (s I - A) x = b for one real matrix A, one real right-hand side b and many
// complex shifts s: the small-signal response X(s) of the linear system x' = A x + b u(t)
// to an input u = e^(s t), as in an impedance spectrum (s = i omega).
//
// A band matrix (the Jacobian of a discretised transport system in point order) is
// analysed once: its non-zeros are split into diagonal blocks, as small as the couplings
// allow, such that every non-zero couples a block with itself or a neighbour. Each shift
// then costs a block-tridiagonal LU (partial pivoting inside each diagonal block) and two
// sweeps, a few times less than a band LU of the same matrix when the band holds mostly
// zeros. Every solution is checked by its residual and refined with the same factors
// while its backward error is not small; one that stays so is computed again by the band
// LU with partial pivoting (SquareMatrix), and counted.
// When the blocks would cost more than the band LU, the band LU serves every shift.
//
// A full matrix is reduced to upper Hessenberg form once, after which each shift costs
// O(n^2).
#pragma once

#include <memory>
#include <vector>

#include "numeric/nr.h"
#include "numeric/square_matrix.h"

class ShiftedSolver {
  public:
    // A of order n in band storage by rows: a[i - j + upper][j] is row i, column j. With
    // `blocks` false the band LU serves every shift (for comparison).
    static ShiftedSolver band(int n, int lower, int upper, const double* const* a,
                              bool blocks = true);
    // A of order n in full storage: a[i][j].
    static ShiftedSolver full(int n, const double* const* a);

    // Rows of a band system that are algebraic: the shift is not applied to them, so that
    // row i reads -A_i x = b_i. A caller that knows a combination of the equations to
    // vanish identically (a conserved quantity) replaces one of them by it this way; the
    // solutions then keep that quantity exactly, where the shifted system would amplify
    // the rounding errors along it by 1 / |s|. Band matrices only.
    void set_algebraic_rows(std::vector<char> algebraic) { algebraic_ = std::move(algebraic); }

    // x = (s I - A)^-1 b with s = sr + i si, written to xr + i xi (n values each). Returns
    // false when s I - A is singular (an exact zero pivot).
    bool solve(double sr, double si, const double* b, double* xr, double* xi);

    int order() const { return n_; }
    // Shifts whose block solution failed the residual check and were solved again by the
    // band LU.
    int fallbacks() const { return fallbacks_; }
    // Sizes of the diagonal blocks (band matrices that use the blocks; empty otherwise).
    const std::vector<int>& block_sizes() const { return size_; }

    // Largest componentwise backward error, max over the shifted rows of
    // |b - (s I - A) x|_i / (|s I - A| |x| + |b|)_i, that a block solution may have: some
    // thousand roundings, well within what a backward-stable solve leaves.
    static constexpr double kBackwardErrorLimit = 1e-12;
    // The same for the algebraic rows. Such a row states that a combination of nearly equal
    // values vanishes (neighbouring fields, an edge element and the extrapolation of its
    // neighbours), and its componentwise error is measured against the values, not
    // against their small difference: 1e-9 of them is still a small share of what the row
    // determines.
    static constexpr double kAlgebraicErrorLimit = 1e-9;
    // Steps of iterative refinement a block solution may take to get there.
    static constexpr int kRefinements = 3;

  private:
    enum class Kind { blocks, band, hessenberg };
    ShiftedSolver() = default;

    void analyse_blocks();
    bool factor_blocks(double sr, double si);
    void sweep_blocks(double* xr, double* xi) const;
    bool solve_blocks(double sr, double si, const double* b, double* xr, double* xi);
    bool solve_band(double sr, double si, const double* b, double* xr, double* xi);
    bool solve_hessenberg(double sr, double si, const double* b, double* xr, double* xi);
    // The componentwise backward error of x; leaves the residual b - (s I - A) x in rRe_, rIm_.
    double residual(double sr, double si, const double* b, const double* xr, const double* xi);

    bool shifted_row(int i) const {
        return algebraic_.empty() || algebraic_[static_cast<std::size_t>(i)] == 0;
    }

    Kind kind_ = Kind::band;
    std::vector<char> algebraic_;  // empty: every row shifted
    int n_ = 0;
    int lower_ = 0;
    int upper_ = 0;
    int fallbacks_ = 0;

    // A by rows, compressed: the non-zeros of row i are col_[rowStart_[i] .. rowStart_[i+1]).
    std::vector<int> rowStart_, col_;
    std::vector<double> val_;

    // blocks: start_[k], size_[k]; diagonal block A_kk (size^2, by rows) at diagAt_[k];
    // lower coupling A_k,k-1 as (row, column, value) triples at lowAt_[k] .. lowAt_[k+1];
    // upper coupling A_k,k+1 restricted to its non-zero columns upCols_[upColAt_[k] ..
    // upColAt_[k+1]) (local in block k+1), held column by column at upAt_[k].
    std::vector<int> start_, size_;
    std::vector<std::size_t> diagAt_, upAt_, xAt_, dAt_;
    std::vector<int> lowAt_, upColAt_;
    std::vector<double> diagVal_, upVal_;
    std::vector<int> lowRow_, lowCol_, upCols_;
    std::vector<double> lowVal_;
    // per shift: factored diagonal blocks D_k (by rows, at diagAt_) with their pivots and
    // reciprocal pivots (at start_), X_k = D_k^-1 A_k,k+1 on the non-zero columns (by rows of
    // block k, at xAt_), and the residual of the last solution
    std::vector<double> dRe_, dIm_, invRe_, invIm_, xRe_, xIm_, rRe_, rIm_;
    std::vector<int> pivot_;

    // band LU and Hessenberg forms
    MatDoub bandRows_;  // A's band by rows, as given
    SquareMatrix shifted_;
    MatDoub hess_;      // A reduced to Hessenberg form, multipliers below the sub-diagonal
    std::vector<int> interchanges_;
    std::vector<double> rhs_;
};

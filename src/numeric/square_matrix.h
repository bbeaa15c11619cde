// A square matrix together with its LU factors: real or complex, stored full, as a band,
// or full with one sub-diagonal (upper Hessenberg). It owns its elements, its pivots and
// whether it is factored, so that a caller forms it, calls factor() once and solve() as
// often as it likes, without carrying orders, bandwidths and pivot vectors from call to
// call. The storage and the arithmetic are those of numeric/linear_solvers.h.
#pragma once

#include <vector>

#include "numeric/nr.h"

class SquareMatrix {
  public:
    enum class Layout {
        full,        // re()[i][j] is row i, column j
        band,        // re()[j][i - j + lower + upper] is row i, column j (columns contiguous,
                     // `lower` rows of fill-in space above each column's band)
        hessenberg,  // full storage; elements more than one place below the diagonal unused
    };

    SquareMatrix() = default;
    // An n x n matrix of zeros; lower and upper are the bandwidths of a band matrix (ignored
    // otherwise). A complex matrix holds its real and imaginary parts apart.
    SquareMatrix(Layout layout, int n, bool complex, int lower = 0, int upper = 0);

    Layout layout() const { return layout_; }
    int order() const { return n_; }
    int lower() const { return lower_; }
    int upper() const { return upper_; }
    bool is_complex() const { return complex_; }
    // Position of the diagonal in a column of a band matrix.
    int diagonal_row() const { return lower_ + upper_; }

    // The element tables in the layout's convention (imaginary part: complex matrices only).
    // Writing through them makes the matrix unfactored only in the caller's mind: call
    // factor() again after forming new elements.
    double** re() { return re_.ptr(); }
    double** im() { return im_.ptr(); }
    double* const* re() const { return re_.ptr(); }
    double* const* im() const { return im_.ptr(); }

    // LU decomposition with partial pivoting, in place. Returns 0, or the column (counted
    // from 1) whose pivot was an exact zero; the matrix is then not factored.
    int factor();
    bool factored() const { return factored_; }

    // Solves A x = b in place with the factors (real matrices).
    void solve(double* b) const;
    // Solves A x = b in place for b = br + i bi (complex matrices).
    void solve(double* br, double* bi) const;

  private:
    Layout layout_ = Layout::full;
    int n_ = 0;
    int lower_ = 0;
    int upper_ = 0;
    bool complex_ = false;
    bool factored_ = false;
    MatDoub re_, im_;
    std::vector<int> pivots_;
};

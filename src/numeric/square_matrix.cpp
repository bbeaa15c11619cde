#include "numeric/square_matrix.h"

#include "numeric/linear_solvers.h"

SquareMatrix::SquareMatrix(Layout layout, int n, bool complex, int lower, int upper)
    : layout_(layout),
      n_(n),
      lower_(layout == Layout::band ? lower : 0),
      upper_(layout == Layout::band ? upper : 0),
      complex_(complex),
      pivots_(static_cast<std::size_t>(n > 0 ? n : 0), 0) {
    // a band matrix is held by columns: n columns of 2 lower + upper + 1 values
    const int rows = n;
    const int cols = layout == Layout::band ? 2 * lower_ + upper_ + 1 : n;
    re_.resize(rows, cols);
    if (complex) im_.resize(rows, cols);
}

int SquareMatrix::factor() {
    int ier = 0;
    switch (layout_) {
        case Layout::full:
            ier = complex_ ? decompose_full_complex(n_, re_.ptr(), im_.ptr(), pivots_.data())
                           : decompose_full(n_, re_.ptr(), pivots_.data());
            break;
        case Layout::band:
            ier = complex_ ? decompose_band_complex(n_, re_.ptr(), im_.ptr(), lower_, upper_,
                                                    pivots_.data())
                           : decompose_band(n_, re_.ptr(), lower_, upper_, pivots_.data());
            break;
        case Layout::hessenberg:
            ier = complex_ ? decompose_hessenberg_complex(n_, re_.ptr(), im_.ptr(), 1,
                                                          pivots_.data())
                           : decompose_hessenberg(n_, re_.ptr(), 1, pivots_.data());
            break;
    }
    factored_ = ier == 0;
    return ier;
}

void SquareMatrix::solve(double* b) const {
    switch (layout_) {
        case Layout::full:
            solve_full(n_, re_.ptr(), b, pivots_.data());
            break;
        case Layout::band:
            solve_band(n_, re_.ptr(), lower_, upper_, b, pivots_.data());
            break;
        case Layout::hessenberg:
            solve_hessenberg(n_, re_.ptr(), 1, b, pivots_.data());
            break;
    }
}

void SquareMatrix::solve(double* br, double* bi) const {
    switch (layout_) {
        case Layout::full:
            solve_full_complex(n_, re_.ptr(), im_.ptr(), br, bi, pivots_.data());
            break;
        case Layout::band:
            solve_band_complex(n_, re_.ptr(), im_.ptr(), lower_, upper_, br, bi, pivots_.data());
            break;
        case Layout::hessenberg:
            solve_hessenberg_complex(n_, re_.ptr(), im_.ptr(), 1, br, bi, pivots_.data());
            break;
    }
}

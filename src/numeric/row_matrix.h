// A matrix of doubles held as one contiguous block with a table of row pointers, the form
// the linear solvers take (a[i][j] is row i, column j). Elements start at zero.
#pragma once

#include <vector>

class RowMatrix {
  public:
    RowMatrix() = default;
    RowMatrix(int rows, int cols) { resize(rows, cols); }

    // The row table points into the block, so a copy would alias the original's storage.
    RowMatrix(const RowMatrix&) = delete;
    RowMatrix& operator=(const RowMatrix&) = delete;

    void resize(int rows, int cols) {
        rows_ = rows > 0 ? rows : 0;
        cols_ = cols > 0 ? cols : 0;
        block_.assign(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_), 0.0);
        table_.assign(static_cast<std::size_t>(rows_), nullptr);
        for (int i = 0; i < rows_; ++i)
            table_[static_cast<std::size_t>(i)] =
                block_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_);
    }

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    double** ptr() { return table_.data(); }
    double* const* ptr() const { return table_.data(); }
    double* operator[](int i) { return table_[static_cast<std::size_t>(i)]; }
    const double* operator[](int i) const { return table_[static_cast<std::size_t>(i)]; }

  private:
    int rows_ = 0;
    int cols_ = 0;
    std::vector<double> block_;
    std::vector<double*> table_;
};

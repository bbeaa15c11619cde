// Owning containers for the numeric series and tables that move between the result
// writers and the plotter, and for the integrator's matrices. The element type is a
// template parameter; the program uses double only. Neither container checks indices.
// Elements are value-initialised (0.0 for double) whenever storage is (re)made.
#pragma once

#include <cstddef>
#include <vector>

template <class T>
class NRvector {
  public:
    NRvector() = default;
    explicit NRvector(int n) : v_(n > 0 ? static_cast<std::size_t>(n) : 0) {}

    int size() const { return static_cast<int>(v_.size()); }
    T& operator[](int i) { return v_[static_cast<std::size_t>(i)]; }
    const T& operator[](int i) const { return v_[static_cast<std::size_t>(i)]; }
    T* data() { return v_.data(); }
    const T* data() const { return v_.data(); }

    // Resizing to the current size keeps the contents; any other size discards them and
    // starts from value-initialised elements.
    void resize(int n) {
        if (n == size()) return;
        v_.assign(n > 0 ? static_cast<std::size_t>(n) : 0, T());
    }

    // Appends x as the last element (amortised constant time).
    void append(const T& x) { v_.push_back(x); }

    // Largest element; undefined on an empty vector.
    T maximum() const {
        T best = v_[0];
        for (std::size_t i = 1; i < v_.size(); ++i)
            if (v_[i] > best) best = v_[i];
        return best;
    }
    // Smallest element; undefined on an empty vector.
    T minimum() const {
        T best = v_[0];
        for (std::size_t i = 1; i < v_.size(); ++i)
            if (v_[i] < best) best = v_[i];
        return best;
    }

    // Removes every element (the series are emptied between calibration points).
    void clear() { v_.clear(); }

  private:
    std::vector<T> v_;
};

// Row-major matrix in one contiguous block with a table of row pointers into it:
// operator[](i) is row i, and ptr() hands the table to routines that take T** (the linear
// solvers). A copy gets its own block and a table pointing into that block.
template <class T>
class NRmatrix {
  public:
    NRmatrix() = default;
    NRmatrix(int n, int m) { resize(n, m); }
    NRmatrix(const NRmatrix& other) : rows_(other.rows_), cols_(other.cols_), block_(other.block_) {
        build_table();
    }
    NRmatrix& operator=(const NRmatrix& other) {
        if (this != &other) {
            rows_ = other.rows_;
            cols_ = other.cols_;
            block_ = other.block_;
            build_table();
        }
        return *this;
    }
    // Moving a std::vector keeps its buffer, so the moved table stays valid.
    NRmatrix(NRmatrix&&) noexcept = default;
    NRmatrix& operator=(NRmatrix&&) noexcept = default;

    int nrows() const { return rows_; }
    int ncols() const { return cols_; }
    T* operator[](int i) { return table_[static_cast<std::size_t>(i)]; }
    const T* operator[](int i) const { return table_[static_cast<std::size_t>(i)]; }
    T** ptr() { return table_.data(); }
    T* const* ptr() const { return table_.data(); }

    // Same dimensions keep the contents; others discard them (new elements
    // value-initialised). Negative dimensions count as 0.
    void resize(int n, int m) {
        n = n > 0 ? n : 0;
        m = m > 0 ? m : 0;
        if (n == rows_ && m == cols_) return;
        rows_ = n;
        cols_ = m;
        block_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(m), T());
        build_table();
    }

  private:
    void build_table() {
        table_.assign(static_cast<std::size_t>(rows_), nullptr);
        for (std::size_t i = 0; i < table_.size(); ++i)
            table_[i] = block_.data() + i * static_cast<std::size_t>(cols_);
    }

    int rows_ = 0;
    int cols_ = 0;
    std::vector<T> block_;
    std::vector<T*> table_;
};

using VecDoub = NRvector<double>;
using MatDoub = NRmatrix<double>;
using VecDoub_I = const NRvector<double>;
using MatDoub_I = const NRmatrix<double>;

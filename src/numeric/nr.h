// Owning containers for the numeric series and tables that move between the result
// writers and the plotter. The element type is a template parameter; the program uses
// double only. Neither container checks indices.
#pragma once

#include <memory>

template <class T>
class NRvector {
public:
    NRvector() = default;
    explicit NRvector(int n) : count_(n), capacity_(n > 0 ? n : 0) {
        if (n > 0) data_.reset(new T[n]);
    }
    NRvector(const NRvector& other) : NRvector(other.count_) {
        for (int i = 0; i < count_; ++i) data_[i] = other.data_[i];
    }
    NRvector& operator=(const NRvector& other) {
        if (this != &other) {
            NRvector copy(other);
            swap(copy);
        }
        return *this;
    }
    NRvector(NRvector&& other) noexcept { swap(other); }
    NRvector& operator=(NRvector&& other) noexcept {
        swap(other);
        return *this;
    }

    int size() const { return count_; }
    T& operator[](int i) { return data_[i]; }
    const T& operator[](int i) const { return data_[i]; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }

    // Resizing to the current size keeps the contents; any other size discards them and
    // leaves the new elements uninitialised.
    void resize(int n) {
        if (n == count_) return;
        data_.reset(n > 0 ? new T[n] : nullptr);
        count_ = n;
        capacity_ = n > 0 ? n : 0;
    }

    // Appends x as the last element. Storage grows geometrically, so a series of k
    // appends costs O(k) copies in all; the elements seen are those of a copy-and-grow.
    void append(const T& x) {
        if (count_ >= capacity_) {
            const int grown = capacity_ > 0 ? 2 * capacity_ : 16;
            std::unique_ptr<T[]> bigger(new T[grown]);
            for (int i = 0; i < count_; ++i) bigger[i] = data_[i];
            data_ = std::move(bigger);
            capacity_ = grown;
        }
        data_[count_++] = x;
    }

    // Largest element; undefined on an empty vector.
    T maximum() const {
        T best = data_[0];
        for (int i = 1; i < count_; ++i)
            if (data_[i] > best) best = data_[i];
        return best;
    }
    // Smallest element; undefined on an empty vector.
    T minimum() const {
        T best = data_[0];
        for (int i = 1; i < count_; ++i)
            if (data_[i] < best) best = data_[i];
        return best;
    }

    // Removes every element (the series are emptied between calibration points).
    void clear() { resize(0); }

private:
    void swap(NRvector& other) noexcept {
        std::swap(count_, other.count_);
        std::swap(capacity_, other.capacity_);
        std::swap(data_, other.data_);
    }

    int count_ = 0;
    int capacity_ = 0;
    std::unique_ptr<T[]> data_;
};

// Row-major matrix in one contiguous block; operator[](i) is the row pointer i.
template <class T>
class NRmatrix {
public:
    NRmatrix() = default;
    NRmatrix(int n, int m) { resize(n, m); }
    NRmatrix(const NRmatrix& other) : NRmatrix() {
        resize(other.rows_, other.cols_);
        const long total = static_cast<long>(rows_) * cols_;
        for (long k = 0; k < total; ++k) block_[k] = other.block_[k];
    }
    NRmatrix& operator=(const NRmatrix& other) {
        if (this != &other) {
            NRmatrix copy(other);
            std::swap(rows_, copy.rows_);
            std::swap(cols_, copy.cols_);
            std::swap(rowTable_, copy.rowTable_);
            std::swap(block_, copy.block_);
        }
        return *this;
    }
    NRmatrix(NRmatrix&&) noexcept = default;
    NRmatrix& operator=(NRmatrix&&) noexcept = default;

    int nrows() const { return rows_; }
    int ncols() const { return cols_; }
    T* operator[](int i) { return rowTable_[i]; }
    const T* operator[](int i) const { return rowTable_[i]; }

    // Same dimensions keep the contents; others discard them (new elements uninitialised).
    void resize(int n, int m) {
        if (n == rows_ && m == cols_) return;
        block_.reset();
        rowTable_.reset();
        rows_ = n;
        cols_ = m;
        if (n > 0) rowTable_.reset(new T*[n]);
        const long total = static_cast<long>(n) * m;
        if (total > 0) block_.reset(new T[total]);
        for (int i = 0; i < n; ++i) rowTable_[i] = total > 0 ? block_.get() + static_cast<long>(i) * m : nullptr;
    }

private:
    int rows_ = 0;
    int cols_ = 0;
    std::unique_ptr<T*[]> rowTable_;
    std::unique_ptr<T[]> block_;
};

using VecDoub = NRvector<double>;
using MatDoub = NRmatrix<double>;
using VecDoub_I = const NRvector<double>;
using MatDoub_I = const NRmatrix<double>;

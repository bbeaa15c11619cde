// Per-layer members of the model record. Each reads the record's one layer cursor
// (1-based): code sets the cursor, then reads or writes the member through get/set/item.
// at(l) reaches layer l (1-based) directly, without moving the cursor, so that code which
// only reads the record can take it const.
#pragma once

#include <istream>
#include <span>
#include <vector>

// One value per layer: T is double (layer_double) or int (layer_int).
template <class T>
class layer_value {
  public:
    void init(const int* cursor, int nLayers) {
        cursor_ = cursor;
        values_.assign(nLayers > 0 ? nLayers : 0, T{});
    }
    bool allocated() const { return cursor_ != nullptr; }
    T get() const { return values_[*cursor_ - 1]; }
    void set(T v) { values_[*cursor_ - 1] = v; }
    T at(int l) const { return values_[l - 1]; }
    T& at(int l) { return values_[l - 1]; }
    friend std::istream& operator>>(std::istream& in, layer_value& x) {
        return in >> x.values_[*x.cursor_ - 1];
    }

  private:
    std::vector<T> values_;
    const int* cursor_ = nullptr;
};

using layer_double = layer_value<double>;
using layer_int = layer_value<int>;

// The per-component row of one layer, indexed as the cursor form is: item(c), c 1-based.
// T is double for a writable row, const double for a read-only one.
template <class T>
class ComponentRow {
  public:
    explicit ComponentRow(T* first) : first_(first) {}
    T& item(int c) const { return first_[c - 1]; }

  private:
    T* first_;
};

// Per layer, a row of per-component doubles; item(c) with c 1-based.
class layer_double_tab {
  public:
    void init(const int* cursor, int nLayers, int nComponents) {
        cursor_ = cursor;
        nComponents_ = nComponents > 0 ? nComponents : 0;
        values_.assign(static_cast<size_t>(nLayers > 0 ? nLayers : 0) * nComponents_, 0.0);
    }
    bool allocated() const { return cursor_ != nullptr; }
    double& item(int c) { return at(*cursor_).item(c); }
    double item(int c) const { return at(*cursor_).item(c); }
    ComponentRow<double> at(int l) { return ComponentRow<double>(values_.data() + offset(l)); }
    ComponentRow<const double> at(int l) const {
        return ComponentRow<const double>(values_.data() + offset(l));
    }

  private:
    size_t offset(int l) const { return static_cast<size_t>(l - 1) * nComponents_; }

    std::vector<double> values_;
    const int* cursor_ = nullptr;
    int nComponents_ = 0;
};

// Per layer, a row of per-grid-point doubles; item(i) with i 0-based. The row of layer l
// holds N[l] + extra values, sized by layer position, not through the cursor. at(l) is
// the whole row of layer l, indexed as item is.
class layer_double_vec {
  public:
    void init(const int* cursor, int nLayers, const layer_int& N, int extra) {
        cursor_ = cursor;
        rows_.assign(nLayers > 0 ? nLayers : 0, {});
        for (int l = 1; l <= nLayers; ++l) rows_[l - 1].assign(N.at(l) + extra, 0.0);
    }
    bool allocated() const { return cursor_ != nullptr; }
    double& item(int i) { return rows_[*cursor_ - 1][i]; }
    double item(int i) const { return rows_[*cursor_ - 1][i]; }
    // The current layer's whole row, for loops that walk it.
    double* row() { return rows_[*cursor_ - 1].data(); }
    const double* row() const { return rows_[*cursor_ - 1].data(); }
    std::span<double> at(int l) { return rows_[l - 1]; }
    std::span<const double> at(int l) const { return rows_[l - 1]; }

  private:
    std::vector<std::vector<double>> rows_;
    const int* cursor_ = nullptr;
};

// Per-layer members of the model record. Each reads the record's one layer cursor
// (1-based): code sets the cursor, then reads or writes the member.
#pragma once

#include <istream>
#include <vector>

// One double per layer.
class layer_double {
  public:
    void init(const int* cursor, int nLayers) {
        cursor_ = cursor;
        values_.assign(nLayers > 0 ? nLayers : 0, 0.0);
    }
    bool allocated() const { return cursor_ != nullptr; }
    double get() const { return values_[*cursor_ - 1]; }
    void set(double v) { values_[*cursor_ - 1] = v; }
    // Value of layer l (1-based) without moving the cursor.
    double at_layer(int l) const { return values_[l - 1]; }
    friend std::istream& operator>>(std::istream& in, layer_double& x) {
        return in >> x.values_[*x.cursor_ - 1];
    }

  private:
    std::vector<double> values_;
    const int* cursor_ = nullptr;
};

// One int per layer.
class layer_int {
  public:
    void init(const int* cursor, int nLayers) {
        cursor_ = cursor;
        values_.assign(nLayers > 0 ? nLayers : 0, 0);
    }
    bool allocated() const { return cursor_ != nullptr; }
    int get() const { return values_[*cursor_ - 1]; }
    void set(int v) { values_[*cursor_ - 1] = v; }
    // Value of layer l (1-based) without moving the cursor; used to size rows per layer.
    int at_layer(int l) const { return values_[l - 1]; }
    friend std::istream& operator>>(std::istream& in, layer_int& x) {
        return in >> x.values_[*x.cursor_ - 1];
    }

  private:
    std::vector<int> values_;
    const int* cursor_ = nullptr;
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
    double& item(int c) {
        return values_[static_cast<size_t>(*cursor_ - 1) * nComponents_ + c - 1];
    }
    double item(int c) const {
        return values_[static_cast<size_t>(*cursor_ - 1) * nComponents_ + c - 1];
    }

  private:
    std::vector<double> values_;
    const int* cursor_ = nullptr;
    int nComponents_ = 0;
};

// Per layer, a row of per-grid-point doubles; item(i) with i 0-based. The row of layer l
// holds N[l] + extra values, sized by layer position, not through the cursor.
class layer_double_vec {
  public:
    void init(const int* cursor, int nLayers, const layer_int& N, int extra) {
        cursor_ = cursor;
        rows_.assign(nLayers > 0 ? nLayers : 0, {});
        for (int l = 1; l <= nLayers; ++l) rows_[l - 1].assign(N.at_layer(l) + extra, 0.0);
    }
    bool allocated() const { return cursor_ != nullptr; }
    double& item(int i) { return rows_[*cursor_ - 1][i]; }
    double item(int i) const { return rows_[*cursor_ - 1][i]; }
    // The current layer's whole row, for loops that walk it.
    double* row() { return rows_[*cursor_ - 1].data(); }
    const double* row() const { return rows_[*cursor_ - 1].data(); }

  private:
    std::vector<std::vector<double>> rows_;
    const int* cursor_ = nullptr;
};

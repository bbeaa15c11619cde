// Fills the record from the three input forms, value group by value group, and checks
// every value against its range as soon as it is read, so that a fault is reported at
// its own line before anything is computed from it.
#pragma once

#include <string>

#include "model/model.h"
#include "model/text_scanner.h"

class InputReader {
  public:
    InputReader(model& md, TextScanner scanner) : md_(md), in_(std::move(scanner)) {}

    // Each reads the file after its first line.
    void read_current_form();
    void read_legacy_form();
    void read_oldest_form();

    // After a form is read: refuses a region (a solution or a layer) whose initial charge
    // the opposite ion cannot balance with a concentration of 0 or more, and notes values
    // that are valid but most likely in another unit (into md.inputNotes).
    void check_initial_charge();
    void add_plausibility_notes();
    // Refuses an input that implies a concentration beyond the dilute range
    // (model/dilute_range.h) in a layer or at a layer's edge, at the line of the transfer
    // constants responsible (of the concentration, for a layer's own).
    void check_dilute_range();

  private:
    enum class Bound { positive, non_negative, any };

    int read_int(const std::string& name, int lo, int hi, const std::string& what = "");
    double read_real(const std::string& name, Bound bound, const std::string& what = "");
    // The group readers below read one whole value group: the comment line before the
    // values, the values, and the mark that opens the next comment line.
    int read_int_group(const std::string& name, int lo, int hi);
    // `unit` is the unit of the values as the file gives them ("K"), for messages.
    double read_real_group(const std::string& name, Bound bound, const char* unit);
    void read_layer_reals(layer_double& field, const std::string& name, Bound bound,
                          const char* unit);
    void read_layer_ints(layer_int& field, const std::string& name, int lo, int hi);
    void read_layer_choices(layer_double& field, const std::string& name, int lo, int hi);
    void read_component_layers(layer_double_tab& field, int c, const std::string& name, Bound bound,
                               const std::string& groupWhat);
    void read_interfaces(double (&table)[kMaxSlots][kMaxSlots], int c, const std::string& name);
    void read_component(int c, bool legacyLayout);
    void read_complexation(int c);
    void read_rescaling();
    void read_scales(const std::string& what, bool atFirst);
    std::string multipliers_what() const;
    void read_grid_debye();
    void read_multipliers();
    void read_calibration_ions();
    void read_grid();
    void check_grid(int type, int N, int mm, const std::string& where);
    void read_grid_and_switches();
    void read_components(bool legacyLayout);
    void read_duration();
    void read_drift();
    void read_method();
    void check_components();
    void set_legacy_fixed_values();

    [[noreturn]] void fail(const std::string& message) const {
        in_.fail(in_.value_line(), message);
    }

    model& md_;
    TextScanner in_;
    int calibrationLine_ = 0;
};

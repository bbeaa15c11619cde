// Reads an input file with the four primitive operations of its format (skip line,
// values, skip mark, skip label), keeping the line number so that every fault can be
// reported with the file, the line and the text found there. Reading is strict about what
// the operations would pass over unseen: text after the last value of a group, or a line
// of numbers where a comment line or a label belongs, is reported at its own line.
#pragma once

#include <string>

class TextScanner {
  public:
    // `text` is the whole file; `fileName` is used in messages.
    TextScanner(std::string text, std::string fileName);

    // Reads and discards the rest of the current line, including its line end. Ends the
    // unit of the values before it (set_unit).
    void skip_line();
    // Ends a value group described by `what`: the rest of the last value's line must be
    // blank (end_values), then blanks and line ends are skipped and one character is
    // discarded (the first character of the comment line that follows). A line that holds
    // nothing but numbers there is an extra value, not `next` (what follows the group), and
    // throws. At the end of the file it does nothing.
    void end_group(const std::string& what, const std::string& next = "a comment line");
    // The rest of the current line after the last value of `what` must be blank; a
    // further token throws InputError naming it, as an extra value when it is a number
    // and as a unit word when the values have a unit.
    void end_values(const std::string& what);
    // Discards characters up to and including the next ':'; throws at the end of the file,
    // and at a line of nothing but numbers on the way (an extra value of the label before).
    // Ends the unit of the values before it.
    void skip_label(const std::string& what);
    // The unit of the values read next, for messages about a unit word written after them
    // ("K", "mol/m^3"); `name` names the value when a group mixes units. Empty for
    // counts, switches and other pure numbers.
    void set_unit(const std::string& unit, const std::string& name = "");

    // Read one whitespace-separated value. `what` describes the expected value for the
    // message, for example "2 values for `d` (one per layer)". A token that is not
    // wholly a finite number of the requested kind, or the end of the file, throws
    // InputError naming the file, the line and the token.
    int read_int(const std::string& what);
    double read_double(const std::string& what);

    // Line (1-based) of the last value read.
    int value_line() const { return valueLine_; }
    const std::string& file_name() const { return fileName_; }

    // Throws InputError "<file>, line <line>: <message>".
    [[noreturn]] void fail(int line, const std::string& message) const;

  private:
    std::string next_token(const std::string& what);
    template <typename T>
    T read_number(const std::string& what);
    void skip_whitespace();
    // "; values are in K, written without a unit word" when `token` is a word and the
    // values have a unit, else empty.
    std::string unit_hint(const std::string& token) const;
    // Throws when the line starting at `start` (line number `line`) holds nothing but
    // numbers; `place` says what belongs there ("a comment line belongs, after ...").
    void refuse_number_line(size_t start, int line, const std::string& place) const;

    std::string text_;
    std::string fileName_;
    size_t pos_ = 0;
    int line_ = 1;
    int valueLine_ = 0;
    std::string unit_;
    std::string unitName_;
    int groupValues_ = 0;  // values read since the unit was set
    int lastValueLine_ = 0;
};

// `text` with every control byte (below 0x20, and 0x7f) written as \xHH.
std::string visible_text(const std::string& text);

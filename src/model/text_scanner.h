// Reads an input file with the four primitive operations of its format (skip line,
// values, skip mark, skip label), keeping the line number so that every fault can be
// reported with the file, the line and the text found there.
#pragma once

#include <string>

class TextScanner {
  public:
    // `text` is the whole file; `fileName` is used in messages.
    TextScanner(std::string text, std::string fileName);

    // Reads and discards the rest of the current line, including its line end.
    void skip_line();
    // Skips blanks and line ends, then discards one character (the first character of
    // the comment line that follows a value group). At the end of the file it does nothing.
    void skip_mark();
    // Discards characters up to and including the next ':'; throws at the end of the file.
    void skip_label(const std::string& what);

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

    std::string text_;
    std::string fileName_;
    size_t pos_ = 0;
    int line_ = 1;
    int valueLine_ = 0;
};

// `text` with every control byte (below 0x20, and 0x7f) written as \xHH.
std::string visible_text(const std::string& text);

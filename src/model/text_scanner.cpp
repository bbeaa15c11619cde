#include "model/text_scanner.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <type_traits>

#include "model/errors.h"

TextScanner::TextScanner(std::string text, std::string fileName)
    : text_(std::move(text)), fileName_(std::move(fileName)) {}

void TextScanner::skip_line() {
    while (pos_ < text_.size()) {
        if (text_[pos_++] == '\n') {
            ++line_;
            return;
        }
    }
}

void TextScanner::skip_whitespace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
    }
}

void TextScanner::skip_mark() {
    skip_whitespace();
    if (pos_ < text_.size()) ++pos_;
}

void TextScanner::skip_label(const std::string& what) {
    while (pos_ < text_.size()) {
        const char ch = text_[pos_++];
        if (ch == '\n') ++line_;
        if (ch == ':') return;
    }
    fail(line_, "expected the label of " + what + ", found the end of the file");
}

std::string TextScanner::next_token(const std::string& what) {
    skip_whitespace();
    valueLine_ = line_;
    if (pos_ >= text_.size()) fail(line_, "expected " + what + ", found the end of the file");
    const size_t start = pos_;
    while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return text_.substr(start, pos_ - start);
}

namespace {

// A comment line read where values stand usually means a wrong count of values above.
// Control bytes of the token are shown as escapes, so that the message stays one readable
// line whatever the file holds.
std::string found_text(const std::string& token) {
    std::string s = "found '" + visible_text(token) + "'";
    if (token.rfind("--", 0) == 0)
        s += " (a comment line where values belong: check the number of values above it)";
    return s;
}

}  // namespace

// One token wholly read as a finite number of type T. from_chars takes no leading '+',
// so one is skipped here, but a sign after it ("+-3") is refused.
template <typename T>
T TextScanner::read_number(const std::string& what) {
    const std::string token = next_token(what);
    T v = 0;
    const char* first = token.data();
    const char* last = first + token.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, v);
    bool finite = true;
    if constexpr (std::is_floating_point_v<T>) finite = std::isfinite(v);
    if (ec != std::errc() || end != last || first == last || !finite ||
        (first != token.data() && *first == '-'))
        fail(valueLine_, "expected " + what + ", " + found_text(token));
    return v;
}

int TextScanner::read_int(const std::string& what) { return read_number<int>(what); }

double TextScanner::read_double(const std::string& what) { return read_number<double>(what); }

void TextScanner::fail(int line, const std::string& message) const {
    throw InputError(fileName_ + ", line " + std::to_string(line) + ": " + message);
}

std::string visible_text(const std::string& text) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const unsigned char ch : text) {
        if (ch < 0x20 || ch == 0x7f) {
            out += "\\x";
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

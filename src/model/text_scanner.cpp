#include "model/text_scanner.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <type_traits>

#include "model/errors.h"

namespace {

// A token read wholly as a number of any kind (what a value group may hold), a leading
// '+' allowed.
bool is_number(const std::string& token) {
    const char* first = token.data();
    const char* last = first + token.size();
    if (first != last && *first == '+') ++first;
    if (first == last || *first == '+' || (first != token.data() && *first == '-')) return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    return end == last && (ec == std::errc() || ec == std::errc::result_out_of_range);
}

// A unit written after a number starts with a letter ("K", "mM", "um") or with a byte of
// a multi-byte character ("µm").
bool is_word(const std::string& token) {
    const unsigned char ch = static_cast<unsigned char>(token[0]);
    return !is_number(token) && (std::isalpha(ch) || ch >= 0x80);
}

}  // namespace

TextScanner::TextScanner(std::string text, std::string fileName)
    : text_(std::move(text)), fileName_(std::move(fileName)) {}

void TextScanner::skip_line() {
    set_unit("");
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

void TextScanner::set_unit(const std::string& unit, const std::string& name) {
    unit_ = unit;
    unitName_ = name;
    groupValues_ = 0;
}

std::string TextScanner::unit_hint(const std::string& token) const {
    if (unit_.empty() || token.empty() || !is_word(token)) return "";
    if (unitName_.empty()) return "; values are in " + unit_ + ", written without a unit word";
    return "; " + unitName_ + " is in " + unit_ + ", written without a unit word";
}

void TextScanner::end_values(const std::string& what) {
    while (pos_ < text_.size() && text_[pos_] != '\n' &&
           std::isspace(static_cast<unsigned char>(text_[pos_])))
        ++pos_;
    if (pos_ >= text_.size() || text_[pos_] == '\n') return;
    const size_t start = pos_;
    size_t end = start;
    while (end < text_.size() && !std::isspace(static_cast<unsigned char>(text_[end]))) ++end;
    const std::string token = text_.substr(start, end - start);
    if (is_number(token))
        fail(line_, "expected " + what + " and nothing more, found the extra value '" +
                        visible_text(token) + "'");
    fail(line_, "expected " + what + " and nothing more, found '" + visible_text(token) + "'" +
                    unit_hint(token));
}

void TextScanner::end_group(const std::string& what, const std::string& next) {
    end_values(what);
    skip_whitespace();
    if (pos_ >= text_.size()) return;
    size_t start = pos_;
    while (start > 0 && text_[start - 1] != '\n') --start;
    refuse_number_line(start, line_, next + " belongs, after " + what);
    ++pos_;
}

void TextScanner::skip_label(const std::string& what) {
    while (pos_ < text_.size()) {
        const char ch = text_[pos_++];
        if (ch == '\n') {
            ++line_;
            refuse_number_line(pos_, line_, "the label of " + what + " belongs");
        }
        if (ch == ':') {
            set_unit("");
            return;
        }
    }
    fail(line_, "expected the label of " + what + ", found the end of the file");
}

void TextScanner::refuse_number_line(size_t start, int line, const std::string& place) const {
    size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::string first;
    size_t i = start;
    while (i < end) {
        while (i < end && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
        if (i == end) break;
        const size_t tokenStart = i;
        while (i < end && !std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
        const std::string token = text_.substr(tokenStart, i - tokenStart);
        if (!is_number(token)) return;
        if (first.empty()) first = token;
    }
    if (first.empty()) return;
    fail(line,
         "found the extra value '" + visible_text(first) + "' on a line of its own where " + place);
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
        (first != token.data() && *first == '-')) {
        // A word right after a value of the same line is most likely that value's unit.
        const bool afterValue = groupValues_ > 0 && lastValueLine_ == valueLine_;
        fail(valueLine_,
             "expected " + what + ", " + found_text(token) + (afterValue ? unit_hint(token) : ""));
    }
    ++groupValues_;
    lastValueLine_ = valueLine_;
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

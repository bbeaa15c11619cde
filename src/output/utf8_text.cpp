#include "output/utf8_text.h"

namespace {

// Length of the UTF-8 sequence starting at text[i]; `valid` says whether it is complete
// and well formed. An invalid one is its maximal subpart: the lead byte and the
// continuation bytes that could still have begun a valid sequence (at least one byte).
std::size_t sequence_length(const std::string& text, std::size_t i, bool& valid) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    valid = true;
    if (lead < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        valid = false;
        return 1;
    }
    for (std::size_t k = 1; k < n; ++k) {
        const bool fits = i + k < text.size() && byte(i + k) >= (k == 1 ? low : 0x80) &&
                          byte(i + k) <= (k == 1 ? high : 0xBF);
        if (!fits) {
            valid = false;
            return k;
        }
    }
    return n;
}

}  // namespace

std::string valid_utf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool valid = true;
        const std::size_t n = sequence_length(text, i, valid);
        if (valid)
            out.append(text, i, n);
        else
            out += "\xEF\xBF\xBD";  // U+FFFD
        i += n;
    }
    return out;
}

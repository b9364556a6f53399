#include "text/utf8_char.h"

namespace quorvel {

namespace {

struct lead_rule {
    std::size_t size;          // bytes of the whole sequence
    unsigned char second_low;  // the second byte's range is narrower for some leads,
    unsigned char second_high; // which rules out overlong forms, surrogates and > U+10FFFF
};

// Size 1 marks a byte that cannot start a multi-byte sequence.
lead_rule rule_for(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {1, 0, 0};
}

bool is_continuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

}  // namespace

std::size_t utf8_char_size(std::string_view text, std::size_t pos)
{
    const lead_rule rule = rule_for(static_cast<unsigned char>(text[pos]));
    for (std::size_t k = 1; k < rule.size; ++k) {
        if (pos + k >= text.size()) return 0;
        const auto byte = static_cast<unsigned char>(text[pos + k]);
        const bool fits = k == 1 ? byte >= rule.second_low && byte <= rule.second_high
                                 : is_continuation(byte);
        if (!fits) return 1;
    }
    return rule.size;
}

std::string_view without_unfinished_tail(std::string_view text)
{
    // A byte outside 80..BF always starts a character, so the last one decides.
    const std::size_t stop = text.size() > 3 ? text.size() - 3 : 0;
    for (std::size_t pos = text.size(); pos > stop;) {
        --pos;
        if (is_continuation(static_cast<unsigned char>(text[pos]))) continue;
        return utf8_char_size(text, pos) == 0 ? text.substr(0, pos) : text;
    }
    return text;
}

}  // namespace quorvel

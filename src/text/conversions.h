// Conversions between numbers and texts behind every displayed, stored or typed figure.
// Texts are UTF-8. None of these fails: a text without a number gives 0.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvel {

// Decimal digits, "-" for negatives ("%d").
std::string int_to_text(std::int32_t value);

// Rounds halves away from zero (after a 1e-12 nudge), formats with "%.13g", pads to `decimals`.
std::string number_to_fixed_text(double value, int decimals);

// Folds full-width forms to ASCII, then reads like atol in the C locale, wrapping modulo 2^32.
std::int32_t text_to_int(std::string_view text);

// Integer part toward zero, taken to 64 bits.
std::int64_t truncate_to_int(double value);

// Removes runs of spaces and ideographic spaces (U+3000) at both ends; nothing else.
std::string trim_text(std::string_view text);

// Byte-wise comparison as unsigned bytes: -1, 0 or 1.
int compare_texts(std::string_view a, std::string_view b);

// The parts, in order.
std::string join_texts(std::initializer_list<std::string_view> parts);

}  // namespace quorvel

#include "text/conversions.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "text/utf8_char.h"

namespace quorvel {

namespace {

constexpr std::string_view ideographic_space = "\xE3\x80\x80";  // U+3000

// Code point of a well-formed three-byte character.
char32_t three_byte_code_point(std::string_view ch)
{
    return (static_cast<char32_t>(ch[0] & 0x0F) << 12) |
           (static_cast<char32_t>(ch[1] & 0x3F) << 6) | static_cast<char32_t>(ch[2] & 0x3F);
}

// The ASCII byte that a full-width or look-alike character stands for, or 0 when none.
char ascii_of(char32_t code_point)
{
    // The full-width dollar is left out: the code page keeps the yen sign in its place.
    if (code_point >= 0xFF01 && code_point <= 0xFF5D && code_point != 0xFF04)
        return static_cast<char>(code_point - 0xFEE0);
    switch (code_point) {
    case 0x3000: return ' ';
    case 0xFF5E: return '~';
    case 0xFFE3: return '~';
    case 0xFFE5: return '$';
    case 0x2605:
    case 0x2606: return '*';
    default: return 0;
    }
}

// Lets numbers typed with a Chinese input method be read like ASCII ones.
std::string halfwidth_fold(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t size = utf8_char_size(text, pos);
        if (size == 0) break;
        const std::string_view ch = text.substr(pos, size);
        const char ascii = size == 3 ? ascii_of(three_byte_code_point(ch)) : 0;
        if (ascii != 0) {
            folded += ascii;
        } else {
            folded += ch;
        }
        pos += size;
    }
    return folded;
}

bool is_c_white_space(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

bool is_trim_space(std::string_view ch) { return ch == " " || ch == ideographic_space; }

double rounded_away_from_zero(double value, int decimals)
{
    if (value == 0.0) return value;
    const double scale = std::pow(10.0, decimals);
    const double nudged = std::fabs(value) * scale + 1e-12;
    double whole = std::floor(nudged);
    if (nudged - whole >= 0.5) whole += 1.0;
    const double magnitude = whole / scale;
    return value < 0 ? -magnitude : magnitude;
}

std::string g13_text(double value)
{
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%.13g", value);
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void pad_fraction(std::string& text, int decimals)
{
    if (decimals <= 0) return;
    const std::size_t point = text.find('.');
    if (point == std::string::npos) {
        text += '.';
        text.append(static_cast<std::size_t>(decimals), '0');
        return;
    }
    const std::size_t present = text.size() - point - 1;
    if (present < static_cast<std::size_t>(decimals))
        text.append(static_cast<std::size_t>(decimals) - present, '0');
}

}  // namespace

std::string int_to_text(std::int32_t value) { return std::to_string(value); }

std::string number_to_fixed_text(double value, int decimals)
{
    if (decimals < 0) decimals = 0;
    std::string text = g13_text(rounded_away_from_zero(value, decimals));
    pad_fraction(text, decimals);
    return text;
}

std::int32_t text_to_int(std::string_view text)
{
    const std::string folded = halfwidth_fold(text);
    std::size_t pos = 0;
    while (pos < folded.size() && is_c_white_space(folded[pos])) ++pos;
    bool negative = false;
    if (pos < folded.size() && (folded[pos] == '-' || folded[pos] == '+')) {
        negative = folded[pos] == '-';
        ++pos;
    }
    std::uint32_t value = 0;  // unsigned, so that too many digits wrap instead of overflowing
    for (; pos < folded.size() && folded[pos] >= '0' && folded[pos] <= '9'; ++pos)
        value = value * 10u + static_cast<std::uint32_t>(folded[pos] - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

std::int64_t truncate_to_int(double value)
{
    // Out-of-range and NaN inputs would be undefined behaviour for a plain cast.
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (std::isnan(value)) return 0;
    if (value >= limit) return std::numeric_limits<std::int64_t>::max();
    if (value < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::string trim_text(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = 0;
    bool in_leading_run = true;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t size = utf8_char_size(text, pos);
        if (size == 0) {
            // An unfinished character at the end goes, and the spaces before it stay.
            if (in_leading_run) begin = pos;
            end = pos;
            break;
        }
        if (!is_trim_space(text.substr(pos, size))) {
            in_leading_run = false;
            end = pos + size;
        } else if (in_leading_run) {
            begin = pos + size;
        }
        pos += size;
    }
    return end > begin ? std::string(text.substr(begin, end - begin)) : std::string();
}

int compare_texts(std::string_view a, std::string_view b)
{
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto byte_a = static_cast<unsigned char>(a[i]);
        const auto byte_b = static_cast<unsigned char>(b[i]);
        if (byte_a != byte_b) return byte_a < byte_b ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string join_texts(std::initializer_list<std::string_view> parts)
{
    std::size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    std::string joined;
    joined.reserve(total);
    for (std::string_view part : parts) joined += part;
    return joined;
}

}  // namespace quorvel

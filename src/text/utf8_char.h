// Stepping through UTF-8 text one character at a time, tolerant of invalid bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

// The byte count (1 to 4) of the character that starts at `pos`. A byte that does not start a
// well-formed sequence counts as a character of its own; 0 means the text ends in the middle of
// an otherwise well-formed sequence, which callers drop.
std::size_t utf8_char_size(std::string_view text, std::size_t pos);

// `text` without an unfinished sequence at its very end.
std::string_view without_unfinished_tail(std::string_view text);

}  // namespace quorvel

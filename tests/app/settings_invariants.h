// What one write_setting may do to the bytes of a settings file, shared by the settings test and
// the fuzz target of the parser.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace quorvel::testing {

// True when `after` differs from `before` only inside one line (a value replaced) and by the few
// lines one write adds (a line break, a section header, the key line): every other byte is kept.
inline bool rest_of_file_kept(std::string_view before, std::string_view after)
{
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::string_view removed = before.substr(prefix, before.size() - prefix - suffix);
    const std::string_view added = after.substr(prefix, after.size() - prefix - suffix);
    return removed.find('\n') == std::string_view::npos &&
           std::count(added.begin(), added.end(), '\n') <= 3;
}

}  // namespace quorvel::testing

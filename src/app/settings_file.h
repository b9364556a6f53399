// The settings file: an INI file next to the executable, read and written one key at a time.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

inline constexpr std::string_view settings_section = "pingtest";

// The directory of the running executable followed by "/ini.ini".
std::string settings_path();

// The key's value; `default_text` only when the key is missing (an empty default gives "").
std::string read_setting(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_text);

// Stores one key, creating the file and section when needed. Atomic; a failure is silent.
void write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

}  // namespace quorvel

// The settings file: an INI file read and written one key at a time.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

inline constexpr std::string_view settings_section = "pingtest";

// What decides where the settings live.
struct settings_environment {
    std::string program_folder;   // the folder of the running executable, "" when unknown
    std::string xdg_config_home;  // $XDG_CONFIG_HOME as set, possibly empty
    std::string home;             // the user's home folder
};

settings_environment current_settings_environment();

// "ini.ini" beside the program when that can keep the options (a writable ini.ini there, or a
// writable program folder outside /usr), else ini.ini in the user's configuration folder
// ($XDG_CONFIG_HOME/quorvel, default ~/.config/quorvel), which is created with mode 0700.
std::string settings_path_for(const settings_environment& environment);

// settings_path_for the running program; called once, at start-up.
std::string settings_path();

// The key's value; `default_text` only when the key is missing (an empty default gives "").
std::string read_setting(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view default_text);

// Stores one key, creating the file and section when needed. Concurrent writers of one file
// take turns; the file is replaced atomically where its folder allows it. A failure is silent.
void write_setting(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

}  // namespace quorvel

// Where the settings live: beside the program for a portable copy, in the user's configuration
// folder for an installed one, whose program folder the user cannot write.
#include "app/settings_file.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/settings_file_store.h"

namespace quorvel {

namespace {

using settings_store::folder_of;

constexpr std::string_view file_name = "ini.ini";

bool is_absolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string in_folder(const std::string& folder, std::string_view name)
{
    return (folder == "/" ? std::string() : folder) + "/" + std::string(name);
}

// A program folder under /usr belongs to the system: root starting the program there once must
// not leave a settings file in it.
bool under_usr(const std::string& folder) { return folder == "/usr" || folder.starts_with("/usr/"); }

// An ini.ini there that we may write serves; when there is none, a folder where we may make one.
bool program_folder_serves(const std::string& folder)
{
    if (!is_absolute(folder)) return false;
    const std::string file = settings_store::follow_links(in_folder(folder, file_name));
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0)
        return S_ISREG(status.st_mode) && settings_store::may_write(file, status);
    return errno == ENOENT && !under_usr(folder) &&
           settings_store::may_write_folder(folder_of(file));
}

// Every missing folder on the way gets mode 0700, as the XDG base directory rules ask.
void make_folders(const std::string& folder)
{
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

std::string executable_folder()
{
    std::string exe(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", exe.data(), exe.size());
        if (length <= 0) return {};
        if (static_cast<std::size_t>(length) < exe.size()) {
            exe.resize(static_cast<std::size_t>(length));
            return folder_of(exe);
        }
        exe.resize(exe.size() * 2);
    }
}

std::string home_folder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && is_absolute(home)) return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

}  // namespace

settings_environment current_settings_environment()
{
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    return {executable_folder(), config_home != nullptr ? config_home : "", home_folder()};
}

std::string settings_path_for(const settings_environment& environment)
{
    if (program_folder_serves(environment.program_folder))
        return in_folder(environment.program_folder, file_name);
    // An empty or relative XDG_CONFIG_HOME is to be ignored.
    std::string config_home = environment.xdg_config_home;
    if (!is_absolute(config_home)) {
        if (!is_absolute(environment.home))  // nowhere better: the options cannot be kept anyway
            return in_folder(is_absolute(environment.program_folder) ? environment.program_folder : "/",
                             file_name);
        config_home = in_folder(environment.home, ".config");
    }
    const std::string folder = in_folder(config_home, "quorvel");
    make_folders(folder);
    return in_folder(folder, file_name);
}

std::string settings_path() { return settings_path_for(current_settings_environment()); }

}  // namespace quorvel

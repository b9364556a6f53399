#include "app/settings_file_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <random>
#include <thread>

namespace quorvel::settings_store {

namespace {

using clock = std::chrono::steady_clock;

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "." + name + ... trips a false -Wrestrict of GCC 12; appending does not.
std::string joined(std::initializer_list<std::string_view> parts)
{
    std::string result;
    for (const std::string_view part : parts) result.append(part);
    return result;
}

std::string beside(const std::string& target, const std::string& name)
{
    const std::string folder = folder_of(target);
    return (folder == "/" ? "" : folder) + "/" + name;
}

bool is_regular(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// True while `path` still names the file open as `fd`: a writer may have replaced it meanwhile.
bool still_named(int fd, const std::string& path)
{
    struct stat open_file {};
    struct stat named {};
    return ::fstat(fd, &open_file) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

enum class lock_try { held, busy, impossible };

lock_try try_lock(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return lock_try::held;
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? lock_try::busy : lock_try::impossible;
    }
}

// O_NONBLOCK throughout, so that a FIFO in a file's place cannot stall the program.
constexpr int open_flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// ---- Temporary files -----------------------------------------------------------------------

// Our temporary files are named "." STEM ".tmp." and six letters or digits, where STEM is the
// settings file's name, or for a name over 32 bytes its first 23 bytes, "~" and 8 hex digits of
// a hash of the whole name: at most 44 bytes, whatever the length of the name.
std::string temporary_prefix(const std::string& name)
{
    if (name.size() <= 32) return joined({".", name, ".tmp."});
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char ch : name) hash = (hash ^ static_cast<unsigned char>(ch)) * 16777619u;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
    return joined({".", std::string_view(name).substr(0, 23), "~", hex, ".tmp."});
}

constexpr std::size_t random_length = 6;
constexpr std::string_view random_alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string random_suffix()
{
    static pid_t seeded_for = 0;
    static std::mt19937_64 generator;
    if (seeded_for != ::getpid()) {  // a forked child must not repeat its parent's names
        seeded_for = ::getpid();
        generator.seed(std::random_device{}() ^ static_cast<std::uint64_t>(seeded_for));
    }
    std::string suffix(random_length, 'x');
    for (char& ch : suffix) ch = random_alphabet[generator() % random_alphabet.size()];
    return suffix;
}

bool has_prefix_then(std::string_view name, std::string_view prefix)
{
    return name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix;
}

bool is_our_temporary(std::string_view name, std::string_view prefix)
{
    if (!has_prefix_then(name, prefix) || name.size() != prefix.size() + random_length) return false;
    return name.substr(prefix.size()).find_first_not_of(random_alphabet) == std::string_view::npos;
}

// Earlier versions named theirs "." NAME ".tmp-" PID "-" COUNTER and took no lock, so one of those
// may still be in use by such a version: only a minute-old one is taken for stale.
bool is_earlier_temporary(std::string_view name, const std::string& target_name)
{
    const std::string prefix = joined({".", target_name, ".tmp-"});
    if (!has_prefix_then(name, prefix)) return false;
    const std::string_view numbers = name.substr(prefix.size());
    const std::size_t dash = numbers.find('-');
    return dash != 0 && dash != std::string_view::npos && dash + 1 < numbers.size() &&
           numbers.find_first_not_of("0123456789-") == std::string_view::npos &&
           numbers.find('-', dash + 1) == std::string_view::npos;
}

int create_temporary(const std::string& target, std::string& name)
{
    const std::string stem = beside(target, temporary_prefix(name_of(target)));
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + random_suffix();
        // 0666 less the umask, as for any new file; a replacement takes the old mode later.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);  // marks it as in use for remove_stale_temporaries
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// A leftover is a regular file that no live writer holds locked.
void remove_if_unused(int folder_fd, const char* name, bool earlier_kind)
{
    const int fd = ::openat(folder_fd, name, O_RDONLY | open_flags);
    if (fd < 0) return;
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const bool old_enough = !earlier_kind || status.st_mtime < std::time(nullptr) - 60;
    if (regular && old_enough && try_lock(fd) != lock_try::busy) ::unlinkat(folder_fd, name, 0);
    ::close(fd);
}

// ---- Writing -------------------------------------------------------------------------------

bool write_all_at(int fd, std::string_view bytes, off_t offset)
{
    while (!bytes.empty()) {
        const ssize_t done = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(done));
        offset += done;
    }
    return true;
}

void sync_folder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A replacement looks like the file it replaces: same owner, group and mode.
bool take_over_attributes(int fd, const struct stat& old)
{
    struct stat made {};
    if (::fstat(fd, &made) != 0) return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

enum class outcome { done, failed, in_place_instead };

// The new contents go to a temporary file in the same folder, reach the disk, and only then take
// the old file's place, so a reader sees either the old file or the new one, never a part.
outcome replace_file(const std::string& target, std::string_view bytes, const struct stat* old)
{
    std::string temporary;
    const int fd = create_temporary(target, temporary);
    if (fd < 0) return errno == EACCES || errno == EPERM ? outcome::in_place_instead : outcome::failed;
    if (old != nullptr && !take_over_attributes(fd, *old)) {
        ::unlink(temporary.c_str());
        ::close(fd);
        return outcome::in_place_instead;
    }
    // Renamed while still open and locked, so that no cleaner takes it for a leftover.
    const bool ok = write_all_at(fd, bytes, 0) && ::fsync(fd) == 0 &&
                    ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    ::close(fd);
    if (ok) sync_folder(folder_of(target));
    return ok ? outcome::done : outcome::failed;
}

// Not atomic, so only where a replacement cannot be made. Room is claimed first, so that a full
// disk leaves the file as it was rather than half rewritten.
void update_in_place(const std::string& target, std::string_view bytes)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat status {};
    const off_t size = static_cast<off_t>(bytes.size());
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (ok && size > status.st_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0)
        ok = errno != ENOSPC && errno != EDQUOT;
    if (ok && write_all_at(fd, bytes, 0) && ::ftruncate(fd, size) == 0) ::fsync(fd);
    ::close(fd);
}

}  // namespace

// ---- Public --------------------------------------------------------------------------------

file_contents load(const std::string& path)
{
    file_contents file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        file.state = errno == ENOENT ? file_state::missing : file_state::unreadable;
        return file;
    }
    file.state = file_state::unreadable;
    if (::fstat(fd, &file.status) == 0 && S_ISREG(file.status.st_mode)) {
        file.bytes.reserve(static_cast<std::size_t>(file.status.st_size));
        char buffer[65536];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            file.bytes.append(buffer, static_cast<std::size_t>(got));
        if (got == 0) file.state = file_state::loaded;
    }
    ::close(fd);
    return file;
}

std::string follow_links(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        char link[4096];
        const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) return current;
        const std::string to(link, static_cast<std::size_t>(length));
        current = to.front() == '/' ? to : beside(current, to);
    }
    return current;
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Root may write anywhere, but a file or folder without any write bit is meant to stay as it is,
// so for root the mode bits decide.
bool may_write(const std::string& path, const struct stat& status)
{
    if (::geteuid() == 0) return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool may_write_folder(const std::string& folder)
{
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           may_write(folder, status);
}

write_lock::write_lock(const std::string& target)
{
    const auto deadline = clock::now() + lock_wait;
    const std::string lock_file = beside(target, joined({".", name_of(target), ".lock"}));
    if (may_write_folder(folder_of(target))) {
        const int fd = ::open(lock_file.c_str(), O_RDONLY | O_CREAT | open_flags, 0666);
        if (fd >= 0) ::close(fd);
    }
    // The file itself where the lock file cannot be made (a folder that is not writable).
    if (lock_named(lock_file, deadline) == attempt::no_file) lock_named(target, deadline);
}

write_lock::attempt write_lock::lock_named(const std::string& path, clock::time_point deadline)
{
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | open_flags);
        if (fd < 0) return attempt::no_file;
        if (!is_regular(fd)) {
            ::close(fd);
            return attempt::no_file;
        }
        lock_try result = try_lock(fd);
        while (result == lock_try::busy && clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            result = try_lock(fd);
        }
        if (result == lock_try::held && still_named(fd, path)) {
            fd_ = fd;
            return attempt::held;
        }
        ::close(fd);
        // Held, but the name went to a new file meanwhile: lock that one instead.
        if (result != lock_try::held || clock::now() >= deadline) return attempt::not_held;
    }
}

write_lock::~write_lock()
{
    if (fd_ >= 0) ::close(fd_);
}

void remove_stale_temporaries(const std::string& target)
{
    DIR* folder = ::opendir(folder_of(target).c_str());
    if (folder == nullptr) return;
    const std::string name = name_of(target);
    const std::string prefix = temporary_prefix(name);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view entry_name = entry->d_name;
        if (is_our_temporary(entry_name, prefix))
            remove_if_unused(::dirfd(folder), entry->d_name, false);
        else if (is_earlier_temporary(entry_name, name))
            remove_if_unused(::dirfd(folder), entry->d_name, true);
    }
    ::closedir(folder);
}

void store(const std::string& target, std::string_view bytes, const struct stat* old)
{
    if (may_write_folder(folder_of(target)) &&
        replace_file(target, bytes, old) != outcome::in_place_instead)
        return;
    if (old != nullptr) update_in_place(target, bytes);
}

}  // namespace quorvel::settings_store

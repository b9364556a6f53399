// The settings file on disk: the lock that lets its writers take turns, loading it, and storing
// new contents, by replacement where the folder allows it and in place where it does not.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <string_view>

namespace quorvel::settings_store {

// How long a write waits for another writer before it goes ahead without the lock.
inline constexpr std::chrono::milliseconds lock_wait{500};

enum class file_state { missing, unreadable, loaded };

struct file_contents {
    file_state state = file_state::missing;
    std::string bytes;
    struct stat status {};
};

file_contents load(const std::string& path);

// The file a write lands in: symbolic links followed, a dangling one to where it points.
std::string follow_links(const std::string& path);

std::string folder_of(const std::string& path);

// Whether the program may change the file, or create a file in the folder.
bool may_write(const std::string& path, const struct stat& status);
bool may_write_folder(const std::string& folder);

// An exclusive flock on ".NAME.lock" beside the file, or on the file itself where that cannot be
// had; held until destruction. Waits at most lock_wait for another holder, and not at all where
// no lock can be had (no permission, a read-only file system, no flock there).
class write_lock {
public:
    explicit write_lock(const std::string& target);
    ~write_lock();
    write_lock(const write_lock&) = delete;
    write_lock& operator=(const write_lock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    enum class attempt { held, not_held, no_file };
    attempt lock_named(const std::string& path, std::chrono::steady_clock::time_point deadline);
    int fd_ = -1;
};

// Removes temporary files that writes of this file left when they were killed. Only while the
// write_lock is held, so that no running write of ours loses its file.
void remove_stale_temporaries(const std::string& target);

// Puts `bytes` in the target's place. `old` is the existing file's status, null when there is
// none. Replaced atomically where a file may be made beside it and the old owner, group and mode
// can be kept; otherwise, for an existing file, written in place.
void store(const std::string& target, std::string_view bytes, const struct stat* old);

}  // namespace quorvel::settings_store

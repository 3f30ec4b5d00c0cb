#pragma once
// The contents of small stored files, kept between requests: a file asked for again costs one
// stat of its path instead of open, stat, read and close.
//
// Kept contents are answered only while the path leads to the very inode they were read from
// and that inode has not changed since. Every change to a file (a write, a truncation, a new
// link, a rename) sets its change time to the current time, which the program cannot set
// back; a file replaced by rename is another inode. Contents are kept only of a file whose
// last change and modification lie at least the settle time before the read began, so a change
// made during or after the read gives other times, even with the coarse clock of file times
// (and on file systems whose "change time" is the creation time, by the modification time).

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kelvra::server {

// Files up to this size are kept (one send block: header and body leave in one send).
inline constexpr std::size_t kMaxCachedFile = 64 * 1024;
// All kept contents together, names included; when a file no longer fits, the cache starts over.
inline constexpr std::size_t kMaxCachedBytes = 32 * 1024 * 1024;

class StoredFileCache final {
  public:
    using Contents = std::shared_ptr<const std::string>;

    // settle: how long a file must have stayed unchanged before its contents are kept.
    explicit StoredFileCache(std::chrono::nanoseconds settle) : settle_(settle) {}

    // The kept contents of the file at path full, read when it lay inside the data directory
    // whose resolved path is root; none when nothing is kept for it or the path now leads to
    // another or a changed file.
    Contents Find(const std::string& root, const std::string& full) const;
    // The whole contents of file, opened from full (checked by the caller to lie inside root)
    // and of status info (fstat'ed by the caller after opening), read from its start and kept
    // for the next requests; none when the file is too large, was changed within the settle
    // time, or cannot be read whole (the caller then reads the descriptor itself: its offset
    // is not moved).
    Contents Load(const std::string& root, const std::string& full, int file,
                  const struct stat& info);

  private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modified_ns = 0;
        std::int64_t changed_ns = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Entry {
        std::string root;
        Identity identity;
        Contents contents;
    };
    static Identity IdentityOf(const struct stat& info);
    static std::size_t CostOf(const std::string& full, const Entry& entry);
    void Keep(const std::string& full, Entry entry);

    const std::chrono::nanoseconds settle_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;  // by full path; guarded by mutex_
    std::size_t bytes_ = 0;                           // guarded by mutex_
};

}  // namespace kelvra::server

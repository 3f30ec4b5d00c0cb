#include "server/storedfilecache.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvra::server {
namespace {

std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

// What an entry costs besides its name and contents (nodes, strings, the shared count).
constexpr std::size_t kEntryOverhead = 256;

}  // namespace

StoredFileCache::Identity StoredFileCache::IdentityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, Nanoseconds(info.st_mtim),
            Nanoseconds(info.st_ctim)};
}

StoredFileCache::Contents StoredFileCache::Find(const std::string& root,
                                                const std::string& full) const {
    Identity identity;
    Contents contents;
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(full);
        if (it == entries_.end() || it->second.root != root) return nullptr;
        identity = it->second.identity;
        contents = it->second.contents;
    }
    struct stat info {};
    if (::stat(full.c_str(), &info) != 0 || IdentityOf(info) != identity) return nullptr;
    return contents;
}

StoredFileCache::Contents StoredFileCache::Load(const std::string& root, const std::string& full,
                                                int file, const struct stat& info) {
    // Taken after the file was looked at: a change from then on gets other times than info's,
    // and one made before is older than the settle time allows.
    const std::int64_t began = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    if (!S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<std::size_t>(info.st_size) > kMaxCachedFile ||
        std::max(Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)) > began - settle_.count()) {
        return nullptr;
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::pread(file, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;
        got += static_cast<std::size_t>(n);
    }
    auto contents = std::make_shared<const std::string>(std::move(bytes));
    Keep(full, {root, IdentityOf(info), contents});
    return contents;
}

std::size_t StoredFileCache::CostOf(const std::string& full, const Entry& entry) {
    return full.size() + entry.root.size() + entry.contents->size() + kEntryOverhead;
}

void StoredFileCache::Keep(const std::string& full, Entry entry) {
    const std::size_t cost = CostOf(full, entry);
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(full);
    if (it != entries_.end()) {
        bytes_ -= CostOf(full, it->second);
        entries_.erase(it);
    }
    if (bytes_ + cost > kMaxCachedBytes) {
        entries_.clear();
        bytes_ = 0;
    }
    entries_.emplace(full, std::move(entry));
    bytes_ += cost;
}

}  // namespace kelvra::server

#include "app/deleteunlink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>

#include "net/url.h"
#include "store/store_names.h"
#include "util/fileutil.h"

namespace kelvra::app {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kNameCapacity = 2048;

// Every non-directory below directory, as paths relative to the data directory (prefix is the
// data directory's length). Links are listed, never followed.
bool ListFiles(const std::string& directory, std::size_t prefix, bool skip_top_level,
               ProgressSink& progress, std::set<std::string>& out) {
    std::error_code error;
    fs::recursive_directory_iterator walk(directory, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (!progress.Pace(DeleteUnlink::kEventInterval)) return false;
        if (walk->is_directory(error) && !walk->is_symlink(error)) continue;
        if (skip_top_level && walk.depth() == 0) continue;
        out.insert(walk->path().string().substr(prefix));
    }
    return true;
}

// Removes the directories below path that hold nothing but such directories; true when path
// itself is left empty.
bool PruneBelow(const fs::path& path, long& removed) {
    bool empty = true;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        if (entry.is_symlink(error) || !entry.is_directory(error) ||
            !PruneBelow(entry.path(), removed)) {
            empty = false;
            continue;
        }
        if (::rmdir(entry.path().c_str()) == 0) {
            ++removed;
        } else {
            empty = false;
        }
    }
    return empty && !error;
}

}  // namespace

DeleteUnlink::DeleteUnlink(store::headerlistex& store, ProgressSink& progress)
    : store_(store), progress_(progress) {}

std::string DeleteUnlink::LocalDirectory(const std::string& url) {
    std::string key = store::KeyOfUrl(url);
    if (key.empty() || key == "/") return {};
    std::string name = net::FileSafeName(key, kNameCapacity);
    store::ConfineName(name);
    return name;
}

std::optional<std::vector<std::string>> DeleteUnlink::FindUnlinked(
    const std::vector<std::string>& urls) {
    const std::string& data = store_.DataDirectory();
    std::set<std::string> found;
    for (const std::string& url : urls) {
        progress_.Report(kFindingFiles);
        const std::string local = LocalDirectory(url);
        if (store::HasParentSegment(local) || util::IsDirectory(data + local) != 1) continue;
        if (!ListFiles(data + local, data.size(), local.empty(), progress_, found)) {
            return std::nullopt;
        }
    }
    if (!found.empty()) {
        progress_.Report(kCheckingHistory);
        for (const store::treelistnode* node : store_.ListNodes(store_.Root())) {
            if (!progress_.Pace(kEventInterval)) return std::nullopt;
            util::MutexLock lock(store_.Mutex());
            if (node->value().IsRemoved() || !store_.HasRecord(node)) continue;
            std::string path;
            store_.GetNodeLocalPath(node, path);
            if (path.starts_with(data)) found.erase(path.substr(data.size()));
        }
    }
    return std::vector<std::string>(found.begin(), found.end());
}

bool DeleteUnlink::MoveFile(const std::string& relative, const std::string& destination) {
    const std::string from = store_.DataPath(relative);
    std::string to = destination;
    if (!to.ends_with('/')) to += '/';
    const std::size_t base = to.size();
    to += relative;
    util::MakeDirectories(to, base);
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    // Another file system: copy, keep the date, then let the original go.
    struct stat info {};
    if (errno != EXDEV || ::lstat(from.c_str(), &info) != 0 || !util::CopyFile(from, to)) {
        return false;
    }
    const timespec times[2] = {info.st_mtim, info.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    return ::unlink(from.c_str()) == 0;
}

DeleteUnlink::Outcome DeleteUnlink::Process(const std::vector<std::string>& chosen,
                                            const std::optional<std::string>& destination) {
    Outcome outcome;
    progress_.Report(kInProcess);
    for (auto file = chosen.rbegin(); file != chosen.rend(); ++file) {
        if (!progress_.Pace(kEventInterval)) {
            outcome.cancelled = true;
            break;
        }
        if (store::HasParentSegment(*file)) continue;
        const bool done = destination ? MoveFile(*file, *destination)
                                      : ::unlink(store_.DataPath(*file).c_str()) == 0;
        if (done) ++outcome.handled;
    }
    return outcome;
}

long DeleteUnlink::PruneEmptyDirectories(const std::vector<std::string>& urls) {
    progress_.Report(kRemovingDirectories);
    long removed = 0;
    for (const std::string& url : urls) {
        const std::string local = LocalDirectory(url);
        const std::string path = store_.DataDirectory() + local;
        if (store::HasParentSegment(local) || util::IsDirectory(path) != 1) continue;
        progress_.Report(url);
        PruneBelow(path, removed);
    }
    return removed;
}

}  // namespace kelvra::app

#include "app/movedata.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>

#include "app/registration.h"
#include "app/startup.h"
#include "crawl/urltable.h"
#include "net/url.h"
#include "platform/ownedfile.h"
#include "store/configclass.h"
#include "store/store_names.h"
#include "store/store_record.h"
#include "util/fileutil.h"

namespace kelvra::app {

namespace {

constexpr char kReadingDestination[] = "Now reading destination .hif";
constexpr char kProcessing[] = "Processing ";
constexpr char kWritingHif[] = "Writing .hif file ...";
constexpr char kInvestigating[] = "Investigating ";
// Copies whose journal lines go out in one write before their sources are deleted.
constexpr std::size_t kCommitBatch = 32;
// Link tracing with no end: the condition's follow-up count never runs out.
constexpr std::int16_t kTraceWithoutEnd = -1;

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return std::nullopt;
    return std::string(real.get());
}

bool IsValidObject(const store::headerlistex& store, const store::treelistnode* node) {
    return !node->value().IsRemoved() && store.HasRecord(node);
}

store::treelistnode* SelectedNode(store::headerlistex& store, std::string_view url) {
    url.remove_prefix(net::SkipScheme(url));
    if (net::PathEnd(url) == url.size() && url.ends_with('/')) url.remove_suffix(1);
    if (url.empty()) return store.Root();
    return store.FindKey(net::PercentDecode(url));
}

// A new file at target (none may be there) with the bytes and dates of the regular file at
// source, copied by the kernel. False, with nothing left at target, when that failed.
bool CopyExclusive(const std::string& source, const std::string& target, const struct stat& info) {
    const platform::UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    platform::UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out) return false;
    const off_t size = info.st_size;
    off_t offset = 0;
    while (offset < size) {
        const auto left = static_cast<std::size_t>(size - offset);
        if (::sendfile(out.get(), in.get(), &offset, left) <= 0) break;
    }
    const timespec times[2] = {info.st_mtim, info.st_mtim};
    const bool copied = offset == size && ::futimens(out.get(), times) == 0 && out.Close();
    if (!copied) ::unlink(target.c_str());
    return copied;
}

// Copy unless the destination holds a complete copy at least as new.
bool NeedsCopy(store::headerlistex& from, const store::treelistnode* node, store::headerlistex& to,
               const store::treelistnode* existing) {
    if (!existing || !to.NodeField(existing, "XRange:").empty()) return true;
    const std::time_t held = to.GetNodeModifiedTime(existing);
    return held == 0 || held < from.GetNodeModifiedTime(node);
}

// The start job of url: its stored condition or the default one, never fetching.
store::CrawlRequest LinkedStartJob(store::GetConditionClass& conditions, const std::string& url) {
    store::AcquisitionCondition condition;
    if (!conditions.ReadCondition(url, condition, true)) {
        conditions.ReadCondition(store::GetConditionClass::kDefaultSection, condition, false);
    }
    store::CrawlRequest request = StartJob(condition, {url});
    request.flags = (request.flags & ~store::JobFlag::kRegetMask) |
                    static_cast<std::uint32_t>(store::RegetLevel::kUseStored);
    request.trace = kTraceWithoutEnd;
    return request;
}

}  // namespace

// The destination's store, with its journal: each copied record is written there before the
// source gives the object up. Its directories are made once each, not looked at per object.
class MoveDataCore::Destination : public store::headerlistex {
  public:
    using store::headerlistex::headerlistex;
    void Journal(std::string_view key, const std::string& text) {
        AppendToJournal(key, text, true);
    }
    using store::headerlistex::FlushJournal;
    using store::headerlistex::HoldJournal;
    bool MakeDirectoriesOnce(const std::string& directory) {
        if (made_.contains(directory)) return true;
        if (MakeDirectories(directory) >= 0) return false;
        made_.insert(directory);
        return true;
    }
    // After one link across file systems every other would fail as well.
    bool cross_device = false;

  private:
    std::unordered_set<std::string> made_;
};

// Deletes source files on a thread of its own: a deletion costs about as much as a copy, and
// the two overlap. Every file handed over is deleted before the remover is gone.
class MoveDataCore::FileRemover final {
  public:
    FileRemover() : thread_([this] { Run(); }) {}
    ~FileRemover() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        ready_.notify_one();
        thread_.join();
    }
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;

    void Remove(std::vector<std::string> paths) {
        {
            const std::lock_guard lock(mutex_);
            paths_.insert(paths_.end(), std::make_move_iterator(paths.begin()),
                          std::make_move_iterator(paths.end()));
        }
        ready_.notify_one();
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return done_ || !paths_.empty(); });
            if (paths_.empty()) return;
            std::vector<std::string> batch = std::move(paths_);
            paths_.clear();
            lock.unlock();
            for (const std::string& path : batch) ::unlink(path.c_str());
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::string> paths_;
    bool done_ = false;
    std::thread thread_;  // last: it starts once the rest is ready
};

MoveDataCore::MoveDataCore(store::headerlistex& source, std::string mime_table_path,
                           ProgressSink& progress)
    : source_(source), mime_table_path_(std::move(mime_table_path)), progress_(progress) {}

void MoveDataCore::Add(const std::vector<store::treelistnode*>& nodes) {
    nodes_.insert(nodes_.end(), nodes.begin(), nodes.end());
}

bool MoveDataCore::Refused(const std::string& destination) const {
    if (util::IsDirectory(destination) != 1) {
        progress_.Report(kErrorPrefix, kNotADirectory);
        return true;
    }
    // By the real paths: another spelling, a link or a case-insensitive match is not proof.
    const std::optional<std::string> to = RealPath(destination);
    const std::optional<std::string> from = RealPath(source_.DataDirectory());
    if (!to || !from || *to == *from) {
        progress_.Report(kErrorPrefix, kSameDirectory);
        return true;
    }
    return false;
}

TransferResult MoveDataCore::Transfer(const std::optional<std::string>& destination,
                                      std::string_view hif_name, bool delete_from_source) {
    TransferResult result;
    std::unique_ptr<Destination> to;
    if (destination) {
        if (Refused(*destination)) return {0, TransferResult::Outcome::kRefused};
        progress_.Report(kReadingDestination);
        to = std::make_unique<Destination>(*destination, source_.RootFileName(), kJournalName,
                                           mime_table_path_);
        if (LoadWithJournal(*to, hif_name) < 0) {
            progress_.Report(kErrorPrefix, kBrokenDestination);
            return {0, TransferResult::Outcome::kRefused};
        }
        to->HoldJournal(true);
    }
    std::vector<store::treelistnode*> copied;
    bool committed = true;
    FileRemover remover;
    for (store::treelistnode* node : nodes_) {
        if (!progress_.Pace(1)) {
            result.outcome = TransferResult::Outcome::kCancelled;
            break;
        }
        std::string key;
        {
            util::MutexLock lock(source_.Mutex());
            if (node->value().IsRemoved()) continue;
            key = source_.NodeKey(node);
        }
        progress_.Report(kProcessing, key);
        if (to && !CopyNode(*to, node, key, delete_from_source)) {
            progress_.Report(kErrorPrefix, std::string(kStoreFailed) + key);
            result.outcome = TransferResult::Outcome::kFailed;
            break;
        }
        if (delete_from_source) copied.push_back(node);
        ++result.handled;
        if (copied.size() >= kCommitBatch) {
            committed = Commit(to.get(), remover, copied);
            if (!committed) break;
        }
    }
    // After a failed journal write the batch stays in the source: its lines may be lost.
    if (committed) committed = Commit(to.get(), remover, copied);
    if (!committed) result.outcome = TransferResult::Outcome::kFailed;
    if (to && result.handled > 0) {
        progress_.Report(kWritingHif);
        if (to->Save(hif_name, true) < 0) result.outcome = TransferResult::Outcome::kFailed;
    }
    progress_.Report(std::to_string(result.handled), kProcessedSuffix);
    return result;
}

bool MoveDataCore::Commit(Destination* to, FileRemover& remover,
                          std::vector<store::treelistnode*>& copied) {
    if (to && !to->FlushJournal()) return false;
    std::vector<std::string> paths;
    for (store::treelistnode* node : copied) {
        if (std::string path = TakeOut(node); !path.empty()) paths.push_back(std::move(path));
    }
    remover.Remove(std::move(paths));
    copied.clear();
    return true;
}

bool MoveDataCore::CopyNode(Destination& to, store::treelistnode* node, const std::string& key,
                            bool move) {
    std::string path;
    std::string header;
    bool replaces = false;
    struct stat info {};
    {
        util::MutexLock lock(source_.Mutex());
        source_.GetNodeLocalPath(node, path);
        // A record without data: nothing to copy.
        if (path.size() >= store::kMaxDataPath || ::stat(path.c_str(), &info) != 0) return true;
        const char* text = node->value().text();
        header = text ? text : "";
        store::treelistnode* existing = to.FindRecordByKey(key);
        if (!NeedsCopy(source_, node, to, existing)) return true;
        // A file the destination already keeps for this key is replaced in place.
        replaces = existing != nullptr;
        if (replaces) {
            while (store::DeleteHeaderLine(header, "XF:") > 0) {
            }
            to.CarryOverFields(key, header);
        }
    }
    if (move && !replaces && S_ISREG(info.st_mode) && PlaceAsIs(to, path, info, header)) {
        Record(to, key, header, nullptr);
        return true;
    }
    store::FilePtr in = store::OpenRegularFile(path, "rb");
    if (!in || ::fstat(::fileno(in.get()), &info) != 0) return false;
    if (to.StoreBody(key, header, in.get(), info.st_size, 0, {}) < 0) return false;
    Record(to, key, header, &info.st_mtim);
    return true;
}

bool MoveDataCore::PlaceAsIs(Destination& to, const std::string& path, const struct stat& info,
                             std::string& header) {
    const std::string& data = source_.DataDirectory();
    if (!path.starts_with(data)) return false;
    const std::string name = path.substr(data.size());
    if (!store::IsConfinedName(name)) return false;
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos || !to.MakeDirectoriesOnce(name.substr(0, slash))) return false;
    const std::string target = to.DataPath(name);
    if (!to.cross_device) {
        if (::link(path.c_str(), target.c_str()) != 0) {
            if (errno != EXDEV) return false;
            to.cross_device = true;
        }
    }
    if (to.cross_device && !CopyExclusive(path, target, info)) return false;
    while (store::DeleteHeaderLine(header, "XF:") > 0) {
    }
    store::AppendHeaderLine(header, "XF:" + name + "\n");
    return true;
}

// The record goes into the destination and its journal; a copy is dated as its source file.
void MoveDataCore::Record(Destination& to, const std::string& key, const std::string& header,
                          const struct timespec* modified) {
    const store::treelistnode* added = to.Add(key, header, true);
    to.SetChanged(true);
    if (added && modified) {
        std::string copy;
        to.GetNodeLocalPath(added, copy);
        const timespec times[2] = {*modified, *modified};
        ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
    }
    to.Journal(key, header);
}

std::string MoveDataCore::TakeOut(store::treelistnode* node) {
    util::MutexLock lock(source_.Mutex());
    std::string path;
    // A record without its file leaves nothing to delete.
    if (!source_.GetNodeLocalPath(node, path)) path.clear();
    source_.SetChanged(true);
    node->value() = store::NodeValue::Removed();
    return path;
}

long LoadWithJournal(store::headerlistex& store, std::string_view hif_name) {
    const long loaded = store.Load(hif_name);
    if (loaded < 0 || store.LoadStoppedEarly(hif_name)) return loaded < 0 ? loaded : -1;
    if (store.AccessFile(kJournalFileName, R_OK) == 0 && ReplayJournal(store) != 0) {
        store.SetChanged(true);
    }
    return loaded;
}

std::vector<store::treelistnode*> SelectBelow(store::headerlistex& store,
                                              const std::vector<std::string>& urls) {
    std::vector<store::treelistnode*> nodes;
    util::MutexLock lock(store.Mutex());
    for (const std::string& url : urls) {
        store::treelistnode* top = SelectedNode(store, url);
        if (!top) continue;
        if (IsValidObject(store, top)) nodes.push_back(top);
        for (store::treelistnode* node : store.ListNodes(top)) {
            if (IsValidObject(store, node)) nodes.push_back(node);
        }
    }
    return nodes;
}

std::vector<std::string> FetchedSinceStart(const store::headerlistex& store) {
    store::headerlistex journal(store.DataDirectory(), store.RootFileName(), std::nullopt, "");
    if (!journal.Load(kJournalFileName)) return {};
    std::vector<std::string> keys;
    for (const store::treelistnode* node : journal.ListNodes(journal.Root())) {
        if (IsValidObject(journal, node)) keys.push_back(journal.NodeKey(node));
    }
    return keys;
}

std::vector<store::treelistnode*> FindChosen(store::headerlistex& store,
                                             const std::vector<std::string>& keys) {
    std::vector<store::treelistnode*> nodes;
    util::MutexLock lock(store.Mutex());
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        store::treelistnode* node = store.FindRecordByKey(*key);
        if (node && IsValidObject(store, node)) nodes.push_back(node);
    }
    return nodes;
}

std::vector<store::treelistnode*> SelectLinked(store::headerlist_cookie& store,
                                               const std::string& condition_file,
                                               const std::vector<std::string>& urls,
                                               ProgressSink& progress) {
    store::GetConditionClass conditions;
    // Without a readable condition file every URL takes the default condition.
    static_cast<void>(conditions.Load(condition_file));
    crawl::StoreObjectsAdapter stored(store);
    store::PickupLinkClass table(&stored);
    for (const std::string& url : urls) {
        store::CrawlRequest request = LinkedStartJob(conditions, url);
        table.RegisterStartUrls(request);
    }
    const store::treelistnode* record = nullptr;
    while (const std::optional<store::FetchJob> job = table.NextUnprocessed(record)) {
        if (!progress.Pace(1)) return {};
        const std::string key = store.NodeKey(record);
        const std::string url = table.QueuedUrl(key).value_or("http://" + key);
        progress.Report(kInvestigating, url);
        table.ProcessObject(url, record, *job, true);
    }
    std::vector<store::treelistnode*> nodes;
    util::MutexLock lock(store.Mutex());
    for (const store::treelistnode* entry : store::treelistmanager::ListOrder(table.Root())) {
        if (!entry->value().ObjectAs<store::JobPayload>()) continue;
        store::treelistnode* node = store.FindRecordByKey(table.KeyOf(entry));
        if (node && IsValidObject(store, node)) nodes.push_back(node);
    }
    return nodes;
}

}  // namespace kelvra::app

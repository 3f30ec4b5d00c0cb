#pragma once
// The crawl frontier: every URL admitted in one acquisition run (with the job it was admitted
// with), the queue of URLs still to fetch, and the crawl contexts the jobs point to.
//
// Tree keys are URLs without scheme and user information (host lower-case); the user
// information of a queued URL is kept as its own top-level node ending in '@'.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/fetchjob.h"
#include "store/knownkeys.h"
#include "store/treelistmanager.h"
#include "util/lock.h"

namespace kelvra::store {

// Answers of AdmitUrl.
enum AdmitResult : int {
    kAdmitQueued = 0,
    kAdmitFiltered = 1,
    kAdmitKnown = 2,
    kAdmitDenied = 3,
    kAdmitOutside = 4,
    kAdmitDepthUsedUp = 5,
    kAdmitNotQueueable = 6,
};

// Modes a caller offers a URL with.
enum AdmitMode : int { kModeDepthUsedUp = -1, kModeOrdinary = 0, kModeForced = 1 };

// The value a URL node of the frontier owns.
struct JobPayload final : NodePayload {
    explicit JobPayload(const FetchJob& j) : job(j) {}
    FetchJob job;
    // How the URL was last queued: the key drops scheme and user information, and a stored
    // copy used instead of a fetch must still be investigated under its own URL.
    std::uint16_t scheme = 0;
    const treelistnode* user_info = nullptr;
    // A marker set on the URL's node after its job was handed out: the job stays where the
    // scheduler holds it, and the marker is read beside it (see getlistmanager::Marker).
    long marker = 0;
    // Queued once more because a redirect named its key under the other scheme.
    bool scheme_switched = false;
};

class getlistmanager : public treelistmanager {
  public:
    // http and https URLs of a host share its keys, as http and ftp do.
    enum Scheme : std::uint16_t { kHttp = 0, kFtp = 1, kHttps = 2 };
    enum State : std::uint16_t { kUnexamined = 0, kMustFetch = 1 };
    struct QueueEntry {
        std::uint16_t scheme = kHttp;
        std::uint16_t state = kUnexamined;
        treelistnode* user_info = nullptr;
        treelistnode* node = nullptr;
        // node's host, kept so the search for work need not climb the tree for every entry
        treelistnode* host = nullptr;
    };
    // Marker on nodes that are no URL of their own (user-information nodes).
    static constexpr long kNoUrl = -1;
    // The queue, changed under the table's lock. Its length is also published where it can be
    // read without the lock: the workers show it with every request they start.
    class Queue {
      public:
        bool empty() const { return entries_.empty(); }
        std::size_t size() const { return entries_.size(); }
        QueueEntry& front() { return entries_.front(); }
        QueueEntry& operator[](std::size_t k) { return entries_[k]; }
        std::deque<QueueEntry>::const_iterator begin() const { return entries_.begin(); }
        std::deque<QueueEntry>::const_iterator end() const { return entries_.end(); }
        void push_back(const QueueEntry& entry) {
            entries_.push_back(entry);
            if (entry.state == kUnexamined) ++unexamined_;
            Publish();
        }
        void pop_front() {
            if (entries_.front().state == kUnexamined) --unexamined_;
            entries_.pop_front();
            Publish();
        }
        // The only way an entry's state changes.
        void MarkMustFetch(std::size_t k) {
            if (entries_[k].state == kUnexamined) --unexamined_;
            entries_[k].state = kMustFetch;
        }
        // The position of the first entry not yet examined; size() when every entry was.
        // Entries are added at the tail, so the walk from there is short.
        std::size_t FirstUnexamined() const {
            std::size_t k = entries_.size();
            for (std::size_t seen = 0; seen < unexamined_; --k) {
                if (entries_[k - 1].state == kUnexamined) ++seen;
            }
            return k;
        }
        std::size_t PublishedSize() const { return published_.load(std::memory_order_relaxed); }

      private:
        void Publish() { published_.store(entries_.size(), std::memory_order_relaxed); }
        std::deque<QueueEntry> entries_;
        std::size_t unexamined_ = 0;
        std::atomic<std::size_t> published_{0};
    };

    getlistmanager();
    ~getlistmanager() override;

    // url: cut at '#', percent-decoded and normalised. The job is the template the new URL's
    // job is copied from. Returns an AdmitResult.
    virtual int AdmitUrl(std::string_view url, const FetchJob& job, int mode);
    // Appends a queue entry for a URL already in the tree; false for a scheme other than
    // http://, https:// and ftp://, a URL without host, or a URL that is not in the tree.
    virtual bool Enqueue(std::string_view url, bool already_decoded);
    // A redirect to url, whose key is that of the redirecting URL under the other scheme (a
    // site moving to https or back): queues the key's node once more with url's scheme. False
    // when it was so queued before (a site redirecting both ways) or url is not in the tree.
    bool RequeueWithScheme(std::string_view url);
    // The job stored for a URL, or nullptr.
    virtual FetchJob* GetJob(std::string_view url);
    virtual CrawlRules* AddCrawlContext(const std::vector<std::string>& allowed_urls,
                                        std::string_view filters, std::string_view extra_header);
    // The scheme the node's URL was last queued with ("http://" for a node without job) and
    // the node's key, bytes below '!' and 0x7F escaped as %XX.
    virtual std::string EntryUrl(const treelistnode* node) const;
    virtual treelistnode* FindUrl(std::string_view url) const;
    // The top-level node of the first queue entry, or nullptr.
    virtual treelistnode* CurrentHost();
    // The state of the first queue entry, or -1 when the queue is empty.
    virtual int PeekState();
    // Node lookup by key, under the lock.
    virtual treelistnode* FindKey(std::string_view key);

    // The URL of the first queue entry; removed when remove is set. None when empty.
    std::optional<std::string> Dequeue(bool remove);
    // Moves the first queue entry to the tail as it is (its state stays); false when empty.
    bool MoveFirstToEnd();
    // Drops the first queue entry; false when the queue was empty.
    bool RemoveFirst();
    // Moves first entries whose host node is one of hosts to the tail, at most limit of them;
    // returns how many moved. The same as looking at each first entry's CurrentHost and
    // moving it, in one pass under one lock.
    std::size_t MoveHostsToEnd(const std::vector<const treelistnode*>& hosts, std::size_t limit);
    // Without the table's lock: a caller that holds it sees the exact length.
    std::size_t QueueCount() const { return queue_.PublishedSize(); }
    // Each URL of the queue in order with its job (none for an entry without one), left in
    // it; the table stays locked meanwhile.
    void ForEachQueued(const std::function<void(const std::string&, const FetchJob*)>& visit);
    // How many entries were ever appended to the queue; a change means there may be entries
    // nobody has examined yet.
    std::uint64_t EnqueueCount() const { return enqueued_.load(std::memory_order_relaxed); }
    // True only for a key (UrlKey) that is known here, so that a link to it needs no
    // admission; takes no lock of the table. False says nothing.
    bool SurelyKnown(std::string_view key) const { return known_keys_.Holds(key); }
    // Whether every entry appended since EnqueueCount() was since belongs to one of hosts (host
    // nodes as in QueueEntry::host).
    bool EnqueuedOnlyFor(const std::vector<const treelistnode*>& hosts, std::uint64_t since);
    // The full URL (scheme and user information included) a key of the tree was last queued
    // under; none for a key that is no queued URL.
    std::optional<std::string> QueuedUrl(std::string_view key);
    util::MutexClass& mutex() { return mutex_; }

    // The marker of a node: its own, or the one set beside its job; 0 when it has none.
    static long Marker(const NodeValue& value);
    // Marks a node. A node that holds a job keeps it and carries the marker beside it: the
    // scheduler may be fetching that job, and replacing it would free it under the fetch.
    static void SetMarker(treelistnode& node, long marker);

    // The key under which a URL is filed: after scheme and user information.
    static std::string_view UrlKey(std::string_view url);
    // Where a key's tree path stops splitting (its query boundary).
    static std::size_t SplitEnd(std::string_view key);

  protected:
    // The URL text of a queue entry.
    std::string EntryText(const QueueEntry& entry) const;
    // Enqueue for a URL whose node is already known (or nullptr to look it up).
    bool EnqueueNode(std::string_view url, treelistnode* node, bool already_decoded);
    // A stored object is checked again over the scheme it was fetched with (https or not): a
    // link or start URL may name its key under the other one. A redirect's choice stays.
    static void UseStoredScheme(QueueEntry& entry, bool fetched_over_https);
    // The top-level ancestor of node.
    static treelistnode* HostNode(treelistnode* node);

    Queue queue_;

  private:
    std::atomic<std::uint64_t> enqueued_{0};
    KnownKeyCache known_keys_;
    // The host of the latest entries appended, and the EnqueueCount before the first of them.
    const treelistnode* run_host_ = nullptr;
    std::uint64_t run_since_ = 0;
    std::deque<std::unique_ptr<CrawlRules>> contexts_;
    util::MutexClass mutex_;
};

}  // namespace kelvra::store

#include "store/getlistmanager.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "net/url.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

// Indexed by getlistmanager::Scheme.
constexpr std::array<std::string_view, 3> kSchemes = {"http://", "ftp://", "https://"};

std::optional<std::uint16_t> SchemeIndex(std::string_view url) {
    for (std::size_t i = 0; i < kSchemes.size(); ++i) {
        if (url.substr(0, kSchemes[i].size()) == kSchemes[i]) return static_cast<std::uint16_t>(i);
    }
    return std::nullopt;
}

bool Known(const treelistnode* node) {
    return node && !node->value().IsNone();
}

}  // namespace

getlistmanager::getlistmanager() : treelistmanager('/') {}
getlistmanager::~getlistmanager() = default;

std::string_view getlistmanager::UrlKey(std::string_view url) {
    return url.substr(net::HostStart(url));
}

std::size_t getlistmanager::SplitEnd(std::string_view key) {
    return net::PathEnd(key);
}

long getlistmanager::Marker(const NodeValue& value) {
    if (const auto* payload = value.ObjectAs<JobPayload>()) return payload->marker;
    return value.marker();
}

void getlistmanager::SetMarker(treelistnode& node, long marker) {
    if (auto* payload = node.value().ObjectAs<JobPayload>()) {
        payload->marker = marker;
    } else {
        node.value() = NodeValue::Marker(marker);
    }
}

treelistnode* getlistmanager::HostNode(treelistnode* node) {
    while (node && node->parent() && !node->parent()->IsRoot()) node = node->parent();
    return node;
}

int getlistmanager::AdmitUrl(std::string_view url, const FetchJob& job_template, int mode) {
    FetchJob job = job_template;
    const std::string_view h = UrlKey(url);
    const int c = job.rules ? job.rules->filters.ClassOf(h) : ExtFilterClass::kDefaultClass;
    if (!(job.flags & JobFlag::kStartUrl)) {
        if (mode == kModeDepthUsedUp) {
            if (!(c & 8)) return kAdmitDepthUsedUp;
            mode = kModeOrdinary;
        }
        if (c == 0) return kAdmitFiltered;
        if (c & 2) mode = kModeForced;
    } else {
        mode = kModeForced;
    }
    if (c & 4) job.flags |= JobFlag::kPreserveOldData;
    // The allowed list grows while links are processed (moved targets), so it is read under
    // the frontier's lock too.
    util::MutexLock lock(mutex_);
    const int a = job.rules ? job.rules->accept.AcceptCheck(h) : 0;
    if (mode < kModeForced) {
        if (a != 1) {
            // Outside the allowed URLs a page may still come once, without its links.
            if (!(job.flags & JobFlag::kGetAllUndetermined) || job.depth != 0) {
                return kAdmitOutside;
            }
            job.depth = 1;
        }
    } else if (a == -1) {
        return kAdmitDenied;
    }
    const std::size_t split_end = SplitEnd(h);
    if (Known(FindPath(h, split_end))) {
        known_keys_.Remember(h);
        return kAdmitKnown;
    }
    treelistnode* node = InsertPath(h, split_end);
    if (!node) return kAdmitNotQueueable;  // deeper than the tree allows
    node->value() = NodeValue::Object(std::make_unique<JobPayload>(job));
    known_keys_.Remember(h);
    return EnqueueNode(url, node, true) ? kAdmitQueued : kAdmitNotQueueable;
}

bool getlistmanager::Enqueue(std::string_view url, bool already_decoded) {
    return EnqueueNode(url, nullptr, already_decoded);
}

bool getlistmanager::EnqueueNode(std::string_view url, treelistnode* node, bool already_decoded) {
    const auto scheme = SchemeIndex(url);
    if (!scheme) return false;
    std::string key(url.substr(kSchemes[*scheme].size()));
    if (!already_decoded) key = net::PercentDecode(key);
    const std::size_t host = net::SkipUserInfo(key);
    if (host >= key.size() || key[host] == '/') return false;
    util::MutexLock lock(mutex_);
    treelistnode* user = nullptr;
    if (host > 0) {
        user = InsertPath(std::string_view(key).substr(0, host), 0);
        if (!user) return false;
        if (user->value().IsNone()) user->value() = NodeValue::Marker(kNoUrl);
    }
    if (!node) {
        const std::string_view rest = std::string_view(key).substr(host);
        node = FindPath(rest, SplitEnd(rest));
        if (!node) return false;
    }
    treelistnode* host_node = HostNode(node);
    if (host_node != run_host_) {
        run_host_ = host_node;
        run_since_ = enqueued_;
    }
    queue_.push_back(QueueEntry{*scheme, kUnexamined, user, node, host_node});
    ++enqueued_;
    if (auto* payload = node->value().ObjectAs<JobPayload>()) {
        payload->scheme = *scheme;
        payload->user_info = user;
    }
    return true;
}

bool getlistmanager::RequeueWithScheme(std::string_view url) {
    const auto scheme = SchemeIndex(url);
    if (!scheme) return false;
    const std::string_view key = UrlKey(url);
    util::MutexLock lock(mutex_);
    treelistnode* node = FindPath(key, SplitEnd(key));
    auto* payload = node ? node->value().ObjectAs<JobPayload>() : nullptr;
    if (!payload || payload->scheme == *scheme || payload->scheme_switched) return false;
    payload->scheme_switched = true;
    return EnqueueNode(url, node, true);
}

void getlistmanager::UseStoredScheme(QueueEntry& entry, bool fetched_over_https) {
    auto* payload = entry.node->value().ObjectAs<JobPayload>();
    if (entry.scheme == kFtp || !payload || payload->scheme_switched) return;
    entry.scheme = fetched_over_https ? kHttps : kHttp;
    payload->scheme = entry.scheme;
}

std::string getlistmanager::EntryText(const QueueEntry& entry) const {
    std::string url(kSchemes[entry.scheme]);
    if (entry.user_info) url += entry.user_info->name();
    url += KeyOf(entry.node);
    return url;
}

std::optional<std::string> getlistmanager::Dequeue(bool remove) {
    util::MutexLock lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    std::string url = EntryText(queue_.front());
    if (remove) queue_.pop_front();
    return url;
}

void getlistmanager::ForEachQueued(
    const std::function<void(const std::string&, const FetchJob*)>& visit) {
    util::MutexLock lock(mutex_);
    for (const QueueEntry& entry : queue_) {
        const auto* payload = entry.node->value().ObjectAs<JobPayload>();
        visit(EntryText(entry), payload != nullptr ? &payload->job : nullptr);
    }
}

bool getlistmanager::MoveFirstToEnd() {
    util::MutexLock lock(mutex_);
    if (queue_.empty()) return false;
    const QueueEntry entry = queue_.front();
    queue_.pop_front();
    queue_.push_back(entry);
    return true;
}

bool getlistmanager::RemoveFirst() {
    util::MutexLock lock(mutex_);
    if (queue_.empty()) return false;
    queue_.pop_front();
    return true;
}

std::size_t getlistmanager::MoveHostsToEnd(const std::vector<const treelistnode*>& hosts,
                                           std::size_t limit) {
    util::MutexLock lock(mutex_);
    std::size_t moved = 0;
    while (moved < limit && !queue_.empty()) {
        const treelistnode* host = queue_.front().host;
        if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) break;
        const QueueEntry entry = queue_.front();
        queue_.pop_front();
        queue_.push_back(entry);
        ++moved;
    }
    return moved;
}

bool getlistmanager::EnqueuedOnlyFor(const std::vector<const treelistnode*>& hosts,
                                     std::uint64_t since) {
    if (enqueued_ == since) return true;  // the usual answer, without the lock
    util::MutexLock lock(mutex_);
    return run_since_ <= since && std::find(hosts.begin(), hosts.end(), run_host_) != hosts.end();
}

std::optional<std::string> getlistmanager::QueuedUrl(std::string_view key) {
    util::MutexLock lock(mutex_);
    const treelistnode* node = FindPath(key, SplitEnd(key));
    const auto* payload = node ? node->value().ObjectAs<JobPayload>() : nullptr;
    if (!payload) return std::nullopt;
    std::string url(kSchemes[payload->scheme]);
    if (payload->user_info) url += payload->user_info->name();
    url += KeyOf(node);
    return url;
}

FetchJob* getlistmanager::GetJob(std::string_view url) {
    util::MutexLock lock(mutex_);
    treelistnode* node = FindUrl(url);
    if (!node) return nullptr;
    auto* payload = node->value().ObjectAs<JobPayload>();
    return payload ? &payload->job : nullptr;
}

treelistnode* getlistmanager::FindUrl(std::string_view url) const {
    const std::string_view key = UrlKey(url);
    return FindPath(key, SplitEnd(key));
}

treelistnode* getlistmanager::FindKey(std::string_view key) {
    util::MutexLock lock(mutex_);
    return FindPath(key, SplitEnd(key));
}

CrawlRules* getlistmanager::AddCrawlContext(const std::vector<std::string>& allowed_urls,
                                            std::string_view filters,
                                            std::string_view extra_header) {
    auto rules = std::make_unique<CrawlRules>();
    for (const std::string& url : allowed_urls) rules->accept.AddDirectory(url);
    if (!filters.empty()) rules->filters.Compile(filters);
    if (!util::SkipWhite(extra_header).empty()) rules->extra_header = std::string(extra_header);
    util::MutexLock lock(mutex_);
    rules->index = static_cast<int>(contexts_.size());
    contexts_.push_back(std::move(rules));
    return contexts_.back().get();
}

std::string getlistmanager::EntryUrl(const treelistnode* node) const {
    const auto* payload = node->value().ObjectAs<JobPayload>();
    std::string url(kSchemes[payload ? payload->scheme : std::uint16_t{kHttp}]);
    for (const char ch : KeyOf(node)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < '!' || c == 0x7F) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            url += escape;
        } else {
            url += ch;
        }
    }
    return url;
}

treelistnode* getlistmanager::CurrentHost() {
    util::MutexLock lock(mutex_);
    return queue_.empty() ? nullptr : queue_.front().host;
}

int getlistmanager::PeekState() {
    util::MutexLock lock(mutex_);
    return queue_.empty() ? -1 : queue_.front().state;
}

}  // namespace kelvra::store

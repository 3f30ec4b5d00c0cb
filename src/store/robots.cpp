#include "store/robots.h"

#include <algorithm>
#include <cstdio>

#include "platform/ownedfile.h"
#include "util/fileutil.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

// The value after a "Name:" prefix (compared without regard to case), blanks skipped.
bool FieldValue(std::string_view line, std::string_view name, std::string_view& value) {
    if (!util::StartsWithNoCase(line, name)) return false;
    value = util::SkipWhite(line.substr(name.size()));
    return true;
}

// The frontier key a Disallow value names, in the key form the frontier files URLs under
// (decoded, normalised), without a trailing '/'. Always the file's own host or a path below
// it; empty when the value would make it anything else.
std::string DisallowKey(std::string_view host, std::string_view value) {
    if (value.front() == '/') value.remove_prefix(1);
    const std::string prefix = std::string(host) + "/";
    std::string key = net::PercentDecode(prefix + std::string(value));
    net::NormalizeUrl(key);
    if (!key.starts_with(prefix)) return {};
    if (key.back() == '/') key.pop_back();
    return key;
}

}  // namespace

std::string PickupLinkClassEx::LowerHost(std::string_view url) {
    std::string_view rest = url.substr(net::HostStart(url));
    return util::LowerCopy(rest.substr(0, rest.find('/')));
}

int PickupLinkClassEx::AdmitUrl(std::string_view url, const FetchJob& job, int mode) {
    const int result = PickupLinkClass::AdmitUrl(url, job, mode);
    // robots.txt comes over the scheme the host is first reached with.
    const std::string_view scheme = url.starts_with("https://") ? "https://" : "http://";
    if (result != kAdmitQueued || !url.starts_with(scheme)) return result;
    const std::string host = LowerHost(url);
    FetchJob robots = job;
    robots.flags = (job.flags & 0x3FFFFFFF) | JobFlag::kRobots;
    robots.trace = 1;
    const std::string robots_url = std::string(scheme) + host + "/" + std::string(kRobotsName);
    if (PickupLinkClass::AdmitUrl(robots_url, robots, kModeForced) == kAdmitQueued) {
        util::MutexLock lock(mutex());
        if (treelistnode* node = FindPath(host, 0))
            node->value() = NodeValue::Marker(kRobotsPending);
    }
    return result;
}

Allowed PickupLinkClassEx::NextAllowed(std::string& url, bool remove) {
    util::MutexLock lock(mutex());
    if (queue_.empty()) return Allowed::kNone;
    const QueueEntry entry = queue_.front();
    if (entry.node->name() != kRobotsName) {
        for (const treelistnode* n = entry.node; n && !n->IsRoot(); n = n->parent()) {
            const NodeValue& v = n->value();
            if (Marker(v) == kDisallowed) {
                queue_.pop_front();
                return Allowed::kSkip;
            }
            const bool host = n->parent() && n->parent()->IsRoot();
            if (host && v.IsMarker() && v.marker() == kRobotsPending) {
                queue_.pop_front();
                queue_.push_back(entry);
                return Allowed::kSkip;
            }
        }
    }
    url = EntryText(entry);
    if (remove) queue_.pop_front();
    return Allowed::kUrl;
}

void PickupLinkClassEx::RobotsFetched(std::string_view url, const FetchJob& job, bool ok) {
    if (!(job.flags & JobFlag::kRobots)) return;
    util::MutexLock lock(mutex());
    treelistnode* host = FindPath(LowerHost(url), 0);
    if (!host) return;
    NodeValue& v = host->value();
    if (v.IsMarker() && v.marker() == kDisallowed) return;
    v = ok ? NodeValue() : NodeValue::Marker(kDisallowed);
}

bool PickupLinkClassEx::ProcessObject(std::string_view url, const treelistnode* record,
                                      const FetchJob& job, bool full_scan) {
    if (!(job.flags & JobFlag::kRobots)) {
        return PickupLinkClass::ProcessObject(url, record, job, full_scan);
    }
    if (!store() || !record) return false;
    return ParseRobots(store()->LocalPath(record), LowerHost(url));
}

bool PickupLinkClassEx::ParseRobots(const std::string& local_path, std::string_view host) {
    // Only the first kMaxRobotsBytes count, whatever the file holds.
    std::string head;
    {
        platform::FilePtr whole(std::fopen(local_path.c_str(), "r"));
        if (!whole) return false;
        head.resize(static_cast<std::size_t>(
            std::clamp<std::int64_t>(util::FileSize(whole.get()), 0, kMaxRobotsBytes)));
        head.resize(std::fread(head.data(), 1, head.size(), whole.get()));
    }
    if (head.empty()) return true;
    platform::FilePtr file(::fmemopen(head.data(), head.size(), "r"));
    if (!file) return false;
    util::MutexLock lock(mutex());
    const std::string robots_key = std::string(host) + "/" + std::string(kRobotsName);
    bool applies = false;
    std::string line;
    while (util::ReadLine(file.get(), line, kMaxRobotsLine)) {
        std::string_view text = util::SkipWhite(line);
        text = util::Trim(text.substr(0, text.find('#')));
        std::string_view value;
        if (FieldValue(text, "User-Agent:", value)) {
            if (applies) break;  // only the first section that applies
            applies = value.find('*') != std::string_view::npos ||
                      value.find(kAgentName) != std::string_view::npos;
            continue;
        }
        if (!applies || !FieldValue(text, "Disallow:", value) || value.empty()) continue;
        const std::string key = DisallowKey(host, value);
        // The file's own request is under way while it is parsed; it never excludes itself.
        if (key.empty() || key == robots_key) continue;
        if (treelistnode* node = InsertPath(key, SplitEnd(key))) SetMarker(*node, kDisallowed);
    }
    return true;
}

}  // namespace kelvra::store

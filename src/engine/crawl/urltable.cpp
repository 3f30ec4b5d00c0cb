#include "engine/crawl/urltable.h"

#include <algorithm>
#include <set>

namespace kelvra::crawl {

const store::treelistnode* StoreObjectsAdapter::FindRecord(std::string_view url) {
    return store_.FindRecord(url);
}

std::string StoreObjectsAdapter::LocalPath(const store::treelistnode* record) {
    std::string path;
    store_.GetNodeLocalPath(record, path);
    return path;
}

std::optional<std::string> StoreObjectsAdapter::ContentType(const store::treelistnode* record) {
    std::string type;
    if (!store_.GetNodeContentType(record, type)) return std::nullopt;
    return type;
}

std::optional<std::string> StoreObjectsAdapter::Field(const store::treelistnode* record,
                                                      std::string_view key) {
    std::string value;
    if (!store_.GetNodeField(record, key, value)) return std::nullopt;
    return value;
}

std::string StoreObjectsAdapter::TypeForExtension(std::string_view url) {
    return std::string(store_.TypeForExtension(net::GetExtension(url)));
}

CrawlUrlTable::CrawlUrlTable(store::StoredObjects* store, const std::string& plugin_library)
    : PickupLinkClass(store, plugin_library) {}

void CrawlUrlTable::MoveFirstToEnd() {
    util::MutexLock lock(mutex());
    if (queue_.empty()) return;
    QueueEntry entry = queue_.front();
    queue_.pop_front();
    queue_.push_back(entry);
}

void CrawlUrlTable::RemoveFirst() {
    util::MutexLock lock(mutex());
    if (!queue_.empty()) queue_.pop_front();
}

int CrawlUrlTable::NextAllowed(std::string& out, bool remove) {
    util::MutexLock lock(mutex());
    std::optional<std::string> url = Dequeue(remove);
    if (!url) return Allowed::kNone;
    out = *url;
    return Allowed::kUrl;
}

void CrawlUrlTable::RobotsFetched(std::string_view, const store::FetchJob&, bool) {}

std::string CrawlUrlTable::CurrentHostName() {
    util::MutexLock lock(mutex());
    store::treelistnode* host = CurrentHost();
    return host != nullptr ? host->name() : std::string();
}

std::vector<const store::CrawlRules*> CrawlUrlTable::Contexts() {
    util::MutexLock lock(mutex());
    std::set<const store::CrawlRules*> seen;
    for (store::treelistnode* node : PostOrder(Root())) {
        const auto* payload = node->value().ObjectAs<store::JobPayload>();
        if (payload != nullptr && payload->job.rules != nullptr) seen.insert(payload->job.rules);
    }
    std::vector<const store::CrawlRules*> contexts(seen.begin(), seen.end());
    std::sort(
        contexts.begin(), contexts.end(),
        [](const store::CrawlRules* a, const store::CrawlRules* b) { return a->index < b->index; });
    return contexts;
}

}  // namespace kelvra::crawl

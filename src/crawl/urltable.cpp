#include "crawl/urltable.h"

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

std::string_view CurrentHostName(CrawlUrlTable& table) {
    store::treelistnode* host = table.CurrentHost();
    return host != nullptr ? std::string_view(host->name()) : std::string_view();
}

std::vector<const store::CrawlRules*> Contexts(CrawlUrlTable& table) {
    util::MutexLock lock(table.mutex());
    std::set<const store::CrawlRules*> seen;
    for (store::treelistnode* node : table.PostOrder(table.Root())) {
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

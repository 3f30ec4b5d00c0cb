// Saving the failed jobs of a crawl with everything needed to go on later, and loading them.
#include <cstdio>
#include <map>

#include "crawl/kelvra.h"
#include "crawl/retrylistfile.h"
#include "net/url.h"

namespace kelvra::crawl {

namespace {

// The compiled filter as (class, pattern) pairs: per entry the class plus 1, the pattern, NUL.
std::vector<std::pair<int, std::string>> FilterEntries(const store::ExtFilterClass& filters) {
    std::vector<std::pair<int, std::string>> entries;
    const std::string& bytes = filters.bytes();
    std::size_t pos = 0;
    while (pos < bytes.size() && bytes[pos] != '\0') {
        int klass = static_cast<unsigned char>(bytes[pos]) - 1;
        std::size_t end = bytes.find('\0', pos + 1);
        if (end == std::string::npos) end = bytes.size();
        entries.emplace_back(klass, bytes.substr(pos + 1, end - pos - 1));
        pos = end + 1;
    }
    return entries;
}

RetryRulesBlock BlockOf(const store::CrawlRules& rules) {
    RetryRulesBlock block;
    for (const std::string& entry : rules.accept) block.accept.push_back(entry);
    block.filters = FilterEntries(rules.filters);
    if (rules.extra_header) block.extra_header = *rules.extra_header;
    return block;
}

}  // namespace

int KelvraClass::WriteRetryList(const std::string& path) {
    return WriteJobList(path, error_urls_, false);
}

void KelvraClass::SaveUnfinished(bool final) {
    if (unfinished_path_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - unfinished_saved_ < std::chrono::seconds(1)) return;
    unfinished_saved_ = now;
    std::vector<std::string> urls = error_urls_;
    for (const WorkerSlot& slot : slots_) {
        if (slot.job != nullptr) urls.push_back(slot.url);
        if (slot.next_job != nullptr) urls.push_back(slot.next_url);
    }
    for (std::string& url : url_table_->QueuedUrls()) urls.push_back(std::move(url));
    if (urls.empty()) {
        std::remove(unfinished_path_.c_str());
        return;
    }
    WriteJobList(unfinished_path_, urls, true);
}

int KelvraClass::WriteJobList(const std::string& path, const std::vector<std::string>& urls,
                              bool unfinished) {
    RetryListData data;
    std::map<const store::CrawlRules*, std::uint16_t> index_of;
    for (const store::CrawlRules* rules : Contexts(*url_table_)) {
        // A block without accept entries cannot be read back; its jobs refer to block 0.
        if (rules->accept.Count() == 0) continue;
        index_of[rules] = static_cast<std::uint16_t>(data.rules.size());
        data.rules.push_back(BlockOf(*rules));
    }
    {
        util::MutexLock lock(url_table_->mutex());
        for (store::treelistnode* node : url_table_->PostOrder(url_table_->Root())) {
            const store::NodeValue& value = node->value();
            const long marker = store::getlistmanager::Marker(value);
            if (marker != 0) {
                data.known.push_back({url_table_->KeyOf(node), marker});
            } else if (value.IsObject()) {
                data.known.push_back({url_table_->KeyOf(node), 0});
            }
        }
    }
    for (const std::string& url : urls) {
        const store::FetchJob* job = url_table_->GetJob(url);
        if (job == nullptr) continue;
        RetryFailedJob failed;
        failed.url = url;
        if (job->referrer != nullptr) {
            std::string referrer = url_table_->EntryUrl(job->referrer);
            failed.referrer = referrer.substr(net::HostStart(referrer));
        }
        failed.depth = job->depth;
        auto found = index_of.find(job->rules);
        failed.rules_index = found != index_of.end() ? found->second : 0;
        failed.flags = job->flags;
        failed.trace = job->trace;
        // The list may be a second old: a page below it that the killed run stored already
        // answers 304 next time, and its links are still to be followed, all the way down.
        if (unfinished) failed.trace = -1;
        data.failed.push_back(std::move(failed));
    }
    return WriteRetryListFile(path, data);
}

int KelvraClass::ReadRetryList(const std::string& path) {
    RetryListData data;
    if (ReadRetryListFile(path, data) < 0) return -1;
    std::vector<store::CrawlRules*> rules;
    for (const RetryRulesBlock& block : data.rules) {
        rules.push_back(
            url_table_->AddCrawlContext(block.accept, block.filter_text, block.extra_header));
    }
    {
        util::MutexLock lock(url_table_->mutex());
        for (const RetryKnownUrl& known : data.known) {
            store::treelistnode* node =
                url_table_->InsertPath(known.path, store::getlistmanager::SplitEnd(known.path));
            if (node == nullptr) continue;
            if (known.mark != 0) {
                node->value() = store::NodeValue::Marker(known.mark);
            } else {
                node->value() = store::NodeValue::Object(
                    std::make_unique<store::JobPayload>(store::FetchJob{}));
            }
        }
    }
    int queued = 0;
    for (const RetryFailedJob& failed : data.failed) {
        store::FetchJob* job = url_table_->GetJob(failed.url);
        if (job == nullptr) continue;
        job->depth = failed.depth;
        job->rules = failed.rules_index < rules.size() ? rules[failed.rules_index] : nullptr;
        job->flags = failed.flags;
        job->trace = failed.trace;
        job->referrer = failed.referrer.empty() ? nullptr : url_table_->FindKey(failed.referrer);
        if (url_table_->Enqueue(failed.url, true)) ++queued;
    }
    SignalManager();
    return queued;
}

}  // namespace kelvra::crawl

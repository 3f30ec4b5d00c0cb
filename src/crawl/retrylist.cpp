// Saving the failed jobs of a crawl with everything needed to go on later, and loading them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "crawl/kelvra.h"
#include "crawl/retrylistfile.h"
#include "platform/rawfile.h"
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

// The unfinished list is saved at most once a second, and a list that takes long to write (a
// crawl with a million URLs queued) at most once per twenty times its writing time, so that
// keeping it never takes more than a twentieth of the crawl.
constexpr auto kUnfinishedSavePeriod = std::chrono::seconds(1);
constexpr int kUnfinishedSaveShare = 20;

class UnfinishedSaveTimer final {
  public:
    using Clock = std::chrono::steady_clock;
    UnfinishedSaveTimer(Clock::time_point start, Clock::time_point& next)
        : start_(start), next_(next) {}
    ~UnfinishedSaveTimer() {
        const Clock::duration spent = Clock::now() - start_;
        next_ = start_ + std::max<Clock::duration>(kUnfinishedSavePeriod,
                                                   kUnfinishedSaveShare * spent);
    }
    UnfinishedSaveTimer(const UnfinishedSaveTimer&) = delete;
    UnfinishedSaveTimer& operator=(const UnfinishedSaveTimer&) = delete;

  private:
    Clock::time_point start_;
    Clock::time_point& next_;
};

}  // namespace

int KelvraClass::WriteRetryList(const std::string& path) {
    return WriteJobList(path, {&error_urls_}, false);
}

void KelvraClass::SaveUnfinished(bool final) {
    if (unfinished_path_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && now < next_unfinished_save_) return;
    const UnfinishedSaveTimer timer(now, next_unfinished_save_);
    std::vector<std::string> running;
    for (const WorkerSlot& slot : slots_) {
        if (slot.job != nullptr) running.push_back(slot.url);
        if (slot.next_job != nullptr) running.push_back(slot.next_url);
    }
    if (error_urls_.empty() && running.empty() && url_table_->QueueCount() == 0) {
        std::remove(unfinished_path_.c_str());
        return;
    }
    WriteJobList(unfinished_path_, {&error_urls_, &running}, true);
}

// Written straight to the file as the table is walked: with a million URLs queued, a copy of
// the list in memory would be larger than the table itself.
int KelvraClass::WriteJobList(const std::string& path,
                              std::initializer_list<const std::vector<std::string>*> lists,
                              bool unfinished) {
    std::vector<RetryRulesBlock> rules;
    std::map<const store::CrawlRules*, std::uint16_t> index_of;
    for (const store::CrawlRules* context : Contexts(*url_table_)) {
        // A block without accept entries cannot be read back; its jobs refer to block 0.
        if (context->accept.Count() == 0) continue;
        index_of[context] = static_cast<std::uint16_t>(rules.size());
        rules.push_back(BlockOf(*context));
    }
    platform::FileReplacement file(path);
    RetryListWriter writer([&file](std::string_view text) { file.Write(text); }, rules);
    util::MutexLock lock(url_table_->mutex());
    for (store::treelistnode* node : url_table_->PostOrder(url_table_->Root())) {
        const store::NodeValue& value = node->value();
        const long marker = store::getlistmanager::Marker(value);
        if (marker != 0 || value.IsObject()) writer.Known(url_table_->KeyOf(node), marker);
    }
    auto write_job = [&](const std::string& url, const store::FetchJob* job) {
        if (job == nullptr) return;
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
        writer.Failed(failed);
    };
    for (const std::vector<std::string>* urls : lists) {
        for (const std::string& url : *urls) write_job(url, url_table_->GetJob(url));
    }
    if (unfinished) url_table_->ForEachQueued(write_job);
    writer.Finish();
    return file.Commit() ? writer.FailedCount() : -1;
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

#include "console/consoledisplay.h"

#include <string>

#include "app/servermode.h"
#include "console/servefetch.h"
#include "crawl/fetchstatus.h"

namespace kelvra::console {

ConsoleCrawlDisplay::ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui, ViewMode mode,
                                         int columns)
    : PlainCrawlDisplay(out),
      ui_(ui),
      mode_(mode),
      view_(mode == ViewMode::kLive ? std::make_unique<LiveView>(out, columns) : nullptr) {}

void ConsoleCrawlDisplay::Keep(const std::string& line) {
    if (view_) {
        view_->Above(line);
    } else {
        Print(line);
    }
}

void ConsoleCrawlDisplay::SlotLine(int slot, std::string_view text) {
    if (mode_ == ViewMode::kLines) PlainCrawlDisplay::SlotLine(slot, text);
}

void ConsoleCrawlDisplay::SlotLineQueued(int slot, std::string_view text, long queued) {
    if (view_) view_->Started(slot, text, queued);
    if (mode_ == ViewMode::kLines) PlainCrawlDisplay::SlotLineQueued(slot, text, queued);
}

void ConsoleCrawlDisplay::SlotStatus(int slot, std::string_view text) {
    if (view_) view_->Finished(slot, Tally());
    if (mode_ == ViewMode::kLines) PlainCrawlDisplay::SlotStatus(slot, text);
}

void ConsoleCrawlDisplay::Progress(int slot, std::int64_t received, std::int64_t) {
    if (view_) view_->Progress(slot, received);
}

void ConsoleCrawlDisplay::Log(std::string_view message) {
    if (mode_ == ViewMode::kLines) PlainCrawlDisplay::Log(message);
}

void ConsoleCrawlDisplay::ShowMessage(std::string_view text, std::string_view caption,
                                      crawl::MessageIcon) {
    Keep("[" + std::string(caption) + "] " + std::string(text) + "\n");
}

bool ConsoleCrawlDisplay::ChooseUrls(const std::vector<std::string>& urls,
                                     std::vector<std::size_t>&) {
    for (const std::string& url : urls) Keep(url + "\n");
    return false;
}

void ConsoleCrawlDisplay::EndView() {
    if (view_) view_->End();
}

void ConsoleCrawlDisplay::Outcome(int slot, const crawl::FetchOutcome& outcome) {
    {
        std::lock_guard lock(tally_mutex_);
        tally_.bytes += outcome.bytes;
        if (outcome.status == crawl::kStatusSuccess) ++tally_.stored;
        if (outcome.status == crawl::kStatusNotModify || outcome.status == crawl::kStatusSameData ||
            outcome.status == crawl::kStatusHeadOlder) {
            ++tally_.unchanged;
        }
        if (outcome.cause.kind == crawl::FailureKind::kHttpStatus && !outcome.again) {
            ++tally_.http_errors;
        } else if (outcome.cause.Failed() && !outcome.again) {
            ++tally_.failed;
        }
    }
    if (view_) view_->Finished(slot, Tally());
    if (!outcome.cause.Failed()) return;
    Keep("(No." + std::to_string(slot) + ")" + (outcome.again ? "Will retry " : "Failed ") +
         std::string(outcome.url) + ": " + outcome.cause.Text() + "\n");
}

CrawlTally ConsoleCrawlDisplay::Tally() const {
    std::lock_guard lock(tally_mutex_);
    return tally_;
}

bool ConsoleCrawlDisplay::AskCredentials(std::string_view prompt, std::string& user,
                                         std::string& password) {
    return ui_.AskCredentials(prompt, user, password) == app::CredentialAnswer::kGiven;
}

ConsoleServerMonitor::ConsoleServerMonitor(std::FILE* out, bool verbose, UrlInbox* inbox)
    : out_(out), verbose_(verbose), inbox_(inbox) {}

void ConsoleServerMonitor::Print(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void ConsoleServerMonitor::StatusText(int row, int column, std::string_view text) {
    if (!verbose_ || text.empty()) return;
    Print("(No." + std::to_string(row) + (column == server::kColumnRequest ? ") " : ")  ") +
          std::string(text) + "\n");
}

void ConsoleServerMonitor::StoreFailed(int row, std::string_view url) {
    if (!verbose_) return;
    Print("(No." + std::to_string(row) + ")  Not stored: " + std::string(url) + "\n");
}

void ConsoleServerMonitor::ModeChanged(std::uint32_t mode) {
    Print("Orvane: " + std::string(app::ServerModeTip(mode)) + "\n");
}

void ConsoleServerMonitor::AcquireUrl(std::string_view url) {
    if (!inbox_) return;
    Print("Orvane: fetching " + std::string(url) + "\n");
    inbox_->Post(std::string(url));
}

void ConsoleServerMonitor::OpenProxySetting() {}

}  // namespace kelvra::console

#include "console/consoledisplay.h"

#include <string>

#include "app/servermode.h"
#include "crawl/fetchstatus.h"

namespace kelvra::console {

ConsoleCrawlDisplay::ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui, bool quiet)
    : PlainCrawlDisplay(out), ui_(ui), quiet_(quiet) {}

void ConsoleCrawlDisplay::SlotLine(int slot, std::string_view text) {
    if (!quiet_) PlainCrawlDisplay::SlotLine(slot, text);
}

void ConsoleCrawlDisplay::SlotLineQueued(int slot, std::string_view text, long queued) {
    if (!quiet_) PlainCrawlDisplay::SlotLineQueued(slot, text, queued);
}

void ConsoleCrawlDisplay::SlotStatus(int slot, std::string_view text) {
    if (!quiet_) PlainCrawlDisplay::SlotStatus(slot, text);
}

void ConsoleCrawlDisplay::Log(std::string_view message) {
    if (!quiet_) PlainCrawlDisplay::Log(message);
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
    if (!outcome.cause.Failed()) return;
    Print("(No." + std::to_string(slot) + ")" + (outcome.again ? "Will retry " : "Failed ") +
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

ConsoleServerMonitor::ConsoleServerMonitor(std::FILE* out, bool verbose)
    : out_(out), verbose_(verbose) {}

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

void ConsoleServerMonitor::AcquireUrl(std::string_view) {}

void ConsoleServerMonitor::OpenProxySetting() {}

}  // namespace kelvra::console

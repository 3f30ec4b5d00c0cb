#include "console/consoledisplay.h"

#include <string>

#include "app/servermode.h"

namespace kelvra::console {

ConsoleCrawlDisplay::ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui)
    : PlainCrawlDisplay(out), ui_(ui) {}

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

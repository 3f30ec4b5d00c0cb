#pragma once
// What kelvrac shows of a crawl and of the local server: the plain crawl display on standard
// output with the credential prompt on standard input, and the server's status texts.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/userinterface.h"
#include "console/liveview.h"
#include "crawl/plaindisplay.h"
#include "server/servermonitor.h"

namespace kelvra::console {

class UrlInbox;

enum class ViewMode {
    kLines,  // the line log
    kQuiet,  // failures and the finish report only
    kLive,   // the live view of a terminal, failures above it
};

// The plain display, plus the cause of every failure and the tally.
class ConsoleCrawlDisplay final : public crawl::PlainCrawlDisplay {
  public:
    // columns: the terminal's width, for the live view.
    ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui, ViewMode mode = ViewMode::kLines,
                        int columns = 0);
    bool AskCredentials(std::string_view prompt, std::string& user, std::string& password) override;
    void SlotLine(int slot, std::string_view text) override;
    void SlotLineQueued(int slot, std::string_view text, long queued) override;
    void SlotStatus(int slot, std::string_view text) override;
    void Progress(int slot, std::int64_t received, std::int64_t total) override;
    void Log(std::string_view message) override;
    void Outcome(int slot, const crawl::FetchOutcome& outcome) override;
    void ShowMessage(std::string_view text, std::string_view caption,
                     crawl::MessageIcon icon) override;
    bool ChooseUrls(const std::vector<std::string>& urls,
                    std::vector<std::size_t>& chosen) override;
    CrawlTally Tally() const;
    // Removes the live view before the lines that follow the crawl.
    void EndView();

  private:
    // A line that stays: above the live view, or in the log.
    void Keep(const std::string& line);

    app::UserInterface& ui_;
    ViewMode mode_;
    std::unique_ptr<LiveView> view_;  // in kLive
    mutable std::mutex tally_mutex_;
    CrawlTally tally_;
};

// Status texts are printed only when verbose; mode changes made by a browser always.
class ConsoleServerMonitor final : public server::ServerMonitor {
  public:
    // inbox: where "/get?" URLs go (serve); nullptr: nowhere.
    ConsoleServerMonitor(std::FILE* out, bool verbose, UrlInbox* inbox = nullptr);
    void StatusText(int row, int column, std::string_view text) override;
    void ModeChanged(std::uint32_t mode) override;
    // kelvrac has no window to open the proxy settings in.
    void AcquireUrl(std::string_view url) override;
    void OpenProxySetting() override;
    // Printed when verbose, like the status texts.
    void StoreFailed(int row, std::string_view url) override;

  private:
    void Print(const std::string& text);

    std::FILE* out_;
    bool verbose_;
    UrlInbox* inbox_;
    std::mutex mutex_;
};

}  // namespace kelvra::console

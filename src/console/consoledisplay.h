#pragma once
// What kelvrac shows of a crawl and of the local server: the plain crawl display on standard
// output with the credential prompt on standard input, and the server's status texts.

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "app/userinterface.h"
#include "crawl/plaindisplay.h"
#include "server/servermonitor.h"

namespace kelvra::console {

// What a crawl has done so far, by the outcomes of its transactions.
struct CrawlTally {
    long stored = 0;       // new or changed objects
    long unchanged = 0;    // 304, same data, stored copy current
    long failed = 0;       // failed for good (no answer, local error, stopped)
    long http_errors = 0;  // answered 4xx/5xx
    std::int64_t bytes = 0;
};

// The plain display, plus the cause of every failure and the tally; quiet leaves out
// everything but failures and the finish report.
class ConsoleCrawlDisplay final : public crawl::PlainCrawlDisplay {
  public:
    ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui, bool quiet = false);
    bool AskCredentials(std::string_view prompt, std::string& user, std::string& password) override;
    void SlotLine(int slot, std::string_view text) override;
    void SlotLineQueued(int slot, std::string_view text, long queued) override;
    void SlotStatus(int slot, std::string_view text) override;
    void Log(std::string_view message) override;
    void Outcome(int slot, const crawl::FetchOutcome& outcome) override;
    CrawlTally Tally() const;

  private:
    app::UserInterface& ui_;
    bool quiet_;
    mutable std::mutex tally_mutex_;
    CrawlTally tally_;
};

// Status texts are printed only when verbose; mode changes made by a browser always.
class ConsoleServerMonitor final : public server::ServerMonitor {
  public:
    ConsoleServerMonitor(std::FILE* out, bool verbose);
    void StatusText(int row, int column, std::string_view text) override;
    void ModeChanged(std::uint32_t mode) override;
    // kelvrac has no window to fetch a page or open the proxy settings in.
    void AcquireUrl(std::string_view url) override;
    void OpenProxySetting() override;
    // Printed when verbose, like the status texts.
    void StoreFailed(int row, std::string_view url) override;

  private:
    void Print(const std::string& text);

    std::FILE* out_;
    bool verbose_;
    std::mutex mutex_;
};

}  // namespace kelvra::console

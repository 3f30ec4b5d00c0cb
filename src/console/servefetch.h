#pragma once
// What kelvrac serve fetches: the URLs browsers ask for with "/get?" arrive on server threads
// and wait in an inbox for the main thread, which registers and crawls them one after the
// other as the desktop program does. A get started while such a serve runs hands its URLs over
// through the same command.

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/registrar.h"
#include "console/consoledisplay.h"
#include "console/signalwatch.h"

namespace kelvra::console {

class UrlInbox final {
  public:
    // From any thread.
    void Post(std::string url);
    // Wakes Next for good.
    void Close();
    // Blocks until a URL arrives (in order) or the inbox is closed (none).
    std::optional<std::string> Next();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> urls_;
    bool closed_ = false;
};

// Registration without dialogs: the URL as asked for, the crawl on standard output.
class ConsoleRegistrationDialogs final : public app::RegistrationDialogs {
  public:
    ConsoleRegistrationDialogs(app::UserInterface& ui, SignalWatcher& signals, std::FILE* out);
    std::optional<app::UrlEntry> EnterUrl(std::string_view initial) override;
    std::optional<std::vector<std::string>> ChooseUrls(const std::vector<std::string>& urls,
                                                       const std::string& file) override;
    bool EditCondition(const std::string& url, store::AcquisitionCondition& condition) override;
    void EnableMainWindow(bool enable) override;
    void RunPendingEvents() override;
    crawl::CrawlDisplay& StatusDisplay() override;
    app::CrawlOutcome RunCrawl(app::CrawlRun& run) override;

  private:
    SignalWatcher& signals_;
    std::FILE* out_;
    ConsoleCrawlDisplay display_;
};

// Asks the local server on 127.0.0.1:port to fetch each URL ("/get?URL"). The number it
// accepted.
int HandOverUrls(int port, const std::vector<std::string>& urls);

}  // namespace kelvra::console

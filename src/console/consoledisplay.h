#pragma once
// What kelvrac shows of a crawl and of the local server: the plain crawl display on standard
// output with the credential prompt on standard input, and the server's status texts.

#include <cstdio>
#include <mutex>

#include "app/userinterface.h"
#include "crawl/plaindisplay.h"
#include "server/servermonitor.h"

namespace kelvra::console {

class ConsoleCrawlDisplay final : public crawl::PlainCrawlDisplay {
  public:
    ConsoleCrawlDisplay(std::FILE* out, app::UserInterface& ui);
    bool AskCredentials(std::string_view prompt, std::string& user, std::string& password) override;

  private:
    app::UserInterface& ui_;
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

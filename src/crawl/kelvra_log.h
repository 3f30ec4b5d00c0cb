#pragma once
// The crawl engine as the status dialog (and the console) runs it: with the progress log, the
// finish report and the dial-up hang-up.

#include <memory>
#include <string>

#include "crawl/dialup.h"
#include "crawl/kelvra.h"
#include "crawl/progresslog.h"

namespace kelvra::crawl {

class KelvraClass_Log : public KelvraClass {
  public:
    KelvraClass_Log(store::headerlist_cookie& store, int threads, const std::string& mcf_path,
                    CrawlDisplay& display,
                    std::unique_ptr<DialUpService> dial_up = std::make_unique<NoDialUpService>());

    // Opens the progress log when the environment names one, runs, closes the log.
    long RunWithLog(bool& completed);
    void LogStatus(int worker, std::string_view status);
    // True when failed URLs were queued again: ResetCrawl and RunWithLog once more.
    bool FinishReport(long processed);
    bool HangUpAll();

    void ShowSlotStatus(int i, std::string_view text) override;
    // Also a line of the progress log, after the status line it explains.
    void ShowStatusNote(int i, std::string_view note) override;
    const ProgressLog& progress_log() const { return log_; }

  private:
    std::unique_ptr<DialUpService> dial_up_;
    ProgressLog log_;
};

}  // namespace kelvra::crawl

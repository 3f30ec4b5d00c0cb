#pragma once
// Everything a crawl shows to or asks of the user. The desktop dialog, the console and the tests
// implement it; the engine never talks to a toolkit.
//
// Threads: SlotLine, SlotLineQueued and Progress are called from worker threads, everything
// else from the scheduler's thread. Implementations must be safe for that.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/failurecause.h"

namespace kelvra::crawl {

enum class MessageIcon { kInformation, kError, kExclamation, kQuestion };

// The save-file dialog of the finish report.
struct SaveFileRequest {
    std::string filter_name;  // "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙ (*.rlf)"
    std::string pattern;      // "*.rlf"
    std::string title;
    std::string default_extension;  // "rlf"
};

// How one transaction ended, as the status line shows it and with the cause of a failure.
struct FetchOutcome {
    std::string_view url;
    int status = 0;          // FetchStatus
    std::int64_t bytes = 0;  // body bytes received
    bool again = false;      // the URL is queued for another attempt
    FailureCause cause;      // kind kNone when nothing failed
};

class CrawlDisplay {
  public:
    virtual ~CrawlDisplay() = default;

    // "(No.%d)%s\n": the URL line of a worker row.
    virtual void SlotLine(int slot, std::string_view text) = 0;
    // "(No.%d)%s [%d]\n": the same with the number of URLs still queued.
    virtual void SlotLineQueued(int slot, std::string_view text, long queued) = 0;
    // The status line of a worker row ("Success", "OnHold", ...).
    virtual void SlotStatus(int slot, std::string_view text) = 0;
    // Bytes received of the expected total (-1 unknown) for the worker's transfer.
    virtual void Progress(int slot, std::int64_t received, std::int64_t total) = 0;
    // "%s\n": the crawl's log line (investigation, errors, phase texts).
    virtual void Log(std::string_view message) = 0;
    // Right after the status line of a finished transaction. Nothing by default.
    virtual void Outcome(int slot, const FetchOutcome& outcome);
    // Every status line "idle", the investigation line "idle.".
    virtual void Clear() = 0;

    // Finish report and the dialog's caption.
    virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
    // Offers the failed URLs; true when confirmed, with the indices chosen. False: cancelled.
    virtual bool ChooseUrls(const std::vector<std::string>& urls,
                            std::vector<std::size_t>& chosen) = 0;
    // Asks where to save the retry list; false when no file was chosen.
    virtual bool ChooseSaveFile(const SaveFileRequest& request, std::string& path) = 0;
    virtual void SetCaption(std::string_view caption) = 0;
    // The automatic hang-up switch of the status dialog ("自動切断").
    virtual bool AutoHangUp() const = 0;

    // Credential prompt for an authorization challenge; false when cancelled or refused.
    virtual bool AskCredentials(std::string_view prompt, std::string& user,
                                std::string& password) = 0;
};

}  // namespace kelvra::crawl

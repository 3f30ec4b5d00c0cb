#pragma once
// The plain display: slot lines, status texts and log lines printed to a stream (standard
// output for the console program). It answers no question: no URL is chosen again, no retry
// list file is asked for unless one was given beforehand, no credentials are known.

#include <cstdio>
#include <mutex>
#include <string>

#include "crawl/crawldisplay.h"

namespace kelvra::crawl {

class PlainCrawlDisplay : public CrawlDisplay {
  public:
    explicit PlainCrawlDisplay(std::FILE* out = stdout);

    void SlotLine(int slot, std::string_view text) override;
    void SlotLineQueued(int slot, std::string_view text, long queued) override;
    void SlotStatus(int slot, std::string_view text) override;
    void Progress(int slot, std::int64_t received, std::int64_t total) override;
    void Log(std::string_view message) override;
    void Clear() override;
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
    bool ChooseUrls(const std::vector<std::string>& urls,
                    std::vector<std::size_t>& chosen) override;
    bool ChooseSaveFile(const SaveFileRequest& request, std::string& path) override;
    void SetCaption(std::string_view caption) override;
    bool AutoHangUp() const override;
    bool AskCredentials(std::string_view prompt, std::string& user, std::string& password) override;

    // The file ChooseSaveFile answers with (kelvrac's -r FILE); empty: none.
    void SetRetryListPath(std::string path) { retry_list_path_ = std::move(path); }

  protected:
    void Print(const std::string& text);

  private:
    std::FILE* out_;
    std::mutex mutex_;
    std::string retry_list_path_;
};

}  // namespace kelvra::crawl

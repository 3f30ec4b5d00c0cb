#include "crawl/plaindisplay.h"

namespace kelvra::crawl {

PlainCrawlDisplay::PlainCrawlDisplay(std::FILE* out) : out_(out) {}

void PlainCrawlDisplay::Print(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void PlainCrawlDisplay::SlotLine(int slot, std::string_view text) {
    Print("(No." + std::to_string(slot) + ")" + std::string(text) + "\n");
}

void PlainCrawlDisplay::SlotLineQueued(int slot, std::string_view text, long queued) {
    Print("(No." + std::to_string(slot) + ")" + std::string(text) + " [" + std::to_string(queued) +
          "]\n");
}

void PlainCrawlDisplay::SlotStatus(int slot, std::string_view text) {
    Print("(No." + std::to_string(slot) + ")" + std::string(text) + "\n");
}

void PlainCrawlDisplay::Progress(int, std::int64_t, std::int64_t) {}

void PlainCrawlDisplay::Log(std::string_view message) {
    Print(std::string(message) + "\n");
}

void PlainCrawlDisplay::Clear() {}

void PlainCrawlDisplay::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
    Print("[" + std::string(caption) + "] " + std::string(text) + "\n");
}

bool PlainCrawlDisplay::ChooseUrls(const std::vector<std::string>& urls,
                                   std::vector<std::size_t>&) {
    for (const std::string& url : urls) Print(url + "\n");
    return false;
}

bool PlainCrawlDisplay::ChooseSaveFile(const SaveFileRequest&, std::string& path) {
    if (retry_list_path_.empty()) return false;
    path = retry_list_path_;
    return true;
}

void PlainCrawlDisplay::SetCaption(std::string_view) {}

bool PlainCrawlDisplay::AutoHangUp() const {
    return false;
}

bool PlainCrawlDisplay::AskCredentials(std::string_view, std::string&, std::string&) {
    return false;
}

}  // namespace kelvra::crawl

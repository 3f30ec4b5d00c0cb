#pragma once
// A CrawlDisplay that records everything shown and answers from preset values.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "crawl/crawldisplay.h"

namespace kelvra::crawl::testing {

class RecordingDisplay : public CrawlDisplay {
  public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    void SlotLine(int slot, std::string_view text) override {
        Note(slot, text);
        Add(lines, "(No." + std::to_string(slot) + ")" + std::string(text));
    }
    void SlotLineQueued(int slot, std::string_view text, long queued) override {
        Note(slot, text);
        Add(lines, "(No." + std::to_string(slot) + ")" + std::string(text) + " [" +
                       std::to_string(queued) + "]");
    }
    // "slot:status" and, beside it, the URL the slot showed last.
    void SlotStatus(int slot, std::string_view text) override {
        std::lock_guard lock(mutex);
        statuses.push_back(std::to_string(slot) + ":" + std::string(text));
        status_urls.push_back(slot_urls[slot]);
    }
    void Progress(int, std::int64_t, std::int64_t) override {}
    void Log(std::string_view message) override { Add(logs, std::string(message)); }
    void Clear() override { Add(logs, "<clear>"); }
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
        std::lock_guard lock(mutex);
        messages.push_back({std::string(text), std::string(caption), icon});
    }
    bool ChooseUrls(const std::vector<std::string>& urls,
                    std::vector<std::size_t>& chosen) override {
        offered = urls;
        chosen = choose;
        return confirm_choice;
    }
    bool ChooseSaveFile(const SaveFileRequest& request, std::string& path) override {
        save_request = request;
        path = save_path;
        return !save_path.empty();
    }
    void SetCaption(std::string_view caption) override { Add(captions, std::string(caption)); }
    bool AutoHangUp() const override { return auto_hang_up; }
    bool AskCredentials(std::string_view prompt, std::string& user,
                        std::string& password) override {
        Add(prompts, std::string(prompt));
        user = credential_user;
        password = credential_password;
        return !credential_user.empty();
    }

    std::vector<std::string> Statuses() {
        std::lock_guard lock(mutex);
        return statuses;
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::vector<std::string> Logs() {
        std::lock_guard lock(mutex);
        return logs;
    }

    std::mutex mutex;
    std::vector<std::string> lines, statuses, logs, captions, prompts;
    std::vector<std::string> status_urls;
    std::map<int, std::string> slot_urls;
    std::vector<Message> messages;
    std::vector<std::string> offered;
    std::vector<std::size_t> choose;
    bool confirm_choice = false;
    SaveFileRequest save_request;
    std::string save_path;
    bool auto_hang_up = false;
    std::string credential_user, credential_password;

  private:
    void Note(int slot, std::string_view text) {
        std::lock_guard lock(mutex);
        if (!text.empty() && (text.front() == '+' || text.front() == '*')) text.remove_prefix(1);
        slot_urls[slot] = std::string(text);
    }
    void Add(std::vector<std::string>& list, std::string text) {
        std::lock_guard lock(mutex);
        list.push_back(std::move(text));
    }
};

}  // namespace kelvra::crawl::testing

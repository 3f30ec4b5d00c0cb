#pragma once
// A UserInterface for tests: records everything shown and answers from scripted lists. A
// question with no scripted answer fails the test.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/registrar.h"
#include "app/userinterface.h"
#include "crawl/plaindisplay.h"

namespace kelvra::testing {

struct ShownMessage {
    std::string text;
    std::string caption;
    app::MessageIcon icon = app::MessageIcon::kNone;
    app::MessageButtons buttons = app::MessageButtons::kOk;
};

struct ScriptedCredentials {
    app::CredentialAnswer answer = app::CredentialAnswer::kCancelled;
    std::string user;
    std::string password;
};

class ScriptedUserInterface final : public app::UserInterface {
  public:
    app::DialogResult MessageBox(std::string_view text, std::string_view caption,
                                 app::MessageIcon icon, app::MessageButtons buttons) override {
        messages.push_back({std::string(text), std::string(caption), icon, buttons});
        if (buttons == app::MessageButtons::kOk) return app::DialogResult::kOk;
        if (answers.empty()) {
            ADD_FAILURE() << "unanswered question: " << text;
            return app::DialogResult::kCancel;
        }
        const app::DialogResult answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::optional<std::string> AskText(std::string_view prompt) override {
        prompts.emplace_back(prompt);
        return Next(texts, prompt);
    }

    app::CredentialAnswer AskCredentials(std::string_view prompt, std::string& user,
                                         std::string& password) override {
        prompts.emplace_back(prompt);
        if (credentials.empty()) {
            ADD_FAILURE() << "unanswered credential prompt: " << prompt;
            return app::CredentialAnswer::kCancelled;
        }
        const ScriptedCredentials given = credentials.front();
        credentials.pop_front();
        user = given.user;
        password = given.password;
        return given.answer;
    }

    std::optional<std::string> ChooseFile(const app::FileQuestion& question) override {
        prompts.push_back(question.title);
        return Next(files, question.title);
    }

    void StatusText(std::string_view text) override { statuses.emplace_back(text); }
    void SetTitle(std::string_view title) override { titles.emplace_back(title); }
    void Beep(app::Sound sound) override { beeps.push_back(sound); }
    void ShowServerMode(std::uint32_t mode) override { modes.push_back(mode); }

    app::DialogResult AskWithDefault(std::string_view text, std::string_view caption,
                                     app::MessageIcon icon, app::MessageButtons buttons,
                                     app::DialogResult default_button) override {
        defaults.push_back(default_button);
        return MessageBox(text, caption, icon, buttons);
    }
    std::optional<std::string> ChooseFolder(std::string_view title,
                                            std::string_view start_folder) override {
        prompts.emplace_back(title);
        folder_starts.emplace_back(start_folder);
        return Next(folders, title);
    }
    std::string ClipboardText() override { return clipboard; }
    void SetClipboardText(std::string_view text) override { clipboard = text; }
    // Records the target; answers from open_results, 0 (opened) when none is scripted.
    int OpenWithDesktop(std::string_view url_or_path) override {
        opened.emplace_back(url_or_path);
        if (open_results.empty()) return 0;
        const int result = open_results.front();
        open_results.pop_front();
        return result;
    }
    // Records the arguments; answers from start_results, true when none is scripted.
    bool StartProcess(const std::vector<std::string>& argv) override {
        started.push_back(argv);
        if (start_results.empty()) return true;
        const bool result = start_results.front();
        start_results.pop_front();
        return result;
    }

    // Captions of the messages shown, in order.
    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (const ShownMessage& message : messages) captions.push_back(message.caption);
        return captions;
    }

    std::vector<ShownMessage> messages;
    std::vector<std::string> prompts;
    std::vector<std::string> statuses;
    std::vector<std::string> titles;
    std::vector<app::Sound> beeps;
    std::vector<std::uint32_t> modes;
    std::vector<app::DialogResult> defaults;  // default buttons of AskWithDefault questions
    std::vector<std::string> folder_starts;
    std::vector<std::string> opened;
    std::vector<std::vector<std::string>> started;
    std::string clipboard;

    std::deque<app::DialogResult> answers;
    std::deque<std::optional<std::string>> texts;
    std::deque<std::optional<std::string>> files;
    std::deque<ScriptedCredentials> credentials;
    std::deque<std::optional<std::string>> folders;
    std::deque<int> open_results;
    std::deque<bool> start_results;

  private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& list,
                                           std::string_view what) {
        if (list.empty()) {
            ADD_FAILURE() << "unanswered question: " << what;
            return std::nullopt;
        }
        std::optional<std::string> answer = list.front();
        list.pop_front();
        return answer;
    }
};

// The registration dialogs for tests: scripted answers, recorded calls; running the crawl runs
// it to its end after calling during_run (where a test registers more URLs), or stops it first.
class ScriptedRegistrationDialogs final : public app::RegistrationDialogs {
  public:
    std::optional<app::UrlEntry> EnterUrl(std::string_view initial) override {
        entry_initials.emplace_back(initial);
        return Pop(entries, "URL entry");
    }
    std::optional<std::vector<std::string>> ChooseUrls(const std::vector<std::string>& urls,
                                                       const std::string& file) override {
        multi_calls.push_back({urls, file});
        return Pop(url_lists, "multi-URL dialog");
    }
    bool EditCondition(const std::string& url, store::AcquisitionCondition& condition) override {
        condition_urls.push_back(url);
        std::optional<bool> edit = Pop(condition_answers, "condition dialog");
        if (edit && *edit) condition.classes = edited_classes;
        return edit.value_or(false);
    }
    void EnableMainWindow(bool enable) override { enabled.push_back(enable); }
    void RunPendingEvents() override { ++pending_runs; }
    crawl::CrawlDisplay& StatusDisplay() override { return display; }
    app::CrawlOutcome RunCrawl(app::CrawlRun& run) override {
        ++crawls;
        if (during_run) during_run();
        if (stop_before_run) run.Stop();
        return run.Run();
    }

    struct MultiCall {
        std::vector<std::string> urls;
        std::string file;
    };
    crawl::PlainCrawlDisplay display;
    std::vector<std::string> entry_initials;
    std::vector<MultiCall> multi_calls;
    std::vector<std::string> condition_urls;
    std::vector<bool> enabled;
    int pending_runs = 0;
    int crawls = 0;
    int edited_classes = 0;
    std::function<void()> during_run;
    bool stop_before_run = false;  // the crawl ends before it fetches anything

    std::deque<std::optional<app::UrlEntry>> entries;
    std::deque<std::optional<std::vector<std::string>>> url_lists;
    std::deque<std::optional<bool>> condition_answers;

  private:
    template <typename T>
    static std::optional<T> Pop(std::deque<std::optional<T>>& list, std::string_view what) {
        if (list.empty()) {
            ADD_FAILURE() << "unanswered dialog: " << what;
            return std::nullopt;
        }
        std::optional<T> answer = list.front();
        list.pop_front();
        return answer;
    }
};

}  // namespace kelvra::testing

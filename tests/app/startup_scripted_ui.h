#pragma once
// A UserInterface for tests: records everything shown and answers from scripted lists. A
// question with no scripted answer fails the test.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/userinterface.h"

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

    std::deque<app::DialogResult> answers;
    std::deque<std::optional<std::string>> texts;
    std::deque<std::optional<std::string>> files;
    std::deque<ScriptedCredentials> credentials;

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

}  // namespace kelvra::testing

// The console user interface: the credential prompt on standard input with its exact texts,
// and message boxes when nobody can answer.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "console/consoleui.h"

namespace kelvra::console {
namespace {

// Standard input from a text, output and errors collected in memory.
class ConsoleIo final {
  public:
    explicit ConsoleIo(const std::string& input) : input_(input) {
        in_ = fmemopen(input_.data(), input_.size(), "r");
        out_ = open_memstream(&out_text_, &out_size_);
        err_ = open_memstream(&err_text_, &err_size_);
    }
    ~ConsoleIo() {
        std::fclose(in_);
        std::fclose(out_);
        std::fclose(err_);
        std::free(out_text_);
        std::free(err_text_);
    }
    ConsoleUserInterface Ui() { return ConsoleUserInterface(in_, out_, err_); }
    std::string Out() {
        std::fflush(out_);
        return std::string(out_text_, out_size_);
    }
    std::string Err() {
        std::fflush(err_);
        return std::string(err_text_, err_size_);
    }

  private:
    std::string input_;
    std::FILE* in_ = nullptr;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    char* out_text_ = nullptr;
    std::size_t out_size_ = 0;
    char* err_text_ = nullptr;
    std::size_t err_size_ = 0;
};

struct CredentialCase {
    std::string input;
    app::CredentialAnswer answer;
    std::string printed_after_prompt;  // what follows "Input authorization code for ...\n"
    std::string user;
    std::string password;
    const char* why;
};

TEST(ConsoleCredentials, PromptTextsAndLimits) {
    const std::string id32(32, 'u');
    const std::string long33(33, 'p');
    const std::vector<CredentialCase> cases = {
        {"alice\nsecret\n", app::CredentialAnswer::kGiven, "User ID : Password : ", "alice",
         "secret", "both given"},
        {"alice  \nsecret \t\n", app::CredentialAnswer::kGiven, "User ID : Password : ", "alice",
         "secret", "trailing blanks removed"},
        {"alice\n\n", app::CredentialAnswer::kGiven, "User ID : Password : ", "alice", "",
         "an empty password is accepted"},
        {"\n", app::CredentialAnswer::kCancelled, "User ID : canceled.\n", "", "",
         "an empty user ID cancels"},
        {"", app::CredentialAnswer::kCancelled, "User ID : canceled.\n", "", "",
         "closed input cancels"},
        {id32 + "\npw\n", app::CredentialAnswer::kGiven, "User ID : Password : ", id32, "pw",
         "32 bytes are accepted"},
        {long33 + "\n", app::CredentialAnswer::kFailed, "User ID : Too long User ID.\n", "", "",
         "33 bytes are too long"},
        {"bob\n" + long33 + "\n", app::CredentialAnswer::kFailed,
         "User ID : Password : Too long passwd.\n", "", "", "a 33-byte password"},
    };
    for (const CredentialCase& row : cases) {
        ConsoleIo io(row.input);
        ConsoleUserInterface ui = io.Ui();
        std::string user = "unset";
        std::string password = "unset";
        const app::CredentialAnswer answer =
            ui.AskCredentials("Basic realm=\"x\" (h/a/)", user, password);
        EXPECT_EQ(answer, row.answer) << row.why;
        EXPECT_EQ(io.Out(), "Input authorization code for Basic realm=\"x\" (h/a/)\n" +
                                row.printed_after_prompt)
            << row.why;
        if (answer == app::CredentialAnswer::kGiven) {
            EXPECT_EQ(user, row.user) << row.why;
            EXPECT_EQ(password, row.password) << row.why;
        } else {
            EXPECT_EQ(user, "unset") << row.why;
        }
    }
}

TEST(ConsoleMessages, WarningsGoToStandardErrorAndTheFirstButtonAnswersWhenNobodyCan) {
    ConsoleIo io("no\n");  // not a terminal: the answer is never read
    ConsoleUserInterface ui = io.Ui();
    EXPECT_EQ(ui.MessageBox("取得ﾛｸﾞが異常です", "履歴情報修復の失敗", app::MessageIcon::kStop,
                            app::MessageButtons::kOk),
              app::DialogResult::kOk);
    EXPECT_EQ(
        ui.MessageBox("text", "question", app::MessageIcon::kNone, app::MessageButtons::kYesNo),
        app::DialogResult::kYes);
    EXPECT_EQ(ui.MessageBox("a\nb", "info", app::MessageIcon::kInformation,
                            app::MessageButtons::kOkCancel),
              app::DialogResult::kOk);
    EXPECT_EQ(io.Err(), "[履歴情報修復の失敗] 取得ﾛｸﾞが異常です\n");
    EXPECT_EQ(io.Out(), "[question] text\n[info] a\nb\n");
}

TEST(ConsoleMessages, FileQuestionsTakeTheDefaultExtension) {
    ConsoleIo io("failed\n");
    ConsoleUserInterface ui = io.Ui();
    app::FileQuestion question;
    question.title = "ﾘﾄﾗｲﾘｽﾄを保存するﾌｧｲﾙ名を入力してください";
    question.filter_text = "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙ (*.rlf)";
    question.default_extension = "rlf";
    question.save = true;
    EXPECT_EQ(ui.ChooseFile(question), "failed.rlf");
    EXPECT_EQ(ui.ChooseFile(question), std::nullopt) << "closed input cancels";
}

TEST(ConsoleMessages, YesNoCancelFoldersClipboardAndPrograms) {
    ConsoleIo io("\n/srv/data\n");
    ConsoleUserInterface ui = io.Ui();
    EXPECT_EQ(ui.AskWithDefault("q", "c", app::MessageIcon::kNone,
                                app::MessageButtons::kYesNoCancel, app::DialogResult::kNo),
              app::DialogResult::kNo)
        << "nobody can answer: the default button";
    EXPECT_EQ(ui.ChooseFolder("folder", "/start"), "/start") << "Enter keeps the start";
    EXPECT_EQ(ui.ChooseFolder("folder", "/start"), "/srv/data");
    EXPECT_EQ(ui.ChooseFolder("folder", "/start"), std::nullopt) << "closed input cancels";
    ui.SetClipboardText("http://h/a\nhttp://h/b");
    EXPECT_EQ(ui.ClipboardText(), "");
    EXPECT_EQ(io.Out(),
              "[c] q\nfolder [/start] : folder [/start] : folder [/start] : "
              "http://h/a\nhttp://h/b\n");
    EXPECT_TRUE(ui.StartProcess({"true"}));
    EXPECT_TRUE(ui.StartProcess({"false"})) << "started, whatever it then reports";
    EXPECT_FALSE(ui.StartProcess({"/nonexistent/program"}));
    EXPECT_FALSE(ui.StartProcess({}));
}

}  // namespace
}  // namespace kelvra::console

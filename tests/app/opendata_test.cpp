// Opening stored data: the program command line, opening as URL and as file, the clipboard,
// the URL information box and the help file.

#include "app/opendata.h"

#include <gtest/gtest.h>

#include "app/stored_site_fixture.h"

namespace kelvra::app {
namespace {

using testing::StoredSiteTest;

TEST(ProgramCommandLine, PlaceholdersBlanksAndTheAppendedFileName) {
    struct Case {
        const char* command;
        std::optional<std::string> file;
        const char* expected;
        const char* why;
    };
    const Case cases[] = {
        {"viewer", "/d/f", "viewer /d/f", "no option text: the file is appended"},
        {"viewer", std::nullopt, "viewer", "nothing to append"},
        {"viewer?-a $URL$", "/d/f", "viewer -a http://h/a", "a blank before stays single"},
        {"viewer?  -x$FILE$-y", "/d/f", "viewer -x /d/f -y", "set off by blanks"},
        {"viewer?$URL$ $FILE$", std::nullopt, "viewer http://h/a", "no file: $FILE$ left out"},
        {"viewer?cost $5 $URL", "/d/f", "viewer cost $5 $URL /d/f", "other $ copied"},
        {"viewer? ", "/d/f", "viewer /d/f", "an empty option text"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildProgramCommandLine(c.command, "http://h/a", c.file), c.expected) << c.why;
    }
    EXPECT_EQ(SplitCommandLine(" \"/opt/my app/run\"  -a \"b c\" \"\""),
              (std::vector<std::string>{"/opt/my app/run", "-a", "b c", ""}));
}

class OpenData : public StoredSiteTest {};

TEST_F(OpenData, FileNamesOfListRowsAndTreeItems) {
    const std::string path = Put("http://h/a.html", "CT:text/html\n", "x");
    EXPECT_EQ(FileNameOfUrl(*core_, {"http://h/a.html", Pane::kList}), path);
    EXPECT_EQ(FileNameOfUrl(*core_, {"http://h/none.html", Pane::kList}), std::nullopt);
    EXPECT_EQ(FileNameOfUrl(*core_, {"http://h:8080/dir/", Pane::kTree}), data_ + "h_8080/dir/");

    CopyUrls(ui_, {"http://h/a.html", "http://h/none.html"});
    EXPECT_EQ(ui_.clipboard, "http://h/a.html\nhttp://h/none.html");
    CopyFileNames(*core_, {{"http://h/a.html", Pane::kList}, {"http://h/none.html", Pane::kList}});
    EXPECT_EQ(ui_.clipboard, path) << "only the URLs that have a file";
}

TEST_F(OpenData, OpenWithProgramStartsOnePerUrlAndStopsAtAFailure) {
    const std::string path = Put("http://h/a.html", "CT:text/html\n", "x");
    LIFOClass applications(kUseApplicationsCapacity);
    const std::vector<SelectedUrl> urls = {{"http://h/a.html", Pane::kList},
                                           {"http://h/b/", Pane::kTree}};
    EXPECT_TRUE(OpenWithProgram(*core_, applications, "\"my viewer\" ? -u $URL$", urls));
    EXPECT_EQ(ui_.started,
              (std::vector<std::vector<std::string>>{{"my viewer", "-u", "http://h/a.html"},
                                                     {"my viewer", "-u", "http://h/b/"}}));
    EXPECT_EQ(*applications.Get(0), "\"my viewer\" ? -u $URL$");

    ui_.started.clear();
    ui_.start_results = {false};
    EXPECT_FALSE(OpenWithProgram(*core_, applications, "viewer", urls));
    EXPECT_EQ(ui_.started, (std::vector<std::vector<std::string>>{{"viewer", path}}));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, "選択したﾌﾟﾛｸﾞﾗﾑが起動できません");
    EXPECT_EQ(ui_.messages[0].caption, "ｱﾌﾟﾘｹｰｼｮﾝ起動ｴﾗｰ");
    EXPECT_EQ(*applications.Get(0), "viewer");
}

TEST_F(OpenData, OpenAsUrlPutsTheServerIntoLocalModeAndRestoresItOnFailure) {
    EXPECT_TRUE(OpenAsUrl(*core_, "*http://h/a.html", false));
    EXPECT_EQ(ui_.opened, (std::vector<std::string>{"http://h/a.html"}));
    EXPECT_EQ(core_->ServerMode(), 1u);

    core_->SetServerMode(0x13, true);
    EXPECT_TRUE(OpenAsUrl(*core_, "http://h/a.html", true));
    EXPECT_EQ(core_->ServerMode(), 0x13u) << "Alt keeps a running server's mode";
    EXPECT_TRUE(OpenAsUrl(*core_, "http://h/a.html", false));
    EXPECT_EQ(core_->ServerMode(), 0x11u) << "the flag bits stay";

    core_->SetServerMode(0, true);
    ui_.open_results = {3};
    EXPECT_FALSE(OpenAsUrl(*core_, "http://h/a.html", true));
    EXPECT_EQ(core_->ServerMode(), 0u) << "Alt without a running server still starts it; "
                                          "the failure stops it again";
    EXPECT_EQ(ui_.statuses.back(), "WWWブラウザ起動エラー(Code=3)");
    EXPECT_EQ(ui_.beeps, (std::vector<Sound>{Sound::kExclamation}));
}

TEST_F(OpenData, OpenAsFileNeedsTheStoredFile) {
    const std::string path = Put("http://h/a.html", "CT:text/html\n", "x");
    Put("http://h/gone.html", "CT:text/html\n", std::nullopt);
    EXPECT_TRUE(OpenAsFile(*core_, "*http://h/a.html"));
    EXPECT_EQ(ui_.opened, (std::vector<std::string>{path}));
    for (const char* url : {"http://h/gone.html", "http://h/none.html"}) {
        EXPECT_FALSE(OpenAsFile(*core_, url));
        EXPECT_EQ(ui_.statuses.back(), "選択されたURLのﾃﾞｰﾀ(ﾌｧｲﾙ)は存在しません") << url;
    }
    ui_.open_results = {4};
    EXPECT_FALSE(OpenAsFile(*core_, "http://h/a.html"));
    EXPECT_EQ(ui_.statuses.back(), "ｱﾌﾟﾘｹｰｼｮﾝ起動ｴﾗｰ(Code=4)");
    EXPECT_EQ(ui_.beeps.size(), 3u);
}

TEST_F(OpenData, UrlInformation) {
    const std::string page = "<title>\xE6\x97\xA5 &amp;</title>";
    const std::string path = Put(
        "http://h/p.html", "CT:text/html\nLM:Sat, 01 Jan 2000 10:20:30 GMT\nXRange:0-9/99\n", page);
    Put("http://h/t.txt", "CT:text/plain\n", "");
    Put("http://h/gone.txt", "CT:text/plain\n", std::nullopt);
    PutCookie("h/#c");
    struct Case {
        const char* url;
        std::string text;
        std::string caption;
        MessageIcon icon;
    };
    const Case cases[] = {
        {"http://h/p.html",
         "http://h/p.html\n\n格納場所 : " + path + "\nﾃﾞｰﾀｻｲｽﾞ : " + std::to_string(page.size()) +
             " byte(s)(取得未完了)\n最終更新 : Sat, 01 Jan 2000 10:20:30 GMT"
             "\nﾃﾞｰﾀ種類 : text/html",
         "\xE6\x97\xA5 &", MessageIcon::kNone},
        {"http://h/t.txt",
         "http://h/t.txt\n\n格納場所 : " + data_ +
             "h/t.txt\nﾃﾞｰﾀｻｲｽﾞ : 0 byte(s)\nﾃﾞｰﾀ種類 : text/plain",
         "text/plain", MessageIcon::kNone},
        {"http://h/gone.txt", "http://h/gone.txt", "ﾃﾞｰﾀﾌｧｲﾙがありません.", MessageIcon::kNone},
        {"http://h/none", "http://h/none", "履歴情報がありません", MessageIcon::kExclamation},
        {"http://h/#c", "#\nname=value\n", "http://h/#c", MessageIcon::kInformation},
    };
    for (const Case& c : cases) {
        const UrlInfo info = ComposeUrlInfo(*core_, c.url);
        EXPECT_EQ(info.text, c.text) << c.url;
        EXPECT_EQ(info.caption, c.caption) << c.url;
        EXPECT_EQ(info.icon, c.icon) << c.url;
    }
}

TEST_F(OpenData, HelpAsksForAFileWhenNoneIsSetOrItCannotBeOpened) {
    core_->Settings().help_file = "";
    ui_.answers = {DialogResult::kYes, DialogResult::kNo};
    ui_.files = {"  /doc/help.html"};
    ui_.open_results = {0};
    EXPECT_TRUE(OpenHelp(*core_));
    EXPECT_EQ(core_->Settings().help_file, "/doc/help.html");
    EXPECT_EQ(ui_.opened, (std::vector<std::string>{"/doc/help.html"}));
    EXPECT_EQ(ui_.messages.at(0).caption, "ﾍﾙﾌﾟﾌｧｲﾙの設定");

    ui_.open_results = {1};
    EXPECT_FALSE(OpenHelp(*core_)) << "No ends";
    EXPECT_EQ(ui_.messages.size(), 2u);
}

TEST_F(OpenData, UseApplicationsRoundTrip) {
    LIFOClass saved(kUseApplicationsCapacity);
    saved.Add("b ? $FILE$");
    saved.Add("a");
    ASSERT_TRUE(SaveUseApplications(saved, IniPath()));
    LIFOClass loaded(kUseApplicationsCapacity);
    LoadUseApplications(loaded, IniPath());
    ASSERT_EQ(loaded.Count(), 2u);
    EXPECT_EQ(*loaded.Get(0), "a");
    EXPECT_EQ(*loaded.Get(1), "b ? $FILE$");
}

}  // namespace
}  // namespace kelvra::app

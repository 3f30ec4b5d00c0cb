// Retry list file, progress log, finish report and the dial-up stand-in.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "crawl/dialup.h"
#include "crawl/finishreport.h"
#include "crawl/progresslog.h"
#include "crawl/retrylistfile.h"
#include "recording_display.h"
#include "util/tempdir.h"

namespace kelvra::crawl {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

RetryListData SampleList() {
    RetryListData data;
    RetryRulesBlock block;
    block.accept = {"h/dir/", "!h/dir/private/"};
    block.filters = {{0, ".(zip|gz)$"}, {15, ".cgi"}};
    block.extra_header = "  X-One: 1\r\n\tX-Two: 2\n";
    data.rules.push_back(block);
    RetryRulesBlock second;
    second.accept = {"other/"};
    data.rules.push_back(second);
    data.known = {{"h", -1}, {"h/dir/a.html", 0}, {"h/robots.txt", 1}};
    data.failed = {{"http://h/dir/a.html", "h/dir/", 3, 1, 0x40002004u, -1},
                   {"http://h/x?q=1", "", 0, 0, 0x80002001u, 2}};
    return data;
}

TEST(RetryListFile, WritesTheDocumentedLayout) {
    EXPECT_EQ(FormatRetryList(SampleList()),
              "[RetryListFile.Rev.1a]\n"
              "h/dir/\n!h/dir/private/\n\n"
              "0:.(zip|gz)$ f:.cgi \n"
              "X-One: 1\nX-Two: 2\n\n"
              "other/\n\n\n\n"
              "\n"
              "h\t-1\nh/dir/a.html\nh/robots.txt\t1\n"
              "\n"
              "http://h/dir/a.html\nh/dir/\n0003 0001 4000 2004 ffff\n"
              "http://h/x?q=1\n\n0000 0000 8000 2001 0002\n");
}

TEST(RetryListFile, ReadBackReproducesRulesFlagsAndMarks) {
    kelvra::testing::TempDir dir;
    std::string path = dir.Path("list.rlf");
    ASSERT_EQ(WriteRetryListFile(path, SampleList()), 2);
    RetryListData read;
    ASSERT_EQ(ReadRetryListFile(path, read), 2);
    ASSERT_EQ(read.rules.size(), 2u);
    EXPECT_EQ(read.rules[0].accept, (std::vector<std::string>{"h/dir/", "!h/dir/private/"}));
    EXPECT_EQ(read.rules[0].filter_text, "0:.(zip|gz)$\nf:.cgi");
    EXPECT_EQ(read.rules[0].extra_header, "X-One: 1\nX-Two: 2");
    EXPECT_EQ(read.rules[1].accept, std::vector<std::string>{"other/"});
    EXPECT_EQ(read.rules[1].filter_text, "");
    ASSERT_EQ(read.known.size(), 3u);
    EXPECT_EQ(read.known[0].path, "h");
    EXPECT_EQ(read.known[0].mark, -1);  // decimal -1 read as hexadecimal is still -1
    EXPECT_EQ(read.known[1].mark, 0);
    EXPECT_EQ(read.known[2].mark, 1);
    ASSERT_EQ(read.failed.size(), 2u);
    EXPECT_EQ(read.failed[0].url, "http://h/dir/a.html");
    EXPECT_EQ(read.failed[0].referrer, "h/dir/");
    EXPECT_EQ(read.failed[0].depth, 3);
    EXPECT_EQ(read.failed[0].rules_index, 1);
    EXPECT_EQ(read.failed[0].flags, 0x40002004u);
    EXPECT_EQ(read.failed[0].trace, -1);
    EXPECT_EQ(read.failed[1].flags, 0x80002001u);
    EXPECT_EQ(read.failed[1].referrer, "");
    EXPECT_EQ(read.failed[1].trace, 2);
}

TEST(RetryListFile, OtherFilesAreRefusedAndLeaveTheDataAlone) {
    kelvra::testing::TempDir dir;
    std::string path = dir.Path("x.rlf");
    std::ofstream(path) << "[RetryListFile.Rev.1b]\n\n\n";
    RetryListData data = SampleList();
    EXPECT_EQ(ReadRetryListFile(path, data), -1);
    EXPECT_EQ(data.failed.size(), 2u);
    EXPECT_EQ(ReadRetryListFile(dir.Path("missing.rlf"), data), -1);
}

TEST(RetryListFile, TrailingBlanksAndCarriageReturnsAreIgnored) {
    RetryListData data;
    ASSERT_TRUE(
        ParseRetryList("[RetryListFile.Rev.1a]  \r\nh/ \r\n\r\n0:a 1:b \r\n\r\n\r\nh/a\r\n\r\n"
                       "http://h/a \r\n\r\n0001 0000 0000 2000 0000\r\n",
                       data));
    ASSERT_EQ(data.rules.size(), 1u);
    EXPECT_EQ(data.rules[0].accept[0], "h/");
    EXPECT_EQ(data.rules[0].filter_text, "0:a\n1:b");
    ASSERT_EQ(data.failed.size(), 1u);
    EXPECT_EQ(data.failed[0].url, "http://h/a");
    EXPECT_EQ(data.failed[0].flags, 0x2000u);
}

TEST(RetryListFile, UnwritablePathGivesMinusOne) {
    EXPECT_EQ(WriteRetryListFile("/nonexistent-dir/x.rlf", SampleList()), -1);
}

TEST(ProgressLogFile, NameHeaderAndLines) {
    kelvra::testing::TempDir dir;
    EXPECT_EQ(ProgressLog::FileName(1000000000, "prog.csv"), "1000000000_prog.csv");
    ProgressLog log;
    ASSERT_TRUE(log.Open(dir.Path() + "/", "prog.csv", 1000000000));
    log.LogStatus(0, 1000000005, "http://h/a", "Success");
    log.LogStatus(2, 1000000006, "http://h/b", "   ");  // blank: no line
    log.LogStatus(1, 1000000007, "http://h/c", "OnHold");
    // Each line is flushed at once: readable while the log is still open.
    EXPECT_EQ(ReadAll(dir.Path("1000000000_prog.csv")),
              "ThreadNo, time(), URL, Status\n"
              "0, 1000000005, http://h/a, Success\n"
              "1, 1000000007, http://h/c, OnHold\n");
    log.Close();
    EXPECT_FALSE(log.IsOpen());
}

TEST(ProgressLogFile, UncreatableLogStaysOff) {
    ProgressLog log;
    EXPECT_FALSE(log.Open("/nonexistent-dir/", "p.csv", 1));
    log.LogStatus(0, 1, "u", "Success");  // no effect, no crash
    EXPECT_FALSE(log.IsOpen());
}

class FakeDialUp final : public DialUpService {
  public:
    bool Enumerate(std::vector<std::string>& list) override {
        list = connections;
        return !connections.empty() && connections.size() <= kMaxConnections;
    }
    bool HangUp(const std::string& c) override {
        hung.push_back(c);
        return c != "bad";
    }
    std::vector<std::string> connections, hung;
};

TEST(DialUp, LinuxStandInListsNothingAndReportsFalse) {
    NoDialUpService none;
    EXPECT_FALSE(HangUpAll(none, std::chrono::milliseconds(0)));
}

TEST(DialUp, EveryConnectionIsHungUpAndOneFailureMakesItFalse) {
    FakeDialUp service;
    service.connections = {"a", "bad", "c"};
    EXPECT_FALSE(HangUpAll(service, std::chrono::milliseconds(0)));
    EXPECT_EQ(service.hung, (std::vector<std::string>{"a", "bad", "c"}));
    service.connections = {"a"};
    service.hung.clear();
    EXPECT_TRUE(HangUpAll(service, std::chrono::milliseconds(0)));
    service.connections.assign(11, "x");  // does not fit: nothing is hung up
    service.hung.clear();
    EXPECT_FALSE(HangUpAll(service, std::chrono::milliseconds(0)));
    EXPECT_TRUE(service.hung.empty());
}

struct ReportFixture : ::testing::Test {
    testing::RecordingDisplay display;
    NoDialUpService dial_up;
    std::vector<std::string> requeued;
    std::vector<std::string> written;
    int write_result = 2;
    FinishReportActions actions{[this](const std::string& url) { requeued.push_back(url); },
                                [this](const std::string& path) {
                                    written.push_back(path);
                                    return write_result;
                                }};
};

TEST_F(ReportFixture, NothingFetchedAndNothingFailed) {
    EXPECT_FALSE(FinishReport(display, dial_up, {}, 0, actions));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "全く取得できません\nURLを確認してください");
    EXPECT_EQ(display.messages[0].caption, "取得ｴﾗｰ");
    EXPECT_EQ(display.messages[0].icon, MessageIcon::kError);
    EXPECT_EQ(display.captions.back(), "取得状況ﾀﾞｲｱﾛｸﾞ");
}

TEST_F(ReportFixture, CompletedCrawl) {
    EXPECT_FALSE(FinishReport(display, dial_up, {}, 5, actions));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "取得作業が完了しました");
    EXPECT_EQ(display.messages[0].caption, "終了報告");
    EXPECT_EQ(display.messages[0].icon, MessageIcon::kInformation);
}

TEST_F(ReportFixture, ChosenUrlsAreQueuedAgain) {
    display.confirm_choice = true;
    display.choose = {1};
    EXPECT_TRUE(FinishReport(display, dial_up, {"http://a/", "http://b/"}, 3, actions));
    EXPECT_EQ(display.offered, (std::vector<std::string>{"http://a/", "http://b/"}));
    EXPECT_EQ(requeued, std::vector<std::string>{"http://b/"});
    EXPECT_TRUE(written.empty());
}

TEST_F(ReportFixture, ConfirmingWithNothingChosenDoesNotContinue) {
    display.confirm_choice = true;
    EXPECT_FALSE(FinishReport(display, dial_up, {"http://a/"}, 3, actions));
    EXPECT_TRUE(requeued.empty());
}

TEST_F(ReportFixture, CancelledChoiceSavesTheRetryList) {
    display.save_path = "/tmp/x.rlf";
    EXPECT_FALSE(FinishReport(display, dial_up, {"http://a/"}, 3, actions));
    EXPECT_EQ(display.save_request.filter_name, "ﾘﾄﾗｲﾘｽﾄﾌｧｲﾙ (*.rlf)");
    EXPECT_EQ(display.save_request.pattern, "*.rlf");
    EXPECT_EQ(display.save_request.title, "ﾘﾄﾗｲﾘｽﾄを保存するﾌｧｲﾙ名を入力してください");
    EXPECT_EQ(display.save_request.default_extension, "rlf");
    EXPECT_EQ(written, std::vector<std::string>{"/tmp/x.rlf"});
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "ﾘﾄﾗｲﾘｽﾄを保存しました");
    EXPECT_EQ(display.messages[0].caption, "/tmp/x.rlf");
}

TEST_F(ReportFixture, AFailedSaveIsReported) {
    display.save_path = "/tmp/x.rlf";
    write_result = 0;
    FinishReport(display, dial_up, {"http://a/"}, 3, actions);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "ﾘﾄﾗｲﾘｽﾄが保存出来ません");
    EXPECT_EQ(display.messages[0].icon, MessageIcon::kError);
}

TEST_F(ReportFixture, AutoHangUpShowsItsTextsFirst) {
    display.auto_hang_up = true;
    FinishReport(display, dial_up, {}, 1, actions);
    EXPECT_EQ(display.captions, (std::vector<std::string>{"ただいま回線切断中....", "回線切断完了",
                                                          "取得状況ﾀﾞｲｱﾛｸﾞ"}));
}

}  // namespace
}  // namespace kelvra::crawl

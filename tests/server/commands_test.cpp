// Server commands over the wire, client access levels, the prohibit list in the service loop,
// and confinement of every request to the data directory.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>

#include "server/answers.h"
#include "server_fixture.h"
#include "support/test_origin.h"

namespace kelvra::server::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestOrigin;

class CommandsTest : public ServerTest {
  protected:
    std::string Own() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Self(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
};

TEST_F(CommandsTest, ModeCommandSwitchesEveryLaterConnection) {
    TestOrigin origin({Reply().Send(HttpResponse("HTTP/1.0 200 OK", "relayed"))});
    Start(kModeLocal | kUseSpoolAlways);
    EXPECT_EQ(Ask("GET /mode=*3 HTTP/1.0\r\n\r\n"), CommandAcceptedPage(Own(), ""));
    EXPECT_EQ(monitor_.Modes(), (std::vector<std::uint32_t>{kModeProxy2 | kUseSpoolAlways}));
    EXPECT_EQ(server_->GetMode(), kModeProxy2 | kUseSpoolAlways);
    EXPECT_EQ(Curl(port_, origin.Url("/x")), "relayed");
}

TEST_F(CommandsTest, ModeCommandWithUrlRedirects) {
    Start(kModeProxy2);
    EXPECT_EQ(Ask("GET " + Self("/mode=*1?http://h/") + " HTTP/1.0\r\n\r\n"),
              RedirectPage("http://h/"));
    EXPECT_EQ(server_->GetMode(), kModeLocal);
}

TEST_F(CommandsTest, GetAndProxySettingReachTheApplication) {
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET " + Self("/get?http://h/a") + " HTTP/1.0\r\n\r\n"),
              CommandAcceptedPage(Own(), "http://h/a"));
    EXPECT_EQ(monitor_.Acquired(), (std::vector<std::string>{"http://h/a"}));
    EXPECT_EQ(Ask("GET /proxysetting?http://h/ HTTP/1.0\r\n\r\n"),
              CommandAcceptedPage(Own(), "http://h/"));
    EXPECT_EQ(monitor_.ProxySettings(), 1);
    EXPECT_EQ(Ask("GET /reload?http://h/b HTTP/1.0\r\n\r\n"), RedirectPage("http://h/b"));
}

TEST_F(CommandsTest, LevelOneClientGetsTheRefusedPage) {
    Start(kModeLocal, {{1, ::inet_addr("127.0.0.1"), 0xFFFFFFFF}});
    EXPECT_EQ(Ask("GET " + Self("/get?http://h/") + " HTTP/1.0\r\n\r\n"),
              CommandRefusedPage(Own(), ""));
    EXPECT_TRUE(monitor_.Acquired().empty());
    // proxy requests are still served
    EXPECT_NE(Ask("GET http://h/none HTTP/1.0\r\n\r\n").find("Object Not Found"),
              std::string::npos);
}

TEST_F(CommandsTest, LevelZeroClientIsClosedAtOnce) {
    Start(kModeLocal, {{0, ::inet_addr("127.0.0.1"), 0xFFFFFFFF}});
    EXPECT_EQ(Ask("GET http://h/ HTTP/1.0\r\n\r\n"), "");
    EXPECT_TRUE(monitor_.WaitForText(kColumnRequest, "Denied by filter"));
}

TEST_F(CommandsTest, AccessFileEntriesApply) {
    WriteFileText(dir_.Path("access.orv"), "1:192.168.1.0/255.255.255.0\n0:!10.0.0.0/255.0.0.0\n");
    const auto table = LoadClientAccessTable(dir_.Path("access.orv"));
    ASSERT_TRUE(table);
    EXPECT_EQ(net::ClientAccessLevel(*table, ::inet_addr("192.168.1.7")), 1);
    EXPECT_EQ(net::ClientAccessLevel(*table, ::inet_addr("10.1.2.3")), 0);
    // outside 10.x: the negated entry applies, also to loopback
    EXPECT_EQ(net::ClientAccessLevel(*table, ::inet_addr("127.0.0.1")), 0);
    EXPECT_FALSE(LoadClientAccessTable(dir_.Path("missing.orv")));
}

TEST_F(CommandsTest, ReloadQuestionForStoredHtmlInLocalMode) {
    settings_.reload_page = true;
    Put("http://h/r.html", "CT:text/html\n", "page");
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://h/r.html HTTP/1.0\r\nPragma: no-cache\r\n\r\n"),
              ReloadQuestionPage(Own(), "http://h/r.html"));
    // without the reload the page itself
    EXPECT_NE(Ask("GET http://h/r.html HTTP/1.0\r\n\r\n").find("page"), std::string::npos);
}

class ProhibitServeTest : public CommandsTest {
  protected:
    void SetUp() override {
        CommandsTest::SetUp();
        WriteFileText(dir_.Path("prohibit.orv"),
                      "ads;.gif\n"
                      ".exe :404\n"
                      "moved http://elsewhere/\n"
                      "answerfile blocked.txt\n"
                      "cgi-bin *nsv\n"
                      "slowhost $300\n"
                      "\\(oldhost\\)/old/ http://\\1/new/\n");
        WriteFileText(dir_.Path("blocked.txt"), "blocked");
    }
};

TEST_F(ProhibitServeTest, RefusalsRedirectsAndAnswerFiles) {
    Start(kModeLocal);
    EXPECT_EQ(Ask("GET http://ads.example/b.gif HTTP/1.0\r\n\r\n"), ProhibitedPage("200"));
    EXPECT_EQ(Ask("GET http://h/setup.exe HTTP/1.0\r\n\r\n"), ProhibitedPage("404"));
    EXPECT_EQ(Ask("GET http://h/moved HTTP/1.0\r\n\r\n"), RedirectPage("http://elsewhere/"));
    EXPECT_EQ(Ask("GET http://h/answerfile HTTP/1.0\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-type: text/plain\r\nContent-length: 7\r\n\r\nblocked");
}

TEST_F(ProhibitServeTest, RewriteServesTheNewTarget) {
    Put("http://oldhost/new/index.html", "CT:text/html\n", "new place");
    Start(kModeLocal);
    EXPECT_NE(Ask("GET http://oldhost/old/x.html HTTP/1.0\r\n\r\n").find("new place"),
              std::string::npos);
}

TEST_F(ProhibitServeTest, NoStoreEntryRelaysWithoutStoring) {
    TestOrigin origin([](const kelvra::test::Request&) {
        return Reply().Send(HttpResponse("HTTP/1.0 200 OK", "dynamic"));
    });
    Start(kModeProxy2);
    // read up to the close: a commit would follow the last byte to the browser
    EXPECT_NE(Ask("GET " + origin.Url("/cgi-bin/q") + " HTTP/1.0\r\n\r\n").find("dynamic"),
              std::string::npos);
    EXPECT_EQ(store_->FindRecord(origin.Url("/cgi-bin/q")), nullptr);
    EXPECT_NE(Ask("GET " + origin.Url("/plain") + " HTTP/1.0\r\n\r\n").find("dynamic"),
              std::string::npos);
    EXPECT_NE(store_->FindRecord(origin.Url("/plain")), nullptr);
}

TEST_F(ProhibitServeTest, DelayThenServe) {
    Put("http://slowhost/", "CT:text/html\n", "slow");
    Start(kModeLocal);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_NE(Ask("GET http://slowhost/ HTTP/1.0\r\n\r\n").find("slow"), std::string::npos);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
}

class ConfinementTest : public CommandsTest {
  protected:
    void SetUp() override {
        CommandsTest::SetUp();
        outside_ = std::make_unique<kelvra::testing::TempDir>();
        WriteFileText(outside_->Path("secret.txt"), "SECRET");
        for (const char* own : {"kelvra.hif", "kelvra.log", "kelvra.log.tmp", "kelvraw.cf",
                                "kelvra.mcf", "access.orv", "kelvraw.bm", "retry.rlf",
                                "progress.csv", "h/$AuthCode$", "h/list.rlf"}) {
            WriteFileText(dir_.Path(own), "SECRET");
        }
        WriteFileText(dir_.Path("prohibit.orv"), "# SECRET\n");
        std::filesystem::create_directories(dir_.Path("h"));
        std::filesystem::create_symlink(outside_->Path("secret.txt"), dir_.Path("h/link.txt"));
        settings_.progress_log = "progress.csv";
    }
    std::unique_ptr<kelvra::testing::TempDir> outside_;
};

TEST_F(ConfinementTest, NoRequestReadsOutsideOrAProgramFile) {
    const std::string escaped_outside = outside_->Path("secret.txt");
    const std::vector<std::string> targets = {
        "http://kelvra.hif",
        "http://kelvra.log",
        "http://kelvra.log.tmp",
        "http://kelvraw.cf",
        "http://kelvra.mcf",
        "http://access.orv",
        "http://prohibit.orv",
        "http://kelvraw.bm",
        "http://retry.rlf",
        "http://progress.csv",
        "http://h/$AuthCode$",
        "http://h/%24AuthCode%24",
        "http://h/list.rlf",
        "http://h/link.txt",
        "http://h/../../../../../../.." + escaped_outside,
        "http://h/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e" + escaped_outside,
        "http://h/..%2f..%2f..%2f..%2f..%2f..%2f.." + escaped_outside,
        "http://h\\..\\..\\..\\..\\..\\..\\.." + escaped_outside,
        "http://../../../../../../.." + escaped_outside,
        "/" + escaped_outside,
        "http:///" + escaped_outside,
        "http://h/./../kelvra.hif",
        "http://H/../kelvra.hif",
        "http://h//../kelvra.hif",
        "http://h/x/..%5c..%5ckelvra.hif"};
    Start(kModeLocal);
    for (const std::string& target : targets) {
        const std::string answer = Ask("GET " + target + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(answer.find("SECRET"), std::string::npos) << target << "\n" << answer;
        EXPECT_EQ(answer.rfind("HTTP/1.0 200", 0), std::string::npos) << target << "\n" << answer;
    }
    // NUL bytes inside the target
    const std::string nul = std::string("GET http://h/\0/../../kelvra.hif HTTP/1.0\r\n\r\n", 44);
    EXPECT_EQ(Ask(nul).find("SECRET"), std::string::npos);
}

}  // namespace
}  // namespace kelvra::server::testing

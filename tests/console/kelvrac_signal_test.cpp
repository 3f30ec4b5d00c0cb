// kelvrac get interrupted: SIGINT once (the running transaction finishes, the rest are listed
// as failed), twice (abort, which ends the process even while a plug-in never returns), and
// SIGKILL, after which the next start repairs the store from the journal so that no committed
// record is lost.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <utility>

#include "kelvrac_fixture.h"
#include "support/test_origin.h"

namespace kelvra::testing {
namespace {

using test::HttpResponse;
using test::Reply;
using test::Request;
using test::TestOrigin;

// Holds the answer to /slow.html until released (or a time-out, so a failing test ends).
class Gate final {
  public:
    void Release() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// A site of five pages; the third is slow. With one connection they are fetched in order.
class SlowSite final {
  public:
    SlowSite() : origin_([this](const Request& request) { return Answer(request); }) {}
    ~SlowSite() { gate_.Release(); }

    std::string Url(const std::string& path) const { return origin_.Url(path); }
    std::string Key(const std::string& path) const { return origin_.HostPort() + path; }
    std::string HostDirectory() const {
        return "127.0.0.1_" + std::to_string(origin_.Port()) + "/";
    }
    Gate& gate() { return gate_; }

    // Waits until the slow page was asked for.
    bool WaitForSlowRequest() {
        for (std::size_t seen = 1; seen < 20; ++seen) {
            if (!origin_.WaitForRequests(seen, 30000)) return false;
            for (const Request& request : origin_.Requests()) {
                if (request.RequestLine().find("/slow.html") != std::string_view::npos) return true;
            }
        }
        return false;
    }

  private:
    Reply Answer(const Request& request) {
        const std::string_view line = request.RequestLine();
        if (line.find("/robots.txt") != std::string_view::npos) {
            return Reply().Send(HttpResponse("HTTP/1.1 404 Not Found", "")).Close();
        }
        if (line.find(" / ") != std::string_view::npos) {
            return Page(
                "<a href=\"a.html\">a</a> <a href=\"b.html\">b</a> "
                "<a href=\"slow.html\">slow</a> <a href=\"c.html\">c</a> "
                "<a href=\"d.html\">d</a>");
        }
        if (line.find("/slow.html") != std::string_view::npos) gate_.Pass();
        return Page("a page");
    }
    static Reply Page(const std::string& body) {
        return Reply()
            .Send(HttpResponse("HTTP/1.1 200 OK", body, "Content-Type: text/html\r\n"))
            .Close();
    }

    Gate gate_;
    TestOrigin origin_;
};

class KelvracSignals : public KelvracTest {};

TEST_F(KelvracSignals, FirstInterruptLetsTheRunningFetchFinishAndListsTheRestAsFailed) {
    SlowSite site;
    const std::string list = dir_.Path("rest.rlf");
    auto child = Start({"get", "-r", list, site.Url("/")});
    ASSERT_TRUE(site.WaitForSlowRequest());
    child->Signal(SIGINT);
    ASSERT_TRUE(child->WaitForOutput("ただいまｽﾚｯﾄﾞ終了待機中....\n", 30000)) << child->Out();
    site.gate().Release();
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1) << child->Out() << child->Err();

    EXPECT_EQ(Data(site.HostDirectory() + "slow.html"), "a page") << "the running fetch finished";
    const std::string hif = Data("kelvra.hif");
    EXPECT_NE(hif.find(site.Key("/slow.html") + "\n"), std::string::npos) << "saved at the end";
    EXPECT_NE(hif.find(site.Key("/b.html") + "\n"), std::string::npos);
    EXPECT_EQ(hif.find(site.Key("/c.html") + "\n"), std::string::npos);
    const std::string rest = ReadWhole(list);
    EXPECT_NE(rest.find(site.Url("/c.html") + "\n"), std::string::npos) << rest;
    EXPECT_NE(rest.find(site.Url("/d.html") + "\n"), std::string::npos) << rest;
    EXPECT_FALSE(DataExists(site.HostDirectory() + "c.html"));
}

TEST_F(KelvracSignals, SecondInterruptAbortsTheRunningFetch) {
    SlowSite site;
    const std::string list = dir_.Path("rest.rlf");
    auto child = Start({"get", "-r", list, site.Url("/")});
    ASSERT_TRUE(site.WaitForSlowRequest());
    child->Signal(SIGINT);
    ASSERT_TRUE(child->WaitForOutput("ただいまｽﾚｯﾄﾞ終了待機中....\n", 30000)) << child->Out();
    child->Signal(SIGINT);
    // The slow page is never answered: only the abort ends the process.
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1) << child->Out() << child->Err();
    site.gate().Release();

    EXPECT_NE(Data("kelvra.hif").find(site.Key("/b.html") + "\n"), std::string::npos);
    EXPECT_FALSE(DataExists(site.HostDirectory() + "slow.html"));
    EXPECT_NE(ReadWhole(list).find(site.Url("/slow.html") + "\n"), std::string::npos)
        << ReadWhole(list);
}

class KelvracAbort : public KelvracTest, public ::testing::WithParamInterface<int> {};

TEST_P(KelvracAbort, EndsTheProcessWithTheStoreSavedWhileThePluginNeverReturns) {
    TestOrigin origin([](const Request& request) {
        const std::string_view line = request.RequestLine();
        if (line.find("/robots.txt") != std::string_view::npos) {
            return Reply().Send(HttpResponse("HTTP/1.1 404 Not Found", "")).Close();
        }
        const bool movie = line.find("/m.swf") != std::string_view::npos;
        return Reply()
            .Send(HttpResponse("HTTP/1.1 200 OK", movie ? "FWS" : "<a href=\"m.swf\">m</a>",
                               movie ? "Content-Type: application/x-shockwave-flash\r\n"
                                     : "Content-Type: text/html\r\n"))
            .Close();
    });
    // A copy of the program with the stuck plug-in beside it, where it looks first.
    const std::string bin = dir_.Path("bin") + "/";
    ASSERT_EQ(::mkdir(bin.c_str(), 0755), 0);
    for (const auto& [from, to] :
         {std::pair{"kelvrac", "kelvrac"}, std::pair{"kelvra.mtf", "kelvra.mtf"},
          std::pair{"libstuck_florrin.so", "libflorrin.so"}}) {
        std::ofstream(bin + to, std::ios::binary) << ReadWhole(BinDirectory() + "/" + from);
    }
    ASSERT_EQ(::chmod((bin + "kelvrac").c_str(), 0755), 0);

    auto child = Start({"get", origin.Url("/")}, bin + "kelvrac");
    ASSERT_TRUE(child->WaitForOutput("Investigating: " + origin.Url("/m.swf"), 30000))
        << child->Out();
    child->Signal(GetParam());
    ASSERT_TRUE(child->WaitForOutput("ただいまｽﾚｯﾄﾞ終了待機中....\n", 30000)) << child->Out();
    child->Signal(GetParam());
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1) << child->Out() << child->Err();
    const std::string hif = Data("kelvra.hif");
    for (const char* path : {"/", "/m.swf"}) {
        EXPECT_NE(hif.find(origin.HostPort() + path + "\n"), std::string::npos) << path << hif;
    }
}

INSTANTIATE_TEST_SUITE_P(SecondSignal, KelvracAbort, ::testing::Values(SIGINT, SIGTERM));

TEST_F(KelvracSignals, AKilledCrawlLosesNoCommittedRecord) {
    SlowSite site;
    {
        auto child = Start({"get", site.Url("/")});
        ASSERT_TRUE(site.WaitForSlowRequest());
        child->Signal(SIGKILL);
        EXPECT_EQ(child->Wait(kRunTimeoutMs), 128 + SIGKILL);
    }
    site.gate().Release();
    ASSERT_TRUE(DataExists("kelvra.log.tmp")) << "the journal of the killed run";
    ASSERT_FALSE(DataExists("kelvra.hif")) << "the killed run saved nothing";

    // Any later start repairs; this one fetches nothing (nothing listens on port 1).
    std::string out;
    std::string err;
    EXPECT_EQ(Run({"get", "http://127.0.0.1:1/"}, &out, &err), 1);
    EXPECT_NE(err.find("[前回ﾌﾟﾛｸﾞﾗﾑが異常終了した可能性があります] "
                       "履歴情報が不足していると思われるため\n"
                       "前回の取得ﾛｸﾞより履歴情報を補います\n"),
              std::string::npos)
        << err;
    const std::string hif = Data("kelvra.hif");
    for (const char* path : {"/", "/a.html", "/b.html"}) {
        EXPECT_NE(hif.find(site.Key(path) + "\n"), std::string::npos) << path << "\n" << hif;
    }
    EXPECT_FALSE(DataExists("kelvra.log.tmp"));
    EXPECT_TRUE(DataExists("kelvra.log"));

    // The repaired records are the store's now: the next start has nothing to repair.
    EXPECT_EQ(Run({"get", "http://127.0.0.1:1/"}, &out, &err), 1);
    EXPECT_EQ(err.find("前回ﾌﾟﾛｸﾞﾗﾑが異常終了"), std::string::npos) << err;
}

}  // namespace
}  // namespace kelvra::testing

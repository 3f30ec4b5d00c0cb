// What goes on the wire: request lines and headers, keep-alive values, per-server limits, and
// the bounds on misbehaving servers.
#include <atomic>
#include <condition_variable>
#include <thread>

#include "crawl_fixture.h"
#include "support/ftp_server.h"

namespace kelvra::crawl::testing {
namespace {

using kelvra::test::Connection;
using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::Request;
using kelvra::test::TestCertificate;
using kelvra::test::TestOrigin;
using Names = std::vector<std::string>;

std::string KeptHtml(std::string_view body) {
    return Html(body, "Connection: Keep-Alive\r\n");
}

TEST_F(CrawlFixture, RefererAndHttp10FromTheLimitTable) {
    Site site;
    site.Page("/d/p.html?q=1", Html("<a href=\"x.html\">x</a>"));
    site.Page("/d/x.html", Html("x"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("127.0.0.1 0/1/10\n");
    NewCrawl();
    Start(origin.Url("/d/p.html?q=1"), kPlainFlags);
    RunCrawl();
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), 2u);
    std::string host = "Host: 127.0.0.1:" + std::to_string(origin.Port()) + "\r\n";
    EXPECT_EQ(requests[1].bytes, "GET /d/x.html HTTP/1.0\r\n" + host +
                                     "User-Agent: Tamble-Kelvra/5.3.0TR7 (Win32; GUI; ix86)\r\n"
                                     "Accept: */*\r\n"
                                     "Referer: " +
                                     origin.Url("/d/p.html") + "\r\n\r\n");
}

TEST_F(CrawlFixture, PostAnnouncesItsFormData) {
    std::vector<Reply> replies = {Reply().Send(Html("ok"))};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    Start("*" + origin.Url("/f.cgi?a=1&b=2"), kPlainFlags);
    RunCrawl();
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "POST /f.cgi HTTP/1.1");
    EXPECT_NE(requests[0].bytes.find("Content-length: 7\r\n"), std::string::npos);
    EXPECT_EQ(requests[0].Body(), "a=1&b=2");
}

TEST_F(CrawlFixture, ExtraHeaderOfTheCrawlGoesWithEveryRequest) {
    std::vector<Reply> replies = {Reply().Send(Html("ok"))};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    store::CrawlRequest request;
    request.urls = {origin.Url("/")};
    request.flags = kPlainFlags;
    request.extra_header = "X-Test: 1\nX-Other: two";
    crawl->AddStartUrl(request);
    RunCrawl();
    ASSERT_EQ(PageRequests(origin).size(), 1u);
    EXPECT_NE(PageRequests(origin)[0].bytes.find("X-Test: 1\r\nX-Other: two\r\n\r\n"),
              std::string::npos);
}

// Two pages on one host, the first linking to the second.
class KeepAliveTest : public CrawlFixture {
  protected:
    void CrawlTwo(const std::string& mcf, TestOrigin& origin) {
        ClearStatuses();
        {
            std::lock_guard lock(display.mutex);
            display.lines.clear();
        }
        WriteMcf(mcf);
        NewCrawl();
        Start(origin.Url("/"), kPlainFlags);
        RunCrawl();
    }
};

TEST_F(KeepAliveTest, ZeroAsksNoKeepAliveAndUsesAConnectionPerRequest) {
    Site site;
    site.Page("/", KeptHtml("<a href=\"b.html\">b</a>"));
    site.Page("/b.html", KeptHtml("b"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    CrawlTwo("* 0/1/11\n", origin);
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes.find("Connection:"), std::string::npos);
    EXPECT_EQ(origin.Connections(), 3);  // robots.txt, the page, its link
}

TEST_F(KeepAliveTest, OneSendsTheNextRequestOnTheKeptConnection) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        Site site;
        site.Page("/", KeptHtml("<a href=\"b.html\">b</a>"));
        site.Page("/b.html", KeptHtml("<a href=\"c.html\">c</a>"));
        site.Page("/c.html", KeptHtml("c"));
        TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
        if (tls) origin.UseTls(TestCertificate::kGood);
        CrawlTwo("* 1/1/11\n", origin);
        auto requests = PageRequests(origin);
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_NE(requests[0].bytes.find("Connection: Keep-Alive\r\n"), std::string::npos);
        EXPECT_EQ(requests[2].tls, tls);
        EXPECT_EQ(origin.Connections(), 1);
        EXPECT_EQ(StatusNames(), (Names{"Success", "Success", "Success"}));
        EXPECT_EQ(LocalFile(origin.Url("/c.html")), "c");
        // The slot line marks a request that went out on an open connection.
        Names lines = display.Lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "(No.0)" + origin.Url("/robots.txt") + " [1]");
        EXPECT_EQ(lines[1].rfind("(No.0)+" + origin.Url("/"), 0), 0u);
        EXPECT_EQ(lines[2].rfind("(No.0)+" + origin.Url(""), 0), 0u);
    }
}

TEST_F(KeepAliveTest, TwoPipelinesTheNextRequestBeforeTheBody) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        // The first answer's body is held back until the second request has arrived: only a
        // pipelining client gets it.
        std::atomic<bool> pipelined{false};
        TestOrigin origin([&pipelined](Connection& c) {
            std::string request;
            if (!c.ReadRequest(request)) return;
            if (IsRobots(request)) {
                c.Send(
                    HttpResponse("HTTP/1.1 404 Not Found", "none", "Connection: Keep-Alive\r\n"));
                if (!c.ReadRequest(request)) return;
            }
            if (request.find("GET / ") == 0) {
                std::string page = "<a href=\"b.html\">b</a><a href=\"c.html\">c</a>";
                c.Send(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: Keep-Alive\r\n"
                    "Content-Length: " +
                    std::to_string(page.size()) + "\r\n\r\n");
                c.Send(page);
            }
            // Requests for b and c: b's header first, then wait for c's request.
            std::string b;
            if (!c.ReadRequest(b)) return;
            c.Send(
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: Keep-Alive\r\n"
                "Content-Length: 1\r\n\r\n");
            std::string next;
            pipelined = c.ReadRequest(next, 2000);
            c.Send("b");
            if (pipelined) c.Send(KeptHtml("c"));
            c.WaitForClientClose();
        });
        if (tls) origin.UseTls(TestCertificate::kGood);
        CrawlTwo("* 2/1/11\n", origin);
        EXPECT_TRUE(pipelined.load());
        EXPECT_EQ(StatusNames(), (Names{"Success", "Success", "Success"}));
        EXPECT_EQ(LocalFile(origin.Url("/b.html")), "b");
        EXPECT_EQ(LocalFile(origin.Url("/c.html")), "c");
        Names lines = display.Lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[3].rfind("(No.0)*" + origin.Url(""), 0), 0u);
    }
}

TEST_F(KeepAliveTest, PauseValuesWaitBetweenRequestsToOneServer) {
    for (const char* mcf : {"* 300/1/11\n", "* -300/1/11\n"}) {
        Site site;
        site.Page("/", KeptHtml("<a href=\"b.html\">b</a>"));
        site.Page("/b.html", KeptHtml("b"));
        TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
        auto started = std::chrono::steady_clock::now();
        CrawlTwo(mcf, origin);
        auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_EQ(PageRequests(origin).size(), 2u) << mcf;
        EXPECT_GE(elapsed, std::chrono::milliseconds(250)) << mcf;
        bool negative = mcf[2] == '-';
        // A negative value asks for no keep-alive; a large positive one keeps the connection.
        EXPECT_EQ(PageRequests(origin)[0].bytes.find("Connection: Keep-Alive") == std::string::npos,
                  negative)
            << mcf;
        EXPECT_EQ(origin.Connections(), negative ? 3 : 1) << mcf;
    }
}

// Handler side of a slow server that notes how many requests it serves at once.
class Concurrency {
  public:
    Reply Serve(const Request& request) {
        std::unique_lock lock(mutex_);
        ++inside_;
        peak_ = std::max(peak_, inside_);
        changed_.notify_all();
        // Hold each request until a second one is being served, or 200 ms at most.
        changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return inside_ > 1; });
        --inside_;
        (void)request;
        return Reply().Send(Html("x"));
    }
    int peak() {
        std::lock_guard lock(mutex_);
        return peak_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int inside_ = 0;
    int peak_ = 0;
};

TEST_F(CrawlFixture, ConnectionsPerHostFollowTheLimitTable) {
    for (int limit : {1, 2}) {
        Concurrency server;
        TestOrigin origin([&server](const Request& r) { return server.Serve(r); });
        WriteMcf("* 0/" + std::to_string(limit) + "/11\n");
        NewCrawl(4);
        store::CrawlRequest request;
        for (int k = 0; k < 4; ++k) request.urls.push_back(origin.Url("/" + std::to_string(k)));
        request.flags = kPlainFlags;
        ASSERT_EQ(crawl->AddStartUrl(request), 4);
        RunCrawl();
        EXPECT_EQ(PageRequests(origin).size(), 4u);
        EXPECT_EQ(server.peak(), limit);
    }
}

TEST_F(CrawlFixture, ZeroConnectionsNeverFetches) {
    std::vector<Reply> replies = {Reply().Send(Html("x"))};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    WriteMcf("127.0.0.1 0/0\n");
    NewCrawl();
    Start(origin.Url("/"), kPlainFlags);
    EXPECT_EQ(RunCrawl(), 0);
    EXPECT_TRUE(PageRequests(origin).empty());
}

TEST_F(CrawlFixture, DefaultLimitsWaitASecondBetweenRequestsToOneServer) {
    Site site;
    site.Page("/", KeptHtml("<a href=\"b.html\">b</a>"));
    site.Page("/b.html", KeptHtml("b"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    NewCrawl(2);  // no kelvra.mcf: 1000/1/11
    Start(origin.Url("/"), kPlainFlags);
    auto started = std::chrono::steady_clock::now();
    RunCrawl();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_EQ(origin.Connections(), 1);
    EXPECT_EQ(PageRequests(origin).size(), 2u);
}

// The time-out measures the server's silence, not our own pause before a request.
TEST_F(CrawlFixture, PauseLongerThanTheTimeOutIsNoSilentServer) {
    Site site;
    site.Page("/", KeptHtml("<p>x</p>"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 1500/1/11\n");  // a pause after robots.txt
    environment.timeout = 1;
    NewCrawl();
    Start(origin.Url("/"), kPlainFlags);
    RunCrawl();
    EXPECT_EQ(StatusNames(), Names{"Success"});
}

// Each reply of the FTP dialogue has the time-out to itself; the dialogue as a whole takes
// longer.
TEST_F(CrawlFixture, SlowFtpDialogueWithinTheTimeOutPerReply) {
    kelvra::testing::TempDir root;
    std::ofstream(root.Path("a.txt")) << "hello ftp\n";
    kelvra::test::FtpServerOptions options;
    options.root = root.Path();
    options.anonymous = true;
    options.reply_delay_ms = 200;  // seven commands before the data flows
    kelvra::test::FtpServer server(options);
    ASSERT_TRUE(server.Running());
    WriteMcf("* 0/1/11\n");
    environment.timeout = 1;
    NewCrawl();
    Start(server.Url("/a.txt"), kPlainFlags);
    RunCrawl();
    EXPECT_EQ(StatusNames(), Names{"Success"});
    EXPECT_EQ(LocalFile(server.Url("/a.txt")), "hello ftp\n");
}

TEST_F(CrawlFixture, EndlessBodyIsCutAtTheSizeLimit) {
    TestOrigin origin([](Connection& c) {
        std::string request;
        if (!c.ReadRequest(request)) return;
        if (IsRobots(request)) {
            c.Send(HttpResponse("HTTP/1.1 404 Not Found", "none", "Connection: Keep-Alive\r\n"));
            if (!c.ReadRequest(request)) return;
        }
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        std::string block(8192, 'z');
        while (c.Send(block)) {
        }
    });
    WriteMcf("* 0/1/11\n");
    environment.size_limit = 100000;
    NewCrawl();
    Start(origin.Url("/endless"), kPlainFlags);
    RunCrawl();
    EXPECT_EQ(StatusNames(), Names{"TooLong"});
}

TEST_F(CrawlFixture, TricklingServerIsBoundedByTheTimeOut) {
    std::vector<Reply> replies = {
        Reply()
            .Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 400\r\n\r\n")
            .SendFragmented(std::string(400, 't'), 1, 25)};  // 10 s in all
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    WriteMcf("* 0/1/11\n");
    environment.timeout = 1;
    NewCrawl();
    Start(origin.Url("/trickle"), kPlainFlags);
    auto started = std::chrono::steady_clock::now();
    RunCrawl();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(StatusNames(), Names{"BadSize"});
    EXPECT_EQ(crawl->ErrorUrls().size(), 1u);
}

}  // namespace
}  // namespace kelvra::crawl::testing

// Every fetch status reached from a real server answer.
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "crawl/kelvra_log.h"
#include "crawl_fixture.h"

namespace kelvra::crawl::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::Request;
using kelvra::test::TestCertificate;
using kelvra::test::TestOrigin;

constexpr const char* kOld = "Sat, 01 Jan 2000 00:00:00 GMT";
constexpr const char* kNew = "Sun, 02 Jan 2000 00:00:00 GMT";

class StatusTest : public CrawlFixture {
  protected:
    void SetUp() override {
        CrawlFixture::SetUp();
        WriteMcf("* 0/1/11\n");
    }
    // One crawl of one URL; the statuses shown.
    std::vector<std::string> CrawlOnce(const std::string& url, std::uint32_t flags) {
        ClearStatuses();
        NewCrawl();
        EXPECT_EQ(Start(url, flags), 1);
        RunCrawl();
        return StatusNames();
    }
};

using Names = std::vector<std::string>;

TEST_F(StatusTest, SuccessThenSameDataThenNotModified) {
    std::vector<Reply> replies = {
        Reply().Send(Html("<p>x</p>", std::string("Last-Modified: ") + kOld + "\r\n")),
        Reply().Send(Html("<p>x</p>")),  // same text, no date: identical to the stored copy
        Reply().Send("HTTP/1.1 304 Not Modified\r\n\r\n"),
    };
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), kPlainFlags), Names{"Success"});
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), kPlainFlags), Names{"SameData"});
    // The second answer had no date; the record keeps none, so store one for the check.
    store->Add(origin.Url("/p.html"), std::string("CT:text/html\nLM:") + kOld + "\n", true);
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), kPlainFlags | kModifyCheck), Names{"NotModify"});
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[2].bytes.find(std::string("If-Modified-Since: ") + kOld + "\r\n"),
              std::string::npos);
}

TEST_F(StatusTest, StrictCheckHeadOkThenGetAndHeadOlder) {
    std::vector<Reply> replies = {
        Reply().Send(Html("<p>1</p>", std::string("Last-Modified: ") + kOld + "\r\n")),
        // HEAD: newer date, so changed; the GET follows in the same slot.
        Reply().Send(std::string("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                 "Content-Length: 8\r\nLast-Modified: ") +
                     kNew + "\r\n\r\n"),
        Reply().Send(Html("<p>2</p>", std::string("Last-Modified: ") + kNew + "\r\n")),
        // HEAD with the stored date: not newer.
        Reply().Send(std::string("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                 "Content-Length: 8\r\nLast-Modified: ") +
                     kNew + "\r\n\r\n"),
    };
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    std::uint32_t strict = kPlainFlags | kModifyCheck | kStrictModifyCheck;
    // Nothing stored: straight to GET.
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), strict), Names{"Success"});
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), strict), (Names{"HeadOK", "Success"}));
    EXPECT_EQ(LocalFile(origin.Url("/p.html")), "<p>2</p>");
    EXPECT_EQ(CrawlOnce(origin.Url("/p.html"), strict), Names{"HeadOlder"});
    EXPECT_EQ(RequestLines(origin), (Names{"GET /p.html HTTP/1.1", "HEAD /p.html HTTP/1.1",
                                           "GET /p.html HTTP/1.1", "HEAD /p.html HTTP/1.1"}));
}

TEST_F(StatusTest, MovedNoGoodAndErrorPages) {
    Site site;
    site.Page("/old", HttpResponse("HTTP/1.1 301 Moved", "", "Location: /gone\r\n"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    // The redirect is recorded; its target answers 404.
    EXPECT_EQ(CrawlOnce(origin.Url("/old"), kPlainFlags), (Names{"Moved", "NoGood"}));
    std::string location;
    EXPECT_TRUE(store->GetUrlField(origin.Url("/old"), "LO:", location));
    EXPECT_EQ(location, "/gone");
    // Error pages are stored only with SaveErrorPage.
    EXPECT_EQ(store->FindRecord(origin.Url("/gone")), nullptr);
    EXPECT_EQ(CrawlOnce(origin.Url("/gone"), kPlainFlags | kSaveErrorPage), Names{"NoGood"});
    EXPECT_NE(store->FindRecord(origin.Url("/gone")), nullptr);
}

TEST_F(StatusTest, RedirectChainEndsWithItsTwentiethRedirect) {
    // /r<n> moves to /r<n+1>, without end.
    TestOrigin origin([](const Request& r) {
        if (IsRobots(r.RequestLine())) return NoRobots();
        const int n = std::atoi(std::string(r.RequestLine().substr(6)).c_str());  // "GET /r"
        return Reply().Send(HttpResponse("HTTP/1.1 302 Found", "",
                                         "Location: /r" + std::to_string(n + 1) + "\r\n"));
    });
    environment.progress_log = "prog.csv";
    KelvraClass_Log logged(*store, 1, dir.Path("kelvra.mcf"), display);
    logged.Setup(environment);
    store::CrawlRequest request;
    request.urls = {origin.Url("/r0")};
    request.flags = kPlainFlags;
    ASSERT_EQ(logged.AddStartUrl(request), 1);
    bool completed = false;
    logged.RunWithLog(completed);
    // The start URL and the targets of 20 redirects; the 21st redirect is recorded only.
    Names lines = RequestLines(origin);
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.back(), "GET /r20 HTTP/1.1");
    EXPECT_EQ(StatusNames(), Names(21, "Moved"));
    std::string location;
    EXPECT_TRUE(store->GetUrlField(origin.Url("/r20"), "LO:", location));
    EXPECT_EQ(logged.url_table().GetJob(origin.Url("/r21")), nullptr);
    EXPECT_TRUE(logged.ErrorUrls().empty());
    // The progress log says why the chain ends there, after the URL's status.
    std::ifstream in(logged.progress_log().Path());
    std::vector<std::string> log;
    for (std::string line; std::getline(in, line);) log.push_back(line);
    ASSERT_GE(log.size(), 2u);
    const std::string r20 = ", " + origin.Url("/r20") + ", ";
    EXPECT_NE(log[log.size() - 2].find(r20 + "Moved"), std::string::npos);
    EXPECT_NE(log.back().find(r20 + "Location not followed"), std::string::npos) << log.back();
}

TEST_F(StatusTest, BodyCutShortIsBadSizeAndFetchedWholeLater) {
    struct Row {
        const char* why;
        std::string first;  // sent before the server closes
    };
    const std::vector<Row> rows = {
        {"Content-length not reached",
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n01234"},
        {"chunked body closed before its last chunk",
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\n01234\r\n"},
    };
    environment.retry_count = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::vector<Reply> replies = {
            Reply().Send(row.first).Close(),
            Reply().Send(
                HttpResponse("HTTP/1.1 200 OK", "0123456789", "Content-Type: text/plain\r\n")),
        };
        Canned canned(replies);
        TestOrigin origin(canned.Handler());
        // On a fresh connection the URL is registered for a later attempt, without Range.
        EXPECT_EQ(CrawlOnce(origin.Url("/t.txt"), kPlainFlags), (Names{"BadSize", "Success"}));
        EXPECT_EQ(LocalFile(origin.Url("/t.txt")), "0123456789");
        auto requests = PageRequests(origin);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].bytes.find("Range:"), std::string::npos);
    }
}

TEST_F(StatusTest, UnchangedPartialFileIsResumedByRangeAtOnce) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        std::vector<Reply> replies = {
            Reply()
                .Send(std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                  "Content-Length: 10\r\nLast-Modified: ") +
                      kOld + "\r\n\r\n01234")
                .Close(),
            Reply().Send("HTTP/1.1 304 Not Modified\r\n\r\n"),
            Reply().Send("HTTP/1.1 206 Partial Content\r\nContent-Type: text/plain\r\n"
                         "Content-Length: 5\r\n\r\n56789"),
        };
        Canned canned(replies);
        TestOrigin origin(canned.Handler());
        if (tls) origin.UseTls(TestCertificate::kGood);
        EXPECT_EQ(CrawlOnce(origin.Url("/t.txt"), kPlainFlags), Names{"BadSize"});
        std::string xrange;
        ASSERT_TRUE(store->GetUrlField(origin.Url("/t.txt"), "XRange:", xrange));
        EXPECT_EQ(xrange, "5");
        // Next run: the date is compared first; unchanged, so the rest is asked for at once.
        EXPECT_EQ(CrawlOnce(origin.Url("/t.txt"), kPlainFlags | kModifyCheck),
                  (Names{"NotModify", "Success"}));
        EXPECT_EQ(LocalFile(origin.Url("/t.txt")), "0123456789");
        auto requests = PageRequests(origin);
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_NE(requests[1].bytes.find(std::string("If-Modified-Since: ") + kOld),
                  std::string::npos);
        EXPECT_EQ(requests[1].bytes.find("Range:"), std::string::npos);
        EXPECT_NE(requests[2].bytes.find("Range: bytes=5-\r\n"), std::string::npos);
        EXPECT_EQ(requests[2].tls, tls);
        EXPECT_EQ(requests[2].bytes.find("If-Modified-Since"), std::string::npos);
        EXPECT_FALSE(store->GetUrlField(origin.Url("/t.txt"), "XRange:", xrange));
    }
}

TEST_F(StatusTest, AnnouncedLengthOverTheLimitIsNotRead) {
    std::vector<Reply> replies = {Reply().Send(
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5000000\r\n\r\nabc")};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    environment.size_limit = 1000;
    EXPECT_EQ(CrawlOnce(origin.Url("/big"), kPlainFlags), Names{"TooLong"});
    EXPECT_EQ(store->FindRecord(origin.Url("/big")), nullptr);
}

TEST_F(StatusTest, PeerClosingWithoutAnswerIsErrorAndRetried) {
    std::vector<Reply> replies = {Reply().Close(), Reply().Close(), Reply().Close()};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    environment.retry_count = 2;
    EXPECT_EQ(CrawlOnce(origin.Url("/x"), kPlainFlags | 1u), (Names{"Error", "Error", "Error"}));
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), 3u);
    // Retries fetch anew without caches.
    EXPECT_EQ(requests[0].bytes.find("Pragma: no-cache"), std::string::npos);
    EXPECT_NE(requests[1].bytes.find("Pragma: no-cache\r\n"), std::string::npos);
    EXPECT_NE(requests[2].bytes.find("Pragma: no-cache\r\n"), std::string::npos);
    ASSERT_EQ(crawl->ErrorUrls().size(), 1u);
    EXPECT_EQ(crawl->ErrorUrls()[0], origin.Url("/x"));
    // The retry dropped the stored-data policy.
    EXPECT_EQ(crawl->url_table().GetJob(origin.Url("/x"))->flags & kRegetMask, 0u);
}

TEST_F(StatusTest, RedirectionCutShortIsUsableOnceItsLocationLineArrived) {
    struct Row {
        const char* why;
        Reply answer;  // for /x; /y is a page
        Names statuses;
    };
    const std::string moved = "HTTP/1.1 302 Found\r\nConnection: Keep-Alive\r\nLocation: /y";
    const std::vector<Row> rows = {
        {"closed inside the Location line", Reply().Send(moved).Close(), {"Abnormal"}},
        {"closed after the Location line",
         Reply().Send(moved + "\r\nContent-Ty").Close(),
         {"Moved", "Success"}},
        // The connection stays open but can carry nothing more.
        {"header longer than the reader takes",
         Reply().Send(moved + "\r\n" + std::string(9000, 'X')).Hold(),
         {"Moved", "Success"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        TestOrigin origin([&row](const Request& r) {
            if (IsRobots(r.RequestLine())) return NoRobots();
            if (r.RequestLine().starts_with("GET /x ")) return row.answer;
            return Reply().Send(Html("<p>y</p>", "Connection: Keep-Alive\r\n"));
        });
        WriteMcf("* 1/1/11\n");
        EXPECT_EQ(CrawlOnce(origin.Url("/x"), kPlainFlags), row.statuses);
        std::string location;
        const bool usable = row.statuses.size() > 1;
        EXPECT_EQ(store->GetUrlField(origin.Url("/x"), "LO:", location), usable);
        if (usable) {
            EXPECT_EQ(location, "/y");
            EXPECT_EQ(LocalFile(origin.Url("/y")), "<p>y</p>");
        }
        EXPECT_EQ(crawl->ErrorUrls().size(), usable ? 0u : 1u);
    }
}

TEST_F(StatusTest, DeadKeptConnectionIsRetriedAtOnce) {
    WriteMcf("* 1/1/11\n");
    Site site;
    std::atomic<int> second_seen{0};  // counted on the origin's threads
    TestOrigin origin([&](const Request& r) {
        if (r.connection == 0 && r.index == 2) {  // after robots.txt and the first page
            ++second_seen;
            return Reply().Delay(300).Close();  // takes the pipelined request, then hangs up
        }
        if (IsRobots(r.RequestLine())) return NoRobots();
        return Reply().Send(Html("<p>x</p>", "Connection: Keep-Alive\r\n"));
    });
    NewCrawl();
    Start(origin.Url("/"), kPlainFlags);
    store::CrawlRequest more;
    more.urls = {origin.Url("/b.html")};
    more.flags = kPlainFlags;
    crawl->AddStartUrl(more);
    RunCrawl();
    EXPECT_EQ(StatusNames(), (Names{"Success", "Retry", "Success"}));
    EXPECT_EQ(second_seen.load(), 1);
    EXPECT_EQ(origin.Connections(), 2);
}

TEST_F(StatusTest, UnwritableResponseIsIOError) {
    // Files may not grow beyond 16 KiB: the temporary response file fails.
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct sigaction ignore {
    }, old_action{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old_action);
    std::vector<Reply> replies = {Reply().Send(HttpResponse(
        "HTTP/1.1 200 OK", std::string(64 * 1024, 'x'), "Content-Type: text/plain\r\n"))};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    struct rlimit small = old_limit;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Names names = CrawlOnce(origin.Url("/f"), kPlainFlags);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &old_action, nullptr);
    EXPECT_EQ(names, Names{"I/OError"});
    std::vector<std::string> logs = display.Logs();
    EXPECT_NE(std::find(logs.begin(), logs.end(), "I/OError: " + origin.Url("/f")), logs.end());
}

TEST_F(StatusTest, KilledWorkerEndsAsKilled) {
    std::vector<Reply> replies = {Reply().Hold()};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    environment.timeout = 30;
    NewCrawl();
    Start(origin.Url("/slow"), kPlainFlags);
    std::thread killer([&] {
        ASSERT_TRUE(origin.WaitForRequests(2));  // robots.txt, then the held page
        crawl->KillWorker(0);
    });
    auto started = std::chrono::steady_clock::now();
    RunCrawl();
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(StatusNames(), Names{"Killed"});
    EXPECT_EQ(crawl->ErrorUrls(), std::vector<std::string>{origin.Url("/slow")});
}

TEST_F(StatusTest, BasicChallengeWithoutCredentialsIsUnAuth) {
    std::vector<Reply> replies = {Reply().Send(HttpResponse(
        "HTTP/1.1 401 Unauthorized", "no", "WWW-Authenticate: Basic realm=\"x\"\r\n"))};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    EXPECT_EQ(CrawlOnce(origin.Url("/secret"), kPlainFlags | kAuthentication), Names{"UnAuth"});
    EXPECT_EQ(crawl->ErrorUrls().size(), 1u);
}

}  // namespace
}  // namespace kelvra::crawl::testing

// Stopping, aborting, retry lists and a second crawl over an unchanged site.
#include <atomic>
#include <thread>

#include "crawl_fixture.h"
#include "crawl/kelvra_log.h"

namespace kelvra::crawl::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::Request;
using kelvra::test::TestOrigin;
using Names = std::vector<std::string>;

// A page linking to n others.
void AddLinkedSite(Site& site, int n) {
    std::string links;
    for (int k = 0; k < n; ++k) {
        std::string page = "/p" + std::to_string(k) + ".html";
        links += "<a href=\"" + page.substr(1) + "\">x</a>";
        site.Page(page, Html("page " + std::to_string(k)));
    }
    site.Page("/", Html(links));
}

TEST_F(CrawlFixture, StopLetsRunningTransactionsFinishAndListsTheRest) {
    Site site;
    AddLinkedSite(site, 3);
    std::atomic<int> served{0};
    TestOrigin origin([&](const Request& r) {
        if (!IsRobots(r.RequestLine()) && ++served == 2) {
            crawl->Stop();  // the user closes the dialog once, during the second fetch
            return site.Answer(r);
        }
        return site.Answer(r);
    });
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    Start(origin.Url("/"), kPlainFlags);
    bool completed = true;
    RunCrawl(&completed);
    EXPECT_FALSE(completed);
    EXPECT_EQ(crawl->stop_level(), StopLevel::kFinish);
    EXPECT_EQ(PageRequests(origin).size(), 2u);
    EXPECT_EQ(StatusNames(), (Names{"Success", "Success"}));
    EXPECT_EQ(crawl->ErrorUrls(), (Names{origin.Url("/p1.html"), origin.Url("/p2.html")}));
    Names logs = display.Logs();
    ASSERT_GE(logs.size(), 3u);
    EXPECT_EQ(logs[logs.size() - 3], "Closing all sockets ...");
    EXPECT_EQ(logs[logs.size() - 2], "Registering error URLs ...");
    EXPECT_EQ(logs.back(), "Done.");
}

TEST_F(CrawlFixture, AbortKillsBusyWorkers) {
    std::vector<Reply> replies = {Reply().Hold(), Reply().Hold()};
    Canned canned(replies);
    TestOrigin origin(canned.Handler());
    WriteMcf("* 0/2/11\n");
    environment.timeout = 30;
    NewCrawl(2);
    store::CrawlRequest request;
    request.urls = {origin.Url("/a"), origin.Url("/b"), origin.Url("/c")};
    request.flags = kPlainFlags;
    crawl->AddStartUrl(request);
    std::thread stopper([&] {
        ASSERT_TRUE(origin.WaitForRequests(3));  // robots.txt and two held pages
        crawl->Stop();
        crawl->Stop();  // a second close: abort
    });
    auto started = std::chrono::steady_clock::now();
    RunCrawl();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(crawl->stop_level(), StopLevel::kAbort);
    Names errors = crawl->ErrorUrls();
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, (Names{origin.Url("/a"), origin.Url("/b"), origin.Url("/c")}));
    EXPECT_EQ(display.Logs().back(), "Done.");
}

TEST_F(CrawlFixture, RetryListReproducesTheFailedJobsAndFetchesThem) {
    std::atomic<bool> failing{true};  // read on the origin's threads
    Site site;
    AddLinkedSite(site, 2);
    TestOrigin origin([&](const Request& r) {
        if (failing && r.RequestLine().find("/p1.html") != std::string_view::npos) {
            return Reply().Close();
        }
        return site.Answer(r);
    });
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    store::CrawlRequest request;
    request.urls = {origin.Url("/")};
    request.flags = kPlainFlags | kModifyCheck | kAuthentication;
    request.depth = 3;
    request.trace = -1;
    request.filters = "0:.zip$\n4:/keep/";
    request.extra_header = "X-Crawl: 7";
    crawl->AddStartUrl(request);
    RunCrawl();
    ASSERT_EQ(crawl->ErrorUrls(), Names{origin.Url("/p1.html")});
    const store::FetchJob before = *crawl->url_table().GetJob(origin.Url("/p1.html"));
    // Failed for good: its page objects are no longer forced in, and the list keeps that.
    EXPECT_EQ(before.flags & kSrcObject, 0u);
    EXPECT_NE(before.flags & kNoCache, 0u);
    // The rules die with their engine: keep what is compared.
    const std::string filters_before = before.rules->filters.bytes();
    const std::optional<std::string> header_before = before.rules->extra_header;
    const Names accept_before(before.rules->accept.begin(), before.rules->accept.end());
    std::string path = dir.Path("retry.rlf");
    ASSERT_EQ(crawl->WriteRetryList(path), 1);

    // A new engine (as after a restart) reads the list and fetches the failed URL again.
    failing = false;
    ClearStatuses();
    NewCrawl();
    ASSERT_EQ(crawl->ReadRetryList(path), 1);
    const store::FetchJob* after = crawl->url_table().GetJob(origin.Url("/p1.html"));
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->flags, before.flags);
    EXPECT_EQ(after->depth, before.depth);
    EXPECT_EQ(after->trace, before.trace);
    ASSERT_NE(after->rules, nullptr);
    EXPECT_EQ(after->rules->filters.bytes(), filters_before);
    EXPECT_EQ(after->rules->filters.bytes(), std::string("\x01.zip$\0\x05/keep/\0", 16));
    EXPECT_EQ(after->rules->extra_header, header_before);
    EXPECT_EQ(Names(after->rules->accept.begin(), after->rules->accept.end()), accept_before);
    ASSERT_NE(after->referrer, nullptr);
    EXPECT_EQ(crawl->url_table().EntryUrl(after->referrer), origin.Url("/"));
    std::size_t requests_before = PageRequests(origin).size();
    RunCrawl();
    EXPECT_EQ(StatusNames(), Names{"Success"});
    auto requests = PageRequests(origin);
    ASSERT_EQ(requests.size(), requests_before + 1);
    EXPECT_EQ(requests.back().RequestLine(), "GET /p1.html HTTP/1.1");
    EXPECT_NE(requests.back().bytes.find("X-Crawl: 7\r\n"), std::string::npos);
    EXPECT_NE(requests.back().bytes.find("Referer: " + origin.Url("/") + "\r\n"),
              std::string::npos);
    // Known URLs came back too: the page and its other link are not fetched again.
    EXPECT_FALSE(crawl->HasErrorUrls());
}

TEST_F(CrawlFixture, SecondCrawlOfAnUnchangedSiteTransfersNoBodies) {
    const std::string lm = "Last-Modified: Sat, 01 Jan 2000 00:00:00 GMT\r\n";
    Site site;
    site.Page("/", Html("<a href=\"a.html\">a</a><img src=\"i.gif\">", lm));
    site.Page("/a.html", Html("a", lm));
    site.Page("/i.gif",
              HttpResponse("HTTP/1.1 200 OK", "GIF89a", "Content-Type: image/gif\r\n" + lm));
    std::atomic<bool> second{false};
    TestOrigin origin([&](const Request& r) {
        if (second && r.bytes.find("If-Modified-Since: ") != std::string::npos) {
            return Reply().Send("HTTP/1.1 304 Not Modified\r\n\r\n");
        }
        return site.Answer(r);
    });
    WriteMcf("* 0/1/11\n");
    std::uint32_t update = kPlainFlags | kModifyCheck | 1u;  // RegetLevel 1: text only
    NewCrawl();
    Start(origin.Url("/"), update, 0, -1);
    EXPECT_EQ(RunCrawl(), 3);
    second = true;
    std::size_t first_run = PageRequests(origin).size();
    ClearStatuses();
    NewCrawl();
    // CompleteTrace on: the links of unchanged pages are still followed.
    Start(origin.Url("/"), update, 0, -1);
    EXPECT_EQ(RunCrawl(), 3);
    auto requests = PageRequests(origin);
    Names lines;
    for (std::size_t k = first_run; k < requests.size(); ++k) {
        lines.emplace_back(requests[k].RequestLine());
        EXPECT_NE(requests[k].bytes.find("If-Modified-Since: "), std::string::npos);
    }
    // The stored image is used as it is; both pages are answered 304.
    EXPECT_EQ(lines, (Names{"GET / HTTP/1.1", "GET /a.html HTTP/1.1"}));
    EXPECT_EQ(StatusNames(), (Names{"NotModify", "NotModify"}));
}

TEST_F(CrawlFixture, ProgressLogRecordsEveryStatus) {
    Site site;
    AddLinkedSite(site, 1);
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    environment.progress_log = "prog.csv";
    KelvraClass_Log logged(*store, 1, dir.Path("kelvra.mcf"), display);
    logged.Setup(environment);
    store::CrawlRequest request;
    request.urls = {origin.Url("/")};
    request.flags = kPlainFlags;
    logged.AddStartUrl(request);
    bool completed = false;
    EXPECT_EQ(logged.RunWithLog(completed), 2);
    std::string path = logged.progress_log().Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind(dir.Path() + "/", 0), 0u);
    EXPECT_NE(path.find("_prog.csv"), std::string::npos);
    std::ifstream in(path);
    Names lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "ThreadNo, time(), URL, Status");
    // "worker, time, URL, status": robots.txt first, then the page and its link.
    const std::string suffixes[] = {", " + origin.Url("/robots.txt") + ", NoGood",
                                    ", " + origin.Url("/") + ", Success",
                                    ", " + origin.Url("/p0.html") + ", Success"};
    for (int k = 0; k < 3; ++k) {
        const std::string& line = lines[k + 1];
        EXPECT_EQ(line.rfind("0, ", 0), 0u) << line;
        ASSERT_GE(line.size(), suffixes[k].size());
        EXPECT_EQ(line.substr(line.size() - suffixes[k].size()), suffixes[k]) << line;
    }
    // Nothing failed: the finish report says so and nothing continues.
    EXPECT_FALSE(logged.FinishReport(2));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "取得作業が完了しました");
    EXPECT_FALSE(logged.HangUpAll());
}

}  // namespace
}  // namespace kelvra::crawl::testing

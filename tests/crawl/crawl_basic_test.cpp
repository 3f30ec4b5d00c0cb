// A whole crawl against a loopback site: links followed, objects stored, display texts.
#include <cstring>

#include "crawl_fixture.h"

namespace kelvra::crawl::testing {
namespace {

using kelvra::test::Reply;
using kelvra::test::Request;
using kelvra::test::TestOrigin;

TEST_F(CrawlFixture, MirrorsAPageAndItsLinks) {
    Site site;
    site.Page("/", Html("<a href=\"a.html\">a</a><img src=\"i.gif\">"));
    site.Page("/a.html", Html("<p>a</p>"));
    site.Page("/i.gif", kelvra::test::HttpResponse("HTTP/1.1 200 OK", "GIF89a",
                                                   "Content-Type: image/gif\r\n"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    ASSERT_EQ(Start(origin.Url("/"), kPlainFlags), 1);
    bool completed = false;
    EXPECT_EQ(RunCrawl(&completed), 3);
    EXPECT_TRUE(completed);
    EXPECT_EQ(RequestLines(origin),
              (std::vector<std::string>{"GET / HTTP/1.1", "GET /a.html HTTP/1.1",
                                        "GET /i.gif HTTP/1.1"}));
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"Success", "Success", "Success"}));
    EXPECT_EQ(LocalFile(origin.Url("/a.html")), "<p>a</p>");
    EXPECT_EQ(LocalFile(origin.Url("/i.gif")), "GIF89a");
    EXPECT_FALSE(crawl->HasErrorUrls());
    std::vector<std::string> logs = display.Logs();
    EXPECT_EQ(logs.back(), "Done.");
    EXPECT_NE(std::find(logs.begin(), logs.end(), "Investigating: " + origin.Url("/")), logs.end());
}

TEST_F(CrawlFixture, RobotsTxtComesFirstAndItsDisallowLinesApply) {
    Site site;
    site.Page("/robots.txt", kelvra::test::HttpResponse("HTTP/1.1 200 OK",
                                                        "User-Agent: other\nDisallow: /\n\n"
                                                        "User-Agent: *\nDisallow: /private\n",
                                                        "Content-Type: text/plain\r\n"));
    site.Page("/", Html("<a href=\"private/x.html\">x</a><a href=\"ok.html\">ok</a>"));
    site.Page("/ok.html", Html("ok"));
    site.Page("/private/x.html", Html("secret"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    NewCrawl(2);
    Start(origin.Url("/"), kPlainFlags);
    RunCrawl();
    std::vector<std::string> lines;
    for (const auto& request : origin.Requests()) lines.emplace_back(request.RequestLine());
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /robots.txt HTTP/1.1", "GET / HTTP/1.1",
                                               "GET /ok.html HTTP/1.1"}));
    EXPECT_FALSE(crawl->HasErrorUrls());
}

TEST_F(CrawlFixture, RobotsTxtThatDisallowsItselfAndAPathWithoutSlash) {
    Site site;
    site.Page("/robots.txt",
              kelvra::test::HttpResponse(
                  "HTTP/1.1 200 OK", "User-Agent: *\nDisallow: /robots.txt\nDisallow: private\n",
                  "Content-Type: text/plain\r\n"));
    site.Page("/", Html("<a href=\"private/x.html\">x</a><a href=\"ok.html\">ok</a>"));
    site.Page("/ok.html", Html("ok"));
    site.Page("/private/x.html", Html("secret"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    NewCrawl(2);
    Start(origin.Url("/"), kPlainFlags);
    RunCrawl();
    EXPECT_EQ(RequestLines(origin),
              (std::vector<std::string>{"GET / HTTP/1.1", "GET /ok.html HTTP/1.1"}));
    EXPECT_NE(store->FindRecord(origin.Url("/robots.txt")), nullptr);
    EXPECT_FALSE(crawl->HasErrorUrls());
}

TEST_F(CrawlFixture, StartUrlWithAnEscapeCrawlsItsDirectory) {
    // The allowed directory of the start URL is compared with links in the decoded key form.
    Site site;
    for (const char* user : {"/~user/", "/%7Euser/"}) {  // however the request names it
        site.Page(std::string(user) + "index.html", Html("<a href=\"next.html\">n</a>"));
        site.Page(std::string(user) + "next.html", Html("next"));
    }
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    Start(origin.Url("/%7Euser/index.html"), kPlainFlags);
    EXPECT_EQ(RunCrawl(), 2);
    EXPECT_EQ(LocalFile(origin.Url("/~user/next.html")), "next");
}

TEST_F(CrawlFixture, StoredCopyIsInvestigatedUnderItsOwnScheme) {
    // HTTP and FTP share the store's key space: a page stored over HTTP is the stored copy of
    // the same path over FTP, and its links must be resolved against the ftp:// URL.
    Site site;
    site.Page("/d/p.html", Html("<a href=\"q.html\">q</a>"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    Start(origin.Url("/d/p.html"), kPlainFlags, 1);
    ASSERT_EQ(RunCrawl(), 1);
    const std::size_t seen = origin.Requests().size();
    std::string ftp_url = "ftp://" + origin.Url("/d/p.html").substr(std::strlen("http://"));
    NewCrawl();
    Start(ftp_url, kPlainFlags | 3, 1);  // RegetLevel 3: nothing is fetched again
    EXPECT_EQ(RunCrawl(), 1);
    std::vector<std::string> logs = display.Logs();
    EXPECT_NE(std::find(logs.begin(), logs.end(), "Investigating: " + ftp_url), logs.end());
    EXPECT_EQ(origin.Requests().size(), seen);
}

TEST_F(CrawlFixture, EmptyQueueRunsNothing) {
    NewCrawl();
    bool completed = false;
    EXPECT_EQ(RunCrawl(&completed), 0);
    EXPECT_TRUE(display.Logs().empty());
}

}  // namespace
}  // namespace kelvra::crawl::testing

// Crawling over https: the same mirror as over http, certificates refused with their reason or
// accepted knowingly, redirects between the schemes, and Secure cookies.
#include "crawl_fixture.h"

namespace kelvra::crawl::testing {
namespace {

using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::Request;
using kelvra::test::TestCertificate;
using kelvra::test::TestOrigin;

struct HttpsCrawlTest : CrawlFixture {
    std::vector<std::string> AllLines(const TestOrigin& origin) {
        std::vector<std::string> lines;
        for (const auto& request : origin.Requests()) lines.emplace_back(request.RequestLine());
        return lines;
    }
};

TEST_F(HttpsCrawlTest, MirrorsASiteWithRobotsTxtOverHttps) {
    Site site;
    site.Page("/", Html("<a href=\"a.html\">a</a><img src=\"i.gif\">"));
    site.Page("/a.html", Html("<p>a</p>"));
    site.Page("/i.gif", HttpResponse("HTTP/1.1 200 OK", "GIF89a", "Content-Type: image/gif\r\n"));
    TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
    origin.UseTls(TestCertificate::kGood);
    WriteMcf("* 0/1/11\n");
    NewCrawl();
    ASSERT_EQ(Start(origin.Url("/"), kPlainFlags), 1);
    bool completed = false;
    EXPECT_EQ(RunCrawl(&completed), 3);
    EXPECT_TRUE(completed);
    EXPECT_EQ(AllLines(origin),
              (std::vector<std::string>{"GET /robots.txt HTTP/1.1", "GET / HTTP/1.1",
                                        "GET /a.html HTTP/1.1", "GET /i.gif HTTP/1.1"}));
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"Success", "Success", "Success"}));
    // The page's links name it by its own address.
    EXPECT_NE(origin.Requests().back().bytes.find("\r\nReferer: " + origin.Url("/") + "\r\n"),
              std::string::npos);
    EXPECT_EQ(LocalFile(origin.Url("/a.html")), "<p>a</p>");
    EXPECT_EQ(LocalFile(origin.Url("/i.gif")), "GIF89a");
    EXPECT_FALSE(crawl->HasErrorUrls());
}

// "https /p" for a request over TLS for /p.
std::string SchemeAndPath(const Request& request) {
    const std::string_view line = request.RequestLine();
    const std::size_t start = line.find(' ') + 1;
    return std::string(request.tls ? "https " : "http ") +
           std::string(line.substr(start, line.find(' ', start) - start));
}

// A site that moved to https: every plain request is sent there, over TLS a page is answered 304
// when asked whether it changed.
TEST_F(HttpsCrawlTest, ReCheckOfAnHttpsCopyGoesOverTlsAndIsAnswered304) {
    const std::string lm = "Last-Modified: Sat, 01 Jan 2000 00:00:00 GMT\r\n";
    std::string plain_link;
    std::string secure_base;
    TestOrigin origin([&](const Request& r) {
        if (IsRobots(r.RequestLine())) return NoRobots();
        const std::string at = SchemeAndPath(r);
        const std::string path = at.substr(at.find(' ') + 1);
        if (!r.tls) {
            return Reply().Send(
                HttpResponse("HTTP/1.1 301 Moved", "", "Location: " + secure_base + path + "\r\n"));
        }
        if (r.bytes.find("If-Modified-Since: ") != std::string::npos) {
            return Reply().Send("HTTP/1.1 304 Not Modified\r\n\r\n");
        }
        return Reply().Send(Html(path == "/" ? "<a href=\"" + plain_link + "\">a</a>" : "a", lm));
    });
    origin.UseTls(TestCertificate::kGood, true);
    plain_link = origin.HttpUrl("/a.html");
    secure_base = origin.Url("");
    WriteMcf("* 0/1/11\n");
    const std::uint32_t update =
        kPlainFlags | kModifyCheck | kTraceMoved | 1u;  // text fetched again
    NewCrawl();
    Start(origin.Url("/"), update, 0, -1);
    RunCrawl();
    const std::size_t first_run = PageRequests(origin).size();
    ClearStatuses();
    // Started by its plain address, as the page links to it.
    NewCrawl();
    Start(origin.HttpUrl("/"), update, 0, -1);
    RunCrawl();
    const std::vector<Request> requests = PageRequests(origin);
    std::vector<std::string> seen;
    for (std::size_t k = first_run; k < requests.size(); ++k) {
        seen.push_back(SchemeAndPath(requests[k]));
        EXPECT_NE(requests[k].bytes.find("If-Modified-Since: "), std::string::npos);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"https /", "https /a.html"}));
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"NotModify", "NotModify"}));
}

struct RefusalCase {
    TestCertificate certificate;
    const char* note;  // what the log and the progress log say after "Error"
};

TEST_F(HttpsCrawlTest, BadCertificatesFailWithTheirReasonUnlessAcceptedKnowingly) {
    const RefusalCase cases[] = {
        {TestCertificate::kWrongHost, "Certificate refused: wrong host"},
        {TestCertificate::kExpired, "Certificate refused: expired"},
        {TestCertificate::kSelfSigned, "Certificate refused: unknown issuer"},
    };
    WriteMcf("* 0/1/11\n");
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.note);
        Site site;
        site.Page("/", Html("<p>x</p>"));
        TestOrigin origin([&site](const Request& r) { return site.Answer(r); });
        origin.UseTls(c.certificate);
        environment.check_certificates = true;
        ClearStatuses();
        NewCrawl();
        ASSERT_EQ(Start(origin.Url("/"), kPlainFlags), 1);
        RunCrawl();
        EXPECT_EQ(StatusNames(), (std::vector<std::string>{"Error"}));
        const std::vector<std::string> logs = display.Logs();
        EXPECT_NE(std::find(logs.begin(), logs.end(), origin.Url("/") + ": " + c.note), logs.end());
        EXPECT_TRUE(crawl->HasErrorUrls());
        EXPECT_TRUE(origin.Requests().empty());
        EXPECT_EQ(crawl->ErrorUrls().size(), 2u);  // robots.txt and the page, for the retry list

        // Accepted knowingly: for the whole run (kelvrac --insecure), or by the condition.
        for (const bool whole_run : {true, false}) {
            environment.check_certificates = !whole_run;
            ClearStatuses();
            NewCrawl();
            ASSERT_EQ(Start(origin.Url("/"),
                            kPlainFlags | (whole_run ? 0 : store::JobFlag::kAcceptAnyCertificate)),
                      1);
            const std::size_t before = PageRequests(origin).size();
            RunCrawl();
            EXPECT_EQ(PageRequests(origin).size(), before + 1) << whole_run;
            EXPECT_FALSE(crawl->HasErrorUrls()) << whole_run;
        }
    }
}

struct RedirectCase {
    const char* from;  // scheme and path of the start URL
    int status;
    const char* to;  // scheme and path of the Location
};

TEST_F(HttpsCrawlTest, RedirectsBetweenTheSchemesAreFollowedOnce) {
    const RedirectCase cases[] = {
        // The same key under the other scheme: fetched again with the new scheme, no loop.
        {"http /", 301, "https /"},
        {"https /", 308, "http /"},
        {"http /", 302, "https /"},
        // Another key under the other scheme: an ordinary redirect.
        {"http /old", 307, "https /new"},
        {"https /old", 303, "http /new"},
    };
    WriteMcf("* 0/1/11\n");
    for (const RedirectCase& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " " + std::to_string(c.status));
        std::string location;
        TestOrigin origin([&](const Request& r) {
            const std::string at = SchemeAndPath(r);
            if (IsRobots(at)) return NoRobots();
            if (at == c.from) {
                return Reply().Send(HttpResponse("HTTP/1.1 " + std::to_string(c.status) + " Moved",
                                                 "", "Location: " + location + "\r\n"));
            }
            if (at == c.to) return Reply().Send(Html("<p>t</p>"));
            return Reply().Send(HttpResponse("HTTP/1.1 404 Not Found", "none"));
        });
        origin.UseTls(TestCertificate::kGood, true);
        const auto url = [&origin](std::string_view at) {
            const std::size_t space = at.find(' ');
            return (at.substr(0, space) == "https" ? origin.Url(at.substr(space + 1))
                                                   : origin.HttpUrl(at.substr(space + 1)));
        };
        location = url(c.to);
        ClearStatuses();
        OpenStore();
        NewCrawl();
        ASSERT_EQ(Start(url(c.from), kPlainFlags | store::JobFlag::kTraceMoved), 1);
        RunCrawl();
        std::vector<std::string> seen;
        for (const Request& r : PageRequests(origin)) seen.push_back(SchemeAndPath(r));
        EXPECT_EQ(seen, (std::vector<std::string>{c.from, c.to}));
        EXPECT_EQ(StatusNames(), (std::vector<std::string>{"Moved", "Success"}));
        EXPECT_EQ(LocalFile(location), "<p>t</p>");
        EXPECT_FALSE(crawl->HasErrorUrls());
    }
}

}  // namespace
}  // namespace kelvra::crawl::testing

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
    EXPECT_EQ(LocalFile(origin.Url("/a.html")), "<p>a</p>");
    EXPECT_EQ(LocalFile(origin.Url("/i.gif")), "GIF89a");
    EXPECT_FALSE(crawl->HasErrorUrls());
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

}  // namespace
}  // namespace kelvra::crawl::testing

// Cookies in a crawl: what one page sets reaches the pages it links to, also those fetched
// for the first time.
#include "crawl_fixture.h"
#include "util/header.h"

namespace kelvra::crawl::testing {
namespace {

class CookieCrawl : public CrawlFixture {
  protected:
    // The Cookie line of the request for path (empty when none or not requested).
    std::string CookieSentFor(const test::TestOrigin& origin, std::string_view path) {
        for (const test::Request& request : PageRequests(origin)) {
            if (request.RequestLine().find(std::string(" ") + std::string(path) + " ") !=
                std::string_view::npos) {
                return std::string(util::FindHeader(request.Head(), "Cookie:"));
            }
        }
        return "";
    }

    Site site;
};

TEST_F(CookieCrawl, SessionCookieReachesAPageVisitedForTheFirstTime) {
    site.Page("/a/one.html", Html("<a href=\"two.html\">two</a><a href=\"c/three.html\">3</a>",
                                  "Set-Cookie: sid=42; path=/\r\nSet-Cookie: dir=a\r\n"));
    site.Page("/a/two.html", Html("two"));
    site.Page("/a/c/three.html", Html("three"));
    test::TestOrigin origin([this](const test::Request& r) { return site.Answer(r); });
    store->SetCookiesEnabled(true);
    NewCrawl();
    Start(origin.Url("/a/one.html"), kPlainFlags | kSendCookie);
    RunCrawl();
    EXPECT_EQ(CookieSentFor(origin, "/a/one.html"), "");
    EXPECT_EQ(CookieSentFor(origin, "/a/two.html"), "dir=a; sid=42");  // deepest first
    ASSERT_EQ(PageRequests(origin).size(), 3u);
    EXPECT_EQ(CookieSentFor(origin, "/a/c/three.html"), "dir=a; sid=42");
}

TEST_F(CookieCrawl, WithoutSendCookieNothingIsSent) {
    site.Page("/a/one.html",
              Html("<a href=\"two.html\">two</a>", "Set-Cookie: sid=42; path=/\r\n"));
    site.Page("/a/two.html", Html("two"));
    test::TestOrigin origin([this](const test::Request& r) { return site.Answer(r); });
    store->SetCookiesEnabled(true);
    NewCrawl();
    Start(origin.Url("/a/one.html"), kPlainFlags);
    RunCrawl();
    ASSERT_EQ(PageRequests(origin).size(), 2u);
    EXPECT_EQ(CookieSentFor(origin, "/a/two.html"), "");
}

TEST_F(CookieCrawl, WithoutSaveCookieNothingIsKept) {
    site.Page("/a/one.html",
              Html("<a href=\"two.html\">two</a>", "Set-Cookie: sid=42; path=/\r\n"));
    site.Page("/a/two.html", Html("two"));
    test::TestOrigin origin([this](const test::Request& r) { return site.Answer(r); });
    NewCrawl();  // the store's cookies stay disabled
    Start(origin.Url("/a/one.html"), kPlainFlags | kSendCookie);
    RunCrawl();
    ASSERT_EQ(PageRequests(origin).size(), 2u);
    EXPECT_EQ(CookieSentFor(origin, "/a/two.html"), "");
}

}  // namespace
}  // namespace kelvra::crawl::testing

namespace kelvra::crawl::testing {
namespace {

TEST(CookieHeaderLine, SentWithSendCookieAlsoWithoutAStoredRecord) {
    RequestInputs inputs;
    inputs.url = "http://h/new.html";
    StoredState stored;  // no record for the URL
    stored.cookie_header = "Cookie: sid=42\r\n";
    std::uint32_t flags = kSendCookie;
    EXPECT_NE(BuildRequestHeaders(inputs, stored, flags).find("Cookie: sid=42\r\n"),
              std::string::npos);
    flags = 0;
    EXPECT_EQ(BuildRequestHeaders(inputs, stored, flags).find("Cookie:"), std::string::npos);
}

}  // namespace
}  // namespace kelvra::crawl::testing

// Sites that answer with intent: naming other hosts' files, or sending without end.
#include "crawl_fixture.h"
#include "util/header.h"

namespace kelvra::crawl::testing {
namespace {

using test::HttpResponse;
using test::Reply;
using test::TestOrigin;

class HostileSite : public CrawlFixture {
  protected:
    void SetUp() override {
        CrawlFixture::SetUp();
        WriteMcf("* 0/1/11\n");
    }
    void Crawl(const std::string& url) {
        NewCrawl();
        Start(url, kPlainFlags);
        RunCrawl();
    }
};

class OfferedName : public HostileSite, public ::testing::WithParamInterface<const char*> {};

// An answer that names the local file of another host's page, on its first fetch or on a
// later one, is stored under its own URL's name; the other page stays as it was.
TEST_P(OfferedName, IsNeitherUsedNorRecorded) {
    Site site;
    site.Page("/a.html", Html("victim"));
    TestOrigin victim([&site](const test::Request& request) { return site.Answer(request); });
    const std::string victim_file = "127.0.0.1_" + std::to_string(victim.Port()) + "/a.html";
    TestOrigin attacker([&victim_file](const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        return Reply().Send(Html("attacker", GetParam() + victim_file + "\r\n"));
    });
    Crawl(victim.Url("/a.html"));
    Crawl(attacker.Url("/b.html"));
    Crawl(attacker.Url("/b.html"));
    EXPECT_EQ(LocalFile(victim.Url("/a.html")), "victim");
    EXPECT_EQ(LocalFile(attacker.Url("/b.html")), "attacker");
    const store::treelistnode* record = store->FindRecord(attacker.Url("/b.html"));
    ASSERT_NE(record, nullptr);
    const char* text = record->value().text();
    EXPECT_EQ(util::FindHeader(text != nullptr ? text : "", "XF:"), "");
}

INSTANTIATE_TEST_SUITE_P(Lines, OfferedName, ::testing::Values("XF: ", "X-Fn: ", "xf:"));

// A robots.txt that goes on and on is read up to its limit and taken as if it ended there:
// the rules before the cut apply, those after it do not, and the host is crawled.
TEST_F(HostileSite, LongRobotsTxtIsCutAtItsLimit) {
    constexpr std::size_t kLimit = store::PickupLinkClassEx::kMaxRobotsBytes;
    std::string robots = "User-agent: *\nDisallow: /a/\n";
    while (robots.size() < kLimit) {
        robots +=
            "#" + std::string(std::min<std::size_t>(kLimit - robots.size(), 99) - 1, 'x') + "\n";
    }
    robots += "Disallow: /b/\n";
    robots += std::string(8 * kLimit, '#');
    Site site;
    site.Page("/robots.txt", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + robots);
    site.Page("/index.html", Html("<a href=/a/1.html><a href=/b/2.html>"));
    site.Page("/b/2.html", Html("two"));
    TestOrigin origin(
        [&site](const test::Request& request) { return site.Answer(request).Close(); });
    NewCrawl();
    Start(origin.Url("/index.html"), kPlainFlags, 2);
    RunCrawl();
    EXPECT_EQ(RequestLines(origin),
              (std::vector<std::string>{"GET /index.html HTTP/1.1", "GET /b/2.html HTTP/1.1"}));
    EXPECT_EQ(LocalFile(origin.Url("/robots.txt")), robots.substr(0, kLimit));
}

}  // namespace
}  // namespace kelvra::crawl::testing

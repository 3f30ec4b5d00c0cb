#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "pickup_fake_store.h"
#include "store/robots.h"

namespace kelvra::store {
namespace {

class Robots : public ::testing::Test {
  protected:
    Robots() { job_.rules = crawl_.AddCrawlContext({"http://h/", "ftp://f/"}, "", ""); }

    // Takes URLs through NextAllowed until the queue is empty or only waiting URLs remain.
    std::vector<std::string> Take(int limit = 20) {
        std::vector<std::string> urls;
        std::string url;
        for (int i = 0; i < limit; ++i) {
            const Allowed r = crawl_.NextAllowed(url, true);
            if (r == Allowed::kNone) break;
            if (r == Allowed::kUrl) urls.push_back(url);
        }
        return urls;
    }
    // Takes the host's robots.txt request, which the waiting URLs let pass.
    void TakeRobots(const std::string& host) {
        std::string url;
        for (int i = 0; i < 10 && url != "http://" + host + "/robots.txt"; ++i) {
            if (crawl_.NextAllowed(url, true) == Allowed::kNone) break;
        }
        ASSERT_EQ(url, "http://" + host + "/robots.txt");
    }
    void Handle(const std::string& host, const char* body) {
        FetchJob robots = job_;
        robots.flags |= JobFlag::kRobots;
        const std::string url = "http://" + host + "/robots.txt";
        auto rec = store_.Add(url, "text/plain", body);
        EXPECT_TRUE(crawl_.ProcessObject(url, rec, robots, true));
        crawl_.RobotsFetched(url, robots, true);
    }

    FakeStore store_;
    PickupLinkClassEx crawl_{&store_, ""};
    FetchJob job_;
};

TEST_F(Robots, OneRequestPerHostAndUrlsWaitForIt) {
    EXPECT_EQ(crawl_.AdmitUrl("http://h/a.html", job_, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(crawl_.AdmitUrl("http://h/b.html", job_, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(crawl_.QueueCount(), 3u);  // a, robots.txt, b
    EXPECT_EQ(Take(3), std::vector<std::string>{"http://h/robots.txt"});
    const FetchJob* robots = crawl_.GetJob("http://h/robots.txt");
    ASSERT_NE(robots, nullptr);
    EXPECT_TRUE(robots->flags & JobFlag::kRobots);
    EXPECT_EQ(robots->trace, 1);
    EXPECT_EQ(crawl_.QueueCount(), 2u);  // both wait
    Handle("h", "User-agent: *\nDisallow:\n");
    EXPECT_EQ(Take(), (std::vector<std::string>{"http://h/a.html", "http://h/b.html"}));
}

TEST_F(Robots, StartUrlBitsDoNotReachTheRobotsRequest) {
    job_.flags = JobFlag::kStartUrl | JobFlag::kPost | 0x3;
    ASSERT_EQ(crawl_.AdmitUrl("http://User@H:8080/x", job_, kModeOrdinary), kAdmitQueued);
    const FetchJob* robots = crawl_.GetJob("http://h:8080/robots.txt");
    ASSERT_NE(robots, nullptr);
    EXPECT_EQ(robots->flags, 0x3u | JobFlag::kRobots);
}

TEST_F(Robots, FtpHostsGetNoRequest) {
    EXPECT_EQ(crawl_.AdmitUrl("ftp://f/pub/x", job_, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(crawl_.QueueCount(), 1u);
    EXPECT_EQ(Take(), std::vector<std::string>{"ftp://f/pub/x"});
}

TEST_F(Robots, DisallowWorksOnWholeSegments) {
    for (const char* u : {"http://h/cgi-bin/x.cgi", "http://h/cgi-bin2/", "http://h/ok.html"}) {
        crawl_.AdmitUrl(u, job_, kModeOrdinary);
    }
    TakeRobots("h");
    Handle("h",
           "# comment\n"
           "User-agent: Other\n"
           "Disallow: /ok.html\n"
           "\n"
           "User-Agent: *   # ours\n"
           "Allow: /cgi-bin/x.cgi\n"
           "Disallow: /cgi-bin  \n"
           "Disallow:\n"
           "User-agent: *\n"
           "Disallow: /cgi-bin2/\n");
    EXPECT_EQ(Take(), (std::vector<std::string>{"http://h/cgi-bin2/", "http://h/ok.html"}));
}

TEST_F(Robots, DisallowValuesStayOnTheFilesOwnHost) {
    // A value without its leading '/' is still a path of the host: joined to the host name it
    // would name another host (example.co + m/x is example.com/x).
    for (const char* u : {"http://example.com/x", "http://example.co/m/x", "http://example.co/ok",
                          "http://example.co/~u/p"}) {
        crawl_.AdmitUrl(u, job_, kModeForced);
    }
    Take();  // both robots.txt requests; the pages wait
    Handle("example.com", "User-agent: *\nDisallow:\n");
    Handle("example.co", "User-agent: *\nDisallow: m/x\nDisallow: /%7Eu/\n");
    EXPECT_EQ(Take(), (std::vector<std::string>{"http://example.co/ok", "http://example.com/x"}));
}

TEST_F(Robots, AJobHandedOutOutlivesADisallowOfItsUrl) {
    // The scheduler holds the job of every URL it fetches, the robots.txt request's own among
    // them, while robots.txt is parsed: marking a node must never free its job.
    crawl_.AdmitUrl("http://h/a/page.html", job_, kModeOrdinary);
    crawl_.AdmitUrl("http://h/a/page.html/x", job_, kModeOrdinary);  // below the page's node
    TakeRobots("h");
    const FetchJob* robots = crawl_.GetJob("http://h/robots.txt");
    const FetchJob* page = crawl_.GetJob("http://h/a/page.html");
    ASSERT_NE(robots, nullptr);
    ASSERT_NE(page, nullptr);
    Handle("h", "User-agent: *\nDisallow: /robots.txt\nDisallow: /a/page.html\n");
    ASSERT_EQ(crawl_.GetJob("http://h/robots.txt"), robots);
    ASSERT_EQ(crawl_.GetJob("http://h/a/page.html"), page);
    EXPECT_TRUE(robots->flags & JobFlag::kRobots);
    // The page and everything below it are still disallowed.
    EXPECT_EQ(Take(), std::vector<std::string>{});
    EXPECT_EQ(crawl_.QueueCount(), 0u);
}

TEST_F(Robots, OnlyTheHeadOfALongFileCountsAndEndsWhereItIsCut) {
    for (const char* u : {"http://h/a/y", "http://h/b/z"}) crawl_.AdmitUrl(u, job_, kModeOrdinary);
    TakeRobots("h");
    const std::string cut_line = "Disallow: /a";  // "/x" follows past the limit
    std::string text = "User-agent: *\n";
    text += std::string(PickupLinkClassEx::kMaxRobotsBytes - text.size() - cut_line.size(), '\n');
    text += cut_line + "/x\nDisallow: /b/\n";
    Handle("h", text.c_str());
    EXPECT_EQ(Take(), std::vector<std::string>{"http://h/b/z"});
}

TEST_F(Robots, AgentNameIsExactCase) {
    crawl_.AdmitUrl("http://h/a/x", job_, kModeOrdinary);
    TakeRobots("h");
    Handle("h",
           "User-agent: tamble-kelvra\nDisallow: /\nUser-agent: Tamble-Kelvra/5\n"
           "Disallow: /a/\n");
    EXPECT_EQ(Take(), std::vector<std::string>{});
}

TEST_F(Robots, FailedRobotsRequestDropsTheHost) {
    crawl_.AdmitUrl("http://h/a", job_, kModeOrdinary);
    TakeRobots("h");
    FetchJob robots = *crawl_.GetJob("http://h/robots.txt");
    crawl_.RobotsFetched("http://h/robots.txt", robots, false);
    crawl_.RobotsFetched("http://h/robots.txt", robots, true);  // stays disallowed
    EXPECT_EQ(Take(), std::vector<std::string>{});
    EXPECT_EQ(crawl_.QueueCount(), 0u);
}

TEST_F(Robots, UnreadableFileAndOtherObjects) {
    EXPECT_FALSE(crawl_.ParseRobots(store_.dir() + "/none", "h"));
    // Objects without the robots flag still go to link extraction.
    auto rec = store_.Add("http://h/p.html", "text/html", "<a href=q.html>");
    EXPECT_TRUE(crawl_.ProcessObject("http://h/p.html", rec, job_, true));
    EXPECT_NE(crawl_.GetJob("http://h/q.html"), nullptr);
}

}  // namespace
}  // namespace kelvra::store

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "store/condition.h"
#include "store/getlistmanager.h"
#include "store/homelist.h"
#include "store/pickuplink.h"

namespace kelvra::store {
namespace {

std::vector<std::string> Drain(getlistmanager& f) {
    std::vector<std::string> urls;
    while (auto url = f.Dequeue(true)) urls.push_back(*url);
    return urls;
}

class Frontier : public ::testing::Test {
  protected:
    // A crawl allowed under h/d/ with the given filter text.
    FetchJob Job(std::string_view filters = "",
                 std::vector<std::string> allowed = {"http://h/d/"}) {
        FetchJob job;
        job.rules = frontier_.AddCrawlContext(allowed, filters, "");
        return job;
    }
    getlistmanager frontier_;
};

TEST_F(Frontier, SameUrlTwiceIsKnownWhateverTheMode) {
    FetchJob job = Job();
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/a.html", job, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/a.html", job, kModeForced), kAdmitKnown);
    EXPECT_EQ(frontier_.AdmitUrl("ftp://h/d/a.html", job, kModeOrdinary), kAdmitKnown);
    EXPECT_EQ(frontier_.QueueCount(), 1u);
}

TEST_F(Frontier, AdmissionAnswers) {
    FetchJob job = Job(kDefaultFilterText);
    // Refused by the default filter.
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/a.zip", job, kModeOrdinary), kAdmitFiltered);
    // Outside the allowed URLs.
    EXPECT_EQ(frontier_.AdmitUrl("http://other/x.html", job, kModeOrdinary), kAdmitOutside);
    // Depth used up.
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/deep.html", job, kModeDepthUsedUp), kAdmitDepthUsedUp);
    // Forced links go anywhere that is not denied.
    EXPECT_EQ(frontier_.AdmitUrl("http://other/x.html", job, kModeForced), kAdmitQueued);
    EXPECT_EQ(Drain(frontier_), (std::vector<std::string>{"http://other/x.html"}));
}

TEST_F(Frontier, StartUrlBypassesFiltersAndOtherSchemesAreNotQueueable) {
    FetchJob job = Job(kDefaultFilterText);
    job.flags |= JobFlag::kStartUrl;
    EXPECT_EQ(frontier_.AdmitUrl("http://far/a.zip", job, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(frontier_.AdmitUrl("gopher://g/x", job, kModeOrdinary), kAdmitNotQueueable);
    EXPECT_NE(frontier_.FindUrl("gopher://g/x"), nullptr);  // it entered the tree
    EXPECT_EQ(frontier_.QueueCount(), 1u);
}

TEST_F(Frontier, FilterClassBits) {
    FetchJob job = Job("2: example\n4: /news/\nF:.cgi");
    // 2: forced, so it may leave the allowed URLs.
    EXPECT_EQ(frontier_.AdmitUrl("http://www.example.com/", job, kModeOrdinary), kAdmitQueued);
    // 4: old data kept for that URL only.
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/news/a.html", job, kModeOrdinary), kAdmitQueued);
    EXPECT_TRUE(frontier_.GetJob("http://h/d/news/a.html")->flags & JobFlag::kPreserveOldData);
    EXPECT_FALSE(job.flags & JobFlag::kPreserveOldData);
    // 8 (in F): followed beyond the link depth.
    EXPECT_EQ(frontier_.AdmitUrl("http://h/d/run.cgi", job, kModeDepthUsedUp), kAdmitQueued);
}

TEST_F(Frontier, ForcedByFilterButDeniedByAcceptList) {
    FetchJob job = Job("2: example", {"!http://www.example.com/private/", "http://h/d/"});
    EXPECT_EQ(frontier_.AdmitUrl("http://www.example.com/private/x", job, kModeOrdinary),
              kAdmitDenied);
    EXPECT_EQ(frontier_.AdmitUrl("http://www.example.com/public/x", job, kModeOrdinary),
              kAdmitQueued);
}

TEST_F(Frontier, GetAllUndeterminedLetsOneOutsidePageIn) {
    FetchJob job = Job();
    job.flags |= JobFlag::kGetAllUndetermined;
    EXPECT_EQ(frontier_.AdmitUrl("http://other/p.html", job, kModeOrdinary), kAdmitQueued);
    EXPECT_EQ(frontier_.GetJob("http://other/p.html")->depth, 1);  // its links stop there
    job.depth = 3;
    EXPECT_EQ(frontier_.AdmitUrl("http://other/q.html", job, kModeOrdinary), kAdmitOutside);
}

TEST_F(Frontier, QueueEntriesAndUserInformation) {
    FetchJob job = Job({}, {"http://h/"});
    ASSERT_EQ(frontier_.AdmitUrl("http://u:pw@h/a", job, kModeOrdinary), kAdmitQueued);
    ASSERT_EQ(frontier_.AdmitUrl("ftp://h/b?x=1/2", job, kModeOrdinary), kAdmitQueued);
    // The same resource with other credentials is the same URL.
    EXPECT_EQ(frontier_.AdmitUrl("http://v@h/a", job, kModeOrdinary), kAdmitKnown);
    EXPECT_EQ(frontier_.PeekState(), getlistmanager::kUnexamined);
    EXPECT_EQ(frontier_.CurrentHost(), frontier_.FindKey("h"));
    EXPECT_EQ(frontier_.Dequeue(false), "http://u:pw@h/a");
    EXPECT_EQ(Drain(frontier_), (std::vector<std::string>{"http://u:pw@h/a", "ftp://h/b?x=1/2"}));
    EXPECT_EQ(frontier_.PeekState(), -1);
    EXPECT_EQ(frontier_.CurrentHost(), nullptr);
    // The query stays one name in the tree.
    EXPECT_NE(frontier_.FindKey("h/b?x=1/2"), nullptr);
    EXPECT_EQ(frontier_.FindKey("h/b?x=1"), nullptr);
}

TEST_F(Frontier, EnqueueRules) {
    frontier_.InsertPath("h/a b");
    EXPECT_TRUE(frontier_.Enqueue("http://h/a%20b", false));  // decoded to find the node
    EXPECT_FALSE(frontier_.Enqueue("http://h/missing", true));
    EXPECT_FALSE(frontier_.Enqueue("gopher://h/a b", true));
    EXPECT_FALSE(frontier_.Enqueue("http:///a", true));
    EXPECT_EQ(frontier_.EntryUrl(frontier_.FindKey("h/a b")), "http://h/a%20b");
}

TEST_F(Frontier, CrawlContexts) {
    CrawlRules* first = frontier_.AddCrawlContext({"http://H/d/x.html"}, "", "  \n ");
    CrawlRules* second = frontier_.AddCrawlContext({}, "0:.gif", "X-A: 1");
    EXPECT_EQ(first->index, 0);
    EXPECT_EQ(second->index, 1);
    EXPECT_FALSE(first->extra_header.has_value());
    EXPECT_EQ(second->extra_header, "X-A: 1");
    EXPECT_TRUE(first->filters.empty());
    EXPECT_EQ(second->filters.ClassOf("h/a.gif"), 0);
    EXPECT_EQ(std::vector<std::string>(first->accept.begin(), first->accept.end()),
              (std::vector<std::string>{"h/d/"}));
}

TEST_F(Frontier, ConcurrentAdmissionAdmitsEachUrlOnce) {
    FetchJob job = Job({}, {"http://h/"});
    auto admit = [&] {
        for (int i = 0; i < 2000; ++i) {
            frontier_.AdmitUrl("http://h/p" + std::to_string(i), job, kModeOrdinary);
        }
    };
    std::thread a(admit), b(admit);
    a.join();
    b.join();
    EXPECT_EQ(frontier_.QueueCount(), 2000u);
}

TEST(FrontierQueue, MovingTheFirstEntryKeepsItsStateAndRemovingDropsIt) {
    PickupLinkClass crawl(nullptr, "");
    FetchJob job;
    job.rules = crawl.AddCrawlContext({"http://h/"}, "", "");
    ASSERT_EQ(crawl.AdmitUrl("http://h/a", job, kModeOrdinary), kAdmitQueued);
    ASSERT_EQ(crawl.AdmitUrl("ftp://u@h/b", job, kModeOrdinary), kAdmitQueued);
    const treelistnode* record = nullptr;
    EXPECT_FALSE(crawl.NextUnprocessed(record));  // without a store: both must be fetched
    ASSERT_EQ(crawl.AdmitUrl("http://h/c", job, kModeOrdinary), kAdmitQueued);
    // a(must fetch) b(must fetch) c(unexamined)
    EXPECT_TRUE(crawl.MoveFirstToEnd());
    EXPECT_EQ(crawl.Dequeue(false), "ftp://u@h/b");
    EXPECT_TRUE(crawl.MoveFirstToEnd());
    EXPECT_EQ(crawl.PeekState(), getlistmanager::kUnexamined);  // c
    EXPECT_TRUE(crawl.MoveFirstToEnd());
    EXPECT_EQ(crawl.PeekState(), getlistmanager::kMustFetch);  // a, examined before it moved
    EXPECT_TRUE(crawl.RemoveFirst());
    EXPECT_EQ(Drain(crawl), (std::vector<std::string>{"ftp://u@h/b", "http://h/c"}));
    EXPECT_FALSE(crawl.MoveFirstToEnd());
    EXPECT_FALSE(crawl.RemoveFirst());
}

TEST(FrontierQueue, HostsMoveToTheTailUntilAnotherHostComesFirst) {
    getlistmanager frontier;
    FetchJob job;
    job.rules = frontier.AddCrawlContext({"http://a/", "http://b/", "http://c/"}, "", "");
    for (const char* url : {"http://a/1", "http://b/1", "http://a/2", "http://c/1"}) {
        ASSERT_EQ(frontier.AdmitUrl(url, job, kModeOrdinary), kAdmitQueued);
    }
    const treelistnode* a = frontier.FindKey("a");
    const treelistnode* b = frontier.FindKey("b");
    EXPECT_EQ(frontier.MoveHostsToEnd({a}, 10), 1u);  // stops at b
    EXPECT_EQ(frontier.MoveHostsToEnd({a, b}, 0), 0u);
    EXPECT_EQ(frontier.MoveHostsToEnd({a, b}, 2), 2u);  // the limit ends it before c
    EXPECT_EQ(Drain(frontier), (std::vector<std::string>{"http://c/1", "http://a/1",
                                                         "http://b/1", "http://a/2"}));
    EXPECT_EQ(frontier.MoveHostsToEnd({a}, 10), 0u);  // empty queue
}

TEST(FrontierQueue, EnqueuedOnlyForTellsWhetherOtherHostsWereQueuedSince) {
    getlistmanager frontier;
    FetchJob job;
    job.rules = frontier.AddCrawlContext({"http://a/", "http://b/"}, "", "");
    auto queue = [&](const char* url) {
        ASSERT_EQ(frontier.AdmitUrl(url, job, kModeOrdinary), kAdmitQueued);
    };
    queue("http://a/1");
    const treelistnode* a = frontier.FindKey("a");
    const std::uint64_t after_a1 = frontier.EnqueueCount();
    EXPECT_TRUE(frontier.EnqueuedOnlyFor({}, after_a1));  // nothing since
    queue("http://a/2");
    EXPECT_TRUE(frontier.EnqueuedOnlyFor({a}, after_a1));
    EXPECT_FALSE(frontier.EnqueuedOnlyFor({}, after_a1));
    queue("http://b/1");
    const treelistnode* b = frontier.FindKey("b");
    EXPECT_FALSE(frontier.EnqueuedOnlyFor({a}, after_a1));
    EXPECT_FALSE(frontier.EnqueuedOnlyFor({b}, after_a1));  // a/2 came before b/1
    const std::uint64_t after_b1 = frontier.EnqueueCount();
    queue("http://a/3");
    EXPECT_FALSE(frontier.EnqueuedOnlyFor({b}, after_b1));
    EXPECT_TRUE(frontier.EnqueuedOnlyFor({b, a}, after_b1));
}

TEST(FrontierQueue, QueuedUrlKeepsSchemeAndUserInformation) {
    getlistmanager frontier;
    FetchJob job;
    job.rules = frontier.AddCrawlContext({"http://h/"}, "", "");
    ASSERT_EQ(frontier.AdmitUrl("ftp://u:pw@h/d/f.txt", job, kModeOrdinary), kAdmitQueued);
    ASSERT_EQ(frontier.AdmitUrl("http://h/p?q=/x", job, kModeOrdinary), kAdmitQueued);
    Drain(frontier);  // the answer outlives the queue entry
    EXPECT_EQ(frontier.QueuedUrl("h/d/f.txt"), "ftp://u:pw@h/d/f.txt");
    EXPECT_EQ(frontier.QueuedUrl("h/p?q=/x"), "http://h/p?q=/x");
    EXPECT_EQ(frontier.QueuedUrl("h/d"), std::nullopt);  // a directory, no URL of its own
    EXPECT_EQ(frontier.QueuedUrl("u:pw@"), std::nullopt);
    EXPECT_EQ(frontier.QueuedUrl("other/x"), std::nullopt);
}

TEST(AcceptList, FirstMatchingEntryDecides) {
    HomeListManager list;
    list.Append("!host/dir/private/");
    list.Append("host/dir/");
    EXPECT_EQ(list.AcceptCheck("http://host/dir/private/x"), -1);
    EXPECT_EQ(list.AcceptCheck("ftp://host/dir/y"), 1);
    EXPECT_EQ(list.AcceptCheck("http://host/other"), 0);
    EXPECT_EQ(list.AcceptCheck("http://HOST/dir/y"), 0);  // compared case-sensitively
}

TEST(AcceptList, AddDirectoryOnlyWhenItChangesTheVerdict) {
    HomeListManager list;
    EXPECT_TRUE(list.AddDirectory("http://Host:80/a/b.html?q=/x/"));
    EXPECT_FALSE(list.AddDirectory("http://host/a/c/d.html"));  // already allowed
    EXPECT_TRUE(list.AddDirectory("!http://host/a/c/"));
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()),
              (std::vector<std::string>{"host/a/", "!host/a/c/"}));
    // The denial comes after the broader allowance, so it is never reached.
    EXPECT_EQ(list.AcceptCheck("host/a/c/x"), 1);

    HomeListManager denied;
    EXPECT_TRUE(denied.AddDirectory("!http://x/p/"));
    EXPECT_FALSE(denied.AddDirectory("!http://x/p/q/"));  // already denied
    EXPECT_FALSE(denied.AddDirectory("http://x/p/r/"));   // a verdict exists already
    EXPECT_EQ(denied.Count(), 1u);
}

TEST(AcceptList, RemoveDirectoryKeepsTheOrder) {
    HomeListManager list;
    for (const char* u : {"http://a/1/", "http://b/2/", "http://c/3/"}) list.AddDirectory(u);
    list.RemoveDirectory("http://b/2/page.html");
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()),
              (std::vector<std::string>{"a/1/", "c/3/"}));
}

class StartUrls : public ::testing::Test {
  protected:
    PickupLinkClass crawl_{nullptr, ""};
};

TEST_F(StartUrls, QueuesAndMarksRefusedUrls) {
    CrawlRequest request;
    request.urls = {"http://h/d/index.html", "*http://h/form.cgi?a=1", "gopher://g/x",
                    "http://h/d/index.html"};
    request.flags = JobFlag::kGetAll;
    request.depth = 3;
    request.trace = 2;
    request.filters = std::string(kDefaultFilterText);
    EXPECT_EQ(crawl_.RegisterStartUrls(request), 2);
    const FetchJob* job = crawl_.GetJob("http://h/d/index.html");
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->flags, JobFlag::kGetAll | JobFlag::kStartUrl);
    EXPECT_EQ(job->depth, 3);
    EXPECT_EQ(job->trace, 2);
    EXPECT_TRUE(crawl_.GetJob("http://h/form.cgi?a=1")->flags & JobFlag::kPost);
    // Not queueable and its scope was new: marked and taken back.
    EXPECT_EQ(static_cast<unsigned char>(request.urls[2][0]), 0xFF);
    EXPECT_EQ(job->rules->accept.AcceptCheck("g/x"), 0);
    // Already known, but its scope was already there: not marked.
    EXPECT_EQ(request.urls[3][0], 'h');
    EXPECT_EQ(std::vector<std::string>(job->rules->accept.begin(), job->rules->accept.end()),
              (std::vector<std::string>{"h/d/", "h/"}));
}

TEST_F(StartUrls, RelativeLinkAllowsTheWholeServer) {
    CrawlRequest request;
    request.urls = {"http://h/a/b/index.html"};
    request.flags = JobFlag::kRelativeLink;
    ASSERT_EQ(crawl_.RegisterStartUrls(request), 1);
    const FetchJob* job = crawl_.GetJob("http://h/a/b/index.html");
    EXPECT_EQ(job->rules->accept.AcceptCheck("h/elsewhere.html"), 1);
}

}  // namespace
}  // namespace kelvra::store

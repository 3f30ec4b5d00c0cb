#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pickup_fake_store.h"
#include "platform/ownedfile.h"
#include "store/pickuplink.h"

namespace kelvra::store {
namespace {

using Urls = std::vector<std::string>;

class ObjectLinks : public ::testing::Test {
  protected:
    ObjectLinks() {
        job_.rules = crawl_.AddCrawlContext({"http://h/d/"}, "", "");
        job_.flags = 1;  // fetch only text again
    }
    Urls Drain() {
        Urls urls;
        while (auto url = crawl_.Dequeue(true)) urls.push_back(*url);
        return urls;
    }

    FakeStore store_;
    PickupLinkClass crawl_{&store_, ""};
    FetchJob job_;
};

TEST_F(ObjectLinks, HtmlPageWithReferrer) {
    ASSERT_EQ(crawl_.AdmitUrl("http://h/d/p.html", job_, kModeForced), kAdmitQueued);
    crawl_.Dequeue(true);
    auto rec = store_.Add("http://h/d/p.html", "text/html", "<a href=q.html>");
    EXPECT_TRUE(crawl_.ProcessObject("http://h/d/p.html", rec, job_, true));
    EXPECT_EQ(Drain(), Urls{"http://h/d/q.html"});
    EXPECT_EQ(crawl_.GetJob("http://h/d/q.html")->referrer, crawl_.FindUrl("http://h/d/p.html"));
}

TEST_F(ObjectLinks, StyleSheetsByTypeOrExtension) {
    auto by_type = store_.Add("http://h/d/s", "text/css", "a{b: url(one.gif)}");
    EXPECT_TRUE(crawl_.ProcessObject("http://h/d/s", by_type, job_, true));
    auto by_ext = store_.Add("http://h/d/t.css", "application/octet-stream", "a{b: url(two.gif)}");
    EXPECT_TRUE(crawl_.ProcessObject("http://h/d/t.css", by_ext, job_, true));
    EXPECT_EQ(Drain(), (Urls{"http://h/d/one.gif", "http://h/d/two.gif"}));
}

TEST_F(ObjectLinks, NoTypeOrNoFileOrNoPlugin) {
    auto untyped = store_.Add("http://h/d/u", std::nullopt, "<a href=x.html>");
    EXPECT_FALSE(crawl_.ProcessObject("http://h/d/u", untyped, job_, true));
    auto missing = store_.Add("http://h/d/m.html", "text/html", nullptr);
    EXPECT_FALSE(crawl_.ProcessObject("http://h/d/m.html", missing, job_, true));
    auto flash = store_.Add("http://h/d/f.swf", "application/x-shockwave-flash", "FWS");
    EXPECT_FALSE(crawl_.ProcessObject("http://h/d/f.swf", flash, job_, true));
    EXPECT_EQ(Drain(), Urls{});
}

TEST_F(ObjectLinks, RedirectTargetWithTraceMoved) {
    job_.flags = JobFlag::kStartUrl | JobFlag::kTraceMovedStart | JobFlag::kPost;
    job_.rules->accept.AddDirectory("http://h/old/");
    auto rec =
        store_.Add("http://h/old/p.html", std::nullopt, nullptr, {{"LO:", "http://h/new/p.html"}});
    EXPECT_FALSE(crawl_.ProcessObject("http://h/old/p.html", rec, job_, true));  // no type
    EXPECT_EQ(Drain(), Urls{"http://h/new/p.html"});
    // The redirect carries the page's own per-link flags; the old directory gave way.
    EXPECT_TRUE(crawl_.GetJob("http://h/new/p.html")->flags & JobFlag::kPost);
    EXPECT_EQ(job_.rules->accept.AcceptCheck("h/old/x"), 0);
    EXPECT_EQ(job_.rules->accept.AcceptCheck("h/new/x"), 1);
}

TEST_F(ObjectLinks, DeniedRedirectDoesNotWidenTheList) {
    job_.flags = JobFlag::kTraceMoved | JobFlag::kGetAll;
    job_.rules->accept.AddDirectory("!http://x/no/");
    auto rec = store_.Add("http://h/d/r", std::nullopt, nullptr, {{"LO:", "http://x/no/a"}});
    crawl_.ProcessObject("http://h/d/r", rec, job_, true);
    EXPECT_EQ(Drain(), Urls{});  // forced by GetAll, but denied
    EXPECT_EQ(job_.rules->accept.Count(), 2u);
}

TEST_F(ObjectLinks, DeniedRedirectIsRecognisedHoweverItIsEscaped) {
    // An allowed redirect of a start URL replaces the page's directory by the target's; a
    // denied one leaves the list alone, whichever spelling of the target the server sent.
    for (const char* target : {"http://h/~no/p.html", "http://h/%7Eno/p.html"}) {
        FetchJob job = job_;
        job.rules = crawl_.AddCrawlContext({"!http://h/~no/", "http://h/old/"}, "", "");
        job.flags = JobFlag::kStartUrl | JobFlag::kTraceMovedStart;
        auto rec = store_.Add("http://h/old/p.html", std::nullopt, nullptr, {{"LO:", target}});
        crawl_.ProcessObject("http://h/old/p.html", rec, job, true);
        EXPECT_EQ(job.rules->accept.AcceptCheck("h/old/x"), 1) << target;
    }
}

// Links read ahead on a worker and admitted later give the frontier exactly what reading them
// at admission gives: the same URLs in the same order with the same jobs, and the same allowed
// list; links read for another page or in another way are not used.
TEST(ReadAhead, AdmitsWhatReadingAtOnceAdmits) {
    const std::string page =
        "<base href=\"http://h/d/b/\"><frame src=\"http://x/f/f.html\"><meta http-equiv=refresh "
        "content=\"0; url=r.html\"><a href=a.html#x><img src=i.gif><form action=q>"
        "<input type=hidden name=k value=v><input type=submit></form>"
        "<style>p{background: url(bg.gif)}</style><a href=\"ftp://x/g.zip\">";
    const struct {
        const char* name;
        const char* url;
        const char* type;
        std::string content;
        std::uint32_t flags;
        bool read_full;  // how the links were read ahead
        bool full;       // how they are admitted
    } cases[] = {
        {"page", "http://h/d/p.html", "text/html", page, 1 | JobFlag::kFormTag | JobFlag::kFtpAll,
         true, true},
        {"frames only", "http://h/d/p.html", "text/html", page, JobFlag::kTraceMoved, false, false},
        {"read shallow, admitted whole", "http://h/d/p.html", "text/html", page, JobFlag::kFtpAll,
         false, true},
        {"style sheet", "http://h/d/s.css", "text/css", "a{b: url(one.gif)} @import \"two.css\"", 1,
         true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeStore store;
        const treelistnode* record = store.Add(c.url, c.type, c.content.c_str());
        auto admit = [&](bool ahead) {
            PickupLinkClass table(&store, "");
            FetchJob job;
            job.rules = table.AddCrawlContext({"http://h/d/"}, "", "");
            job.flags = c.flags;
            job.depth = 2;
            FoundLinks found;
            if (ahead) {
                EXPECT_TRUE(table.ReadLinksAhead(c.url, record, job, c.read_full, found));
            }
            EXPECT_TRUE(table.ProcessReadAhead(c.url, record, job, c.full, found));
            std::vector<std::string> admitted;
            while (auto url = table.Dequeue(true)) {
                const FetchJob* queued = table.GetJob(*url);
                admitted.push_back(*url + " " + std::to_string(queued->flags) + " " +
                                   std::to_string(queued->depth));
            }
            admitted.push_back(std::to_string(job.rules->accept.Count()));
            return admitted;
        };
        const auto at_once = admit(false);
        EXPECT_GT(at_once.size(), 2u);
        EXPECT_EQ(admit(true), at_once);
    }
}

// A link to a URL the frontier holds is left out when read ahead: admitting it would change
// nothing. Links admitted since the read are still admitted in order.
TEST(ReadAhead, LinksAlreadyKnownAreLeftOut) {
    FakeStore store;
    const char* url = "http://h/d/p.html";
    const treelistnode* record =
        store.Add(url, "text/html", "<a href=a.html><a href=b.html><a href=a.html><a href=c.html>");
    PickupLinkClass table(&store, "");
    FetchJob job;
    job.rules = table.AddCrawlContext({"http://h/d/"}, "", "");
    job.flags = 1;
    job.depth = 2;
    ASSERT_EQ(table.AdmitUrl("http://h/d/a.html", job, kModeOrdinary), kAdmitQueued);
    FoundLinks found;
    ASSERT_TRUE(table.ReadLinksAhead(url, record, job, true, found));
    std::vector<std::string> read;
    for (std::size_t k = 0; k < found.entries.size(); ++k) read.emplace_back(found.Url(k));
    EXPECT_EQ(read, (std::vector<std::string>{"http://h/d/b.html", "http://h/d/c.html"}));
    ASSERT_EQ(table.AdmitUrl("http://h/d/c.html", job, kModeOrdinary), kAdmitQueued);
    EXPECT_TRUE(table.ProcessReadAhead(url, record, job, true, found));
    std::vector<std::string> queued;
    while (auto next = table.Dequeue(true)) queued.push_back(*next);
    EXPECT_EQ(queued, (std::vector<std::string>{"http://h/d/a.html", "http://h/d/c.html",
                                                 "http://h/d/b.html"}));
}

// The body just received is read where it lies in the temporary file, after the header, with
// the same result as the stored file gives (a style element is read again by its offsets).
TEST(ReadAhead, TheReceivedBodyGivesWhatTheStoredFileGives) {
    const std::string body =
        "<a href=a.html><style>p{background: url(bg.gif)}</style><img src=i.gif>";
    FakeStore store;
    const char* url = "http://h/d/p.html";
    const treelistnode* record = store.Add(url, "text/html", body.c_str());
    PickupLinkClass table(&store, "");
    FetchJob job;
    job.rules = table.AddCrawlContext({"http://h/d/"}, "", "");
    job.flags = 1;
    auto read = [&](ReceivedBody received) {
        FoundLinks found;
        EXPECT_TRUE(table.ReadLinksAhead(url, record, job, true, found, received));
        std::vector<std::string> urls;
        for (std::size_t k = 0; k < found.entries.size(); ++k) urls.emplace_back(found.Url(k));
        return urls;
    };
    const std::string header = "HTTP/1.1 200 OK\r\nX: <a href=header.html>\r\n\r\n";
    const platform::FilePtr temp(std::tmpfile());
    ASSERT_TRUE(temp);
    std::fputs((header + body).c_str(), temp.get());
    std::fflush(temp.get());
    const auto from_file = read(ReceivedBody{});
    EXPECT_EQ(from_file, (std::vector<std::string>{"http://h/d/a.html", "http://h/d/bg.gif",
                                                    "http://h/d/i.gif"}));
    EXPECT_EQ(read(ReceivedBody{temp.get(), header.size()}), from_file);
}

TEST(ReadAhead, NothingToReadAheadForOtherObjects) {
    FakeStore store;
    PickupLinkClass table(&store, "");
    FetchJob job;
    FoundLinks found;
    const treelistnode* image = store.Add("http://h/i.gif", "image/gif", "GIF");
    EXPECT_FALSE(table.ReadLinksAhead("http://h/i.gif", image, job, true, found));
    const treelistnode* missing = store.Add("http://h/m.html", "text/html", nullptr);
    EXPECT_FALSE(table.ReadLinksAhead("http://h/m.html", missing, job, true, found));
    const treelistnode* robots = store.Add("http://h/robots.txt", "text/html", "<a href=x>");
    job.flags = JobFlag::kRobots;
    EXPECT_FALSE(table.ReadLinksAhead("http://h/robots.txt", robots, job, true, found));
    EXPECT_EQ(found.source, LinkSource::kNone);
}

class StoredCopies : public ObjectLinks {
  protected:
    void Queue(const std::string& url, std::uint32_t flags) {
        FetchJob job = job_;
        job.flags = flags;
        ASSERT_EQ(crawl_.AdmitUrl(url, job, kModeForced), kAdmitQueued);
    }
};

TEST_F(StoredCopies, PolicyDecidesWhichCopiesAreUsed) {
    Queue("http://h/d/new.html", 3);   // no record: fetch
    Queue("http://h/d/page.html", 1);  // text with "text only again": fetch
    Queue("http://h/d/img.gif", 1);    // image: use the stored copy
    store_.Add("http://h/d/page.html", "text/html", "x");
    const treelistnode* img = store_.Add("http://h/d/img.gif", "image/gif", "GIF");
    const treelistnode* node = nullptr;
    auto job = crawl_.NextUnprocessed(node);
    ASSERT_TRUE(job);
    EXPECT_EQ(node, img);
    EXPECT_EQ(job->flags, 1u);
    // The used entry left the queue; the others wait, examined, to be fetched.
    EXPECT_EQ(crawl_.QueueCount(), 2u);
    EXPECT_EQ(crawl_.PeekState(), getlistmanager::kMustFetch);
    EXPECT_FALSE(crawl_.NextUnprocessed(node));
    EXPECT_EQ(crawl_.QueueCount(), 2u);
}

TEST_F(StoredCopies, StartUrlsAndPartialCopies) {
    Queue("http://h/d/start.html", 2 | JobFlag::kStartUrl);  // start URLs fetched again
    Queue("http://h/d/part.zip", 3);                         // partial: stays queued
    store_.Add("http://h/d/start.html", "text/html", "x");
    const treelistnode* part =
        store_.Add("http://h/d/part.zip", "application/zip", "PK", {{"XRange:", "2"}});
    const treelistnode* node = nullptr;
    ASSERT_TRUE(crawl_.NextUnprocessed(node));
    EXPECT_EQ(node, part);
    EXPECT_EQ(crawl_.QueueCount(), 2u);
    EXPECT_EQ(crawl_.Dequeue(false), "http://h/d/part.zip");
    EXPECT_EQ(crawl_.PeekState(), getlistmanager::kMustFetch);
}

TEST_F(StoredCopies, TakingCopiesLeavesTheQueueInTheOrderOfAWalkFromItsHead) {
    // Each look goes from the head and turns what must be fetched round to the tail.
    Queue("http://h/d/a.html", 1);
    store_.Add("http://h/d/a.html", "text/html", "x");
    const treelistnode* node = nullptr;
    EXPECT_FALSE(crawl_.NextUnprocessed(node));  // a examined: to be fetched
    for (const char* url : {"http://h/d/b.gif", "http://h/d/c.html", "http://h/d/d.gif",
                            "http://h/d/e.html"}) {
        Queue(url, 1);
    }
    const treelistnode* b = store_.Add("http://h/d/b.gif", "image/gif", "GIF");
    store_.Add("http://h/d/c.html", "text/html", "x");
    const treelistnode* d = store_.Add("http://h/d/d.gif", "image/gif", "GIF");
    ASSERT_TRUE(crawl_.NextUnprocessed(node));  // a to the tail, b taken
    EXPECT_EQ(node, b);
    ASSERT_TRUE(crawl_.NextUnprocessed(node));  // c to the tail, d taken
    EXPECT_EQ(node, d);
    EXPECT_FALSE(crawl_.NextUnprocessed(node));  // e examined; a full turn changes no order
    std::vector<std::string> order;
    while (auto url = crawl_.Dequeue(true)) order.push_back(*url);
    EXPECT_EQ(order, (std::vector<std::string>{"http://h/d/e.html", "http://h/d/a.html",
                                                "http://h/d/c.html"}));
}

TEST_F(StoredCopies, MissingLocalFileIsFetched) {
    Queue("http://h/d/gone.gif", 3);
    store_.Add("http://h/d/gone.gif", "image/gif", nullptr);
    const treelistnode* node = nullptr;
    ASSERT_TRUE(crawl_.NextUnprocessed(node));
    EXPECT_EQ(crawl_.QueueCount(), 1u);
}

}  // namespace
}  // namespace kelvra::store

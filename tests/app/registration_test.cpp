// URL registration: what counts as an entered URL, the start jobs built from stored and default
// conditions, refused entries, and the [History] list after the crawl.

#include <gtest/gtest.h>

#include "app/registration.h"
#include "app/startup_core_fixture.h"
#include "crawl/plaindisplay.h"
#include "store/configclass.h"

namespace kelvra::app {
namespace {

using testing::AppCoreTest;

struct EntryCase {
    const char* text;
    const char* registered;  // nullptr: not a URL
    const char* why;
};

TEST(RegistrationEntry, WhatCountsAsAUrlAndHowItIsRegistered) {
    const EntryCase cases[] = {
        {"www.example.com/", nullptr, "a host name without scheme"},
        {"abcdef://h/", "abcdef://h/", "a six-character scheme"},
        {"abcdefg://h/", nullptr, "\"://\" starting at the eighth character"},
        {"http://h/page.html#part", "http://h/page.html", "the fragment is cut"},
        {"http://h/a.html   ", "http://h/a.html", "trailing blanks removed"},
        {"http://H.Example/x/../y", "http://h.example/y", "normalised"},
        {"#http://h/", nullptr, "nothing before the '#'"},
    };
    for (const EntryCase& row : cases) {
        EXPECT_EQ(LooksLikeUrl(row.text), std::string_view(row.text).find("://") < 7) << row.why;
        const std::optional<std::string> url = EnteredUrl(row.text);
        if (!row.registered) {
            EXPECT_FALSE(url) << row.why;
        } else {
            EXPECT_EQ(url, row.registered) << row.why;
        }
    }
}

TEST(RegistrationEntry, AStartJobCarriesTheConditionAndTheFilterOnlyWhenItIsOn) {
    store::AcquisitionCondition condition;
    condition.classes = 3;
    condition.complete_trace = -1;
    condition.filters = "0:.zip$";
    condition.extra_header = "X-A: 1";
    condition.accept.Append("h/dir/");
    condition.accept.Append("!h/dir/private/");
    store::CrawlRequest job = StartJob(condition, {"http://h/dir/"});
    EXPECT_EQ(job.urls, (std::vector<std::string>{"http://h/dir/"}));
    EXPECT_EQ(job.flags, store::ConditionFlags(condition));
    EXPECT_EQ(job.depth, 3);
    EXPECT_EQ(job.trace, -1);
    EXPECT_EQ(job.filters, "0:.zip$");
    EXPECT_EQ(job.extra_header, "X-A: 1");
    EXPECT_EQ(job.allowed, (std::vector<std::string>{"h/dir/", "!h/dir/private/"}));
    condition.enable_filter = false;
    EXPECT_EQ(StartJob(condition, {"http://h/"}).filters, "") << "filter off: no filter text";
}

// Records the start jobs; refuses (marks) every URL that ends in "refused.html".
class RecordingCrawl final : public crawl::KelvraClass {
  public:
    using KelvraClass::KelvraClass;
    ~RecordingCrawl() override { KillAllWorkers(); }
    int AddStartUrl(store::CrawlRequest& request) override {
        int accepted = 0;
        for (std::string& url : request.urls) {
            if (url.ends_with("refused.html")) {
                url[0] = static_cast<char>(0xFF);
            } else {
                ++accepted;
            }
        }
        jobs.push_back(request);
        return accepted;
    }
    std::vector<store::CrawlRequest> jobs;
};

class Registration : public AppCoreTest {
  protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        core_ = NewCore();
        core_->StartUp(0);
    }
    void TearDown() override { core_->ShutDown(true); }

    void StoreConditions() {
        store::GetConditionClass file;
        static_cast<void>(file.Load(data_ + "kelvraw.cf"));  // names the file Save writes
        store::AcquisitionCondition own;
        own.classes = 5;
        file.WriteCondition("http://h/own/", own);
        store::AcquisitionCondition fallback;
        fallback.classes = 2;
        fallback.enable_filter = false;
        file.WriteCondition("Condition", fallback);
        ASSERT_TRUE(file.Save());
    }

    std::unique_ptr<AppCore> core_;
    crawl::PlainCrawlDisplay display_{stdout};
};

TEST_F(Registration, StoredConditionsGoAloneTheRestTogetherWithTheDefault) {
    StoreConditions();
    RecordingCrawl crawl(core_->Store(), 1, data_ + "kelvra.mcf", display_);
    std::vector<std::string> registered;
    const std::vector<std::string> urls = {"http://h/a.html", "http://h/own/",
                                           "http://h/refused.html", "http://h/b.html"};
    EXPECT_EQ(RegisterStartUrls(*core_, crawl, urls, registered), 3);

    ASSERT_EQ(crawl.jobs.size(), 2u);
    EXPECT_EQ(crawl.jobs[0].urls, (std::vector<std::string>{"http://h/own/"}));
    EXPECT_EQ(crawl.jobs[0].depth, 5) << "its own condition";
    EXPECT_EQ(crawl.jobs[1].urls.size(), 3u) << "one start job for the default list";
    EXPECT_EQ(crawl.jobs[1].depth, 2) << "the default condition";
    EXPECT_EQ(crawl.jobs[1].filters, "");
    EXPECT_EQ(registered,
              (std::vector<std::string>{"http://h/own/", "http://h/a.html", "http://h/b.html"}))
        << "refused entries are not registered";
    EXPECT_EQ(
        ui_.statuses,
        (std::vector<std::string>{
            "http://h/a.html", "http://h/own/", "http://h/refused.html", "http://h/b.html",
            "Processing URLs with default acquisition condition...", "URL registration done."}));
}

TEST_F(Registration, WithoutAConditionFileEveryUrlTakesTheBuiltInDefault) {
    RecordingCrawl crawl(core_->Store(), 1, data_ + "kelvra.mcf", display_);
    std::vector<std::string> registered;
    EXPECT_EQ(RegisterStartUrls(*core_, crawl, {"http://h/x/"}, registered), 1);
    ASSERT_EQ(crawl.jobs.size(), 1u);
    store::AcquisitionCondition defaults;
    store::GetConditionClass none;
    none.ReadCondition("Condition", defaults, false);
    EXPECT_EQ(crawl.jobs[0].flags, store::ConditionFlags(defaults));
    EXPECT_EQ(crawl.jobs[0].filters, defaults.filters) << "the default filter text";
}

TEST_F(Registration, FetchedStartUrlsEnterTheHistory) {
    core_->Store().Add("http://h/fetched.html", "CT:text/html\n", true);
    std::vector<std::string> registered = {"http://h/fetched.html", "http://h/failed.html"};
    FinishCrawl(*core_, registered, false);
    EXPECT_EQ(core_->History().Count(), 0u) << "nothing fetched, nothing remembered";
    EXPECT_TRUE(registered.empty());

    registered = {"http://h/fetched.html", "http://h/failed.html"};
    FinishCrawl(*core_, registered, true);
    ASSERT_EQ(core_->History().Count(), 1u);
    EXPECT_EQ(*core_->History().Get(0), "http://h/fetched.html");
    EXPECT_TRUE(registered.empty());
}

}  // namespace
}  // namespace kelvra::app

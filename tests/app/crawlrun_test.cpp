// The crawl run kelvrac and the desktop program share: another round for the failed URLs the
// finish report queues again, the history after the last round, and a stop before the start.

#include "app/crawlrun.h"

#include <gtest/gtest.h>

#include <atomic>

#include "app/startup_core_fixture.h"
#include "crawl/plaindisplay.h"
#include "support/test_origin.h"

namespace kelvra::app {
namespace {

using testing::AppCoreTest;

// Chooses every failed URL the first time the report offers them, none after that.
class RetryOnceDisplay final : public crawl::PlainCrawlDisplay {
  public:
    bool ChooseUrls(const std::vector<std::string>& urls,
                    std::vector<std::size_t>& chosen) override {
        if (offers++ > 0) return false;
        for (std::size_t i = 0; i < urls.size(); ++i) chosen.push_back(i);
        return true;
    }
    bool ChooseSaveFile(const crawl::SaveFileRequest&, std::string&) override { return false; }

    std::atomic<int> offers = 0;
};

class CrawlRunTest : public AppCoreTest {
  protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        core_ = NewCore();
        core_->StartUp(0);
    }
    void TearDown() override { core_->ShutDown(true); }

    std::unique_ptr<AppCore> core_;
    RetryOnceDisplay display_;
};

TEST_F(CrawlRunTest, FailedUrlsChosenInTheReportGoAgainInANewRound) {
    // The connection drops until the report has offered the URL again.
    test::TestOrigin origin([this](const test::Request&) {
        if (display_.offers == 0) return test::Reply().Close();
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "hi"));
    });
    CrawlOutcome outcome;
    {
        CrawlRun run(*core_, display_);
        ASSERT_EQ(run.QueueStartUrls({origin.Url("/a")}), 1);
        outcome = run.Run();
    }
    EXPECT_EQ(display_.offers, 1);
    EXPECT_FALSE(outcome.failed);
    EXPECT_GT(outcome.processed, 0);
    ASSERT_EQ(core_->History().Count(), 1u) << "the start URL was fetched in the second round";
    EXPECT_EQ(*core_->History().Get(0), origin.Url("/a"));
}

TEST_F(CrawlRunTest, AStopBeforeTheRunFetchesNothing) {
    test::TestOrigin origin({test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "hi"))});
    CrawlRun run(*core_, display_);
    ASSERT_EQ(run.QueueStartUrls({origin.Url("/a")}), 1);
    run.Stop();
    const CrawlOutcome outcome = run.Run();
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.processed, 0);
    EXPECT_TRUE(origin.Requests().empty());
    EXPECT_EQ(core_->History().Count(), 0u);
}

}  // namespace
}  // namespace kelvra::app

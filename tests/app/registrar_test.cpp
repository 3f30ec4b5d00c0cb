// Registration from the entry and multi-URL dialogs: the crawl it creates or joins, the busy
// state, the condition dialog, refusals and the retry list.

#include "app/registrar.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup_core_fixture.h"
#include "support/test_origin.h"

namespace kelvra::app {
namespace {

using testing::AppCoreTest;
using Urls = std::vector<std::string>;

class RegistrarTest : public AppCoreTest {
  protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        core_ = NewCore();
        core_->StartUp(0);
        registrar_ = std::make_unique<Registrar>(*core_, busy_, dialogs_);
    }
    void TearDown() override {
        registrar_.reset();
        core_->ShutDown(true);
    }

    // The page requests the origin saw (robots.txt aside), sorted.
    Urls RequestLines() const {
        Urls lines;
        for (const test::Request& request : origin_.Requests()) {
            std::string line(request.RequestLine().substr(0, request.RequestLine().find(" HTTP")));
            if (line != "GET /robots.txt") lines.push_back(std::move(line));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    bool Beeped() const { return std::count(ui_.beeps.begin(), ui_.beeps.end(), Sound::kStop) > 0; }

    test::TestOrigin origin_{[](const test::Request&) {
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "hi"));
    }};
    std::unique_ptr<AppCore> core_;
    BusyState busy_ = BusyState::kIdle;
    testing::ScriptedRegistrationDialogs dialogs_;
    std::unique_ptr<Registrar> registrar_;
};

TEST_F(RegistrarTest, EnteredUrlIsRegisteredWithoutItsFragmentAndFetched) {
    dialogs_.entries.push_back(UrlEntry{origin_.Url("/a") + "#part  ", EntryButton::kRun});
    EXPECT_EQ(registrar_->RegisterUrls({origin_.Url("/")}), 1);
    EXPECT_EQ(dialogs_.entry_initials, Urls{origin_.Url("/")});
    EXPECT_EQ(RequestLines(), Urls{"GET /a"});
    EXPECT_EQ(dialogs_.crawls, 1);
    EXPECT_EQ(dialogs_.enabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(busy_, BusyState::kIdle);
    ASSERT_EQ(core_->History().Count(), 1u);
    EXPECT_EQ(*core_->History().Get(0), origin_.Url("/a"));
    const auto& statuses = ui_.statuses;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        "Processing URLs with default acquisition condition..."),
              statuses.end());
    EXPECT_EQ(statuses.back(), "URL registration done.");
}

TEST_F(RegistrarTest, MultiUrlListLetsEventsRunEveryEightUrls) {
    Urls urls;
    for (char c = 'a'; c <= 'i'; ++c) urls.push_back(origin_.Url(std::string("/") + c));
    dialogs_.url_lists.push_back(urls);
    dialogs_.stop_before_run = true;
    EXPECT_EQ(registrar_->RegisterUrls({}, "list.mus"), 9);
    ASSERT_EQ(dialogs_.multi_calls.size(), 1u);
    EXPECT_EQ(dialogs_.multi_calls[0].file, "list.mus");
    EXPECT_EQ(dialogs_.pending_runs, 1);
    EXPECT_EQ(dialogs_.crawls, 1);
}

TEST_F(RegistrarTest, ARegistrationDuringTheCrawlJoinsIt) {
    dialogs_.entries.push_back(UrlEntry{origin_.Url("/a"), EntryButton::kRun});
    dialogs_.entries.push_back(UrlEntry{origin_.Url("/b"), EntryButton::kRun});
    int joined = -1;
    dialogs_.during_run = [&] {
        dialogs_.during_run = nullptr;
        joined = registrar_->RegisterUrls({});
    };
    EXPECT_EQ(registrar_->RegisterUrls({}), 1);
    EXPECT_EQ(joined, 1);
    EXPECT_EQ(dialogs_.crawls, 1) << "the second registration only adds to the running crawl";
    EXPECT_EQ(RequestLines(), (Urls{"GET /a", "GET /b"}));
    EXPECT_EQ(core_->History().Count(), 2u);
}

TEST_F(RegistrarTest, ConditionDialogDecidesTheJobOrCancelsWithABeep) {
    dialogs_.edited_classes = 1;
    for (const bool accept : {true, false}) {
        ui_.beeps.clear();
        dialogs_.entries.push_back(UrlEntry{origin_.Url("/c"), EntryButton::kRunWithCondition});
        dialogs_.condition_answers.push_back(accept);
        EXPECT_EQ(registrar_->RegisterUrls({}), accept ? 1 : 0);
        EXPECT_EQ(dialogs_.condition_urls.back(), origin_.Url("/c"));
        EXPECT_EQ(Beeped(), !accept);
    }
    EXPECT_EQ(dialogs_.crawls, 1);
    EXPECT_EQ(RequestLines(), Urls{"GET /c"});
}

TEST_F(RegistrarTest, RefusalsLeaveTheBusyStateAndRunNoCrawl) {
    // Busy with something else: a beep and no dialog.
    busy_ = BusyState::kModal;
    EXPECT_EQ(registrar_->RegisterUrls({origin_.Url("/a")}), 0);
    EXPECT_EQ(registrar_->RefetchRetryList(dir_.Path("none.rlf")), 0);
    EXPECT_EQ(ui_.beeps.size(), 2u);
    EXPECT_TRUE(dialogs_.entry_initials.empty());
    EXPECT_EQ(busy_, BusyState::kModal);
    // Cancelled dialogs: nothing happens.
    busy_ = BusyState::kIdle;
    ui_.beeps.clear();
    dialogs_.entries.push_back(std::nullopt);
    dialogs_.url_lists.push_back(std::nullopt);
    EXPECT_EQ(registrar_->RegisterUrls({}), 0);
    EXPECT_EQ(registrar_->RegisterUrls({}, "", true), 0);
    EXPECT_TRUE(ui_.beeps.empty());
    // A file that is no retry list.
    EXPECT_LT(registrar_->RefetchRetryList(dir_.Path("none.rlf")), 0);
    EXPECT_TRUE(Beeped());
    EXPECT_EQ(dialogs_.crawls, 0);
    EXPECT_EQ(busy_, BusyState::kIdle);
    EXPECT_TRUE(origin_.Requests().empty());
}

}  // namespace
}  // namespace kelvra::app

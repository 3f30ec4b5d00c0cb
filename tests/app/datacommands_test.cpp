#include "app/datacommands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/stored_site_fixture.h"
#include "util/tempdir.h"

namespace kelvra::testing {
namespace {

using app::DialogResult;

// Chooses every candidate and keeps the texts the progress dialog showed.
class RecordingDialogs : public app::DataDialogs, public app::ProgressView {
  public:
    app::ProgressView& OpenProgress(std::string_view caption) override {
        captions.emplace_back(caption);
        return *this;
    }
    void SetProgressTitle(std::string_view title) override { captions.emplace_back(title); }
    void CloseProgress() override { ++closed; }
    std::optional<std::vector<std::string>> ChooseFiles(
        const std::vector<std::string>& candidates) override {
        offered = candidates;
        return candidates;
    }
    void ShowText(std::string_view text) override { texts.emplace_back(text); }
    void RunPendingEvents() override {}
    bool Quiet() const override { return false; }
    bool CancelRequested() const override { return false; }

    std::vector<std::string> captions;
    std::vector<std::string> texts;
    std::vector<std::string> offered;
    int closed = 0;
};

class DataCommandsTest : public StoredSiteTest {
  protected:
    bool Exists(const std::string& name) const {
        return ::access((data_ + name).c_str(), F_OK) == 0;
    }

    app::BusyState busy_ = app::BusyState::kIdle;
    RecordingDialogs dialogs_;
    TempDir destination_;
};

TEST_F(DataCommandsTest, MoveAsksForTheFolderAndConfirmsBeforeAnythingLeaves) {
    for (const DialogResult answer : {DialogResult::kNo, DialogResult::kYes}) {
        SCOPED_TRACE(answer == DialogResult::kYes ? "yes" : "no");
        Put("http://h/a.txt", "CT:text/plain\n", "a");
        ui_.folders.push_back(destination_.Path());
        ui_.answers.push_back(answer);
        app::RecordOutcome outcome;
        ASSERT_TRUE(app::RunRecordCommand(*core_, busy_, dialogs_,
                                          app::DataSelection::kBelowSelected,
                                          app::DataOperation::kMove, {"http://h/"}, outcome));
        EXPECT_EQ(busy_, app::BusyState::kIdle);
        EXPECT_EQ(ui_.titles.back(), app::kIdleTitle);
        EXPECT_EQ(outcome.handled, answer == DialogResult::kYes ? 1 : 0);
        EXPECT_EQ(Store().FindRecord("http://h/a.txt") == nullptr, answer == DialogResult::kYes);
    }
    EXPECT_EQ(dialogs_.captions, std::vector<std::string>{"Move Data"});
    EXPECT_EQ(dialogs_.texts.back(), "1 files processed.");
    store::headerlistex moved(destination_.Path(), "index.html", std::nullopt, "");
    ASSERT_GT(moved.Load(app::kHeaderFileName), 0);
    EXPECT_TRUE(moved.FindRecord("http://h/a.txt"));
}

// The links of the stored pages decide, followed without end and never fetched: the page
// linked from a linked page comes along, an unlinked one and a missing one do not.
TEST_F(DataCommandsTest, AllLinksTakeWhatTheStoredPagesReach) {
    Put("http://h/a.html", "CT:text/html\n", "<a href=\"b/b.html\">b</a><a href=\"gone.html\">");
    Put("http://h/b/b.html", "CT:text/html\n", "<img src=\"../c/c.png\"><a href=\"/a.html\">");
    Put("http://h/c/c.png", "CT:image/png\n", "png");
    Put("http://h/unlinked.html", "CT:text/html\n", "u");
    const std::vector<std::string> reached = {"http://h/a.html", "http://h/b/b.html",
                                              "http://h/c/c.png"};
    app::RecordOutcome outcome;
    ui_.folders.push_back(destination_.Path());
    ASSERT_TRUE(app::RunRecordCommand(*core_, busy_, dialogs_, app::DataSelection::kAllLinks,
                                      app::DataOperation::kCopy, {"http://h/a.html"}, outcome));
    EXPECT_EQ(outcome.handled, 3);
    EXPECT_EQ(outcome.destination, destination_.Path());
    store::headerlistex copied(destination_.Path(), "index.html", std::nullopt, "");
    ASSERT_GT(copied.Load(app::kHeaderFileName), 0);
    for (const std::string& url : reached) EXPECT_TRUE(copied.FindRecord(url)) << url;
    EXPECT_FALSE(copied.FindRecord("http://h/unlinked.html"));

    ui_.answers.push_back(DialogResult::kYes);
    ASSERT_TRUE(app::RunRecordCommand(*core_, busy_, dialogs_, app::DataSelection::kAllLinks,
                                      app::DataOperation::kRemove, {"http://h/a.html"}, outcome));
    EXPECT_EQ(outcome.handled, 3);
    EXPECT_EQ(ui_.messages.back().text, app::kDeleteLinkedWarning);
    for (const std::string& url : reached) EXPECT_FALSE(Store().FindRecord(url)) << url;
    EXPECT_TRUE(Exists("h/unlinked.html"));
    EXPECT_EQ(dialogs_.captions, (std::vector<std::string>{"Copy Data", "Remove Data"}));

    // Without a start URL there is nothing to trace and no dialog.
    ASSERT_TRUE(app::RunRecordCommand(*core_, busy_, dialogs_, app::DataSelection::kAllLinks,
                                      app::DataOperation::kRemove, {}, outcome));
    EXPECT_EQ(dialogs_.captions.size(), 2u);
}

// The empty-directory question is the second one of a removal: Cancel there keeps the
// directories, OK removes them.
TEST_F(DataCommandsTest, UnlinkedRemovalAsksForTheWholeTreeThenForEmptyDirectories) {
    for (const DialogResult answer : {DialogResult::kCancel, DialogResult::kOk}) {
        SCOPED_TRACE(answer == DialogResult::kOk ? "ok" : "cancel");
        Put("http://h/kept.txt", "CT:text/plain\n", "k");
        util::MakeDirectories(data_ + "h/x/y/stray.bin", data_.size());
        std::ofstream(data_ + "h/x/y/stray.bin") << "s";
        ui_.answers = {DialogResult::kYes, answer};
        ASSERT_TRUE(app::RunUnlinkedCommand(*core_, busy_, dialogs_, false, {}));
        EXPECT_EQ(dialogs_.offered, std::vector<std::string>{"h/x/y/stray.bin"});
        EXPECT_FALSE(Exists("h/x/y/stray.bin"));
        EXPECT_EQ(Exists("h/x"), answer == DialogResult::kCancel);
        EXPECT_TRUE(Exists("h/kept.txt"));
    }
    EXPECT_EQ(dialogs_.texts.back(), "2 directories were removed.");
    ui_.answers = {DialogResult::kYes};
    ASSERT_TRUE(app::RunUnlinkedCommand(*core_, busy_, dialogs_, false, {}));
    EXPECT_EQ(dialogs_.texts.back(), app::kNoFileFound);
}

}  // namespace
}  // namespace kelvra::testing

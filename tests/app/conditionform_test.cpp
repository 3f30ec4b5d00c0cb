// The condition dialogs without their windows: controls and record, storing and resetting a
// condition in kelvraw.cf, the accept-URL entries and the text edit limit.

#include "app/conditionform.h"

#include <gtest/gtest.h>

#include "app/startup_scripted_ui.h"
#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using kelvra::testing::ScriptedUserInterface;
using Entries = std::vector<std::string>;

TEST(ConditionControlsTest, RecordShowsInTheControls) {
    struct Row {
        std::int16_t get_all;
        std::uint8_t trace;  // TraceMoved and SRCobject
        std::int16_t complete_trace;
        std::int16_t reget_level;
        CheckState get_all_box;
        CheckState trace_box;
        bool trace_on;
        long count;
        int radio;
    };
    using S = CheckState;
    const Row rows[] = {
        {0, 0, 0, 0, S::kUnchecked, S::kUnchecked, false, 0, 0},
        {1, 2, 5, 1, S::kChecked, S::kChecked, true, 5, 1},             // "on" is 1 and 2
        {2, 1, -1, 2, S::kUndetermined, S::kUndetermined, true, 0, 2},  // undetermined 2 and 1
        {0, 1, 0, 7, S::kUnchecked, S::kUndetermined, false, 0, 3},  // unknown level: "取得しない"
    };
    for (const Row& row : rows) {
        store::AcquisitionCondition record;
        record.get_all = row.get_all;
        record.trace_moved = row.trace;
        record.src_object = row.trace;
        record.complete_trace = row.complete_trace;
        record.reget_level = row.reget_level;
        const ConditionControls c = ControlsOf(record);
        EXPECT_EQ(c.get_all, row.get_all_box) << row.get_all;
        EXPECT_EQ(c.trace_moved, row.trace_box) << int{row.trace};
        EXPECT_EQ(c.src_object, row.trace_box) << int{row.trace};
        EXPECT_EQ(c.complete_trace, row.trace_on) << row.complete_trace;
        EXPECT_EQ(c.complete_trace_count, row.count) << row.complete_trace;
        EXPECT_EQ(c.reget_level, row.radio) << row.reget_level;
    }
}

TEST(ConditionControlsTest, ControlsGoBackIntoTheRecord) {
    struct Row {
        CheckState get_all;
        long classes;
        bool trace_on;
        long count;
        CheckState trace;
        bool accepted;
        std::int16_t get_all_value;
        std::int16_t complete_trace;
        std::uint8_t trace_value;
        const char* why;
    };
    using S = CheckState;
    const Row rows[] = {
        {S::kChecked, 0, false, 0, S::kChecked, false, 0, 0, 1, "every link without a limit"},
        {S::kUndetermined, 0, false, 0, S::kUnchecked, true, 2, 0, 0, "undetermined: accepted"},
        {S::kChecked, 3, true, 4, S::kUndetermined, true, 1, 4, 1, "follow-up count"},
        {S::kUnchecked, 0, true, 0, S::kChecked, true, 0, -1, 2, "follow-up on, count 0: -1"},
        {S::kUnchecked, 0, false, 9, S::kChecked, true, 0, 0, 2, "follow-up off: 0"},
    };
    for (const Row& row : rows) {
        ScriptedUserInterface ui;
        store::AcquisitionCondition record;  // GetAll 0, TraceMoved 1
        ConditionControls c = ControlsOf(record);
        c.get_all = row.get_all;
        c.classes = row.classes;
        c.complete_trace = row.trace_on;
        c.complete_trace_count = row.count;
        c.trace_moved = row.trace;
        EXPECT_EQ(ReadControls(ui, c, record), row.accepted) << row.why;
        EXPECT_EQ(record.get_all, row.get_all_value) << row.why;
        EXPECT_EQ(record.complete_trace, row.complete_trace) << row.why;
        EXPECT_EQ(record.trace_moved, row.trace_value) << row.why;
        if (row.accepted) {
            EXPECT_TRUE(ui.messages.empty()) << row.why;
            EXPECT_EQ(record.classes, row.classes) << row.why;
            continue;
        }
        ASSERT_EQ(ui.messages.size(), 1u) << row.why;
        EXPECT_EQ(ui.messages[0].text,
                  "[全てのLinkを追跡取得] 時は\n取得階層数を１以上に設定しなければなりません.");
        EXPECT_EQ(ui.messages[0].caption, "取得設定警告");
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::kExclamation);
    }
}

class ConditionFormTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }

    std::string File() const { return dir_.Path("kelvraw.cf"); }
    void Write(const std::string& text) const {
        ASSERT_TRUE(platform::ReplaceFileContents(File(), text));
    }
    std::string Contents() const { return platform::ReadFileContents(File()).value_or(""); }

    kelvra::testing::TempDir dir_;
    ScriptedUserInterface ui_;
};

constexpr char kUrl[] = "http://h/a/";

TEST_F(ConditionFormTest, UrlConditionOpensFromTheDefaultAndOkStoresNothing) {
    Write("[Condition]\nClasses=4\n");
    store::AcquisitionCondition record;
    ConditionForm form(ui_, File(), kUrl, record);
    EXPECT_EQ(form.Title(), kUrl);
    EXPECT_EQ(form.ResetCaption(), "初期化(&Z)");
    ConditionControls c = form.Controls();
    EXPECT_EQ(c.classes, 4);
    c.classes = 6;
    EXPECT_TRUE(form.Ok(c));
    EXPECT_EQ(record.classes, 6);
    EXPECT_EQ(Contents(), "[Condition]\nClasses=4\n");
}

TEST_F(ConditionFormTest, StoringAUrlConditionAsksAndMarksTheResetButton) {
    store::AcquisitionCondition record;
    ConditionForm form(ui_, File(), kUrl, record);
    ConditionControls c = form.Controls();
    c.classes = 2;
    ui_.answers = {DialogResult::kCancel, DialogResult::kOk};
    EXPECT_FALSE(form.Store(c));  // the dialog stays open either way
    EXPECT_EQ(Contents(), "");
    EXPECT_EQ(form.ResetCaption(), "初期化(&Z)");
    EXPECT_FALSE(form.Store(c));
    EXPECT_EQ(form.ResetCaption(), "*初期化(&Z)");
    EXPECT_EQ(ui_.Captions(),
              (std::vector<std::string>{"取得条件を記録します", "取得条件を記録します"}));
    EXPECT_EQ(ui_.messages[0].text,
              "取得条件に変更が無い場合、条件保存ﾌｧｲﾙが大きくなるだけで利点がありません。\n"
              "記録しますか？");

    store::AcquisitionCondition again;
    const ConditionForm reopened(ui_, File(), kUrl, again);
    EXPECT_EQ(reopened.ResetCaption(), "*初期化(&Z)");
    EXPECT_EQ(again.classes, 2);
}

TEST_F(ConditionFormTest, DefaultConditionStoresOnOkAndOnStore) {
    for (const bool by_store : {false, true}) {
        Write("");
        store::AcquisitionCondition record;
        ConditionForm form(ui_, File(), "", record);
        EXPECT_EQ(form.Title(), "ﾃﾞﾌｫﾙﾄの取得条件設定");
        ConditionControls c = form.Controls();
        c.send_cookie = true;
        EXPECT_TRUE(by_store ? form.Store(c) : form.Ok(c));
        EXPECT_NE(Contents().find("[Condition]\n"), std::string::npos) << by_store;
        EXPECT_NE(Contents().find("SendCookie=1\n"), std::string::npos) << by_store;
    }
    EXPECT_TRUE(ui_.messages.empty());  // no question for the default condition
}

TEST_F(ConditionFormTest, ResetErasesTheSectionAndReadsTheDefaultAgain) {
    Write("[Condition]\nClasses=4\n[http://h/a/]\nClasses=9\nNoCache=1\n");
    store::AcquisitionCondition record;
    ConditionForm form(ui_, File(), kUrl, record);
    EXPECT_EQ(form.ResetCaption(), "*初期化(&Z)");
    EXPECT_EQ(form.Controls().classes, 9);
    ui_.answers = {DialogResult::kCancel, DialogResult::kOk};
    EXPECT_FALSE(form.Reset());
    EXPECT_EQ(record.classes, 9);
    EXPECT_TRUE(form.Reset());
    EXPECT_EQ(record.classes, 4);
    EXPECT_FALSE(record.no_cache);
    EXPECT_EQ(form.ResetCaption(), "初期化(&Z)");
    EXPECT_EQ(Contents().find("http://h/a/"), std::string::npos);
    EXPECT_EQ(ui_.messages[0].text, "取得条件をﾌｧｲﾙから消去し、初期値に戻しますか？");
    EXPECT_EQ(ui_.messages[0].caption, "取得条件の消去と初期化");

    // The default condition itself goes back to the built-in values.
    store::AcquisitionCondition fallback;
    ConditionForm defaults(ui_, File(), "", fallback);
    ui_.answers = {DialogResult::kOk};
    EXPECT_TRUE(defaults.Reset());
    EXPECT_EQ(fallback.classes, 0);
    EXPECT_EQ(Contents(), "");
}

TEST_F(ConditionFormTest, HeaderEditIsAWarningWhoseDefaultAnswerIsCancel) {
    store::AcquisitionCondition record;
    ConditionForm form(ui_, File(), kUrl, record);
    ui_.answers = {DialogResult::kCancel, DialogResult::kOk};
    EXPECT_FALSE(form.ConfirmHeaderEdit());
    EXPECT_TRUE(form.ConfirmHeaderEdit());
    EXPECT_EQ(ui_.defaults,
              (std::vector<DialogResult>{DialogResult::kCancel, DialogResult::kCancel}));
    EXPECT_EQ(ui_.Captions(), (std::vector<std::string>{"警告", "警告"}));
    EXPECT_EQ(ui_.messages[0].buttons, MessageButtons::kOkCancel);
}

TEST(AcceptEntryTest, EnteredTextBecomesADirectoryWithoutScheme) {
    struct Row {
        const char* text;
        std::optional<std::string> entry;
    };
    const Row rows[] = {
        {"  http://Host/Dir/x.html", "host/Dir/"},
        {"!HTTP://h/p/private/q", "!h/p/private/"},
        {"ftp://h:21/pub/a/", "h/pub/a/"},
        {"h/a/b?x=/c/", "h/a/"},  // cut before the query boundary
        {"http://h", "h/"},
        {"   ", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(AcceptEntry(row.text), row.entry) << row.text;
}

TEST(AcceptEntryTest, DuplicatesAreReportedAndRemovalAsks) {
    ScriptedUserInterface ui;
    Entries entries;
    EXPECT_TRUE(AddAcceptEntry(ui, entries, "http://h/a/x"));
    EXPECT_TRUE(AddAcceptEntry(ui, entries, "!http://h/a/"));
    EXPECT_FALSE(AddAcceptEntry(ui, entries, "http://H/a/y"));
    EXPECT_FALSE(AddAcceptEntry(ui, entries, ""));
    EXPECT_EQ(entries, (Entries{"h/a/", "!h/a/"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "すでに登録済みです");
    EXPECT_EQ(ui.messages[0].caption, "重複報告");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::kExclamation);

    ui.answers = {DialogResult::kCancel, DialogResult::kOk};
    EXPECT_EQ(RemoveListEntry(ui, entries, 0, true), std::nullopt);
    EXPECT_EQ(RemoveListEntry(ui, entries, 0, true), "h/a/");
    EXPECT_EQ(entries, Entries{"!h/a/"});
    EXPECT_EQ(ui.messages[1].text, "ﾘｽﾄから削除しますか？");
    EXPECT_EQ(ui.messages[1].caption, "h/a/");
    EXPECT_EQ(ui.messages[1].icon, MessageIcon::kQuestion);
}

TEST(TextBufferTest, OkKeepsWhatTheBufferHolds) {
    struct Row {
        std::string text;
        std::size_t buffer;
        std::string kept;
    };
    const Row rows[] = {
        {"abc", 4, "abc"},
        {"abc", 3, "ab"},       // one byte for the NUL
        {"a\xC3\xA9", 3, "a"},  // never half a character
        {"abc", 0, ""},
    };
    for (const Row& row : rows) EXPECT_EQ(FitTextBuffer(row.text, row.buffer), row.kept);
}

}  // namespace
}  // namespace kelvra::app

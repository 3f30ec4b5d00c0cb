// The condition dialogs and the multi-URL dialog as the user drives them: a stored condition
// round trip through the controls, the level refusal, 記憶 and 初期化, the accept URL list, and
// multi-URL files loaded and saved.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QTimer>

#include "gui/conditiondialogs.h"
#include "gui/dialogs.h"
#include "gui/multiurldialog.h"
#include "gui/window_fixture.h"
#include "platform/rawfile.h"

namespace kelvra::testing {
namespace {

using app::DialogResult;

template <class Widget>
Widget* Find(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Runs body on the modal dialog of type Dialog as soon as it is the active modal widget.
template <class Dialog, class Body>
void OnModal(Body body) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, body] {
        auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->stop();
        poll->deleteLater();
        body(*dialog);
    });
    poll->start();
}

class ConditionDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string File() const { return dir_.Path("kelvraw.cf"); }
    std::string Contents() const { return platform::ReadFileContents(File()).value_or(""); }

    TempDir dir_;
    ScriptedUserInterface ui_;
};

constexpr char kUrl[] = "http://h/a/";

TEST_F(ConditionDialogTest, StoredConditionGoesThroughTheControlsUnchanged) {
    ASSERT_TRUE(platform::ReplaceFileContents(
        File(),
        "[http://h/a/]\nGetAll=2\nTraceMoved=0\nSRCobject=2\nCompleteTrace=-1\n"
        "RegetLevel=2\nClasses=5\nNoCache=1\nAuthentication=0\n"));
    store::AcquisitionCondition record;
    gui::SubConfigDialog dialog(ui_, File(), kUrl, record, {}, nullptr);
    EXPECT_EQ(dialog.windowTitle(), kUrl);
    EXPECT_EQ(Find<QAbstractButton>(dialog, "Reset")->text(), "*初期化(&Z)");
    EXPECT_EQ(Find<QCheckBox>(dialog, "GetAll")->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(Find<QCheckBox>(dialog, "SRCobject")->checkState(), Qt::Checked);
    EXPECT_TRUE(Find<QCheckBox>(dialog, "CompleteTrace")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(dialog, "CompleteTrace.Count")->text(), "0");
    EXPECT_TRUE(Find<QAbstractButton>(dialog, "RegetLevel.2")->isChecked());
    record.classes = 0;  // what OK copies back must come from the controls
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(record.get_all, 2);
    EXPECT_EQ(record.trace_moved, 0);
    EXPECT_EQ(record.src_object, 2);
    EXPECT_EQ(record.complete_trace, -1);
    EXPECT_EQ(record.reget_level, 2);
    EXPECT_EQ(record.classes, 5);
    EXPECT_TRUE(record.no_cache);
    EXPECT_FALSE(record.authentication);
    EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(ConditionDialogTest, EveryLinkWithoutALevelIsRefusedAndTheDialogStays) {
    store::AcquisitionCondition record;
    gui::SubConfigDialog dialog(ui_, File(), "", record, {}, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "ﾃﾞﾌｫﾙﾄの取得条件設定");
    Find<QCheckBox>(dialog, "GetAll")->setCheckState(Qt::Checked);
    Find<QLineEdit>(dialog, "Classes")->setText("0");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    ASSERT_EQ(ui_.Captions(), std::vector<std::string>{"取得設定警告"});
    EXPECT_EQ(Contents(), "");
    Find<QCheckBox>(dialog, "GetAll")->setCheckState(Qt::PartiallyChecked);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_NE(Contents().find("GetAll=2\n"), std::string::npos);
}

TEST_F(ConditionDialogTest, StoreAndResetButtonsKeepAndEraseTheUrlCondition) {
    store::AcquisitionCondition record;
    gui::SubConfigDialog dialog(ui_, File(), kUrl, record, {}, nullptr);
    auto* reset = Find<QAbstractButton>(dialog, "Reset");
    EXPECT_EQ(reset->text(), "初期化(&Z)");
    Find<QLineEdit>(dialog, "Classes")->setText("7");
    ui_.answers = {DialogResult::kOk, DialogResult::kOk};
    Find<QAbstractButton>(dialog, "Store")->click();
    EXPECT_EQ(reset->text(), "*初期化(&Z)");
    EXPECT_NE(Contents().find("[http://h/a/]\n"), std::string::npos);
    EXPECT_NE(Contents().find("Classes=7\n"), std::string::npos);
    reset->click();
    EXPECT_EQ(reset->text(), "初期化(&Z)");
    EXPECT_EQ(Find<QLineEdit>(dialog, "Classes")->text(), "0");
    EXPECT_EQ(Contents().find("http://h/a/"), std::string::npos);
    EXPECT_EQ(ui_.Captions(),
              (std::vector<std::string>{"取得条件を記録します", "取得条件の消去と初期化"}));
}

TEST_F(ConditionDialogTest, AcceptListAddsNormalisedEntriesAndRemovesOnDoubleClick) {
    ASSERT_TRUE(platform::ReplaceFileContents(File(), "[http://h/a/]\nAccept0=h/old/\n"));
    store::AcquisitionCondition record;
    gui::SubConfigDialog dialog(ui_, File(), kUrl, record, {"h/known/"}, nullptr);
    OnModal<gui::HomeConfigDialog>([this](gui::HomeConfigDialog& accept) {
        auto* edit = Find<QComboBox>(accept, "Url");
        EXPECT_EQ(edit->itemText(0), "h/known/");
        edit->setEditText("!HTTP://H/Private/x.html");
        Find<QAbstractButton>(accept, "Add")->click();
        EXPECT_EQ(edit->currentText(), "");
        auto* list = Find<QListWidget>(accept, "Entries");
        ui_.answers = {DialogResult::kOk};
        list->itemDoubleClicked(list->item(0));
        EXPECT_EQ(edit->currentText(), "h/old/");
        EXPECT_EQ(list->count(), 1);
        accept.accept();
    });
    Find<QAbstractButton>(dialog, "Accept")->click();
    EXPECT_EQ(app::AcceptEntries(record.accept), std::vector<std::string>{"!h/Private/"});
}

TEST_F(WindowTest, ConditionCommandAndMessageOpenTheConditionDialog) {
    gui::KelvraWindow& window = Start();
    OnModal<gui::SubConfigDialog>([](gui::SubConfigDialog& dialog) {
        Find<QCheckBox>(dialog, "SendCookie")->setChecked(true);
        dialog.accept();
    });
    EXPECT_TRUE(window.RunCommand(app::CommandId::kConditionSettings));
    const std::string file = platform::ReadFileContents(data_ + "kelvraw.cf").value_or("");
    EXPECT_NE(file.find("[Condition]\n"), std::string::npos);
    EXPECT_NE(file.find("SendCookie=1\n"), std::string::npos);

    // The command message opens it for one URL, whose condition only 記憶 stores.
    OnModal<gui::SubConfigDialog>([this](gui::SubConfigDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), kUrl);
        ui_.answers = {DialogResult::kOk};
        Find<QAbstractButton>(dialog, "Store")->click();
        dialog.reject();
    });
    gui::CommandArgument argument;
    argument.url = kUrl;
    EXPECT_EQ(window.CommandMessage(gui::kMessageCondition, argument), 0);
    EXPECT_NE(platform::ReadFileContents(data_ + "kelvraw.cf")->find("[http://h/a/]\n"),
              std::string::npos);
}

TEST_F(WindowTest, MultiUrlDialogLoadsAndSavesMultiUrlFiles) {
    gui::KelvraWindow& window = Start();
    const std::string given = dir_.Path("given.mus");
    ASSERT_TRUE(platform::ReplaceFileContents(
        given, "[MultiURLSetting]\nhttp://h/b\n 1. http://h/c#top\nnot a url\n"));
    const std::string saved = dir_.Path("saved.mus");
    OnModal<gui::MultiUrlDlg>([&](gui::MultiUrlDlg& dialog) {
        EXPECT_EQ(Find<QListWidget>(dialog, "Urls")->count(), 3);
        auto* add = Find<QAbstractButton>(dialog, "Add");
        Find<QComboBox>(dialog, "Url")->setEditText("h/d");
        EXPECT_FALSE(add->isEnabled());
        Find<QComboBox>(dialog, "Url")->setEditText("http://h/d");
        add->click();
        ui_.files = {saved};
        dialog.SaveList();
        Find<QAbstractButton>(dialog, "Get")->click();
    });
    const std::optional<std::vector<std::string>> chosen =
        gui::ChooseUrlsDialog(&window, window.Core(), {"http://h/a"}, given);
    const std::vector<std::string> expected = {"http://h/a", "http://h/b", "http://h/c",
                                               "http://h/d"};
    EXPECT_EQ(chosen, expected);
    EXPECT_EQ(ui_.Captions(), (std::vector<std::string>{given, saved}));
    EXPECT_EQ(platform::ReadFileContents(saved),
              "[MultiURLSetting]\nhttp://h/d\nhttp://h/c\nhttp://h/b\nhttp://h/a\n");

    // A fresh load of the saved file replaces the list.
    OnModal<gui::MultiUrlDlg>([&](gui::MultiUrlDlg& dialog) {
        ui_.files = {saved};
        dialog.NewLoad();
        EXPECT_EQ(dialog.Urls(), expected);
        dialog.reject();
    });
    EXPECT_EQ(gui::ChooseUrlsDialog(&window, window.Core(), {"http://x/"}, {}), std::nullopt);
}

}  // namespace
}  // namespace kelvra::testing

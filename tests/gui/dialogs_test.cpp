// The dialogs as the user drives them: a number field leaving its range, the settings dialog
// showing and returning every field, and proxy profiles saved and loaded through the menu.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include "app/startup_scripted_ui.h"
#include "gui/dialogs.h"
#include "gui/guiui.h"
#include "util/tempdir.h"

namespace kelvra::testing {
namespace {

constexpr int kWaitMs = 10000;

TEST(NumberEditTest, LeavingItOutOfRangeTellsTheRangeAndUndoesTheEdit) {
    ScriptedUserInterface ui;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new gui::NumberEdit(ui, 0, 20, &window);
    auto* other = new QLineEdit(&window);
    layout->addWidget(edit);
    layout->addWidget(other);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(edit->SetValue(5));
    EXPECT_FALSE(edit->SetValue(21));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "25");
    EXPECT_EQ(edit->Value(), 25);
    other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.messages.empty(); }, kWaitMs));
    EXPECT_EQ(ui.messages[0].text, "値は \"0\" ～ \"20\" の範囲です.");
    EXPECT_EQ(ui.messages[0].caption, "数値入力ｴﾗｰ");
    EXPECT_EQ(ui.messages[0].icon, app::MessageIcon::kStop);
    EXPECT_EQ(edit->text(), "5");
    EXPECT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, kWaitMs));
    // Only the leading digits count.
    edit->setText("12abc");
    EXPECT_EQ(edit->Value(), 12);
}

// Settings that differ from the defaults in every field the dialog edits.
app::AppSettings EditedSettings() {
    app::AppSettings settings;
    settings.root_file_name = "top.htm";
    settings.size_limit = 2048;
    settings.get_timeout = 30;
    settings.retry_count = 7;
    settings.save_cookie = true;
    settings.get_thread = 3;
    settings.tree_double_clicked = 1;
    settings.threads = 6;
    settings.port = 18181;
    settings.reload_page = false;
    settings.save_post = true;
    settings.run_at_start = 2 | app::kUseStoredDataAfterCheck;
    settings.ftp_password = "me@example.com";
    settings.base_directory = "/srv/mirror";
    return settings;
}

template <class Widget>
Widget* Control(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(ConfigDialogTest, ShowsEveryFieldAndOkReturnsTheEditedOnes) {
    ScriptedUserInterface ui;
    const app::AppSettings before = EditedSettings();
    gui::ConfigDialog dialog(app::ConfigDialogFieldsFrom(before), ui, nullptr, nullptr);
    app::AppSettings round_trip;
    app::ApplyConfigDialogFields(dialog.Fields(), round_trip);
    EXPECT_TRUE(round_trip == before);

    Control<QLineEdit>(dialog, "Port")->setText("80");  // below 5001
    Control<QAbstractButton>(dialog, "RunAtStart.3")->click();
    Control<QAbstractButton>(dialog, "DataUse.1")->click();
    Control<QAbstractButton>(dialog, "TreeDoubleClicked.4")->click();
    Control<QSlider>(dialog, "Threads")->setValue(20);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "値は \"5001\" ～ \"65534\" の範囲です.");

    Control<QLineEdit>(dialog, "Port")->setText("8080");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const app::ConfigDialogFields fields = dialog.Fields();
    EXPECT_EQ(fields.port, 8080);
    EXPECT_EQ(fields.start_mode, 3);
    EXPECT_EQ(fields.data_use, 1);
    EXPECT_EQ(fields.double_click, 4);
    EXPECT_EQ(fields.threads, 20);
}

TEST(ProxyDialogTest, ProfilesSaveFromTheFieldsAndLoadThroughTheMenu) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string ini = dir.Path("kelvraw.ini");
    ScriptedUserInterface ui;
    server::ProxyEnvironment office;
    office.Server(server::ProxyProtocol::kHttp) = {"proxy.office", 8080};
    office.Server(server::ProxyProtocol::kGopher) = {"gopher.office", 70};
    office.ipmask = server::CombineIpMask(192, 168, 1);
    gui::AutoProxCfgDlg first(office, ini, ui, nullptr);
    EXPECT_FALSE(first.LoadMenu()->isEnabled());
    ui.texts = {"office", "   "};
    first.SaveProfile();
    first.SaveProfile();  // a blank name saves nothing
    EXPECT_EQ(ui.prompts,
              (std::vector<std::string>{gui::kProfileNamePrompt, gui::kProfileNamePrompt}));
    ASSERT_EQ(first.LoadMenu()->actions().size(), 1);

    gui::AutoProxCfgDlg second(server::ProxyEnvironment{}, ini, ui, nullptr);
    ASSERT_EQ(second.LoadMenu()->actions().size(), 1);
    EXPECT_EQ(second.LoadMenu()->actions()[0]->text(), "office");
    second.LoadMenu()->actions()[0]->trigger();
    EXPECT_TRUE(second.Environment() == office);
}

}  // namespace
}  // namespace kelvra::testing

// The main window as the user drives it: the menu-state rule by busy state and selection, and
// the settings and proxy dialogs reached through their commands, round trips into kelvraw.ini.

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>
#include <sstream>

#include "app/startup.h"
#include "gui/window_fixture.h"
#include "server/pac.h"
#include "store/headerlistex.h"
#include "store/store_record.h"

namespace kelvra::testing {
namespace {

using app::CommandId;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Runs body on the modal dialog of type Dialog once it shows.
template <class Dialog, class Body>
void WhenModal(Body body) {
    QTimer::singleShot(0, [body] {
        auto* dialog = dynamic_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        body(*dialog);
    });
}

template <class Widget>
Widget* Control(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

bool Enabled(gui::KelvraWindow& window, CommandId id) {
    window.UpdateMenuState();
    return window.Action(id)->isEnabled();
}

TEST_F(WindowTest, MenusFollowTheBusyStateAndTheSelection) {
    ::mkdir((data_ + "h").c_str(), 0755);
    ::mkdir((data_ + "h/d").c_str(), 0755);
    std::ofstream(data_ + "h/d/a.html") << "<title>A</title>";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << store::FormatRecord("h/d/a.html", "Content-Type: text/html\n", true);
    gui::KelvraWindow& window = Start();
    QTreeWidget* tree = window.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    tree->setFocus();
    tree->clearSelection();
    // Opening needs exactly one selected item in the pane used last.
    EXPECT_FALSE(Enabled(window, CommandId::kOpenAsUrl));
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_TRUE(Enabled(window, CommandId::kOpenAsUrl));
    EXPECT_TRUE(Enabled(window, CommandId::kUrlInfo));
    EXPECT_TRUE(Enabled(window, CommandId::kExportList));

    // While a modal command runs, the commands that need a quiet program are off.
    bool checked = false;
    WhenModal<gui::ConfigDialog>([&](gui::ConfigDialog& dialog) {
        EXPECT_EQ(window.Busy(), app::BusyState::kModal);
        EXPECT_FALSE(Enabled(window, CommandId::kSettings));
        EXPECT_FALSE(Enabled(window, CommandId::kExportList));
        EXPECT_FALSE(Enabled(window, CommandId::kProxySettings));
        EXPECT_TRUE(Enabled(window, CommandId::kOpenAsUrl));
        checked = true;
        dialog.reject();
    });
    EXPECT_TRUE(window.RunCommand(CommandId::kSettings));
    EXPECT_TRUE(checked);
    EXPECT_EQ(window.Busy(), app::BusyState::kIdle);
    EXPECT_TRUE(Enabled(window, CommandId::kSettings));
}

TEST_F(WindowTest, SettingsDialogOkReinitialisesWithTheNewSettings) {
    WriteIni("RunAtStart=1\nThreads=2\n");
    gui::KelvraWindow& window = Start();
    ASSERT_EQ(window.Monitor()->Rows(), 2);
    WhenModal<gui::ConfigDialog>([](gui::ConfigDialog& dialog) {
        Control<QLineEdit>(dialog, "RootFileName")->setText("top.htm");
        Control<QLineEdit>(dialog, "Port")->setText("50123");
        Control<QSlider>(dialog, "Threads")->setValue(5);
        Control<QAbstractButton>(dialog, "RunAtStart.0")->click();
        dialog.accept();
    });
    ui_.answers = {app::DialogResult::kYes};
    EXPECT_TRUE(window.RunCommand(CommandId::kSettings));
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back().caption, gui::kReinitialiseCaption);
    EXPECT_EQ(ui_.messages.back().text, gui::kReinitialiseQuestion);
    // Started again: a monitor with the new number of rows, the server as set to start.
    ASSERT_TRUE(window.Started());
    EXPECT_EQ(window.Monitor()->Rows(), 5);
    EXPECT_EQ(window.Core().ServerMode(), 0u);
    EXPECT_EQ(window.ServerMenuTitle(), "[Stopped(&S)]");
    window.close();
    const std::string ini = ReadWhole(IniPath());
    EXPECT_NE(ini.find("RootFileName=top.htm"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Port=50123"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Threads=5"), std::string::npos) << ini;
}

TEST_F(WindowTest, ProxySettingsStopTheServerWhileOpenAndKeepTheFieldsOnOk) {
    WriteIni("RunAtStart=1\n");
    gui::KelvraWindow& window = Start();
    ASSERT_EQ(window.Core().ServerMode() & app::kServerModeBits, 1u);
    std::uint32_t mode_while_open = 99;
    WhenModal<gui::AutoProxCfgDlg>([&](gui::AutoProxCfgDlg& dialog) {
        mode_while_open = window.Core().ServerMode();
        Control<QLineEdit>(dialog, "HTTPadrs")->setText("proxy.example");
        Control<QLineEdit>(dialog, "HTTPport")->setText("8080");
        Control<QLineEdit>(dialog, "IPMASK1")->setText("10");
        dialog.accept();
    });
    EXPECT_TRUE(window.RunCommand(CommandId::kProxySettings));
    EXPECT_EQ(mode_while_open, 0u);
    EXPECT_EQ(window.Core().ServerMode() & app::kServerModeBits, 1u);
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back().caption, server::kPacHintCaption);
    EXPECT_EQ(window.Core().Settings().proxy.Server(server::ProxyProtocol::kHttp),
              (server::ProxyServer{"proxy.example", 8080}));
    window.close();
    const std::string ini = ReadWhole(IniPath());
    EXPECT_NE(ini.find("HTTPadrs=proxy.example"), std::string::npos) << ini;
    EXPECT_NE(ini.find("IPMASK1=10"), std::string::npos) << ini;
}

TEST_F(WindowTest, CommandMessageAnswersTheBookmarkWindowsQuestions) {
    ::mkdir((data_ + "h").c_str(), 0755);
    ::mkdir((data_ + "h/d").c_str(), 0755);
    std::ofstream(data_ + "h/d/a.html") << "<html><TITLE>Stored &amp; found</TITLE>";
    std::ofstream(data_ + "h/d/b.css") << "p {}";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << store::FormatRecord("h/d/a.html", "CT:text/html\n", true)
        << store::FormatRecord("h/d/b.css", "CT:text/css\n", true)
        << store::FormatRecord("h/d/gone.html", "CT:text/html\n", true);
    WriteIni("RunAtStart=17\n");  // Local Mode, always answer from stored data
    gui::KelvraWindow& window = Start();

    struct Row {
        const char* url;
        long result;
        const char* title;
    };
    const Row kTitles[] = {
        {"http://h/d/a.html", 1, "Stored & found"},
        {"http://h/d/b.css", 1, ""},          // not HTML: no title, but true
        {"http://h/d/gone.html", 0, "keep"},  // no stored file
    };
    for (const Row& row : kTitles) {
        std::string title = "keep";
        gui::CommandArgument argument;
        argument.url = row.url;
        argument.title = &title;
        EXPECT_EQ(window.CommandMessage(gui::kMessagePageTitle, argument), row.result) << row.url;
        EXPECT_EQ(title, row.title) << row.url;
    }

    gui::CommandArgument argument;
    EXPECT_EQ(window.CommandMessage(gui::kMessageServerMode, argument), 17);
    argument.mode = 2;  // the flag bits stay
    EXPECT_EQ(window.CommandMessage(gui::kMessageSetServerMode, argument), 17);
    EXPECT_EQ(window.CommandMessage(gui::kMessageServerMode, argument), 18);
    argument.url = "http://h/d/a.html";
    EXPECT_EQ(window.CommandMessage(gui::kMessageSelectUrl, argument), 1);
    EXPECT_EQ(window.Tree()->currentItem()->text(0), "d");
    argument.url = "status text";
    window.CommandMessage(gui::kMessageStatusText, argument);
    EXPECT_EQ(ui_.statuses.back(), "status text");
    EXPECT_EQ(window.CommandMessage(0x7FF, argument), -1);
}

// The bookmark window's all-link copy: the objects the stored page links to go to the folder
// chosen, which comes back with the count.
TEST_F(WindowTest, LinkedDataMessageCopiesWhatTheLinksReachAndTellsTheFolder) {
    ::mkdir((data_ + "h").c_str(), 0755);
    std::ofstream(data_ + "h/a.html") << "<a href=\"b.html\">b</a>";
    std::ofstream(data_ + "h/b.html") << "b";
    std::ofstream(data_ + "h/c.html") << "c";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << store::FormatRecord("h/a.html", "CT:text/html\n", true)
        << store::FormatRecord("h/b.html", "CT:text/html\n", true)
        << store::FormatRecord("h/c.html", "CT:text/html\n", true);
    const std::string destination = dir_.Path("copy") + "/";
    ASSERT_EQ(::mkdir(destination.c_str(), 0755), 0);
    gui::KelvraWindow& window = Start();
    ui_.folders.push_back(destination);
    // The progress dialog waits for its "OK" at the end.
    QTimer ok;
    QObject::connect(&ok, &QTimer::timeout, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* button = widget->objectName() == "DataProgress"
                               ? widget->findChild<QPushButton*>("Button")
                               : nullptr;
            if (button && button->text() == "OK") button->click();
        }
    });
    ok.start(10);
    std::string chosen;
    gui::CommandArgument argument;
    argument.urls = {"http://h/a.html"};
    argument.destination = &chosen;
    EXPECT_EQ(window.CommandMessage(gui::kMessageLinkedCopy, argument), 2);
    EXPECT_EQ(chosen, destination);
    store::headerlistex copied(destination, "index.html", std::nullopt, "");
    ASSERT_GT(copied.Load(app::kHeaderFileName), 0);
    EXPECT_TRUE(copied.FindRecord("http://h/b.html"));
    EXPECT_FALSE(copied.FindRecord("http://h/c.html"));
    EXPECT_EQ(window.Busy(), app::BusyState::kIdle);
}

TEST_F(WindowTest, ClickingTheSizeColumnSortsByNumberThenReverses) {
    ::mkdir((data_ + "h").c_str(), 0755);
    ::mkdir((data_ + "h/d").c_str(), 0755);
    std::string hif;
    for (const auto& [name, kilobytes] :
         {std::pair{"ten.bin", 10}, {"one.bin", 1}, {"nine.bin", 9}}) {
        std::ofstream(data_ + "h/d/" + name) << std::string(kilobytes * 1024, 'x');
        hif +=
            store::FormatRecord(std::string("h/d/") + name, "CT:application/octet-stream\n", true);
    }
    std::ofstream(data_ + "kelvra.hif", std::ios::binary) << hif;
    gui::KelvraWindow& window = Start();
    ASSERT_TRUE(window.SelectUrl("http://h/d/"));
    QTreeWidget* list = window.List();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 3; }, kWindowWaitMs));
    const auto names = [&] {
        std::vector<std::string> order;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            order.push_back(list->topLevelItem(i)->text(0).toStdString());
        }
        return order;
    };
    // What the header reports for a click on the "ｻｲｽﾞ" title.
    const auto click_size = [&] { list->header()->sectionClicked(app::kSizeColumn); };
    click_size();
    EXPECT_EQ(names(), (std::vector<std::string>{"one.bin", "nine.bin", "ten.bin"}));
    click_size();
    EXPECT_EQ(names(), (std::vector<std::string>{"ten.bin", "nine.bin", "one.bin"}));
}

TEST_F(WindowTest, EnterOnADirectoryRowSelectsItInTheTree) {
    ::mkdir((data_ + "h").c_str(), 0755);
    ::mkdir((data_ + "h/d").c_str(), 0755);
    std::ofstream(data_ + "h/d/a.html") << "a";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << store::FormatRecord("h/d/a.html", "CT:text/html\n", true);
    gui::KelvraWindow& window = Start();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(window.SelectUrl("http://h/"));
    QTreeWidget* list = window.List();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 1; }, kWindowWaitMs));
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_NE(window.Tree()->currentItem(), nullptr);
    EXPECT_EQ(window.Tree()->currentItem()->text(0), "d");
}

TEST_F(WindowTest, ACloseRequestedDuringAModalCommandHappensWhenItEnds) {
    gui::KelvraWindow& window = Start();
    bool refused = false;
    WhenModal<gui::ConfigDialog>([&](gui::ConfigDialog& dialog) {
        window.RequestClose();
        refused = window.Started();
        dialog.reject();
    });
    window.RunCommand(CommandId::kSettings);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.Started(); }, kWindowWaitMs));
}

TEST_F(WindowTest, TheTwoExitCommandsSaveFastOrTidy) {
    struct Row {
        CommandId command;
        bool keeps_gone_record;  // fast: nothing changed, nothing written
    };
    for (const Row& row : {Row{CommandId::kFastExit, true}, Row{CommandId::kTidyExit, false}}) {
        ::mkdir((data_ + "h").c_str(), 0755);
        std::ofstream(data_ + "h/a.html") << "a";
        const std::string hif = store::FormatRecord("h/a.html", "CT:text/html\n", true) +
                                store::FormatRecord("h/gone.html", "CT:text/html\n", true);
        std::ofstream(data_ + "kelvra.hif", std::ios::binary) << hif;
        gui::KelvraWindow& window = Start();
        EXPECT_TRUE(window.RunCommand(row.command));
        EXPECT_FALSE(window.Started());
        const std::string saved = ReadWhole(data_ + "kelvra.hif");
        EXPECT_EQ(saved.find("gone.html") != std::string::npos, row.keeps_gone_record) << saved;
        EXPECT_NE(saved.find("a.html"), std::string::npos);
        window_.reset();
    }
}

TEST_F(WindowTest, ViewFlagsSwitchTheListAndAreSavedAtExit) {
    WriteIni("[WindowMetrix]\nFlags=4\n");
    gui::KelvraWindow& window = Start();
    window.UpdateMenuState();
    EXPECT_TRUE(window.Action(CommandId::kSelectAfterFetch)->isChecked());
    EXPECT_FALSE(window.Action(CommandId::kSimpleList)->isChecked());
    EXPECT_FALSE(window.List()->isHeaderHidden());
    EXPECT_TRUE(window.RunCommand(CommandId::kSimpleList));
    EXPECT_TRUE(window.Action(CommandId::kSimpleList)->isChecked());
    EXPECT_TRUE(window.List()->isHeaderHidden());
    EXPECT_TRUE(window.List()->isColumnHidden(static_cast<int>(app::kSizeColumn)));
    EXPECT_TRUE(window.RunCommand(CommandId::kHideWhenMinimised));
    window.close();
    EXPECT_NE(ReadWhole(IniPath()).find("Flags=7"), std::string::npos) << ReadWhole(IniPath());
}

TEST_F(WindowTest, AboutNamesTheNtlmLibraryAndThePlugin) {
    gui::KelvraWindow& window = Start();
    EXPECT_TRUE(window.RunCommand(CommandId::kAbout));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, gui::kAboutCaption);
    EXPECT_EQ(ui_.messages[0].text.rfind("NTLM authentication library libntlm is used. (ver ", 0),
              0u);
    // libflorrin.so lies beside the programs and reports its version.
    EXPECT_NE(ui_.messages[0].text.find(")\n\nShockwaveFlash対応DLL : Ver."), std::string::npos)
        << ui_.messages[0].text;
}

}  // namespace
}  // namespace kelvra::testing

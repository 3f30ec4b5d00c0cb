// The data commands' dialogs as the user drives them: the file selection's buttons and pattern
// field, and the progress dialog's Cancel, No Message and final OK.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/datadialogs.h"

namespace kelvra::testing {
namespace {

using Entries = std::vector<std::string>;

template <class Widget>
Widget* Child(const QObject& parent, const char* name) {
    auto* widget = parent.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

TEST(TwinListDlgTest, ButtonsMoveTheSelectionOrWhatThePatternMatchesOrNot) {
    gui::TwinListDlg dialog({"h/a.gif", "h/b.html", "h/c.gif"}, nullptr);
    auto* execute = Child<QPushButton>(dialog, "Execute");
    EXPECT_FALSE(execute->isEnabled());
    QTest::keyClicks(dialog.Pattern(), "!\\.gif");
    QTest::mouseClick(Child<QPushButton>(dialog, "Down"), Qt::LeftButton);
    EXPECT_EQ(dialog.Chosen(), Entries{"h/b.html"});
    EXPECT_TRUE(execute->isEnabled());

    Child<QListWidget>(dialog, "Candidates")->item(0)->setSelected(true);
    QTest::mouseClick(Child<QPushButton>(dialog, "Down"), Qt::LeftButton);
    EXPECT_EQ(dialog.Chosen(), (Entries{"h/b.html", "h/a.gif"}));
    Child<QListWidget>(dialog, "Chosen")->item(0)->setSelected(true);
    QTest::mouseClick(Child<QPushButton>(dialog, "Up"), Qt::LeftButton);
    EXPECT_EQ(dialog.Candidates(), (Entries{"h/c.gif", "h/b.html"}));
    EXPECT_EQ(Child<QListWidget>(dialog, "Chosen")->count(), 1);
}

TEST(DataProgressTest, CancelIsAskedQuietHidesTextsAndOkEndsTheWait) {
    gui::DataDialogs dialogs(nullptr);
    app::ProgressView& view = dialogs.OpenProgress("Move Data");
    QWidget* progress = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "DataProgress") progress = widget;
    }
    ASSERT_NE(progress, nullptr);
    app::ProgressSink sink(&view);
    sink.Report("Processing ", "h/a");
    EXPECT_EQ(Child<QLabel>(*progress, "Text")->text(), "Processing h/a");
    Child<QCheckBox>(*progress, "NoMessage")->setChecked(true);
    sink.Report("Processing ", "h/b");
    EXPECT_EQ(Child<QLabel>(*progress, "Text")->text(), "Processing h/a");
    auto* button = Child<QPushButton>(*progress, "Button");
    EXPECT_TRUE(sink.Pace(1));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(sink.Pace(1));
    QTimer::singleShot(0, [button] {
        EXPECT_EQ(button->text(), "OK");
        QTest::mouseClick(button, Qt::LeftButton);
    });
    dialogs.CloseProgress();
}

}  // namespace
}  // namespace kelvra::testing

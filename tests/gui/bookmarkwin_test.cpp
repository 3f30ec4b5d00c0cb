// The bookmark window as the user drives it: pages in the selector, the page mode, the menu
// state by selection, the status line, editing through its dialogs, and what it keeps in
// kelvraw.bm and kelvraw.ini.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <deque>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "gui/bookmarkwin.h"
#include "gui/window_fixture.h"
#include "store/store_record.h"

namespace kelvra::testing {
namespace {

using B = gui::BookmarkCommand;
using R = app::DialogResult;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> Items(const QListWidget& list) {
    std::vector<std::string> items;
    for (int row = 0; row < list.count(); ++row)
        items.push_back(gui::FromQt(list.item(row)->text()));
    return items;
}

void Select(QListWidget& list, std::initializer_list<int> rows) {
    list.clearSelection();
    for (const int row : rows) list.item(row)->setSelected(true);
}

class BookmarkWinTest : public WindowTest {
  protected:
    void WriteBookmarks(const std::string& bytes) const {
        std::ofstream(data_ + app::kBookmarkFileName, std::ios::binary) << bytes;
    }
    bool Enabled(B command) {
        bookmarks_->PreparedMenu();
        return bookmarks_->Action(command)->isEnabled();
    }
    gui::BookMarkWin* bookmarks_ = nullptr;
};

TEST_F(BookmarkWinTest, PagesSelectionAndPageModeDriveListMenuAndStatusLine) {
    WriteBookmarks(
        "ComboSort=1\n[b]\nhttp://h/1\tOne\nhttp://h/2\tTwo\nhttp://h/3\tThree\n[A]\nhttp://h/"
        "a\tA\n");
    WriteIni(
        "[WindowMetrix]\nBookMark.X=10\nBookMark.Y=20\nBookMark.W=333\nBookMark.H=222\n"
        "BookMark.Show=0\n");
    ASSERT_TRUE(app::StoreFont(app::kBookmarkWindowKey,
                               app::FontRecord({"DejaVu Serif", -17, 700, false, false, false}),
                               IniPath()));
    gui::KelvraWindow& window = Start();
    bookmarks_ = window.Bookmarks();
    ASSERT_NE(bookmarks_, nullptr);
    EXPECT_FALSE(bookmarks_->isVisible()) << "stored show state 0";
    ASSERT_TRUE(window.RunCommand(app::CommandId::kShowBookmarks));
    EXPECT_TRUE(bookmarks_->isVisible());
    EXPECT_EQ(bookmarks_->size(), QSize(333, 222));
    QListWidget& list = *bookmarks_->List();
    EXPECT_EQ(list.font().pixelSize(), 17);
    EXPECT_EQ(list.font().family(), "DejaVu Serif");

    QComboBox& pages = *bookmarks_->PageSelector();
    ASSERT_EQ(pages.count(), 2);
    EXPECT_EQ(pages.itemText(0), "A") << "sorted ignoring case";
    EXPECT_EQ(Items(list), std::vector<std::string>{"http://h/a\tA"});
    pages.setCurrentIndex(1);
    Q_EMIT pages.activated(1);
    ASSERT_EQ(list.count(), 3);

    struct Case {
        std::initializer_list<int> rows;
        const char* status;
        bool one;
        bool any;
    };
    const Case cases[] = {
        {{}, "", false, false},
        {{1}, "http://h/2", true, true},
        {{0, 2}, "複数URL選択中....", false, true},
    };
    for (const Case& c : cases) {
        Select(list, c.rows);
        EXPECT_EQ(gui::FromQt(bookmarks_->Status()->text()), c.status);
        for (const B one : {B::kUrlInfo, B::kOpenAsUrl, B::kCondition, B::kUp, B::kChange}) {
            EXPECT_EQ(Enabled(one), c.one) << c.status << static_cast<int>(one);
        }
        EXPECT_EQ(Enabled(B::kFetch), c.any) << c.status;
        EXPECT_EQ(Enabled(B::kDelete), c.any) << c.status;
    }

    ASSERT_TRUE(bookmarks_->RunCommand(B::kAllPages));
    EXPECT_TRUE(pages.isHidden());
    bookmarks_->PreparedMenu();
    EXPECT_TRUE(bookmarks_->Action(B::kAllPages)->isChecked());
    EXPECT_EQ(list.count(), 4);
    Select(list, {0});
    EXPECT_FALSE(bookmarks_->RunCommand(B::kDelete)) << "the edit submenu is disabled";
    ASSERT_TRUE(bookmarks_->RunCommand(B::kAllPages));
    EXPECT_FALSE(pages.isHidden());
    EXPECT_EQ(Items(list)[0], "http://h/1\tOne");

    // The delete questions go bottom up; Cancel at the second leaves the two above.
    Select(list, {0, 1, 2});
    ui_.answers = {R::kNo, R::kCancel};
    ASSERT_TRUE(bookmarks_->RunCommand(B::kDelete));
    EXPECT_EQ(Items(list), (std::vector<std::string>{"http://h/1\tOne", "http://h/2\tTwo"}));
    EXPECT_EQ(ui_.defaults, (std::vector<R>{R::kNo, R::kNo}));

    bookmarks_->close();
    EXPECT_FALSE(bookmarks_->isVisible()) << "the close box hides it";
    EXPECT_EQ(window.Bookmarks(), bookmarks_);
    window_->close();
    EXPECT_EQ(ReadWhole(data_ + app::kBookmarkFileName),
              "ComboSort=1\n[b]\nhttp://h/1\tOne\nhttp://h/2\tTwo\n[A]\nhttp://h/a\tA\n");
    EXPECT_NE(ReadWhole(IniPath()).find("BookMark.Show=0"), std::string::npos);
}

TEST_F(BookmarkWinTest, AddChangeAndMoveToANewPageGoThroughTheDialogs) {
    WriteBookmarks("[p]\r\nhttp://h/1\tOne\r\n");
    gui::KelvraWindow& window = Start();
    bookmarks_ = window.Bookmarks();
    ASSERT_NE(bookmarks_, nullptr);
    EXPECT_TRUE(bookmarks_->isVisible()) << "shown by default";
    std::vector<std::string> captions;
    std::deque<app::Bookmark> typed = {{"http://h/2 ", "Two"}, {"http://h/2", "Second"}};
    bookmarks_->SetEditor([&](std::string_view caption, app::Bookmark& bookmark) {
        captions.emplace_back(caption);
        bookmark = typed.front();
        typed.pop_front();
        return true;
    });
    bookmarks_->SetPageChooser(
        [&](std::string_view caption, const std::vector<std::string>& offered) {
            captions.emplace_back(caption);
            EXPECT_EQ(offered, std::vector<std::string>{"p"});
            return std::optional<std::string>("new");
        });
    QListWidget& list = *bookmarks_->List();
    ASSERT_TRUE(bookmarks_->RunCommand(B::kAdd));
    EXPECT_EQ(Items(list)[1], "http://h/2\tTwo");
    EXPECT_TRUE(list.item(1)->isSelected());
    ASSERT_TRUE(bookmarks_->RunCommand(B::kChange));
    ASSERT_TRUE(bookmarks_->RunCommand(B::kTop));
    EXPECT_EQ(Items(list)[0], "http://h/2\tSecond");
    ASSERT_TRUE(bookmarks_->RunCommand(B::kMoveToPage));
    EXPECT_EQ(Items(list), std::vector<std::string>{"http://h/1\tOne"});
    EXPECT_EQ(bookmarks_->PageSelector()->count(), 2);
    EXPECT_EQ(captions, (std::vector<std::string>{"ﾌﾞｯｸﾏｰｸの追加", "ﾌﾞｯｸﾏｰｸの変更",
                                                  "移動先のﾍﾟｰｼﾞを選択してください"}));
    window_->close();
    EXPECT_EQ(ReadWhole(data_ + app::kBookmarkFileName),
              "[p]\r\nhttp://h/1\tOne\r\n[new]\r\nhttp://h/2\tSecond\r\n");
}

TEST_F(BookmarkWinTest, TheMainWindowsCommandBookmarksItsSelectionOnce) {
    ::mkdir((data_ + "h").c_str(), 0755);
    std::ofstream(data_ + "h/a.html") << "<html><title>Stored</title>";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << store::FormatRecord("h/a.html", "CT:text/html\n", true);
    gui::KelvraWindow& window = Start();
    bookmarks_ = window.Bookmarks();
    ASSERT_NE(bookmarks_, nullptr);
    std::vector<std::string> captions;
    std::vector<app::Bookmark> offered;
    bookmarks_->SetEditor([&](std::string_view caption, app::Bookmark& bookmark) {
        captions.emplace_back(caption);
        offered.push_back(bookmark);
        return true;
    });
    ASSERT_TRUE(window.SelectUrl("http://h/"));
    ASSERT_TRUE(window.RunCommand(app::CommandId::kAddBookmark));
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(captions.front(), "ﾌﾞｯｸﾏｰｸに登録します");
    EXPECT_EQ(offered.front().url, "http://h/");
    EXPECT_EQ(bookmarks_->List()->count(), 1);
    ASSERT_TRUE(window.RunCommand(app::CommandId::kAddBookmark));
    EXPECT_EQ(offered.size(), 1u);
    EXPECT_EQ(ui_.Captions(), std::vector<std::string>{"http://h/"}) << "already there";
}

TEST(BookmarkDialogsTest, TheDialogsGiveWhatWasTyped) {
    gui::EditBMDialog edit("caption", {"http://h/", "Title"}, nullptr);
    EXPECT_EQ(edit.TitleField()->text(), "Title");
    edit.UrlField()->setText("http://other/");
    const app::Bookmark result = edit.Result();
    EXPECT_EQ(result.url, "http://other/");
    EXPECT_EQ(result.title, "Title");

    gui::ChangePageDiag pages("caption", {"a", "b"}, nullptr);
    EXPECT_EQ(pages.Pages()->count(), 2);
    pages.Pages()->setCurrentIndex(1);
    EXPECT_EQ(pages.Page(), "b");
    pages.Pages()->setEditText("typed");
    EXPECT_EQ(pages.Page(), "typed");
}

}  // namespace
}  // namespace kelvra::testing

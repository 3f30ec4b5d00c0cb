#pragma once
// BookMarkWin: the bookmark window "ﾌﾞｯｸﾏｰｸ" with its page selector, entry list, status line
// and context menu, and its dialogs EditBMDialog and ChangePageDiag. What the commands do
// lives in app::BookmarkWindowModel; the main window's part runs through its internal command
// message.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/bookmarkwindow.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;

namespace kelvra::gui {

class KelvraWindow;

inline constexpr char kBookmarkWindowTitle[] = "ﾌﾞｯｸﾏｰｸ";

// The window's commands; the values are its menu identifiers.
enum class BookmarkCommand : int {
    kFont = 37138,
    kOpenAsUrl = 37139,
    kOpenAsFile = 37140,
    kCopyUrls = 37141,
    kCopyFileNames = 37142,
    kUrlInfo = 37143,
    kFetch = 37144,
    kStopServer = 37145,
    kLocalMode = 37146,
    kProxyMode = 37147,
    kProxyMode2 = 37148,
    kOpenWithProgram = 37149,
    kCondition = 37150,
    kOpenTree = 37151,
    kAllPages = 37153,
    kLinkedCopy = 37154,
    kLinkedMove = 37155,
    kLinkedRemove = 37156,
    kEnter = 37157,
    kTop = 37248,
    kUp = 37249,
    kDown = 37250,
    kBottom = 37251,
    kAdd = 37252,
    kDelete = 37253,
    kCopyToPage = 37254,
    kMoveToPage = 37255,
    kChange = 37256,
    kDeletePage = 37257,
};

// EditBMDialog: "ﾀｲﾄﾙ" and "URL" fields.
class EditBMDialog final : public QDialog {
  public:
    EditBMDialog(const QString& caption, const app::Bookmark& bookmark, QWidget* parent);
    app::Bookmark Result() const;
    QLineEdit* TitleField() const { return title_; }
    QLineEdit* UrlField() const { return url_; }

  private:
    QLineEdit* title_ = nullptr;
    QLineEdit* url_ = nullptr;
};

// ChangePageDiag: the page names in a drop-down that also takes a new name.
class ChangePageDiag final : public QDialog {
  public:
    ChangePageDiag(const QString& caption, const std::vector<std::string>& pages, QWidget* parent);
    std::string Page() const;
    QComboBox* Pages() const { return pages_; }

  private:
    QComboBox* pages_ = nullptr;
};

class BookMarkWin final : public QWidget, private app::BookmarkHost {
  public:
    using Editor = std::function<bool(std::string_view caption, app::Bookmark& bookmark)>;
    using PageChooser = std::function<std::optional<std::string>(
        std::string_view caption, const std::vector<std::string>& pages)>;

    // Loads kelvraw.bm of the main window's data directory, the font and the geometry; shown
    // unless the stored show state is 0.
    explicit BookMarkWin(KelvraWindow& main);
    // Writes the shown page and the geometry.
    ~BookMarkWin() override;

    // The dialogs; by default EditBMDialog and ChangePageDiag.
    void SetEditor(Editor editor) { editor_ = std::move(editor); }
    void SetPageChooser(PageChooser chooser) { chooser_ = std::move(chooser); }

    // "ﾌﾞｯｸﾏｰｸへ登録" (by_user) and the offer after a crawl.
    void AddFromMainWindow(const std::vector<std::string>& urls, bool by_user);
    // Runs a command as its menu item does; false when it is disabled now.
    bool RunCommand(BookmarkCommand command);
    // The context menu with its state as when it opens (not shown).
    QMenu* PreparedMenu();
    QAction* Action(BookmarkCommand command) const;

    QComboBox* PageSelector() const { return pages_; }
    QListWidget* List() const { return list_; }
    QLabel* Status() const { return status_; }
    app::BookmarkWindowModel& Model() { return model_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // BookmarkHost
    std::optional<std::string> PageTitle(const std::string& url) override;
    bool RemoveData(const std::string& url) override;
    std::optional<std::string> LinkedData(app::LinkedOperation operation,
                                          const std::vector<std::string>& urls) override;
    void Fetch(const std::vector<std::string>& urls) override;
    bool EditBookmark(std::string_view caption, app::Bookmark& bookmark) override;
    std::optional<std::string> ChoosePage(std::string_view caption,
                                          const std::vector<std::string>& pages) override;

    void BuildMenu();
    QAction* AddItem(QMenu* menu, BookmarkCommand command, const char* label,
                     const char* keys = nullptr);
    void UpdateMenu();
    void FillPages();
    void FillList(const std::vector<std::size_t>& selected = {});
    std::vector<std::size_t> Selected() const;
    void ShowStatus();
    long Send(unsigned code, const std::vector<std::string>& urls, bool alt = false);
    void RunLinked(app::LinkedOperation operation);
    void ChooseFont();
    void SaveGeometry() const;

    KelvraWindow& main_;
    app::BookmarkWindowModel model_;
    Editor editor_;
    PageChooser chooser_;
    bool busy_ = false;  // an edit runs: the menu and edit commands wait
    QComboBox* pages_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    QMenu* menu_ = nullptr;
    QMenu* edit_menu_ = nullptr;
    QMenu* server_menu_ = nullptr;
    std::map<BookmarkCommand, QAction*> actions_;
};

}  // namespace kelvra::gui

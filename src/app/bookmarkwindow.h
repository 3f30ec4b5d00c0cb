#pragma once
// The bookmark window without its toolkit: the page selector, the entries shown, and what its
// commands do to them and to kelvraw.bm. The desktop window only wires controls to it; the main
// window's part (page titles, stored data, fetching) comes through BookmarkHost.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/bookmarkfile.h"
#include "app/userinterface.h"

namespace kelvra::app {

// The window's name under [WindowMetrix] and its list font's key under [Font].
inline constexpr char kBookmarkWindowKey[] = "BookMark";

inline constexpr char kBookmarkSeveralSelected[] = "複数URL選択中....";

// The all-link data operations the main window offers.
enum class LinkedOperation { kCopy, kMove, kRemove };

// What the bookmark window asks of the main window and of its own dialogs.
class BookmarkHost {
  public:
    virtual ~BookmarkHost() = default;
    // The stored page's title; none when there is no stored HTML page with a title.
    virtual std::optional<std::string> PageTitle(const std::string& url) = 0;
    // Removes url's stored data; false when the main window is busy and refuses.
    virtual bool RemoveData(const std::string& url) = 0;
    // Copies, moves or removes the data linked from urls. None when nothing was handled; else
    // the chosen destination directory (empty for a removal).
    virtual std::optional<std::string> LinkedData(LinkedOperation operation,
                                                  const std::vector<std::string>& urls) = 0;
    // Registers urls for fetching.
    virtual void Fetch(const std::vector<std::string>& urls) = 0;
    // The edit dialog titled caption, filled with bookmark; false when cancelled.
    virtual bool EditBookmark(std::string_view caption, Bookmark& bookmark) = 0;
    // The page chooser titled caption over pages (a new name may be typed); none when cancelled.
    virtual std::optional<std::string> ChoosePage(std::string_view caption,
                                                  const std::vector<std::string>& pages) = 0;
};

// Which context-menu items may run for a selection.
struct BookmarkMenuState {
    bool edit = false;       // the edit submenu (page mode only)
    bool one_entry = false;  // the items that act on exactly one entry
    bool any_entry = false;  // the items that act on the selection
};
BookmarkMenuState BookmarkMenu(bool page_mode, std::size_t selected);

// The status line for a selection (indices ascending).
std::string BookmarkStatus(const std::vector<std::string>& entries,
                           const std::vector<std::size_t>& selected);

class BookmarkWindowModel {
  public:
    // data_directory ends with '/'; ui and host must outlive the model.
    BookmarkWindowModel(const std::string& data_directory, UserInterface& ui, BookmarkHost& host);

    // Loads the page names and the first page. False when the file exists but cannot be read.
    bool Open();
    // Writes the shown page back and kelvraw.bm when it changed. False when that write failed.
    bool Close();

    const std::vector<std::string>& PageNames() const { return pages_; }
    std::size_t CurrentPage() const { return current_; }
    // The shown entries, "URL<TAB>title".
    const std::vector<std::string>& Entries() const { return entries_; }
    bool PageMode() const { return page_mode_; }

    // Writes the shown page back and shows the page at index.
    void SelectPage(std::size_t index);
    // Off: every page's entries in selector order, editing refused; on: the selected page.
    void SetPageMode(bool on);

    // Each returns the entries to select afterwards (indices ascending).
    std::vector<std::size_t> Add();
    std::vector<std::size_t> Change(std::size_t index);
    std::vector<std::size_t> Move(std::size_t index, EntryMove move);
    void CopyToOtherPage(const std::vector<std::size_t>& selected, bool move);
    void Delete(const std::vector<std::size_t>& selected);
    void DeletePage();
    void LinkedData(LinkedOperation operation, const std::vector<std::size_t>& selected);
    // The main window's selected URLs (by_user) or a crawl's start URLs.
    void AddFromMainWindow(const std::vector<std::string>& urls, bool by_user);
    // Hands the selected entries' URLs on for fetching.
    void Fetch(const std::vector<std::size_t>& selected);
    // The selected entries' URLs.
    std::vector<std::string> Urls(const std::vector<std::size_t>& selected) const;

  private:
    std::string CurrentName() const;
    // Puts the shown entries into the file: the page, or in all-pages mode every page.
    void WriteBack();
    void Load();
    void ReloadPageNames();
    void Erase(std::size_t index);
    // Whether the current page, as shown, has url.
    bool ShownHasUrl(std::string_view url) const;
    bool AnyPageHasUrl(std::string_view url);

    UserInterface& ui_;
    BookmarkHost& host_;
    BookmarkFile file_;
    std::vector<std::string> pages_;
    std::size_t current_ = 0;
    std::vector<std::string> entries_;
    std::vector<std::string> origins_;  // the page each shown entry belongs to
    bool page_mode_ = true;
};

// The list font as kept under [Font]: a 60-byte record (height, width, escapement,
// orientation, weight as 32-bit little-endian, then italic, underline, strike-out, character
// set, four quality bytes, and a 32-byte NUL-padded face name). A negative height is the
// character height in pixels.
struct ListFont {
    std::string face;
    int height = 0;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strike_out = false;
};
std::vector<unsigned char> FontRecord(const ListFont& font);
ListFont FontFromRecord(const std::vector<unsigned char>& record);

}  // namespace kelvra::app

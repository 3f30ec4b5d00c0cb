#pragma once
// What the main window shows of the header-information store: the URL tree of hosts and
// directories, the list of a directory's entries with their report columns, page titles, the
// way from a URL to its place in the tree, and how list columns sort. Texts taken from stored
// files (page titles) are in the program's code page, CP932; the names of nodes are the bytes
// of the store's keys. Cp932ToUtf8 turns such text into what a display shows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/headerlistmanager.h"

namespace kelvra::app {

// The 16x16 images shared by the tree and the list.
enum ListImage : int {
    kImageDirectoryWithDocument = 0,  // a directory with its own document
    kImageDirectoryDocument = 1,      // a directory's own document (a row with an empty name)
    kImageDirectory = 2,
    kImageFile = 4,
    kImagePartialFile = 5,  // its record has an "XRange:" entry
    kImageCookie = 6,
    kImageMissingObject = 7,  // recorded, but the data file is gone
};
// Tree images: a directory with its own record, or without; each with its selected form.
inline constexpr int kTreeImageRecord = 0;
inline constexpr int kTreeImageRecordSelected = 1;
inline constexpr int kTreeImageNoRecord = 2;
inline constexpr int kTreeImageNoRecordSelected = 3;

// ---- the URL tree ---------------------------------------------------------------------------

struct TreeItem {
    std::string name;  // a path segment; the top level is the host
    int image = kTreeImageNoRecord;
    int selected_image = kTreeImageNoRecordSelected;
    // Filled only as deep as asked; an item of the last level filled has none here even when
    // the store has more.
    std::vector<TreeItem> children;
};

// The items below the node of path (names from the top level; empty for the store's root),
// levels deep: every child node that has children of its own, in the store's order, except
// nodes with an empty name. Empty when the path has no node. An expanded item is filled with
// this for its path, two levels deep; items that already show are matched by exact name.
std::vector<TreeItem> TreeItemsBelow(store::headerlistmanager& store,
                                     std::span<const std::string> path, int levels = 2);

// "http://" + the names joined by "/", unsafe bytes escaped, and a final "/".
std::string TreeItemUrl(std::span<const std::string> names);

// The names of the tree items to walk down to select a URL: the scheme dropped, the URL cut at
// its query boundary and percent-decoded (the form of the store's keys), split at "/". A final
// empty name (a URL ending in "/") is left out. The walk stops at the first name without item.
std::vector<std::string> TreePathOfUrl(std::string_view url);

// ---- the list of a directory ----------------------------------------------------------------

struct ListColumn {
    std::string_view title;
    int width;  // built-in width; stored "LVC.n" widths replace it
    bool right_aligned;
};
inline constexpr std::size_t kSizeColumn = 4;
std::span<const ListColumn> ListColumns();

struct ListRow {
    std::string name;  // empty for the directory's own document
    int image = kImageFile;
    // The report columns (CP932; empty in list view): title or "(type)", "Web更新(GMT)",
    // "ﾌｧｲﾙ日時", "ｻｲｽﾞ".
    std::string title;
    std::string web_date;
    std::string file_date;
    std::string size;
    // The column's text: 0 the name, 1 title ... 4 size.
    const std::string& Column(std::size_t column) const;
};

// The URL of a list row: the directory's URL plus the row's name.
std::string ListRowUrl(std::string_view directory_url, std::string_view name);

// Lists the entries of a directory in steps, so that a window can let its event loop run
// between them. The store's lock is held only inside Next, and the place is kept by name, so
// the store may change (a crawl adds entries) between steps.
class ListFill final {
  public:
    // directory_url: a tree item's URL (scheme, percent escapes and a final "/" allowed; the
    // root for an empty path). report: fill the report columns too (reads page titles).
    ListFill(store::headerlistmanager& store, std::string_view directory_url, bool report);
    // Whether the directory exists in the store (checked at construction).
    bool Found() const { return found_; }
    // Appends at most max_rows further rows to rows. True while more may follow; false once
    // the listing is complete (the rows this call appended still count) or the directory went
    // away.
    bool Next(std::vector<ListRow>& rows, std::size_t max_rows);

  private:
    store::headerlistmanager& store_;
    std::string key_;  // the directory's key, "" for the root
    bool report_;
    bool found_ = false;
    bool done_ = false;
    bool started_ = false;
    std::string last_name_;  // the last row given
};

// The row of one child node as the list shows it (the store's lock held by the caller).
ListRow MakeListRow(store::headerlistmanager& store, const store::treelistnode& node, bool report);

// "%04d/%02d/%02d %02d:%02d" of an HTTP date in GMT; "---" when missing or unreadable.
std::string FormatWebDate(std::string_view http_date);
// The same for a file time in local time.
std::string FormatFileDate(std::time_t time);
// (size + 1023) / 1024 as "%ldKB".
std::string FormatSizeKB(std::int64_t size);

// The page title of a stored HTML file in CP932: the text after the first "<title>" (any
// case) up to "</", at most 255 characters, without TAB, LF and CR, converted to CP932, with
// "&amp;" and "&quot;" decoded. None when there is no "<title>" near the start of the file, or
// the file cannot be read.
std::optional<std::string> PageTitle(const std::string& path);
// The title of a stored object that is HTML; none for other objects and when the file has no
// title. type_part: what the content type must contain ("html" for the list, "/html" for the
// exported list and the URL information).
std::optional<std::string> NodeTitle(store::headerlistmanager& store,
                                     const store::treelistnode& node, std::string_view type_part);

// CP932 text as UTF-8 for display; bytes that are no CP932 character become U+FFFD.
std::string Cp932ToUtf8(std::string_view text);

// ---- sorting ---------------------------------------------------------------------------------

// Compares two texts of a column: the numeric value of the leading digits for the size
// column, else the texts by the current locale's collation. <0, 0 or >0.
int CompareColumnTexts(std::size_t column, std::string_view a, std::string_view b);

// Per column: the first click sorts ascending, each further click on it reverses the order
// its previous click gave.
class ListSortState final {
  public:
    // Whether this click on column sorts ascending.
    bool Click(std::size_t column);

  private:
    std::array<bool, 5> next_ascending_{true, true, true, true, true};
};

// ---- what both the list and the exported list use --------------------------------------------

// The node whose record stands for node: a leaf itself; a directory its own document (the
// child with an empty name) or else its own record; none for a directory with neither, and
// for removed nodes.
const store::treelistnode* DataNodeOf(const store::treelistnode& node);
// The report columns of a stored object (CP932).
struct ObjectColumns {
    std::string title;      // the page title, else "(content type)", else "---"
    std::string web_date;   // FormatWebDate of "LM:"
    std::string file_date;  // FormatFileDate of the file's time
    std::string size;       // FormatSizeKB of the file's size
};
// Those of data (a DataNodeOf result) when its record is valid and its file exists, else none.
// type_part as for NodeTitle.
std::optional<ObjectColumns> StoredObjectColumns(store::headerlistmanager& store,
                                                 const store::treelistnode& data,
                                                 std::string_view type_part);
// The store node of a directory URL (scheme dropped, percent-decoded, a final "/" dropped; the
// root for an empty path); nullptr when there is none. Hold the store's lock while using it.
store::treelistnode* DirectoryNode(store::headerlistmanager& store, std::string_view url);

}  // namespace kelvra::app

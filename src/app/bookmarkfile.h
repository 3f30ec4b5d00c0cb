#pragma once
// kelvraw.bm: named pages of bookmarks, a section "[name]" per page and one "URL<TAB>title"
// line per entry. The file is held as its lines with their own line ends and written back
// only when its bytes changed, so a change that is undone leaves it byte for byte as it was.
//
// Settled here: new lines take the line end of the file's first line (LF for a new file);
// with "ComboSort" other than 0 page names are sorted ignoring ASCII case, ties by bytes;
// section names are matched ignoring ASCII case.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::app {

inline constexpr char kBookmarkFileName[] = "kelvraw.bm";

struct Bookmark {
    std::string url;
    std::string title;
};

// "URL<TAB>title".
std::string BookmarkEntry(const Bookmark& bookmark);
// The URL of an entry line: the text up to its first byte at or below space.
std::string_view BookmarkUrl(std::string_view entry);

class BookmarkFile {
  public:
    explicit BookmarkFile(std::string path);

    // Reads the whole file; a missing one is empty. False when it exists but cannot be read.
    bool Open();
    // Writes the lines back through path + ".tmp" when the bytes differ from those read.
    // False when that write failed (the old file stays).
    bool Close();
    bool Changed() const;

    // The page names in selector order; one empty name when the file has no section.
    std::vector<std::string> PageNames() const;
    // The entries of a page in file order.
    std::vector<std::string> Entries(std::string_view page) const;
    // True when the page has an entry for url.
    bool HasUrl(std::string_view page, std::string_view url) const;
    // Replaces the page's entries; a page without a section gets one at the end of the file.
    void WritePage(std::string_view page, const std::vector<std::string>& entries);
    void AppendEntry(std::string_view page, const std::string& entry);
    // Removes the page's section; false when it has none.
    bool RemovePage(std::string_view page);

  private:
    struct Line {
        std::string text;
        std::string end;  // "\r\n", "\n", or "" for a last line without one
    };
    struct Section {
        std::size_t header;  // index of the "[name]" line; npos for the file's top
        std::size_t begin;   // first line after it
        std::size_t end;     // the next section's line, or the line count
    };
    static std::vector<Line> Split(std::string_view bytes);
    static std::vector<std::string> EntriesIn(const std::vector<Line>& lines, const Section& s);
    static std::optional<Section> Find(const std::vector<Line>& lines, std::string_view page);
    std::string Join() const;
    std::string NewLineEnd() const;
    bool Sorted() const;

    std::string path_;
    std::string read_;  // the bytes as read
    std::vector<Line> lines_;
    std::vector<Line> original_;
};

enum class EntryMove { kTop, kUp, kDown, kBottom };

// Moves the entry at index to the top, up one, down one or to the bottom; false (nothing
// moved) when the target lies outside the list.
bool MoveEntry(std::vector<std::string>& entries, std::size_t index, EntryMove move);

// "ﾍﾟｰｼﾞ間ｺﾋﾟｰ/移動": appends the selected entries (indices into entries, ascending) to the
// section of target, taken from the bottom up; a move also takes them out of entries, the
// displayed page, which is written back. target loses trailing blanks; the displayed page's
// own name (ignoring ASCII case) does nothing and answers false.
bool CopyToPage(BookmarkFile& file, std::string_view page, std::vector<std::string>& entries,
                const std::vector<std::size_t>& selected, std::string_view target, bool move);

// After the all-link copy or move: the entries go to page of directory's kelvraw.bm, those
// whose URL that page holds already skipped. False when that file could not be read or written.
bool AddToDirectoryBookmarks(const std::string& directory, std::string_view page,
                             const std::vector<std::string>& entries);

}  // namespace kelvra::app

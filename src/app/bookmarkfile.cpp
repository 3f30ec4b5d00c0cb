#include "app/bookmarkfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/rawfile.h"
#include "util/fileutil.h"

namespace kelvra::app {

namespace {

constexpr std::string_view kSortKey = "ComboSort";

char Fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Fold(x) == Fold(y); });
}

bool FoldedLess(const std::string& a, const std::string& b) {
    const auto less = [](char x, char y) {
        return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), less)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), less)) return false;
    return a < b;
}

bool IsSectionLine(std::string_view text) {
    return text.starts_with('[');
}

std::string_view SectionName(std::string_view text) {
    text.remove_prefix(1);
    const std::size_t close = text.find(']');
    return close == std::string_view::npos ? text : text.substr(0, close);
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// An entry as a section holds it: trailing blanks and one trailing backslash dropped.
std::string_view CleanEntry(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.ends_with('\\')) text.remove_suffix(1);
    return text;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string BookmarkEntry(const Bookmark& bookmark) {
    return bookmark.url + '\t' + bookmark.title;
}

std::string_view BookmarkUrl(std::string_view entry) {
    const auto end = std::find_if(entry.begin(), entry.end(), IsBlank);
    return entry.substr(0, static_cast<std::size_t>(end - entry.begin()));
}

BookmarkFile::BookmarkFile(std::string path) : path_(std::move(path)) {}

bool BookmarkFile::Open() {
    std::optional<std::string> bytes = util::ReadWholeFile(path_);
    if (!bytes && util::FileSize(path_) >= 0) return false;
    read_ = bytes ? std::move(*bytes) : std::string();
    lines_ = Split(read_);
    original_ = lines_;
    return true;
}

bool BookmarkFile::Changed() const {
    return Join() != read_;
}

bool BookmarkFile::Close() {
    if (!Changed()) return true;
    const std::string bytes = Join();
    if (!platform::ReplaceFileContents(path_, bytes)) return false;
    read_ = bytes;
    return true;
}

std::vector<BookmarkFile::Line> BookmarkFile::Split(std::string_view bytes) {
    std::vector<Line> lines;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        std::string_view text = bytes.substr(0, lf);
        Line line;
        if (lf != std::string_view::npos) {
            line.end = text.ends_with('\r') ? "\r\n" : "\n";
            if (line.end.size() == 2) text.remove_suffix(1);
        }
        line.text = text;
        lines.push_back(std::move(line));
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    }
    return lines;
}

std::string BookmarkFile::Join() const {
    std::string bytes;
    for (const Line& line : lines_) bytes.append(line.text).append(line.end);
    return bytes;
}

std::string BookmarkFile::NewLineEnd() const {
    return lines_.empty() || lines_.front().end.empty() ? "\n" : lines_.front().end;
}

std::optional<BookmarkFile::Section> BookmarkFile::Find(const std::vector<Line>& lines,
                                                        std::string_view page) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsSectionLine(lines[i].text) || !SameName(SectionName(lines[i].text), page)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !IsSectionLine(lines[end].text)) ++end;
        return Section{i, i + 1, end};
    }
    return std::nullopt;
}

std::vector<std::string> BookmarkFile::EntriesIn(const std::vector<Line>& lines,
                                                 const Section& section) {
    std::vector<std::string> entries;
    for (std::size_t i = section.begin; i < section.end; ++i) {
        const std::string_view entry = CleanEntry(lines[i].text);
        if (!entry.empty()) entries.emplace_back(entry);
    }
    return entries;
}

bool BookmarkFile::Sorted() const {
    for (const Line& line : lines_) {
        if (IsSectionLine(line.text)) break;
        const std::size_t equals = line.text.find('=');
        if (equals == std::string::npos ||
            !SameName(Trimmed(std::string_view(line.text).substr(0, equals)), kSortKey)) {
            continue;
        }
        return std::atol(line.text.c_str() + equals + 1) != 0;
    }
    return false;
}

std::vector<std::string> BookmarkFile::PageNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (IsSectionLine(line.text)) names.emplace_back(SectionName(line.text));
    }
    if (names.empty()) names.emplace_back();
    if (Sorted()) std::stable_sort(names.begin(), names.end(), FoldedLess);
    return names;
}

std::vector<std::string> BookmarkFile::Entries(std::string_view page) const {
    const std::optional<Section> section = Find(lines_, page);
    return section ? EntriesIn(lines_, *section) : std::vector<std::string>{};
}

bool BookmarkFile::HasUrl(std::string_view page, std::string_view url) const {
    const std::vector<std::string> entries = Entries(page);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const std::string& entry) { return BookmarkUrl(entry) == url; });
}

void BookmarkFile::WritePage(std::string_view page, const std::vector<std::string>& entries) {
    std::optional<Section> section = Find(lines_, page);
    if (!section) {
        if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = NewLineEnd();
        lines_.push_back({"[" + std::string(page) + "]", NewLineEnd()});
        section = Section{lines_.size() - 1, lines_.size(), lines_.size()};
    }
    std::vector<Line> body;
    // The entries as read: the section's lines as read, blank lines and line ends included.
    const std::optional<Section> read = Find(original_, page);
    if (read && EntriesIn(original_, *read) == entries) {
        body.assign(original_.begin() + static_cast<std::ptrdiff_t>(read->begin),
                    original_.begin() + static_cast<std::ptrdiff_t>(read->end));
    } else {
        for (const std::string& entry : entries) body.push_back({entry, NewLineEnd()});
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(section->begin),
                 lines_.begin() + static_cast<std::ptrdiff_t>(section->end));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(section->begin), body.begin(),
                  body.end());
}

void BookmarkFile::AppendEntry(std::string_view page, const std::string& entry) {
    std::vector<std::string> entries = Entries(page);
    entries.push_back(entry);
    WritePage(page, entries);
}

bool BookmarkFile::RemovePage(std::string_view page) {
    const std::optional<Section> section = Find(lines_, page);
    if (!section) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(section->header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(section->end));
    return true;
}

bool MoveEntry(std::vector<std::string>& entries, std::size_t index, EntryMove move) {
    if (index >= entries.size()) return false;
    std::size_t target = 0;
    switch (move) {
        case EntryMove::kTop:
            break;
        case EntryMove::kUp:
            if (index == 0) return false;
            target = index - 1;
            break;
        case EntryMove::kDown:
            target = index + 1;
            break;
        case EntryMove::kBottom:
            target = entries.size() - 1;
            break;
    }
    if (target >= entries.size()) return false;
    std::string entry = std::move(entries[index]);
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(target), std::move(entry));
    return true;
}

bool CopyToPage(BookmarkFile& file, std::string_view page, std::vector<std::string>& entries,
                const std::vector<std::size_t>& selected, std::string_view target, bool move) {
    while (!target.empty() && IsBlank(target.back())) target.remove_suffix(1);
    if (SameName(target, page)) return false;
    for (auto index = selected.rbegin(); index != selected.rend(); ++index) {
        if (*index >= entries.size()) continue;
        file.AppendEntry(target, entries[*index]);
        if (move) entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(*index));
    }
    if (move) file.WritePage(page, entries);
    return true;
}

bool AddToDirectoryBookmarks(const std::string& directory, std::string_view page,
                             const std::vector<std::string>& entries) {
    std::string path = directory;
    if (!path.ends_with('/')) path += '/';
    BookmarkFile file(path + kBookmarkFileName);
    if (!file.Open()) return false;
    for (const std::string& entry : entries) {
        if (!file.HasUrl(page, BookmarkUrl(entry))) file.AppendEntry(page, entry);
    }
    return file.Close();
}

}  // namespace kelvra::app

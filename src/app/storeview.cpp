#include "app/storeview.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "net/url.h"
#include "store/store_files.h"
#include "util/codec.h"
#include "util/httpdate.h"
#include "util/strutil.h"

namespace kelvra::app {

namespace {

constexpr std::size_t kMaxTitle = 255;
// Titles stand in a page's head; reading further would make a directory of large pages slow.
constexpr std::size_t kTitleSearchLimit = 64 * 1024;
constexpr std::size_t kTitleReadBlock = 4096;
constexpr std::string_view kTitleTag = "<title>";
constexpr char kDateFormat[] = "%04d/%02d/%02d %02d:%02d";
constexpr std::string_view kNoDate = "---";

constexpr ListColumn kListColumns[] = {
    {"ﾃﾞｰﾀ名", 120, false},   {"ﾀｲﾄﾙ(種類)", 120, false}, {"Web更新(GMT)", 104, false},
    {"ﾌｧｲﾙ日時", 104, false}, {"ｻｲｽﾞ", 50, true},
};

bool IsCookieName(std::string_view name) {
    return name.starts_with('#');
}

std::string FormatTm(const std::tm& tm) {
    char text[64];
    std::snprintf(text, sizeof text, kDateFormat, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
    return text;
}

// The node of a key path given as names; the root for none.
store::treelistnode* NodeOfNames(store::headerlistmanager& store,
                                 std::span<const std::string> names) {
    store::treelistnode* node = store.Root();
    for (const std::string& name : names) {
        node = node->FindChild(name);
        if (!node) return nullptr;
    }
    return node;
}

void FillTreeItems(const store::treelistnode& node, int levels, std::vector<TreeItem>& items) {
    if (levels <= 0) return;
    for (const store::treelistnode* child : node.children()) {
        if (child->name().empty() || child->IsLeaf() || child->value().IsRemoved()) continue;
        const bool record = DataNodeOf(*child) != nullptr;
        TreeItem item{child->name(),
                      record ? kTreeImageRecord : kTreeImageNoRecord,
                      record ? kTreeImageRecordSelected : kTreeImageNoRecordSelected,
                      {}};
        FillTreeItems(*child, levels - 1, item.children);
        items.push_back(std::move(item));
    }
}

// Replaces "&amp;" and "&quot;" only: other entities of a title stay as written.
void DecodeTitleEntities(std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 5, "&amp;") == 0) {
            out += '&';
            i += 4;
        } else if (text.compare(i, 6, "&quot;") == 0) {
            out += '"';
            i += 5;
        } else {
            out += text[i];
        }
    }
    text = std::move(out);
}

// The bytes after "<title>" up to "</", without TAB, LF and CR; none without "<title>".
std::optional<std::string> RawTitle(std::string_view page) {
    const std::size_t tag = util::LowerCopy(page).find(kTitleTag);
    if (tag == std::string::npos) return std::nullopt;
    std::string title;
    for (std::size_t i = tag + kTitleTag.size(); i < page.size() && title.size() < kMaxTitle; ++i) {
        if (page.compare(i, 2, "</") == 0) break;
        if (page[i] == '\t' || page[i] == '\n' || page[i] == '\r') continue;
        title += page[i];
    }
    return title;
}

// The start of a page, read block by block until its title is closed (or the search limit or
// the end of the file is reached), so that a long page costs only its head.
std::string ReadPageHead(int fd, std::int64_t file_size) {
    std::string page;
    while (page.size() < kTitleSearchLimit && static_cast<std::int64_t>(page.size()) < file_size) {
        const std::size_t had = page.size();
        page.resize(had + kTitleReadBlock);
        const ssize_t got = ::read(fd, page.data() + had, kTitleReadBlock);
        page.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got <= 0) break;
        const std::size_t tag = util::LowerCopy(page).find(kTitleTag);
        if (tag != std::string::npos &&
            page.find("</", tag + kTitleTag.size()) != std::string::npos) {
            break;
        }
    }
    return page;
}

int RowImage(store::headerlistmanager& store, const store::treelistnode& node) {
    if (IsCookieName(node.name())) return kImageCookie;
    const store::treelistnode* data = DataNodeOf(node);
    int image = kImageFile;
    if (!node.IsLeaf()) {
        if (!data) return kImageDirectory;
        image = kImageDirectoryWithDocument;
    } else if (node.name().empty()) {
        image = kImageDirectoryDocument;
    } else if (!store.NodeField(data, "XRange:").empty()) {
        image = kImagePartialFile;
    }
    if (data && !store.LocalFileExists(data)) return kImageMissingObject;
    return image;
}

void FillReportColumns(store::headerlistmanager& store, const store::treelistnode& node,
                       ListRow& row) {
    if (IsCookieName(node.name())) {
        row.title = "[Cookie]";
        return;
    }
    const store::treelistnode* data = DataNodeOf(node);
    std::optional<ObjectColumns> object;
    if (data) object = StoredObjectColumns(store, *data, "html");
    if (!object) {
        row.title = node.IsLeaf() ? " (No object)" : " <Folder>";
        return;
    }
    row.title = std::move(object->title);
    row.web_date = std::move(object->web_date);
    row.file_date = std::move(object->file_date);
    row.size = std::move(object->size);
}

// The first child after the one named name; by name, as that child may have gone meanwhile.
const store::treelistnode* ChildAfter(const store::treelistnode& directory,
                                      const std::string& name) {
    if (const store::treelistnode* last = directory.FindChild(name)) return last->NextSibling();
    for (const store::treelistnode* child : directory.children()) {
        if (child->name() > name) return child;
    }
    return nullptr;
}

long LeadingNumber(std::string_view text) {
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

// ---- tree -----------------------------------------------------------------------------------

std::vector<TreeItem> TreeItemsBelow(store::headerlistmanager& store,
                                     std::span<const std::string> path, int levels) {
    util::MutexLock lock(store.Mutex());
    std::vector<TreeItem> items;
    if (const store::treelistnode* node = NodeOfNames(store, path)) {
        FillTreeItems(*node, levels, items);
    }
    return items;
}

std::string TreeItemUrl(std::span<const std::string> names) {
    std::string joined;
    for (const std::string& name : names) {
        if (!joined.empty()) joined += '/';
        joined += name;
    }
    return "http://" + net::EscapeUnsafeBytes(joined) + "/";
}

std::vector<std::string> TreePathOfUrl(std::string_view url) {
    url.remove_prefix(net::SkipScheme(url));
    url = url.substr(0, net::PathEnd(url));
    const std::string decoded = net::PercentDecode(url);
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = decoded.find('/', start);
        names.push_back(decoded.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (names.back().empty()) names.pop_back();
    return names;
}

// ---- list -----------------------------------------------------------------------------------

std::span<const ListColumn> ListColumns() {
    return kListColumns;
}

const std::string& ListRow::Column(std::size_t column) const {
    switch (column) {
        case 1:
            return title;
        case 2:
            return web_date;
        case 3:
            return file_date;
        case kSizeColumn:
            return size;
        default:
            return name;
    }
}

std::string ListRowUrl(std::string_view directory_url, std::string_view name) {
    std::string url(directory_url);
    url += name;
    return url;
}

const store::treelistnode* DataNodeOf(const store::treelistnode& node) {
    if (node.value().IsRemoved()) return nullptr;
    if (node.IsLeaf()) return &node;
    const store::treelistnode* document = node.FindChild("");
    if (document && !document->value().IsRemoved()) return document;
    return node.value().IsText() ? &node : nullptr;
}

std::optional<ObjectColumns> StoredObjectColumns(store::headerlistmanager& store,
                                                 const store::treelistnode& data,
                                                 std::string_view type_part) {
    if (!data.value().IsText() || IsCookieName(data.name())) return std::nullopt;
    std::string path;
    store.GetNodeLocalPath(&data, path);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    ObjectColumns columns;
    std::string type;
    store.GetNodeContentType(&data, type);
    // The path is known already: NodeTitle would derive it again.
    std::optional<std::string> title;
    if (type.find(type_part) != std::string::npos) title = PageTitle(path);
    if (title) {
        columns.title = std::move(*title);
    } else {
        columns.title = type.empty() ? std::string(kNoDate) : "(" + type + ")";
    }
    columns.web_date = FormatWebDate(store.NodeField(&data, "LM:"));
    columns.file_date = FormatFileDate(info.st_mtime);
    columns.size = FormatSizeKB(info.st_size);
    return columns;
}

store::treelistnode* DirectoryNode(store::headerlistmanager& store, std::string_view url) {
    url.remove_prefix(net::SkipScheme(url));
    std::string key = net::PercentDecode(url);
    if (!key.empty() && key.back() == '/') key.pop_back();
    if (key.empty()) return store.Root();
    return store.FindKey(key);
}

ListFill::ListFill(store::headerlistmanager& store, std::string_view directory_url, bool report)
    : store_(store), report_(report) {
    util::MutexLock lock(store_.Mutex());
    const store::treelistnode* node = DirectoryNode(store_, directory_url);
    found_ = node != nullptr;
    if (node) key_ = store_.NodeKey(node);
}

bool ListFill::Next(std::vector<ListRow>& rows, std::size_t max_rows) {
    if (done_ || !found_) return false;
    util::MutexLock lock(store_.Mutex());
    const store::treelistnode* directory = key_.empty() ? store_.Root() : store_.FindKey(key_);
    if (!directory) {
        done_ = true;
        return false;
    }
    const store::treelistnode* child =
        started_ ? ChildAfter(*directory, last_name_) : directory->FirstChild();
    for (std::size_t added = 0; child && added < max_rows; child = child->NextSibling()) {
        last_name_ = child->name();
        started_ = true;
        if (child->value().IsRemoved()) continue;
        rows.push_back(MakeListRow(store_, *child, report_));
        ++added;
    }
    done_ = child == nullptr;
    return !done_;
}

ListRow MakeListRow(store::headerlistmanager& store, const store::treelistnode& node, bool report) {
    ListRow row;
    row.name = node.name();
    row.image = RowImage(store, node);
    if (report) FillReportColumns(store, node, row);
    return row;
}

std::string FormatWebDate(std::string_view http_date) {
    if (http_date.empty()) return std::string(kNoDate);
    const std::tm tm = util::ParseHttpDate(http_date);
    if (tm.tm_mday == 0) return std::string(kNoDate);
    return FormatTm(tm);
}

std::string FormatFileDate(std::time_t time) {
    std::tm tm{};
    if (!::localtime_r(&time, &tm)) return std::string(kNoDate);
    return FormatTm(tm);
}

std::string FormatSizeKB(std::int64_t size) {
    return std::to_string(static_cast<long>((size + 1023) / 1024)) + "KB";
}

// ---- titles ---------------------------------------------------------------------------------

std::optional<std::string> PageTitle(const std::string& path) {
    struct stat info {};
    const platform::UniqueFd fd = store::OpenRegularForReading(path, info);
    if (!fd) return std::nullopt;
    std::optional<std::string> title = RawTitle(ReadPageHead(fd.get(), info.st_size));
    if (!title) return std::nullopt;
    std::string converted;
    if (util::ToShiftJis(converted, *title)) *title = std::move(converted);
    DecodeTitleEntities(*title);
    return title;
}

std::optional<std::string> NodeTitle(store::headerlistmanager& store,
                                     const store::treelistnode& node, std::string_view type_part) {
    std::string type;
    if (!store.GetNodeContentType(&node, type) || type.find(type_part) == std::string::npos) {
        return std::nullopt;
    }
    std::string path;
    store.GetNodeLocalPath(&node, path);
    return PageTitle(path);
}

std::string Cp932ToUtf8(std::string_view text) {
    // ASCII is the same in both; a list shows thousands of such texts.
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::string(text);
    }
    iconv_t cd = ::iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    std::string input(text);
    char* in = input.data();
    std::size_t in_left = input.size();
    char buffer[256];
    while (in_left > 0) {
        char* put = buffer;
        std::size_t put_left = sizeof buffer;
        const std::size_t result = ::iconv(cd, &in, &in_left, &put, &put_left);
        out.append(buffer, static_cast<std::size_t>(put - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no character
            ++in;
            --in_left;
        }
    }
    ::iconv_close(cd);
    return out;
}

// ---- sorting --------------------------------------------------------------------------------

int CompareColumnTexts(std::size_t column, std::string_view a, std::string_view b) {
    if (column == kSizeColumn) {
        const long x = LeadingNumber(a);
        const long y = LeadingNumber(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    return std::strcoll(std::string(a).c_str(), std::string(b).c_str());
}

bool ListSortState::Click(std::size_t column) {
    if (column >= next_ascending_.size()) return true;
    const bool ascending = next_ascending_[column];
    next_ascending_[column] = !ascending;
    return ascending;
}

}  // namespace kelvra::app

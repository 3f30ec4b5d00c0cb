#include "app/bookmarkwindow.h"

#include <algorithm>
#include <cstdint>

#include "app/registration.h"
#include "app/settings.h"
#include "net/url.h"

namespace kelvra::app {

namespace {

constexpr char kAddCaption[] = "ﾌﾞｯｸﾏｰｸの追加";
constexpr char kChangeCaption[] = "ﾌﾞｯｸﾏｰｸの変更";
constexpr char kRegisterCaption[] = "ﾌﾞｯｸﾏｰｸに登録します";
constexpr char kDuplicate[] = "同じURLのﾌﾞｯｸﾏｰｸが存在します";
constexpr char kAlreadyThere[] = "既にﾌﾞｯｸﾏｰｸに登録済みです";
constexpr char kUseHtmlTitle[] = "ﾀｲﾄﾙをHTMLに記述されたものにしますか?";
constexpr char kCopyCaption[] = "ｺﾋﾟｰ先のﾍﾟｰｼﾞを選択してください";
constexpr char kMoveCaption[] = "移動先のﾍﾟｰｼﾞを選択してください";
constexpr char kDeleteQuestion[] =
    "上記のﾌﾞｯｸﾏｰｸを削除します\n\nﾃﾞｰﾀも消す場合は Y を、\nﾌﾞｯｸﾏｰｸだけ消す場合は N "
    "を選択してください";
constexpr char kBusyRefusal[] = "作業中に付きﾃﾞｰﾀの消去は出来ません";
constexpr char kBusyRefusalCaption[] = "ﾃﾞｰﾀ消去ｴﾗｰ";
constexpr char kDeletePageQuestion[] = "ﾌﾞｯｸﾏｰｸﾍﾟｰｼﾞを削除します\nよろしいですか？";
constexpr char kDeleteAfterLinked[] = "下記のﾌﾞｯｸﾏｰｸを削除しますか?";

std::string TrimmedRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

// Reads a 32-bit little-endian number at offset.
int Int32At(const std::vector<unsigned char>& record, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{record[offset + i]} << (8 * i);
    return static_cast<int>(value);
}

void PutInt32(std::vector<unsigned char>& record, std::size_t offset, int value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) record[offset + i] = (bits >> (8 * i)) & 0xFF;
}

constexpr std::size_t kWeightOffset = 16;
constexpr std::size_t kItalicOffset = 20;
constexpr std::size_t kFaceOffset = 28;
constexpr std::size_t kFaceSize = 32;

}  // namespace

BookmarkMenuState BookmarkMenu(bool page_mode, std::size_t selected) {
    return {page_mode, selected == 1, selected > 0};
}

std::string BookmarkStatus(const std::vector<std::string>& entries,
                           const std::vector<std::size_t>& selected) {
    if (selected.size() > 1) return kBookmarkSeveralSelected;
    if (selected.empty() || selected.front() >= entries.size()) return {};
    return std::string(BookmarkUrl(entries[selected.front()]));
}

BookmarkWindowModel::BookmarkWindowModel(const std::string& data_directory, UserInterface& ui,
                                         BookmarkHost& host)
    : ui_(ui), host_(host), file_(data_directory + kBookmarkFileName) {}

bool BookmarkWindowModel::Open() {
    const bool read = file_.Open();
    pages_ = file_.PageNames();
    current_ = 0;
    page_mode_ = true;
    Load();
    return read;
}

bool BookmarkWindowModel::Close() {
    WriteBack();
    return file_.Close();
}

std::string BookmarkWindowModel::CurrentName() const {
    return current_ < pages_.size() ? pages_[current_] : std::string();
}

void BookmarkWindowModel::WriteBack() {
    const std::vector<std::string> pages = page_mode_ ? std::vector{CurrentName()} : pages_;
    for (const std::string& page : pages) {
        std::vector<std::string> entries;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (origins_[i] == page) entries.push_back(entries_[i]);
        }
        // A page as the file has it stays untouched: a missing file stays missing.
        if (entries != file_.Entries(page)) file_.WritePage(page, entries);
    }
}

void BookmarkWindowModel::Load() {
    entries_.clear();
    origins_.clear();
    const std::vector<std::string> pages = page_mode_ ? std::vector{CurrentName()} : pages_;
    for (const std::string& page : pages) {
        for (std::string& entry : file_.Entries(page)) {
            entries_.push_back(std::move(entry));
            origins_.push_back(page);
        }
    }
}

void BookmarkWindowModel::ReloadPageNames() {
    const std::string shown = CurrentName();
    pages_ = file_.PageNames();
    const auto found = std::find(pages_.begin(), pages_.end(), shown);
    current_ = found == pages_.end() ? 0 : static_cast<std::size_t>(found - pages_.begin());
}

void BookmarkWindowModel::SelectPage(std::size_t index) {
    if (index >= pages_.size()) return;
    WriteBack();
    current_ = index;
    Load();
}

void BookmarkWindowModel::SetPageMode(bool on) {
    if (on == page_mode_) return;
    WriteBack();
    page_mode_ = on;
    Load();
}

bool BookmarkWindowModel::ShownHasUrl(std::string_view url) const {
    const std::string page = CurrentName();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (origins_[i] == page && BookmarkUrl(entries_[i]) == url) return true;
    }
    return false;
}

bool BookmarkWindowModel::AnyPageHasUrl(std::string_view url) {
    WriteBack();
    return std::any_of(pages_.begin(), pages_.end(),
                       [&](const std::string& page) { return file_.HasUrl(page, url); });
}

std::vector<std::size_t> BookmarkWindowModel::Add() {
    if (!page_mode_) return {};
    Bookmark bookmark;
    if (!host_.EditBookmark(kAddCaption, bookmark)) return {};
    bookmark.title = TrimmedRight(std::move(bookmark.title));
    bookmark.url = TrimmedRight(std::move(bookmark.url));
    net::NormalizeUrl(bookmark.url);
    if (ShownHasUrl(bookmark.url)) {
        ShowMessage(ui_, kDuplicate, bookmark.url, MessageIcon::kStop);
        return {};
    }
    if (bookmark.title.empty()) {
        if (std::optional<std::string> title = host_.PageTitle(bookmark.url);
            title && !title->empty() &&
            ui_.MessageBox(kUseHtmlTitle, *title, MessageIcon::kQuestion, MessageButtons::kYesNo) ==
                DialogResult::kYes) {
            bookmark.title = std::move(*title);
        }
    }
    entries_.push_back(BookmarkEntry(bookmark));
    origins_.push_back(CurrentName());
    return {entries_.size() - 1};
}

std::vector<std::size_t> BookmarkWindowModel::Change(std::size_t index) {
    if (!page_mode_ || index >= entries_.size()) return {};
    const std::string_view url = BookmarkUrl(entries_[index]);
    std::string_view title = std::string_view(entries_[index]).substr(url.size());
    if (!title.empty()) title.remove_prefix(1);
    Bookmark bookmark{std::string(url), std::string(title)};
    if (!host_.EditBookmark(kChangeCaption, bookmark)) return {index};
    bookmark.title = TrimmedRight(std::move(bookmark.title));
    bookmark.url = TrimmedRight(std::move(bookmark.url));
    entries_[index] = BookmarkEntry(bookmark);
    return {index};
}

std::vector<std::size_t> BookmarkWindowModel::Move(std::size_t index, EntryMove move) {
    if (!page_mode_ || !MoveEntry(entries_, index, move)) return {index};
    switch (move) {
        case EntryMove::kTop:
            return {0};
        case EntryMove::kUp:
            return {index - 1};
        case EntryMove::kDown:
            return {index + 1};
        case EntryMove::kBottom:
            break;
    }
    return {entries_.size() - 1};
}

void BookmarkWindowModel::CopyToOtherPage(const std::vector<std::size_t>& selected, bool move) {
    if (!page_mode_ || selected.empty()) return;
    const std::optional<std::string> target =
        host_.ChoosePage(move ? kMoveCaption : kCopyCaption, pages_);
    if (!target) return;
    WriteBack();
    if (!CopyToPage(file_, CurrentName(), entries_, selected, *target, move)) return;
    origins_.assign(entries_.size(), CurrentName());
    ReloadPageNames();
}

void BookmarkWindowModel::Erase(std::size_t index) {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    origins_.erase(origins_.begin() + static_cast<std::ptrdiff_t>(index));
}

void BookmarkWindowModel::Delete(const std::vector<std::size_t>& selected) {
    if (!page_mode_) return;
    for (auto index = selected.rbegin(); index != selected.rend(); ++index) {
        if (*index >= entries_.size()) continue;
        const DialogResult answer =
            ui_.AskWithDefault(kDeleteQuestion, entries_[*index], MessageIcon::kQuestion,
                               MessageButtons::kYesNoCancel, DialogResult::kNo);
        if (answer == DialogResult::kCancel) return;
        if (answer == DialogResult::kYes &&
            !host_.RemoveData(std::string(BookmarkUrl(entries_[*index])))) {
            ShowMessage(ui_, kBusyRefusal, kBusyRefusalCaption, MessageIcon::kStop);
            return;
        }
        Erase(*index);
    }
}

void BookmarkWindowModel::DeletePage() {
    if (!page_mode_) return;
    const std::string page = CurrentName();
    if (ui_.MessageBox(kDeletePageQuestion, page, MessageIcon::kQuestion, MessageButtons::kYesNo) !=
        DialogResult::kYes) {
        return;
    }
    file_.RemovePage(page);
    pages_ = file_.PageNames();
    current_ = 0;
    Load();
}

void BookmarkWindowModel::LinkedData(LinkedOperation operation,
                                     const std::vector<std::size_t>& selected) {
    const std::vector<std::string> urls = Urls(selected);
    if (urls.empty()) return;
    const std::optional<std::string> destination = host_.LinkedData(operation, urls);
    if (!destination) return;
    if (operation != LinkedOperation::kRemove) {
        std::vector<std::string> entries;
        for (const std::size_t index : selected) entries.push_back(entries_[index]);
        AddToDirectoryBookmarks(*destination, page_mode_ ? CurrentName() : std::string(), entries);
    }
    if (operation == LinkedOperation::kCopy) return;
    for (auto index = selected.rbegin(); index != selected.rend(); ++index) {
        const DialogResult answer =
            ui_.MessageBox(entries_[*index], kDeleteAfterLinked, MessageIcon::kQuestion,
                           MessageButtons::kYesNoCancel);
        if (answer == DialogResult::kCancel) break;
        if (answer == DialogResult::kYes) Erase(*index);
    }
}

void BookmarkWindowModel::AddFromMainWindow(const std::vector<std::string>& urls, bool by_user) {
    for (const std::string& given : urls) {
        const std::string url = net::EscapeUnsafeBytes(given);
        if (by_user && ShownHasUrl(url)) {
            ShowMessage(ui_, kAlreadyThere, url, MessageIcon::kExclamation);
            continue;
        }
        if (!by_user && AnyPageHasUrl(url)) continue;
        Bookmark bookmark{url, url};
        if (std::optional<std::string> title = host_.PageTitle(url); title && !title->empty()) {
            bookmark.title = std::move(*title);
        }
        if (!host_.EditBookmark(kRegisterCaption, bookmark)) return;
        entries_.push_back(BookmarkEntry(bookmark));
        origins_.push_back(CurrentName());
    }
}

std::vector<std::string> BookmarkWindowModel::Urls(const std::vector<std::size_t>& selected) const {
    std::vector<std::string> urls;
    for (const std::size_t index : selected) {
        if (index < entries_.size()) urls.emplace_back(BookmarkUrl(entries_[index]));
    }
    return urls;
}

void BookmarkWindowModel::Fetch(const std::vector<std::size_t>& selected) {
    std::vector<std::string> urls = Urls(selected);
    std::erase_if(urls, [](const std::string& url) { return !LooksLikeUrl(url); });
    if (!urls.empty()) host_.Fetch(urls);
}

std::vector<unsigned char> FontRecord(const ListFont& font) {
    std::vector<unsigned char> record(kFontRecordSize, 0);
    PutInt32(record, 0, font.height);
    PutInt32(record, kWeightOffset, font.weight);
    record[kItalicOffset] = font.italic;
    record[kItalicOffset + 1] = font.underline;
    record[kItalicOffset + 2] = font.strike_out;
    std::copy_n(font.face.begin(), std::min(font.face.size(), kFaceSize - 1),
                record.begin() + kFaceOffset);
    return record;
}

ListFont FontFromRecord(const std::vector<unsigned char>& record) {
    ListFont font;
    if (record.size() < kFontRecordSize) return font;
    font.height = Int32At(record, 0);
    font.weight = Int32At(record, kWeightOffset);
    font.italic = record[kItalicOffset] != 0;
    font.underline = record[kItalicOffset + 1] != 0;
    font.strike_out = record[kItalicOffset + 2] != 0;
    const auto face = record.begin() + kFaceOffset;
    font.face.assign(face, std::find(face, face + kFaceSize, 0));
    return font;
}

}  // namespace kelvra::app

#include "app/conditionform.h"

#include <algorithm>

#include "net/url.h"
#include "util/strutil.h"

namespace kelvra::app {

namespace {

constexpr char kLevelWarning[] =
    "[全てのLinkを追跡取得] 時は\n取得階層数を１以上に設定しなければなりません.";
constexpr char kLevelWarningCaption[] = "取得設定警告";
constexpr char kStoreQuestion[] =
    "取得条件に変更が無い場合、条件保存ﾌｧｲﾙが大きくなるだけで利点がありません。\n記録しますか？";
constexpr char kStoreCaption[] = "取得条件を記録します";
constexpr char kResetQuestion[] = "取得条件をﾌｧｲﾙから消去し、初期値に戻しますか？";
constexpr char kResetQuestionCaption[] = "取得条件の消去と初期化";
constexpr char kHeaderWarning[] =
    "誤った設定を行うと、取得が全くできなくなります。\nRFC HTTP protocol に詳しく無い場合は\n"
    "設定しないことをお勧めします\n\nそれでも設定しますか?";
constexpr char kHeaderWarningCaption[] = "警告";
constexpr char kDuplicateEntry[] = "すでに登録済みです";
constexpr char kDuplicateCaption[] = "重複報告";
constexpr int kRegetNone = 3;  // "取得しない"

// GetAll keeps the undetermined state as 2; TraceMoved and SRCobject keep it as 1 and "on" as 2.
CheckState GetAllState(std::int16_t value) {
    return value == 1   ? CheckState::kChecked
           : value == 2 ? CheckState::kUndetermined
                        : CheckState::kUnchecked;
}

std::int16_t GetAllValue(CheckState state) {
    return state == CheckState::kChecked ? 1 : state == CheckState::kUndetermined ? 2 : 0;
}

CheckState TraceState(std::uint8_t value) {
    return value == 2   ? CheckState::kChecked
           : value == 1 ? CheckState::kUndetermined
                        : CheckState::kUnchecked;
}

std::uint8_t TraceValue(CheckState state) {
    return state == CheckState::kChecked ? 2 : state == CheckState::kUndetermined ? 1 : 0;
}

bool Agreed(UserInterface& ui, std::string_view text, std::string_view caption,
            MessageIcon icon = MessageIcon::kNone) {
    return ui.MessageBox(text, caption, icon, MessageButtons::kOkCancel) == DialogResult::kOk;
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

ConditionControls ControlsOf(const store::AcquisitionCondition& r) {
    ConditionControls c;
    c.reget_level = r.reget_level >= 0 && r.reget_level < kRegetNone ? r.reget_level : kRegetNone;
    c.complete_trace = r.complete_trace != 0;
    c.complete_trace_count = std::max<long>(r.complete_trace, 0);
    c.classes = r.classes;
    c.get_all = GetAllState(r.get_all);
    c.trace_moved = TraceState(r.trace_moved);
    c.src_object = TraceState(r.src_object);
    c.enable_filter = r.enable_filter;
    c.no_cache = r.no_cache;
    c.relative_link = r.relative_link;
    c.save_error_page = r.save_error_page;
    c.authentication = r.authentication;
    c.form_tag = r.form_tag;
    c.ftp_all = r.ftp_all;
    c.modify_check = r.modify_check;
    c.strict_modify_check = r.strict_modify_check;
    c.send_cookie = r.send_cookie;
    c.preserve_old_data = r.preserve_old_data;
    return c;
}

bool ReadControls(UserInterface& ui, const ConditionControls& c, store::AcquisitionCondition& r) {
    if (c.get_all == CheckState::kChecked && c.classes == 0) {
        ShowMessage(ui, kLevelWarning, kLevelWarningCaption, MessageIcon::kExclamation);
        return false;
    }
    r.get_all = GetAllValue(c.get_all);
    r.classes = static_cast<std::int16_t>(c.classes);
    if (!c.complete_trace) {
        r.complete_trace = 0;
    } else {
        r.complete_trace =
            c.complete_trace_count < 1 ? -1 : static_cast<std::int16_t>(c.complete_trace_count);
    }
    r.trace_moved = TraceValue(c.trace_moved);
    r.src_object = TraceValue(c.src_object);
    r.reget_level = static_cast<std::int16_t>(c.reget_level);
    r.enable_filter = c.enable_filter;
    r.no_cache = c.no_cache;
    r.relative_link = c.relative_link;
    r.save_error_page = c.save_error_page;
    r.authentication = c.authentication;
    r.form_tag = c.form_tag;
    r.ftp_all = c.ftp_all;
    r.modify_check = c.modify_check;
    r.strict_modify_check = c.strict_modify_check;
    r.send_cookie = c.send_cookie;
    r.preserve_old_data = c.preserve_old_data;
    return true;
}

ConditionForm::ConditionForm(UserInterface& ui, const std::string& file_name, std::string url,
                             store::AcquisitionCondition& record)
    : ui_(ui), url_(std::move(url)), record_(record) {
    // Without a readable file every field takes its default.
    static_cast<void>(file_.Load(file_name));
    stored_ = !url_.empty() && file_.ReadCondition(url_, record_, true);
    if (!stored_) file_.ReadCondition(store::GetConditionClass::kDefaultSection, record_, false);
}

std::string_view ConditionForm::Section() const {
    return url_.empty() ? store::GetConditionClass::kDefaultSection : std::string_view(url_);
}

std::string ConditionForm::Title() const {
    return url_.empty() ? kDefaultConditionTitle : url_;
}

std::string ConditionForm::ResetCaption() const {
    return stored_ ? kResetStoredCaption : kResetCaption;
}

void ConditionForm::StoreRecord() {
    file_.WriteCondition(Section(), record_);
    // A condition file that cannot be written is not reported.
    static_cast<void>(file_.Save());
}

bool ConditionForm::Ok(const ConditionControls& controls) {
    if (!ReadControls(ui_, controls, record_)) return false;
    if (url_.empty()) StoreRecord();
    return true;
}

bool ConditionForm::Store(const ConditionControls& controls) {
    if (url_.empty()) return Ok(controls);
    if (!ReadControls(ui_, controls, record_)) return false;
    if (Agreed(ui_, kStoreQuestion, kStoreCaption)) {
        StoreRecord();
        stored_ = true;
    }
    return false;
}

bool ConditionForm::Reset() {
    if (!Agreed(ui_, kResetQuestion, kResetQuestionCaption)) return false;
    file_.EraseCondition(Section());
    file_.ReadCondition(store::GetConditionClass::kDefaultSection, record_, false);
    static_cast<void>(file_.Save());
    stored_ = false;
    return true;
}

bool ConditionForm::ConfirmHeaderEdit() {
    // A wrong header stops every fetch: Enter must not agree by accident.
    return ui_.AskWithDefault(kHeaderWarning, kHeaderWarningCaption, MessageIcon::kNone,
                              MessageButtons::kOkCancel,
                              DialogResult::kCancel) == DialogResult::kOk;
}

std::optional<std::string> AcceptEntry(std::string_view text) {
    text = util::SkipWhite(text.substr(0, net::kMaxUrl));
    if (text.empty()) return std::nullopt;
    const bool deny = text.front() == '!';
    if (deny) text.remove_prefix(1);
    std::string entry(text);
    entry.erase(0, net::NormalizeUrl(entry));
    const std::size_t directory_end = net::DirectoryEnd(entry);
    if (directory_end < entry.size()) entry.resize(directory_end + 1);
    return deny ? "!" + entry : entry;
}

bool AddAcceptEntry(UserInterface& ui, std::vector<std::string>& entries, std::string_view text) {
    std::optional<std::string> entry = AcceptEntry(text);
    if (!entry) return false;
    if (std::find(entries.begin(), entries.end(), *entry) != entries.end()) {
        ShowMessage(ui, kDuplicateEntry, kDuplicateCaption, MessageIcon::kExclamation);
        return false;
    }
    entries.push_back(std::move(*entry));
    return true;
}

std::optional<std::string> RemoveListEntry(UserInterface& ui, std::vector<std::string>& entries,
                                           std::size_t index, bool entry_as_caption) {
    if (index >= entries.size()) return std::nullopt;
    const std::string_view shown = entries[index];
    const std::string_view question = kRemoveFromListQuestion;
    if (!Agreed(ui, entry_as_caption ? question : shown, entry_as_caption ? shown : question,
                MessageIcon::kQuestion)) {
        return std::nullopt;
    }
    std::string entry = std::move(entries[index]);
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    return entry;
}

std::vector<std::string> AcceptEntries(const store::listmanager& list) {
    return {list.begin(), list.end()};
}

void SetAcceptEntries(store::listmanager& list, const std::vector<std::string>& entries) {
    list.Clear();
    for (const std::string& entry : entries) list.Append(entry);
}

std::string FitTextBuffer(std::string_view text, std::size_t buffer_size) {
    if (buffer_size == 0) return {};
    std::size_t length = std::min(text.size(), buffer_size - 1);
    if (length < text.size()) {
        while (length > 0 && IsUtf8Continuation(text[length])) --length;
    }
    return std::string(text.substr(0, length));
}

}  // namespace kelvra::app

#pragma once
// What the condition dialogs do, without their windows: the acquisition-condition dialog's
// controls and the record they edit, storing and resetting a condition in kelvraw.cf, the
// accept-URL list and the text edit dialog's limit.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/userinterface.h"
#include "store/condition.h"
#include "store/configclass.h"

namespace kelvra::app {

inline constexpr char kConditionFrameTitle[] = "WebPage 取得条件設定";
inline constexpr char kDefaultConditionTitle[] = "ﾃﾞﾌｫﾙﾄの取得条件設定";
inline constexpr char kResetCaption[] = "初期化(&Z)";
inline constexpr char kResetStoredCaption[] = "*初期化(&Z)";
inline constexpr char kFilterEditTitle[] = "拡張子/文字列ﾌｨﾙﾀの編集";
inline constexpr char kHeaderEditTitle[] = "追加特殊Headerの編集";
inline constexpr char kAcceptDialogTitle[] = "許容URLの設定";
inline constexpr char kRemoveFromListQuestion[] = "ﾘｽﾄから削除しますか？";

// The ranges of the level box and of the follow-up count box.
inline constexpr long kMaxLevels = 20;
inline constexpr long kMaxFollowUp = 99;

// A box with three states; the record encodes them differently per field.
enum class CheckState { kUnchecked, kChecked, kUndetermined };

// The condition dialog's controls as values.
struct ConditionControls {
    int reget_level = 1;            // the radio button: 0..3, 3 is "取得しない"
    bool complete_trace = false;    // "&1:未更新時は"
    long complete_trace_count = 0;  // its "階層追跡" count
    long classes = 0;               // "階層まで取得 (0=無限)"
    CheckState get_all = CheckState::kUnchecked;
    CheckState trace_moved = CheckState::kUndetermined;
    CheckState src_object = CheckState::kUndetermined;
    bool enable_filter = true;
    bool no_cache = false;
    bool relative_link = false;
    bool save_error_page = false;
    bool authentication = true;
    bool form_tag = true;
    bool ftp_all = false;
    bool modify_check = true;
    bool strict_modify_check = false;
    bool send_cookie = false;
    bool preserve_old_data = false;

    bool operator==(const ConditionControls&) const = default;
};

ConditionControls ControlsOf(const store::AcquisitionCondition& record);

// Copies the controls into record. Refused (record untouched, the warning shown) when every
// link is to be followed without a level limit.
bool ReadControls(UserInterface& ui, const ConditionControls& controls,
                  store::AcquisitionCondition& record);

// The condition dialog for the default condition (empty url) or for one start URL, over the
// condition file. The filter text, extra header and accept list are edited in the record
// directly by the dialogs the buttons open.
class ConditionForm final {
  public:
    ConditionForm(UserInterface& ui, const std::string& file_name, std::string url,
                  store::AcquisitionCondition& record);

    // The window title: the URL, or the default condition's title.
    std::string Title() const;
    // "*初期化(&Z)" while the URL's own condition is stored.
    std::string ResetCaption() const;
    ConditionControls Controls() const { return ControlsOf(record_); }

    // OK: true when the dialog closes. The default condition is stored, a URL's is only
    // copied into the record.
    bool Ok(const ConditionControls& controls);
    // "記憶": true when the dialog closes (the default condition: as OK). A URL's condition is
    // stored under its own section after the user agrees.
    bool Store(const ConditionControls& controls);
    // "初期化": after the user agrees, erases the condition from the file and reads the record
    // again; true when the controls must be refilled.
    bool Reset();
    // "追加&Header編集" warns first; true when the user goes on.
    bool ConfirmHeaderEdit();

  private:
    std::string_view Section() const;
    void StoreRecord();

    UserInterface& ui_;
    std::string url_;
    store::AcquisitionCondition& record_;
    store::GetConditionClass file_;
    bool stored_ = false;  // the URL has a section of its own
};

// The accept URL dialog's "追加": the entry the text gives ('!' kept in front, normalised,
// scheme dropped, cut after the last '/' of its path); none for a blank text.
std::optional<std::string> AcceptEntry(std::string_view text);
// Appends the entry of text to entries; a duplicate is reported instead. True when the edit
// box is to be cleared.
bool AddAcceptEntry(UserInterface& ui, std::vector<std::string>& entries, std::string_view text);
// Double-click on entry index of a list: after the user agrees to "ﾘｽﾄから削除しますか？" (the
// accept URL dialog shows the entry as caption, the multi-URL dialog as text) it is removed and
// returned for the edit box.
std::optional<std::string> RemoveListEntry(UserInterface& ui, std::vector<std::string>& entries,
                                           std::size_t index, bool entry_as_caption);

std::vector<std::string> AcceptEntries(const store::listmanager& list);
void SetAcceptEntries(store::listmanager& list, const std::vector<std::string>& entries);

// The text edit dialog's OK: text cut to what a buffer of buffer_size bytes (with its NUL)
// holds, never inside a UTF-8 sequence.
std::string FitTextBuffer(std::string_view text, std::size_t buffer_size);

}  // namespace kelvra::app

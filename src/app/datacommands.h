#pragma once
// The "ﾃﾞｰﾀ(&D)" commands from question to result: which objects, where to, the confirmations,
// the progress dialog and the file selection. The dialogs come through DataDialogs, so the
// same flow runs under the desktop program and the tests.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/appcore.h"
#include "app/commands.h"
#include "app/dataprogress.h"
#include "app/movedata.h"

namespace kelvra::app {

inline constexpr char kBusyTitle[] = "ただいま作業中......";
inline constexpr char kIdleTitle[] = "KelvraW";
inline constexpr char kDestinationTitle[] = "ﾃﾞｰﾀの行先を指定してください";
inline constexpr char kDeleteWarningCaption[] = "削除の警告";
inline constexpr char kDeleteSelectedWarning[] = "選択URLのﾃﾞｰﾀは全て削除されます\nよろしいですか?";
inline constexpr char kDeleteLinkedWarning[] =
    "選択URLのﾘﾝｸﾃﾞｰﾀは全て元ﾃﾞｨﾚｸﾄﾘから削除されます\nよろしいですか?";
inline constexpr char kWholeTreeQuestion[] = "全階層を操作対象としますがよろしいですか?";
inline constexpr char kWholeTreeCaption[] = "階層が選択されていません";
inline constexpr char kEmptyDirectoriesQuestion[] = "空のﾃﾞｨﾚｸﾄﾘも消しますか?";
inline constexpr char kEmptyDirectoriesCaption[] = "空ﾃﾞｨﾚｸﾄﾘ消去";
inline constexpr char kPruningTitle[] = "空ﾃﾞｨﾚｸﾄﾘ検索/消去中(固まります)";
inline constexpr char kUnlinkedTitle[] = "無履歴ﾃﾞｰﾀの処理";
inline constexpr char kNoFileFound[] = "File was not found.";
inline constexpr char kCancelledText[] = "Cancelled.";
inline constexpr char kProcessCancelled[] = "Process cancelled";

// The dialogs of the data commands.
class DataDialogs {
  public:
    virtual ~DataDialogs() = default;
    // Opens the progress dialog (main window disabled) and returns its view, valid until
    // CloseProgress.
    virtual ProgressView& OpenProgress(std::string_view caption) = 0;
    virtual void SetProgressTitle(std::string_view title) = 0;
    // The button becomes "OK", a beep, and the dialog waits for it; then it closes and the
    // main window is enabled and raised.
    virtual void CloseProgress() = 0;
    // The file-selection dialog over candidates; the chosen entries in their list order, none
    // on "Cancel".
    virtual std::optional<std::vector<std::string>> ChooseFiles(
        const std::vector<std::string>& candidates) = 0;
};

enum class DataSelection { kFetchedSinceStart, kBelowSelected, kAllLinks };

// What a record command did: the URL tree needs refreshing when handled is above 0 and the
// operation was not a copy.
struct RecordOutcome {
    long handled = 0;
    std::optional<std::string> destination;  // the directory chosen, none for a removal
};

// A record command (copy, move or remove). Refused (false) unless busy is idle.
bool RunRecordCommand(AppCore& core, BusyState& busy, DataDialogs& dialogs, DataSelection selection,
                      DataOperation operation, const std::vector<std::string>& urls,
                      RecordOutcome& outcome);

// The command for files without records: moved (move) or removed.
bool RunUnlinkedCommand(AppCore& core, BusyState& busy, DataDialogs& dialogs, bool move,
                        std::vector<std::string> urls);

}  // namespace kelvra::app

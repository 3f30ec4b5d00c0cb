#pragma once
// "階層以下一覧出力": the entries below the selected URLs as a CSV list in the program's code
// page, one line per stored object or folder with its title or type, dates and size.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/appcore.h"
#include "app/commands.h"

namespace kelvra::app {

inline constexpr char kExportFileTitle[] = "ﾃﾞｰﾀﾘｽﾄを出力するﾌｧｲﾙ名を入力してください";
inline constexpr char kExportFailedText[] = "ﾃﾞｰﾀﾘｽﾄが保存出来ません";
inline constexpr char kExportDoneText[] = "ﾃﾞｰﾀﾘｽﾄを保存しました";
inline constexpr char kExportProgressStatus[] = "Export List in progress...";
inline constexpr char kExportDoneStatus[] = "Export List done.";

// Appends the lines of url's node and every node below it, depth first, to out (CP932 bytes,
// each ending in LF). A URL without a query part loses a final "/" first. Returns the number
// of lines appended (0 when the URL has no node).
std::size_t AppendExportLines(store::headerlistmanager& store, std::string_view url,
                              std::string& out);

// The whole command: refused (false, nothing shown) unless busy is idle; modal while it runs.
// Asks for the file name, shows the progress, writes the lines of every URL to the file
// (whole, through a temporary file) and tells whether the list was saved. No URLs: nothing.
bool ExportList(AppCore& core, BusyState& busy, const std::vector<std::string>& urls);

}  // namespace kelvra::app

#pragma once
// Opening stored data: as a URL in the browser (through the local server), as a file with the
// desktop's program, with a program the user names; copying URLs and file names to the
// clipboard; the URL information box; the help file.
//
// The desktop reports failure to open as a non-zero code (UserInterface::OpenWithDesktop):
// where the Windows build shows the shell's result of 32 or less, this build shows that code.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/appcore.h"
#include "app/lifo.h"

namespace kelvra::app {

// The pane a URL was taken from: a list row names a stored object, a tree item a directory.
enum class Pane { kTree = 1, kList = 2 };

struct SelectedUrl {
    std::string url;
    Pane pane = Pane::kList;
};

// The file name of a selected URL: for a list row the stored file of its record (none without
// a record); for a tree item the data directory + FileSafeName of the part after "://".
std::optional<std::string> FileNameOfUrl(AppCore& core, const SelectedUrl& selected);

// The command line of "指定ﾌﾟﾛｸﾞﾗﾑで開く" for one URL: the program (before the first "?"), then
// the option text (after it, leading blanks skipped) with "$URL$" and "$FILE$" replaced, each
// replacement set off by blanks; without a placeholder the file name is appended. Trailing
// blanks removed. A missing file name leaves "$FILE$" out.
std::string BuildProgramCommandLine(std::string_view command_line, std::string_view url,
                                    const std::optional<std::string>& file_name);
// Splits a command line into arguments at blanks; double quotes group blanks into one
// argument and are removed.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Opens url with the desktop's browser. Unless keep_mode (Alt held) while the server runs, the
// server is put into Local Mode first (flag bits kept), so the browser gets the stored copy;
// a failure restores the previous mode. A leading "*" is dropped. False on failure (told in
// the status bar).
bool OpenAsUrl(AppCore& core, std::string_view url, bool keep_mode);
// Opens the stored file of url with the desktop's program. A leading "*" is dropped. False
// when there is no stored file or it could not be opened (told in the status bar).
bool OpenAsFile(AppCore& core, std::string_view url);
// Runs command_line (as the program dialog gave it) for each URL in order; the command line
// goes to the front of applications first. Stops at the first program that cannot start
// (told in a message box). True when every one started.
bool OpenWithProgram(AppCore& core, LIFOClass& applications, std::string_view command_line,
                     const std::vector<SelectedUrl>& urls);

// The URLs, joined with LF, onto the clipboard.
void CopyUrls(UserInterface& ui, const std::vector<std::string>& urls);
// The file names of the URLs that have one, joined with LF, onto the clipboard.
void CopyFileNames(AppCore& core, const std::vector<SelectedUrl>& urls);

// The box "URL情報" shows for url (texts UTF-8 for display).
struct UrlInfo {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::kNone;
};
UrlInfo ComposeUrlInfo(AppCore& core, std::string_view url);
void ShowUrlInfo(AppCore& core, std::string_view url);

// "&Help": opens "HelpFile" with the desktop; when it is unset or cannot be opened, offers to
// choose one (stored as "HelpFile") and tries again. True when the help opened.
bool OpenHelp(AppCore& core);

// The [UseApplications] list of kelvraw.ini (the program dialog's command lines).
void LoadUseApplications(LIFOClass& applications, const std::string& ini_path);
bool SaveUseApplications(const LIFOClass& applications, const std::string& ini_path);

}  // namespace kelvra::app

#pragma once
// Where start URLs come from besides the entry dialog: multi-URL files (".mus"), the clipboard,
// and files dropped on the main window (multi-URL files, retry lists, Internet shortcuts).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::app {

inline constexpr char kMultiUrlHeader[] = "[MultiURLSetting]";

// The add rule of a multi-URL list: the text must look like a URL; everything from '#' on is cut
// off; it is normalised and added, in sorted place, unless the list already holds exactly it.
// Returns whether it was added.
bool AddMultiUrl(std::vector<std::string>& list, std::string_view text);

// Adds the URLs of a multi-URL file to list by the add rule, calling accepted for each one
// added. Returns the number added, 0 for a file that is no multi-URL file, -1 when it cannot be
// read.
int LoadMultiUrlFile(const std::string& path, std::vector<std::string>& list,
                     const std::function<void(const std::string&)>& accepted = {});

// Writes list as a multi-URL file (last entry first), whole or not at all.
bool SaveMultiUrlFile(const std::string& path, const std::vector<std::string>& list);

// The URL lines of a clipboard text: lines end at any control byte, leading white is skipped,
// and only lines that look like URLs are kept.
std::vector<std::string> ClipboardUrls(std::string_view text);

// The URL of an Internet shortcut (".url": [InternetShortcut] URL=) or of a desktop link
// (".desktop": [Desktop Entry] with Type=Link and URL=); empty when the file holds none.
std::string ReadShortcutUrl(const std::string& path);

// What a drop of files on the main window does.
struct DroppedFiles {
    enum class Action {
        kNone,          // nothing usable was dropped
        kMultiUrlFile,  // register from the multi-URL file in file
        kRetryList,     // fetch the retry list in file again
        kEnterUrl,      // open the entry dialog with urls.front()
        kRegisterUrls,  // register urls
    };
    Action action = Action::kNone;
    std::string file;
    std::vector<std::string> urls;
};

// One file: a ".mus" or ".rlf" name, else an Internet shortcut. Several: the URLs of the
// shortcuts among them, last dropped first; other files are ignored.
DroppedFiles ClassifyDrop(const std::vector<std::string>& files);

}  // namespace kelvra::app

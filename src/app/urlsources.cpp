#include "app/urlsources.h"

#include <algorithm>
#include <optional>

#include "app/registration.h"
#include "net/url.h"
#include "platform/rawfile.h"
#include "util/ascii.h"
#include "util/strutil.h"

namespace kelvra::app {

namespace {

// A multi-URL file line is read up to this many bytes; the rest of a longer line is dropped.
constexpr std::size_t kMaxMultiUrlLine = 2047;
// An Internet shortcut's URL is taken up to this many bytes.
constexpr std::size_t kMaxShortcutUrl = 2048;
constexpr std::size_t kMinSuffixedName = 5;  // a name longer than its four-byte suffix

// Splits text into lines at '\n', dropping a '\r' before it.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

// List markers, numbering and blanks in front of a URL: every byte below 'A'.
std::string_view SkipListMarker(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) < 'A') ++i;
    return line.substr(i);
}

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() >= kMinSuffixedName &&
           util::EqualsNoCase(name.substr(name.size() - suffix.size()), suffix);
}

// The value of key in section of an INI-style text, compared as equal says.
std::optional<std::string_view> IniValue(std::string_view text, std::string_view section,
                                         std::string_view key,
                                         bool (*equal)(std::string_view, std::string_view)) {
    bool in_section = false;
    for (std::string_view line : Lines(text)) {
        line = util::Trim(line);
        if (line.starts_with('[')) {
            in_section = line.ends_with(']') && equal(line.substr(1, line.size() - 2), section);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (in_section && eq != std::string_view::npos &&
            equal(util::Trim(line.substr(0, eq)), key))
            return util::Trim(line.substr(eq + 1));
    }
    return std::nullopt;
}

bool Exactly(std::string_view a, std::string_view b) {
    return a == b;
}

}  // namespace

bool AddMultiUrl(std::vector<std::string>& list, std::string_view text) {
    if (!LooksLikeUrl(text)) return false;
    std::string url(text.substr(0, text.find('#')));
    net::NormalizeUrl(url);
    const auto place = std::lower_bound(list.begin(), list.end(), url);
    if (place != list.end() && *place == url) return false;
    list.insert(place, std::move(url));
    return true;
}

int LoadMultiUrlFile(const std::string& path, std::vector<std::string>& list,
                     const std::function<void(const std::string&)>& accepted) {
    const std::optional<std::string> contents = platform::ReadFileContents(path);
    if (!contents) return -1;
    const std::vector<std::string_view> lines = Lines(*contents);
    if (lines.empty()) return 0;
    std::string header(lines.front().substr(0, kMaxMultiUrlLine));
    util::TrimRight(header);
    if (header != kMultiUrlHeader) return 0;
    int added = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string line(SkipListMarker(lines[i].substr(0, kMaxMultiUrlLine)));
        util::TrimRight(line);
        if (!AddMultiUrl(list, line)) continue;
        ++added;
        if (accepted) accepted(line);
    }
    return added;
}

bool SaveMultiUrlFile(const std::string& path, const std::vector<std::string>& list) {
    std::string contents = std::string(kMultiUrlHeader) + "\n";
    for (auto url = list.rbegin(); url != list.rend(); ++url) contents += *url + "\n";
    return platform::ReplaceFileContents(path, contents);
}

std::vector<std::string> ClipboardUrls(std::string_view text) {
    std::vector<std::string> urls;
    while (!text.empty()) {
        text = util::SkipWhite(text);
        const auto end = std::find_if(text.begin(), text.end(),
                                      [](char c) { return static_cast<unsigned char>(c) < ' '; });
        const std::string_view line(text.begin(), end);
        if (LooksLikeUrl(line)) urls.emplace_back(line);
        text.remove_prefix(line.size());
    }
    return urls;
}

std::string ReadShortcutUrl(const std::string& path) {
    const std::optional<std::string> contents = platform::ReadFileContents(path);
    if (!contents) return {};
    std::optional<std::string_view> url =
        IniValue(*contents, "InternetShortcut", "URL", util::EqualsNoCase);
    if (!url && IniValue(*contents, "Desktop Entry", "Type", Exactly) == "Link")
        url = IniValue(*contents, "Desktop Entry", "URL", Exactly);
    return url ? std::string(url->substr(0, kMaxShortcutUrl)) : std::string();
}

DroppedFiles ClassifyDrop(const std::vector<std::string>& files) {
    DroppedFiles drop;
    if (files.size() == 1) {
        const std::string& file = files.front();
        if (EndsWithNoCase(file, ".mus")) return {DroppedFiles::Action::kMultiUrlFile, file, {}};
        if (EndsWithNoCase(file, ".rlf")) return {DroppedFiles::Action::kRetryList, file, {}};
        std::string url = ReadShortcutUrl(file);
        if (!url.empty()) drop = {DroppedFiles::Action::kEnterUrl, {}, {std::move(url)}};
        return drop;
    }
    for (auto file = files.rbegin(); file != files.rend(); ++file) {
        std::string url = ReadShortcutUrl(*file);
        if (!url.empty()) drop.urls.push_back(std::move(url));
    }
    if (!drop.urls.empty()) drop.action = DroppedFiles::Action::kRegisterUrls;
    return drop;
}

}  // namespace kelvra::app

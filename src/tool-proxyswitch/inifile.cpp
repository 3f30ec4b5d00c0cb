#include "tool-proxyswitch/inifile.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

namespace kelvra::proxyswitch {

namespace {

using Lines = std::vector<std::string>;  // each with its own line end
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::string_view Content(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::optional<std::string_view> SectionOf(std::string_view line) {
    const std::string_view text = Trim(Content(line));
    const std::size_t close = text.find(']');
    if (text.size() < 2 || text.front() != '[' || close == std::string_view::npos) {
        return std::nullopt;
    }
    return text.substr(1, close - 1);
}

// The key name of a "key=value" line; none for comments, blank and other lines.
std::optional<std::string_view> KeyOf(std::string_view line) {
    const std::string_view text = Content(line);
    const std::string_view trimmed = Trim(text);
    const std::size_t equals = text.find('=');
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[' ||
        equals == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(text.substr(0, equals));
}

// The file's text; "" when it does not exist yet, none when it cannot be read.
std::optional<std::string> ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        const bool missing = !std::filesystem::exists(path, error) && !error;
        return missing ? std::optional<std::string>("") : std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

Lines SplitLines(std::string_view text) {
    Lines lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
        lines.emplace_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

void EndLine(std::string& line, const std::string& line_end) {
    if (line.empty() || line.back() != '\n') line += line_end;
}

void SetKey(Lines& lines, std::string_view section, std::string_view key, std::string_view value,
            const std::string& line_end) {
    const std::string entry = std::string(Trim(key)) + "=" + std::string(value) + line_end;
    std::size_t header = kNone;
    std::size_t last_key = kNone;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (header == kNone) {
            if (name && SameName(*name, section)) header = i;
            continue;
        }
        if (name) break;
        const auto found = KeyOf(lines[i]);
        if (!found) continue;
        if (SameName(*found, key)) {
            const std::string_view content = Content(lines[i]);
            lines[i] = std::string(content.substr(0, content.find('=') + 1)) + std::string(value) +
                       lines[i].substr(content.size());
            return;
        }
        last_key = i;
    }
    if (header != kNone) {
        const std::size_t after = last_key != kNone ? last_key : header;
        EndLine(lines[after], line_end);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1), entry);
        return;
    }
    if (!lines.empty()) EndLine(lines.back(), line_end);
    lines.push_back("[" + std::string(Trim(section)) + "]" + line_end);
    lines.push_back(entry);
}

bool ReplaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool EnsureDirectoryOf(const std::string& path) {
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) return true;
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    return std::filesystem::is_directory(directory, error);
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

}  // namespace

std::string SettingsFilePath() {
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config != nullptr && config[0] == '/' ? config : "";
    if (base.empty()) {
        const std::string home = HomeDirectory();
        if (home.empty()) return "./kelvraw.ini";
        base = home + "/.config";
    }
    if (base.back() != '/') base += '/';
    return base + "kelvraw/kelvraw.ini";
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& path) {
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos ||
        Trim(section).empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
        Trim(key).empty() || HasLineBreak(value) || !EnsureDirectoryOf(path)) {
        return false;
    }
    const auto text = ReadText(path);
    if (!text) return false;
    const std::size_t newline = text->find('\n');
    const std::string line_end =
        newline != std::string::npos && newline > 0 && (*text)[newline - 1] == '\r' ? "\r\n" : "\n";
    Lines lines = SplitLines(*text);
    SetKey(lines, section, key, value, line_end);
    std::string updated;
    for (const std::string& line : lines) updated += line;
    return ReplaceFile(path, updated);
}

}  // namespace kelvra::proxyswitch

#include "platform/profile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/rawfile.h"

namespace kelvra::platform {

namespace {

// One line of the file with its own line end ("\n", "\r\n" or none on the last line), so
// that lines we do not touch are written back byte for byte.
using Lines = std::vector<std::string>;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool SameName(std::string_view a, std::string_view b) {
    a = TrimBlanks(a);
    b = TrimBlanks(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
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

std::string JoinLines(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line;
    return text;
}

// The line without its line end.
std::string_view Content(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view content = TrimBlanks(Content(line));
    if (content.size() < 2 || content.front() != '[') return std::nullopt;
    const std::size_t close = content.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return content.substr(1, close - 1);
}

struct KeyLine {
    std::string_view name;
    std::size_t value_offset;  // in the line: the first byte after '=' and its blanks
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::string_view content = Content(line);
    const std::string_view trimmed = TrimBlanks(content);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return std::nullopt;
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::size_t value = equals + 1;
    while (value < content.size() && IsBlank(content[value])) ++value;
    return KeyLine{TrimBlanks(content.substr(0, equals)), value};
}

// Where a section and a key sit in the file; indices into Lines, npos when missing.
struct Location {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t header = npos;
    std::size_t end = npos;       // the next section header, or the line count
    std::size_t key = npos;       // the first matching key inside the section
    std::size_t last_key = npos;  // the last key line of the section
};

Location Locate(const Lines& lines, std::string_view section, std::string_view key) {
    Location where;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i]);
        if (where.header == Location::npos) {
            if (name && SameName(*name, section)) where.header = i;
            continue;
        }
        if (name) {
            where.end = i;
            return where;
        }
        const auto entry = ParseKeyLine(lines[i]);
        if (!entry) continue;
        where.last_key = i;
        if (where.key == Location::npos && SameName(entry->name, key)) where.key = i;
    }
    if (where.header != Location::npos) where.end = lines.size();
    return where;
}

// New lines follow the file's own convention; a new file gets LF.
std::string LineEndOf(std::string_view text) {
    const std::size_t newline = text.find('\n');
    return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n"
                                                                                         : "\n";
}

void EnsureLineEnd(Lines& lines, std::size_t index, const std::string& line_end) {
    if (index < lines.size() && (lines[index].empty() || lines[index].back() != '\n')) {
        lines[index] += line_end;
    }
}

// Names or values with a line end, or names that would read back as something else,
// would corrupt the file's structure.
bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsStorableSection(std::string_view section) {
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos &&
           !TrimBlanks(section).empty();
}

bool IsStorableKey(std::string_view key) {
    const std::string_view trimmed = TrimBlanks(key);
    return !HasLineBreak(key) && key.find('=') == std::string_view::npos && !trimmed.empty() &&
           trimmed.front() != ';' && trimmed.front() != '[';
}

void SetKey(Lines& lines, const Location& where, std::string_view section, std::string_view key,
            std::string_view value, const std::string& line_end) {
    const std::string entry = std::string(TrimBlanks(key)) + "=" + std::string(value);
    if (where.key != Location::npos) {
        std::string& line = lines[where.key];
        const std::size_t value_offset = ParseKeyLine(line)->value_offset;
        const std::size_t content_end = Content(line).size();
        line.replace(value_offset, content_end - value_offset, value);
        return;
    }
    if (where.header != Location::npos) {
        const std::size_t after =
            (where.last_key != Location::npos ? where.last_key : where.header);
        EnsureLineEnd(lines, after, line_end);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1), entry + line_end);
        return;
    }
    if (!lines.empty()) {
        EnsureLineEnd(lines, lines.size() - 1, line_end);
        if (!TrimBlanks(Content(lines.back())).empty()) lines.push_back(line_end);
    }
    lines.push_back("[" + std::string(TrimBlanks(section)) + "]" + line_end);
    lines.push_back(entry + line_end);
}

}  // namespace

std::optional<ProfileDocument> ProfileDocument::Load(const std::string& path) {
    std::optional<std::string> text;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        text = std::string();
    } else {
        text = ReadFileContents(path);
    }
    if (!text) return std::nullopt;
    ProfileDocument document;
    document.lines_ = SplitLines(*text);
    document.loaded_ = std::move(*text);
    return document;
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
    const Location where = Locate(lines_, section, key);
    if (where.key == Location::npos) return std::nullopt;
    const std::string_view line = lines_[where.key];
    std::string_view value = TrimBlanks(Content(line).substr(ParseKeyLine(line)->value_offset));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

std::string ProfileDocument::GetString(std::string_view section, std::string_view key,
                                       std::string_view fallback) const {
    auto value = Find(section, key);
    return value ? std::move(*value) : std::string(fallback);
}

long ProfileDocument::GetInt(std::string_view section, std::string_view key, long fallback) const {
    const auto value = Find(section, key);
    if (!value || value->empty()) return fallback;
    const char* begin = value->c_str();
    char* end = nullptr;
    const long number = std::strtol(begin, &end, 10);
    return end == begin ? 0 : number;
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsStorableSection(section) || !IsStorableKey(key) || HasLineBreak(value)) return false;
    SetKey(lines_, Locate(lines_, section, key), section, key, value, LineEndOf(loaded_));
    return true;
}

void ProfileDocument::RemoveKey(std::string_view section, std::string_view key) {
    const Location where = Locate(lines_, section, key);
    if (where.key != Location::npos) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(where.key));
    }
}

void ProfileDocument::RemoveSection(std::string_view section) {
    const Location where = Locate(lines_, section, {});
    if (where.header != Location::npos) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(where.header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(where.end));
    }
}

bool ProfileDocument::Save(const std::string& path) const {
    const std::string text = JoinLines(lines_);
    return text == loaded_ || ReplaceFileContents(path, text);
}

namespace {

// One key read or edit on its own: the file is read, and written when it changed.
template <typename Edit>
bool EditProfile(const std::string& path, Edit edit) {
    auto document = ProfileDocument::Load(path);
    return document && edit(*document) && document->Save(path);
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, const std::string& path) {
    const auto document = ProfileDocument::Load(path);
    return document ? document->GetString(section, key, fallback) : std::string(fallback);
}

long GetPrivateProfileInt(std::string_view section, std::string_view key, long fallback,
                          const std::string& path) {
    const auto document = ProfileDocument::Load(path);
    return document ? document->GetInt(section, key, fallback) : fallback;
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path) {
    return EditProfile(path, [&](ProfileDocument& d) { return d.Set(section, key, value); });
}

bool RemovePrivateProfileKey(std::string_view section, std::string_view key,
                             const std::string& path) {
    return EditProfile(path, [&](ProfileDocument& d) {
        d.RemoveKey(section, key);
        return true;
    });
}

bool RemovePrivateProfileSection(std::string_view section, const std::string& path) {
    return EditProfile(path, [&](ProfileDocument& d) {
        d.RemoveSection(section);
        return true;
    });
}

}  // namespace kelvra::platform

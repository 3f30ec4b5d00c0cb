#include "net/ftplisting.h"

#include <array>

#include "util/ascii.h"

namespace kelvra::net {

namespace {

constexpr std::size_t kPermissionLength = 10;  // "drwxr-xr-x"
constexpr std::size_t kMonthLength = 3;
constexpr std::string_view kLinkArrow = " -> ";
constexpr std::string_view kTotalLine = "total ";
constexpr std::string_view kSafeBytes = "-._~!$'()*+,;=@";
constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!util::IsDigit(c)) return false;
    }
    return true;
}

// A name the crawl can ask for again: not the directory itself or its parent, and free of the
// bytes a control command cannot carry.
bool Listable(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// Blank-separated words of a line with their offsets.
struct Word {
    std::size_t start;
    std::string_view text;
};

std::vector<Word> Words(std::string_view line) {
    std::vector<Word> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && util::IsBlank(line[at])) ++at;
        std::size_t start = at;
        while (at < line.size() && !util::IsBlank(line[at])) ++at;
        if (at > start) words.push_back({start, line.substr(start, at - start)});
    }
    return words;
}

bool IsMonth(std::string_view word) {
    if (word.size() != kMonthLength) return false;
    for (std::string_view month : kMonths) {
        if (EqualsIgnoringCase(word, month)) return true;
    }
    return false;
}

// "22:13" or "2023".
bool IsTimeOrYear(std::string_view word) {
    if (word.size() == 4) return AllDigits(word);
    std::size_t colon = word.find(':');
    return colon >= 1 && colon <= 2 && AllDigits(word.substr(0, colon)) &&
           word.size() - colon - 1 == 2 && AllDigits(word.substr(colon + 1));
}

bool IsPermissionWord(std::string_view word) {
    if (word.size() < kPermissionLength) return false;
    if (std::string_view("-dlbcps").find(word[0]) == std::string_view::npos) return false;
    for (std::size_t i = 1; i < kPermissionLength; ++i) {
        if (std::string_view("rwxsStTl-").find(word[i]) == std::string_view::npos) return false;
    }
    return true;
}

// One reading of a listing line: an entry, a line to pass over, or one not of the format.
enum class LineKind { kEntry, kSkipped, kUnreadable };

// "perm links owner [group] size month day time-or-year name": the size is the word before
// the month; the name starts one blank after the time. A link names its target after " -> ".
LineKind ReadLongLine(std::string_view line, FtpListEntry& entry) {
    if (line.starts_with(kTotalLine)) return LineKind::kSkipped;
    std::vector<Word> words = Words(line);
    if (words.empty() || !IsPermissionWord(words[0].text)) return LineKind::kUnreadable;
    for (std::size_t i = 2; i + 2 < words.size(); ++i) {
        if (!IsMonth(words[i].text) || !AllDigits(words[i - 1].text)) continue;
        if (words[i + 1].text.size() > 2 || !AllDigits(words[i + 1].text)) continue;
        if (!IsTimeOrYear(words[i + 2].text)) continue;
        std::size_t name_start = words[i + 2].start + words[i + 2].text.size() + 1;
        if (name_start >= line.size()) return LineKind::kUnreadable;
        std::string_view name = line.substr(name_start);
        char type = words[0].text[0];
        if (type == 'l') name = name.substr(0, name.find(kLinkArrow));
        if (type != '-' && type != 'd' && type != 'l') return LineKind::kSkipped;
        entry.name = std::string(name);
        entry.directory = type == 'd';
        std::size_t detail_start = words[i - 1].start;
        entry.detail = std::string(line.substr(detail_start, name_start - 1 - detail_start));
        return LineKind::kEntry;
    }
    return LineKind::kUnreadable;
}

// "type=dir;size=0;modify=20231114221320; name": the facts end at the first blank.
LineKind ReadMachineLine(std::string_view line, FtpListEntry& entry) {
    std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return LineKind::kUnreadable;
    std::string_view facts = line.substr(0, blank);
    if (!facts.empty() && facts.find('=') == std::string_view::npos) return LineKind::kUnreadable;
    entry.name = std::string(line.substr(blank + 1));
    entry.directory = false;
    while (!facts.empty()) {
        std::size_t end = facts.find(';');
        std::string_view fact = facts.substr(0, end);
        facts = end == std::string_view::npos ? std::string_view() : facts.substr(end + 1);
        std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view name = fact.substr(0, equals);
        std::string_view value = fact.substr(equals + 1);
        if (EqualsIgnoringCase(name, "size") || EqualsIgnoringCase(name, "modify")) {
            if (!entry.detail.empty()) entry.detail += ' ';
            entry.detail += value;
        }
        if (!EqualsIgnoringCase(name, "type")) continue;
        if (EqualsIgnoringCase(value, "cdir") || EqualsIgnoringCase(value, "pdir")) {
            return LineKind::kSkipped;
        }
        entry.directory = EqualsIgnoringCase(value, "dir");
    }
    return LineKind::kEntry;
}

// A bare name, possibly with a directory part (which is dropped); a trailing '/' marks a
// directory.
LineKind ReadNameLine(std::string_view line, FtpListEntry& entry) {
    entry.directory = line.size() > 1 && line.back() == '/';
    if (entry.directory) line.remove_suffix(1);
    std::size_t slash = line.rfind('/');
    entry.name = std::string(slash == std::string_view::npos ? line : line.substr(slash + 1));
    return LineKind::kEntry;
}

LineKind ReadLine(std::string_view line, FtpListFormat format, FtpListEntry& entry) {
    switch (format) {
        case FtpListFormat::kMachine:
            return ReadMachineLine(line, entry);
        case FtpListFormat::kLong:
            return ReadLongLine(line, entry);
        case FtpListFormat::kNames:
            return ReadNameLine(line, entry);
    }
    return LineKind::kUnreadable;
}

void AppendHtmlText(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

}  // namespace

FtpListing ParseFtpListing(std::string_view data, FtpListFormat format) {
    FtpListing listing;
    while (!data.empty()) {
        std::size_t lf = data.find('\n');
        std::string_view line = data.substr(0, lf);
        data = lf == std::string_view::npos ? std::string_view() : data.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        FtpListEntry entry;
        LineKind kind = ReadLine(line, format, entry);
        if (kind == LineKind::kUnreadable) ++listing.unreadable;
        if (kind == LineKind::kEntry && Listable(entry.name)) {
            listing.entries.push_back(std::move(entry));
        }
    }
    return listing;
}

std::string ListingHref(const FtpListEntry& entry) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string href;
    for (char c : entry.name) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || util::IsDigit(c) ||
                     kSafeBytes.find(c) != std::string_view::npos;
        if (plain) {
            href += c;
        } else {
            href += '%';
            href += kHex[byte >> 4];
            href += kHex[byte & 0xF];
        }
    }
    if (entry.directory) href += '/';
    return href;
}

std::string ListingPage(std::string_view path, const std::vector<FtpListEntry>& entries) {
    std::string page = "<html><head><title>Index of ";
    AppendHtmlText(page, path);
    page += "</title></head>\n<body>\n";
    for (const FtpListEntry& entry : entries) {
        page += "<a href=\"" + ListingHref(entry) + "\">";
        AppendHtmlText(page, entry.name);
        if (entry.directory) page += '/';
        page += "</a>";
        if (!entry.detail.empty()) page += ' ';
        AppendHtmlText(page, entry.detail);
        page += "<br>\n";
    }
    page += "</body></html>\n";
    return page;
}

}  // namespace kelvra::net

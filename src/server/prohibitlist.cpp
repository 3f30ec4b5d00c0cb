#include "server/prohibitlist.h"

#include <cstdlib>
#include <fstream>

#include "net/url.h"
#include "server/serversettings.h"
#include "util/strutil.h"

namespace kelvra::server {
namespace {

std::string_view NextToken(std::string_view& rest) {
    rest = util::SkipWhite(rest);
    std::size_t end = 0;
    while (end < rest.size() && !util::IsWhite(static_cast<unsigned char>(rest[end]))) ++end;
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end);
    return token;
}

std::vector<std::string> SplitPatterns(std::string_view list) {
    std::vector<std::string> patterns;
    while (true) {
        const std::size_t semi = list.find(';');
        if (!list.substr(0, semi).empty()) patterns.emplace_back(list.substr(0, semi));
        if (semi == std::string_view::npos) break;
        list.remove_prefix(semi + 1);
    }
    return patterns;
}

// A delay or a '*' word turns the initial deny marker into no action.
void ClearDeny(ProhibitEntry& entry) {
    if (entry.action == ProhibitAction::kDeny) entry.action = ProhibitAction::kNone;
}

void ApplyToken(ProhibitEntry& entry, std::string_view token) {
    if (token.front() == '$') {
        const std::string number(token.substr(1));
        const long delay = std::strtol(number.c_str(), nullptr, 10);
        if (delay > 0) {
            entry.delay_ms = delay;
            ClearDeny(entry);
        }
    } else if (token.front() == '*') {
        if (token.substr(1) == "psv") entry.mode_change = 1;
        if (token.substr(1) == "nsv") entry.mode_change = -1;
        ClearDeny(entry);
    } else {
        entry.action = ProhibitAction::kText;
        entry.text = std::string(token);
    }
}

bool MatchOne(std::string_view pattern, std::string_view subject, util::CaptureTable& captures) {
    bool invert = false;
    if (!pattern.empty() && pattern.front() == '!') {
        invert = true;
        pattern.remove_prefix(1);
    }
    bool matched;
    if (!pattern.empty() && pattern.front() == '.') {
        const std::string extension = net::GetExtension(subject);
        matched = util::PatternMatch(extension, pattern.substr(1),
                                     util::kPatternIgnoreCase | util::kPatternAnchored)
                      .has_value();
    } else {
        util::CaptureTable own;
        matched = util::PatternMatch(subject, pattern, 0, &own).has_value();
        if (matched && HasCaptures(own)) captures = own;
    }
    return matched != invert;
}

}  // namespace

ProhibitEntry ParseProhibitLine(std::string_view line) {
    const std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::string_view rest = util::Trim(line);
    ProhibitEntry entry;
    entry.patterns = SplitPatterns(NextToken(rest));
    for (std::string_view token = NextToken(rest); !token.empty(); token = NextToken(rest)) {
        ApplyToken(entry, token);
    }
    return entry;
}

ProhibitClass::ProhibitClass(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) {
        ProhibitEntry entry = ParseProhibitLine(line);
        if (!entry.patterns.empty()) Add(std::move(entry));
    }
}

void ProhibitClass::Add(ProhibitEntry entry) {
    entries_.push_back(std::move(entry));
}

const ProhibitEntry* ProhibitClass::Find(std::string_view target,
                                         util::CaptureTable& captures) const {
    const std::string_view subject = MatchSubject(target);
    for (const ProhibitEntry& entry : entries_) {
        captures = util::CaptureTable{};
        bool all = true;
        for (const std::string& pattern : entry.patterns) {
            if (!MatchOne(pattern, subject, captures)) {
                all = false;
                break;
            }
        }
        if (all) return &entry;
    }
    captures = util::CaptureTable{};
    return nullptr;
}

std::string_view MatchSubject(std::string_view target) {
    return target.substr(std::min(net::HostStart(target), target.size()));
}

bool HasCaptures(const util::CaptureTable& captures) {
    for (int n = 1; n <= util::CaptureTable::kMax; ++n) {
        if (captures.Has(n)) return true;
    }
    return false;
}

bool Rewrite(std::string& target, std::string_view templ, std::string_view subject,
             const util::CaptureTable& captures) {
    std::string out;
    for (std::size_t i = 0; i < templ.size(); ++i) {
        const char next = i + 1 < templ.size() ? templ[i + 1] : '\0';
        if (templ[i] != '\\' || next < '1' || next > '9') {
            out.push_back(templ[i]);
            continue;
        }
        const int n = next - '0';
        if (!captures.Has(n) || captures.spans[n - 1].end > subject.size()) return false;
        const std::string_view text = captures.Text(subject, n);
        if (text.size() > kMaxCaptureText) return false;
        out.append(text);
        ++i;
    }
    if (out.size() > kMaxRewrittenTarget) return false;
    target = std::move(out);
    return true;
}

std::uint32_t ApplyModeChange(std::uint32_t mode, int change) {
    const std::uint32_t flags = mode & ~kModeBaseMask;
    if (change > 0 && ModeBase(mode) == kModeProxy2) return flags | kModeProxy3;
    if (change < 0 && ModeBase(mode) > kModeProxy) return flags | kModeProxy;
    return mode;
}

}  // namespace kelvra::server

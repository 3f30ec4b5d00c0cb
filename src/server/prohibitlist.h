#pragma once
// The URL prohibit list "prohibit.orv": URL patterns with an action each — refuse, redirect,
// answer with a local file, rewrite, change whether the answer is stored, or delay.
//
// File lines: patterns separated by ';' (all must match; a leading '!' inverts one; ".ext"
// matches the extension), then tokens: "$N" a delay of N ms, "*psv" / "*nsv" a mode change,
// anything else the action text. '#' starts a comment.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/patternmatch.h"

namespace kelvra::server {

inline constexpr char kProhibitFileName[] = "prohibit.orv";
// Longest text of one capture put into a rewritten target, and of the rewritten target.
inline constexpr std::size_t kMaxCaptureText = 2047;
inline constexpr std::size_t kMaxRewrittenTarget = 2047;

enum class ProhibitAction {
    kNone,  // no action: only the mode change and the delay apply
    kDeny,  // the prohibited page with status 200
    kText,  // ":code", a URL, a file of the data directory, or a rewrite template
};

struct ProhibitEntry {
    std::vector<std::string> patterns;
    ProhibitAction action = ProhibitAction::kDeny;
    std::string text;     // kText
    int mode_change = 0;  // +1 "*psv", -1 "*nsv"
    long delay_ms = 0;
};

// Parses one line; an entry without patterns for a line that does not count.
ProhibitEntry ParseProhibitLine(std::string_view line);

class ProhibitClass final {
  public:
    ProhibitClass() = default;
    // Loads the list; empty when the file is missing or unreadable.
    explicit ProhibitClass(const std::string& path);

    void Add(ProhibitEntry entry);
    std::size_t size() const { return entries_.size(); }

    // The first entry whose patterns all match target's host-start form, or none. captures
    // receives the capture positions (into the host-start form, see MatchSubject).
    const ProhibitEntry* Find(std::string_view target, util::CaptureTable& captures) const;

  private:
    std::vector<ProhibitEntry> entries_;
};

// The text Find matches: target without scheme and user information.
std::string_view MatchSubject(std::string_view target);

// True when captures holds at least one recorded capture.
bool HasCaptures(const util::CaptureTable& captures);

// Rebuilds target from the template, each "\1".."\9" replaced by that capture of subject.
// False (target unchanged) when a capture is missing or too long, or the result is too long.
bool Rewrite(std::string& target, std::string_view templ, std::string_view subject,
             const util::CaptureTable& captures);

// The mode for one request after an entry's mode change: +1 turns Proxy Mode 2 into Proxy
// Mode 3, -1 turns any mode above Proxy Mode into Proxy Mode; the data-use bits stay.
std::uint32_t ApplyModeChange(std::uint32_t mode, int change);

}  // namespace kelvra::server

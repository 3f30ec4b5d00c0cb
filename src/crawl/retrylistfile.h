#pragma once
// The retry list file (.rlf): the crawl rules, the known URLs and the failed jobs of a crawl,
// as plain text, so that the crawl can go on later.
//
//   [RetryListFile.Rev.1a]
//   per rule block: accept entries, empty line, filter line ("%c:%s " each), extra header
//                   lines, empty line
//   empty line
//   known URLs: "path\tmark" or "path", empty line
//   per failed job: URL, referrer without scheme (or empty), "%04hx %04x %04x %04x %04hx"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::crawl {

inline constexpr std::string_view kRetryListHeader = "[RetryListFile.Rev.1a]";
inline constexpr std::size_t kRetryListLine = 2048;

struct RetryRulesBlock {
    std::vector<std::string> accept;  // never empty in a written file (see WriteRetryListFile)
    // Writing: the compiled entries (class value 0..15, pattern). Reading: the filter text,
    // one "%c:%s" entry per line.
    std::vector<std::pair<int, std::string>> filters;
    std::string filter_text;
    std::string extra_header;  // lines joined with LF
};

struct RetryKnownUrl {
    std::string path;
    long mark = 0;  // 0: the node carries a job; else its finished mark (1 or -1)
};

struct RetryFailedJob {
    std::string url;
    std::string referrer;  // without scheme; empty: none
    std::uint16_t depth = 0;
    std::uint16_t rules_index = 0;
    std::uint32_t flags = 0;
    std::int16_t trace = 0;
};

struct RetryListData {
    std::vector<RetryRulesBlock> rules;
    std::vector<RetryKnownUrl> known;
    std::vector<RetryFailedJob> failed;
};

// Writes a list part by part, so that one with a million URLs is never held whole: the
// rules first, then each known URL, then each failed job. The text goes to the sink in pieces.
class RetryListWriter final {
  public:
    using Sink = std::function<void(std::string_view)>;
    RetryListWriter(Sink sink, const std::vector<RetryRulesBlock>& rules);
    void Known(std::string_view path, long mark);
    void Failed(const RetryFailedJob& job);
    // Ends the list (its known URLs' section, when no failed job has ended it).
    void Finish() { EndKnown(); }
    // The failed jobs written so far.
    int FailedCount() const { return failed_; }

  private:
    void EndKnown();

    Sink sink_;
    std::string line_;
    bool known_ended_ = false;
    int failed_ = 0;
};

// The file text.
std::string FormatRetryList(const RetryListData& data);
// Writes the file whole or not at all; the number of failed jobs, or -1.
int WriteRetryListFile(const std::string& path, const RetryListData& data);

// Parses the text; false when it does not begin with the header line.
bool ParseRetryList(std::string_view text, RetryListData& data);
// The number of failed jobs read, or -1 when the file cannot be read or is no retry list.
int ReadRetryListFile(const std::string& path, RetryListData& data);

}  // namespace kelvra::crawl

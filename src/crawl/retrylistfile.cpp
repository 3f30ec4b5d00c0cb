#include "crawl/retrylistfile.h"

#include <cstdio>
#include <cstdlib>

#include "crawl/requestheaders.h"
#include "platform/rawfile.h"
#include "util/fileutil.h"

namespace kelvra::crawl {

namespace {

bool IsControlOrBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

void AppendRulesBlock(std::string& out, const RetryRulesBlock& block) {
    for (const std::string& entry : block.accept) out += entry + "\n";
    out.push_back('\n');
    for (const auto& [klass, pattern] : block.filters) {
        out.push_back("0123456789abcdef"[klass & 0xF]);
        out += ":" + pattern + " ";
    }
    out.push_back('\n');
    ForEachHeaderLine(block.extra_header, [&out](std::string_view line) {
        out.append(line);
        out.push_back('\n');
    });
    out.push_back('\n');
}

std::string JobLine(const RetryFailedJob& job) {
    char line[64];
    std::snprintf(line, sizeof line, "%04hx %04x %04x %04x %04hx\n",
                  static_cast<unsigned short>(job.depth), static_cast<unsigned>(job.rules_index),
                  static_cast<unsigned>(job.flags >> 16), static_cast<unsigned>(job.flags & 0xFFFF),
                  static_cast<unsigned short>(job.trace));
    return line;
}

// Line reader: lines up to kRetryListLine - 1 bytes (a longer line continues as the next one,
// as a fixed-size line buffer reads it), trailing controls and blanks removed.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool Next(std::string& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        std::size_t limit = pos_ + kRetryListLine - 1;
        if (stop > limit) {
            line.assign(text_.substr(pos_, limit - pos_));
            pos_ = limit;
        } else {
            line.assign(text_.substr(pos_, stop - pos_));
            pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        }
        while (!line.empty() && IsControlOrBlank(line.back())) line.pop_back();
        return true;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Lines up to the next empty line (or the end), joined with LF.
std::string JoinUntilEmpty(LineReader& reader) {
    std::string joined;
    std::string line;
    bool first = true;
    while (reader.Next(line) && !line.empty()) {
        if (!first) joined.push_back('\n');
        joined += line;
        first = false;
    }
    return joined;
}

bool ReadRulesBlock(LineReader& reader, const std::string& first_accept, RetryRulesBlock& block) {
    block.accept.push_back(first_accept);
    std::string line;
    while (reader.Next(line) && !line.empty()) block.accept.push_back(line);
    if (!reader.Next(line)) return false;
    for (char& c : line) {
        if (c == ' ') c = '\n';
    }
    block.filter_text = line;
    block.extra_header = JoinUntilEmpty(reader);
    return true;
}

void ReadKnownUrl(const std::string& line, RetryListData& data) {
    RetryKnownUrl known;
    std::size_t tab = line.find('\t');
    known.path = line.substr(0, tab);
    if (tab != std::string::npos) known.mark = std::strtol(line.c_str() + tab + 1, nullptr, 16);
    data.known.push_back(std::move(known));
}

bool ParseJobLine(const std::string& line, RetryFailedJob& job) {
    unsigned depth = 0, index = 0, high = 0, low = 0, trace = 0;
    if (std::sscanf(line.c_str(), "%x %x %x %x %x", &depth, &index, &high, &low, &trace) != 5) {
        return false;
    }
    job.depth = static_cast<std::uint16_t>(depth);
    job.rules_index = static_cast<std::uint16_t>(index);
    job.flags = ((high & 0xFFFFu) << 16) | (low & 0xFFFFu);
    job.trace = static_cast<std::int16_t>(static_cast<std::uint16_t>(trace));
    return true;
}

}  // namespace

RetryListWriter::RetryListWriter(Sink sink, const std::vector<RetryRulesBlock>& rules)
    : sink_(std::move(sink)) {
    line_.assign(kRetryListHeader);
    line_.push_back('\n');
    for (const RetryRulesBlock& block : rules) {
        // A block without accept entries would end the rule section when read back.
        if (block.accept.empty()) continue;
        AppendRulesBlock(line_, block);
    }
    line_.push_back('\n');
    sink_(line_);
}

void RetryListWriter::Known(std::string_view path, long mark) {
    line_.assign(path);
    if (mark != 0) line_.append("\t").append(std::to_string(mark));
    line_.push_back('\n');
    sink_(line_);
}

void RetryListWriter::EndKnown() {
    if (known_ended_) return;
    known_ended_ = true;
    sink_("\n");
}

void RetryListWriter::Failed(const RetryFailedJob& job) {
    EndKnown();
    line_.assign(job.url).append("\n").append(job.referrer).append("\n").append(JobLine(job));
    sink_(line_);
    ++failed_;
}

namespace {

void WriteList(RetryListWriter& writer, const RetryListData& data) {
    for (const RetryKnownUrl& known : data.known) writer.Known(known.path, known.mark);
    for (const RetryFailedJob& job : data.failed) writer.Failed(job);
    writer.Finish();
}

}  // namespace

std::string FormatRetryList(const RetryListData& data) {
    std::string out;
    RetryListWriter writer([&out](std::string_view text) { out.append(text); }, data.rules);
    WriteList(writer, data);
    return out;
}

int WriteRetryListFile(const std::string& path, const RetryListData& data) {
    platform::FileReplacement file(path);
    RetryListWriter writer([&file](std::string_view text) { file.Write(text); }, data.rules);
    WriteList(writer, data);
    return file.Commit() ? writer.FailedCount() : -1;
}

bool ParseRetryList(std::string_view text, RetryListData& data) {
    LineReader reader(text);
    std::string line;
    if (!reader.Next(line) || line != kRetryListHeader) return false;
    while (reader.Next(line) && !line.empty()) {
        RetryRulesBlock block;
        bool complete = ReadRulesBlock(reader, line, block);
        data.rules.push_back(std::move(block));
        if (!complete) return true;
    }
    while (reader.Next(line) && !line.empty()) ReadKnownUrl(line, data);
    while (reader.Next(line) && !line.empty()) {
        RetryFailedJob job;
        job.url = line;
        std::string job_line;
        if (!reader.Next(job.referrer) || !reader.Next(job_line)) break;
        if (ParseJobLine(job_line, job)) data.failed.push_back(std::move(job));
    }
    return true;
}

int ReadRetryListFile(const std::string& path, RetryListData& data) {
    std::optional<std::string> text = util::ReadWholeFile(path);
    if (!text) return -1;
    RetryListData parsed;
    if (!ParseRetryList(*text, parsed)) return -1;
    data = std::move(parsed);
    return static_cast<int>(data.failed.size());
}

}  // namespace kelvra::crawl

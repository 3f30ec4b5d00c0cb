#include "store/store_record.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "store/store_names.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

constexpr std::size_t kReadBlock = 65536;

struct FieldPair {
    std::string_view short_key;
    std::string_view header;
};

// Record lines after XR and CT, in record order.
constexpr FieldPair kCopiedFields[] = {
    {"LM:", "Last-modified:"},      {"XF:", "X-Fn:"},
    {"LO:", "Location:"},           {"WA:", "WWW-Authenticate:"},
    {"PA:", "Proxy-Authenticate:"}, {"CE:", "Content-Encoding:"},
};

class RecordBuilder final {
  public:
    void Line(std::string_view key, std::string_view value) {
        if (value.empty() || out_.size() + key.size() + value.size() + 1 > kMaxRecordText) return;
        out_.append(key).append(value).push_back('\n');
    }
    std::string Take() { return std::move(out_); }

  private:
    std::string out_;
};

// The status line: a line that starts with "HTTP/".
std::string_view FindStatusLine(std::string_view text) {
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        if (line.starts_with("HTTP/")) return line;
        start = end + 1;
    }
    return {};
}

std::string_view StatusCode(std::string_view status_line) {
    std::size_t at = 0;
    while (at < status_line.size() && !util::IsWhite(static_cast<unsigned char>(status_line[at])))
        ++at;
    ++at;  // the one blank after the version
    std::size_t end = at;
    while (end < status_line.size() && !util::IsWhite(static_cast<unsigned char>(status_line[end])))
        ++end;
    return at < end ? status_line.substr(at, end - at) : std::string_view();
}

// The fields a record is built from, looked up in one walk over the header: the status
// fields, then each copied field's record key and header name.
enum RecordField : std::size_t { kXr, kCt, kContentType, kXRange, kScheme, kFirstCopied };
constexpr std::size_t kRecordFieldCount = kFirstCopied + 2 * std::size(kCopiedFields);

constexpr std::array<std::string_view, kRecordFieldCount> kRecordFieldNames = [] {
    std::array<std::string_view, kRecordFieldCount> names{
        "XR:", "CT:", "Content-type:", "XRange:", kSchemeKey};
    for (std::size_t i = 0; i < std::size(kCopiedFields); ++i) {
        names[kFirstCopied + 2 * i] = kCopiedFields[i].short_key;
        names[kFirstCopied + 2 * i + 1] = kCopiedFields[i].header;
    }
    return names;
}();

void AddStatus(RecordBuilder& record, std::string_view text, std::string_view xr) {
    const std::string_view status_line = FindStatusLine(text);
    if (status_line.data() == nullptr) {
        record.Line("XR:", xr);
        return;
    }
    const std::string_view code = StatusCode(status_line);
    const bool success_class = code.size() >= 3 && code[0] == '2' && code[2] == '0';
    if (!success_class) record.Line("XR:", code);
}

// A Content-type that agrees with the extension's type up to its '/' is left to the extension.
bool LeftToExtension(std::string_view value, std::string_view type_for_extension) {
    if (type_for_extension.empty()) return false;
    std::size_t i = 0;
    while (i < value.size() && value[i] != '/' && i < type_for_extension.size() &&
           value[i] == type_for_extension[i]) {
        ++i;
    }
    return i < value.size() && value[i] == '/';
}

void AddContentType(RecordBuilder& record, std::string_view existing, std::string_view value,
                    std::string_view type_for_extension) {
    if (existing.data() != nullptr) {
        record.Line("CT:", existing);
        return;
    }
    if (!LeftToExtension(value, type_for_extension)) record.Line("CT:", value);
}

// The record key's value, else the header's.
std::string_view PairValue(const FieldPair& pair, std::string_view by_key,
                           std::string_view by_header) {
    const bool is_name = pair.short_key == "XF:";
    for (const std::string_view value : {by_key, by_header}) {
        if (value.empty()) continue;
        // A local name that would leave the data directory is no name at all.
        if (is_name && !IsConfinedName(value)) continue;
        return value;
    }
    return {};
}

// [start, end) of the first field named key, end past its line feed.
bool FindFieldLine(std::string_view text, std::string_view key, std::size_t& start,
                   std::size_t& end) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t line_end = text.find('\n', at);
        while (line_end != std::string_view::npos && line_end + 1 < text.size() &&
               (text[line_end + 1] == ' ' || text[line_end + 1] == '\t')) {
            line_end = text.find('\n', line_end + 1);
        }
        const std::size_t next = line_end == std::string_view::npos ? text.size() : line_end + 1;
        if (util::StartsWithNoCase(text.substr(at), key)) {
            start = at;
            end = next;
            return true;
        }
        at = next;
    }
    return false;
}

// Lines a record keeps whatever its length: without them the local file is another one, or a
// partial file looks whole, or a cookie record is read as an ordinary one.
bool MustKeepLine(std::string_view line, std::size_t index, bool cookie) {
    return line.starts_with("XF:") || line.starts_with("XRange:") || (cookie && index == 0);
}

bool ReadableKey(std::string_view key) {
    if (key.empty() || key.size() >= kMaxLoadedKey || key.front() == ' ' || key.front() == '#') {
        return false;
    }
    for (const char c : key) {
        if (static_cast<unsigned char>(c) < ' ') return false;
    }
    return true;
}

// True when the reader stores every byte of text: no byte it drops, no empty line.
bool StoredAsIs(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' ? i == 0 || text[i - 1] == '\n' : c < ' ') return false;
    }
    return true;
}

// The record's lines as the reader stores them: bytes below space left out, empty lines gone.
std::vector<std::string> StoredLines(std::string_view text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line;
        for (const char c : text.substr(start, end - start)) {
            if (static_cast<unsigned char>(c) >= ' ') line.push_back(c);
        }
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::optional<std::string> ReadableRecordText(std::string_view key, std::string_view text,
                                              bool valid) {
    if (!ReadableKey(key)) return std::nullopt;
    // The reader stores an invalid record's '#', the key, its LF, and each line with its LF.
    std::size_t size = (valid ? 0 : 1) + key.size() + 1;
    const bool ends_with_lf = text.empty() || text.back() == '\n';
    if (StoredAsIs(text) && size + text.size() + (ends_with_lf ? 0 : 1) <= kMaxFileRecord) {
        return std::string(text);
    }
    const bool cookie = IsCookieText(text);
    std::vector<std::string> lines = StoredLines(text);
    for (const std::string& line : lines) size += line.size() + 1;
    while (size > kMaxFileRecord) {
        std::size_t longest = lines.size();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty() || MustKeepLine(lines[i], i, cookie)) continue;
            if (longest == lines.size() || lines[i].size() > lines[longest].size()) longest = i;
        }
        if (longest == lines.size()) return std::nullopt;
        size -= lines[longest].size() + 1;
        // Drop the line, not its slot: a cookie record's mark must stay the first line.
        lines[longest].clear();
    }
    std::string readable;
    readable.reserve(size);
    for (const std::string& line : lines) {
        if (!line.empty()) readable.append(line).push_back('\n');
    }
    return readable;
}

bool IsCookieText(std::string_view text) {
    return !text.empty() && text.front() == '#';
}

std::string BuildRecordText(std::string_view text, std::string_view type_for_extension) {
    text = text.substr(0, text.find('\0'));
    std::array<std::string_view, kRecordFieldCount> field;
    util::FindHeaders(text, kRecordFieldNames, field);
    RecordBuilder record;
    AddStatus(record, text, field[kXr]);
    AddContentType(record, field[kCt], field[kContentType], type_for_extension);
    for (std::size_t i = 0; i < std::size(kCopiedFields); ++i) {
        const FieldPair& pair = kCopiedFields[i];
        record.Line(pair.short_key,
                    PairValue(pair, field[kFirstCopied + 2 * i], field[kFirstCopied + 2 * i + 1]));
    }
    record.Line("XRange:", field[kXRange]);
    if (field[kScheme] == kHttpsValue) record.Line(kSchemeKey, kHttpsValue);
    return record.Take();
}

void AppendHeaderLine(std::string& header, std::string_view line) {
    while (!header.empty() && static_cast<unsigned char>(header.back()) < 0x20) header.pop_back();
    header.push_back('\n');
    header.append(line);
}

std::size_t DeleteHeaderLine(std::string& text, std::string_view key) {
    std::size_t start = 0;
    std::size_t end = 0;
    if (!FindFieldLine(text, key, start, end)) return 0;
    text.erase(start, end - start);
    return end - start;
}

std::size_t DeleteHeaderLine(char* text, std::string_view key) {
    if (!text) return 0;
    const std::size_t length = std::strlen(text);
    std::size_t start = 0;
    std::size_t end = 0;
    if (!FindFieldLine(std::string_view(text, length), key, start, end)) return 0;
    std::memmove(text + start, text + end, length - end + 1);
    return end - start;
}

bool WriteRecordTo(std::FILE* stream, std::string_view key, std::string_view text, bool valid) {
    const std::string record = FormatRecord(key, text, valid);
    return std::fwrite(record.data(), 1, record.size(), stream) == record.size();
}

std::string FormatRecord(std::string_view key, std::string_view text, bool valid) {
    std::string record;
    record.reserve(key.size() + text.size() + 4);
    if (!valid) record.push_back('#');
    record.append(key).push_back('\n');
    record.append(text);
    if (!text.empty() && text.back() != '\n') record.push_back('\n');
    record.push_back('\0');
    return record;
}

// ---- HifRecordReader ---------------------------------------------------------------------

HifRecordReader::HifRecordReader(std::FILE* file) : file_(file), buffer_(kReadBlock) {}

bool HifRecordReader::Fill() {
    filled_ = file_ ? std::fread(buffer_.data(), 1, buffer_.size(), file_) : 0;
    position_ = 0;
    return filled_ > 0;
}

HifRecordReader::Result HifRecordReader::Next(std::string& record) {
    record.clear();
    for (;;) {
        if (position_ == filled_ && !Fill()) return record.empty() ? Result::kEnd : Result::kError;
        if (!record.empty()) {
            // Most of a record is printable: take such runs whole.
            std::size_t run = position_;
            while (run < filled_ && buffer_[run] >= ' ') ++run;
            if (record.size() + (run - position_) > kMaxFileRecord) return Result::kError;
            record.append(reinterpret_cast<const char*>(buffer_.data()) + position_,
                          run - position_);
            position_ = run;
            if (position_ == filled_) continue;
        }
        const unsigned char c = buffer_[position_++];
        if (!record.empty()) {
            if (c == '\0' || (c == '\n' && record.back() == '\n')) return Result::kRecord;
            if (c != '\n' && c < ' ') continue;
        } else if (c <= ' ') {
            continue;
        }
        if (record.size() == kMaxFileRecord) return Result::kError;
        record.push_back(static_cast<char>(c));
    }
}

}  // namespace kelvra::store

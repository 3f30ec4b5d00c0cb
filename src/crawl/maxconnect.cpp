#include "crawl/maxconnect.h"

#include <cstdlib>

#include "net/url.h"
#include "store/extfilter.h"
#include "util/fileutil.h"
#include "util/strutil.h"

namespace kelvra::crawl {

namespace {

// Class a pattern line gets when it matches; any other URL gets the filter's default class.
constexpr int kMatchClass = 2;

// The decimal number of one part (leading blanks and a sign allowed); none for an empty part.
bool ParsePart(std::string_view part, long& value) {
    part = util::Trim(part);
    if (part.empty()) return false;
    std::string text(part);
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str();
}

std::string_view NextPart(std::string_view& rest) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    return part;
}

// What a line's connection count that the table cannot take reads as, for a warning.
std::string UnclearConnections(std::string_view value) {
    NextPart(value);
    long number = 0;
    if (!ParsePart(NextPart(value), number) || number <= ServerLimit::kMaxConnections) return {};
    return "connections " + std::to_string(number) + " beyond " +
           std::to_string(ServerLimit::kMaxConnections) + ", " +
           std::to_string(ServerLimit::kDefaultConnections) + " used";
}

}  // namespace

int ServerLimit::PauseMs() const {
    if (keep_alive < 0) return -keep_alive;
    return keep_alive > 2 ? keep_alive : 0;
}

ServerLimit ServerLimit::ForNewServer() const {
    ServerLimit limit = *this;
    if (keep_alive < 0) limit.keep_alive = 0;
    if (keep_alive > 2) limit.keep_alive = 1;
    return limit;
}

ServerLimit ParseServerLimit(std::string_view value) {
    ServerLimit limit;
    long number = 0;
    if (ParsePart(NextPart(value), number)) limit.keep_alive = static_cast<std::int16_t>(number);
    if (ParsePart(NextPart(value), number)) {
        // The clamp comes first, so -7 gives 7: kept as the file format has always read it.
        if (number > ServerLimit::kMaxConnections) number = ServerLimit::kDefaultConnections;
        if (number < 0) number = -number;
        limit.connections = static_cast<std::int16_t>(number);
    }
    if (ParsePart(NextPart(value), number)) {
        limit.version =
            number < 1 ? ServerLimit::kDefaultVersion : static_cast<std::uint16_t>(number);
    }
    return limit;
}

MaxConnectClass::MaxConnectClass() = default;
MaxConnectClass::~MaxConnectClass() = default;

bool MaxConnectClass::Load(const std::string& path) {
    entries_.clear();
    std::optional<std::string> text = util::ReadWholeFile(path);
    if (!text) return false;
    Parse(*text);
    return true;
}

void MaxConnectClass::Parse(std::string_view text) {
    entries_.clear();
    unclear_.clear();
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ParseLine(line.substr(0, kMaxLine));
    }
}

void MaxConnectClass::ParseLine(std::string_view line) {
    line = util::Trim(line.substr(0, line.find('#')));
    if (line.empty()) return;
    std::size_t word_end = 0;
    while (word_end < line.size() && !util::IsWhite(line[word_end])) ++word_end;
    std::string filter_text = std::to_string(kMatchClass) + ":";
    filter_text.append(line.substr(0, word_end));
    Entry entry;
    entry.pattern = std::make_unique<store::ExtFilterClass>(filter_text);
    const std::string_view value = util::Trim(line.substr(word_end));
    entry.limit = ParseServerLimit(value);
    entries_.push_back(std::move(entry));
    const std::string unclear = UnclearConnections(value);
    if (!unclear.empty()) unclear_.push_back(std::string(line) + ": " + unclear);
}

ServerLimit MaxConnectClass::Lookup(std::string_view url) const {
    std::string_view subject = url.substr(net::SkipScheme(url));
    for (const Entry& entry : entries_) {
        if (entry.pattern->ClassOf(subject) == kMatchClass) return entry.limit;
    }
    return ServerLimit{};
}

}  // namespace kelvra::crawl

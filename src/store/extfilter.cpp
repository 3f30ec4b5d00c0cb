#include "store/extfilter.h"

#include <optional>

#include "net/url.h"
#include "util/strutil.h"

namespace kelvra::store {

// One pattern of a filter line, compiled once.
struct ExtFilterClass::Pattern {
    enum class Kind { kExtension, kOrdinary, kNever };

    explicit Pattern(std::string_view text, bool extension_allowed = true) {
        if (!text.empty() && text.front() == '!') {
            invert = true;
            text.remove_prefix(1);
        }
        if (!text.empty() && text.front() == '.') {
            if (!extension_allowed) {
                kind = Kind::kNever;
                return;
            }
            kind = Kind::kExtension;
            text.remove_prefix(1);
            const std::size_t slash = text.find('/');
            matcher.emplace(text.substr(0, slash),
                            util::kPatternIgnoreCase | util::kPatternAnchored, false);
            if (slash != std::string_view::npos) {
                rest = std::make_unique<Pattern>(text.substr(slash + 1), false);
            }
            return;
        }
        if (text.size() >= 2 && text[0] == '\\' && text[1] == '.') text.remove_prefix(1);
        kind = Kind::kOrdinary;
        matcher.emplace(text, util::kPatternIgnoreCase, false);
    }

    bool Matches(std::string_view url, std::string_view extension) const {
        bool result = false;
        switch (kind) {
            case Kind::kExtension:
                result = matcher->Match(extension).has_value() &&
                         (!rest || rest->Matches(url, extension));
                break;
            case Kind::kOrdinary:
                result = matcher->Match(url).has_value();
                break;
            case Kind::kNever:
                break;
        }
        return result != invert;
    }

    Kind kind = Kind::kOrdinary;
    bool invert = false;
    std::optional<util::CompiledPattern> matcher;
    std::unique_ptr<Pattern> rest;  // the part after '/' of an extension pattern
};

namespace {

bool IsHexDigit(unsigned char c) {
    return util::HexDigitValue(c) >= 0;
}

}  // namespace

ExtFilterClass::ExtFilterClass() : bytes_(1, '\0') {}
ExtFilterClass::ExtFilterClass(std::string_view filter_text) {
    Compile(filter_text);
}
ExtFilterClass::~ExtFilterClass() = default;
ExtFilterClass::ExtFilterClass(ExtFilterClass&&) noexcept = default;
ExtFilterClass& ExtFilterClass::operator=(ExtFilterClass&&) noexcept = default;

void ExtFilterClass::AddEntry(int klass, std::string_view pattern) {
    bytes_.push_back(static_cast<char>(klass + 1));
    bytes_.append(pattern);
    bytes_.push_back('\0');
    entries_.push_back(Entry{klass, std::make_unique<Pattern>(pattern)});
    const Pattern& added = *entries_.back().pattern;
    if (added.kind != Pattern::Kind::kExtension || added.rest) extension_only_ = false;
}

void ExtFilterClass::Compile(std::string_view text) {
    bytes_.clear();
    entries_.clear();
    extension_only_ = true;
    cache_ = std::make_unique<ExtensionCache>();
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto white = [&](std::size_t at) {
        return util::IsWhite(static_cast<unsigned char>(text[at]));
    };
    for (;;) {
        while (i < n && white(i)) ++i;
        if (i >= n) break;
        std::size_t at = i;
        bool well_formed = IsHexDigit(static_cast<unsigned char>(text[at]));
        const int klass =
            well_formed ? util::HexDigitValue(static_cast<unsigned char>(text[at])) : 0;
        if (well_formed) {
            ++at;
            while (at < n && white(at)) ++at;
            well_formed = at < n && (text[at] == ':' || text[at] == '=');
        }
        if (!well_formed) {
            // Skip to the next control byte (tab, CR, LF) and resume there.
            while (i < n && static_cast<unsigned char>(text[i]) >= 0x20) ++i;
            continue;
        }
        i = at + 1;
        while (i < n && text[i] != '\n') {
            while (i < n && text[i] != '\n' && white(i)) ++i;
            const std::size_t start = i;
            while (i < n && !white(i)) ++i;
            if (i > start) AddEntry(klass, text.substr(start, i - start));
        }
    }
    bytes_.push_back('\0');
}

int ExtFilterClass::Evaluate(std::string_view url, std::string_view extension) const {
    for (const Entry& entry : entries_) {
        if (entry.pattern->Matches(url, extension)) return entry.klass;
    }
    return kDefaultClass;
}

int ExtFilterClass::ClassOf(std::string_view url) const {
    if (entries_.empty()) return kDefaultClass;
    const std::string extension = net::GetExtension(url);
    if (!extension_only_ || !cache_) return Evaluate(url, extension);
    std::lock_guard<std::mutex> guard(cache_->mutex);
    auto it = cache_->classes.find(extension);
    if (it != cache_->classes.end()) return it->second;
    const int klass = Evaluate(url, extension);
    if (cache_->classes.size() < ExtensionCache::kMaxEntries)
        cache_->classes.emplace(extension, klass);
    return klass;
}

}  // namespace kelvra::store

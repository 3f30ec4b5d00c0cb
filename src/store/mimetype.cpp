#include "store/mimetype.h"

#include <cstdio>

#include "platform/ownedfile.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

constexpr int kMaxLine = 1024;  // lines up to 1023 bytes; longer ones are read in pieces

std::string_view NextToken(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && util::IsWhite(static_cast<unsigned char>(rest[start]))) ++start;
    std::size_t end = start;
    while (end < rest.size() && !util::IsWhite(static_cast<unsigned char>(rest[end]))) ++end;
    std::string_view token = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return token;
}

// The subtype as both sides of the reverse lookup compare it.
std::string_view Subtype(std::string_view type) {
    const std::size_t slash = type.find('/');
    if (slash == std::string_view::npos) return {};
    type.remove_prefix(slash + 1);
    type = type.substr(0, type.find(';'));
    while (!type.empty() && util::IsWhite(static_cast<unsigned char>(type.back())))
        type.remove_suffix(1);
    if (util::StartsWithNoCase(type, "x-")) type.remove_prefix(2);
    return type;
}

}  // namespace

MimeTypeClass::~MimeTypeClass() = default;

std::size_t MimeTypeClass::LoadMimeTable(const std::string& path) {
    entries_.clear();
    by_extension_.clear();
    platform::FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return 0;
    char line[kMaxLine];
    while (std::fgets(line, kMaxLine, file.get())) {
        std::string_view rest(line);
        const std::string_view extension = NextToken(rest);
        if (extension.empty() || extension.front() == '#') continue;
        const std::string_view type = NextToken(rest);
        if (!type.empty()) AddMimeType(extension, type);
    }
    return entries_.size();
}

void MimeTypeClass::AddMimeType(std::string_view extension, std::string_view type) {
    entries_.emplace_back(extension, type);
    by_extension_.emplace(util::LowerCopy(extension), entries_.size() - 1);
}

std::string_view MimeTypeClass::TypeForExtension(std::string_view extension) const {
    if (extension.empty()) return {};
    const auto it = by_extension_.find(util::LowerCopy(extension));
    return it == by_extension_.end() ? std::string_view() : entries_[it->second].second;
}

std::string_view MimeTypeClass::ExtensionForType(std::string_view content_type) const {
    const std::string_view wanted = Subtype(content_type);
    if (wanted.empty()) return {};
    for (const auto& [extension, type] : entries_) {
        if (util::EqualsNoCase(Subtype(type), wanted)) return extension;
    }
    return {};
}

}  // namespace kelvra::store

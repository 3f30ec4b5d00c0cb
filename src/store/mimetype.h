#pragma once
// The table of file-name extensions and MIME types read from kelvra.mtf. The first matching
// line wins in both directions of lookup.

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvra::store {

class MimeTypeClass {
  public:
    MimeTypeClass() = default;
    virtual ~MimeTypeClass();

    // Replaces the table with the lines of path; a missing or unreadable file leaves it empty.
    // Returns the number of pairs read.
    std::size_t LoadMimeTable(const std::string& path);
    // Adds one pair at the end (as a further line of the file would).
    void AddMimeType(std::string_view extension, std::string_view type);

    // The type for an extension (without dot, compared ignoring case); empty when unknown.
    std::string_view TypeForExtension(std::string_view extension) const;
    // The extension for a header's content type: the part after its first '/', cut at ';',
    // without a leading "x-", compared ignoring case with each entry's subtype treated alike.
    // Empty when there is no match.
    std::string_view ExtensionForType(std::string_view content_type) const;
    std::size_t MimeTypeCount() const { return entries_.size(); }

  private:
    std::vector<std::pair<std::string, std::string>> entries_;   // file order
    std::unordered_map<std::string, std::size_t> by_extension_;  // lower-case -> first entry
};

}  // namespace kelvra::store

#pragma once
// The allowed-URL list of a crawl: URL prefixes in key form (no scheme, no user information,
// host lower-case), the first matching one decides; a leading '!' denies.

#include <string>
#include <string_view>

#include "store/listmanager.h"

namespace kelvra::store {

class HomeListManager final : public listmanager {
  public:
    // 1 allowed, -1 denied, 0 no entry applies. url is in key form (or a URL whose text
    // after scheme and user information is).
    int AcceptCheck(std::string_view url) const;
    // Adds the URL's directory (or "!" and it) when that changes a verdict; true when added.
    bool AddDirectory(std::string_view url);
    // Removes the entry equal to the URL's directory.
    void RemoveDirectory(std::string_view url);

    // A URL without scheme and user information, percent-decoded and normalised: the form
    // the frontier compares and files URLs in.
    static std::string KeyForm(std::string_view url);
    // The URL's key form, cut after its last '/' before the query boundary.
    static std::string DirectoryKey(std::string_view url);
};

}  // namespace kelvra::store

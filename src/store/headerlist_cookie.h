#pragma once
// The store layer that keeps cookies: per directory of a site, as a record under the key
// "<directory>/#" whose text is "#\n" and one "name=value" line per cookie.

#include <string>
#include <string_view>

#include "store/headerlistex.h"

namespace kelvra::store {

class headerlist_cookie : public headerlistex {
  public:
    using headerlistex::headerlistex;
    ~headerlist_cookie() override;

    // The base Add, then (when cookies are enabled) every "Set-Cookie:" of text is stored.
    treelistnode* Add(std::string_view url, std::string_view text, bool overwrite) override;
    // Appends "Cookie: a=1; b=2\r\n" with the cookies that apply to url (Secure ones only for
    // https); nothing when none.
    virtual std::string& BuildCookieHeader(std::string_view url, std::string& out);
    // The same for a URL whose record key (KeyOfUrl) the caller has made already.
    std::string& BuildCookieHeader(std::string_view url, std::string_view key, std::string& out);
    // Stores one cookie for the URL whose response set it; a cookie of the same name in the
    // same directory is replaced. A Secure cookie set over http is ignored.
    [[nodiscard]] virtual bool StoreCookie(std::string_view set_cookie_value, std::string_view url);

  private:
    // Appends the cookies of one jar record (may be null) to a Cookie line begun when any.
    static void AppendJar(const treelistnode* jar, std::string& out, bool& any);
};

}  // namespace kelvra::store

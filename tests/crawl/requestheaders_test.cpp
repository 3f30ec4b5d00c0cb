// The request header lines built from the stored state and the job's condition bits.
#include <gtest/gtest.h>

#include "crawl/requestheaders.h"
#include "net/httputils.h"
#include "store/fetchjob.h"

namespace kelvra::crawl {
namespace {

using namespace store::JobFlag;

constexpr std::string_view kFixed =
    "User-Agent: Tamble-Kelvra/5.3.0TR7 (Win32; GUI; ix86)\r\nAccept: */*\r\n";
constexpr const char* kDate = "Sat, 01 Jan 2000 00:00:00 GMT";

StoredState Stored(std::optional<std::string> xrange, std::int64_t size,
                   std::optional<std::string> lm) {
    StoredState s;
    s.has_record = true;
    s.xrange = std::move(xrange);
    s.local_size = size;
    s.last_modified = std::move(lm);
    return s;
}

std::string Build(const StoredState& stored, std::uint32_t& flags,
                  std::string_view url = "http://h/a",
                  std::optional<std::string_view> referrer = {}, std::string_view extra = {}) {
    RequestInputs in;
    in.url = url;
    in.referrer = referrer;
    in.extra_header = extra;
    return BuildRequestHeaders(in, stored, flags);
}

TEST(RequestHeaders, WithoutRecordOnlyTheFixedLines) {
    std::uint32_t flags = kModifyCheck;
    EXPECT_EQ(Build(StoredState{}, flags), kFixed);
    EXPECT_EQ(flags, kModifyCheck);
}

TEST(RequestHeaders, StoredDateGivesIfModifiedSince) {
    std::uint32_t flags = kModifyCheck;
    EXPECT_EQ(Build(Stored({}, 10, kDate), flags),
              std::string(kFixed) + "If-Modified-Since: " + kDate + "\r\n");
}

TEST(RequestHeaders, NoUpdateCheckWithoutModifyCheckOrForPostAndPlainGet) {
    for (std::uint32_t flags : {0u, kModifyCheck | kPost, kModifyCheck | kPlainGet}) {
        std::uint32_t f = flags;
        std::string text = Build(Stored({}, 10, kDate), f);
        EXPECT_EQ(text.find("If-Modified-Since"), std::string::npos) << flags;
    }
}

TEST(RequestHeaders, PartialFileWithMatchingSize) {
    // Without the resume bit it is compared by date first.
    std::uint32_t flags = kModifyCheck;
    EXPECT_EQ(Build(Stored("1000", 1000, kDate), flags),
              std::string(kFixed) + "If-Modified-Since: " + kDate + "\r\n");
    // With it, only the Range request goes out.
    flags = kModifyCheck | kResume;
    EXPECT_EQ(Build(Stored("1000", 1000, kDate), flags),
              std::string(kFixed) + "Range: bytes=1000-\r\n");
}

TEST(RequestHeaders, PartialFileOfWrongSizeIsFetchedWhole) {
    for (std::uint32_t flags : {kModifyCheck, kModifyCheck | kResume}) {
        std::uint32_t f = flags;
        EXPECT_EQ(Build(Stored("1000", 900, kDate), f), kFixed);
    }
    std::uint32_t missing = kModifyCheck | kResume;  // no local file at all
    EXPECT_EQ(Build(Stored("1000", -1, kDate), missing), kFixed);
}

TEST(RequestHeaders, StrictCheckWithNothingToCompareGoesStraightToGet) {
    std::uint32_t flags = kStrictModifyCheck | kModifyCheck;
    Build(StoredState{}, flags);
    EXPECT_NE(flags & kPlainGet, 0u);
    EXPECT_EQ(ChooseMethod(flags), net::kMethodGet);
    // A record without a date under ModifyCheck is not comparable either.
    flags = kStrictModifyCheck | kModifyCheck;
    Build(Stored({}, 5, {}), flags);
    EXPECT_NE(flags & kPlainGet, 0u);
}

TEST(RequestHeaders, StrictCheckWithStoredDataAsksByHead) {
    std::uint32_t flags = kStrictModifyCheck | kModifyCheck;
    Build(Stored({}, 5, kDate), flags);
    EXPECT_EQ(flags & kPlainGet, 0u);
    EXPECT_EQ(ChooseMethod(flags), net::kMethodHead);
    // Also without ModifyCheck: a complete stored object is comparable.
    flags = kStrictModifyCheck;
    Build(Stored({}, 5, {}), flags);
    EXPECT_EQ(ChooseMethod(flags), net::kMethodHead);
}

TEST(RequestHeaders, MethodChoice) {
    EXPECT_EQ(ChooseMethod(0), net::kMethodGet);
    EXPECT_EQ(ChooseMethod(kPost | kStrictModifyCheck), net::kMethodPost);
    EXPECT_EQ(ChooseMethod(kStrictModifyCheck | kPlainGet), net::kMethodGet);
}

TEST(RequestHeaders, NoCacheRefererPostAndExtraLinesInOrder) {
    std::uint32_t flags = kNoCache | kPost;
    EXPECT_EQ(Build(StoredState{}, flags, "http://h/f?a=1&b=2", "http://h/page.html?x=1",
                    "  X-A: 1\r\n\r\n\tX-B: 2\x01tail\n"),
              std::string(kFixed) +
                  "Pragma: no-cache\r\n"
                  "Referer: http://h/page.html\r\n"
                  "Content-length: 7\r\n"
                  "X-A: 1\r\n"
                  "X-B: 2\r\n"
                  "tail\r\n");
}

TEST(RequestHeaders, PostWithoutQueryAnnouncesZero) {
    std::uint32_t flags = kPost;
    EXPECT_NE(Build(StoredState{}, flags, "http://h/f").find("Content-length: 0\r\n"),
              std::string::npos);
}

TEST(RequestHeaders, CookiesOnlyWithSendCookie) {
    StoredState stored = Stored({}, 1, {});
    stored.cookie_header = "Cookie: a=b\r\n";
    std::uint32_t flags = 0;
    EXPECT_EQ(Build(stored, flags), kFixed);
    flags = kSendCookie;
    EXPECT_EQ(Build(stored, flags), std::string(kFixed) + "Cookie: a=b\r\n");
}

TEST(RequestHeaders, CredentialsForServerOnlyWithAuthenticationForProxyAlways) {
    StoredState stored = Stored({}, 1, {});
    stored.has_server_challenge = true;
    stored.has_proxy_challenge = true;
    std::vector<std::string> asked;
    RequestInputs in;
    in.url = "http://h/a";
    in.authorization = [&asked](std::string& value, std::string_view scope, bool) {
        asked.emplace_back(scope);
        value = scope == "." ? "Basic cHJveHk=" : "Basic dTpw";
        return true;
    };
    std::uint32_t flags = 0;
    EXPECT_EQ(BuildRequestHeaders(in, stored, flags),
              std::string(kFixed) + "Proxy-Authorization: Basic cHJveHk=\r\n");
    flags = kAuthentication;
    EXPECT_EQ(BuildRequestHeaders(in, stored, flags),
              std::string(kFixed) +
                  "Authorization: Basic dTpw\r\nProxy-Authorization: Basic cHJveHk=\r\n");
    EXPECT_EQ(asked, (std::vector<std::string>{".", "http://h/a", "."}));
    // No credentials: no line.
    in.authorization = [](std::string&, std::string_view, bool) { return false; };
    EXPECT_EQ(BuildRequestHeaders(in, stored, flags), kFixed);
}

}  // namespace
}  // namespace kelvra::crawl

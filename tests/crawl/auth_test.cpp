// Credentials: the "$AuthCode$" files, the NTLM messages, and the handshakes as a crawl drives
// them against loopback servers.
#include <ntlm.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "crawl_fixture.h"
#include "crawl/auth.h"
#include "util/codec.h"
#include "util/header.h"

namespace kelvra::crawl::testing {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Decode(std::string_view base64) {
    std::string bytes(4096, '\0');
    long n =
        util::Base64Decode(base64, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

// The text of a string field (length, capacity, offset) of an NTLM message.
std::string NtlmField(const std::string& message, std::size_t header_at) {
    if (message.size() < header_at + 8) return "";
    std::uint16_t length = 0;
    std::uint32_t offset = 0;
    std::memcpy(&length, message.data() + header_at, 2);
    std::memcpy(&offset, message.data() + header_at + 4, 4);
    if (offset + length > message.size()) return "";
    return message.substr(offset, length);
}

bool Asks(std::string user, std::string password, std::vector<std::string>* prompts,
          std::string_view prompt, std::string& value) {
    if (prompts != nullptr) prompts->emplace_back(prompt);
    value = StoredValue(prompt, user, password);
    return true;
}

class AuthCodeFiles : public ::testing::Test {
  protected:
    AuthCodeStore::Asker Answer(std::string user, std::string password) {
        return [this, user, password](std::string_view prompt, std::string& value) {
            return Asks(user, password, &prompts, prompt, value);
        };
    }
    kelvra::testing::TempDir dir;
    AuthCodeStore codes{dir.Path() + "/"};
    std::vector<std::string> prompts;
};

TEST_F(AuthCodeFiles, ScopeIsTheUrlsDirectoryInTheSpool) {
    EXPECT_EQ(CredentialScope("http://h/a/b/c.html"), "h/a/b");
    EXPECT_EQ(CredentialScope("http://u:p@h:8080/a/"), "h_8080/a");
    EXPECT_EQ(CredentialScope("http://h/x.html"), "h");
    EXPECT_EQ(CredentialScope("."), "");  // proxy credentials: the data directory
}

TEST_F(AuthCodeFiles, StoredForADirectoryAreFoundBelowItButNotBesideIt) {
    const std::string realm = "Basic realm=\"x\"";
    ASSERT_TRUE(codes.PrepareAuthorization("http://h/a/", realm, false, Answer("user", "pw")));
    EXPECT_EQ(prompts, std::vector<std::string>{"Basic realm=\"x\" (h/a/)"});
    EXPECT_EQ(ReadText(dir.Path("h/a/$AuthCode$")),
              realm + "\nBasic " + util::Base64Encode("user:pw") + "\n");
    struct stat info {};
    ASSERT_EQ(::stat((dir.Path("h/a/$AuthCode$")).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // it holds a password
    EXPECT_FALSE(std::filesystem::exists(dir.Path("h/a/$AuthCode$.tmp")));

    std::string value;
    EXPECT_TRUE(codes.MakeAuthorization(&value, "http://h/a/b/c.html", realm, false));
    EXPECT_EQ(value, "Basic " + util::Base64Encode("user:pw"));
    EXPECT_TRUE(codes.MakeAuthorization(nullptr, "http://h/a/index.html", realm, false));
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, "http://h/x/", realm, false));
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, "http://h/", realm, false));
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, "http://h/a/", "Basic realm=\"y\"", false));

    // Found credentials are not asked for again, unless the last attempt gave up.
    EXPECT_TRUE(codes.PrepareAuthorization("http://h/a/b/", realm, false, Answer("no", "no")));
    EXPECT_EQ(prompts.size(), 1u);
}

TEST_F(AuthCodeFiles, NewPasswordReplacesTheOldEntryAndGoesFirst) {
    const std::string x = "Basic realm=\"x\"";
    const std::string y = "Basic realm=\"y\"";
    ASSERT_TRUE(codes.PrepareAuthorization("http://h/a/", x, false, Answer("u", "old")));
    ASSERT_TRUE(codes.PrepareAuthorization("http://h/a/", y, false, Answer("v", "other")));
    ASSERT_TRUE(codes.PrepareAuthorization("http://h/a/", x, true, Answer("u", "new")));
    EXPECT_EQ(ReadText(dir.Path("h/a/$AuthCode$")), x + "\nBasic " + util::Base64Encode("u:new") +
                                                        "\n" + y + "\nBasic " +
                                                        util::Base64Encode("v:other") + "\n");
    std::string value;
    ASSERT_TRUE(codes.MakeAuthorization(&value, "http://h/a/", x, false));
    EXPECT_EQ(value, "Basic " + util::Base64Encode("u:new"));
}

TEST_F(AuthCodeFiles, CancelledPromptWritesNothing) {
    auto cancel = [](std::string_view, std::string&) { return false; };
    EXPECT_FALSE(codes.PrepareAuthorization("http://h/a/", "Basic realm=\"x\"", false, cancel));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("h/a/$AuthCode$")));
}

TEST_F(AuthCodeFiles, ProxyCredentialsLiveInTheDataDirectory) {
    ASSERT_TRUE(codes.PrepareAuthorization(".", "Basic realm=\"p\"", false, Answer("pu", "pp")));
    EXPECT_EQ(prompts, std::vector<std::string>{"Basic realm=\"p\" (.)"});
    EXPECT_TRUE(std::filesystem::exists(dir.Path("$AuthCode$")));
    EXPECT_TRUE(codes.MakeAuthorization(nullptr, ".", "Basic realm=\"p\"", false));
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, "http://h/", "Basic realm=\"p\"", false));
}

TEST_F(AuthCodeFiles, NtlmValuesAreRotatedAndOnlyUsedDuringAnAttempt) {
    // 'a' 0x61 -> 0xC2, LF 0x0A -> 0x14, 'b' 0x62 -> 0xC4: bit 7 moves to bit 0.
    EXPECT_EQ(StoredValue("NTLM", "a", "b"), "NTLM whTE");
    EXPECT_EQ(StoredValue("Basic realm=x", "a", "b"), "Basic " + util::Base64Encode("a:b"));
    ASSERT_TRUE(codes.PrepareAuthorization("http://h/n/", "NTLM", false, Answer("alice", "pw")));
    EXPECT_EQ(ReadText(dir.Path("h/n/$AuthCode$")).substr(0, 5), "NTLM\n");
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, "http://h/n/", "NTLM", false));
    // The key is the scheme word: the server's later challenge message matches it.
    std::string value;
    EXPECT_TRUE(codes.MakeAuthorization(&value, "http://h/n/p", "NTLM", true));
    EXPECT_TRUE(value.starts_with("NTLM TlRMTVNT"));  // "NTLMSS" of the negotiation message
}

TEST(AcceptedCredentialsTable, CoverTheirDirectoryAndBelowOnTheirSchemeOnly) {
    AcceptedCredentials accepted;
    accepted.Note("http://h/a/page.html", "h/a", "Basic A");
    accepted.Note("http://h/a/b/c/x.html", "h/a/b", "Basic B");
    accepted.Note("http://h/a/index.html", "h/a", "Basic A2");  // replaces the first
    const std::pair<const char*, std::optional<std::string>> kCases[] = {
        {"http://h/a/", "Basic A2"},
        {"http://h/a/z/y.html", "Basic A2"},
        {"http://h/a/b/q.html", "Basic B"},    // the deepest directory wins
        {"http://h/ab/q.html", std::nullopt},  // beside, not below
        {"http://h/q.html", std::nullopt},
        {"https://h/a/q.html", std::nullopt},  // accepted over http only
        {"http://h:8080/a/q.html", std::nullopt},
    };
    for (const auto& [url, value] : kCases) EXPECT_EQ(accepted.For(url), value) << url;
}

TEST(NtlmMessages, NegotiationCarriesTheUsersDomainOrWorkgroup) {
    struct Row {
        const char* user;
        const char* domain;
        const char* why;
    };
    const Row rows[] = {
        {"alice", "WORKGROUP", "no domain: WORKGROUP is appended"},
        {"alice@lab", "lab", "a domain of its own is passed unchanged"},
    };
    for (const Row& row : rows) {
        std::optional<std::string> value =
            BuildNtlmValue(StoredValue("NTLM", row.user, "pw"), "NTLM");
        ASSERT_TRUE(value) << row.why;
        std::string message = Decode(value->substr(5));
        ASSERT_GE(message.size(), 32u) << row.why;
        EXPECT_EQ(message.substr(0, 8), std::string("NTLMSSP\0", 8)) << row.why;
        EXPECT_EQ(message[8], 1) << row.why;                       // type 1
        EXPECT_EQ(NtlmField(message, 24), row.domain) << row.why;  // domain field
    }
}

TEST(NtlmMessages, UndecodableValuesGiveNoHeader) {
    EXPECT_FALSE(BuildNtlmValue("NTLM !!!", "NTLM"));
    EXPECT_FALSE(BuildNtlmValue("NTLM " + util::Base64Encode("no line feed"), "NTLM"));
    EXPECT_FALSE(BuildNtlmValue(StoredValue("NTLM", "a", "b"), "NTLM %%%"));
    EXPECT_FALSE(BuildNtlmValue("NTLM " + util::Base64Encode(std::string(600, 'x')), "NTLM"));
}

TEST(NtlmMessages, LibraryVersionIsKnown) {
    EXPECT_FALSE(NtlmVersion().empty());
}

// ---- the handshakes in a crawl --------------------------------------------------------------

std::string Header(const test::Request& request, std::string_view name) {
    return std::string(util::FindHeader(request.Head(), name));
}

class AuthCrawl : public CrawlFixture {};

TEST_F(AuthCrawl, BasicChallengeAsksAndGoesAgainAtOnce) {
    const std::string good = "Basic " + util::Base64Encode("user:pw");
    test::TestOrigin origin([&good](const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        if (Header(request, "Authorization:") == good) return test::Reply().Send(Html("secret"));
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 401 Unauthorized", "no",
                                                     "WWW-Authenticate: Basic realm=\"x\"\r\n"));
    });
    display.credential_user = "user";
    display.credential_password = "pw";
    NewCrawl();
    Start(origin.Url("/a/page.html"), kPlainFlags | kAuthentication);
    RunCrawl();
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"UnAuth", "Success"}));
    EXPECT_EQ(display.prompts, std::vector<std::string>{"Basic realm=\"x\" (" + origin.HostPort() +
                                                        "/a/page.html)"});
    std::vector<test::Request> pages = PageRequests(origin);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(Header(pages[0], "Authorization:"), "");
    EXPECT_EQ(Header(pages[1], "Authorization:"), good);
    EXPECT_EQ(LocalFile(origin.Url("/a/page.html")), "secret");

    std::string scope = *CredentialScope(origin.Url("/a/page.html"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path(scope + "/$AuthCode$")));
    AuthCodeStore codes(dir.Path() + "/");
    EXPECT_TRUE(
        codes.MakeAuthorization(nullptr, origin.Url("/a/b/c.html"), "Basic realm=\"x\"", false));
    EXPECT_FALSE(codes.MakeAuthorization(nullptr, origin.Url("/x/"), "Basic realm=\"x\"", false));
}

TEST_F(AuthCrawl, CancelledPromptEndsAsUnAuth) {
    test::TestOrigin origin([](const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 401 Unauthorized", "no",
                                                     "WWW-Authenticate: Basic realm=\"x\"\r\n"));
    });
    NewCrawl();  // no user ID preset: the prompt is cancelled
    Start(origin.Url("/a/page.html"), kPlainFlags | kAuthentication);
    RunCrawl();
    EXPECT_EQ(StatusNames(), std::vector<std::string>{"UnAuth"});
    EXPECT_EQ(PageRequests(origin).size(), 1u);
    EXPECT_EQ(crawl->ErrorUrls(), std::vector<std::string>{origin.Url("/a/page.html")});
}

TEST_F(AuthCrawl, ProxyChallengeUsesTheDataDirectoryScope) {
    const std::string good = "Basic " + util::Base64Encode("pu:pp");
    test::TestOrigin proxy([&good](const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        if (Header(request, "Proxy-Authorization:") == good) {
            return test::Reply().Send(Html("through"));
        }
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 407 Proxy Authentication Required",
                                                     "no",
                                                     "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
    });
    environment.http_proxy = {0, "127.0.0.1", proxy.Port()};
    display.credential_user = "pu";
    display.credential_password = "pp";
    NewCrawl();
    // No Authentication flag: a proxy's challenge is answered anyway.
    Start("http://www.example.invalid/p.html", kPlainFlags);
    RunCrawl();
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"UnAuth", "Success"}));
    EXPECT_EQ(display.prompts, std::vector<std::string>{"Basic realm=\"p\" (.)"});
    EXPECT_TRUE(std::filesystem::exists(dir.Path("$AuthCode$")));
    std::vector<test::Request> pages = PageRequests(proxy);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].RequestLine(), "GET http://www.example.invalid/p.html HTTP/1.1");
    EXPECT_EQ(Header(pages[1], "Proxy-Authorization:"), good);
}

// A site behind one Basic realm: every request without the good credentials is challenged.
class BasicSite : public AuthCrawl {
  protected:
    void SetUp() override {
        AuthCrawl::SetUp();
        WriteMcf("* 0/1/11\n");
        display.credential_user = "user";
        display.credential_password = "pw";
    }
    test::Reply Answer(const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        if (Header(request, "Authorization:") != kGood) {
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 401 Unauthorized", "no",
                                                         "WWW-Authenticate: " + kRealm + "\r\n"));
        }
        if (request.RequestLine().find("/a/page.html") != std::string_view::npos) {
            return test::Reply().Send(Html("<a href=1.html><a href=b/2.html><a href=/a/3.html>"));
        }
        return test::Reply().Send(Html("leaf"));
    }
    const std::string kRealm = "Basic realm=\"x\"";
    const std::string kGood = "Basic " + util::Base64Encode("user:pw");
    test::TestOrigin origin{[this](const test::Request& request) { return Answer(request); }};
};

// Credentials the server accepted go with every later request below the directory of the
// file that holds them: one prompt for the whole site.
TEST_F(BasicSite, AcceptedCredentialsGoAheadBelowTheirDirectory) {
    NewCrawl();
    Start(origin.Url("/a/page.html"), kPlainFlags | kAuthentication, 2);
    RunCrawl();
    EXPECT_EQ(display.prompts,
              std::vector<std::string>{kRealm + " (" + origin.HostPort() + "/a/page.html)"});
    std::vector<std::string> sent;
    for (const test::Request& request : PageRequests(origin)) {
        sent.push_back(std::string(request.RequestLine()) +
                       (Header(request, "Authorization:") == kGood ? " +" : " -"));
    }
    EXPECT_EQ(sent,
              (std::vector<std::string>{"GET /a/page.html HTTP/1.1 -",
                                        "GET /a/page.html HTTP/1.1 +", "GET /a/1.html HTTP/1.1 +",
                                        "GET /a/b/2.html HTTP/1.1 +", "GET /a/3.html HTTP/1.1 +"}));
}

struct StoredCase {
    const char* what;
    const char* stored_password;  // nullptr: nothing stored
    std::vector<std::string> statuses;
    std::size_t prompts;
};

class StoredBasic : public BasicSite, public ::testing::WithParamInterface<StoredCase> {};

// A first challenge for a URL without a stored one tries the stored credentials of its scope;
// the user is asked only when there are none or the server refused them just now.
TEST_P(StoredBasic, AreTriedBeforeAsking) {
    const std::string url = origin.Url("/a/page.html");
    if (GetParam().stored_password != nullptr) {
        auto answer = [](std::string_view prompt, std::string& value) {
            value = StoredValue(prompt, "user", GetParam().stored_password);
            return true;
        };
        ASSERT_TRUE(
            AuthCodeStore(dir.Path() + "/").PrepareAuthorization(url, kRealm, true, answer));
    }
    NewCrawl();
    Start(url, kPlainFlags | kAuthentication, 1);
    RunCrawl();
    EXPECT_EQ(StatusNames(), GetParam().statuses);
    EXPECT_EQ(display.prompts.size(), GetParam().prompts);
    EXPECT_EQ(LocalFile(url).substr(0, 3), "<a ");
}

const StoredCase kStoredCases[] = {
    {"none stored", nullptr, {"UnAuth", "Success"}, 1},
    {"good ones stored", "pw", {"AuthPend", "Success"}, 0},
    {"stale ones stored", "old", {"AuthPend", "UnAuth", "Success"}, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, StoredBasic, ::testing::ValuesIn(kStoredCases),
                         [](const auto& info) {
                             std::string name = info.param.what;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

// The server's challenge message (type 2) with a fixed challenge.
tSmbNtlmAuthChallenge ServerChallenge() {
    tSmbNtlmAuthChallenge challenge;
    std::memset(&challenge, 0, sizeof(challenge));
    std::memcpy(challenge.ident, "NTLMSSP", 8);
    challenge.msgType = 2;
    challenge.flags = 0x00008201;
    for (int i = 0; i < 8; ++i) challenge.challengeData[i] = static_cast<uint8>(0x11 * (i + 1));
    return challenge;
}

std::string ChallengeBase64() {
    tSmbNtlmAuthChallenge challenge = ServerChallenge();
    return util::Base64Encode(std::string_view(reinterpret_cast<const char*>(&challenge),
                                               offsetof(tSmbNtlmAuthChallenge, buffer)));
}

TEST_F(AuthCrawl, NtlmRunsTheThreeMessagesOnOneConnection) {
    tSmbNtlmAuthChallenge challenge = ServerChallenge();
    tSmbNtlmAuthResponse expected;
    std::memset(&expected, 0, sizeof(expected));
    buildSmbNtlmAuthResponse(&challenge, &expected, "alice@WORKGROUP", "secret");
    const std::string expected_type3 = util::Base64Encode(
        std::string_view(reinterpret_cast<const char*>(&expected), SmbLength(&expected)));
    const std::string keep = "Connection: Keep-Alive\r\n";

    test::TestOrigin origin([&](const test::Request& request) {
        if (IsRobots(request.RequestLine())) return NoRobots();
        std::string authorization = Header(request, "Authorization:");
        if (authorization.empty()) {
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 401 Unauthorized", "no",
                                                         "WWW-Authenticate: NTLM\r\n" + keep));
        }
        std::string message = Decode(authorization.substr(5));
        if (message.size() > 8 && message[8] == 1) {
            return test::Reply().Send(
                test::HttpResponse("HTTP/1.1 401 Unauthorized", "no",
                                   "WWW-Authenticate: NTLM " + ChallengeBase64() + "\r\n" + keep));
        }
        if (authorization == "NTLM " + expected_type3)
            return test::Reply().Send(Html("granted", keep));
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 403 Forbidden", "bad"));
    });
    display.credential_user = "alice";
    display.credential_password = "secret";
    NewCrawl();
    Start(origin.Url("/n/page.html"), kPlainFlags | kAuthentication);
    RunCrawl();
    EXPECT_EQ(StatusNames(), (std::vector<std::string>{"AuthPend", "AuthPend", "Success"}));
    EXPECT_EQ(display.prompts.size(), 1u);
    std::vector<test::Request> pages = PageRequests(origin);
    ASSERT_EQ(pages.size(), 3u);
    std::string type1 = Decode(Header(pages[1], "Authorization:").substr(5));
    ASSERT_GT(type1.size(), 32u);
    EXPECT_EQ(type1[8], 1);
    EXPECT_EQ(NtlmField(type1, 24), "WORKGROUP");
    EXPECT_EQ(Header(pages[2], "Authorization:"), "NTLM " + expected_type3);
    EXPECT_EQ(pages[1].connection, pages[2].connection);  // the handshake needs one connection
    EXPECT_EQ(LocalFile(origin.Url("/n/page.html")), "granted");
}

}  // namespace
}  // namespace kelvra::crawl::testing

#include "net/url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvra::net {
namespace {

struct Case {
    const char* input;
    const char* expected;
};

std::string Normalized(std::string url) {
    NormalizeUrl(url);
    return url;
}

TEST(NormalizeUrl, CanonicalForms) {
    const Case cases[] = {
        // host lower-cased, default port gone, path folded, query untouched
        {"http://SRV:80/A/./b/../C?x=/../", "http://srv/A/C?x=/../"},
        {"ftp://host:21/pub", "ftp://host/pub"},
        // 21 is the default of ftp only
        {"http://host:21/", "http://host:21/"},
        {"http://host", "http://host/"},
        {"http:////host//a", "http://host/a"},
        {"http://h/a/b/../../c", "http://h/c"},
        {"http://h/../c", "http://h/c"},
        {"http://h/a/./././b", "http://h/a/b"},
        // trailing blanks and line ends are cut
        {"http://h/x \r\n", "http://h/x"},
        // entities copied out of HTML
        {"http://h/p?a=1&amp;b=2", "http://h/p?a=1&b=2"},
        // user information keeps its case, the host does not
        {"http://User:PW@Host.Example/P", "http://User:PW@host.example/P"},
        // the port is lower-cased with the host and kept when not the default
        {"http://HOST:8080/A", "http://host:8080/A"},
        // a doubled slash inside the path starts the query part: nothing after it is folded
        {"http://h/a//b/../c", "http://h/a//b/../c"},
        // ".." inside the query is not folded
        {"http://h/cgi?p=/a/../b", "http://h/cgi?p=/a/../b"},
        // folding stops at the root
        {"http://h/a/../../../b", "http://h/b"},
        // a key (no scheme) normalises the same way
        {"Host/a/./b", "host/a/b"},
    };
    for (const auto& c : cases) EXPECT_EQ(Normalized(c.input), c.expected) << c.input;
}

// Dot segments as the plainest reading removes them: the first match, again and again.
std::string FoldedByRepeatedSearch(std::string path) {
    for (std::size_t pos; (pos = path.find("/./")) != std::string::npos;) path.erase(pos, 2);
    for (std::size_t pos; (pos = path.find("/../")) != std::string::npos;) {
        const std::size_t previous = pos == 0 ? 0 : path.rfind('/', pos - 1);
        path.erase(previous, pos + 3 - previous);
    }
    return path;
}

TEST(NormalizeUrl, FoldsEveryPathOfDotsAndSlashesAsRepeatedSearchesDo) {
    // Every path of up to ten bytes of '/', '.' and 'a' (no "//", which ends the folded part).
    std::vector<std::string> paths = {"/"};
    for (std::size_t next = 0; next < paths.size(); ++next) {
        const std::string path = paths[next];
        EXPECT_EQ(Normalized("http://h" + path), "http://h" + FoldedByRepeatedSearch(path))
            << path;
        if (path.size() == 10) continue;
        for (char c : {'/', '.', 'a'}) {
            if (c != '/' || path.back() != '/') paths.push_back(path + c);
        }
    }
    EXPECT_GT(paths.size(), 10000u);
}

TEST(NormalizeUrl, ReturnsOffsetAfterScheme) {
    std::string url = "http://h/x";
    EXPECT_EQ(NormalizeUrl(url), 7u);
    std::string key = "h/x";
    EXPECT_EQ(NormalizeUrl(key), 0u);
}

TEST(NormalizeUrl, IsIdempotent) {
    const char* urls[] = {"http://SRV:80/A/./b/../C?x=/../", "http:////host//a", "ftp://H:21"};
    for (const char* u : urls) {
        std::string once = Normalized(u);
        EXPECT_EQ(Normalized(once), once) << u;
    }
}

TEST(StripDefaultPort, OnlyTheSchemeDefault) {
    const Case cases[] = {
        {"http://h:80/x", "http://h/x"},
        {"http://h:80", "http://h"},
        {"ftp://h:21/", "ftp://h/"},
        {"ftp://h:80/", "ftp://h:80/"},
        {"http://h:8080/", "http://h:8080/"},
        {"http://u:p@h:80/", "http://u:p@h/"},
        {"https://h:443/x", "https://h/x"},
        {"https://h:80/x", "https://h:80/x"},
        // not one of our schemes
        {"gopher://h:80/", "gopher://h:80/"},
    };
    for (const auto& c : cases) {
        std::string url = c.input;
        StripDefaultPort(url);
        EXPECT_EQ(url, c.expected) << c.input;
    }
}

TEST(UrlParts, Pieces) {
    UrlParts p = SplitUrl("  http://u:pw@Host:8080/a/b?q=/x");
    EXPECT_EQ(p.scheme, "http");
    EXPECT_EQ(p.user_info, "u:pw");
    EXPECT_EQ(p.host, "Host");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/a/b?q=/x");

    UrlParts bare = SplitUrl("host");
    EXPECT_EQ(bare.scheme, "");
    EXPECT_EQ(bare.host, "host");
    EXPECT_EQ(bare.port, 0);
    EXPECT_EQ(bare.path, "/");

    // an '@' after the first '/' is part of the path, not user information
    UrlParts at = SplitUrl("http://h/mail@x");
    EXPECT_EQ(at.user_info, "");
    EXPECT_EQ(at.host, "h");
}

TEST(UrlParts, HostAndPortAndPath) {
    std::string host;
    EXPECT_EQ(GetHostAndPort("http://www.h.jp:81/x", host), 81);
    EXPECT_EQ(host, "www.h.jp");
    EXPECT_EQ(GetHostAndPort("ftp://u@f.h/pub", host), 0);
    EXPECT_EQ(host, "f.h");
    EXPECT_EQ(GetPath("http://h"), "/");
    EXPECT_EQ(GetPath("http://h/a?b"), "/a?b");
    EXPECT_EQ(HostSpan("http://u@h:1/"), "h");
    EXPECT_EQ(HostStart("http://u:p@h/"), 11u);
    EXPECT_EQ(SkipScheme("  h/x"), 2u);
}

TEST(SchemeDetection, Lengths) {
    EXPECT_EQ(SchemeLength("http://x"), 5);
    EXPECT_EQ(SchemeLength("mailto:x"), 7);
    EXPECT_EQ(SchemeLength(":x"), 1);
    EXPECT_EQ(SchemeLength("a/b:c"), -1);
    EXPECT_EQ(SchemeLength("a?b:c"), -1);
    EXPECT_EQ(SchemeLength("page.html"), -1);
    EXPECT_TRUE(HasScheme("http://x"));
    EXPECT_TRUE(HasScheme("abcdef://x"));
    EXPECT_FALSE(HasScheme("abcdefg://x"));
    EXPECT_FALSE(HasScheme("host/x"));
}

TEST(PathEnd, QueryBoundary) {
    struct Row {
        const char* text;
        std::size_t end;
    } rows[] = {
        {"http://h/a?b", 10}, {"http://h:8080/a:b", 15},  // the port's colon is before the path
        {"h/a/b*c", 5},       {"h/a//b", 3},              // first of two slashes
        {"http://h/a", 10},   {"http://h", 8},
        {"h/x|y", 3},
    };
    for (const auto& r : rows) EXPECT_EQ(PathEnd(r.text), r.end) << r.text;
    EXPECT_EQ(DirectoryEnd("http://h/d/p.html?x=/y"), 10u);
    EXPECT_EQ(DirectoryEnd("http://h"), 8u);
}

class ResolveLinkTest : public ::testing::Test {
  protected:
    void SetUp() override { MakeBaseUrl(base_, "http://h/d/p.html"); }
    BaseUrl base_;
};

TEST_F(ResolveLinkTest, AgainstPage) {
    struct Row {
        const char* link;
        int result;
        const char* url;
    } rows[] = {
        {"q.html", kResolved, "http://h/d/q.html"},
        {"/r", kResolved, "http://h/r"},
        {"?s=1", kResolved, "http://h/d/p.html?s=1"},
        {"#top", kResolved, "http://h/d/p.html"},
        {"", kResolved, "http://h/d/p.html"},
        {"http:q.html", kResolved, "http://h/d/q.html"},
        {"http://o/x", kAbsolute, "http://o/x"},
        {"ftp://f/pub/", kAbsolute, "ftp://f/pub/"},
        {"https://s/", kAbsolute, "https://s/"},
        {"../up.html", kResolved, "http://h/d/../up.html"},  // folded later by NormalizeUrl
    };
    for (const auto& r : rows) {
        std::string dst;
        EXPECT_EQ(ResolveLink(dst, base_, r.link), r.result) << r.link;
        EXPECT_EQ(dst, r.url) << r.link;
    }
}

TEST_F(ResolveLinkTest, NotFollowable) {
    const char* links[] = {"mailto:x", "javascript:void(0)", "HTTP://h/", ":x",
                           // a prefix of a scheme of ours is not that scheme
                           "f:page", "ht:page", "httpss://s/"};
    for (const char* link : links) {
        std::string dst = "untouched";
        EXPECT_EQ(ResolveLink(dst, base_, link), kNotFollowable) << link;
    }
}

TEST(MakeBaseUrl, DirectoryLength) {
    BaseUrl base;
    MakeBaseUrl(base, "http://h");
    EXPECT_EQ(base.text, "http://h/");
    EXPECT_EQ(base.directory_length, 9u);
    MakeBaseUrl(base, "http://h/cgi/x.cgi?a=/b/c");
    EXPECT_EQ(base.text, "http://h/cgi/x.cgi?a=/b/c");
    EXPECT_EQ(base.directory_length, 13u);
    std::string dst;
    JoinToBase(dst, base, "?z");
    EXPECT_EQ(dst, "http://h/cgi/x.cgi?z");
    JoinToBase(dst, base, "y.cgi");
    EXPECT_EQ(dst, "http://h/cgi/y.cgi");
}

TEST(GetExtension, LastSegmentOnly) {
    const Case cases[] = {
        {"http://h/a.tar.gz?x", "gz"},
        {"http://h/dir.x/file", ""},
        {"http://h/A.HTML", "HTML"},
        {"http://h/", ""},
        {"http://h/f.abcdefghijklmno", "abcdefghijklmno"},  // 15 bytes: still found
        {"http://h/f.abcdefghijklmnop", ""},                // the dot is beyond the walk
    };
    for (const auto& c : cases) EXPECT_EQ(GetExtension(c.input), c.expected) << c.input;
}

TEST(FormEncode, BytesAndCapacity) {
    std::string out;
    EXPECT_EQ(FormEncode(out, 100, "a b&c=d~(x)"), 15);
    EXPECT_EQ(out, "a+b%26c%3dd~(x)");
    std::string binary;
    EXPECT_EQ(FormEncode(binary, 100, std::string_view("\x82\xa0\0", 3)), 9);
    EXPECT_EQ(binary, "%82%a0%00");
    std::string tight = "keep";
    EXPECT_EQ(FormEncode(tight, 3, "ab&"), -1);  // "ab" fits, the escape does not
    EXPECT_EQ(tight, "keep");
    EXPECT_EQ(FormEncode(tight, 3, "abc"), 3);
}

TEST(PercentDecode, OnlyUnreservedBytes) {
    const Case cases[] = {
        {"a%20b%2Fc%41", "a b%2FcA"},
        {"%3F%26%3d", "%3F%26%3d"},  // reserved stay encoded
        {"%82%a0", "\x82\xa0"},      // Shift_JIS bytes are decoded
        {"100%", "100%"},
        {"%4", "%4"},
        {"%zz", "%zz"},
        {"a\tb", "a%09b"},  // control bytes are escaped
    };
    for (const auto& c : cases) EXPECT_EQ(PercentDecode(c.input, 2048), c.expected) << c.input;
}

TEST(PercentDecode, NeverExceedsTheUrlBuffer) {
    // Without a capacity the output still fits a 2048-byte buffer with its NUL,
    // even when every control byte grows to three.
    std::string controls(3000, '\x01');
    EXPECT_LE(PercentDecode(controls).size(), kMaxUrl);
    std::string plain(5000, 'a');
    EXPECT_EQ(PercentDecode(plain).size(), kMaxUrl);
    EXPECT_EQ(PercentDecode("abcdef", 4), "abc");
    // an escape that does not fit whole is not started
    EXPECT_EQ(PercentDecode("ab\x01", 5), "ab");
}

TEST(EscapeUnsafeBytes, ControlSpaceHighAndDelete) {
    EXPECT_EQ(EscapeUnsafeBytes("/a b\x7f\x82?x=1"), "/a%20b%7f%82?x=1");
    EXPECT_EQ(EscapeUnsafeBytes("\r\n"), "%0d%0a");
}

TEST(DecodeEntities, References) {
    const Case cases[] = {
        {"a&amp;b", "a&b"},
        {"&copy;", "&copy;"},
        {"&#65;", "A"},
        {"&lt;&gt;&quot;", "<>\""},
        {"&amp;lt;", "&lt;"},  // one pass: the produced '&' is not read again
        {"a&b", "a&b"},        // no ';' at all
        // hexadecimal and zero references would give NUL and cut the text: left alone
        {"x&#x41;y", "x&#x41;y"},
        {"x&#0;y", "x&#0;y"},
        {"x&#256;y", "x&#256;y"},
        {"&#321;", "A"},  // cut to eight bits
    };
    for (const auto& c : cases) {
        std::string text = c.input;
        DecodeEntities(text);
        EXPECT_EQ(text, c.expected) << c.input;
    }
}

TEST(FileSafeName, HostAndPathEscapes) {
    EXPECT_EQ(FileSafeName("host:8080/a b/c?d=*", 256), "host_8080/a%20b/c%3fd=%2a");
    EXPECT_EQ(FileSafeName("h/x|y\"<>\\", 256), "h/x%7cy%22%3c%3e%5c");
    // the output always fits its capacity with the NUL
    std::string long_key = "h/" + std::string(400, 'a');
    EXPECT_EQ(FileSafeName(long_key, 256).size(), 255u);
    // with less than three bytes left, an escape is not written and the byte is copied
    EXPECT_EQ(FileSafeName("h/ab?", 6), "h/ab?");
    EXPECT_EQ(FileSafeName("h/a?", 8), "h/a%3f");
}

TEST(ColonToUnderscore, HostOnly) {
    std::string a = "host:80/x:y";
    ColonToUnderscore(a);
    EXPECT_EQ(a, "host_80/x:y");
    std::string b = "host/x:y";
    ColonToUnderscore(b);
    EXPECT_EQ(b, "host/x:y");
}

}  // namespace
}  // namespace kelvra::net

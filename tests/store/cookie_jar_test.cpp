// Where cookies are kept and which requests get them: path attributes, queries, escapes and
// names set at several levels.
#include <gtest/gtest.h>

#include "store/headerlist_cookie.h"
#include "store/store_test_util.h"

namespace kelvra::store {
namespace {

class CookieJar : public ::testing::Test {
  protected:
    CookieJar() : store_(dir_.path(), "index.html", std::nullopt, "") {}
    std::string Header(const std::string& url) {
        std::string out = "X: 1\r\n";  // the header under construction is appended to
        store_.BuildCookieHeader(url, out);
        return out.substr(6);
    }
    const char* Jar(std::string_view key) {
        const treelistnode* node = store_.FindKey(key);
        return node != nullptr ? node->value().text() : nullptr;
    }
    testing::TempDir dir_;
    headerlist_cookie store_;
};

TEST_F(CookieJar, PathAttributeChoosesTheDirectory) {
    struct Row {
        std::string url;
        std::string set_cookie;
        std::string key;
        const char* why;
    };
    const std::vector<Row> rows = {
        {"http://h/x.html", "c=1; path=/a/b/", "h/a/b/#", "a deeper directory"},
        {"http://h/x.html", "c=2; Path = /a/b ", "h/a/b/#", "case, blanks, no trailing slash"},
        {"http://h/a/b.cgi?q=/y/z", "c=3", "h/a/#", "the query's slashes do not count"},
        {"http://u:p@H/a/b.html", "c=4", "h/a/#", "user information and host case dropped"},
        {"http://h/a/b.html", "c=5; domain=h; max-age=9", "h/a/#", "other attributes ignored"},
        {"https://h/a/b.html", "c=6; Secure", "h/a/#s", "a Secure cookie in a jar of its own"},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(store_.StoreCookie(row.set_cookie, row.url)) << row.why;
        const char* text = Jar(row.key);
        ASSERT_NE(text, nullptr) << row.why;
        std::string cookie = row.set_cookie.substr(0, row.set_cookie.find(';'));
        EXPECT_NE(std::string(text).find("\n" + cookie + "\n"), std::string::npos) << row.why;
    }
}

TEST_F(CookieJar, SameNameAtSeveralLevelsIsSentDeepestFirst) {
    EXPECT_TRUE(store_.StoreCookie("id=top; path=/", "http://h/a/b/c.html"));
    EXPECT_TRUE(store_.StoreCookie("id=deep", "http://h/a/b/c.html"));
    EXPECT_EQ(Header("http://h/a/b/d.html"), "Cookie: id=deep; id=top\r\n");
    EXPECT_EQ(Header("http://h/a/"), "Cookie: id=top\r\n");
}

TEST_F(CookieJar, LookupUsesTheKeyForm) {
    EXPECT_TRUE(store_.StoreCookie("s=1", "http://h/a/b.html"));
    EXPECT_EQ(Header("http://user:pw@h/a/%7Ex.html?q=1"), "Cookie: s=1\r\n");
    EXPECT_EQ(Header("http://h:8080/a/x.html"), "");  // another port is another site
}

TEST_F(CookieJar, ValueEndsAtAControlByte) {
    EXPECT_TRUE(store_.StoreCookie(std::string("k=v\x01junk"), "http://h/a/b.html"));
    EXPECT_EQ(Header("http://h/a/"), "Cookie: k=v\r\n");
}

TEST_F(CookieJar, AddCapturesEverySetCookieOnlyWhenEnabled) {
    const std::string response =
        "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nContent-Type: text/html\r\nset-cookie: b=2; "
        "path=/\r\n\r\n";
    store_.Add("http://h/a/p.html", response, true);
    EXPECT_EQ(Jar("h/a/#"), nullptr);
    store_.SetCookiesEnabled(true);
    store_.Add("http://h/a/p.html", response, true);
    ASSERT_NE(Jar("h/a/#"), nullptr);
    EXPECT_STREQ(Jar("h/a/#"), "#\na=1\n");
    EXPECT_STREQ(Jar("h/#"), "#\nb=2\n");
}

}  // namespace
}  // namespace kelvra::store

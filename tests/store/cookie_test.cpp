// The cookie layer of the store.
#include <gtest/gtest.h>

#include "store/headerlist_cookie.h"
#include "store/store_test_util.h"

namespace kelvra::store {
namespace {

class CookieStore : public ::testing::Test {
  protected:
    CookieStore() : store_(dir_.path(), "index.html", std::nullopt, "") {
        store_.SetCookiesEnabled(true);
    }
    std::string Header(const std::string& url) {
        std::string out;
        store_.BuildCookieHeader(url, out);
        return out;
    }
    testing::TempDir dir_;
    headerlist_cookie store_;
};

TEST_F(CookieStore, CookieWithoutPathBelongsToTheDirectory) {
    store_.Add("http://h/a/b.html", "HTTP/1.1 200 OK\r\nSet-Cookie: id=1; expires=x\r\n", true);
    const treelistnode* jar = store_.FindKey("h/a/#");
    ASSERT_NE(jar, nullptr);
    EXPECT_STREQ(jar->value().text(), "#\nid=1\n");
    EXPECT_EQ(Header("http://h/a/c/d.html"), "Cookie: id=1\r\n");
    EXPECT_EQ(Header("http://h/other.html"), "");
}

TEST_F(CookieStore, PathSlashCoversTheHost) {
    store_.Add("http://h/a/b.html", "Set-Cookie: s=1; Path=/\r\n", true);
    EXPECT_NE(store_.FindKey("h/#"), nullptr);
    EXPECT_EQ(Header("http://h/x/y/z.html"), "Cookie: s=1\r\n");
}

TEST_F(CookieStore, SameNameReplaces) {
    store_.Add("http://h/a/b.html", "Set-Cookie: id=1\r\n", true);
    store_.Add("http://h/a/b.html", "Set-Cookie: id=2\r\n", true);
    EXPECT_EQ(Header("http://h/a/"), "Cookie: id=2\r\n");
    store_.Add("http://h/a/b.html", "Set-Cookie: id=a=b\r\n", true);
    EXPECT_EQ(Header("http://h/a/"), "Cookie: id=a=b\r\n");
}

TEST_F(CookieStore, SeveralCookiesDeepestFirst) {
    store_.Add("http://h/a/b.html", "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n", true);
    store_.Add("http://h/top.html", "Set-Cookie: t=0\r\n", true);
    EXPECT_EQ(Header("http://h/a/x.html"), "Cookie: a=1; b=2; t=0\r\n");
}

TEST_F(CookieStore, SecureCookiesGoOnlyOverHttps) {
    store_.Add("https://h/a/b.html", "Set-Cookie: s=1; Secure\r\nSet-Cookie: p=2\r\n", true);
    // Set over http, a Secure cookie is refused (it could overwrite an https one).
    store_.Add("http://h/a/b.html", "Set-Cookie: t=3;secure\r\n", true);
    EXPECT_EQ(Header("http://h/a/c.html"), "Cookie: p=2\r\n");
    EXPECT_EQ(Header("https://h/a/c.html"), "Cookie: p=2; s=1\r\n");
}

TEST_F(CookieStore, NothingForUnknownHostOrWhenDisabled) {
    EXPECT_EQ(Header("http://nowhere/"), "");
    store_.SetCookiesEnabled(false);
    store_.Add("http://h/a/b.html", "Set-Cookie: id=1\r\n", true);
    EXPECT_EQ(store_.FindKey("h/a/#"), nullptr);
    store_.SetCookiesEnabled(true);
    store_.Add("http://h/a/b.html", "Set-Cookie: ;x\r\n", true);  // no value: nothing stored
    EXPECT_EQ(store_.FindKey("h/a/#"), nullptr);
}

TEST_F(CookieStore, CookieRecordsAreSavedOnlyByQuickSave) {
    store_.Add("http://h/a/b.html", "Set-Cookie: id=1\r\n", true);
    store_.SetChanged(true);
    EXPECT_EQ(store_.Save("kelvra.hif", false), 0);  // no local files at all
    store_.SetChanged(true);
    EXPECT_EQ(store_.Save("kelvra.hif", true), 2);
    headerlist_cookie again(dir_.path(), "index.html", std::nullopt, "");
    EXPECT_EQ(again.Load("kelvra.hif"), 2);
    std::string out;
    EXPECT_EQ(again.BuildCookieHeader("http://h/a/", out), "Cookie: id=1\r\n");
}

}  // namespace
}  // namespace kelvra::store

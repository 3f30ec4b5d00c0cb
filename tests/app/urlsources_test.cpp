// Start URLs from multi-URL files, the clipboard and dropped files.

#include "app/urlsources.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/rawfile.h"
#include "util/tempdir.h"

namespace kelvra::app {
namespace {

using Urls = std::vector<std::string>;

class UrlSources : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }

    std::string Write(const std::string& name, const std::string& text) const {
        const std::string path = dir_.Path(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    kelvra::testing::TempDir dir_;
};

TEST_F(UrlSources, MultiUrlFileHeaderLinesAndAddRule) {
    const std::string long_url = "http://h/" + std::string(3000, 'x');
    struct Case {
        std::string text;
        int result;
        Urls urls;
        const char* why;
    };
    const Case cases[] = {
        {"[MultiURLSetting]  \r\nhttp://h/a\r\n", 1, {"http://h/a"}, "header with trailing blanks"},
        {"[multiurlsetting]\nhttp://h/a\n", 0, {}, "header is case-sensitive"},
        {"", 0, {}, "empty file"},
        {"[MultiURLSetting]\n  1. http://h/b\n- http://h/a\n",
         2,
         {"http://h/a", "http://h/b"},
         "list markers skipped, list sorted"},
        {"[MultiURLSetting]\nhttp://h/a#top\nhttp://h/a\nhost/a\nzabcdefg://h/\n",
         1,
         {"http://h/a"},
         "fragment cut, duplicate and non-URLs dropped"},
        {"[MultiURLSetting]\n" + long_url + "\nhttp://h/b\n",
         2,
         {"http://h/b", long_url.substr(0, 2047)},
         "an over-long line is cut, not split"},
    };
    for (const Case& c : cases) {
        Urls list;
        Urls shown;
        const int result = LoadMultiUrlFile(Write("list.mus", c.text), list,
                                            [&](const std::string& url) { shown.push_back(url); });
        EXPECT_EQ(result, c.result) << c.why;
        EXPECT_EQ(list, c.urls) << c.why;
        EXPECT_EQ(shown.size(), list.size()) << c.why;
    }
    Urls list;
    EXPECT_EQ(LoadMultiUrlFile(dir_.Path("missing.mus"), list), -1);
}

TEST_F(UrlSources, SavedMultiUrlFileReloadsToTheSameList) {
    Urls list;
    for (const char* url : {"http://h/b", "ftp://h/c", "http://h/a"}) AddMultiUrl(list, url);
    const std::string path = dir_.Path("saved.mus");
    ASSERT_TRUE(SaveMultiUrlFile(path, list));
    EXPECT_EQ(platform::ReadFileContents(path),
              "[MultiURLSetting]\nhttp://h/b\nhttp://h/a\nftp://h/c\n");
    Urls reloaded{"http://h/a"};
    EXPECT_EQ(LoadMultiUrlFile(path, reloaded), 2);
    EXPECT_EQ(reloaded, list);
    EXPECT_FALSE(SaveMultiUrlFile(dir_.Path("no/such/dir.mus"), list));
}

TEST(ClipboardUrls, SplitsAtControlBytesAndKeepsUrlLines) {
    struct Case {
        const char* text;
        Urls urls;
    };
    const Case cases[] = {
        {"http://h/a\r\nwww.h.example/b\n\t http://h/c", {"http://h/a", "http://h/c"}},
        {"  https://h/a\tftp://h/b\x01x", {"https://h/a", "ftp://h/b"}},
        {"see http://h/a", {}},
        {"abcdefg://h/", {}},
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ClipboardUrls(c.text), c.urls) << c.text;
}

TEST_F(UrlSources, DroppedFilesByNameAndShortcutContents) {
    using Action = DroppedFiles::Action;
    const std::string a = Write("a.url", "[InternetShortcut]\r\nurl = http://h/a \r\n");
    const std::string b = Write("b.desktop", "[Desktop Entry]\nType=Link\nURL=http://h/b\n");
    const std::string app =
        Write("c.desktop", "[Desktop Entry]\nType=Application\nURL=http://h/c\n");
    const std::string other = Write("d.url", "[Other]\nURL=http://h/d\n");
    const std::string mus = Write("e.MUS", "[MultiURLSetting]\nhttp://h/e\n");
    struct Case {
        std::vector<std::string> files;
        Action action;
        std::string file;
        Urls urls;
    };
    const Case cases[] = {
        {{mus}, Action::kMultiUrlFile, mus, {}},
        {{dir_.Path("x.Rlf")}, Action::kRetryList, dir_.Path("x.Rlf"), {}},
        {{a}, Action::kEnterUrl, "", {"http://h/a"}},
        {{b}, Action::kEnterUrl, "", {"http://h/b"}},
        {{app}, Action::kNone, "", {}},
        {{other}, Action::kNone, "", {}},
        {{a, mus, b}, Action::kRegisterUrls, "", {"http://h/b", "http://h/a"}},
        {{mus, other}, Action::kNone, "", {}},
    };
    for (const Case& c : cases) {
        const DroppedFiles drop = ClassifyDrop(c.files);
        EXPECT_EQ(drop.action, c.action) << c.files.front();
        EXPECT_EQ(drop.file, c.file) << c.files.front();
        EXPECT_EQ(drop.urls, c.urls) << c.files.front();
    }
}

}  // namespace
}  // namespace kelvra::app

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "pickup_fake_store.h"
#include "store/pickuplink.h"
#include "store/pluginhost.h"
#include "support/swf_movie.h"

namespace kelvra::store {
namespace {

using test::Bytes;
using test::GetUrls;
using test::Movie;
using test::Put16;
using test::Put32;
using test::Tag;

// The plug-in built beside the test programs.
std::string PluginPath() {
    if (const char* bin = std::getenv("KELVRA_BIN")) return std::string(bin) + "/libflorrin.so";
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libflorrin.so")
        .string();
}

// One button record: flags, character, depth, an empty MATRIX (and CXFORMWITHALPHA).
Bytes ButtonRecord(bool cxform) {
    Bytes r = {0x08};
    Put16(r, 1);
    Put16(r, 1);
    r.push_back(0x00);  // MATRIX: no scale, no rotate, 0-bit translate
    if (cxform) r.push_back(0x00);
    return r;
}

Bytes DefineButton(const std::vector<std::string>& urls) {
    Bytes b;
    Put16(b, 5);
    Bytes rec = ButtonRecord(false);
    b.insert(b.end(), rec.begin(), rec.end());
    b.push_back(0);
    Bytes actions = GetUrls(urls);
    b.insert(b.end(), actions.begin(), actions.end());
    return Tag(7, b);
}

Bytes DefineButton2(const std::string& first, const std::string& second) {
    Bytes b;
    Put16(b, 6);
    b.push_back(0);  // flags
    Put16(b, 1);     // action offset: condition actions follow
    Bytes rec = ButtonRecord(true);
    b.insert(b.end(), rec.begin(), rec.end());
    b.push_back(0);
    Bytes a1 = GetUrls({first});
    Put16(b, static_cast<unsigned>(a1.size() + 4));
    Put16(b, 0x08);
    b.insert(b.end(), a1.begin(), a1.end());
    Bytes a2 = GetUrls({second});
    Put16(b, 0);  // the last condition action
    Put16(b, 0x08);
    b.insert(b.end(), a2.begin(), a2.end());
    return Tag(34, b);
}

// The same movie as CWS: the body as a zlib stream of stored deflate blocks.
Bytes Compress(const Bytes& movie) {
    Bytes c(movie.begin(), movie.begin() + 8);
    c[0] = 'C';
    c.push_back(0x78);
    c.push_back(0x01);
    const Bytes body(movie.begin() + 8, movie.end());
    std::uint32_t a = 1, b = 0;
    for (unsigned char byte : body) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    c.push_back(0x01);  // final stored block
    Put16(c, static_cast<unsigned>(body.size()));
    Put16(c, static_cast<unsigned>(~body.size() & 0xFFFF));
    c.insert(c.end(), body.begin(), body.end());
    const std::uint32_t adler = (b << 16) | a;
    for (int i = 3; i >= 0; --i) c.push_back((adler >> (8 * i)) & 0xFF);
    return c;
}

class FlashPlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvra-swf-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_TRUE(host_.ready()) << "libflorrin.so not found at " << PluginPath();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::optional<std::vector<PluginHost::Entry>> Run(
        const Bytes& file, const std::string& type = "application/x-shockwave-flash") {
        const std::string path = dir_ + "/movie.swf";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), file.size());
        return host_.ProcessFile(path, type);
    }
    static std::vector<std::string> Urls(const std::vector<PluginHost::Entry>& entries) {
        std::vector<std::string> urls;
        for (const auto& e : entries) {
            EXPECT_FALSE(e.object);  // marker 0: every URL is an ordinary link
            urls.push_back(e.url);
        }
        return urls;
    }

    std::string dir_;
    PluginHost host_{PluginPath()};
};

TEST_F(FlashPlugin, VersionText) {
    EXPECT_STREQ(host_.Version(), "1.0.0(recompiled)(Win32; ix86)");
}

TEST_F(FlashPlugin, DoActionWithRelativeUrl) {
    auto r = Run(Movie({Tag(12, GetUrls({"next.html"}))}));
    ASSERT_TRUE(r);
    EXPECT_EQ(Urls(*r), std::vector<std::string>{"next.html"});
}

TEST_F(FlashPlugin, ContentTypeMustBeFlashExactly) {
    const Bytes movie = Movie({Tag(12, GetUrls({"a.html"}))});
    EXPECT_TRUE(Run(movie, "application/X-Shockwave-Flash"));
    EXPECT_TRUE(Run(movie, "x-shockwave-flash"));
    EXPECT_FALSE(Run(movie, "application/x-shockwave-flash2"));
    EXPECT_FALSE(Run(movie, "text/html"));
}

TEST_F(FlashPlugin, ButtonsAndSprites) {
    Bytes sprite;
    Put16(sprite, 9);
    Put16(sprite, 1);
    Bytes inner = DefineButton({"in-sprite.html"});
    sprite.insert(sprite.end(), inner.begin(), inner.end());
    Put16(sprite, 0);  // the sprite's End
    auto r = Run(
        Movie({DefineButton({"b1.html", "b2.html"}), DefineButton2("c1.html", "c2.html"),
               Tag(39, sprite), Tag(12, GetUrls({"after.html"}), true), Tag(9, Bytes{1, 2, 3})}));
    ASSERT_TRUE(r);
    EXPECT_EQ(Urls(*r), (std::vector<std::string>{"b1.html", "b2.html", "c1.html", "c2.html",
                                                  "in-sprite.html", "after.html"}));
}

TEST_F(FlashPlugin, CompressedMovie) {
    auto r = Run(Compress(Movie({Tag(12, GetUrls({"z.html"}))})));
    ASSERT_TRUE(r);
    EXPECT_EQ(Urls(*r), std::vector<std::string>{"z.html"});
    Bytes broken = Compress(Movie({Tag(12, GetUrls({"z.html"}))}));
    broken.resize(broken.size() - 8);
    EXPECT_FALSE(Run(broken));
}

TEST_F(FlashPlugin, RefusedFiles) {
    Bytes movie = Movie({Tag(12, GetUrls({"a.html"}))});
    Bytes longer = movie;
    longer[4] += 10;  // the header promises more than the file holds
    EXPECT_FALSE(Run(longer));
    Bytes tiny = movie;
    tiny[4] = 20;  // below the minimum length
    tiny[5] = tiny[6] = tiny[7] = 0;
    EXPECT_FALSE(Run(tiny));
    Bytes other = movie;
    other[0] = 'X';
    EXPECT_FALSE(Run(other));
    EXPECT_FALSE(Run(Bytes{'F', 'W'}));
}

TEST_F(FlashPlugin, ReadsPastTheImageEndTheScan) {
    // The second action claims a payload beyond the end of the file.
    Bytes actions = GetUrls({"kept.html"});
    actions.pop_back();
    actions.pop_back();
    actions.push_back(0x83);
    Put16(actions, 0xFFFF);
    Bytes movie = Movie({Tag(12, actions)});
    auto r = Run(movie);
    ASSERT_TRUE(r);
    EXPECT_EQ(Urls(*r), std::vector<std::string>{"kept.html"});
    // A tag whose length runs far beyond the file: the tags after it are not reached.
    Bytes huge;
    Put16(huge, (9 << 6) | 63);
    Put32(huge, 0x7FFFFFF0);
    auto s = Run(Movie({Tag(12, GetUrls({"x.html"})), huge, Tag(12, GetUrls({"never.html"}))}));
    ASSERT_TRUE(s);
    EXPECT_EQ(Urls(*s), std::vector<std::string>{"x.html"});
}

TEST_F(FlashPlugin, OverlongUrlsAreSkipped) {
    const std::string big(2048, 'u');
    auto r = Run(Movie({Tag(12, GetUrls({big, "short.html", std::string(2047, 'k')}))}));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 2u);
    EXPECT_EQ((*r)[0].url, "short.html");
    EXPECT_EQ((*r)[1].url.size(), 2047u);
}

TEST_F(FlashPlugin, MisdeclaredLengthsAreScannedOnce) {
    // Sprites that declare no body: each nests the ones after it if its length is ignored.
    Bytes sprites;
    for (int i = 0; i < 40; ++i) Put16(sprites, 39 << 6);
    // A DoAction whose length ends before its end mark: read on, the next tag's actions count
    // twice.
    const Bytes first = GetUrls({"one.html"});
    Bytes short_action;
    Put16(short_action, (12 << 6) | static_cast<unsigned>(first.size() - 2));
    short_action.insert(short_action.end(), first.begin(), first.end() - 2);
    const std::vector<std::pair<Bytes, std::vector<std::string>>> cases = {
        {Movie({sprites, Tag(12, GetUrls({"x.html"}))}), {"x.html"}},
        {Movie({short_action, Tag(12, GetUrls({"two.html"}))}), {"one.html", "two.html"}},
    };
    for (const auto& [movie, urls] : cases) {
        auto r = Run(movie);
        ASSERT_TRUE(r);
        EXPECT_EQ(Urls(*r), urls);
    }
}

TEST_F(FlashPlugin, AnnouncedLengthIsNotAllocatedBeforeReading) {
    Bytes movie = {'F', 'W', 'S', 6, 0xF0, 0xFF, 0xFF, 0xFF};  // 0xFFFFFFF0 bytes, 19 present
    movie.resize(19);
    const std::string path = dir_ + "/movie.swf";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(movie.data()), movie.size());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(host_.ProcessFile(path, "application/x-shockwave-flash") ? 1 : 0);
    int status = 0;
    rusage used{};
    ASSERT_EQ(wait4(child, &status, 0, &used), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "refused, nothing thrown";
    rusage own{};
    getrusage(RUSAGE_SELF, &own);
    constexpr long kSlackKb = 64 << 10;
    EXPECT_LT(used.ru_maxrss, own.ru_maxrss + kSlackKb) << "peak kB of the child";
}

TEST_F(FlashPlugin, ASecondHostLeavesThePluginToTheFirst) {
    {
        PluginHost second(PluginPath());
        EXPECT_TRUE(second.ready());
    }
    auto r = Run(Movie({Tag(12, GetUrls({"still.html"}))}));
    ASSERT_TRUE(r) << "the second host's end switched the plug-in off";
    EXPECT_EQ(Urls(*r), std::vector<std::string>{"still.html"});
}

TEST(PluginHostLoading, MissingLibraryLeavesItUnset) {
    PluginHost none("libflorrin-missing.so");
    EXPECT_FALSE(none.loaded());
    EXPECT_FALSE(none.ready());
    EXPECT_EQ(none.Version(), nullptr);
    EXPECT_FALSE(none.ProcessFile("/nonexistent", "application/x-shockwave-flash"));
    PluginHost empty("");
    EXPECT_FALSE(empty.loaded());
}

TEST(PluginLinks, EntriesAreResolvedAgainstTheObject) {
    FakeStore store;
    PickupLinkClass crawl(&store, PluginPath());
    FetchJob job;
    job.rules = crawl.AddCrawlContext({"http://h/m/"}, "", "");
    const Bytes movie = Movie({Tag(12, GetUrls({"next.html", "/top.html"}))});
    const std::string body(movie.begin(), movie.end());
    auto rec = store.Add("http://h/m/a.swf", "application/x-shockwave-flash", body.c_str());
    // The movie holds NUL bytes: write it whole.
    std::ofstream(store.LocalPath(rec), std::ios::binary).write(body.data(), body.size());
    EXPECT_TRUE(crawl.ProcessObject("http://h/m/a.swf", rec, job, true));
    std::vector<std::string> urls;
    while (auto url = crawl.Dequeue(true)) urls.push_back(*url);
    EXPECT_EQ(urls, std::vector<std::string>{"http://h/m/next.html"});  // /top.html is outside
    EXPECT_EQ(crawl.FindUrl("http://h/top.html"), nullptr);
    // An empty list still counts as processed.
    const Bytes empty = Movie({Tag(9, Bytes{1, 2, 3, 4})});  // no actions, 21 bytes
    const std::string none(empty.begin(), empty.end());
    auto rec2 = store.Add("http://h/m/b.swf", "application/x-shockwave-flash", "");
    std::ofstream(store.LocalPath(rec2), std::ios::binary).write(none.data(), none.size());
    EXPECT_TRUE(crawl.ProcessObject("http://h/m/b.swf", rec2, job, true));
}

}  // namespace
}  // namespace kelvra::store

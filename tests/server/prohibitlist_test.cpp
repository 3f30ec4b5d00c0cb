// Reading prohibit.orv and matching request targets against it.

#include "server/prohibitlist.h"

#include <gtest/gtest.h>

#include <fstream>

#include "server/serversettings.h"
#include "util/tempdir.h"

namespace kelvra::server {
namespace {

TEST(ProhibitParseTest, TokensGiveActionModeChangeAndDelay) {
    const ProhibitEntry deny = ParseProhibitLine("ads;.gif   # banner images");
    EXPECT_EQ(deny.patterns, (std::vector<std::string>{"ads", ".gif"}));
    EXPECT_EQ(deny.action, ProhibitAction::kDeny);

    const ProhibitEntry code = ParseProhibitLine(".exe :404");
    EXPECT_EQ(code.action, ProhibitAction::kText);
    EXPECT_EQ(code.text, ":404");

    const ProhibitEntry nsv = ParseProhibitLine("cgi-bin *nsv");
    EXPECT_EQ(nsv.action, ProhibitAction::kNone);
    EXPECT_EQ(nsv.mode_change, -1);

    const ProhibitEntry delay = ParseProhibitLine("  slowhost\t$3000  ");
    EXPECT_EQ(delay.action, ProhibitAction::kNone);
    EXPECT_EQ(delay.delay_ms, 3000);

    // a zero delay changes nothing: the entry still denies
    EXPECT_EQ(ParseProhibitLine("x $0").action, ProhibitAction::kDeny);
    // an unknown '*' word only clears the deny marker
    const ProhibitEntry other = ParseProhibitLine("x *abc");
    EXPECT_EQ(other.action, ProhibitAction::kNone);
    EXPECT_EQ(other.mode_change, 0);
    // a later text replaces an earlier one, and a text follows a '*' token
    const ProhibitEntry last = ParseProhibitLine("x *psv first second");
    EXPECT_EQ(last.text, "second");
    EXPECT_EQ(last.mode_change, 1);

    EXPECT_TRUE(ParseProhibitLine("   # only a comment").patterns.empty());
}

class ProhibitFindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* line : {"ads;.gif", ".exe :404", "cgi-bin *nsv", "slowhost $3000",
                                 "\\(oldhost\\)/old/ http://\\1/new/", "!keep;secret"}) {
            list_.Add(ParseProhibitLine(line));
        }
    }
    const ProhibitEntry* Find(std::string_view target) { return list_.Find(target, captures_); }

    ProhibitClass list_;
    util::CaptureTable captures_;
};

TEST_F(ProhibitFindTest, EveryPatternOfAnEntryMustMatch) {
    const ProhibitEntry* entry = Find("http://ads.example/banner.GIF");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->action, ProhibitAction::kDeny);
    EXPECT_EQ(Find("http://ads.example/banner.png"), nullptr);
    EXPECT_EQ(Find("http://www.example/a.gif"), nullptr);
}

TEST_F(ProhibitFindTest, ThePatternSeesTheHostStartForm) {
    // "http" itself holds no "ads"; the user information is dropped before matching
    EXPECT_EQ(Find("http://ads@www.example/a.gif"), nullptr);
}

TEST_F(ProhibitFindTest, OrdinaryPatternsAreCaseSensitive) {
    EXPECT_EQ(Find("http://ADS.example/a.gif"), nullptr);
}

TEST_F(ProhibitFindTest, ExtensionCodeModeAndDelayEntries) {
    ASSERT_NE(Find("http://h/setup.exe"), nullptr);
    EXPECT_EQ(Find("http://h/setup.exe")->text, ":404");
    EXPECT_EQ(Find("http://h/cgi-bin/x")->mode_change, -1);
    EXPECT_EQ(Find("http://slowhost/")->delay_ms, 3000);
}

TEST_F(ProhibitFindTest, InvertedPattern) {
    EXPECT_NE(Find("http://h/secret"), nullptr);
    EXPECT_EQ(Find("http://h/keep/secret"), nullptr);
}

TEST_F(ProhibitFindTest, CapturesRewriteTheTarget) {
    const ProhibitEntry* entry = Find("http://oldhost/old/page.html");
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(HasCaptures(captures_));
    std::string target = "http://oldhost/old/page.html";
    ASSERT_TRUE(Rewrite(target, entry->text, MatchSubject(target), captures_));
    EXPECT_EQ(target, "http://oldhost/new/");
}

TEST(ProhibitRewriteTest, MissingOrLongCaptureFails) {
    util::CaptureTable captures;
    captures.count = 1;
    captures.spans[0] = {0, 3};
    std::string target = "abcdef";
    EXPECT_FALSE(Rewrite(target, "x\\2", "abcdef", captures));
    EXPECT_EQ(target, "abcdef");
    const std::string long_subject(3000, 'a');
    captures.spans[0] = {0, 2500};
    EXPECT_FALSE(Rewrite(target, "\\1", long_subject, captures));
    captures.spans[0] = {0, 1500};
    EXPECT_FALSE(Rewrite(target, "\\1\\1", long_subject, captures));  // result too long
    EXPECT_TRUE(Rewrite(target, "<\\1>", long_subject, captures));
    EXPECT_EQ(target.size(), 1502u);
}

TEST(ProhibitModeTest, ModeChangesKeepDataUseBits) {
    EXPECT_EQ(ApplyModeChange(0x20 | kModeProxy2, 1), 0x20u | kModeProxy3);
    EXPECT_EQ(ApplyModeChange(kModeProxy, 1), kModeProxy);
    EXPECT_EQ(ApplyModeChange(0x10 | kModeProxy3, -1), 0x10u | kModeProxy);
    EXPECT_EQ(ApplyModeChange(kModeProxy2, -1), kModeProxy);
    EXPECT_EQ(ApplyModeChange(kModeLocal, -1), kModeLocal);
    EXPECT_EQ(ApplyModeChange(kModeProxy2, 0), kModeProxy2);
}

TEST(ProhibitFileTest, LoadsEntriesInFileOrderAndMissingFileIsEmpty) {
    kelvra::testing::TempDir dir;
    ASSERT_TRUE(dir.ok());
    {
        std::ofstream out(dir.Path("prohibit.orv"));
        out << "# comment\n\nfirst\n  second :404  \n";
    }
    ProhibitClass list(dir.Path("prohibit.orv"));
    EXPECT_EQ(list.size(), 2u);
    util::CaptureTable captures;
    EXPECT_EQ(list.Find("http://h/first/second", captures)->action, ProhibitAction::kDeny);
    EXPECT_EQ(ProhibitClass(dir.Path("missing.orv")).size(), 0u);
}

}  // namespace
}  // namespace kelvra::server

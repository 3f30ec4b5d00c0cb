#include "app/lifo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ini_fixture.h"

namespace kelvra::app {
namespace {

std::vector<std::string> Entries(const LIFOClass& list) {
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < list.Count(); ++i) entries.push_back(*list.Get(i));
    return entries;
}

using Strings = std::vector<std::string>;

TEST(LIFOClassTest, MostRecentComesFirst) {
    LIFOClass list(5);
    for (const char* text : {"a", "b", "c"}) list.Add(text);
    EXPECT_EQ(Entries(list), (Strings{"c", "b", "a"}));
    EXPECT_EQ(list.Get(3), nullptr);
}

TEST(LIFOClassTest, AddingAPresentEntryMovesItToTheFront) {
    LIFOClass list(5);
    for (const char* text : {"a", "b", "c", "a"}) list.Add(text);
    EXPECT_EQ(Entries(list), (Strings{"a", "c", "b"}));
}

TEST(LIFOClassTest, ComparisonIsExactAndCaseSensitive) {
    LIFOClass list(5);
    for (const char* text : {"http://x/", "HTTP://X/", "http://x"}) list.Add(text);
    EXPECT_EQ(list.Count(), 3u);
}

TEST(LIFOClassTest, FullListDropsTheOldest) {
    LIFOClass list(3);
    for (const char* text : {"a", "b", "c", "d"}) list.Add(text);
    EXPECT_EQ(Entries(list), (Strings{"d", "c", "b"}));
}

TEST(LIFOClassTest, MovingOnAFullListDropsNothing) {
    LIFOClass list(3);
    for (const char* text : {"a", "b", "c", "a"}) list.Add(text);
    EXPECT_EQ(Entries(list), (Strings{"a", "c", "b"}));
}

class LIFOFileTest : public testing::IniFileTest {};

TEST_F(LIFOFileTest, KeyZeroEndsAtTheFrontAndGapsAreSkipped) {
    WriteIni("[History]\n0=newest\n1=older\n2=\n5=oldest\n");
    LIFOClass list(kHistoryCapacity);
    list.Load(kHistorySection, Document());
    EXPECT_EQ(Entries(list), (Strings{"newest", "older", "oldest"}));
}

TEST_F(LIFOFileTest, DuplicateKeysCollapse) {
    WriteIni("[History]\n0=same\n1=same\n");
    LIFOClass list(kHistoryCapacity);
    list.Load(kHistorySection, Document());
    EXPECT_EQ(Entries(list), (Strings{"same"}));
}

TEST_F(LIFOFileTest, HistoryReadsKeysZeroToNinetyNine) {
    WriteIni("[History]\n0=first\n99=last\n100=beyond\n");
    LIFOClass list(kHistoryCapacity);
    list.Load(kHistorySection, Document());
    EXPECT_EQ(Entries(list), (Strings{"first", "last"}));
}

TEST_F(LIFOFileTest, UseApplicationsReadsKeysZeroToNineteen) {
    WriteIni("[UseApplications]\n0=/usr/bin/lynx ? $URL$\n19=/bin/cat ? $FILE$\n20=beyond\n");
    LIFOClass list(kUseApplicationsCapacity);
    list.Load(kUseApplicationsSection, Document());
    EXPECT_EQ(Entries(list), (Strings{"/usr/bin/lynx ? $URL$", "/bin/cat ? $FILE$"}));
}

TEST_F(LIFOFileTest, SaveWritesFromTheFrontAndLoadsBackInOrder) {
    LIFOClass list(kHistoryCapacity);
    for (int i = 0; i < 120; ++i) list.Add("http://host/" + std::to_string(i));
    platform::ProfileDocument document = Document();
    ASSERT_TRUE(list.Save(kHistorySection, document));
    ASSERT_TRUE(Store(document));
    EXPECT_EQ(Value("History", "0"), "http://host/119");
    EXPECT_EQ(Value("History", "99"), "http://host/20");
    EXPECT_EQ(Value("History", "100"), "<missing>");

    LIFOClass reloaded(kHistoryCapacity);
    reloaded.Load(kHistorySection, Document());
    EXPECT_EQ(Entries(reloaded), Entries(list));
}

TEST_F(LIFOFileTest, MissingSectionLoadsNothing) {
    WriteIni("[General]\n0=not history\n");
    LIFOClass list(kHistoryCapacity);
    list.Load(kHistorySection, Document());
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace kelvra::app

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "store/condition.h"
#include "store/configclass.h"
#include "store/fetchjob.h"

namespace kelvra::store {
namespace {

class ConditionFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvra-cf-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/kelvraw.cf";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Stores one value, saves, and loads it back through a fresh store.
    std::string RoundTrip(const std::string& value) {
        {
            ConfigClass cf;
            static_cast<void>(cf.Load(path_));  // names the file Save writes; it may not exist yet
            cf.SetValue("S", "k", value);
            EXPECT_TRUE(cf.Save());
        }
        ConfigClass back;
        EXPECT_TRUE(back.Load(path_));
        const char* v = back.GetValue("S", "k");
        return v ? v : "<none>";
    }

    std::string dir_;
    std::string path_;
};

TEST_F(ConditionFile, MissingFileLeavesDefaults) {
    GetConditionClass cf;
    EXPECT_FALSE(cf.Load(path_));
    AcquisitionCondition r;
    EXPECT_FALSE(cf.ReadCondition("", r, false));
    EXPECT_EQ(r.filters, kDefaultFilterText);
    EXPECT_TRUE(r.modify_check);
    EXPECT_EQ(r.reget_level, 1);
}

TEST_F(ConditionFile, LoadRules) {
    Write(
        "ignored=before section\n"
        "  [Condition]  \n"
        "no equals sign\n"
        "Classes=3\n"
        "Classes=  7x\n"  // later value replaces; conversion stops at the first non-digit
        "NoCache=yes\n"   // not a number: 0
        "a=b=c\r\n"       // key up to the first '='; CR trimmed
        "Unknown=kept\n");
    GetConditionClass cf;
    ASSERT_TRUE(cf.Load(path_));
    EXPECT_EQ(cf.GetValue("Condition", "ignored"), nullptr);
    EXPECT_STREQ(cf.GetValue("Condition", "a"), "b=c");
    AcquisitionCondition r;
    r.no_cache = true;
    EXPECT_TRUE(cf.ReadCondition("", r, false));
    EXPECT_EQ(r.classes, 7);
    EXPECT_FALSE(r.no_cache);
}

TEST_F(ConditionFile, ContinuationLines) {
    Write("[S]\nk=first \\\n  second \\\nthird\nafter=1\nopen=x \\\n");
    ConfigClass cf;
    ASSERT_TRUE(cf.Load(path_));
    EXPECT_STREQ(cf.GetValue("S", "k"), "first\nsecond\nthird");
    EXPECT_STREQ(cf.GetValue("S", "after"), "1");
    EXPECT_EQ(cf.GetValue("S", "open"), nullptr);  // left open at the end of the file
}

TEST_F(ConditionFile, EmptyMiddleLineIsDropped) {
    EXPECT_EQ(RoundTrip("a\n\nb"), "a\nb");
    EXPECT_NE(Read().find("k=a \\\nb\n"), std::string::npos);
}

TEST_F(ConditionFile, TrailingBackslashSurvivesRoundTrips) {
    // Saved as "C:\dir\\"; reading drops the added backslash, so the value does not grow.
    EXPECT_EQ(RoundTrip("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(RoundTrip("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(RoundTrip("x\ny\\\\"), "x\ny\\\\");
    EXPECT_EQ(RoundTrip("a \\"), "a \\");
    EXPECT_EQ(RoundTrip("line \\\nnext"), "line \\\nnext");
}

TEST_F(ConditionFile, OverlongValuesAreCut) {
    // A line holds at most 4095 bytes, "k=" included; the rest of the line is dropped.
    const std::string big(6000, 'v');
    EXPECT_TRUE(RoundTrip(big) == std::string(ConfigClass::kMaxText - 2, 'v'));
    // A value of many lines (a long filter) reads back whole up to the longest the dialog edits.
    for (const int lines : {100, 200}) {
        std::string joined;
        for (int i = 0; i < lines; ++i) joined += std::string(100, 'a' + i % 26) + "\n";
        const std::string expected = joined.substr(0, ConfigClass::kMaxValue);
        EXPECT_TRUE(RoundTrip(joined) == expected) << lines;
    }
}

TEST_F(ConditionFile, SectionsOfNestedUrlsGetTheirOwnHeaders) {
    {
        ConfigClass cf;
        static_cast<void>(cf.Load(path_));  // names the file Save writes; none exists yet
        cf.SetValue("http://h/a", "Classes", "1");
        cf.SetValue("http://h/a/b/", "Classes", "2");
        ASSERT_TRUE(cf.Save());
    }
    EXPECT_EQ(Read(), "[http://h/a]\nClasses=1\n[http://h/a/b/]\nClasses=2\n");
    ConfigClass back;
    ASSERT_TRUE(back.Load(path_));
    EXPECT_STREQ(back.GetValue("http://h/a", "Classes"), "1");
    EXPECT_STREQ(back.GetValue("http://h/a/b/", "Classes"), "2");
}

TEST_F(ConditionFile, SaveOnlyWhenDirtyAndNeedsAName) {
    ConfigClass unnamed;
    EXPECT_TRUE(unnamed.Save());  // nothing changed
    unnamed.SetValue("S", "k", "v");
    EXPECT_FALSE(unnamed.Save());
    Write("[S]\nk=v\n");
    {
        ConfigClass cf;
        ASSERT_TRUE(cf.Load(path_));
        Write("changed behind its back\n");
        EXPECT_TRUE(cf.Save());  // not dirty: the file is left alone
    }
    EXPECT_EQ(Read(), "changed behind its back\n");
    {
        ConfigClass cf;
        ASSERT_TRUE(cf.Load(path_));
        cf.SetValue("T", "x", "1");
    }  // destruction saves
    EXPECT_EQ(Read(), "[T]\nx=1\n");
}

TEST_F(ConditionFile, WriteReadRoundTripOfARecord) {
    AcquisitionCondition w;
    w.filters = "  0:.zip\n1:x";
    w.extra_header = "   ";
    w.complete_trace = -1;
    w.get_all = 2;
    w.trace_moved = 2;
    w.src_object = 0;
    w.reget_level = 3;
    w.classes = 4;
    w.send_cookie = true;
    w.accept.Append("  h/d/");
    w.accept.Append("!h/d/p/");
    {
        GetConditionClass cf;
        static_cast<void>(cf.Load(path_));  // names the file Save writes; none exists yet
        cf.WriteCondition("http://h/d/", w);
        ASSERT_TRUE(cf.Save());
    }
    const std::string file = Read();
    EXPECT_EQ(file.find("ExtraHeader"), std::string::npos);  // blank: not stored
    EXPECT_NE(file.find("Filters=0:.zip \\\n1:x\n"), std::string::npos);
    GetConditionClass cf;
    ASSERT_TRUE(cf.Load(path_));
    AcquisitionCondition r;
    EXPECT_TRUE(cf.ReadCondition("http://h/d/", r, true));
    EXPECT_EQ(r.filters, "0:.zip\n1:x");
    EXPECT_EQ(r.complete_trace, -1);
    EXPECT_EQ(r.get_all, 2);
    EXPECT_EQ(r.trace_moved, 2);
    EXPECT_EQ(r.src_object, 0);
    EXPECT_EQ(r.reget_level, 3);
    EXPECT_EQ(r.classes, 4);
    EXPECT_TRUE(r.send_cookie);
    ASSERT_EQ(r.accept.Count(), 2u);
    EXPECT_EQ(*r.accept.First(), "h/d/");
}

TEST_F(ConditionFile, UncheckedCertificatesOnlyWrittenWhenChosen) {
    for (const bool chosen : {false, true}) {
        AcquisitionCondition w;
        w.accept_any_certificate = chosen;
        {
            GetConditionClass cf;
            static_cast<void>(cf.Load(path_));
            cf.WriteCondition("https://h/", w);
            ASSERT_TRUE(cf.Save());
        }
        // Without the choice the file is what it always was.
        EXPECT_EQ(Read().find("AcceptAnyCertificate=1\n") != std::string::npos, chosen);
        GetConditionClass cf;
        ASSERT_TRUE(cf.Load(path_));
        AcquisitionCondition r;
        EXPECT_TRUE(cf.ReadCondition("https://h/", r, true));
        EXPECT_EQ(r.accept_any_certificate, chosen);
        EXPECT_EQ((ConditionFlags(r) & JobFlag::kAcceptAnyCertificate) != 0, chosen);
    }
}

TEST_F(ConditionFile, PerKeyFallbackToDefaultSection) {
    Write(
        "[Condition]\nClasses=5\nFilters=0:.exe\nAccept0=c0/\nAccept1=c1/\nAccept2=c2/\n"
        "Accept3=c3/\nAccept4=c4/\n"
        "[http://h/]\nRegetLevel=0\nAccept0=u0/\nAccept1=u1/\n");
    GetConditionClass cf;
    ASSERT_TRUE(cf.Load(path_));
    AcquisitionCondition r;
    EXPECT_TRUE(cf.ReadCondition("http://h/", r, true));
    EXPECT_EQ(r.reget_level, 0);  // own key
    EXPECT_EQ(r.classes, 5);      // from [Condition]
    EXPECT_EQ(r.filters, "0:.exe");
    std::vector<std::string> accept(r.accept.begin(), r.accept.end());
    EXPECT_EQ(accept, (std::vector<std::string>{"u0/", "u1/", "c2/", "c3/", "c4/"}));
}

TEST_F(ConditionFile, OnlyIfPresentLeavesRecordAlone) {
    Write("[Condition]\nClasses=5\n");
    GetConditionClass cf;
    ASSERT_TRUE(cf.Load(path_));
    AcquisitionCondition r;
    r.classes = 9;
    EXPECT_FALSE(cf.ReadCondition("http://other/", r, true));
    EXPECT_EQ(r.classes, 9);
    EXPECT_FALSE(cf.ReadCondition("http://other/", r, false));
    EXPECT_EQ(r.classes, 5);
}

TEST_F(ConditionFile, EraseKeepsChildrenOfDeeperSections) {
    Write("[http://h/a]\nClasses=1\nb=value-and-parent\n[http://h/a/b/]\nClasses=2\n");
    GetConditionClass cf;
    ASSERT_TRUE(cf.Load(path_));
    cf.EraseCondition("http://h/a");
    EXPECT_TRUE(cf.dirty());
    EXPECT_EQ(cf.GetValue("http://h/a", "Classes"), nullptr);
    EXPECT_EQ(cf.GetValue("http://h/a", "b"), nullptr);  // value gone, node kept
    EXPECT_STREQ(cf.GetValue("http://h/a/b/", "Classes"), "2");
    EXPECT_FALSE(cf.SectionExists("http://h/a"));
    EXPECT_TRUE(cf.SectionExists("http://h/a/b/"));
    ASSERT_TRUE(cf.Save());
    EXPECT_EQ(Read(), "[http://h/a/b/]\nClasses=2\n");
}

TEST_F(ConditionFile, UnknownKeysAndSectionsAreWrittenBack) {
    Write("[Other]\nX=1\n[Condition]\nZ=2\n");
    {
        GetConditionClass cf;
        ASSERT_TRUE(cf.Load(path_));
        AcquisitionCondition r;
        cf.ReadCondition("", r, false);
        cf.SetValue("Condition", "Classes", "1");
    }
    const std::string file = Read();
    EXPECT_NE(file.find("[Other]\nX=1\n"), std::string::npos);
    EXPECT_NE(file.find("Z=2\n"), std::string::npos);
}

}  // namespace
}  // namespace kelvra::store

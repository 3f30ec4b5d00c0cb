// Every get keeps what it has not finished in the data directory, so that a run killed at any
// moment can be finished by get --continue.

#include <gtest/gtest.h>
#include <signal.h>

#include "kelvrac_fixture.h"
#include "test_site.h"

namespace kelvra::testing {
namespace {

constexpr int kPages = 6;
constexpr char kHeldPage[] = "/p4.html";

class KelvracContinue : public KelvracTest {
  protected:
    // "/" -> pK.html -> pK/sub.html for K = 1..kPages.
    void PutSite() {
        std::string index;
        for (int k = 1; k <= kPages; ++k) {
            const std::string page = "p" + std::to_string(k);
            index += "<a href=\"" + page + ".html\">" + page + "</a>\n";
            site_.Put("/" + page + ".html", "text/html",
                      "<a href=\"" + page + "/sub.html\">sub</a>\n");
            site_.Put("/" + page + "/sub.html", "text/html", "sub of " + page + "\n");
        }
        site_.Put("/", "text/html", index);
    }

    TestSite site_;
};

TEST_F(KelvracContinue, AKilledMirrorIsFinishedFromTheUnfinishedList) {
    PutSite();
    site_.HoldPath(kHeldPage);
    auto first = Start({"get", "-j", "1", site_.Url("/")});
    ASSERT_TRUE(site_.WaitUntilHeld(kRunTimeoutMs)) << first->Out();
    ASSERT_TRUE(DataExists("unfinished.rlf")) << "written as soon as the crawl runs";
    first->Signal(SIGKILL);
    EXPECT_EQ(first->Wait(kRunTimeoutMs), 128 + SIGKILL) << first->Out();
    site_.Release();
    EXPECT_TRUE(DataExists("unfinished.rlf"));
    EXPECT_EQ(Data(site_.HostDirectory() + "p6/sub.html"), "") << "not reached before the kill";

    // Running the same command again only says that there is something to finish.
    std::string out;
    ASSERT_EQ(Run({"get", "--continue"}, &out), 0) << out;
    for (int k = 1; k <= kPages; ++k) {
        const std::string page = "p" + std::to_string(k);
        EXPECT_EQ(Data(site_.HostDirectory() + page + "/sub.html"), "sub of " + page + "\n")
            << page << "\n"
            << out;
    }
    EXPECT_FALSE(DataExists("unfinished.rlf")) << "nothing is left";
}

TEST_F(KelvracContinue, AGetSaysThatAnEarlierOneLeftWorkUndone) {
    PutSite();
    WriteData("unfinished.rlf", "[RetryListFile.Rev.1a]\n\n\n");
    std::string out;
    ASSERT_EQ(Run({"get", "-l", "1", site_.Url("/p1.html")}, &out), 0) << out;
    EXPECT_NE(out.find("kelvrac: an earlier get left " + data_ + "unfinished.rlf"),
              std::string::npos)
        << out;
    EXPECT_EQ(Run({"get", "--continue"}, &out), 1) << "nothing to continue any more";
}

}  // namespace
}  // namespace kelvra::testing

// kelvrac's per-run options as a real process: they rule one run without rewriting the
// settings or the per-site files.

#include <gtest/gtest.h>

#include "kelvrac_fixture.h"
#include "test_site.h"

namespace kelvra::testing {
namespace {

class KelvracOptions : public KelvracTest {
  protected:
    // "/" -> a/page.html -> a/b/deep.html with a script and an image.
    void PutSite(const std::string& version) {
        site_.Put("/", "text/html", "<a href=\"a/page.html\">page</a>\n");
        site_.Put("/a/page.html", "text/html", "<a href=\"b/deep.html\">deep</a>\n");
        PutDeep(version);
    }
    void PutDeep(const std::string& version) {
        site_.Put("/a/b/deep.html", "text/html",
                  "<title>" + version +
                      "</title><script src=\"s.js\"></script>"
                      "<img src=\"i.png\">\n");
        site_.Put("/a/b/s.js", "application/javascript", "var v = '" + version + "';\n");
        site_.Put("/a/b/i.png", "image/png", "PNG " + version);
    }
    std::string Stored(const std::string& path) const { return Data(site_.HostDirectory() + path); }

    TestSite site_;
};

TEST_F(KelvracOptions, ConnectionsAndPauseGoAheadOfTheConnectionTable) {
    PutSite("one");
    // Zero connections: this table alone lets nothing be fetched.
    const std::string table = "* 0/0/11\n";
    WriteData("kelvra.mcf", table);
    const std::string ini = ReadWhole(IniPath());
    std::string out;
    ASSERT_EQ(Run({"get", "-c", "2", "-w", "0", "-j", "2", site_.Url("/")}, &out), 0) << out;
    EXPECT_EQ(Stored("a/b/s.js"), "var v = 'one';\n");
    EXPECT_EQ(Data("kelvra.mcf"), table) << "the table is not rewritten";
    EXPECT_EQ(ReadWhole(IniPath()).find("GetThread=2"), std::string::npos) << ReadWhole(IniPath());
    EXPECT_NE(Run({"get", site_.Url("/")}, &out), 0) << "without -c the table rules again";
}

TEST_F(KelvracOptions, DataDirectoryIsCreatedOrRefusedWithItsReason) {
    PutSite("one");
    const std::string fresh = dir_.Path("fresh/nested");
    std::string out;
    std::string err;
    ASSERT_EQ(Run({"get", "-d", fresh, "-w", "0", site_.Url("/")}, &out, &err), 0) << out << err;
    EXPECT_EQ(ReadWhole(fresh + "/" + site_.HostDirectory() + "a/b/i.png"), "PNG one");
    EXPECT_FALSE(DataExists(site_.HostDirectory() + "index.html")) << "BaseDirectory untouched";
    EXPECT_EQ(ReadWhole(IniPath()).find(fresh), std::string::npos) << "never saved";

    // A file where the directory should be.
    const std::string file = dir_.Path("plain");
    std::ofstream(file) << "x";
    EXPECT_EQ(Run({"get", "-d", file + "/sub", site_.Url("/")}, &out, &err), 2);
    EXPECT_NE(err.find(file + "/sub"), std::string::npos) << err;
    EXPECT_NE(err.find("errno"), std::string::npos) << err;
}

TEST_F(KelvracOptions, UpdateRechecksEverythingStored) {
    PutSite("one");
    std::string out;
    ASSERT_EQ(Run({"get", site_.Url("/")}, &out), 0) << out;
    ASSERT_EQ(Stored("a/b/s.js"), "var v = 'one';\n");
    PutDeep("two");

    site_.ResetCounts();
    ASSERT_EQ(Run({"get", site_.Url("/")}, &out), 0) << out;
    EXPECT_EQ(site_.Fetched("/a/b/deep.html"), 0) << "an unchanged start page ends a plain get";

    site_.ResetCounts();
    ASSERT_EQ(Run({"get", "--update", site_.Url("/")}, &out), 0) << out;
    for (const char* path : {"/a/b/deep.html", "/a/b/s.js", "/a/b/i.png"}) {
        EXPECT_EQ(site_.Fetched(path), 1) << path;
    }
    EXPECT_EQ(site_.Fetched("/"), 0);
    EXPECT_EQ(site_.Fetched("/a/page.html"), 0);
    EXPECT_EQ(site_.NotModified(), 2) << "the unchanged pages answered 304";
    EXPECT_EQ(Stored("a/b/s.js"), "var v = 'two';\n");
    EXPECT_EQ(Stored("a/b/i.png"), "PNG two");
}

// ca makes the authority once, in the settings directory, and tells how to import it.
TEST_F(KelvracOptions, CaShowsTheLocalAuthorityAndHowToImportIt) {
    const std::string pem = config_ + "/kelvraw/kelvra-ca.pem";
    std::string out;
    std::string err;
    ASSERT_EQ(Run({"ca"}, &out, &err), 0) << err;
    EXPECT_NE(out.find("Local certificate authority: " + pem), std::string::npos) << out;
    EXPECT_NE(out.find("certutil -d sql:$HOME/.pki/nssdb -A -t C,, -n KelvraW -i '" + pem),
              std::string::npos);
    EXPECT_NE(out.find("update-ca-certificates"), std::string::npos);
    const std::string first = ReadWhole(pem);
    ASSERT_EQ(Run({"ca"}, &out, &err), 0) << err;
    EXPECT_EQ(ReadWhole(pem), first) << "made once";
    EXPECT_EQ(Run({"ca", "x"}, &out, &err), 2);
}

}  // namespace
}  // namespace kelvra::testing

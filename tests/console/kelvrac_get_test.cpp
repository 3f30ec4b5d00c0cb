// kelvrac get and retry as a real process: mirroring the example site of the repository from a
// loopback web server, exit codes, retry lists, start-up errors.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "kelvrac_fixture.h"

namespace kelvra::testing {
namespace {

// Python's web server over examples/site on a free loopback port.
class ExampleSite final {
  public:
    ExampleSite() {
        const char* source = std::getenv("KELVRA_SOURCE");
        directory_ = std::string(source ? source : KELVRA_SOURCE_DIR) + "/examples/site";
        ChildProcess::Options options;
        options.discard_stderr = true;  // its request log
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"python3", "-u", "-m", "http.server", "--bind", "127.0.0.1",
                                     "--directory", directory_, "0"},
            options);
        if (!server_->WaitForOutput(") ...", 30000)) return;
        std::smatch match;
        const std::string& out = server_->Out();
        if (std::regex_search(out, match, std::regex("port ([0-9]+)"))) {
            port_ = std::stoi(match[1]);
        }
    }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // The directory the mirror stores the site's objects in.
    std::string HostDirectory() const { return "127.0.0.1_" + std::to_string(port_) + "/"; }
    std::string Source(const std::string& name) const { return ReadWhole(directory_ + "/" + name); }

  private:
    std::string directory_;
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
};

class KelvracGet : public KelvracTest {};

TEST_F(KelvracGet, MirrorsTheExampleSite) {
    ExampleSite site;
    ASSERT_GT(site.Port(), 0) << "python3 -m http.server did not start";
    std::string out;
    std::string err;
    ASSERT_EQ(Run({"get", site.Url("/")}, &out, &err), 0) << out << err;
    EXPECT_NE(out.find("[終了報告] 取得作業が完了しました\n"), std::string::npos) << out;

    const std::string host = site.HostDirectory();
    EXPECT_EQ(Data(host + "index.html"), site.Source("index.html"))
        << "\"/\" is stored as index.html";
    for (const char* name :
         {"about.html", "docs/guide.html", "docs/faq.html", "style.css", "images/logo.png"}) {
        EXPECT_EQ(Data(host + name), site.Source(name)) << name;
    }
    const std::string hif = Data("kelvra.hif");
    const std::string key = "127.0.0.1:" + std::to_string(site.Port());
    EXPECT_NE(hif.find(key + "/docs/faq.html\n"), std::string::npos) << hif;
    EXPECT_NE(hif.find(key + "/images/logo.png\n"), std::string::npos) << hif;
    EXPECT_TRUE(DataExists("kelvra.log")) << "the journal of this run";
    EXPECT_FALSE(DataExists("kelvra.log.tmp")) << "rotated by the save";
    EXPECT_NE(ReadWhole(IniPath()).find("[History]\n0=" + site.Url("/") + "\n"), std::string::npos)
        << ReadWhole(IniPath());
}

TEST_F(KelvracGet, FailedUrlsEndWithExitOneAndTheirRetryList) {
    // Nothing listens on port 1 of the loopback address: the connection is refused at once.
    const std::string url = "http://127.0.0.1:1/lost.html";
    const std::string list = dir_.Path("failed.rlf");
    std::string out;
    EXPECT_EQ(Run({"get", "-r", list, url}, &out), 1) << out;
    const std::string text = ReadWhole(list);
    EXPECT_EQ(text.rfind("[RetryListFile.Rev.1a]\n", 0), 0u) << text;
    EXPECT_NE(text.find(url + "\n"), std::string::npos) << text;

    const std::string again = dir_.Path("again.rlf");
    EXPECT_EQ(Run({"retry", "-r", again, list}, &out), 1) << out;
    EXPECT_NE(ReadWhole(again).find(url + "\n"), std::string::npos) << "still failing";
}

TEST_F(KelvracGet, ARetryListThatIsNoneIsAStartUpError) {
    std::ofstream(dir_.Path("bogus.rlf")) << "[SomethingElse]\n";
    std::string err;
    EXPECT_EQ(Run({"retry", dir_.Path("bogus.rlf")}, nullptr, &err), 2);
    EXPECT_NE(err.find("not a retry list"), std::string::npos) << err;
    EXPECT_EQ(Run({"retry", dir_.Path("missing.rlf")}, nullptr, &err), 2);
}

TEST_F(KelvracGet, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"get"}, {"get", "www.example.com"}, {"serve", "lokal"}, {"frob"}};
    for (const auto& args : cases) {
        std::string err;
        EXPECT_EQ(Run(args, nullptr, &err), 2);
        EXPECT_NE(err.find("usage: kelvrac [-cd] get [OPTION...] URL..."), std::string::npos)
            << err;
    }
}

TEST_F(KelvracGet, AMissingMimeTableStopsStartUpEvenWithCurrentDirectoryOption) {
    // A copy of the program in a directory without kelvra.mtf.
    ASSERT_EQ(::mkdir(dir_.Path("bin").c_str(), 0755), 0);
    const std::string program = dir_.Path("bin") + "/kelvrac";
    std::ofstream(program, std::ios::binary) << ReadWhole(BinDirectory() + "/kelvrac");
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", "http://127.0.0.1:1/"},
          std::vector<std::string>{"-cd", "get", "http://127.0.0.1:1/"}}) {
        auto child = Start(args, program, dir_.Path());
        EXPECT_EQ(child->Wait(kRunTimeoutMs), 2);
        EXPECT_EQ(child->Err(),
                  "[KelvraW起動ｴﾗｰ] kelvra.mtfが見つかりません.\n"
                  "kelvra.mtfをﾌﾟﾛｸﾞﾗﾑと同ﾃﾞｨﾚｸﾄﾘに入れてください.\n");
    }
    EXPECT_FALSE(DataExists("kelvra.hif"));
    EXPECT_FALSE(FileExists(dir_.Path("kelvraw.ini")));
}

TEST_F(KelvracGet, CurrentDirectoryOptionReadsAndWritesTheSettingsThere) {
    ASSERT_EQ(::mkdir(dir_.Path("here").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir_.Path("here/spool").c_str(), 0755), 0);
    std::ofstream(dir_.Path("here/kelvraw.ini"))
        << "[General]\nBaseDirectory=" << dir_.Path("here/spool") << "\n";
    // A journal left in the data directory that those settings name: start-up repairs from it.
    std::ofstream(dir_.Path("here/spool/kelvra.log.tmp"), std::ios::binary)
        << std::string("h/a.html\nHTTP/1.1 200 OK\r\n\0", 27);
    auto child = Start({"-cd", "get", "http://127.0.0.1:1/"}, {}, dir_.Path("here"));
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1) << child->Out() << child->Err();
    EXPECT_NE(child->Err().find("[前回ﾌﾟﾛｸﾞﾗﾑが異常終了した可能性があります]"), std::string::npos)
        << child->Err();
    EXPECT_TRUE(FileExists(dir_.Path("here/spool/kelvra.hif")));
    EXPECT_TRUE(FileExists(dir_.Path("here/spool/kelvra.log")));
    EXPECT_NE(ReadWhole(dir_.Path("here/kelvraw.ini")).find("RootFileName=index.html"),
              std::string::npos)
        << "the settings were written back there";
    EXPECT_TRUE(FileExists(dir_.Path("here/proxycfg.pac")));
    EXPECT_EQ(ReadWhole(IniPath()).find("RootFileName"), std::string::npos)
        << "the settings directory is left alone";
}

}  // namespace
}  // namespace kelvra::testing

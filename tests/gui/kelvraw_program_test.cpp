// kelvraw as the user starts it: with -cd over a fresh directory (settings and data there),
// one running instance per settings directory shared with kelvrac, and SIGTERM closing it as
// the close box does.

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "console/child_process.h"
#include "support/test_origin.h"
#include "util/tempdir.h"

namespace kelvra::testing {
namespace {

constexpr int kTimeoutMs = 60000;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class KelvrawProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        const char* bin = std::getenv("KELVRA_BIN");
        ASSERT_NE(bin, nullptr) << "KELVRA_BIN is not set";
        bin_ = bin;
        // Settings and data in the current directory (-cd); the server on a free port.
        std::ofstream(dir_.Path("kelvraw.ini")) << "[Orvane]\nPort=0\nRunAtStart=1\n";
    }

    std::unique_ptr<ChildProcess> Start(const std::string& program,
                                        const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {bin_ + "/" + program};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess::Options options;
        // Not the settings directory of the runs: a run without -cd would show up there.
        options.env = {"XDG_CONFIG_HOME=" + dir_.Path("elsewhere")};
        options.directory = dir_.Path();
        auto child = std::make_unique<ChildProcess>(argv, options);
        EXPECT_TRUE(child->Started());
        return child;
    }

    std::string Pac() const { return ReadWhole(dir_.Path("proxycfg.pac")); }

    // The program has started up once its server is in the proxy script.
    bool WaitForServer(ChildProcess& child) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (Pac().find("PROXY 127.0.0.1:") == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || child.Wait(50) >= 0) return false;
        }
        return true;
    }

    TempDir dir_;
    std::string bin_;
};

TEST_F(KelvrawProgramTest, StartsWithCdOverTheCurrentDirectoryAndSharesTheOneInstanceRule) {
    auto window = Start("kelvraw", {"-cd"});
    ASSERT_TRUE(WaitForServer(*window)) << window->Err();

    // A second kelvraw for the same settings ends at once, silently; kelvrac refuses too.
    auto second = Start("kelvraw", {"-cd"});
    EXPECT_EQ(second->Wait(kTimeoutMs), 0);
    EXPECT_EQ(second->Out() + second->Err(), "");
    auto console = Start("kelvrac", {"-cd", "serve", "1"});
    EXPECT_EQ(console->Wait(kTimeoutMs), 2);
    EXPECT_NE(console->Err().find("another instance"), std::string::npos) << console->Err();

    // SIGTERM is a fast exit: the server stops, browsers go past it, the settings are saved.
    window->Signal(SIGTERM);
    EXPECT_EQ(window->Wait(kTimeoutMs), 0) << window->Err();
    EXPECT_EQ(Pac().find("127.0.0.1:"), std::string::npos) << Pac();
    EXPECT_NE(ReadWhole(dir_.Path("kelvraw.ini")).find("Separator="), std::string::npos);

    // Now kelvrac holds the settings directory, and kelvraw is the one that ends at once.
    console = Start("kelvrac", {"-cd", "serve", "1"});
    ASSERT_TRUE(console->WaitForOutput(" on port ", kTimeoutMs)) << console->Err();
    auto late = Start("kelvraw", {"-cd"});
    EXPECT_EQ(late->Wait(kTimeoutMs), 0);
    EXPECT_EQ(late->Out() + late->Err(), "");
    console->Signal(SIGTERM);
    EXPECT_EQ(console->Wait(kTimeoutMs), 0);
}

TEST_F(KelvrawProgramTest, RunFetchesTheStartUrlsUnattendedAndExitsWithTheOutcome) {
    test::TestOrigin origin([](const test::Request& request) {
        if (request.RequestLine().starts_with("GET /page ")) {
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "page"));
        }
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", ""));
    });
    const struct {
        const char* path;
        int exit_code;
        const char* report;  // the finish report as printed
    } cases[] = {
        {"/page", 0, "[終了報告] 取得作業が完了しました\n"},
        {"/missing", 1, "[取得ｴﾗｰ] 全く取得できません\nURLを確認してください\n"},
    };
    for (const auto& c : cases) {
        auto window = Start("kelvraw", {"-cd", "--run", origin.Url(c.path)});
        EXPECT_EQ(window->Wait(kTimeoutMs), c.exit_code) << c.path << window->Err();
        EXPECT_EQ(window->Out(), c.report);
    }
    EXPECT_EQ(ReadWhole(dir_.Path(origin.HostPort().replace(9, 1, "_") + "/page")), "page");
}

}  // namespace
}  // namespace kelvra::testing

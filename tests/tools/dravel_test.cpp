// dravel is run as a program, with its settings directory in a temporary directory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "util/tempdir.h"

extern char** environ;

namespace kelvra {
namespace {

constexpr char kBanner[] = "Dravel for KelvraW Ver.1.0.0 by Tesmarin\n";

struct RunResult {
    int status = -1000;  // exit status, or -1000 when it did not exit normally
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DravelPath() {
    const char* bin = std::getenv("KELVRA_BIN");
    return std::string(bin != nullptr ? bin : ".") + "/dravel";
}

class DravelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(std::filesystem::exists(DravelPath())) << DravelPath();
        environment_ = {"XDG_CONFIG_HOME=" + dir_.Path("config"), "HOME=" + dir_.Path("home")};
        ini_ = dir_.Path("config/kelvraw/kelvraw.ini");
    }

    // Runs dravel with args and the test's environment only; output goes through files.
    RunResult Run(const std::vector<std::string>& args) const {
        std::vector<std::string> words = {DravelPath()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        std::vector<std::string> env_words = environment_;
        std::vector<char*> envp;
        for (std::string& word : env_words) envp.push_back(word.data());
        envp.push_back(nullptr);

        const std::string out = dir_.Path("stdout");
        const std::string err = dir_.Path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = -1;
        RunResult result;
        const int spawned =
            ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return result;
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
        result.out = ReadFile(out);
        result.err = ReadFile(err);
        return result;
    }

    std::string Value(const std::string& key) const {
        return platform::GetPrivateProfileString("AutoProxyConfig", key, "<missing>", ini_);
    }

    void WriteIni(const std::string& text) const {
        std::filesystem::create_directories(dir_.Path("config/kelvraw"));
        std::ofstream(ini_, std::ios::binary) << text;
    }

    testing::TempDir dir_;
    std::vector<std::string> environment_;
    std::string ini_;
};

// Exit status -1 as the shell sees it.
constexpr int kFailedStatus = 255;

TEST_F(DravelTest, WithoutArgumentsPrintsUsage) {
    const RunResult result = Run({});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "usage : " + DravelPath() +
                              "\n\t-h HTTPproxy:port\n\t-s HTTPSproxy:port\n\t-f FTPproxy:port\n"
                              "\t-w WAISproxy:port\n \t-g GOPHERproxy:port\n"
                              " \t-m IPMASK(xxx.yyy.zzz)\n");
    EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_F(DravelTest, HostWithoutPortGetsPort8080) {
    const RunResult result = Run({"-h", "proxyhost"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(kBanner) + "completed.\n");
    EXPECT_EQ(Value("HTTPadrs"), "proxyhost");
    EXPECT_EQ(Value("HTTPport"), "8080");
}

TEST_F(DravelTest, ProxyAndShortMask) {
    const RunResult result = Run({"-h", "proxyhost:3128", "-m", "192.168"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(ini_),
              "[AutoProxyConfig]\nHTTPadrs=proxyhost\nHTTPport=3128\nIPMASK1=192\nIPMASK2=168\n"
              "IPMASK3=0\n");
}

TEST_F(DravelTest, EveryOptionWritesItsOwnKeys) {
    struct Row {
        const char* option;
        const char* word;
    };
    const Row rows[] = {
        {"-h", "HTTP"}, {"-s", "HTTPS"}, {"-f", "FTP"}, {"-w", "WAIS"}, {"-g", "GOPHER"}};
    for (const Row& row : rows) {
        const std::string host = std::string(row.word) + ".gw";
        ASSERT_EQ(Run({row.option, host + ":81"}).status, 0) << row.option;
        EXPECT_EQ(Value(std::string(row.word) + "adrs"), host) << row.option;
        EXPECT_EQ(Value(std::string(row.word) + "port"), "81") << row.option;
    }
}

TEST_F(DravelTest, MaskParts) {
    struct Row {
        const char* value;
        const char* first;
        const char* second;
        const char* third;
        const char* why;
    };
    const Row rows[] = {
        {"10", "10", "0", "0", "missing parts are 0"},
        {"172.16.5", "172", "16", "5", "all three"},
        {"192.168.1.77", "192", "168", "1", "a fourth part is ignored"},
        {"1.2.3.4.5", "1", "2", "3", "and everything after it"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(Run({"-m", row.value}).status, 0) << row.why;
        EXPECT_EQ(Value("IPMASK1"), row.first) << row.why;
        EXPECT_EQ(Value("IPMASK2"), row.second) << row.why;
        EXPECT_EQ(Value("IPMASK3"), row.third) << row.why;
    }
}

TEST_F(DravelTest, EmptyHostWithPort) {
    ASSERT_EQ(Run({"-h", ":8000"}).status, 0);
    EXPECT_EQ(Value("HTTPadrs"), "");
    EXPECT_EQ(Value("HTTPport"), "8000");
}

TEST_F(DravelTest, PortTextIsNotChecked) {
    ASSERT_EQ(Run({"-f", "gw:abc:1"}).status, 0);
    EXPECT_EQ(Value("FTPadrs"), "gw");
    EXPECT_EQ(Value("FTPport"), "abc:1");
}

TEST_F(DravelTest, UnknownOptionWritesNothing) {
    const RunResult result = Run({"-x", "y"});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "invalid argument : -x\n");
    EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_F(DravelTest, OptionsAreCaseSensitive) {
    const RunResult result = Run({"-H", "proxy"});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "invalid argument : -H\n");
}

TEST_F(DravelTest, OptionWithoutValue) {
    const RunResult result = Run({"-h"});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "invalid argument : -h\n");
}

TEST_F(DravelTest, PairsBeforeABadOneStayWritten) {
    const RunResult result = Run({"-s", "tls.gw:443", "-m", "10.1", "-q", "x", "-f", "ftp.gw"});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "invalid argument : -q\n");
    EXPECT_EQ(Value("HTTPSadrs"), "tls.gw");
    EXPECT_EQ(Value("IPMASK2"), "1");
    EXPECT_EQ(Value("FTPadrs"), "<missing>");
}

TEST_F(DravelTest, ValuesLongerThan255BytesAreRefused) {
    EXPECT_EQ(Run({"-h", std::string(255, 'a')}).status, 0);
    const RunResult result = Run({"-h", std::string(256, 'b')});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, std::string(kBanner) + "invalid argument : -h\n");
    EXPECT_EQ(Value("HTTPadrs"), std::string(255, 'a'));
}

TEST_F(DravelTest, KeepsEverythingElseInTheFile) {
    WriteIni(
        "; settings\r\n[General]\r\nGetThread=4\r\n[autoproxyconfig]\r\nhttpadrs=old\r\n"
        "0=office\r\n[History]\r\n0=http://x/\r\n");
    ASSERT_EQ(Run({"-h", "new:1"}).status, 0);
    EXPECT_EQ(ReadFile(ini_),
              "; settings\r\n[General]\r\nGetThread=4\r\n[autoproxyconfig]\r\nhttpadrs=new\r\n"
              "0=office\r\nHTTPport=1\r\n[History]\r\n0=http://x/\r\n");
}

TEST_F(DravelTest, FallsBackToHomeConfigWithoutXdgConfigHome) {
    environment_ = {"HOME=" + dir_.Path("home")};
    ASSERT_EQ(Run({"-g", "g.gw:70"}).status, 0);
    const std::string path = dir_.Path("home/.config/kelvraw/kelvraw.ini");
    EXPECT_EQ(platform::GetPrivateProfileString("AutoProxyConfig", "GOPHERport", "", path), "70");
}

TEST_F(DravelTest, ReportsAnIniThatCannotBeWritten) {
    // A file where the settings directory should be: nothing can be created below it.
    std::filesystem::create_directories(dir_.Path("config"));
    std::ofstream(dir_.Path("config/kelvraw")) << "not a directory";
    const RunResult result = Run({"-h", "proxy:1"});
    EXPECT_EQ(result.status, kFailedStatus);
    EXPECT_EQ(result.out, kBanner) << "no false \"completed.\"";
    EXPECT_EQ(result.err, "cannot write " + ini_ + "\n");
}

}  // namespace
}  // namespace kelvra

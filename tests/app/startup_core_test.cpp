// Start-up and shutdown of the application core, and the local server's mode as start-up,
// shutdown and the menus set it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "app/servermode.h"
#include "app/startup_core_fixture.h"

namespace kelvra::app {
namespace {

using testing::AppCoreTest;

class StartupCore : public AppCoreTest {};

TEST_F(StartupCore, StartsOnTheDataDirectoryAndShutsDownWritingSettingsAndProxyScript) {
    WriteIni("[General]\nBaseDirectory=" + data_ + "\nProgressLog=prog.csv\n[Orvane]\nPort=0\n");
    std::ofstream(data_ + "prog.csv") << "ThreadNo, time(), URL, Status\n";
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << std::string("h/a.html\nCT:text/plain\n\0", 24);
    auto core = NewCore();
    core->StartUp(0);
    EXPECT_EQ(ui_.titles, (std::vector<std::string>{"起動処理中.....お待ちください", "KelvraW"}));
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(core->DataDirectoryPath(), data_);
    EXPECT_NE(core->Store().FindRecord("http://h/a.html"), nullptr) << "kelvra.hif was loaded";
    EXPECT_FALSE(Exists(data_ + "prog.csv")) << "the old progress log is deleted";
    EXPECT_EQ(core->ServerMode(), 0u);

    core->History().Add("http://h/a.html");
    EXPECT_TRUE(core->ShutDown(true));
    EXPECT_FALSE(core->Started());
    EXPECT_EQ(ui_.titles.at(2), "終了処理中....[待機]してください");
    EXPECT_EQ(ui_.titles.back(), "KelvraW");
    const std::string ini = ReadFile(IniPath());
    EXPECT_NE(ini.find("[History]\n0=http://h/a.html\n"), std::string::npos) << ini;
    EXPECT_TRUE(Exists(PacPath()));
    EXPECT_EQ(ReadFile(PacPath()).find("PROXY 127.0.0.1:"), std::string::npos);
}

TEST_F(StartupCore, AProgressLogNamingAProgramFileIsIgnoredWithAWarning) {
    WriteIni("[General]\nBaseDirectory=" + data_ + "\nProgressLog=kelvra.hif\n[Orvane]\nPort=0\n");
    std::ofstream(data_ + "kelvra.hif", std::ios::binary)
        << std::string("h/a.html\nCT:text/plain\n\0", 24);
    ::testing::internal::CaptureStderr();
    auto core = NewCore();
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("ProgressLog=kelvra.hif ignored"), std::string::npos) << warning;
    EXPECT_EQ(core->Settings().progress_log, "") << "no log either";
    core->StartUp(0);
    core->ShutDown(true);  // nothing changed: nothing is written
    EXPECT_TRUE(Exists(data_ + "kelvra.hif"));
}

TEST_F(StartupCore, ABaseDirectoryThatIsNoDirectoryFallsBackToTheStartDirectory) {
    WriteIni("[General]\nBaseDirectory=" + data_ + "missing\n");
    auto core = NewCore();
    core->StartUp(0);
    EXPECT_EQ(core->DataDirectoryPath(), CurrentDirectory());
    core->ShutDown(true);
    EXPECT_NE(ReadFile(IniPath()).find("BaseDirectory=" + data_ + "missing\n"), std::string::npos)
        << "the key keeps its text";
}

class ServerModeTest : public AppCoreTest {};

TEST_F(ServerModeTest, ModeTextsForEveryMode) {
    struct Row {
        std::uint32_t mode;
        const char* tip;
        const char* menu;
    };
    const Row rows[] = {
        {0, "Server Stopped", "[Stopped(&S)]"},
        {1, "Local Mode", "[Local(&S)]"},
        {2, "Proxy Mode", "[Proxy(&S)]"},
        {3, "Proxy Mode 2", "[Proxy2(&S)]"},
        {4, "Proxy Mode 3", "[Proxy3(&S)]"},
        {0x12, "Proxy Mode", "[Proxy(&S)]"},     // data-use bit
        {9, "Server Stopped", "[Stopped(&S)]"},  // no such mode
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ServerModeTip(row.mode), row.tip) << row.mode;
        EXPECT_EQ(ServerModeMenuText(row.mode), row.menu) << row.mode;
    }
}

TEST_F(ServerModeTest, FlagBitsAreKeptUnlessReplacedAndTheProxyScriptFollows) {
    auto core = NewCore();
    core->StartUp(0x12);  // "RunAtStart" 18: Proxy Mode, stored data always used
    EXPECT_EQ(core->ServerMode(), 0x12u);
    const int port = core->ServerPort();
    ASSERT_GT(port, 0);
    EXPECT_NE(ReadFile(PacPath()).find("PROXY 127.0.0.1:" + std::to_string(port)),
              std::string::npos);

    EXPECT_EQ(core->SetServerMode(1, false), 0x12u) << "returns the previous mode";
    EXPECT_EQ(core->ServerMode(), 0x11u) << "the running server's flag bits stay";
    EXPECT_EQ(core->ServerPort(), port) << "a running server only changes its mode";
    EXPECT_EQ(core->SetServerMode(3, true), 0x11u);
    EXPECT_EQ(core->ServerMode(), 3u) << "replaced";
    core->SetServerMode(3, true);
    EXPECT_EQ(core->SetServerMode(0, false), 3u);
    EXPECT_EQ(core->ServerMode(), 0u);
    EXPECT_EQ(core->ServerPort(), 0);
    EXPECT_EQ(ReadFile(PacPath()).find("PROXY 127.0.0.1:"), std::string::npos);
    // A value that is no mode stops the server rather than run it shown as stopped.
    core->SetServerMode(3, true);
    EXPECT_EQ(core->SetServerMode(7, true), 3u);
    EXPECT_EQ(core->ServerPort(), 0);
    // Shown once per change of the mode itself.
    EXPECT_EQ(ui_.modes, (std::vector<std::uint32_t>{2, 1, 3, 0, 3, 0}));
    core->ShutDown(true);
}

TEST_F(ServerModeTest, AServerThatCannotListenIsShownStopped) {
    // Take a port first, then ask for it.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    WriteIni("[General]\nBaseDirectory=" + data_ +
             "\n[Orvane]\nPort=" + std::to_string(ntohs(address.sin_port)) + "\n");
    auto core = NewCore();
    core->StartUp(1);
    EXPECT_EQ(core->ServerMode(), 0u);
    EXPECT_EQ(ui_.modes, (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(ReadFile(PacPath()).find("PROXY 127.0.0.1:"), std::string::npos)
        << "browsers are not sent to a server that is not there";
    core->ShutDown(true);
    ::close(fd);
}

}  // namespace
}  // namespace kelvra::app

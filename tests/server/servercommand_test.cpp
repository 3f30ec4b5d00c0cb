// Requests addressed to the server itself and the browser's reload.

#include "server/servercommand.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "server/serversettings.h"

namespace kelvra::server {
namespace {

const auto kLoopback = [] { return ::inet_addr("127.0.0.1"); };

TEST(OwnPathTest, DirectAndOwnAbsoluteTargetsAreTheServers) {
    EXPECT_EQ(OwnPath("/mode=*1", 8080, kLoopback), "/mode=*1");
    EXPECT_EQ(OwnPath("http://127.0.0.1:8080/get?http://h/", 8080, kLoopback), "/get?http://h/");
    EXPECT_EQ(OwnPath("http://localhost:8080", 8080, kLoopback), "/");
    // port 80 when none is given
    EXPECT_EQ(OwnPath("http://127.0.0.1/x", 80, kLoopback), "/x");
    EXPECT_FALSE(OwnPath("http://127.0.0.1/x", 8080, kLoopback));
    EXPECT_FALSE(OwnPath("http://127.0.0.1:8081/x", 8080, kLoopback));
    EXPECT_FALSE(OwnPath("http://192.0.2.1:8080/x", 8080, kLoopback));
    EXPECT_FALSE(OwnPath("http://nohost.invalid:8080/x", 8080, kLoopback));
}

struct CommandCase {
    const char* comment;
    const char* path;
    int level;
    std::uint32_t mode;
    CommandAnswer answer;
    const char* text;       // reload_url or redirect_to
    std::int64_t new_mode;  // -1: unchanged
};

class CommandTableTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTableTest, Interprets) {
    const CommandCase& c = GetParam();
    const ServerCommand command = ParseServerCommand(c.path, c.level, c.mode, true);
    EXPECT_EQ(command.answer, c.answer) << c.comment;
    const std::string_view text =
        command.answer == CommandAnswer::kRedirect ? command.redirect_to : command.reload_url;
    EXPECT_EQ(text, c.text) << c.comment;
    EXPECT_EQ(command.new_mode ? static_cast<std::int64_t>(*command.new_mode) : -1, c.new_mode)
        << c.comment;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTableTest,
    ::testing::Values(
        CommandCase{"mode keeps data-use bits with *", "/mode=*3", 2, 0x21,
                    CommandAnswer::kAccepted, "", 0x23},
        CommandCase{"mode digit sets data-use bits", "/mode=14", 2, 0x21, CommandAnswer::kAccepted,
                    "", 0x14},
        CommandCase{"mode with URL redirects", "/mode=*1?http://h/", 2, 3, CommandAnswer::kRedirect,
                    "http://h/", 1},
        CommandCase{"mode with empty URL is accepted", "/mode=*1?", 2, 3, CommandAnswer::kAccepted,
                    "", 1},
        CommandCase{"mode=0x is no command", "/mode=0x", 2, 1, CommandAnswer::kNone, "", -1},
        CommandCase{"data-use digit 3 is no command", "/mode=31", 2, 1, CommandAnswer::kNone, "",
                    -1},
        CommandCase{"mode 5 is no command", "/mode=*5", 2, 1, CommandAnswer::kNone, "", -1},
        CommandCase{"get with URL accepted", "/get?http://h/a", 2, 1, CommandAnswer::kAccepted,
                    "http://h/a", -1},
        CommandCase{"get without URL refused", "/get?", 2, 1, CommandAnswer::kRefused, "", -1},
        CommandCase{"get without ? refused", "/get", 2, 1, CommandAnswer::kRefused, "", -1},
        CommandCase{"proxysetting with text", "/proxysetting?http://h/", 2, 1,
                    CommandAnswer::kAccepted, "http://h/", -1},
        CommandCase{"proxysetting without ? refused", "/proxysetting", 2, 1,
                    CommandAnswer::kRefused, "", -1},
        CommandCase{"reload redirects", "/reload?http://h/", 2, 1, CommandAnswer::kRedirect,
                    "http://h/", -1},
        CommandCase{"reload without URL refused, no reload text", "/reload?", 2, 1,
                    CommandAnswer::kRefused, "", -1},
        CommandCase{"commands are case-sensitive", "/GET?http://h/", 2, 1, CommandAnswer::kNone, "",
                    -1},
        CommandCase{"other paths are no command", "/index.html", 2, 1, CommandAnswer::kNone, "",
                    -1},
        CommandCase{"level 1 refused whatever the path", "/index.html", 1, 1,
                    CommandAnswer::kRefused, "", -1},
        CommandCase{"level 1 get refused with empty reload", "/get?http://h/", 1, 1,
                    CommandAnswer::kRefused, "", -1}));

TEST(CommandTest, GetWithoutMainWindowIsRefusedWithTheUrl) {
    const ServerCommand command = ParseServerCommand("/get?http://h/", 2, 1, false);
    EXPECT_EQ(command.answer, CommandAnswer::kRefused);
    EXPECT_EQ(command.reload_url, "http://h/");
    EXPECT_FALSE(command.acquire_url);
}

TEST(CommandTest, GetAndProxySettingAskTheApplication) {
    EXPECT_EQ(ParseServerCommand("/get?http://h/", 2, 1, true).acquire_url, "http://h/");
    EXPECT_TRUE(ParseServerCommand("/proxysetting?x", 2, 1, true).open_proxy_setting);
}

struct ReloadCase {
    const char* comment;
    const char* header;
    bool reload;
};

class ReloadTest : public ::testing::TestWithParam<ReloadCase> {};

TEST_P(ReloadTest, Detects) {
    EXPECT_EQ(IsBrowserReload(GetParam().header), GetParam().reload) << GetParam().comment;
}

INSTANTIATE_TEST_SUITE_P(
    Reload, ReloadTest,
    ::testing::Values(
        ReloadCase{"Pragma no-cache", "GET / HTTP/1.0\r\nPragma: no-cache\r\n\r\n", true},
        ReloadCase{"case ignored", "GET / HTTP/1.0\r\nPragma: No-Cache\r\n\r\n", true},
        ReloadCase{"Cache-Control no-cache", "GET / HTTP/1.0\r\nCache-Control: no-cache\r\n\r\n",
                   true},
        ReloadCase{"max-age=0", "GET / HTTP/1.0\r\nCache-Control: max-age=0\r\n\r\n", true},
        ReloadCase{"max-age=10", "GET / HTTP/1.0\r\nCache-Control: max-age=10\r\n\r\n", false},
        ReloadCase{"Pragma wins over Cache-Control",
                   "GET / HTTP/1.0\r\nPragma: x\r\nCache-Control: no-cache\r\n\r\n", false},
        ReloadCase{"none", "GET / HTTP/1.0\r\nHost: h\r\n\r\n", false}));

}  // namespace
}  // namespace kelvra::server

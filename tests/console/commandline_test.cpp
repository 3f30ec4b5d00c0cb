// The command line of kelvrac.

#include <gtest/gtest.h>

#include "console/commandline.h"

namespace kelvra::console {
namespace {

std::optional<CommandLine> Parse(std::vector<const char*> args, std::string& error) {
    args.insert(args.begin(), "kelvrac");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), error);
}

TEST(CommandLineTest, GetTakesNormalisedUrlsAndAnOptionalRetryList) {
    std::string error;
    auto line =
        Parse({"-cd", "get", "-r", "out.rlf", "http://Example.COM/a/#frag", "ftp://h/x"}, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->command, Command::kGet);
    EXPECT_EQ(line->retry_list_out, "out.rlf");
    EXPECT_EQ(line->urls, (std::vector<std::string>{"http://example.com/a/", "ftp://h/x"}));
}

TEST(CommandLineTest, RetryAndServe) {
    std::string error;
    auto retry = Parse({"retry", "list.rlf"}, error);
    ASSERT_TRUE(retry) << error;
    EXPECT_EQ(retry->command, Command::kRetry);
    EXPECT_EQ(retry->retry_list_in, "list.rlf");

    auto serve = Parse({"serve", "-v", "18"}, error);
    ASSERT_TRUE(serve) << error;
    EXPECT_EQ(serve->command, Command::kServe);
    EXPECT_TRUE(serve->verbose);
    EXPECT_EQ(serve->mode, 18u);

    auto from_setting = Parse({"serve"}, error);
    ASSERT_TRUE(from_setting) << error;
    EXPECT_FALSE(from_setting->mode) << "the RunAtStart setting decides";
}

TEST(CommandLineTest, PerRunOptionsAtTheirLimits) {
    std::string error;
    auto line = Parse({"get", "-c", "4", "-w", "3", "-j", "10", "-l", "20", "--update", "-d",
                       "/tmp/x", "-q", "http://h/"},
                      error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->overrides.connections, 4);
    EXPECT_EQ(line->overrides.pause_ms, 3);
    EXPECT_EQ(line->overrides.workers, 10);
    EXPECT_EQ(line->overrides.depth, 20);
    EXPECT_TRUE(line->overrides.update);
    EXPECT_EQ(line->data_directory, "/tmp/x");
    EXPECT_TRUE(line->quiet);
    EXPECT_TRUE(line->HasRunOptions());
    EXPECT_EQ(line->urls, std::vector<std::string>{"http://h/"});

    auto low = Parse({"get", "http://h/", "-c", "1", "-w", "0", "-j", "1", "-l", "0"}, error);
    ASSERT_TRUE(low) << error;
    EXPECT_EQ(low->overrides.pause_ms, 0) << "0: kept connection without a pause";
    auto high = Parse({"retry", "-w", "32767", "a.rlf"}, error);
    ASSERT_TRUE(high) << error;
    EXPECT_EQ(high->overrides.pause_ms, 32767);

    auto resume = Parse({"get", "--continue"}, error);
    ASSERT_TRUE(resume) << error;
    EXPECT_TRUE(resume->resume);
    EXPECT_FALSE(resume->HasRunOptions());
}

TEST(CommandLineTest, ServerModesByNameOrNumber) {
    const std::vector<std::pair<const char*, std::uint32_t>> cases = {
        {"local", 1},           {"proxy", 2}, {"proxy2", 3}, {"proxy3", 4}, {"proxy2+always", 0x13},
        {"proxy3+check", 0x24}, {"35", 0x23},
    };
    for (const auto& [text, mode] : cases) {
        std::string error;
        auto line = Parse({"serve", text}, error);
        ASSERT_TRUE(line) << text << ": " << error;
        EXPECT_EQ(line->mode, mode) << text;
    }
}

TEST(CommandLineTest, HelpAndVersion) {
    std::string error;
    auto all = Parse({"--help"}, error);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->command, Command::kHelp);
    EXPECT_FALSE(all->help_topic);
    auto serve = Parse({"-cd", "serve", "--help"}, error);
    ASSERT_TRUE(serve);
    EXPECT_EQ(serve->help_topic, Command::kServe);
    EXPECT_NE(HelpText(Command::kServe).find("proxy2+check"), std::string::npos);
    auto get = Parse({"get", "--help"}, error);
    ASSERT_TRUE(get) << "help needs no URL";
    EXPECT_EQ(get->help_topic, Command::kGet);
    EXPECT_EQ(Parse({"--version"}, error)->command, Command::kVersion);
}

struct UsageCase {
    std::vector<const char*> args;
    const char* why;
};

TEST(CommandLineTest, UsageErrors) {
    const std::vector<UsageCase> cases = {
        {{}, "no command"},
        {{"-cd"}, "only the option"},
        {{"fetch", "http://h/"}, "unknown command"},
        {{"get"}, "no URL"},
        {{"get", "-r"}, "-r without its file"},
        {{"get", "-r", "x.rlf"}, "a retry list but no URL"},
        {{"get", "www.example.com/"}, "a host without scheme is no URL"},
        {{"get", "http:/h/"}, "no ://"},
        {{"get", "-cd", "http://h/"}, "-cd counts only in front"},
        {{"retry"}, "no file"},
        {{"retry", "a.rlf", "b.rlf"}, "two files"},
        {{"serve", "lokal"}, "no such mode name"},
        {{"serve", "-c", "2"}, "serve takes no crawl option"},
        {{"get", "-c", "0", "http://h/"}, "below one connection"},
        {{"get", "-c", "5", "http://h/"}, "beyond the connection limit"},
        {{"get", "-w", "1", "http://h/"}, "1 is a keep-alive kind, no pause"},
        {{"get", "-w", "2", "http://h/"}, "2 is pipelining, no pause"},
        {{"get", "-w", "32768", "http://h/"}, "beyond the pause field"},
        {{"get", "-w", "-5", "http://h/"}, "a negative pause drops keep-alive"},
        {{"get", "-j", "0", "http://h/"}, "no worker"},
        {{"get", "-j", "11", "http://h/"}, "more workers than the crawl has"},
        {{"get", "-l", "21", "http://h/"}, "deeper than the level box"},
        {{"get", "-c", "x", "http://h/"}, "not a number"},
        {{"get", "-c"}, "no value"},
        {{"get", "-d", "", "http://h/"}, "empty directory"},
        {{"get", "-q", "-v", "http://h/"}, "quiet and verbose"},
        {{"get", "--bogus", "http://h/"}, "unknown option"},
        {{"retry", "--update", "a.rlf"}, "a retry list's jobs carry their own condition"},
        {{"serve", "-1"}, "negative"},
        {{"serve", "256"}, "beyond the mode bits"},
        {{"serve", "7"}, "no such server mode"},
        {{"serve", "49"}, "both data-use bits"},
        {{"serve", "65"}, "a bit that is no data-use bit"},
        {{"serve", "1", "2"}, "two modes"},
    };
    for (const UsageCase& row : cases) {
        std::string error;
        EXPECT_FALSE(Parse(row.args, error)) << row.why;
        EXPECT_FALSE(error.empty()) << row.why;
    }
}

}  // namespace
}  // namespace kelvra::console

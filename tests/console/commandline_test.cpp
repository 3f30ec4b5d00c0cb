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
        {{"serve", "local"}, "the mode is a number"},
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

// Status names, worker results and the per-server limit table.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>

#include "crawl/fetchstatus.h"
#include "crawl/maxconnect.h"
#include "util/tempdir.h"

namespace kelvra::crawl {
namespace {

TEST(FetchStatusNames, EveryCodeHasItsName) {
    const char* const expected[] = {
        "Retry", "Error",     "I/OError", "Success", "SameData", "HeadOK", "HeadOlder", "BadSize",
        "Moved", "NotModify", "UnAuth",   "NoGood",  "Abnormal", "Killed", "TooLong",   "AuthPend"};
    for (int code = 0; code < kFetchStatusCount; ++code) {
        EXPECT_EQ(FetchStatusName(code), expected[code]) << code;
    }
    EXPECT_TRUE(FetchStatusName(16).empty());
    EXPECT_TRUE(FetchStatusName(-1).empty());
}

TEST(WorkerResults, ResultsAreTellableFromStates) {
    EXPECT_FALSE(IsWorkerResult(WorkerState::kIdle));
    EXPECT_FALSE(IsWorkerResult(WorkerState::kWorking));
    // not a result the worker ever leaves
    EXPECT_FALSE(IsWorkerResult(static_cast<WorkerState>(16)));
    for (int result : {14, 15, 17, 18, 19, 20, 21}) {
        EXPECT_TRUE(IsWorkerResult(static_cast<WorkerState>(result))) << result;
    }
}

struct LimitCase {
    const char* value;
    ServerLimit expected;
};

void PrintTo(const LimitCase& c, std::ostream* out) {
    *out << '"' << c.value << '"';
}

class ServerLimitValues : public ::testing::TestWithParam<LimitCase> {};

// The value in the test's name: "500/9/0" is v500_9_0, a minus sign an m, no value "empty".
std::string LimitCaseName(const ::testing::TestParamInfo<LimitCase>& info) {
    std::string name;
    for (const char* c = info.param.value; *c != '\0'; ++c) {
        name += *c == '/' ? '_' : (*c == '-' ? 'm' : *c);
    }
    return name.empty() ? "empty" : "v" + name;
}

TEST_P(ServerLimitValues, ParsesClampsAndDefaults) {
    EXPECT_EQ(ParseServerLimit(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Mcf, ServerLimitValues,
    ::testing::Values(LimitCase{"", {1000, 1, 11}},           // no value part
                      LimitCase{"500/9/0", {500, 1, 11}},     // >4 connections, version <1
                      LimitCase{"/2", {1000, 2, 11}},         // empty first number
                      LimitCase{"0/3/10", {0, 3, 10}},        // HTTP/1.0 without keep-alive
                      LimitCase{"1/-2", {1, 2, 11}},          // negative: absolute value
                      LimitCase{"1/-7", {1, 7, 11}},          // clamp first, then absolute
                      LimitCase{"1/0", {1, 0, 11}},           // 0 stays 0: never fetched
                      LimitCase{"-300/1/11", {-300, 1, 11}},  // negative keep-alive: pause
                      LimitCase{"2//", {2, 1, 11}},           // empty parts keep defaults
                      LimitCase{"3/4/-5", {3, 4, 11}}),       // version below 1
    LimitCaseName);

TEST(MaxConnectTable, FirstMatchingLineWins) {
    MaxConnectClass table;
    table.Parse(
        "  # comment line\n"
        "\n"
        "www* 0/3/10   # trailing comment\n"
        "^static\\. 2/2\n"
        "example 5\n"
        "example 7/4/10\n");
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table.Lookup("http://www.a.com/x"), (ServerLimit{0, 3, 10}));
    EXPECT_EQ(table.Lookup("http://static.b.org/"), (ServerLimit{2, 2, 11}));
    EXPECT_EQ(table.Lookup("http://nostatic.b.org/"), (ServerLimit{1000, 1, 11}));
    EXPECT_EQ(table.Lookup("http://h/example/"), (ServerLimit{5, 1, 11}));
    EXPECT_EQ(table.Lookup("http://other/"), (ServerLimit{1000, 1, 11}));
}

TEST(MaxConnectTable, ExtensionPatternsMatchTheUrlsExtension) {
    MaxConnectClass table;
    table.Parse(".(gif|jpg)$ 0/2\n");
    EXPECT_EQ(table.Lookup("http://h/a/b.GIF").connections, 2);
    EXPECT_EQ(table.Lookup("http://h/a/b.html").connections, 1);
}

TEST(MaxConnectTable, MissingFileGivesEmptyTableAndDefaults) {
    kelvra::testing::TempDir dir;
    MaxConnectClass table;
    table.Parse("* 0/4\n");
    EXPECT_FALSE(table.Load(dir.Path("kelvra.mcf")));
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.Lookup("http://h/"), ServerLimit{});
}

TEST(MaxConnectTable, LoadsFromFile) {
    kelvra::testing::TempDir dir;
    std::ofstream(dir.Path("kelvra.mcf")) << "h 2/2/10\r\n";
    MaxConnectClass table;
    ASSERT_TRUE(table.Load(dir.Path("kelvra.mcf")));
    EXPECT_EQ(table.Lookup("http://h/"), (ServerLimit{2, 2, 10}));
}

}  // namespace
}  // namespace kelvra::crawl

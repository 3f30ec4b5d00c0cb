// kelvrac names the cause of every failure, and its exit status tells a server's refusal (3)
// from a fetch that did not work (1).

#include <gtest/gtest.h>

#include "kelvrac_fixture.h"
#include "support/test_origin.h"

namespace kelvra::testing {
namespace {

test::Reply Misbehave(const test::Request& request) {
    const std::string_view line = request.RequestLine();
    const auto is = [&](std::string_view path) {
        return line.starts_with("GET " + std::string(path) + " ");
    };
    if (is("/gone")) return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", "x"));
    if (is("/busy")) {
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 503 Service Unavailable", "x"));
    }
    if (is("/close")) return test::Reply().Close();
    if (is("/hold")) return test::Reply().Hold();
    if (is("/cut")) {
        return test::Reply()
            .Send(test::HttpResponse("HTTP/1.1 200 OK", std::string(1000, 'b'),
                                     "Content-Type: text/plain\r\n"))
            .CutAfter(200);
    }
    if (is("/big")) {
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", std::string(8000, 'b'),
                                                     "Content-Type: text/plain\r\n"));
    }
    if (is("/robots.txt")) return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 No", ""));
    return test::Reply().Send(
        test::HttpResponse("HTTP/1.1 200 OK", "fine", "Content-Type: text/plain\r\n"));
}

class KelvracCauses : public KelvracTest {};

struct CauseCase {
    // Paths on the origin; "refused" is a port nobody listens on, "self-signed" the https
    // origin's "/ok"; options as they are.
    std::vector<std::string> paths;
    std::string cause;  // in the failure line (or the finish report)
    int exit_code;
};

TEST_F(KelvracCauses, EveryFailureSaysWhy) {
    test::TestOrigin origin(Misbehave);
    test::TestOrigin self_signed(Misbehave);
    self_signed.UseTls(test::TestCertificate::kSelfSigned);
    // One second for every receive, no second attempt: the time-out row stays short.
    WriteIni("[General]\nBaseDirectory=" + data_ +
             "\nGetTimeout=1\nRetryCount=0\n[Orvane]\nPort=0\n");
    const std::vector<CauseCase> cases = {
        {{"/ok", "/gone"}, ": HTTP 404 Not Found\n", 3},
        {{"/ok", "/busy"}, ": HTTP 503 Service Unavailable\n", 3},
        {{"/busy"}, ": HTTP 503 Service Unavailable\n", 1},  // nothing could be fetched
        {{"/close"}, ": connection closed by the server before the response header\n", 1},
        {{"/hold"}, ": timed out before the response header\n", 1},
        {{"/cut"}, ": connection closed by the server during the body\n", 1},
        {{"refused"}, ": connection refused\n", 1},
        // A failure wins over a refusal by the server.
        {{"/gone", "refused"}, ": connection refused\n", 1},
        {{"self-signed"}, ": certificate refused: unknown issuer\n", 1},
        {{"--insecure", "self-signed"}, "[終了報告] 取得作業が完了しました\n", 0},
    };
    for (const CauseCase& row : cases) {
        std::vector<std::string> args = {"get"};
        for (const std::string& path : row.paths) {
            if (path == "refused") {
                args.push_back("http://127.0.0.1:1/x");
            } else if (path == "self-signed") {
                args.push_back(self_signed.Url("/ok"));
            } else {
                args.push_back(path.starts_with("--") ? path : origin.Url(path));
            }
        }
        std::string out;
        EXPECT_EQ(Run(args, &out), row.exit_code) << row.cause << out;
        EXPECT_NE(out.find(row.cause), std::string::npos) << row.cause << out;
    }
}

TEST_F(KelvracCauses, ALocalFileErrorNamesThePathAndErrno) {
    test::TestOrigin origin(Misbehave);
    // Answers are received into temporary files there, and no file may grow beyond 1 KB.
    const std::string temp = dir_.Path("temp");
    ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
    env_ = {"TMPDIR=" + temp};
    const std::string limited = "ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\"";
    auto child = Start(
        {"-c", limited, BinDirectory() + "/kelvrac", "get", "-q", origin.Url("/big")}, "/bin/sh");
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1) << child->Out();
    EXPECT_NE(child->Out().find("/big: local file error: " + temp + "/"), std::string::npos)
        << child->Out();
    EXPECT_NE(child->Out().find(": File too large (errno 27)\n"), std::string::npos)
        << child->Out();
    EXPECT_EQ(child->Out().find("(No.0)http"), std::string::npos) << "-q leaves out the progress";
}

TEST_F(KelvracCauses, ValuesNotUnderstoodAreNamedWithWhatWasUsed) {
    test::TestOrigin origin(Misbehave);
    WriteIni("[General]\nBaseDirectory=" + data_ +
             "\nGetThread=many\nRetryCount=300\n[Orvane]\nPort=0\n");
    WriteData("kelvra.mcf", "* 0/8/11\n");
    std::string err;
    EXPECT_EQ(Run({"get", "-q", origin.Url("/ok")}, nullptr, &err), 0) << err;
    for (const std::string& warning : {
             "warning: " + IniPath() + ": [General] GetThread=many not understood, 8 used\n",
             "warning: " + IniPath() + ": [General] RetryCount=300 not understood, 0 used\n",
             "warning: " + data_ + "kelvra.mcf: * 0/8/11: connections 8 beyond 4, 1 used\n",
         }) {
        EXPECT_NE(err.find(warning), std::string::npos) << warning << err;
    }

    // A data directory that is not there: the current one is used, and the user is told.
    WriteIni("[General]\nBaseDirectory=" + dir_.Path("missing") + "\n");
    auto child = Start({"get", "http://127.0.0.1:1/x"}, {}, dir_.Path());
    EXPECT_EQ(child->Wait(kRunTimeoutMs), 1);
    EXPECT_NE(child->Err().find("warning: BaseDirectory=" + dir_.Path("missing") +
                                " cannot be used, " + dir_.Path() + "/ used\n"),
              std::string::npos)
        << child->Err();
}

}  // namespace
}  // namespace kelvra::testing

// The response reader against a real peer on loopback: header forms, interim answers, body
// framing, kept connections, and every way a peer can end or garble a message.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_test_util.h"
#include "net/inetutils.h"
#include "net/message_reader.h"
#include "support/test_origin.h"

namespace kelvra::net {
namespace {

using kelvra::test::ChunkedBody;
using kelvra::test::HttpResponse;
using kelvra::test::Reply;
using kelvra::test::TestOrigin;
using testing::ClientFixture;
using testing::Failed;
using testing::ReadToEnd;
using testing::TempFileText;

// One origin answering every request with the same reply.
TestOrigin Answering(Reply reply) {
    return TestOrigin([reply](const kelvra::test::Request&) { return reply; });
}

struct ReaderTest : ClientFixture {
    // GET url, ReadStatus; a request that could not be sent is no status with its code.
    ResponseStatus Fetch(const std::string& url, const ConnectionSetting* setting = nullptr) {
        const ChannelCode code = client.SendRequest(kMethodGet, url, setting, "");
        if (code != ChannelCode::kOk) return Failed(code);
        return client.ReadStatus();
    }
    std::string Body() {
        std::string file = TempFileText(client);
        return file.substr(std::min(file.size(), client.Buffer().header_length));
    }
};

// --- header forms ---------------------------------------------------------------------------

struct HeaderForm {
    const char* name;
    std::string bytes;
    std::size_t header_length;
};

class HeaderFormTest : public ReaderTest, public ::testing::WithParamInterface<HeaderForm> {};

TEST_P(HeaderFormTest, EndsAtBlankLineAndKeepsHeaderInFile) {
    const HeaderForm& form = GetParam();
    TestOrigin origin = Answering(Reply().Send(form.bytes + "hello").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    EXPECT_EQ(client.Buffer().header_length, form.header_length);
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(TempFileText(client), form.bytes + "hello");
}

INSTANTIATE_TEST_SUITE_P(Forms, HeaderFormTest,
                         ::testing::Values(
                             // CR LF throughout
                             HeaderForm{"crlf", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", 38},
                             // bare LF line ends
                             HeaderForm{"lf", "HTTP/1.0 200 OK\nContent-Length: 5\n\n", 35},
                             // LF CR LF: a CR only before the final LF
                             HeaderForm{"lfcrlf", "HTTP/1.0 200 OK\nContent-Length: 5\n\r\n", 36}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, HeaderOfExactlyTheRawAreaIsAccepted) {
    std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nX-Pad: ";
    head += std::string(kRawAreaSize - head.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(head.size(), kRawAreaSize);
    TestOrigin origin = Answering(Reply().Send(head + "ok"));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(Body(), "ok");
}

TEST_F(ReaderTest, HeaderFillingTheRawAreaWithoutEndFails) {
    std::string head = "HTTP/1.0 200 OK\r\nX-Pad: " + std::string(kRawAreaSize, 'p');
    TestOrigin origin = Answering(Reply().Send(head).Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), Failed(ChannelCode::kReceiveFailed));
    EXPECT_EQ(client.State(), kReaderFailed);
}

TEST_F(ReaderTest, FragmentedHeaderAndBodyArriveWhole) {
    std::string response = HttpResponse("HTTP/1.1 200 OK", "fragmented body");
    TestOrigin origin = Answering(Reply().SendFragmented(response, 1));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(TempFileText(client), response);
}

TEST_F(ReaderTest, StatusTokenAndVersion) {
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{404});
    EXPECT_EQ(client.Buffer().status_token, "404");
    EXPECT_EQ(client.Buffer().version, 10);
    EXPECT_EQ(client.Kind(), kResponse);
}

TEST_F(ReaderTest, StatusThatIsNotANumberFails) {
    TestOrigin origin = Answering(Reply().Send("HTTP/1.0 abc Huh\r\n\r\n").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), Failed(ChannelCode::kReceiveFailed));
}

// --- interim answers ------------------------------------------------------------------------

TEST_F(ReaderTest, ContinueIsSkippedAndLeavesOnlyTheRealResponseInTheFile) {
    std::string real = HttpResponse("HTTP/1.1 200 OK", "after continue");
    TestOrigin origin = Answering(Reply().Send("HTTP/1.1 100 Continue\r\n\r\n" + real));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(TempFileText(client), real);
}

TEST_F(ReaderTest, ContinueInItsOwnSegmentThenResponseLater) {
    std::string real = HttpResponse("HTTP/1.1 200 OK", "x");
    TestOrigin origin = Answering(Reply()
                                      .Send("HTTP/1.1 100 Continue\r\n\r\n")
                                      .Delay(50)
                                      .Send("HTTP/1.1 102 Processing\r\n\r\n")
                                      .Delay(50)
                                      .Send(real));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(TempFileText(client), real);
}

TEST_F(ReaderTest, InterimAnswerFollowedByCloseIsAFailure) {
    TestOrigin origin = Answering(Reply().Send("HTTP/1.1 100 Continue\r\n\r\n").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{});  // the peer closed before a real header
    EXPECT_EQ(client.State(), kReaderFailed);
}

// --- bodies without a length ----------------------------------------------------------------

TEST_F(ReaderTest, NotModifiedNeverWaitsForABody) {
    // The peer stays silent after the header: a reader waiting for 100 bytes would time out.
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.1 304 Not Modified\r\nContent-Length: 100\r\n\r\n").Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{304});
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(client.Buffer().content_length, 0);
}

TEST_F(ReaderTest, Http11WithoutLengthIsReadUntilClose) {
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.1 200 OK\r\n\r\nuntil").Delay(20).Send(" the end").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    EXPECT_FALSE(client.Buffer().keep_alive);
    EXPECT_EQ(ReadToEnd(client), ChannelCode::kOk);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), "until the end");
    EXPECT_TRUE(client.BodyComplete());
}

TEST_F(ReaderTest, KeptErrorAnswerWithoutLengthHasNoBody) {
    TestOrigin origin = Answering(Reply().Send("HTTP/1.1 404 Not Found\r\n\r\n").Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{404});
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_TRUE(client.Buffer().keep_alive);
}

TEST_F(ReaderTest, AnswerToHeadHasNoBodyWhateverItsLength) {
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n").Hold());
    ASSERT_EQ(client.SendRequest(kMethodHead, origin.Url("/"), nullptr, ""), ChannelCode::kOk);
    EXPECT_EQ(client.ReadStatus().status, 200);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(client.Buffer().content_length, 1000);  // announced size stays for comparison
}

// --- Content-length -------------------------------------------------------------------------

struct BadLength {
    const char* name;
    const char* value;
};

class BadLengthTest : public ReaderTest, public ::testing::WithParamInterface<BadLength> {};

TEST_P(BadLengthTest, FailsTheMessage) {
    std::string head =
        std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + GetParam().value + "\r\n\r\n";
    TestOrigin origin = Answering(Reply().Send(head + "body").Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), Failed(ChannelCode::kReceiveFailed));
    EXPECT_EQ(client.State(), kReaderFailed);
}

INSTANTIATE_TEST_SUITE_P(Values, BadLengthTest,
                         ::testing::Values(BadLength{"negative", "-5"},          // sign
                                           BadLength{"word", "abc"},             // not a number
                                           BadLength{"trailing_junk", "12abc"},  // number then junk
                                           BadLength{"above_2_62",
                                                     "4611686018427387905"},  // 2^62 + 1
                                           BadLength{"above_2_64", "99999999999999999999"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, LengthOf2To62IsAccepted) {
    TestOrigin origin = Answering(
        Reply().Send("HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\n").Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    EXPECT_EQ(client.Buffer().content_length, kMaxBodyLength);
}

TEST_F(ReaderTest, ShortBodyEndsAtCloseAndIsReportedIncomplete) {
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_FALSE(client.BodyComplete());
    EXPECT_EQ(client.Consumed(), 3);
    EXPECT_EQ(Body(), "abc");
}

TEST_F(ReaderTest, LongBodyInManyBlocksIsCopiedExactly) {
    std::string body;
    for (int i = 0; i < 100000; ++i) body += static_cast<char>('a' + i % 26);
    TestOrigin origin =
        Answering(Reply().SendFragmented(HttpResponse("HTTP/1.1 200 OK", body), 7000));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_TRUE(client.BodyComplete());
    EXPECT_EQ(Body(), body);
}

// --- chunked --------------------------------------------------------------------------------

TEST_F(ReaderTest, ChunkWithExtensionLeavesHeaderAndDecodedDataInFile) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string data = "abcdefghijklmnopqrstuvwxyz";
    TestOrigin origin = Answering(Reply().Send(head + "1a;name=abc\r\n" + data + "\r\n0\r\n\r\n"));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(client.Buffer().content_length, 26);
    EXPECT_EQ(TempFileText(client), head + data);
    EXPECT_TRUE(client.BodyComplete());
}

TEST_F(ReaderTest, ChunkedBodySentByteByByteDecodes) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n";
    std::vector<std::string> pieces = {"first,", std::string(3000, 'x'), "last"};
    TestOrigin origin =
        Answering(Reply().SendFragmented(head + ChunkedBody(pieces, " ; ext=\"q\""), 1));
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), pieces[0] + pieces[1] + pieces[2]);
}

TEST_F(ReaderTest, ChunkedWinsOverContentLength) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 999\r\nTransfer-Encoding: chunked\r\n\r\n";
    TestOrigin origin = Answering(Reply().Send(head + ChunkedBody({"abc"})).Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), "abc");
}

TEST_F(ReaderTest, LfOnlyChunkLines) {
    const std::string head = "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n";
    TestOrigin origin = Answering(Reply().Send(head + "3\nabc\n2\nde\n0\n\n").Hold());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), "abcde");
}

struct BadChunk {
    const char* name;
    std::string body;
};

class BadChunkTest : public ReaderTest, public ::testing::WithParamInterface<BadChunk> {};

TEST_P(BadChunkTest, FailsTheMessage) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    TestOrigin origin = Answering(Reply().Send(head + GetParam().body).Hold());
    // The bad line may arrive with the header (ReadStatus fails) or after it (the body does).
    const ResponseStatus status = Fetch(origin.Url("/"));
    if (status.status == 200)
        EXPECT_EQ(ReadToEnd(client), ChannelCode::kReceiveFailed);
    else
        EXPECT_EQ(status, Failed(ChannelCode::kReceiveFailed));
    EXPECT_EQ(client.State(), kReaderFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadChunkTest,
    ::testing::Values(BadChunk{"not_hex", "zz\r\nabc\r\n0\r\n\r\n"},   // no digit at all
                      BadChunk{"empty_size", "\r\nabc\r\n0\r\n\r\n"},  // empty size line
                      BadChunk{"junk_after_digits", "1g\r\nabc\r\n"},  // digit then junk
                      BadChunk{"data_longer_than_size",
                               "3\r\nabcdef\r\n"},                     // no line end after data
                      BadChunk{"above_2_62", "4000000000000001\r\n"},  // size > 2^62
                      BadChunk{"overflows_64_bits", "10000000000000000\r\n"}),  // 2^64
    [](const auto& info) { return std::string(info.param.name); });

// --- kept connections -----------------------------------------------------------------------

TEST_F(ReaderTest, TwoChunkedResponsesWithTrailersOnOneKeptConnection) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    TestOrigin origin(std::vector<Reply>{
        Reply().Send(head + ChunkedBody({"one"}, "", "Expires: 0\r\nX-Sum: abc\r\n")),
        Reply().Send(head + ChunkedBody({"two", "!"}))});
    ConnectionSetting keep{1, 11};
    EXPECT_EQ(Fetch(origin.Url("/1"), &keep), ResponseStatus{200});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), "one");
    EXPECT_EQ(client.HeldBackBytes(), 0u);

    EXPECT_EQ(Fetch(origin.Url("/2"), &keep), ResponseStatus{200});
    EXPECT_TRUE(client.WasReused());
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(Body(), "two!");
    EXPECT_EQ(origin.Connections(), 1);
}

// Responses that arrive together (a pipelined request): what follows the first message's end
// is the start of the second and must not be lost or written into the first one's file.
struct Pipelined {
    const char* name;
    std::string first;
    std::string first_file;  // the first message as it must be in the file
};

class PipelinedTest : public ReaderTest, public ::testing::WithParamInterface<Pipelined> {};

TEST_P(PipelinedTest, SecondResponseIsReadFromWhatFollowedTheFirst) {
    const std::string second = HttpResponse("HTTP/1.1 200 OK", "second");
    TestOrigin origin(std::vector<Reply>{Reply().Send(GetParam().first + second), Reply()});
    ConnectionSetting keep{2, 11};
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/1"), &keep, ""), ChannelCode::kOk);
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/2"), &keep, ""), ChannelCode::kOk);
    ASSERT_TRUE(client.ReadStatus().Arrived());
    ReadToEnd(client);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(TempFileText(client), GetParam().first_file);

    EXPECT_EQ(client.ReadStatus().status, 200);
    ReadToEnd(client);
    EXPECT_EQ(TempFileText(client), second);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, PipelinedTest,
    ::testing::Values(Pipelined{"content_length", HttpResponse("HTTP/1.1 200 OK", "first"),
                                HttpResponse("HTTP/1.1 200 OK", "first")},
                      Pipelined{"not_modified", "HTTP/1.1 304 Not Modified\r\n\r\n",
                                "HTTP/1.1 304 Not Modified\r\n\r\n"},
                      Pipelined{"chunked",
                                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                    ChunkedBody({"first"}),
                                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfirst"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderTest, PipelinedHeadThenGetEachFramedByItsOwnRequest) {
    const std::string head_answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
    const std::string get_answer = HttpResponse("HTTP/1.1 200 OK", "hello");
    TestOrigin origin(std::vector<Reply>{Reply().Send(head_answer + get_answer), Reply()});
    ConnectionSetting keep{2, 11};
    ASSERT_EQ(client.SendRequest(kMethodHead, origin.Url("/1"), &keep, ""), ChannelCode::kOk);
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/2"), &keep, ""), ChannelCode::kOk);
    EXPECT_EQ(client.ReadStatus().status, 200);
    EXPECT_EQ(client.State(), kMessageComplete);
    EXPECT_EQ(TempFileText(client), head_answer);
    EXPECT_EQ(client.ReadStatus().status, 200);
    ReadToEnd(client);
    EXPECT_TRUE(client.BodyComplete());
    EXPECT_EQ(TempFileText(client), get_answer);
}

// A worker slot's connection closed with a HEAD unanswered (a dead kept connection, a stop):
// the GET on the next connection is framed by its own method.
TEST(SlotChannelClose, ForgetsTheRequestsOfTheClosedConnection) {
    testing::TempDir dir;
    inetutils client;
    client.SetTempDirectory(dir.Path());
    client.SetTimeout(5);
    const std::string get_answer = HttpResponse("HTTP/1.1 200 OK", "hello");
    TestOrigin origin(std::vector<Reply>{Reply().Hold(), Reply().Send(get_answer)});
    ConnectionSetting keep{2, 11};
    ASSERT_EQ(client.Request(kMethodHead, origin.Url("/1"), &keep, ""), ChannelCode::kOk);
    ASSERT_TRUE(origin.WaitForRequests(1));
    client.Close();
    ASSERT_EQ(client.Request(kMethodGet, origin.Url("/2"), &keep, ""), ChannelCode::kOk);
    EXPECT_EQ(client.ReadStatus().status, 200);
    ReadToEnd(client);
    EXPECT_EQ(client.Consumed(), 5);
    EXPECT_EQ(TempFileText(client), get_answer);
}

// --- the peer closing in every reader state ---------------------------------------------------

struct CloseCase {
    const char* name;
    std::string bytes;  // sent before the close
    int status;         // ReadStatus result; 0: the peer closed before a header
    int final_state;    // after reading on to the end
    bool body_complete;
};

class PeerCloseTest : public ReaderTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PeerCloseTest, EndsAsExpected) {
    const CloseCase& c = GetParam();
    TestOrigin origin = Answering(Reply().Send(c.bytes).Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{c.status});
    ReadToEnd(client);
    EXPECT_EQ(client.State(), c.final_state);
    EXPECT_EQ(client.BodyComplete(), c.body_complete);
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    States, PeerCloseTest,
    ::testing::Values(
        // nothing at all: the caller sees 0 (closed before any header)
        CloseCase{"before_anything", "", 0, kReaderFailed, false},
        // state 0: inside the first line
        CloseCase{"inside_status_line", "HTTP/1.1 200 OK", 0, kReaderFailed, false},
        // state 0 inside a redirection's Location line: its status, but the target may be cut
        CloseCase{"cut_in_location", "HTTP/1.1 302 Found\r\nLocation: /x", 302, kReaderFailed,
                  false},
        // state 0 after it: the redirection is usable, without body
        CloseCase{"cut_after_location", "HTTP/1.1 302 Found\r\nLocation: /x\r\nDa", 302,
                  kMessageComplete, true},
        // state 1: just after a line end; what came is the header
        CloseCase{"after_lf", "HTTP/1.0 200 OK\r\nX-A: b\n", 200, kMessageComplete, true},
        // state 2: after LF CR
        CloseCase{"after_lf_cr", "HTTP/1.0 200 OK\r\n\r", 200, kMessageComplete, true},
        // state 3, no length: the close ends the body
        CloseCase{"body_until_close", "HTTP/1.0 200 OK\r\n\r\nabc", 200, kMessageComplete, true},
        // state 3, Content-length not reached
        CloseCase{"short_body", "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc", 200,
                  kMessageComplete, false},
        // state 3, chunked, before the first size line
        CloseCase{"before_first_chunk", kChunkedHead, 200, kReaderFailed, false},
        // state 4: inside chunk data
        CloseCase{"inside_chunk", kChunkedHead + "a\r\nabc", 200, kReaderFailed, false},
        // state 5: after a chunk's data, before the next size line
        CloseCase{"after_chunk", kChunkedHead + "3\r\nabc\r\n", 200, kReaderFailed, false},
        // after the last chunk, in the trailer: the data is whole
        CloseCase{"in_trailer", kChunkedHead + "3\r\nabc\r\n0\r\nX: y\r\n", 200, kMessageComplete,
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- time-out, Poll -------------------------------------------------------------------------

TEST_F(ReaderTest, SilentPeerTimesOut) {
    TestOrigin origin = Answering(Reply().Hold());
    client.SetTimeout(1);
    EXPECT_EQ(Fetch(origin.Url("/")), Failed(ChannelCode::kTimedOut));
    EXPECT_EQ(client.State(), kReaderFailed);
}

TEST_F(ReaderTest, SilentPeerTimesOutInTheBody) {
    TestOrigin origin =
        Answering(Reply().Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nab").Hold());
    client.SetTimeout(1);
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{200});
    EXPECT_EQ(ReadToEnd(client), ChannelCode::kTimedOut);
}

TEST_F(ReaderTest, PollReportsNothingThenTheHeader) {
    TestOrigin origin = Answering(Reply().Delay(300).Send(HttpResponse("HTTP/1.1 200 OK", "p")));
    ASSERT_EQ(client.SendRequest(kMethodGet, origin.Url("/"), nullptr, ""), ChannelCode::kOk);
    ASSERT_TRUE(client.OpenTempFile());
    client.Reset(kScanHeader);
    EXPECT_EQ(client.Poll(0), 0);
    int result = 0;
    for (int i = 0; i < 50 && result == 0; ++i) result = client.Poll(100000);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(client.Poll(0), 1);  // stays complete
}

TEST_F(ReaderTest, PollAfterFailureIsMinusOne) {
    TestOrigin origin = Answering(Reply().Send("HTTP/1.1 200").Close());
    EXPECT_EQ(Fetch(origin.Url("/")), ResponseStatus{});
    EXPECT_EQ(client.Poll(0), -1);
}

// --- KeepAliveResponse ----------------------------------------------------------------------

struct KeepCase {
    const char* name;
    const char* header;
    bool keep;
};

class KeepAliveTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeepAliveTest, ReadsTheConnectionField) {
    HttpMessageBuffer buffer;
    std::string header = GetParam().header;
    std::copy(header.begin(), header.end(), buffer.raw.begin());
    buffer.header_length = buffer.filled = header.size();
    EXPECT_EQ(KeepAliveResponse(buffer), GetParam().keep);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, KeepAliveTest,
    ::testing::Values(
        KeepCase{"connection", "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n\r\n", true},
        KeepCase{"case_and_blanks", "HTTP/1.1 200 OK\r\nconnection:   keep-alive  \r\n\r\n", true},
        KeepCase{"proxy_field_first",
                 "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\nProxy-Connection: close\r\n\r\n",
                 false},
        KeepCase{"proxy_field", "HTTP/1.0 200 OK\r\nProxy-Connection: Keep-Alive\r\n\r\n", true},
        KeepCase{"close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", false},
        KeepCase{"longer_value", "HTTP/1.1 200 OK\r\nConnection: Keep-Alive, Upgrade\r\n\r\n",
                 false},
        // HTTP/1.1 keeps connections by default, but this test wants the field
        KeepCase{"no_field", "HTTP/1.1 200 OK\r\n\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- bodies beyond 4 GB (counters only: a reader without a sink discards data) -------------

class LargeBodyTest : public ::testing::Test {
  protected:
    void Parse(const std::string& header) {
        // as a caller that put the header in place itself
        reader.Reset(kHeaderComplete);
        std::copy(header.begin(), header.end(), reader.Buffer().raw.begin());
        reader.Buffer().filled = header.size();
        reader.ParseHeader(header.size());
    }
    void Feed(std::int64_t bytes) {
        std::vector<char> block(1 << 20, 'x');
        while (bytes > 0 && reader.State() != kMessageComplete) {
            std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(bytes, block.size()));
            reader.ConsumeBody(block.data(), n);
            bytes -= static_cast<std::int64_t>(n);
        }
    }
    InvestHeaderClass reader;
    static constexpr std::int64_t kFiveGb = 5'000'000'000;
};

TEST_F(LargeBodyTest, ContentLengthAboveFourGigabytesCompletesExactly) {
    Parse("HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n");
    ASSERT_EQ(reader.Buffer().content_length, kFiveGb);
    Feed(kFiveGb - 1);
    EXPECT_EQ(reader.State(), kHeaderComplete);
    Feed(1);
    EXPECT_EQ(reader.State(), kMessageComplete);
    EXPECT_EQ(reader.Consumed(), kFiveGb);
}

TEST_F(LargeBodyTest, ChunkAboveFourGigabytes) {
    Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string size_line = "12a05f200\r\n";  // 5 000 000 000
    reader.ConsumeBody(size_line.data(), size_line.size());
    Feed(kFiveGb);
    EXPECT_EQ(reader.State(), kInChunk);
    const std::string end = "\r\n0\r\n\r\n";
    reader.ConsumeBody(end.data(), end.size());
    EXPECT_EQ(reader.State(), kMessageComplete);
    EXPECT_EQ(reader.Buffer().content_length, kFiveGb);
}

}  // namespace
}  // namespace kelvra::net

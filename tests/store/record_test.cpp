#include <gtest/gtest.h>

#include <string>

#include "store/store_record.h"

namespace kelvra::store {
namespace {

struct BuildCase {
    const char* what;
    const char* input;
    const char* type_for_extension;
    const char* expected;
};

class BuildRecordTable : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildRecordTable, Normalises) {
    const BuildCase& c = GetParam();
    EXPECT_EQ(BuildRecordText(c.input, c.type_for_extension), c.expected) << c.what;
}

const BuildCase kBuildCases[] = {
    // 200 (and every 2?0) gives no status line.
    {"ok", "HTTP/1.1 200 OK\r\nContent-type: image/png\r\n\r\n", "", "CT:image/png\n"},
    {"210 counts as 2?0", "HTTP/1.0 210 X\r\n\r\n", "", ""},
    // 206, 304 and 404 keep their code.
    {"partial", "HTTP/1.1 206 Partial\r\n\r\n", "", "XR:206\n"},
    {"not modified", "HTTP/1.1 304 Not Modified\r\n\r\n", "", "XR:304\n"},
    {"not found", "HTTP/1.0 404 Not Found\r\n\r\n", "", "XR:404\n"},
    // Without a status line an earlier record's XR line is copied.
    {"record xr", "XR:301\nLO:http://h/x\n", "", "XR:301\nLO:http://h/x\n"},
    // The status line wins over an XR line.
    {"status wins", "XR:404\nHTTP/1.1 200 OK\n", "", ""},
    // text/plain for a .html URL: agrees with text/html up to '/', left to the extension.
    {"type left to extension", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", "text/html",
     ""},
    {"type kept", "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n", "text/html",
     "CT:image/gif\n"},
    // An existing CT line is always copied.
    {"ct line copied", "CT:text/plain\n", "text/html", "CT:text/plain\n"},
    // Short keys win over header names; order is fixed whatever the input order.
    {"field order",
     "Content-Encoding: gzip\r\nProxy-Authenticate: Basic realm=\"p\"\r\nWWW-Authenticate: "
     "Basic realm=\"w\"\r\nLocation: http://h/n\r\nX-Fn: h/f.html\r\nLast-Modified: Sun, 06 "
     "Nov 1994 08:49:37 GMT\r\nXRange:12\r\n",
     "",
     "LM:Sun, 06 Nov 1994 08:49:37 GMT\nXF:h/f.html\nLO:http://h/n\nWA:Basic realm=\"w\"\nPA:"
     "Basic realm=\"p\"\nCE:gzip\nXRange:12\n"},
    {"short key first", "LM:a\nLast-modified: b\n", "", "LM:a\n"},
    // The scheme line comes last, and only for https.
    {"scheme last", "XS:https\nXRange:3\nLM:a\n", "", "LM:a\nXRange:3\nXS:https\n"},
    {"scheme other than https", "XS:http\n", "", ""},
    // Everything else is dropped.
    {"others dropped",
     "HTTP/1.1 200 OK\r\nDate: x\r\nServer: y\r\nSet-Cookie: a=1\r\nContent-Length: 3\r\n\r\n", "",
     ""},
    // Header names are matched without regard to case and only at line starts.
    {"case and anchoring", "content-location: h/x\nlocation: h/y\n", "", "LO:h/y\n"},
    // An empty value gives no line.
    {"empty value", "Location: \r\n", "", ""},
    // Hostile local names are no names.
    {"absolute name", "X-Fn: /etc/passwd\n", "", ""},
    {"parent segment", "XF:h/../../x\n", "", ""},
    {"dot segment", "X-Fn: h/./x\n", "", ""},
    {"backslash", "X-Fn: h\\..\\x\n", "", ""},
    {"control byte", "X-Fn: h/a\x01z\n", "", ""},
    {"no directory", "X-Fn: kelvra.hif\n", "", ""},
    // A hostile XF falls back to a sound X-Fn.
    {"fallback to header", "XF:../x\nX-Fn: h/y.html\n", "", "XF:h/y.html\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BuildRecordTable, ::testing::ValuesIn(kBuildCases));

TEST(BuildRecord, NormalisedTextIsStable) {
    const std::string once = BuildRecordText(
        "HTTP/1.1 404 Not Found\r\nContent-type: text/html\r\nLast-modified: d\r\n\r\n", "");
    EXPECT_EQ(BuildRecordText(once, ""), once);
}

TEST(BuildRecord, TextStaysWithinRecordLimit) {
    const std::string huge(5000, 'a');
    const std::string text = "Location: " + huge + "\nContent-Encoding: gzip\n";
    const std::string record = BuildRecordText(text, "");
    EXPECT_LE(record.size(), kMaxRecordText);
    EXPECT_EQ(record, "CE:gzip\n");  // the line that fits is kept
}

TEST(BuildRecord, StopsAtNul) {
    const std::string text("CE:gzip\n\0LO:x\n", 14);
    EXPECT_EQ(BuildRecordText(text, ""), "CE:gzip\n");
}

TEST(HeaderLines, AppendDropsTheBlankLine) {
    std::string header = "HTTP/1.1 200 OK\r\nA: b\r\n\r\n";
    AppendHeaderLine(header, "XRange:5\n");
    EXPECT_EQ(header, "HTTP/1.1 200 OK\r\nA: b\nXRange:5\n");
}

TEST(HeaderLines, DeleteTakesContinuationLines) {
    std::string text = "CT:a\nWA:Basic\n realm=x\nCE:gzip\n";
    EXPECT_GT(DeleteHeaderLine(text, "wa:"), 0u);
    EXPECT_EQ(text, "CT:a\nCE:gzip\n");
    EXPECT_EQ(DeleteHeaderLine(text, "LO:"), 0u);
    // "XR:" does not match "XRange:".
    std::string range = "XRange:5\n";
    EXPECT_EQ(DeleteHeaderLine(range, "XR:"), 0u);
}

TEST(RecordFormat, BytesOfOneRecord) {
    EXPECT_EQ(FormatRecord("h/a", "CT:x\n", true), std::string("h/a\nCT:x\n\0", 10));
    // A final LF is added; a failed fetch starts with '#'.
    EXPECT_EQ(FormatRecord("h/a", "CT:x", false), std::string("#h/a\nCT:x\n\0", 11));
    // An empty text writes nothing between the key's LF and the NUL.
    EXPECT_EQ(FormatRecord("h/a", "", true), std::string("h/a\n\0", 5));
}

}  // namespace
}  // namespace kelvra::store

// The FTP client against a real FTP server (pyftpdlib) on loopback, and against a scripted
// peer where a real server cannot misbehave on purpose.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_test_util.h"
#include "net/inetutils.h"
#include "net/result_codes.h"
#include "support/ftp_server.h"
#include "support/test_origin.h"
#include "util/httpdate.h"
#include "util/tempdir.h"

namespace kelvra::net {
namespace {

using kelvra::testing::TempDir;
using test::FtpServer;
using test::FtpServerOptions;

constexpr std::time_t kFileTime = 1700000000;  // 2023-11-14 22:13:20 UTC

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 26);
    return data;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
    utimbuf times{kFileTime, kFileTime};
    ::utime(path.c_str(), &times);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string HttpDate(std::time_t t) {
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    return util::FormatHttpDate(utc);
}

// The commands of a log that begin with one of the words, in order.
std::vector<std::string> Words(const std::vector<std::string>& commands) {
    std::vector<std::string> words;
    for (const std::string& command : commands)
        words.push_back(command.substr(0, command.find(' ')));
    return words;
}

struct Fetched {
    ChannelCode request = ChannelCode::kOk;  // Request's code
    int status = 0;                          // ReadStatus
    bool complete = false;
    std::string file;  // the temporary response file: header + body
};

class FtpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.Path("root");
        WriteFile(root_ + "/pub/a.txt", "hello ftp\n");
        WriteFile(root_ + "/pub/big.bin", Pattern(5000));
        client_.SetTimeout(5);
        client_.SetTempDirectory(dir_.Path() + "/");
        ASSERT_TRUE(client_.MakeTempName());
    }

    FtpServerOptions Options() const {
        FtpServerOptions options;
        options.root = root_;
        options.anonymous = true;
        options.users = {"u:p"};
        return options;
    }

    Fetched Fetch(const std::string& url, const std::string& extra = "") {
        Fetched fetched;
        fetched.request = client_.Request(kMethodGet, url, nullptr, extra);
        if (fetched.request != ChannelCode::kOk) return fetched;
        fetched.status = client_.ReadStatus().status;
        ChannelCode code = ChannelCode::kOk;
        while (client_.State() >= kAfterLf && client_.State() <= kAfterChunkData)
            client_.Step(code);
        fetched.complete = client_.State() == kMessageComplete;
        client_.FinishTransfer();
        if (std::FILE* stream = client_.TempStream()) std::fflush(stream);
        fetched.file = ReadAll(client_.TempPath());
        return fetched;
    }

    TempDir dir_;
    std::string root_;
    inetutils client_;
};

TEST_F(FtpClientTest, AnonymousRetrievalLooksLikeAnHttpResponse) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    client_.SetFtpLogin("", "guest@example.org");
    Fetched fetched = Fetch(server.Url("/pub/a.txt"));
    ASSERT_EQ(fetched.request, ChannelCode::kOk);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_TRUE(fetched.complete);
    EXPECT_EQ(fetched.file,
              "HTTP/1.0 200 OK(via ftputil)\r\nContent-length: 10\r\nLast-modified: " +
                  HttpDate(kFileTime) + "\r\n\r\nhello ftp\n");
    EXPECT_EQ(client_.Buffer().status_token, "200");
    std::vector<std::string> commands = server.Commands();
    ASSERT_GE(commands.size(), 7u);
    EXPECT_EQ(commands[0], "USER anonymous");
    EXPECT_EQ(commands[1], "PASS guest@example.org");
    EXPECT_EQ(commands[2], "TYPE I");
    EXPECT_EQ(commands[3], "MDTM /pub/a.txt");
    EXPECT_EQ(commands[4], "SIZE /pub/a.txt");
    EXPECT_EQ(commands[5].substr(0, 15), "PORT 127,0,0,1,");
    EXPECT_EQ(commands[6], "RETR /pub/a.txt");
}

TEST_F(FtpClientTest, UrlCredentialsAndConfiguredUserAreUsed) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    client_.SetFtpLogin("nobody", "wrong");
    Fetched fetched = Fetch(server.Url("/pub/a.txt", "u:p@"));
    EXPECT_EQ(fetched.status, 200);
    std::vector<std::string> commands = server.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER u");
    EXPECT_EQ(commands[1], "PASS p");
    client_.Close();

    // Without user information the configured log-in goes out, and fails here.
    EXPECT_EQ(client_.Request(kMethodGet, server.Url("/pub/a.txt"), nullptr, ""),
              ChannelCode::kConnectFailed);
    commands = server.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "USER nobody");
    EXPECT_EQ(commands.back(), "PASS wrong");
}

TEST_F(FtpClientTest, ControlConnectionStaysForTheNextFileAndQuitsOnClose) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    EXPECT_EQ(Fetch(server.Url("/pub/a.txt")).status, 200);
    client_.Close();  // the transfer finished cleanly: control connection kept
    EXPECT_FALSE(client_.IsClosed());
    Fetched second = Fetch(server.Url("/pub/big.bin"));
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(second.file.substr(second.file.find("\r\n\r\n") + 4), Pattern(5000));
    client_.Close();
    client_.Close();  // a close outside a finished transfer ends the session
    EXPECT_TRUE(client_.IsClosed());
    std::vector<std::string> words = Words(server.Commands());
    EXPECT_EQ(std::count(words.begin(), words.end(), "USER"), 1);
    EXPECT_EQ(std::count(words.begin(), words.end(), "RETR"), 2);
    EXPECT_EQ(words.back(), "QUIT");
}

TEST_F(FtpClientTest, UnchangedFileIsNotModifiedWithoutADataConnection) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    Fetched fetched =
        Fetch(server.Url("/pub/a.txt"), "If-Modified-Since: " + HttpDate(kFileTime) + "\r\n");
    EXPECT_EQ(fetched.status, 304);
    EXPECT_TRUE(fetched.complete);
    EXPECT_EQ(fetched.file,
              "HTTP/1.0 304 OK(via ftputil)\r\nLast-modified: " + HttpDate(kFileTime) + "\r\n\r\n");
    std::vector<std::string> words = Words(server.Commands());
    EXPECT_EQ(std::count(words.begin(), words.end(), "PORT"), 0);
    EXPECT_EQ(std::count(words.begin(), words.end(), "RETR"), 0);

    // An older stored copy is fetched.
    client_.Close();
    fetched =
        Fetch(server.Url("/pub/a.txt"), "If-Modified-Since: " + HttpDate(kFileTime - 1) + "\r\n");
    EXPECT_EQ(fetched.status, 200);
}

TEST_F(FtpClientTest, ResumeFromAnOffsetAnnouncesTheRest) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/big.bin"), "Range: bytes=1000-\r\n");
    EXPECT_EQ(fetched.status, 206);
    EXPECT_TRUE(fetched.complete);
    std::size_t body = fetched.file.find("\r\n\r\n") + 4;
    EXPECT_NE(fetched.file.find("HTTP/1.0 206 OK(via ftputil)\r\nContent-length: 4000\r\n"),
              std::string::npos);
    EXPECT_EQ(fetched.file.substr(body), Pattern(5000).substr(1000));
    std::vector<std::string> commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 1000"), commands.end());
}

TEST_F(FtpClientTest, MissingFileIsNotFound) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/none.txt"));
    EXPECT_EQ(fetched.status, 404);
    EXPECT_TRUE(fetched.complete);  // no body is awaited
    // The session is still good for the next file.
    client_.Close();
    EXPECT_EQ(Fetch(server.Url("/pub/a.txt")).status, 200);
}

TEST_F(FtpClientTest, WithoutSizeTheBodyEndsWhenTheDataConnectionCloses) {
    FtpServerOptions options = Options();
    options.no_size = true;
    FtpServer server(options);
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/big.bin"));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_TRUE(fetched.complete);
    EXPECT_EQ(fetched.file.find("Content-length"), std::string::npos);
    EXPECT_EQ(client_.Consumed(), 5000);
    EXPECT_EQ(fetched.file.substr(fetched.file.find("\r\n\r\n") + 4), Pattern(5000));
}

TEST_F(FtpClientTest, MultiLineGreetingIsReadToItsLastLine) {
    FtpServerOptions options = Options();
    options.banner = "Welcome|to the|test server";
    FtpServer server(options);
    ASSERT_TRUE(server.Running());
    EXPECT_EQ(Fetch(server.Url("/pub/a.txt")).status, 200);
    EXPECT_EQ(server.Commands().at(0), "USER anonymous");
}

TEST_F(FtpClientTest, RefusedActiveModeFallsBackToPassiveOnce) {
    FtpServerOptions options = Options();
    options.refuse_port = true;
    FtpServer server(options);
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/big.bin"));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.file.substr(fetched.file.find("\r\n\r\n") + 4), Pattern(5000));
    std::vector<std::string> words = Words(server.Commands());
    auto port = std::find(words.begin(), words.end(), "PORT");
    ASSERT_NE(port, words.end());
    EXPECT_EQ(*(port + 1), "PASV");
    EXPECT_EQ(std::count(words.begin(), words.end(), "PASV"), 1);
}

// ---- directories ----------------------------------------------------------------------------

std::string BodyOf(const std::string& file) {
    return file.substr(file.find("\r\n\r\n") + 4);
}

// The list commands of a log (MLSD, LIST, NLST), in order.
std::vector<std::string> ListCommands(const std::vector<std::string>& commands) {
    std::vector<std::string> lists;
    for (const std::string& word : Words(commands)) {
        if (word == "MLSD" || word == "LIST" || word == "NLST") lists.push_back(word);
    }
    return lists;
}

TEST_F(FtpClientTest, DirectoryListingIsAPageOfLinksWhateverTheServerLists) {
    WriteFile(root_ + "/pub/sub/deep.txt", "deep\n");
    WriteFile(root_ + "/pub/x y&z.txt", "odd name\n");
    struct Row {
        std::vector<std::string> unknown;
        bool dos_list;
        std::vector<std::string> lists;
        bool directories_marked;
        const char* why;
    };
    const std::vector<Row> rows = {
        {{}, false, {"MLSD"}, true, "MLSD offered"},
        {{"MLST", "MLSD"}, false, {"LIST"}, true, "no MLSD: the Unix long form"},
        {{"MLST", "MLSD", "LIST"}, false, {"LIST", "NLST"}, false, "LIST unknown: names only"},
        {{"MLST", "MLSD"}, true, {"LIST", "NLST"}, false, "a LIST form that cannot be read"},
    };
    for (const Row& row : rows) {
        FtpServerOptions options = Options();
        options.unknown = row.unknown;
        options.dos_list = row.dos_list;
        FtpServer server(options);
        ASSERT_TRUE(server.Running()) << row.why;
        Fetched fetched = Fetch(server.Url("/pub/"));
        EXPECT_EQ(fetched.status, 200) << row.why;
        EXPECT_TRUE(fetched.complete) << row.why;
        const std::string body = BodyOf(fetched.file);
        EXPECT_EQ(fetched.file.substr(0, fetched.file.size() - body.size()),
                  "HTTP/1.0 200 OK(via ftputil)\r\nContent-type: text/html\r\nContent-length: " +
                      std::to_string(body.size()) + "\r\n\r\n")
            << row.why << ": no Last-modified, so the listing is read again next time";
        for (const char* link : {"a.txt", "big.bin", "x%20y%26z.txt"}) {
            EXPECT_NE(body.find("<a href=\"" + std::string(link) + "\">"), std::string::npos)
                << row.why << ": " << link << " in " << body;
        }
        const std::string sub = row.directories_marked ? "sub/" : "sub";
        EXPECT_NE(body.find("<a href=\"" + sub + "\">"), std::string::npos) << row.why << body;
        EXPECT_EQ(ListCommands(server.Commands()), row.lists) << row.why;
        EXPECT_EQ(server.Commands().at(2), "TYPE A") << row.why;
        client_.Close();
        client_.Close();
    }
}

TEST_F(FtpClientTest, EscapedNamesAreDecodedForTheServer) {
    WriteFile(root_ + "/pub/x y&z.txt", "odd name\n");
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/x%20y%26z.txt"));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(BodyOf(fetched.file), "odd name\n");
    std::vector<std::string> commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "RETR /pub/x y&z.txt"), commands.end());

    // An escaped line end would end the command early and smuggle in another: never sent.
    client_.Close();
    fetched = Fetch(server.Url("/pub/a.txt%0D%0ADELE%20a.txt"));
    EXPECT_EQ(fetched.status, 404);
    for (const std::string& command : server.Commands()) EXPECT_NE(command.substr(0, 4), "DELE");
}

TEST_F(FtpClientTest, DirectoryNamedWithoutItsSlashIsRedirected) {
    WriteFile(root_ + "/pub/sub/deep.txt", "deep\n");
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    Fetched fetched = Fetch(server.Url("/pub/sub"));
    EXPECT_EQ(fetched.status, 301);
    EXPECT_TRUE(fetched.complete);
    EXPECT_EQ(fetched.file,
              "HTTP/1.0 301 OK(via ftputil)\r\nLocation: " + server.Url("/pub/sub/") + "\r\n\r\n");
    std::vector<std::string> words = Words(server.Commands());
    ASSERT_GE(words.size(), 2u);
    EXPECT_EQ(words[words.size() - 2], "RETR");
    EXPECT_EQ(words.back(), "CWD");

    // Neither a file nor a directory; nor is a directory path that does not exist.
    for (const char* path : {"/pub/none", "/none/"}) {
        client_.Close();
        EXPECT_EQ(Fetch(server.Url(path)).status, 404) << path;
    }
    // The kept session still retrieves files by their absolute paths.
    client_.Close();
    EXPECT_EQ(BodyOf(Fetch(server.Url("/pub/a.txt")).file), "hello ftp\n");
}

TEST_F(FtpClientTest, UpdateCheckAsksDateAndSizeOnly) {
    FtpServer server(Options());
    ASSERT_TRUE(server.Running());
    auto check = [this](const std::string& url, const std::string& extra) {
        Fetched fetched;
        fetched.request = client_.Request(kMethodHead, url, nullptr, extra);
        fetched.status = client_.ReadStatus().status;
        ChannelCode code = ChannelCode::kOk;
        while (client_.State() >= kAfterLf && client_.State() <= kAfterChunkData)
            client_.Step(code);
        fetched.complete = client_.State() == kMessageComplete;
        client_.FinishTransfer();
        std::fflush(client_.TempStream());
        fetched.file = ReadAll(client_.TempPath());
        client_.Close();
        return fetched;
    };
    Fetched fetched = check(server.Url("/pub/big.bin"), "");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_TRUE(fetched.complete);
    EXPECT_EQ(fetched.file,
              "HTTP/1.0 200 OK(via ftputil)\r\nContent-length: 5000\r\n"
              "Last-modified: " +
                  HttpDate(kFileTime) + "\r\n\r\n");
    fetched =
        check(server.Url("/pub/big.bin"), "If-Modified-Since: " + HttpDate(kFileTime) + "\r\n");
    EXPECT_EQ(fetched.status, 304);
    // A listing has no date: the check answers at once and leaves the decision to the GET.
    fetched = check(server.Url("/pub/"), "");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.file, "HTTP/1.0 200 OK(via ftputil)\r\n\r\n");
    std::vector<std::string> words = Words(server.Commands());
    for (const char* never : {"PORT", "PASV", "RETR", "MLSD", "LIST"}) {
        EXPECT_EQ(std::count(words.begin(), words.end(), never), 0) << never;
    }
    EXPECT_EQ(std::count(words.begin(), words.end(), "MDTM"), 2);
}

// A scripted server that answers every command and, on RETR, opens the data connection from
// 127.0.0.2, an address other than the control connection's peer.
void ForeignDataServer(test::Connection& connection) {
    connection.Send("220 ready\r\n");
    int data_port = 0;
    for (std::string line; connection.ReadUntil("\r\n", line, 5000); line.clear()) {
        if (line.starts_with("USER")) connection.Send("230 in\r\n");
        if (line.starts_with("TYPE")) connection.Send("200 ok\r\n");
        if (line.starts_with("MDTM") || line.starts_with("SIZE")) connection.Send("550 no\r\n");
        if (line.starts_with("PORT")) {
            unsigned h[6] = {};
            std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4],
                        &h[5]);
            data_port = static_cast<int>(h[4] * 256 + h[5]);
            connection.Send("200 ok\r\n");
        }
        if (line.starts_with("RETR")) {
            connection.Send("150 here it comes\r\n");
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
            sockaddr_in to = MakeAddress(ResolveHost("127.0.0.1"), data_port);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0 &&
                ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
                ::send(fd, "stolen", 6, MSG_NOSIGNAL);
            }
            ::close(fd);
        }
        if (line.starts_with("QUIT")) {
            connection.Send("221 bye\r\n");
            return;
        }
    }
}

TEST_F(FtpClientTest, DataConnectionFromAnotherAddressIsRefusedWithinTheTimeOut) {
    test::TestOrigin server{test::TestOrigin::ConnectionHandler(ForeignDataServer)};
    client_.SetTimeout(1);
    auto start = std::chrono::steady_clock::now();
    std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/f";
    ASSERT_EQ(client_.Request(kMethodGet, url, nullptr, ""), ChannelCode::kOk);
    // status 400: reported as "Error"
    EXPECT_EQ(client_.ReadStatus(), testing::Failed(ChannelCode::kConnectFailed));
    EXPECT_EQ(client_.Buffer().status_token, "400");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(4));
    client_.Close();
}

TEST_F(FtpClientTest, UnresolvableHostAndUnknownSchemes) {
    EXPECT_EQ(client_.Request(kMethodGet, "ftp://no.such.host.invalid/a", nullptr, ""),
              ChannelCode::kHostUnknown);
    EXPECT_EQ(client_.Request(kMethodGet, "gopher://127.0.0.1/a", nullptr, ""),
              ChannelCode::kUnknownScheme);
}

TEST_F(FtpClientTest, ThroughTheFtpProxyAnFtpUrlIsAnHttpRequest) {
    test::TestOrigin proxy([](const test::Request&) {
        return test::Reply().Send(test::HttpResponse("HTTP/1.0 200 OK", "x"));
    });
    ProxySetting ftp_proxy{0, "127.0.0.1", proxy.Port()};
    client_.SetEnvironment(nullptr, &ftp_proxy);
    ASSERT_EQ(client_.Request(kMethodGet, "ftp://files.example.org/pub/a.txt", nullptr, ""),
              ChannelCode::kOk);
    EXPECT_EQ(client_.ReadStatus().status, 200);
    ASSERT_TRUE(proxy.WaitForRequests(1));
    EXPECT_EQ(proxy.Requests()[0].RequestLine(), "GET ftp://files.example.org/pub/a.txt HTTP/1.1");
    EXPECT_FALSE(client_.FtpTransfer());
}

// ---- reply parsing --------------------------------------------------------------------------

TEST(FtpReplyScan, LastLineIsTheOneWithABlankAfterTheCode) {
    struct Row {
        std::string data;
        int reply_class;
        std::size_t length;
        const char* why;
    };
    const std::vector<Row> rows = {
        {"220 ready\r\n", 2, 11, "single line"},
        {"220-Welcome\r\n220-to\r\n220 go\r\n", 2, 29, "multi-line greeting"},
        {"230-a\r\n text line\r\n230 b\r\n", 2, 26, "continuation without a code"},
        {"150 open\r\n226 done\r\n", 1, 10, "only the first reply is taken"},
        {"220-Welcome\r\n220 go", 0, 0, "last line without its line feed"},
        {"22", 0, 0, "cut short"},
        {"abc def\r\n331 pw\r\n", 3, 17, "a line not starting with a digit"},
        {"0xx last\r\n", 0, 0, "class 0 is no reply"},
    };
    for (const Row& row : rows) {
        std::size_t length = 0;
        EXPECT_EQ(ScanReply(row.data, length), row.reply_class) << row.why;
        if (row.reply_class != 0) {
            EXPECT_EQ(length, row.length) << row.why;
        }
    }
}

TEST(FtpReplyScan, ModificationTimeAndSize) {
    EXPECT_EQ(ParseModificationTime("213 20231114221320"), kFileTime);
    EXPECT_EQ(ParseModificationTime("213 20231114221320.123"), kFileTime);  // fraction ignored
    EXPECT_EQ(ParseModificationTime("213 20231114221320999"), kFileTime);   // at most 14 digits
    EXPECT_EQ(ParseModificationTime("213 19-20231114221320"), kFileTime);   // a non-digit restarts
    EXPECT_EQ(ParseModificationTime("213 2023111422"), 0);                  // too few digits
    EXPECT_EQ(ParseModificationTime("213 20231314221320"), 0);              // month 13
    EXPECT_EQ(ParseFileSize("213 5000"), 5000);
    EXPECT_EQ(ParseFileSize("213  42\r\n"), 42);
    EXPECT_EQ(ParseFileSize("213 big"), -1);
    EXPECT_EQ(ParseFileSize("213 99999999999999999999"), -1);  // does not fit
    EXPECT_EQ(ParseFileSize("213"), -1);
}

}  // namespace
}  // namespace kelvra::net

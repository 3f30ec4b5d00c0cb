#pragma once
// A real FTP server on 127.0.0.1 for tests: Debian's pyftpdlib, started by the constructor
// and terminated (by its process id) when the object leaves scope.
//
//   kelvra::test::FtpServer server({.root = dir, .anonymous = true});
//   ASSERT_TRUE(server.Running());
//   ... "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/pub/a.txt" ...
//   server.Commands();  // every command line the server received, in order

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelvra::test {

struct FtpServerOptions {
    std::string root;                // served directory
    std::vector<std::string> users;  // "name:password"
    bool anonymous = false;
    std::string banner = "loopback ftp";  // lines separated by '|': a multi-line greeting
    bool no_size = false;                 // SIZE answered 502
    bool refuse_port = false;             // PORT answered 500
    std::vector<std::string> unknown;     // commands answered 500 and left out of FEAT
    bool dos_list = false;                // LIST in the MS-DOS form
    int reply_delay_ms = 0;               // every command is answered this much later
};

class FtpServer {
  public:
    explicit FtpServer(const FtpServerOptions& options);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool Running() const { return port_ > 0; }
    int Port() const { return port_; }
    // "ftp://" + user_info + "127.0.0.1:<port>" + path.
    std::string Url(const std::string& path, const std::string& user_info = "") const;
    // The command lines received so far (CR LF removed). The server writes each line before
    // it answers, so every command the client got a reply to is there.
    std::vector<std::string> Commands() const;
    void Stop();

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_path_;
};

}  // namespace kelvra::test

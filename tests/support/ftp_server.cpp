#include "support/ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string_view>

extern char** environ;

namespace kelvra::test {

namespace {

constexpr int kStartTimeoutMs = 15000;
// The interpreter that has python3-pyftpdlib (a python3 earlier on PATH may not).
constexpr const char* kPython = "/usr/bin/python3";

std::string ScriptPath() {
    // The compiled-in source directory, not __FILE__: a compiler cache may make that relative.
    const char* source = std::getenv("KELVRA_SOURCE");
    return std::string(source ? source : KELVRA_SOURCE_DIR) + "/tests/support/ftp_server.py";
}

std::vector<std::string> Arguments(const FtpServerOptions& options, const std::string& log) {
    std::vector<std::string> args = {kPython,    ScriptPath(),   "--root", options.root,
                                     "--banner", options.banner, "--log",  log};
    for (const std::string& user : options.users) {
        args.push_back("--user");
        args.push_back(user);
    }
    if (options.anonymous) args.push_back("--anonymous");
    if (options.no_size) args.push_back("--no-size");
    if (options.refuse_port) args.push_back("--refuse-port");
    for (const std::string& command : options.unknown) {
        args.push_back("--unknown");
        args.push_back(command);
    }
    if (options.dos_list) args.push_back("--dos-list");
    if (options.reply_delay_ms > 0) {
        args.push_back("--reply-delay-ms");
        args.push_back(std::to_string(options.reply_delay_ms));
    }
    return args;
}

// Reads the first line the child prints, waiting at most kStartTimeoutMs.
std::string ReadFirstLine(int fd) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[64];
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return line;
}

}  // namespace

FtpServer::FtpServer(const FtpServerOptions& options) {
    log_path_ = options.root + ".commands";
    std::ofstream(log_path_, std::ios::trunc).close();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args = Arguments(options, log_path_);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(out[0]);
        return;
    }
    std::string line = ReadFirstLine(out[0]);
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) Stop();
}

FtpServer::~FtpServer() {
    Stop();
}

void FtpServer::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    port_ = 0;
    if (!log_path_.empty()) ::unlink(log_path_.c_str());
}

std::string FtpServer::Url(const std::string& path, const std::string& user_info) const {
    return "ftp://" + user_info + "127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> FtpServer::Commands() const {
    std::vector<std::string> commands;
    std::ifstream log(log_path_);
    for (std::string line; std::getline(log, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        commands.push_back(line);
    }
    return commands;
}

}  // namespace kelvra::test

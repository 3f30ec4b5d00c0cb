#pragma once
// A running local server over a fresh data directory for the server tests: a store with
// objects put in place by the test, a recording monitor, and clients (raw sockets, curl).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "server/htmlserver.h"
#include "store/headerlist_cookie.h"
#include "util/tempdir.h"

namespace kelvra::server::testing {

// Records everything the server reports.
class RecordingMonitor final : public ServerMonitor {
  public:
    void StatusText(int row, int column, std::string_view text) override {
        std::lock_guard lock(mutex_);
        texts_.emplace_back(row, column, std::string(text));
        changed_.notify_all();
    }
    void ModeChanged(std::uint32_t mode) override {
        std::lock_guard lock(mutex_);
        modes_.push_back(mode);
        changed_.notify_all();
    }
    void AcquireUrl(std::string_view url) override {
        std::lock_guard lock(mutex_);
        acquired_.emplace_back(url);
    }
    void OpenProxySetting() override {
        std::lock_guard lock(mutex_);
        ++proxy_settings_;
    }
    void StoreFailed(int, std::string_view url) override {
        std::lock_guard lock(mutex_);
        store_failures_.emplace_back(url);
        changed_.notify_all();
    }

    bool WaitForStoreFailure(std::string_view url, int timeout_ms = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
            return std::find(store_failures_.begin(), store_failures_.end(), url) !=
                   store_failures_.end();
        });
    }

    bool SawState(std::string_view text) const {
        std::lock_guard lock(mutex_);
        for (const auto& [row, column, t] : texts_) {
            if (column == kColumnState && t == text) return true;
        }
        return false;
    }
    // Waits until text was shown in column (any row).
    bool WaitForText(int column, std::string_view text, int timeout_ms = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
            for (const auto& [row, c, t] : texts_) {
                if (c == column && t == text) return true;
            }
            return false;
        });
    }
    std::vector<std::uint32_t> Modes() const {
        std::lock_guard lock(mutex_);
        return modes_;
    }
    std::vector<std::string> Acquired() const {
        std::lock_guard lock(mutex_);
        return acquired_;
    }
    int ProxySettings() const {
        std::lock_guard lock(mutex_);
        return proxy_settings_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::tuple<int, int, std::string>> texts_;
    std::vector<std::uint32_t> modes_;
    std::vector<std::string> acquired_;
    std::vector<std::string> store_failures_;
    int proxy_settings_ = 0;
};

// A plain TCP client on loopback.
class RawClient final {
  public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<std::uint16_t>(port));
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) Close();
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    // Everything until the server closes (or timeout_ms passes without data).
    std::string ReadAll(int timeout_ms = 5000) {
        std::string out;
        while (ReadSome(out, timeout_ms) > 0) {
        }
        return out;
    }
    // Reads until out holds at least n bytes; false on close or time-out first.
    bool ReadAtLeast(std::string& out, std::size_t n, int timeout_ms = 5000) {
        while (out.size() < n) {
            if (ReadSome(out, timeout_ms) <= 0) return false;
        }
        return true;
    }
    // 1 the server closed, 0 time-out, -1 data arrived instead.
    int WaitForClose(int timeout_ms) {
        std::string out;
        const int r = ReadSome(out, timeout_ms);
        return r == 0 && out.empty() ? (closed_ ? 1 : 0) : -1;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    // Bytes read (> 0), 0 on close or time-out (closed_ tells which).
    int ReadSome(std::string& out, int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || ::poll(&p, 1, timeout_ms) <= 0) return 0;
        char block[16384];
        const ssize_t n = ::recv(fd_, block, sizeof block, 0);
        if (n <= 0) {
            closed_ = true;
            return 0;
        }
        out.append(block, static_cast<std::size_t>(n));
        return static_cast<int>(n);
    }

    int fd_ = -1;
    bool closed_ = false;
};

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileText(const std::string& path, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs curl with the arguments (a shell word list the test controls) through the server as
// proxy; returns what curl wrote to stdout.
inline std::string Curl(int port, const std::string& arguments) {
    const std::string command =
        "curl -s -S -m 20 --noproxy '' --proxy http://127.0.0.1:" + std::to_string(port) + " " +
        arguments + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    std::string out;
    if (!pipe) return out;
    char block[4096];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, pipe.get())) > 0) out.append(block, n);
    return out;
}

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        WriteFileText(dir_.Path("kelvra.mtf"), "html text/html\ngif image/gif\ntxt text/plain\n");
        store_ = std::make_unique<store::headerlist_cookie>(dir_.Path(), "index.html", std::nullopt,
                                                            dir_.Path("kelvra.mtf"));
        settings_.bind_address = htonl(INADDR_LOOPBACK);
        settings_.threads = 4;
        settings_.keep_alive = 5;
        settings_.get_timeout = 5;
    }
    void TearDown() override { server_.reset(); }

    // Creates and starts the server in mode on a free port.
    void Start(std::uint32_t mode, AccessTable access = {}) {
        server_ =
            std::make_unique<HtmlServer>(*store_, settings_, monitor_, dir_.Path("prohibit.orv"));
        ASSERT_TRUE(server_->Start(0, mode, std::move(access)));
        port_ = server_->Port();
        ASSERT_GT(port_, 0);
    }

    // Puts body under url's local name with the record text (header lines, LF-ended).
    void Put(const std::string& url, const std::string& record, std::string_view body) {
        store::treelistnode* node = store_->Add(url, record, true);
        ASSERT_NE(node, nullptr);
        std::string path;
        store_->GetNodeLocalPath(node, path);
        WriteFileText(path, body);
    }

    // One request on a fresh connection; the whole answer up to the close.
    std::string Ask(std::string_view request) {
        RawClient client(port_);
        EXPECT_TRUE(client.ok());
        EXPECT_TRUE(client.Send(request));
        return client.ReadAll();
    }

    kelvra::testing::TempDir dir_;
    std::unique_ptr<store::headerlist_cookie> store_;
    ServerSettings settings_;
    RecordingMonitor monitor_;
    std::unique_ptr<HtmlServer> server_;
    int port_ = 0;
};

inline const std::string kSignature =
    "<HR><I>Orvane 5.3.0(Win32; GUI; ix86)<BR>by Tesmarin</I></BODY></HTML>";

}  // namespace kelvra::server::testing

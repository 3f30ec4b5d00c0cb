#include "support/test_origin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace kelvra::test {

namespace {

constexpr std::size_t kReadBlock = 16384;

std::size_t HeaderEnd(std::string_view bytes) {
    std::size_t crlf = bytes.find("\r\n\r\n");
    std::size_t lf = bytes.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) {
        return crlf + 4;
    }
    return lf + 2;
}

// Value of Content-Length in a header block (case ignored), 0 when absent.
std::size_t ContentLength(std::string_view head) {
    constexpr std::string_view kName = "content-length:";
    std::size_t at = 0;
    while ((at = head.find('\n', at)) != std::string_view::npos) {
        ++at;
        if (head.size() - at < kName.size()) break;
        bool same = std::equal(kName.begin(), kName.end(), head.begin() + at, [](char a, char b) {
            return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
        });
        if (same)
            return std::strtoull(std::string(head.substr(at + kName.size())).c_str(), nullptr, 10);
    }
    return 0;
}

}  // namespace

std::string_view Request::Head() const {
    std::size_t end = HeaderEnd(bytes);
    return std::string_view(bytes).substr(0, end == std::string_view::npos ? bytes.size() : end);
}

std::string_view Request::Body() const {
    return std::string_view(bytes).substr(Head().size());
}

std::string_view Request::RequestLine() const {
    std::string_view line = std::string_view(bytes).substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

Reply& Reply::Send(std::string bytes) {
    steps_.push_back({std::move(bytes), 0, 0});
    return *this;
}

Reply& Reply::SendFragmented(std::string bytes, std::size_t piece, int pause_ms) {
    steps_.push_back({std::move(bytes), std::max<std::size_t>(piece, 1), pause_ms});
    return *this;
}

Reply& Reply::Delay(int ms) {
    steps_.push_back({std::string(), 0, ms});
    return *this;
}

Reply& Reply::Close() {
    end_ = End::kClose;
    return *this;
}

Reply& Reply::CutAfter(std::size_t n) {
    cut_ = n;
    end_ = End::kClose;
    return *this;
}

Reply& Reply::Hold() {
    end_ = End::kHold;
    return *this;
}

Reply& Reply::Repeat(std::string piece) {
    repeated_ = std::move(piece);
    end_ = End::kRepeat;
    return *this;
}

Connection::Connection(int fd, int index, TestOrigin& origin)
    : fd_(fd), index_(index), origin_(origin) {}

Connection::~Connection() {
    Close();
}

void Connection::Close() {
    if (ssl_ != nullptr) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Connection::AcceptTls(ssl_ctx_st* context) {
    // A client that neither shakes hands nor leaves must not hold the origin's shutdown.
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ssl_ = SSL_new(context);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) return false;
    ERR_clear_error();
    if (SSL_accept(ssl_) == 1) {
        timeval none{0, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
        return true;
    }
    SSL_free(ssl_);
    ssl_ = nullptr;
    return false;
}

bool Connection::StartsWithHandshake() {
    constexpr unsigned char kHandshakeRecord = 0x16;  // TLS record type (RFC 8446 §5.1)
    unsigned char first = 0;
    return WaitReadable(10000) == 1 && ::recv(fd_, &first, 1, MSG_PEEK) == 1 &&
           first == kHandshakeRecord;
}

void Connection::Tunnel(int port) {
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 ||
        ::send(upstream, pending_.data(), pending_.size(), MSG_NOSIGNAL) < 0) {
        if (upstream >= 0) ::close(upstream);
        return;
    }
    pending_.clear();
    char block[kReadBlock];
    for (;;) {
        pollfd fds[3] = {{fd_, POLLIN, 0}, {upstream, POLLIN, 0}, {origin_.StopFd(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
        if (fds[2].revents & POLLIN) break;
        const int from = (fds[0].revents & (POLLIN | POLLHUP)) ? fd_ : upstream;
        const int to = from == fd_ ? upstream : fd_;
        const ssize_t n = ::recv(from, block, sizeof block, 0);
        if (n <= 0 || ::send(to, block, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    ::close(upstream);
}

bool Connection::Resumed() const {
    return ssl_ != nullptr && SSL_session_reused(ssl_) == 1;
}

long Connection::ReceiveSome(char* data, std::size_t capacity) {
    if (ssl_ == nullptr) return static_cast<long>(::recv(fd_, data, capacity, 0));
    ERR_clear_error();
    return SSL_read(ssl_, data, static_cast<int>(capacity));
}

long Connection::SendSome(std::string_view bytes) {
    if (ssl_ == nullptr) {
        return static_cast<long>(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    }
    ERR_clear_error();
    return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
}

int Connection::WaitReadable(int timeout_ms) {
    if (fd_ < 0) return -1;
    if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return 1;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {origin_.StopFd(), POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(fds, 2, timeout_ms);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0 || (fds[1].revents & POLLIN)) return -1;
    return rc == 0 ? 0 : 1;
}

bool Connection::WaitWritable() {
    if (fd_ < 0) return false;
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {origin_.StopFd(), POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(fds, 2, -1);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && !(fds[1].revents & POLLIN) && (fds[0].revents & POLLOUT);
}

bool Connection::FillBuffer(int timeout_ms) {
    if (WaitReadable(timeout_ms) != 1) return false;
    char block[kReadBlock];
    long n = ReceiveSome(block, sizeof block);
    if (n <= 0) return false;
    origin_.Record(index_, std::string_view(block, static_cast<std::size_t>(n)));
    pending_.append(block, static_cast<std::size_t>(n));
    return true;
}

bool Connection::ReadRequest(std::string& request, int timeout_ms) {
    std::size_t end;
    while ((end = HeaderEnd(pending_)) == std::string::npos) {
        if (!FillBuffer(timeout_ms)) return false;
    }
    std::size_t total = end + ContentLength(std::string_view(pending_).substr(0, end));
    while (pending_.size() < total) {
        if (!FillBuffer(timeout_ms)) return false;
    }
    request = pending_.substr(0, total);
    pending_.erase(0, total);
    return true;
}

bool Connection::ReadUntil(std::string_view delimiter, std::string& out, int timeout_ms) {
    std::size_t at;
    while ((at = pending_.find(delimiter)) == std::string::npos) {
        if (!FillBuffer(timeout_ms)) return false;
    }
    out = pending_.substr(0, at + delimiter.size());
    pending_.erase(0, out.size());
    return true;
}

bool Connection::Send(std::string_view bytes) {
    while (!bytes.empty() && fd_ >= 0) {
        long n = SendSome(bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return bytes.empty();
}

// Waits ms milliseconds, returning early (false) when the origin stops.
bool Connection::Pause(int ms) {
    if (ms <= 0) return true;
    pollfd stop{origin_.StopFd(), POLLIN, 0};
    return ::poll(&stop, 1, ms) == 0;
}

bool Connection::SendStep(const Reply::Step& step, std::size_t& budget) {
    std::string_view bytes = step.bytes;
    if (bytes.size() > budget) bytes = bytes.substr(0, budget);
    budget -= bytes.size();
    if (step.piece == 0) return Pause(step.pause_ms) && Send(bytes);
    for (std::size_t at = 0; at < bytes.size(); at += step.piece) {
        if (!Pause(step.pause_ms) || !Send(bytes.substr(at, step.piece))) return false;
    }
    return true;
}

bool Connection::Play(const Reply& reply) {
    std::size_t budget = reply.Cut();
    for (const Reply::Step& step : reply.Steps()) {
        if (!SendStep(step, budget)) return false;
        if (budget == 0) break;
    }
    if (reply.Ending() == Reply::End::kHold) WaitForClientClose();
    while (reply.Ending() == Reply::End::kRepeat && WaitWritable() && Send(reply.Repeated())) {
    }
    return reply.Ending() == Reply::End::kKeep;
}

void Connection::WaitForClientClose() {
    char block[kReadBlock];
    while (WaitReadable(-1) == 1) {
        long n = ReceiveSome(block, sizeof block);
        if (n <= 0) return;
        origin_.Record(index_, std::string_view(block, static_cast<std::size_t>(n)));
    }
}

TestOrigin::TestOrigin(Handler handler) : handler_(std::move(handler)) {
    Start();
}

TestOrigin::TestOrigin(std::vector<Reply> canned) : canned_(std::move(canned)), use_canned_(true) {
    Start();
}

TestOrigin::TestOrigin(ConnectionHandler handler) : connection_handler_(std::move(handler)) {
    Start();
}

TestOrigin::~TestOrigin() {
    Stop();
    SSL_CTX_free(tls_);
}

TestOrigin& TestOrigin::UseTls(TestCertificate certificate, bool plain_too) {
    // A client that leaves mid-reply must not end the test process (OpenSSL writes with write(2)).
    ::signal(SIGPIPE, SIG_IGN);
    const CertificateFiles files = CertificateFor(certificate);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr ||
        SSL_CTX_use_certificate_chain_file(context, files.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, files.key.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context);
        throw std::runtime_error("test origin: cannot load " + files.certificate);
    }
    std::lock_guard lock(mutex_);
    SSL_CTX_free(tls_);
    tls_ = context;
    plain_too_ = plain_too;
    return *this;
}

int TestOrigin::ResumedHandshakes() const {
    std::lock_guard lock(mutex_);
    return resumed_;
}

void TestOrigin::Start() {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (stop_fd_ < 0 || listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        throw std::runtime_error("test origin: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(local.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

void TestOrigin::Stop() {
    if (stopping_.exchange(true)) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t rc = ::write(stop_fd_, &one, sizeof one);
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    ::close(listen_fd_);
    ::close(stop_fd_);
}

void TestOrigin::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        int index;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(received_.size());
            received_.emplace_back();
        }
        changed_.notify_all();
        workers_.emplace_back([this, fd, index] { Serve(fd, index); });
    }
}

void TestOrigin::Serve(int fd, int index) {
    Connection connection(fd, index, *this);
    SSL_CTX* tls = nullptr;
    bool plain_too = false;
    {
        std::lock_guard lock(mutex_);
        tls = tls_;
        plain_too = plain_too_;
    }
    if (tls != nullptr && (!plain_too || connection.StartsWithHandshake())) {
        if (!connection.AcceptTls(tls)) return;
        std::lock_guard lock(mutex_);
        resumed_ += connection.Resumed() ? 1 : 0;
    }
    if (connection_handler_) return connection_handler_(connection);
    ServeRequests(connection);
}

void TestOrigin::ServeRequests(Connection& connection) {
    for (int index = 0;; ++index) {
        Request request{connection.Index(), index, {}, connection.Secure()};
        if (!connection.ReadRequest(request.bytes)) return;
        bool have = false;
        Reply reply = NextReply(std::move(request), have);
        if (!have || !connection.Play(reply)) return;
    }
}

// A canned reply is taken under the same lock that records its request: a test that saw the
// request may rely on the reply being spoken for, even when another connection asks next.
Reply TestOrigin::NextReply(Request request, bool& have) {
    if (!use_canned_) {
        RecordRequest(request);
        have = static_cast<bool>(handler_);
        return have ? handler_(request) : Reply();
    }
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        have = next_canned_ < canned_.size();
        if (have) reply = canned_[next_canned_++];
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
    return reply;
}

void TestOrigin::Record(int connection, std::string_view bytes) {
    {
        std::lock_guard lock(mutex_);
        received_[static_cast<std::size_t>(connection)].append(bytes);
    }
    changed_.notify_all();
}

void TestOrigin::RecordRequest(Request request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

std::string TestOrigin::Url(std::string_view path) const {
    std::lock_guard lock(mutex_);
    return (tls_ != nullptr ? "https://" : "http://") + HostPort() + std::string(path);
}

std::string TestOrigin::HttpUrl(std::string_view path) const {
    return "http://" + HostPort() + std::string(path);
}

std::string TestOrigin::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<Request> TestOrigin::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string TestOrigin::Received(int connection) const {
    std::lock_guard lock(mutex_);
    if (connection < 0 || static_cast<std::size_t>(connection) >= received_.size()) return {};
    return received_[static_cast<std::size_t>(connection)];
}

int TestOrigin::Connections() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(received_.size());
}

bool TestOrigin::WaitForRequests(std::size_t n, int timeout_ms) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return requests_.size() >= n; });
}

bool TestOrigin::WaitForConnections(int n, int timeout_ms) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return static_cast<int>(received_.size()) >= n; });
}

std::string HttpResponse(std::string_view status_line, std::string_view body,
                         std::string_view headers) {
    std::string out(status_line);
    out += "\r\n";
    out += headers;
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

std::string ChunkedBody(const std::vector<std::string>& pieces, std::string_view extension,
                        std::string_view trailer) {
    std::string out;
    char size[32];
    for (const std::string& piece : pieces) {
        std::snprintf(size, sizeof size, "%zx", piece.size());
        out += size;
        out += extension;
        out += "\r\n" + piece + "\r\n";
    }
    out += "0\r\n";
    out += trailer;
    out += "\r\n";
    return out;
}

}  // namespace kelvra::test

#include "net/transport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "net/result_codes.h"
#include "util/strutil.h"

namespace kelvra::net {

bool PlainTransport::Connect(int fd, const sockaddr_in& peer) {
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    } while (rc < 0 && errno == EINTR);
    return rc == 0 || errno == EINPROGRESS;
}

ChannelCode PlainTransport::Established(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) {
        if (error != 0) errno = error;  // the caller tells the user why
        return ChannelCode::kConnectFailed;
    }
    return ChannelCode::kOk;
}

long PlainTransport::Send(int fd, const char* data, std::size_t length) {
    ssize_t n;
    do {
        n = ::send(fd, data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long PlainTransport::Receive(int fd, char* data, std::size_t capacity, bool dont_wait) {
    ssize_t n;
    do {
        n = ::recv(fd, data, capacity, dont_wait ? MSG_DONTWAIT : 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && dont_wait && (errno == EAGAIN || errno == EWOULDBLOCK)) return -2;
    return n < 0 ? -1 : static_cast<long>(n);
}

int PlainTransport::Wait(int fd, short events, int timeout_ms) {
    pollfd entry{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&entry, 1, timeout_ms);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -1;
    return rc == 0 ? 0 : entry.revents;
}

int PlainTransport::Peek(int fd) {
    char byte;
    ssize_t n;
    do {
        n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return 1;
    if (n == 0) return -1;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -2;
}

int PlainTransport::Close(int fd) {
    return ::close(fd) == 0 ? 0 : -1;
}

namespace {

bool IsReservedInvalidName(std::string_view host) {
    while (!host.empty() && host.back() == '.') host.remove_suffix(1);
    constexpr std::string_view kInvalid = "invalid";
    if (host.size() < kInvalid.size()) return false;
    std::string_view tail = host.substr(host.size() - kInvalid.size());
    if (!util::EqualsNoCase(tail, kInvalid)) return false;
    return host.size() == kInvalid.size() || host[host.size() - kInvalid.size() - 1] == '.';
}

}  // namespace

std::uint32_t ResolveHost(const char* host) {
    in_addr dotted{};
    if (::inet_pton(AF_INET, host, &dotted) == 1) return dotted.s_addr;
    if (*host == '\0' || IsReservedInvalidName(host)) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    std::uint32_t address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return address;
}

sockaddr_in MakeAddress(std::uint32_t address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = address;
    return peer;
}

}  // namespace kelvra::net

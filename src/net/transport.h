#pragma once
// The one seam through which a channel's bytes pass: connect, send, receive, wait/peek, close.
// TLS for https (net/tls.h) is a Transport layered over the plain one, so the protocol code
// above it does not know which it talks through.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "net/result_codes.h"

namespace kelvra::net {

class Transport {
  public:
    virtual ~Transport() = default;

    // Starts connecting the (non-blocking) socket fd; true when the connection is under way
    // or already made.
    [[nodiscard]] virtual bool Connect(int fd, const sockaddr_in& peer) = 0;
    // The socket became writable after Connect: kOk when the connection stands (a
    // handshake of an encrypting transport belongs here), else kConnectFailed.
    [[nodiscard]] virtual ChannelCode Established(int fd) = 0;
    // Bytes sent (> 0), or 0 / -1 on failure. Never raises SIGPIPE.
    [[nodiscard]] virtual long Send(int fd, const char* data, std::size_t length) = 0;
    // Bytes received (> 0), 0 when the peer closed, -1 on error; with dont_wait, -2 when
    // nothing is available at once.
    [[nodiscard]] virtual long Receive(int fd, char* data, std::size_t capacity,
                                       bool dont_wait) = 0;
    // poll(2) on fd for events: the returned events, 0 on time-out, -1 on error.
    // timeout_ms below 0 waits without limit.
    [[nodiscard]] virtual int Wait(int fd, short events, int timeout_ms) = 0;
    // After the socket became readable: 1 data waiting, 0 nothing after all, -1 peer closed,
    // -2 error.
    [[nodiscard]] virtual int Peek(int fd) = 0;
    // 0, or -1 when closing failed.
    virtual int Close(int fd) = 0;
    // A request or command went out and its answer is awaited from now on: a transport that
    // limits how long the peer may stay silent starts measuring here, so that our own pause
    // before a request never counts as the peer's silence.
    virtual void AwaitAnswer() {}
};

class PlainTransport final : public Transport {
  public:
    bool Connect(int fd, const sockaddr_in& peer) override;
    ChannelCode Established(int fd) override;
    long Send(int fd, const char* data, std::size_t length) override;
    long Receive(int fd, char* data, std::size_t capacity, bool dont_wait) override;
    int Wait(int fd, short events, int timeout_ms) override;
    int Peek(int fd) override;
    int Close(int fd) override;
};

// IPv4 address of a host in network byte order: a dotted address directly, otherwise the first
// address of a name lookup; 0 when it does not resolve. Names under the reserved ".invalid"
// domain (RFC 6761 §6.4) never resolve and never reach a name server.
std::uint32_t ResolveHost(const char* host);

// Socket address for an address in network byte order and a port in host order.
sockaddr_in MakeAddress(std::uint32_t address, int port);

}  // namespace kelvra::net

#pragma once
// The relay of one server connection: passes the browser's request on to the origin (or the
// upstream proxy) and its answer back, storing the answer in the storing proxy modes; a
// CONNECT request becomes a tunnel.

#include <chrono>
#include <cstdint>
#include <string>

#include "net/message_reader.h"
#include "net/proxy.h"
#include "net/tcpip.h"
#include "net/tls.h"

namespace kelvra::store {
class treelistnode;
}  // namespace kelvra::store

namespace kelvra::server {

class SubServerProc;
struct ServerContext;

// The request being served, taken out of the reader.
struct ClientRequest {
    int kind = net::kNoMessage;
    std::string header;  // header block as received, with its blank line
    std::string body;    // body bytes received so far
    std::int64_t content_length = -1;
    std::int64_t body_left = 0;  // body bytes still to come from the browser
    std::string target;
    bool keep_alive = false;
};

// Reads the response of the origin and hands each raw block to the relay as it arrives.
class RelayReader final : public net::InvestHeaderClass {
  public:
    void ConsumeBody(const char* data, std::size_t count) override;
    // Raw body bytes received since the last call (what is to be passed on).
    std::string TakePending();

  private:
    std::string pending_;
};

class ProxyRelay {
  public:
    // client is the connection the request came on; request is its current request.
    ProxyRelay(SubServerProc& client, ClientRequest& request, ServerContext& context);
    ~ProxyRelay();
    ProxyRelay(const ProxyRelay&) = delete;
    ProxyRelay& operator=(const ProxyRelay&) = delete;

    // Answers the current request through the origin: a keep-alive result (kAnswerClose, ...).
    [[nodiscard]] int Relay(std::uint32_t mode);
    // Closes the origin connection (kept between requests of a kept client connection).
    void CloseRelay();
    // Whether a CONNECT to port may be answered by ending TLS here and relaying the requests
    // inside: a port a tunnel may reach, and no upstream https proxy (which the tunnel uses).
    bool MayIntercept(int port) const;
    bool TunnelPortAllowed(int port) const;
    // Opens the checked TLS connection to host:port that the intercepted requests go through:
    // kOk, kCertificateRefused (see CertificateProblem), or the failure's code.
    [[nodiscard]] net::ChannelCode OpenSecureOrigin(const std::string& host, int port);
    net::CertificateProblem CertificateProblem();

  private:
    [[nodiscard]] int RelayUsingStored(std::uint32_t mode, store::treelistnode* node);
    [[nodiscard]] int RelayWithStoredDate(std::uint32_t mode, store::treelistnode* node);
    [[nodiscard]] int RelayAndStore(std::uint32_t mode, bool* not_modified);
    [[nodiscard]] int PlainRelay(bool* not_modified);
    // What came back from the origin for the relayed request.
    enum class OriginAnswer {
        kResponse,  // a response header
        kGarbled,   // bytes that never became a whole header: passed on as they are
        kSilent,    // nothing before the origin closed or the time ran out
        kNone,      // no request went out whole, or the answer was no response
    };

    [[nodiscard]] net::ChannelCode ConnectAndSendRequest();
    // Connects to the origin (or the proxy) of url, over checked TLS for an https URL;
    // a kept connection to the same server is used again.
    [[nodiscard]] net::ChannelCode ConnectOrigin(const std::string& url);
    net::TlsTransport& Tls();
    [[nodiscard]] net::ChannelCode ConnectRelay();
    std::string BuildRelayRequest() const;
    [[nodiscard]] OriginAnswer RelayBodyAndReadHeader();
    [[nodiscard]] OriginAnswer ReadResponseHeader();
    bool WaitForOrigin();
    [[nodiscard]] bool PassResponse(bool suppress);
    void SendRelayedResponseHeader(bool& ok);
    bool IsLoopToSelf() const;
    [[nodiscard]] int Tunnel(std::uint32_t mode);
    std::chrono::milliseconds TunnelIdleLimit() const;
    // Passes bytes both ways until a side closes or the tunnel stays idle too long.
    void PassTunnel();

    SubServerProc& client_;
    ClientRequest& request_;
    ServerContext& context_;
    net::TCPIPProxyClass relay_;
    RelayReader response_reader_;
};

}  // namespace kelvra::server

#pragma once
// The HTTP client of one connection: writes a request, reads the response into the channel's
// temporary file.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "net/message_reader.h"
#include "net/proxy.h"
#include "net/tls.h"

namespace kelvra::net {

// A request line, fixed lines and extra lines that do not fit fail the request.
inline constexpr std::size_t kRequestBufferSize = 6144;

enum RequestMethod { kMethodGet = 0, kMethodPost = 1, kMethodHead = 2 };

// Per-server connection setting: keep-alive value (1 or more asks to keep the connection)
// and HTTP version as major * 10 + minor (11, 10).
struct ConnectionSetting {
    int keep_alive = 0;
    int version = 11;
};

// An upstream proxy's answer to CONNECT larger than this is refused.
inline constexpr std::size_t kMaxTunnelReply = 8192;

class httputils : public TCPIPProxyClass, public InvestHeaderClass {
  public:
    // The channel's bytes pass through a TLS layer over transport; it stays transparent for
    // http URLs.
    explicit httputils(std::unique_ptr<Transport> transport = nullptr);

    // Builds the request for url (method kMethodGet/Post/Head; setting may be null; extra
    // lines each end in CR LF), decides the route, connects and sends it. Returns a channel
    // code (kHostUnknown when the target does not resolve, kSendFailed also for a request
    // that does not fit kRequestBufferSize). An https URL goes over TLS (kCertificateRefused:
    // see Tls().Problem()); through a proxy in a tunnel opened with CONNECT, which carries the
    // Proxy-Authorization line of extra instead of the request.
    [[nodiscard]] virtual ChannelCode SendRequest(int method, std::string_view url,
                                                  const ConnectionSetting* setting,
                                                  std::string_view extra);
    // Opens the temporary file empty and reads the response header (and the body bytes that
    // came with it): the status code (100..999), or no status with the failure's channel code
    // (kOk when the peer closed before sending a header; kReceiveFailed for a header that is no
    // response). A redirection cut short still gives its status and closes the connection; cut
    // after its Location line it is a complete answer without body.
    [[nodiscard]] virtual ResponseStatus ReadStatus();

    // Also forgets the requests still awaiting their answers.
    ChannelCode Close() override;

    // The header block of the last request as sent.
    const std::string& RequestText() const { return request_; }
    TlsTransport& Tls() { return static_cast<TlsTransport&>(transport()); }
    // false: https certificates are accepted without checking (the user chose so knowingly).
    void SetCertificateCheck(bool verify) { verify_certificates_ = verify; }

  private:
    bool BuildRequest(int method, std::string_view url, const ConnectionSetting* setting,
                      std::string_view extra);
    // Readies the TLS layer for url, closing a kept connection that speaks to another server;
    // false when that connection still owes answers (the request must not go out).
    bool PrepareLayer(std::string_view url);
    // CONNECT through the proxy to url's server, then the TLS handshake.
    ChannelCode OpenTunnel(std::string_view url, std::string_view proxy_authorization);
    bool Tunnelled() const { return tunnel_; }

    std::string request_;
    // One entry per request sent and not yet answered: whether its answer has no body (HEAD),
    // so that answers to pipelined requests are framed by their own request.
    std::deque<bool> unanswered_;
    bool verify_certificates_ = true;
    bool tunnel_ = false;  // the current request goes through a CONNECT tunnel
};

}  // namespace kelvra::net

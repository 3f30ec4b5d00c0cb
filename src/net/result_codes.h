#pragma once
// Result codes of the TCP channel. kOk is success; every failure has its own code so that
// callers (fetch transaction, FTP client, local server) can tell a dead peer from a local fault.
// The numbers are kept as they always were.

namespace kelvra::net {

enum class ChannelCode : int {
    kOk = 0,
    kUnknownScheme = -1,      // a request for a URL that is not http, https or ftp
    kNoSocket = 0x8002,       // socket not created, or no target address
    kConnectFailed = 0x8003,  // refused, or failed while waiting
    kCloseFailed = 0x8004,
    kHostUnknown = 0x8005,  // host name did not resolve
    kSendFailed = 0x8006,
    kReceiveFailed = 0x8007,
    kBindFailed = 0x8008,    // server sockets
    kListenFailed = 0x8009,  // server sockets
    kTimedOut = 0x800B,
    kTempFileFailed = 0x800D,      // writing the temporary response file
    kBlockingModeFailed = 0x800E,  // switching (non-)blocking mode
    kSocketOptionFailed = 0x800F,  // server sockets
    kCertificateRefused = 0x8010,  // https: the server's certificate did not verify
};

// What reading a response header found: the answer's status, or why there is none.
struct ResponseStatus {
    int status = 0;                          // HTTP status (100..999); 0 when no answer arrived
    ChannelCode failure = ChannelCode::kOk;  // with status 0; kOk: the peer closed first

    bool Arrived() const { return status != 0; }
    bool PeerClosed() const { return status == 0 && failure == ChannelCode::kOk; }
    bool operator==(const ResponseStatus&) const = default;
};

}  // namespace kelvra::net

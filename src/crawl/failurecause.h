#pragma once
// Why a fetch did not bring what was asked for, in words a user can act on: the server's
// answer, the name look-up, the connection, a time-out and its phase, the peer's protocol, or
// the local file with the system's error number.

#include <string>
#include <string_view>

#include "net/result_codes.h"

namespace kelvra::crawl {

enum class FailureKind {
    kNone,
    kHttpStatus,    // the server answered 4xx/5xx (or another status not taken)
    kNameNotFound,  // the host name did not resolve
    kRefused,       // nobody listens on the port
    kConnect,       // connecting failed otherwise (error_number tells why)
    kTimedOut,      // in phase
    kClosed,        // the server closed the connection in phase
    kNetwork,       // sending or receiving failed (error_number tells why)
    kProtocol,      // the peer's bytes broke the protocol (detail)
    kCertificate,   // the server's https certificate was refused (detail: why)
    kLocalFile,     // writing detail (a path) failed with error_number
    kTooLarge,      // beyond the size limit
    kStopped,       // the user stopped the crawl
};

enum class FetchPhase { kConnect, kSend, kHeader, kBody };

struct FailureCause {
    FailureKind kind = FailureKind::kNone;
    FetchPhase phase = FetchPhase::kConnect;
    int http_status = 0;
    std::string detail;  // the reason phrase, the protocol fault, or the path
    int error_number = 0;

    bool Failed() const { return kind != FailureKind::kNone; }
    // One line, without line end: "HTTP 404 Not Found", "connection refused", ...
    std::string Text() const;
};

// header: the response header block as received; its first line gives the reason phrase.
FailureCause HttpFailure(int status, std::string_view header);
// What a channel code of phase means; error_number is errno right after the failure.
FailureCause ChannelFailure(net::ChannelCode code, FetchPhase phase, int error_number);
FailureCause LocalFileFailure(std::string path, int error_number);
FailureCause CertificateFailure(std::string_view why);

}  // namespace kelvra::crawl

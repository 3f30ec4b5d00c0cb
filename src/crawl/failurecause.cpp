#include "crawl/failurecause.h"

#include <cerrno>
#include <cstring>

namespace kelvra::crawl {
namespace {

std::string_view PhaseText(FetchPhase phase) {
    switch (phase) {
        case FetchPhase::kConnect:
            return "while connecting";
        case FetchPhase::kSend:
            return "while sending the request";
        case FetchPhase::kHeader:
            return "before the response header";
        case FetchPhase::kBody:
            return "during the body";
    }
    return {};
}

std::string SystemText(int error_number) {
    if (error_number == 0) return "unknown reason";
    return std::string(std::strerror(error_number)) + " (errno " + std::to_string(error_number) +
           ")";
}

std::string_view ReasonPhrase(std::string_view header) {
    const std::string_view line = header.substr(0, header.find_first_of("\r\n"));
    // "HTTP/1.1 404 Not Found": the words after the status code.
    const std::size_t code = line.find(' ');
    if (code == std::string_view::npos) return {};
    const std::size_t reason = line.find(' ', code + 1);
    return reason == std::string_view::npos ? std::string_view() : line.substr(reason + 1);
}

}  // namespace

std::string FailureCause::Text() const {
    const std::string phase_text(PhaseText(phase));
    switch (kind) {
        case FailureKind::kNone:
            return {};
        case FailureKind::kHttpStatus:
            return "HTTP " + std::to_string(http_status) + (detail.empty() ? "" : " " + detail);
        case FailureKind::kNameNotFound:
            return "host name not found";
        case FailureKind::kRefused:
            return "connection refused";
        case FailureKind::kConnect:
            return "cannot connect: " + SystemText(error_number);
        case FailureKind::kTimedOut:
            return "timed out " + phase_text;
        case FailureKind::kClosed:
            return "connection closed by the server " + phase_text;
        case FailureKind::kNetwork:
            return "network error " + phase_text + ": " + SystemText(error_number);
        case FailureKind::kProtocol:
            return "protocol error: " + detail;
        case FailureKind::kCertificate:
            return "certificate refused: " + detail;
        case FailureKind::kLocalFile:
            return "local file error: " + detail + ": " + SystemText(error_number);
        case FailureKind::kTooLarge:
            return "larger than the size limit";
        case FailureKind::kStopped:
            return "stopped";
    }
    return {};
}

FailureCause HttpFailure(int status, std::string_view header) {
    FailureCause cause;
    cause.kind = FailureKind::kHttpStatus;
    cause.http_status = status;
    cause.detail = std::string(ReasonPhrase(header));
    return cause;
}

FailureCause ChannelFailure(net::ChannelCode code, FetchPhase phase, int error_number) {
    FailureCause cause;
    cause.phase = phase;
    cause.error_number = error_number;
    switch (code) {
        case net::ChannelCode::kHostUnknown:
            cause.kind = FailureKind::kNameNotFound;
            break;
        case net::ChannelCode::kConnectFailed:
        case net::ChannelCode::kNoSocket:
            cause.kind =
                error_number == ECONNREFUSED ? FailureKind::kRefused : FailureKind::kConnect;
            break;
        case net::ChannelCode::kTimedOut:
            cause.kind = FailureKind::kTimedOut;
            break;
        case net::ChannelCode::kOk:  // the peer closed
            cause.kind = FailureKind::kClosed;
            break;
        case net::ChannelCode::kUnknownScheme:
            cause.kind = FailureKind::kProtocol;
            cause.detail = "scheme not supported";
            break;
        default:
            cause.kind = FailureKind::kNetwork;
            break;
    }
    return cause;
}

FailureCause LocalFileFailure(std::string path, int error_number) {
    FailureCause cause;
    cause.kind = FailureKind::kLocalFile;
    cause.detail = std::move(path);
    cause.error_number = error_number;
    return cause;
}

FailureCause CertificateFailure(std::string_view why) {
    FailureCause cause;
    cause.kind = FailureKind::kCertificate;
    cause.detail = std::string(why);
    return cause;
}

}  // namespace kelvra::crawl

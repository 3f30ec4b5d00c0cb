#include "net/inetutils.h"

#include "net/result_codes.h"
#include "net/url.h"

namespace kelvra::net {

// The control connection shares this channel's transport with the data connection.
inetutils::inetutils(std::unique_ptr<Transport> transport)
    : httputils(std::move(transport)),
      ftp_(std::make_unique<ftputils>(*this, std::make_unique<SharedTransport>(Tls().Inner()))) {}

inetutils::~inetutils() {
    ftp_->Quit();
}

void inetutils::SetEnvironment(const ProxySetting* http, const ProxySetting* ftp,
                               const ProxySetting* https) {
    http_proxy_ = http;
    ftp_proxy_ = ftp;
    https_proxy_ = https;
}

void inetutils::SetFtpLogin(std::string user, std::string password) {
    ftp_->SetDefaultLogin(std::move(user), std::move(password));
}

ChannelCode inetutils::Request(int method, std::string_view url, const ConnectionSetting* setting,
                               std::string_view extra) {
    std::string escaped = EscapeUnsafeBytes(url);
    keep_control_ = false;
    ftp_transfer_ = false;
    const bool https = escaped.starts_with("https://");
    if (https || escaped.starts_with("http://")) {
        ftp_->Quit();
        SetProxy(https ? https_proxy_ : http_proxy_, https ? kHttpsPort : kHttpPort);
        return SendRequest(method, escaped, setting, extra);
    }
    if (!escaped.starts_with("ftp://")) return ChannelCode::kUnknownScheme;
    SetProxy(ftp_proxy_, kFtpPort);
    DecideRoute(escaped);
    if (ViaProxy()) {
        ftp_->Quit();
        return SendRequest(method, escaped, setting, extra);
    }
    // The data connection of the previous file, if any, is this channel's socket.
    httputils::Close();
    const ChannelCode code = ftp_->FtpRequest(escaped, extra, method == kMethodHead);
    ftp_transfer_ = code == ChannelCode::kOk;
    return code;
}

ResponseStatus inetutils::ReadStatus() {
    if (!ftp_transfer_) return httputils::ReadStatus();
    const ResponseStatus read = ftp_->SyntheticResponse();
    return read.status == kFtpFailed ? ResponseStatus{0, ChannelCode::kConnectFailed} : read;
}

void inetutils::FinishTransfer() {
    if (ftp_transfer_) keep_control_ = ftp_->FinishTransfer();
}

ChannelCode inetutils::Close() {
    // Through httputils: requests sent on the closed connection are never answered.
    const ChannelCode code = httputils::Close();
    if (!keep_control_) ftp_->Quit();
    keep_control_ = false;
    ftp_transfer_ = false;
    return code;
}

bool inetutils::IsClosed() const {
    return TCPIPClient::IsClosed() && !ftp_->ControlOpen();
}

void inetutils::TakeDataConnection(int fd) {
    TCPIPClient::Close();
    socket_ = fd;
}

}  // namespace kelvra::net

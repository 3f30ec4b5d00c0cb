#pragma once
// The connection a worker slot owns: http and https URLs (and ftp URLs through an FTP-capable
// proxy) go out as HTTP, ftp URLs otherwise through the FTP client, whose data connection then
// becomes this channel's socket so that the body is read like an HTTP body.

#include <memory>
#include <string>
#include <string_view>

#include "net/ftputils.h"
#include "net/httputils.h"

namespace kelvra::net {

class inetutils : public httputils {
  public:
    explicit inetutils(std::unique_ptr<Transport> transport = nullptr);
    ~inetutils() override;

    // The proxy settings in force (not owned; may be null) and the FTP log-in defaults.
    void SetEnvironment(const ProxySetting* http, const ProxySetting* ftp,
                        const ProxySetting* https = nullptr);
    void SetFtpLogin(std::string user, std::string password);

    // Sends the request for url: a channel code, kUnknownScheme for a scheme other than http,
    // https and ftp.
    [[nodiscard]] virtual ChannelCode Request(int method, std::string_view url,
                                              const ConnectionSetting* setting,
                                              std::string_view extra);
    // For a direct FTP transfer the synthetic response's status (400 becomes no status with
    // kConnectFailed); otherwise the HTTP status.
    ResponseStatus ReadStatus() override;
    // After the body of an FTP transfer: the data connection is closed and the server's
    // completion reply read.
    virtual void FinishTransfer();
    // Closes the channel; for FTP also the control connection (QUIT), except right after a
    // cleanly finished transfer, when the control connection stays for the next file of the
    // same server.
    ChannelCode Close() override;
    // Open while either the channel or the FTP control connection is open.
    bool IsClosed() const override;

    // Takes the FTP data connection as this channel's socket.
    void TakeDataConnection(int fd);
    bool FtpTransfer() const { return ftp_transfer_; }
    ftputils& Ftp() { return *ftp_; }

  private:
    const ProxySetting* http_proxy_ = nullptr;
    const ProxySetting* ftp_proxy_ = nullptr;
    const ProxySetting* https_proxy_ = nullptr;
    std::unique_ptr<ftputils> ftp_;
    bool ftp_transfer_ = false;  // the current request went out over FTP
    bool keep_control_ = false;  // the next Close leaves the control connection open
};

}  // namespace kelvra::net

#pragma once
// The installation's own certificate authority: the local server answers a browser's CONNECT
// with a certificate for the host that this authority signs, so that a browser trusting it
// reads stored https pages at their own address. Made on first use (an EC P-256 key, mode
// 0600, and a self-signed certificate in PEM beside it in the settings directory); leaf
// certificates are made per host when first asked for and kept for the process.

#include <openssl/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kelvra::net {

inline constexpr char kAuthorityCertificateName[] = "kelvra-ca.pem";
inline constexpr char kAuthorityKeyName[] = "kelvra-ca.key";

class LocalAuthority final {
  public:
    ~LocalAuthority();
    LocalAuthority(const LocalAuthority&) = delete;
    LocalAuthority& operator=(const LocalAuthority&) = delete;

    // The authority kept in directory (ending in '/'), made there when it has none (or only
    // half of one); null with the reason in error when it can be neither read nor made.
    static std::unique_ptr<LocalAuthority> Open(const std::string& directory, std::string& error);

    const std::string& CertificatePath() const { return certificate_path_; }
    // A server context presenting a certificate for host (a name, or a dotted address as IP
    // SAN) signed by this authority; null when it could not be made. Safe from any thread;
    // the context lives as long as the authority.
    SSL_CTX* ServerContextFor(const std::string& host);

    // Owners of OpenSSL objects (defined in the .cpp).
    struct Keys;

  private:
    LocalAuthority(std::string certificate_path, std::unique_ptr<Keys> keys);

    std::string certificate_path_;
    std::unique_ptr<Keys> keys_;
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)>> contexts_;
};

// The authority of one settings directory, opened when first needed and then shared; the
// server's workers ask it per intercepted connection.
class LazyAuthority final {
  public:
    explicit LazyAuthority(std::string directory) : directory_(std::move(directory)) {}
    // Null when the authority cannot be opened (tried again on the next call).
    LocalAuthority* Get();

  private:
    std::string directory_;
    std::mutex mutex_;
    std::unique_ptr<LocalAuthority> authority_;
};

}  // namespace kelvra::net

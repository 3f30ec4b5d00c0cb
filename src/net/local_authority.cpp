#include "net/local_authority.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <filesystem>

#include "platform/rawfile.h"

#include "net/openssl_calls.h"  // last: it renames OpenSSL's functions

namespace kelvra::net {
namespace {

constexpr long kDaySeconds = 24L * 60 * 60;
// Browsers refuse leaf certificates valid longer than 398 days; the authority lasts ten years.
constexpr long kLeafDays = 397;
constexpr long kAuthorityDays = 3650;
constexpr int kSerialBits = 127;
constexpr char kAuthorityName[] = "KelvraW local authority";
constexpr unsigned char kAlpnHttp11[] = "\x08http/1.1";

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(BIGNUM* number) const { BN_free(number); }
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertificatePtr = std::unique_ptr<X509, Free>;
using BioPtr = std::unique_ptr<BIO, Free>;

KeyPtr NewKey() {
    return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

std::string Pem(bool (*write)(BIO*, void*), void* object) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get(), object)) return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string KeyPem(EVP_PKEY* key) {
    return Pem(
        [](BIO* bio, void* k) {
            return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0,
                                            nullptr, nullptr) == 1;
        },
        key);
}

std::string CertificatePem(X509* certificate) {
    return Pem(
        [](BIO* bio, void* c) { return PEM_write_bio_X509(bio, static_cast<X509*>(c)) == 1; },
        certificate);
}

BioPtr FileBio(const std::string& path) {
    return BioPtr(BIO_new_file(path.c_str(), "r"));
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> extension(
        X509V3_EXT_nconf_nid(nullptr, &context, nid, value.c_str()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool SetNameAndDates(X509* certificate, const std::string& common_name, long days) {
    std::unique_ptr<BIGNUM, Free> serial(BN_new());
    X509_NAME* subject = X509_get_subject_name(certificate);
    const auto* name = reinterpret_cast<const unsigned char*>(common_name.c_str());
    return serial && BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr &&
           X509_set_version(certificate, X509_VERSION_3) &&
           X509_gmtime_adj(X509_getm_notBefore(certificate), -kDaySeconds) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(certificate), days * kDaySeconds) != nullptr &&
           X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, name, -1, -1, 0);
}

CertificatePtr MakeAuthorityCertificate(EVP_PKEY* key) {
    CertificatePtr certificate(X509_new());
    X509* c = certificate.get();
    const bool made = c != nullptr && SetNameAndDates(c, kAuthorityName, kAuthorityDays) &&
                      X509_set_issuer_name(c, X509_get_subject_name(c)) &&
                      X509_set_pubkey(c, key) &&
                      AddExtension(c, c, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
                      AddExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                      AddExtension(c, c, NID_subject_key_identifier, "hash") &&
                      X509_sign(c, key, EVP_sha256()) > 0;
    return made ? std::move(certificate) : nullptr;
}

bool IsAddress(const std::string& host) {
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

int SelectHttp11(SSL*, const unsigned char** out, unsigned char* out_length,
                 const unsigned char* offered, unsigned int offered_length, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, out_length, kAlpnHttp11, sizeof kAlpnHttp11 - 1, offered,
                              offered_length) != OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_NOACK;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

}  // namespace

struct LocalAuthority::Keys {
    KeyPtr authority_key;
    CertificatePtr authority;
    KeyPtr leaf_key;  // one key for every leaf: making a key per host would slow each new host
};

LocalAuthority::LocalAuthority(std::string certificate_path, std::unique_ptr<Keys> keys)
    : certificate_path_(std::move(certificate_path)), keys_(std::move(keys)) {}

LocalAuthority::~LocalAuthority() = default;

std::unique_ptr<LocalAuthority> LocalAuthority::Open(const std::string& directory,
                                                     std::string& error) {
    if (!OpenSslLoaded()) {
        error = OpenSslLoadError();
        return nullptr;
    }
    const std::string key_path = directory + kAuthorityKeyName;
    const std::string certificate_path = directory + kAuthorityCertificateName;
    auto keys = std::make_unique<Keys>();
    BioPtr key_file = FileBio(key_path);
    BioPtr certificate_file = FileBio(certificate_path);
    if (key_file && certificate_file) {
        keys->authority_key.reset(
            PEM_read_bio_PrivateKey(key_file.get(), nullptr, nullptr, nullptr));
        keys->authority.reset(PEM_read_bio_X509(certificate_file.get(), nullptr, nullptr, nullptr));
        if (!keys->authority_key || !keys->authority ||
            X509_check_private_key(keys->authority.get(), keys->authority_key.get()) != 1) {
            error = "the authority in " + directory + " cannot be read";
            return nullptr;
        }
    } else {
        // Half an authority (a lost certificate or key) is useless: both are made anew.
        std::error_code ignored;
        std::filesystem::create_directories(directory, ignored);
        keys->authority_key = NewKey();
        if (keys->authority_key)
            keys->authority = MakeAuthorityCertificate(keys->authority_key.get());
        if (!keys->authority ||
            !platform::ReplaceFileContents(key_path, KeyPem(keys->authority_key.get()), 0600) ||
            !platform::ReplaceFileContents(certificate_path, CertificatePem(keys->authority.get()),
                                           0644)) {
            error = "the authority cannot be written to " + directory;
            return nullptr;
        }
    }
    keys->leaf_key = NewKey();
    if (!keys->leaf_key) {
        error = "no key could be made";
        return nullptr;
    }
    return std::unique_ptr<LocalAuthority>(new LocalAuthority(certificate_path, std::move(keys)));
}

SSL_CTX* LocalAuthority::ServerContextFor(const std::string& host) {
    std::lock_guard lock(mutex_);
    if (auto found = contexts_.find(host); found != contexts_.end()) return found->second.get();
    CertificatePtr leaf(X509_new());
    X509* c = leaf.get();
    X509* issuer = keys_->authority.get();
    const std::string san = (IsAddress(host) ? "IP:" : "DNS:") + host;
    const bool made = c != nullptr && SetNameAndDates(c, host, kLeafDays) &&
                      X509_set_issuer_name(c, X509_get_subject_name(issuer)) &&
                      X509_set_pubkey(c, keys_->leaf_key.get()) &&
                      AddExtension(c, issuer, NID_basic_constraints, "critical,CA:FALSE") &&
                      AddExtension(c, issuer, NID_key_usage, "critical,digitalSignature") &&
                      AddExtension(c, issuer, NID_ext_key_usage, "serverAuth") &&
                      AddExtension(c, issuer, NID_subject_alt_name, san) &&
                      AddExtension(c, issuer, NID_authority_key_identifier, "keyid:always") &&
                      X509_sign(c, keys_->authority_key.get(), EVP_sha256()) > 0;
    if (!made) return nullptr;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()),
                                                         SSL_CTX_free);
    SSL_CTX* ctx = context.get();
    if (ctx == nullptr || SSL_CTX_use_certificate(ctx, c) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, keys_->leaf_key.get()) != 1) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_AUTO_RETRY);
    SSL_CTX_set_alpn_select_cb(ctx, SelectHttp11, nullptr);
    return contexts_.emplace(host, std::move(context)).first->second.get();
}

LocalAuthority* LazyAuthority::Get() {
    std::lock_guard lock(mutex_);
    if (!authority_) {
        std::string error;
        authority_ = LocalAuthority::Open(directory_, error);
    }
    return authority_.get();
}

}  // namespace kelvra::net

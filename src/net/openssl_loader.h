#pragma once
// OpenSSL is loaded when the first TLS connection or certificate needs it, not by the dynamic
// loader at every start: mapping and relocating libcrypto costs each process close to a
// millisecond, and most runs fetch http:// only. The functions the TLS code calls are looked
// up once; openssl_calls.h routes the calls of a source file through them.

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <string>

// X(name) for every OpenSSL function the TLS code calls, macros of OpenSSL's headers expanded.
// clang-format off
#define KELVRA_OPENSSL_FUNCTIONS(X) \
    X(BIO_clear_flags) \
    X(BIO_ctrl) \
    X(BIO_free) \
    X(BIO_get_data) \
    X(BIO_get_new_index) \
    X(BIO_meth_new) \
    X(BIO_meth_set_create) \
    X(BIO_meth_set_ctrl) \
    X(BIO_meth_set_read) \
    X(BIO_meth_set_write) \
    X(BIO_new) \
    X(BIO_new_file) \
    X(BIO_s_mem) \
    X(BIO_set_data) \
    X(BIO_set_flags) \
    X(BIO_set_init) \
    X(BN_free) \
    X(BN_new) \
    X(BN_rand) \
    X(BN_to_ASN1_INTEGER) \
    X(ERR_clear_error) \
    X(EVP_PKEY_Q_keygen) \
    X(EVP_PKEY_free) \
    X(EVP_sha256) \
    X(PEM_read_bio_PrivateKey) \
    X(PEM_read_bio_X509) \
    X(PEM_write_bio_PrivateKey) \
    X(PEM_write_bio_X509) \
    X(SSL_CTX_ctrl) \
    X(SSL_CTX_free) \
    X(SSL_CTX_new) \
    X(SSL_CTX_sess_set_new_cb) \
    X(SSL_CTX_set_alpn_protos) \
    X(SSL_CTX_set_alpn_select_cb) \
    X(SSL_CTX_set_default_verify_paths) \
    X(SSL_CTX_set_options) \
    X(SSL_CTX_use_PrivateKey) \
    X(SSL_CTX_use_certificate) \
    X(SSL_SESSION_free) \
    X(SSL_SESSION_up_ref) \
    X(SSL_accept) \
    X(SSL_connect) \
    X(SSL_ctrl) \
    X(SSL_free) \
    X(SSL_get0_param) \
    X(SSL_get_error) \
    X(SSL_get_ex_data) \
    X(SSL_get_verify_result) \
    X(SSL_new) \
    X(SSL_peek) \
    X(SSL_pending) \
    X(SSL_read) \
    X(SSL_select_next_proto) \
    X(SSL_session_reused) \
    X(SSL_set1_host) \
    X(SSL_set_bio) \
    X(SSL_set_ex_data) \
    X(SSL_set_session) \
    X(SSL_set_verify) \
    X(SSL_shutdown) \
    X(SSL_write) \
    X(TLS_client_method) \
    X(TLS_server_method) \
    X(X509V3_EXT_nconf_nid) \
    X(X509V3_set_ctx) \
    X(X509_EXTENSION_free) \
    X(X509_NAME_add_entry_by_txt) \
    X(X509_VERIFY_PARAM_set1_ip_asc) \
    X(X509_add_ext) \
    X(X509_check_private_key) \
    X(X509_free) \
    X(X509_get_serialNumber) \
    X(X509_get_subject_name) \
    X(X509_getm_notAfter) \
    X(X509_getm_notBefore) \
    X(X509_gmtime_adj) \
    X(X509_new) \
    X(X509_set_issuer_name) \
    X(X509_set_pubkey) \
    X(X509_set_version) \
    X(X509_sign)
// clang-format on

namespace kelvra::net {

struct OpenSslFunctions {
#define KELVRA_OPENSSL_MEMBER(name) decltype(&::name) name = nullptr;
    KELVRA_OPENSSL_FUNCTIONS(KELVRA_OPENSSL_MEMBER)
#undef KELVRA_OPENSSL_MEMBER
};

// Loads libssl (and with it libcrypto) on the first call from any thread; false when the
// library or one of the functions is missing, and then on every later call too.
bool OpenSslLoaded();
// Why OpenSslLoaded() is false; empty while it is true.
const std::string& OpenSslLoadError();
// The functions; a caller has seen OpenSslLoaded() return true.
const OpenSslFunctions& OpenSsl();

}  // namespace kelvra::net

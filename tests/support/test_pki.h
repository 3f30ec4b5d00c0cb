#pragma once
// A certificate authority and server certificates for the https tests, made with the openssl
// command the first time a test needs them and kept for the test run (beside the test binaries
// when KELVRA_BIN is set, so the processes of one ctest run share them; otherwise per process).
// Making them points SSL_CERT_FILE at the test authority, which is how the client under test
// comes to trust it.

#include <string>

namespace kelvra::test {

enum class TestCertificate {
    kGood,        // for 127.0.0.1, 127.0.0.2 and localhost, issued by the test authority
    kWrongHost,   // for wrong.invalid only, issued by the test authority
    kExpired,     // for 127.0.0.1 and localhost, validity ended in 2020
    kSelfSigned,  // for 127.0.0.1 and localhost, issued by itself
};

struct CertificateFiles {
    std::string certificate;  // PEM
    std::string key;          // PEM
};

// The files of one certificate (throws std::runtime_error when openssl fails).
CertificateFiles CertificateFor(TestCertificate which);
// The test authority's certificate (PEM).
std::string TestAuthorityFile();

}  // namespace kelvra::test

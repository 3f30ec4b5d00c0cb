#include "support/test_pki.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace kelvra::test {

namespace {

// EC keys: made in milliseconds, unlike RSA.
constexpr const char* kMakeAll = R"(set -e
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
san="subjectAltName=IP:127.0.0.1,IP:127.0.0.2,DNS:localhost"
openssl req -x509 $key -keyout ca.key -out ca.pem -days 3650 -subj "/CN=Kelvra Test Authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
for name in good wrong expired; do
  openssl req $key -keyout $name.key -out $name.csr -subj "/CN=$name"
done
printf '%s\nbasicConstraints=CA:FALSE\n' "$san" > server.ext
printf 'subjectAltName=DNS:wrong.invalid\nbasicConstraints=CA:FALSE\n' > wrong.ext
openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile server.ext -out good.pem
openssl x509 -req -in wrong.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile wrong.ext -out wrong.pem
touch index.txt
echo 1000 > serial
cat > ca.cnf <<EOF
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
certificate = ca.pem
private_key = ca.key
serial = serial
default_md = sha256
policy = any
[any]
commonName = supplied
[server]
$san
basicConstraints = CA:FALSE
EOF
openssl ca -batch -notext -config ca.cnf -extensions server -startdate 20200101000000Z \
  -enddate 20200201000000Z -in expired.csr -out expired.pem
openssl req -x509 $key -keyout self.key -out self.pem -days 3650 -subj "/CN=self" -addext "$san"
)";

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string MakeIn(const std::string& parent) {
    std::string pattern = parent + "/pki.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("test pki: mkdtemp");
    const std::string dir = name.data();
    const std::string script = dir + "/make.sh";
    std::ofstream(script) << kMakeAll;
    const std::string command = "cd " + ShellQuote(dir) + " && sh make.sh > make.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("test pki: openssl failed, see " + dir + "/make.log");
    }
    return dir;
}

// A directory of this process alone, removed when the process ends.
struct OwnDirectory {
    ~OwnDirectory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// The directory holding the files: shared by the run when possible (made aside, then renamed
// into place, so concurrent test processes never see half of it).
std::string Directory() {
    const char* bin = std::getenv("KELVRA_BIN");
    if (bin == nullptr || *bin == '\0') {
        static OwnDirectory own;
        const char* tmp = std::getenv("TMPDIR");
        own.path = MakeIn(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
        return own.path;
    }
    const std::string shared = std::string(bin) + "/test-pki";
    struct stat info {};
    if (::stat((shared + "/self.pem").c_str(), &info) == 0) return shared;
    const std::string made = MakeIn(bin);
    if (::rename(made.c_str(), shared.c_str()) != 0) {
        // Another test process was first.
        std::error_code ignored;
        std::filesystem::remove_all(made, ignored);
    }
    return shared;
}

const std::string& Ready() {
    static std::once_flag once;
    static std::string dir;
    std::call_once(once, [] {
        dir = Directory();
        ::setenv("SSL_CERT_FILE", (dir + "/ca.pem").c_str(), 1);
    });
    return dir;
}

}  // namespace

CertificateFiles CertificateFor(TestCertificate which) {
    const std::string& dir = Ready();
    const char* name = "good";
    switch (which) {
        case TestCertificate::kGood:
            break;
        case TestCertificate::kWrongHost:
            name = "wrong";
            break;
        case TestCertificate::kExpired:
            name = "expired";
            break;
        case TestCertificate::kSelfSigned:
            name = "self";
            break;
    }
    return {dir + "/" + name + ".pem", dir + "/" + name + ".key"};
}

std::string TestAuthorityFile() {
    return Ready() + "/ca.pem";
}

}  // namespace kelvra::test

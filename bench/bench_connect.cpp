// A CONNECT-and-TLS load client for bench/serve (wrk speaks no CONNECT): many clients at once
// open a tunnel through the local server (or go straight to an https server), make the TLS
// handshake and fetch one page; then a few kept TLS connections fetch it as fast as they can.
//
//   bench_connect PORT PROXY|direct HOST PATH CA_FILE STORM_CLIENTS KEPT_CLIENTS SECONDS
//
// Prints one line: "storm <clients> failures <n> ms <total>" and one line
// "kept <req/s> p50 <ms> p99 <ms> errors <n>". Every wait is bounded by a 10 s time-out.

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutSeconds = 10;
constexpr std::size_t kBlock = 16 * 1024;

struct Options {
    int port = 0;
    bool via_proxy = true;
    std::string host;
    std::string path;
    std::string ca_file;
    int storm_clients = 0;
    int kept_clients = 0;
    int seconds = 0;
};

// The proxy's answer to CONNECT, read byte by byte so that nothing of the TLS stream is taken.
bool OpenTunnel(int fd, const Options& options) {
    const std::string request =
        "CONNECT " + options.host + ":443 HTTP/1.1\r\nHost: " + options.host + ":443\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return false;
    }
    std::string answer;
    char c;
    while (answer.size() < 4096 && !answer.ends_with("\r\n\r\n")) {
        if (::recv(fd, &c, 1, 0) != 1) return false;
        answer.push_back(c);
    }
    return answer.starts_with("HTTP/1.0 200") || answer.starts_with("HTTP/1.1 200");
}

class Client {
  public:
    Client(SSL_CTX* context, const Options& options) : options_(options) {
        fd_ = kelvra::bench::ConnectLoopback(options.port, {kTimeoutSeconds, true});
        if (fd_ < 0 || (options.via_proxy && !OpenTunnel(fd_, options))) return;
        ssl_.reset(SSL_new(context));
        SSL_set_fd(ssl_.get(), fd_);
        SSL_set_tlsext_host_name(ssl_.get(), options.host.c_str());
        SSL_set1_host(ssl_.get(), options.host.c_str());
        ok_ = SSL_connect(ssl_.get()) == 1;
    }
    ~Client() {
        ssl_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // One GET on the connection: true when a 200 answer came whole.
    bool Fetch() {
        if (!ok_) return false;
        const std::string request = "GET " + options_.path + " HTTP/1.1\r\nHost: " + options_.host +
                                    "\r\nConnection: keep-alive\r\n\r\n";
        if (SSL_write(ssl_.get(), request.data(), static_cast<int>(request.size())) <= 0) {
            return ok_ = false;
        }
        std::size_t header_end = std::string::npos;
        while ((header_end = pending_.find("\r\n\r\n")) == std::string::npos) {
            if (!ReadMore()) return ok_ = false;
        }
        const long length = ContentLength(pending_.substr(0, header_end));
        const bool good = pending_.starts_with("HTTP/1.") && pending_.compare(9, 3, "200") == 0;
        const std::size_t total = header_end + 4 + static_cast<std::size_t>(std::max(0L, length));
        while (pending_.size() < total) {
            if (!ReadMore()) return ok_ = false;
        }
        pending_.erase(0, total);
        return good && length >= 0;
    }

  private:
    bool ReadMore() {
        char block[kBlock];
        const int got = SSL_read(ssl_.get(), block, sizeof block);
        if (got <= 0) return false;
        pending_.append(block, static_cast<std::size_t>(got));
        return true;
    }
    static long ContentLength(std::string header) {
        std::transform(header.begin(), header.end(), header.begin(), ::tolower);
        const std::size_t at = header.find("\r\ncontent-length:");
        return at == std::string::npos ? -1 : std::atol(header.c_str() + at + 17);
    }

    const Options& options_;
    int fd_ = -1;
    std::unique_ptr<SSL, void (*)(SSL*)> ssl_{nullptr, SSL_free};
    std::string pending_;
    bool ok_ = false;
};

// Every client at once: connect, tunnel, handshake, one page. The number that failed.
int Storm(SSL_CTX* context, const Options& options) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(options.storm_clients));
    for (int i = 0; i < options.storm_clients; ++i) {
        threads.emplace_back([&] {
            Client client(context, options);
            if (!client.Fetch()) ++failures;
        });
    }
    for (std::thread& thread : threads) thread.join();
    return failures.load();
}

struct KeptResult {
    double per_second = 0;
    double p50_ms = 0;
    double p99_ms = 0;
    int errors = 0;
};

KeptResult Kept(SSL_CTX* context, const Options& options) {
    const auto end = Clock::now() + std::chrono::seconds(options.seconds);
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(options.kept_clients));
    std::atomic<int> errors{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < options.kept_clients; ++i) {
        threads.emplace_back([&, i] {
            Client client(context, options);
            static_cast<void>(client.Fetch());  // the handshake and a first page are not timed
            while (Clock::now() < end) {
                const auto start = Clock::now();
                if (!client.Fetch()) {
                    ++errors;
                    return;
                }
                latencies[static_cast<std::size_t>(i)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::vector<double> all;
    for (const auto& one : latencies) all.insert(all.end(), one.begin(), one.end());
    KeptResult result;
    result.errors = errors.load();
    if (all.empty()) return result;
    std::sort(all.begin(), all.end());
    result.per_second = static_cast<double>(all.size()) / options.seconds;
    result.p50_ms = all[all.size() / 2];
    result.p99_ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(stderr,
                     "usage: bench_connect PORT PROXY|direct HOST PATH CA_FILE STORM_CLIENTS "
                     "KEPT_CLIENTS SECONDS\n");
        return 2;
    }
    Options options;
    options.port = std::atoi(argv[1]);
    options.via_proxy = std::string(argv[2]) != "direct";
    options.host = argv[3];
    options.path = argv[4];
    options.ca_file = argv[5];
    options.storm_clients = std::atoi(argv[6]);
    options.kept_clients = std::atoi(argv[7]);
    options.seconds = std::max(1, std::atoi(argv[8]));

    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_client_method()),
                                                         SSL_CTX_free);
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_mode(context.get(), SSL_MODE_AUTO_RETRY);
    if (SSL_CTX_load_verify_locations(context.get(), options.ca_file.c_str(), nullptr) != 1) {
        std::fprintf(stderr, "cannot read %s\n", options.ca_file.c_str());
        return 2;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);

    const auto start = Clock::now();
    const int failures = Storm(context.get(), options);
    const double storm_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("storm %d failures %d ms %.0f\n", options.storm_clients, failures, storm_ms);
    const KeptResult kept = Kept(context.get(), options);
    std::printf("kept %.0f p50 %.2f p99 %.2f errors %d\n", kept.per_second, kept.p50_ms,
                kept.p99_ms, kept.errors);
    return failures == 0 && kept.errors == 0 ? 0 : 1;
}

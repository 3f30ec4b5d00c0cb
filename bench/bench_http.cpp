// Throughput of the HTTP reader: a 256 MB body over loopback read through ReadStatus/Step into
// the temporary response file, with Content-length and chunked, beside `curl -s -o` fetching
// the same body from the same origin in the same run. Prints MB/s of each and the ratio.
//
//   ninja -C build bench_http && build/bin/bench_http
//   (KELVRA_BENCH_MB=64 shortens the body; the target is a ratio of at least 0.8.)

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "net/httputils.h"
#include "net/result_codes.h"

extern char** environ;

namespace {

using namespace kelvra::net;

constexpr std::size_t kSendBlock = 1 << 20;
constexpr std::size_t kChunkSize = 32768;

std::int64_t BodyBytes() {
    const char* mb = std::getenv("KELVRA_BENCH_MB");
    return (mb != nullptr ? std::atoll(mb) : 256) << 20;
}

bool SendAllBytes(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Serves GET /length and GET /chunked with a body of BodyBytes() bytes, one connection at a
// time per thread; stops on destruction.
class StreamingOrigin {
  public:
    StreamingOrigin() : pattern_(kSendBlock) {
        for (std::size_t i = 0; i < pattern_.size(); ++i)
            pattern_[i] = static_cast<char>('a' + i % 26);
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        ::listen(listen_fd_, 16);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~StreamingOrigin() {
        stop_ = true;
        ::shutdown(listen_fd_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : workers_) t.join();
        ::close(listen_fd_);
    }
    std::string Url(const char* path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    void AcceptLoop() {
        while (!stop_) {
            int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            workers_.emplace_back([this, fd] {
                Serve(fd);
                ::close(fd);
            });
        }
    }
    void Serve(int fd) {
        std::string request;
        char block[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(fd, block, sizeof block, 0);
            if (n <= 0) return;
            request.append(block, static_cast<std::size_t>(n));
        }
        bool chunked = request.find(" /chunked ") != std::string::npos;
        std::int64_t total = BodyBytes();
        std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        head += chunked ? "Transfer-Encoding: chunked\r\n\r\n"
                        : "Content-Length: " + std::to_string(total) + "\r\n\r\n";
        if (!SendAllBytes(fd, head.data(), head.size())) return;
        if (chunked) return SendChunked(fd, total);
        for (std::int64_t sent = 0; sent < total;) {
            std::size_t n =
                static_cast<std::size_t>(std::min<std::int64_t>(total - sent, kSendBlock));
            if (!SendAllBytes(fd, pattern_.data(), n)) return;
            sent += static_cast<std::int64_t>(n);
        }
    }
    void SendChunked(int fd, std::int64_t total) {
        // Whole 1 MB blocks of chunks, so that the sender is not the bottleneck.
        std::string blockful;
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", kChunkSize);
        for (std::size_t at = 0; at + kChunkSize <= kSendBlock; at += kChunkSize) {
            blockful += line;
            blockful.append(pattern_.data() + at, kChunkSize);
            blockful += "\r\n";
        }
        for (std::int64_t sent = 0; sent < total; sent += kSendBlock) {
            if (!SendAllBytes(fd, blockful.data(), blockful.size())) return;
        }
        SendAllBytes(fd, "0\r\n\r\n", 5);
    }

    std::vector<char> pattern_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

StreamingOrigin& Origin() {
    static StreamingOrigin origin;
    return origin;
}

std::string WorkDirectory() {
    static std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-bench-XXXXXX");
        return std::string(::mkdtemp(pattern.data()));
    }();
    return dir;
}

void ReadWithKelvra(benchmark::State& state, const char* path) {
    httputils client;
    client.SetTempDirectory(WorkDirectory());
    client.SetTimeout(30);
    std::string url = Origin().Url(path);
    for (auto _ : state) {
        client.Close();
        if (client.SendRequest(kMethodGet, url, nullptr, "") != ChannelCode::kOk ||
            client.ReadStatus().status != 200) {
            state.SkipWithError("request failed");
            break;
        }
        ChannelCode code = ChannelCode::kOk;
        while (client.State() >= kHeaderComplete && client.State() < kMessageComplete) {
            client.Step(code);
        }
        std::fflush(client.TempStream());
        if (client.State() != kMessageComplete || !client.BodyComplete()) {
            state.SkipWithError("body incomplete");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * BodyBytes());
}

void ReadWithCurl(benchmark::State& state, const char* path) {
    std::string url = Origin().Url(path);
    std::string out = WorkDirectory() + "/curl.out";
    for (auto _ : state) {
        std::vector<std::string> args = {"curl", "-s", "-o", out, url};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid;
        int status = 0;
        if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * BodyBytes());
}

void BM_KelvraContentLength(benchmark::State& state) {
    ReadWithKelvra(state, "/length");
}
void BM_CurlContentLength(benchmark::State& state) {
    ReadWithCurl(state, "/length");
}
void BM_KelvraChunked(benchmark::State& state) {
    ReadWithKelvra(state, "/chunked");
}
void BM_CurlChunked(benchmark::State& state) {
    ReadWithCurl(state, "/chunked");
}

BENCHMARK(BM_KelvraContentLength)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlContentLength)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KelvraChunked)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlChunked)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps the throughput of every run for the summary.
class SummaryReporter final : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto found = run.counters.find("bytes_per_second");
            if (found != run.counters.end())
                mb_per_s[run.benchmark_name()] = found->second / (1 << 20);
        }
    }
    std::map<std::string, double> mb_per_s;
};

void PrintRatio(const SummaryReporter& reporter, const char* form, const char* ours,
                const char* theirs) {
    auto a = reporter.mb_per_s.find(ours);
    auto b = reporter.mb_per_s.find(theirs);
    if (a == reporter.mb_per_s.end() || b == reporter.mb_per_s.end() || b->second <= 0) return;
    std::printf("%-15s kelvra %8.1f MB/s   curl %8.1f MB/s   ratio %.2f\n", form, a->second,
                b->second, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nbody %lld MB over loopback, into a file in %s\n",
                static_cast<long long>(BodyBytes() >> 20), WorkDirectory().c_str());
    PrintRatio(reporter, "Content-length", "BM_KelvraContentLength/iterations:5/real_time",
               "BM_CurlContentLength/iterations:5/real_time");
    PrintRatio(reporter, "chunked", "BM_KelvraChunked/iterations:5/real_time",
               "BM_CurlChunked/iterations:5/real_time");
    std::filesystem::remove_all(WorkDirectory());
    benchmark::Shutdown();
    return 0;
}

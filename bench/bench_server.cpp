// The local server's hot paths over loopback, and a stand-alone serving mode for the
// end-to-end comparison with nginx under wrk (bench/serve).
//
//   bench_server                                   # micro-benchmarks
//   bench_server --serve DIR PORT THREADS OBJECTS  # Local Mode over DIR with OBJECTS stored
//                                                  # pages of 10 KB, until SIGINT/SIGTERM

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "loopback.h"
#include "net/local_authority.h"
#include "server/htmlserver.h"
#include "server/prohibitlist.h"
#include "store/headerlist_cookie.h"

namespace {

using kelvra::server::HtmlServer;
using kelvra::server::ServerSettings;

constexpr std::size_t kObjectSize = 10 * 1024;
// The page of the https case (bench_connect): obj/page16k.html.
constexpr std::size_t kTlsPageSize = 16 * 1024;

// Stores count pages http://bench.local/obj/N.html of 10 KB each and obj/page16k.html of
// 16 KB, and the same files under DIR/nginx/obj/ for a static server.
void Populate(kelvra::store::headerlistex& store, const std::string& dir, int count) {
    std::filesystem::create_directories(dir + "/nginx/obj");
    for (int n = -1; n < count; ++n) {
        const std::string name = n < 0 ? "page16k" : std::to_string(n);
        const std::string body(n < 0 ? kTlsPageSize : kObjectSize, 'x');
        const std::string url = "http://bench.local/obj/" + name + ".html";
        kelvra::store::treelistnode* node =
            store.Add(url, "CT:text/html\nLM:Sun, 06 Nov 1994 08:49:37 GMT\n", true);
        std::string path;
        store.GetNodeLocalPath(node, path);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << body;
        std::ofstream(dir + "/nginx/obj/" + name + ".html", std::ios::binary) << body;
    }
}

struct Fixture {
    explicit Fixture(const std::string& dir, int threads, int objects)
        : store(dir, "index.html", std::nullopt, dir + "/kelvra.mtf") {
        settings.threads = threads;
        settings.keep_alive = 15;
        settings.bind_address = htonl(INADDR_LOOPBACK);
        // A CONNECT bench.local:443 is answered here (the local authority made on first use).
        settings.authority_directory = dir + "/settings/";
        Populate(store, dir, objects);
        server = std::make_unique<HtmlServer>(store, settings, monitor, dir + "/prohibit.orv");
    }
    kelvra::store::headerlist_cookie store;
    ServerSettings settings;
    kelvra::server::NullMonitor monitor;
    std::unique_ptr<HtmlServer> server;
};

std::string MakeTempDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "kelvra-bench-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

// Sends request and reads until expected bytes arrived (or the peer closed).
std::size_t Exchange(int fd, const std::string& request, std::size_t expected) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return 0;
    char block[16384];
    std::size_t got = 0;
    while (got < expected) {
        const ssize_t n = ::recv(fd, block, sizeof block, 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// A local-mode server on a data directory of its own, which goes again with it.
struct StartedServer {
    StartedServer(int threads, int objects) : dir(MakeTempDir()) {
        std::ofstream(dir + "/kelvra.mtf") << "html text/html\n";
        fixture.emplace(dir, threads, objects);
        started = fixture->server->Start(0, kelvra::server::kModeLocal, {});
    }
    ~StartedServer() {
        fixture.reset();
        std::filesystem::remove_all(dir);
    }
    int Port() const { return fixture->server->Port(); }

    std::string dir;
    std::optional<Fixture> fixture;
    bool started = false;
};

void BM_StoredObjectKeepAlive(benchmark::State& state) {
    StartedServer server(4, 1);
    if (!server.started) {
        state.SkipWithError("the server did not start");
        return;
    }
    const int fd = kelvra::bench::ConnectLoopback(server.Port());
    const std::string request =
        "GET http://bench.local/obj/0.html HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    const std::size_t expected = Exchange(fd, request, kObjectSize + 1);
    for (auto _ : state) benchmark::DoNotOptimize(Exchange(fd, request, expected));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * expected));
    ::close(fd);
}
BENCHMARK(BM_StoredObjectKeepAlive)->UseRealTime();

void BM_NotInSpoolNewConnection(benchmark::State& state) {
    StartedServer server(4, 0);
    if (!server.started) {
        state.SkipWithError("the server did not start");
        return;
    }
    const std::string request = "GET http://bench.local/missing.html HTTP/1.0\r\n\r\n";
    for (auto _ : state) {
        const int fd = kelvra::bench::ConnectLoopback(server.Port());
        benchmark::DoNotOptimize(Exchange(fd, request, static_cast<std::size_t>(-1)));
        ::close(fd);
    }
}
BENCHMARK(BM_NotInSpoolNewConnection)->UseRealTime();

void BM_ProhibitFind(benchmark::State& state) {
    kelvra::server::ProhibitClass list;
    for (int n = 0; n < 50; ++n) {
        list.Add(kelvra::server::ParseProhibitLine("ads" + std::to_string(n) + ";.gif"));
    }
    kelvra::util::CaptureTable captures;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.Find("http://www.example.com/images/banner.gif", captures));
    }
}
BENCHMARK(BM_ProhibitFind);

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

int Serve(const std::string& dir, int port, int threads, int objects) {
    if (!std::filesystem::exists(dir + "/kelvra.mtf")) {
        std::ofstream(dir + "/kelvra.mtf") << "html text/html\n";
    }
    Fixture fixture(dir, threads, objects);
    // Made now rather than on the first CONNECT, so that the https client can trust it.
    std::string error;
    if (!kelvra::net::LocalAuthority::Open(fixture.settings.authority_directory, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (!fixture.server->Start(port, kelvra::server::kModeLocal, {})) {
        std::fprintf(stderr, "cannot listen on port %d\n", port);
        return 2;
    }
    std::printf("serving %d objects on 127.0.0.1:%d with %d workers\n", objects,
                fixture.server->Port(), fixture.server->Workers());
    std::fflush(stdout);
    ::signal(SIGINT, OnSignal);
    ::signal(SIGTERM, OnSignal);
    while (!g_stop) ::poll(nullptr, 0, 200);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--serve") {
        return Serve(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

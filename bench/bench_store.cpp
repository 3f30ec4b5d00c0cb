// The header-information store at scale: Load and Save of 1,000,000 records, FindRecord, and
// Commit of small responses. Prints the figures and the peak resident set size.
//
// Reproduce: cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
//            ninja -C build bench_store && build/bin/bench_store

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "store/headerlistex.h"

namespace {

using kelvra::store::headerlistex;
using kelvra::store::ReceivedObject;

constexpr int kHosts = 1000;
constexpr int kDirectoriesPerHost = 20;
constexpr int kRecordsPerDirectory = 50;
constexpr int kRecords = kHosts * kDirectoriesPerHost * kRecordsPerDirectory;
constexpr int kCommits = 10000;

// About 60 bytes: "www.host0123.example.com/section/dir07/page000045-abc.html".
std::string Key(int i) {
    const int host = i % kHosts;
    const int dir = (i / kHosts) % kDirectoriesPerHost;
    const int page = i / (kHosts * kDirectoriesPerHost);
    char key[96];
    std::snprintf(key, sizeof key, "www.host%04d.example.com/section/dir%02d/page%06d-abc.html",
                  host, dir, page);
    return key;
}

class BenchData final {
  public:
    BenchData() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-bench-XXXXXX");
        if (::mkdtemp(pattern.data())) dir_ = pattern + "/";
        WriteHif();
    }
    ~BenchData() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& dir() const { return dir_; }

  private:
    void WriteHif() {
        std::FILE* file = std::fopen((dir_ + "bench.hif").c_str(), "wb");
        if (!file) return;
        for (int i = 0; i < kRecords; ++i) {
            const std::string key = Key(i);
            std::fprintf(file, "%s\nCT:text/plain\nLM:Sun, 06 Nov 1994 08:49:37 GMT\nCE:gzip\n",
                         key.c_str());
            std::fputc('\0', file);
        }
        std::fclose(file);
    }
    std::string dir_;
};

BenchData& Data() {
    static BenchData data;
    return data;
}

std::unique_ptr<headerlistex>& Loaded() {
    static std::unique_ptr<headerlistex> store;
    return store;
}

void BM_Load(benchmark::State& state) {
    long count = 0;
    for (auto _ : state) {
        state.PauseTiming();  // freeing the previous round's store is not loading
        Loaded().reset();
        state.ResumeTiming();
        Loaded() = std::make_unique<headerlistex>(Data().dir(), "index.html", std::nullopt, "");
        count = Loaded()->Load("bench.hif");
    }
    state.counters["records"] = static_cast<double>(count);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Save(benchmark::State& state) {
    long count = 0;
    for (auto _ : state) {
        Loaded()->SetChanged(true);
        count = Loaded()->Save("saved.hif", true);
    }
    state.counters["records"] = static_cast<double>(count);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FindRecord(benchmark::State& state) {
    std::vector<std::string> urls;
    std::mt19937 random(7);
    for (int i = 0; i < 4096; ++i)
        urls.push_back("http://" + Key(static_cast<int>(random() % kRecords)));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Loaded()->FindRecord(urls[i++ & 4095]));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_FindRecord);

void BM_Commit(benchmark::State& state) {
    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nLast-Modified: "
        "Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n";
    const std::string body(512, 'b');
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string spool = Data().dir() + "spool" + std::to_string(run++) + "/";
        std::filesystem::create_directories(spool);
        const std::string response = Data().dir() + "response";
        if (std::FILE* f = std::fopen(response.c_str(), "wb")) {
            std::fwrite(header.data(), 1, header.size(), f);
            std::fwrite(body.data(), 1, body.size(), f);
            std::fclose(f);
        }
        auto store = std::make_unique<headerlistex>(spool, "index.html", "kelvra.log", "");
        state.ResumeTiming();
        for (int i = 0; i < kCommits; ++i) {
            ReceivedObject job;
            job.header_length = static_cast<std::int64_t>(header.size());
            job.content_length = static_cast<std::int64_t>(body.size());
            const std::string url = "http://h" + std::to_string(i % 10) + "/d" +
                                    std::to_string(i % 100) + "/p" + std::to_string(i) + ".html";
            benchmark::DoNotOptimize(store->Commit(url, response, job, 0));
        }
        state.PauseTiming();
        store.reset();
        std::filesystem::remove_all(spool);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kCommits);
}
BENCHMARK(BM_Commit)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Loaded().reset();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak RSS: %.1f MB (limit 350 MB)\n",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::printf("reproduce: ninja -C build bench_store && build/bin/bench_store\n");
    benchmark::Shutdown();
    return 0;
}

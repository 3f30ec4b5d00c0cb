// Moving stored data to another data directory: 100,000 stored objects (1 KiB each, with their
// records) moved to a directory on the same file system, and to /dev/shm, against "cp -a" of
// the same files to /dev/shm.
//
// Reproduce: cmake -S . -B build -G Ninja -DKELVRA_BENCH=ON &&
//            ninja -C build bench_movedata && build/bin/bench_movedata

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/movedata.h"
#include "app/startup.h"
#include "util/fileutil.h"

namespace {

namespace fs = std::filesystem;
using kelvra::store::headerlistex;

constexpr int kObjects = 100000;
constexpr int kHosts = 100;
constexpr int kDirectories = 10;
const std::string kBody(1024, 'x');

std::string MakeTemp(const std::string& parent) {
    std::string pattern = parent + "/kelvra-move-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern + "/";
}

// A data directory holding kObjects stored objects, loaded.
std::unique_ptr<headerlistex> MakeSource(const std::string& data) {
    auto store = std::make_unique<headerlistex>(data, "index.html", std::nullopt, "");
    for (int i = 0; i < kObjects; ++i) {
        char url[96];
        std::snprintf(url, sizeof url, "http://host%03d.example/d%02d/p%06d.html", i % kHosts,
                      (i / kHosts) % kDirectories, i);
        const auto* node =
            store->Add(url, "CT:text/html\nLM:Sat, 01 Jan 2000 00:00:00 GMT\n", true);
        std::string path;
        store->GetNodeLocalPath(node, path);
        kelvra::util::MakeDirectories(path, data.size());
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) std::abort();
        std::fwrite(kBody.data(), 1, kBody.size(), file);
        std::fclose(file);
    }
    return store;
}

void Move(benchmark::State& state, const std::string& destination_parent) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string source = MakeTemp(fs::current_path().string());
        const std::string destination = MakeTemp(destination_parent);
        std::unique_ptr<headerlistex> store = MakeSource(source);
        kelvra::app::ProgressSink progress(nullptr);
        kelvra::app::MoveDataCore core(*store, "", progress);
        core.Add(kelvra::app::SelectBelow(*store, {""}));
        state.ResumeTiming();
        const auto result = core.Transfer(destination, kelvra::app::kHeaderFileName, true);
        state.PauseTiming();
        if (result.handled != kObjects) std::abort();
        store.reset();
        fs::remove_all(source);
        fs::remove_all(destination);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kObjects);
}

void BM_MoveSameFileSystem(benchmark::State& state) {
    Move(state, fs::current_path().string());
}
BENCHMARK(BM_MoveSameFileSystem)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_MoveToShm(benchmark::State& state) {
    Move(state, "/dev/shm");
}
BENCHMARK(BM_MoveToShm)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_CpToShm(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string source = MakeTemp(fs::current_path().string());
        const std::string destination = MakeTemp("/dev/shm");
        MakeSource(source);
        const std::string command = "cp -a " + source + ". " + destination;
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) std::abort();
        state.PauseTiming();
        fs::remove_all(source);
        fs::remove_all(destination);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kObjects);
}
BENCHMARK(BM_CpToShm)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

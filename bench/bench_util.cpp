// Parsing speed of HTTP dates: every stored record's Last-Modified and every conditional
// request goes through ParseHttpDate, so it should manage 5,000,000 dates a second on one core.
//
// Reproduce: cmake -S . -B build -G Ninja && ninja -C build bench_util && build/bin/bench_util
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "util/httpdate.h"

namespace {

void ParseForm(benchmark::State& state, std::string_view text) {
    for (auto _ : state) {
        std::tm parsed = kelvra::util::ParseHttpDate(text);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ParseHttpDate_Rfc1123(benchmark::State& state) {
    ParseForm(state, "Sun, 06 Nov 1994 08:49:37 GMT");
}
void BM_ParseHttpDate_Rfc850(benchmark::State& state) {
    ParseForm(state, "Sunday, 06-Nov-94 08:49:37 GMT");
}
void BM_ParseHttpDate_Asctime(benchmark::State& state) {
    ParseForm(state, "Sun Nov  6 08:49:37 1994");
}

// The three forms in turn, as a crawl meets them.
void BM_ParseHttpDate_Mixed(benchmark::State& state) {
    constexpr std::string_view kForms[] = {"Sun, 06 Nov 1994 08:49:37 GMT",
                                           "Sunday, 06-Nov-94 08:49:37 GMT",
                                           "Sun Nov  6 08:49:37 1994"};
    std::size_t i = 0;
    for (auto _ : state) {
        std::tm parsed = kelvra::util::ParseHttpDate(kForms[i]);
        benchmark::DoNotOptimize(parsed);
        i = i == 2 ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ParseHttpDate_Rfc1123);
BENCHMARK(BM_ParseHttpDate_Rfc850);
BENCHMARK(BM_ParseHttpDate_Asctime);
BENCHMARK(BM_ParseHttpDate_Mixed);

}  // namespace

int main(int argc, char** argv) {
    std::printf(
        "target: >= 5,000,000 ParseHttpDate items/s on one core\n"
        "reproduce: ninja -C build bench_util && build/bin/bench_util\n");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

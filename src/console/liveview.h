#pragma once
// The live view of a crawl on a terminal: one line per busy worker (URL, bytes, rate) and a
// totals line, redrawn in place at most ten times a second and cut to the screen's width.
// Lines that stay (failures, the finish report) are printed above it.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kelvra::console {

// What a crawl has done so far, by the outcomes of its transactions.
struct CrawlTally {
    long stored = 0;       // new or changed objects
    long unchanged = 0;    // 304, same data, stored copy current
    long failed = 0;       // failed for good (no answer, local error, stopped)
    long http_errors = 0;  // answered 4xx/5xx
    std::int64_t bytes = 0;
};

class LiveView final {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
    static constexpr int kMinColumns = 20;

    LiveView(std::FILE* out, int columns);
    // Thread-safe, all of them.
    void Started(int slot, std::string_view url, long queued);
    void Progress(int slot, std::int64_t bytes);
    void Finished(int slot, const CrawlTally& tally);
    void Above(const std::string& line);
    // Removes the view, leaving the lines above it.
    void End();

  private:
    struct Worker {
        std::string url;
        std::int64_t bytes = 0;
        Clock::time_point since;
        bool busy = false;
    };
    void Draw(bool force);
    void Erase();
    std::string Fit(std::string line) const;
    std::string WorkerLine(int slot, const Worker& worker, Clock::time_point now) const;
    std::string TotalsLine(Clock::time_point now) const;

    std::FILE* out_;
    int columns_;
    std::mutex mutex_;
    std::map<int, Worker> workers_;
    CrawlTally tally_;
    long queued_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point drawn_at_{};
    int drawn_lines_ = 0;
};

// The width of the terminal out writes to; 0 when it is none.
int TerminalColumns(std::FILE* out);

}  // namespace kelvra::console

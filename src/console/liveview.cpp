#include "console/liveview.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace kelvra::console {
namespace {

constexpr char kCursorUp[] = "\x1b[%dA";
constexpr char kClearToEnd[] = "\x1b[J";
constexpr std::size_t kEscapeText = 16;

std::string Bytes(double bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

double Seconds(LiveView::Clock::duration duration) {
    return std::max(std::chrono::duration<double>(duration).count(), 1e-3);
}

}  // namespace

int TerminalColumns(std::FILE* out) {
    const int fd = ::fileno(out);
    if (fd < 0 || ::isatty(fd) == 0) return 0;
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

LiveView::LiveView(std::FILE* out, int columns)
    : out_(out), columns_(std::max(columns, kMinColumns)) {}

void LiveView::Started(int slot, std::string_view url, long queued) {
    std::lock_guard lock(mutex_);
    workers_[slot] = {std::string(url), 0, Clock::now(), true};
    queued_ = queued;
    Draw(false);
}

void LiveView::Progress(int slot, std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    workers_[slot].bytes = bytes;
    Draw(false);
}

void LiveView::Finished(int slot, const CrawlTally& tally) {
    std::lock_guard lock(mutex_);
    workers_[slot].busy = false;
    tally_ = tally;
    Draw(false);
}

void LiveView::Above(const std::string& line) {
    std::lock_guard lock(mutex_);
    Erase();
    std::fputs(line.c_str(), out_);
    Draw(true);
}

void LiveView::End() {
    std::lock_guard lock(mutex_);
    Erase();
    std::fflush(out_);
}

void LiveView::Erase() {
    if (drawn_lines_ > 0) {
        char up[kEscapeText];
        std::snprintf(up, sizeof up, kCursorUp, drawn_lines_);
        std::fputs(up, out_);
        std::fputs(kClearToEnd, out_);
    }
    drawn_lines_ = 0;
}

void LiveView::Draw(bool force) {
    const Clock::time_point now = Clock::now();
    if (!force && now - drawn_at_ < kRedrawInterval) return;
    drawn_at_ = now;
    Erase();
    std::string text;
    for (const auto& [slot, worker] : workers_) {
        if (!worker.busy) continue;
        text += Fit(WorkerLine(slot, worker, now)) + "\n";
        ++drawn_lines_;
    }
    text += Fit(TotalsLine(now)) + "\n";
    ++drawn_lines_;
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

// One column is left free: a line that fills the screen would wrap on some terminals.
std::string LiveView::Fit(std::string line) const {
    const std::size_t width = static_cast<std::size_t>(columns_ - 1);
    if (line.size() > width) line.resize(width);
    return line;
}

std::string LiveView::WorkerLine(int slot, const Worker& worker, Clock::time_point now) const {
    const double rate = static_cast<double>(worker.bytes) / Seconds(now - worker.since);
    // The numbers first: a long URL is cut at the screen's edge, not them.
    char head[64];
    std::snprintf(head, sizeof head, "(No.%d) %10s %10s/s  ", slot,
                  Bytes(static_cast<double>(worker.bytes)).c_str(), Bytes(rate).c_str());
    return head + worker.url;
}

std::string LiveView::TotalsLine(Clock::time_point now) const {
    const long done = tally_.stored + tally_.unchanged + tally_.failed + tally_.http_errors;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", static_cast<double>(done) / Seconds(now - start_));
    return "stored " + std::to_string(tally_.stored) + ", unchanged " +
           std::to_string(tally_.unchanged) + ", failed " +
           std::to_string(tally_.failed + tally_.http_errors) + ", queued " +
           std::to_string(queued_) + ", " + Bytes(static_cast<double>(tally_.bytes)) + ", " + rate +
           " objects/s";
}

}  // namespace kelvra::console

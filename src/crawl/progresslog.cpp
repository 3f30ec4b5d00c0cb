#include "crawl/progresslog.h"

namespace kelvra::crawl {

namespace {
constexpr std::string_view kHeaderLine = "ThreadNo, time(), URL, Status\n";
}

ProgressLog::~ProgressLog() {
    Close();
}

std::string ProgressLog::FileName(std::time_t start, std::string_view setting) {
    return std::to_string(static_cast<long>(start)) + "_" + std::string(setting);
}

bool ProgressLog::Open(const std::string& directory, std::string_view setting, std::time_t start) {
    Close();
    std::lock_guard lock(mutex_);
    path_ = directory + FileName(start, setting);
    file_ = std::fopen(path_.c_str(), "w+");
    if (file_ == nullptr) return false;
    std::fwrite(kHeaderLine.data(), 1, kHeaderLine.size(), file_);
    std::fflush(file_);
    return true;
}

void ProgressLog::LogStatus(int worker, std::time_t now, std::string_view url,
                            std::string_view status) {
    std::size_t first = status.find_first_not_of(' ');
    if (first == std::string_view::npos) return;
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return;
    std::string line = std::to_string(worker) + ", " + std::to_string(static_cast<long>(now)) +
                       ", " + std::string(url) + ", " + std::string(status) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

void ProgressLog::Close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace kelvra::crawl

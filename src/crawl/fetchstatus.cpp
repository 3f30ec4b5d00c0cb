#include "crawl/fetchstatus.h"

#include <array>

namespace kelvra::crawl {

namespace {
constexpr std::array<std::string_view, kFetchStatusCount> kFetchStatusNames = {
    "Retry", "Error",     "I/OError", "Success", "SameData", "HeadOK", "HeadOlder", "BadSize",
    "Moved", "NotModify", "UnAuth",   "NoGood",  "Abnormal", "Killed", "TooLong",   "AuthPend",
};
}  // namespace

std::string_view FetchStatusName(int status) {
    if (status < 0 || status >= kFetchStatusCount) return {};
    return kFetchStatusNames[static_cast<std::size_t>(status)];
}

bool IsWorkerResult(WorkerState state) {
    return state == WorkerResult::kHeaderRead || state == WorkerState::kEnding ||
           (state >= WorkerResult::kSendFailed && state <= WorkerResult::kTooLong);
}

}  // namespace kelvra::crawl

#pragma once
// Outcome codes of one fetch transaction and of one worker wake-up, and the bits a worker slot
// carries between attempts.

#include <cstdint>
#include <string_view>

namespace kelvra::crawl {

// The result of one transaction; the code indexes kFetchStatusNames.
enum FetchStatus : int {
    kStatusRetry = 0,      // a kept connection died before any response: again at once
    kStatusError = 1,      // connecting or sending failed
    kStatusIOError = 2,    // the response could not be stored
    kStatusSuccess = 3,    // a new or changed object was stored
    kStatusSameData = 4,   // fetched again, identical to the stored copy
    kStatusHeadOK = 5,     // HEAD says changed: a GET follows at once
    kStatusHeadOlder = 6,  // HEAD says the stored copy is current
    kStatusBadSize = 7,    // body incomplete, kept as a partial file
    kStatusMoved = 8,      // 301/302 recorded
    kStatusNotModify = 9,  // 304
    kStatusUnAuth = 10,    // 401/407, no further automatic attempt
    kStatusNoGood = 11,    // any other status
    kStatusAbnormal = 12,  // the connection ended before a response header
    kStatusKilled = 13,    // stopped by the user
    kStatusTooLong = 14,   // larger than the size limit
    kStatusAuthPend = 15,  // 401/407 in a handshake that continues
};
inline constexpr int kFetchStatusCount = 16;

// The names shown in the status lines and written to the progress log.
std::string_view FetchStatusName(int status);

// Thread states of a worker; the worker results below share the number space.
namespace WorkerState {
inline constexpr int kNoThread = -1;  // the thread could not be created
inline constexpr int kIdle = 1;
inline constexpr int kWorking = 3;
inline constexpr int kEnding = 14;  // also what a worker killed by the user reports
}  // namespace WorkerState

// What RunFetch leaves for the scheduler.
namespace WorkerResult {
inline constexpr int kHeaderRead = 15;      // status handling follows
inline constexpr int kSendFailed = 17;      // connecting or sending failed
inline constexpr int kTempFileFailed = 18;  // writing the temporary response file failed
inline constexpr int kKeptClosed = 19;      // reused connection closed before any response
inline constexpr int kReadFailed = 20;      // reading failed after the header
inline constexpr int kTooLong = 21;         // the object exceeds the size limit
}  // namespace WorkerResult

// True for a state that is a worker result waiting for the scheduler.
bool IsWorkerResult(int state);

// Bits of WorkerSlot::flags.
namespace SlotFlag {
inline constexpr std::uint32_t kAttemptMask = 0xFF;  // authorization attempts for this URL
inline constexpr std::uint32_t kRetryNow = 0x100;    // the current URL goes again at once here
inline constexpr std::uint32_t kReused = 0x200;      // the request went out on an open connection
inline constexpr std::uint32_t kKeep = 0x400;        // the next request is already on the wire
}  // namespace SlotFlag

// How requeue values of HandleResponse are read.
namespace Requeue {
inline constexpr int kNone = 0;
inline constexpr int kLater = 1;   // register the URL for a later attempt
inline constexpr int kFailed = 2;  // register it as failed
}  // namespace Requeue

}  // namespace kelvra::crawl

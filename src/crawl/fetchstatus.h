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
    kStatusMoved = 8,      // 301/302/303/307/308 recorded
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

// Thread states of a worker, and the results its work leaves in the same place for the
// scheduler: one number space.
enum class WorkerState : int {
    kNoThread = -1,  // the thread could not be created
    kIdle = 1,
    kWorking = 3,
    kEnding = 14,  // also what a worker killed by the user reports
    // What RunFetch leaves for the scheduler.
    kHeaderRead = 15,      // status handling follows
    kSendFailed = 17,      // connecting or sending failed
    kTempFileFailed = 18,  // writing the temporary response file failed
    kKeptClosed = 19,      // reused connection closed before any response
    kReadFailed = 20,      // reading failed after the header
    kTooLong = 21,         // the object exceeds the size limit
};
// The same type under the name its results are read by.
using WorkerResult = WorkerState;

// True for a state that is a worker result waiting for the scheduler.
bool IsWorkerResult(WorkerState state);

// Bits of WorkerSlot::flags.
namespace SlotFlag {
inline constexpr std::uint32_t kAttemptMask = 0xFF;  // authorization attempts for this URL
inline constexpr std::uint32_t kRetryNow = 0x100;    // the current URL goes again at once here
inline constexpr std::uint32_t kReused = 0x200;      // the request went out on an open connection
inline constexpr std::uint32_t kKeep = 0x400;        // the next request is already on the wire
}  // namespace SlotFlag

// How far a crawl was asked to stop; it only grows during a run.
enum class StopLevel : int {
    kNone = 0,
    kFinish = 1,  // start nothing new, let running transactions end
    kAbort = 2,   // end running transactions too
};

// What becomes of the current URL after HandleResponse.
enum class Requeue {
    kNone,
    kLater,   // register the URL for a later attempt
    kFailed,  // register it as failed
};

}  // namespace kelvra::crawl

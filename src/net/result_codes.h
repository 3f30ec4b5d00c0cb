#pragma once
// Result codes of the TCP channel. 0 is success; every failure has its own code so that callers
// (fetch transaction, FTP client, local server) can tell a dead peer from a local fault.

namespace kelvra::net {

inline constexpr int kChannelOk = 0;
inline constexpr int kNoSocket = 0x8002;       // socket not created, or no target address
inline constexpr int kConnectFailed = 0x8003;  // refused, or failed while waiting
inline constexpr int kCloseFailed = 0x8004;
inline constexpr int kHostUnknown = 0x8005;  // host name did not resolve
inline constexpr int kSendFailed = 0x8006;
inline constexpr int kReceiveFailed = 0x8007;
inline constexpr int kBindFailed = 0x8008;    // server sockets
inline constexpr int kListenFailed = 0x8009;  // server sockets
inline constexpr int kTimedOut = 0x800B;
inline constexpr int kTempFileFailed = 0x800D;      // writing the temporary response file
inline constexpr int kBlockingModeFailed = 0x800E;  // switching (non-)blocking mode
inline constexpr int kSocketOptionFailed = 0x800F;  // server sockets

// True for a value in the channel code range (as opposed to an HTTP status).
inline bool IsChannelCode(int value) {
    return value >= 0x8000 && value <= 0x80FF;
}

}  // namespace kelvra::net

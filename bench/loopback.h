#pragma once
// The benchmarks' client side of a loopback connection.

namespace kelvra::bench {

struct ConnectOptions {
    int timeout_seconds = 0;  // bounds every send and receive (and the connect); 0: unbounded
    bool no_delay = false;    // TCP_NODELAY
};

// A TCP socket connected to 127.0.0.1:port, or -1.
int ConnectLoopback(int port, const ConnectOptions& options = {});

}  // namespace kelvra::bench

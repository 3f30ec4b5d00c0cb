#pragma once
// The driver every response-reader fuzz target shares: message after message read from the
// socket the channel has adopted, as on a kept connection, checking after each one that the
// temporary file holds the header and exactly the body the reader counted, and that no more
// than Content-Length was taken.

#include "net/httputils.h"

namespace kelvra::fuzz {

// The socket number the targets' in-memory transports answer on; never handed to the system.
inline constexpr int kFakeSocket = 1 << 20;

// Reads messages until the reader fails, the peer has no more bytes, or a bound is reached;
// head: the request was HEAD (the answers carry no body). Traps on a broken check.
void ReadMessages(net::httputils& client, bool head);

}  // namespace kelvra::fuzz

#pragma once
// Loading the client access list "access.orv" of the data directory for the listening socket.

#include <optional>
#include <string>
#include <vector>

#include "net/tcpip_server.h"

namespace kelvra::server {

inline constexpr char kAccessFileName[] = "access.orv";

using AccessTable = std::vector<net::AccessEntry>;

// The entries of the file; none when it cannot be opened (an empty table then admits only
// 127.0.0.1).
std::optional<AccessTable> LoadClientAccessTable(const std::string& path);

}  // namespace kelvra::server

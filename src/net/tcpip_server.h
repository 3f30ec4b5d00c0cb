#pragma once
// The listening socket of the local server and its client access table.

#include <cstdint>
#include <string_view>
#include <vector>

#include "net/tcpip.h"

namespace kelvra::net {

// A browser opens many connections to its proxy at once; a short queue drops the surplus SYNs,
// which the browser retries only a second or more later.
inline constexpr int kListenBacklog = 128;
inline constexpr int kLoopbackStartLevel = 2;  // a client at 127.0.0.1 may send commands

// One access rule. address and mask in network byte order. A negative level marks a negated
// entry (applies to clients outside the network); its level is then ~level.
struct AccessEntry {
    int level = 0;
    std::uint32_t address = 0;
    std::uint32_t mask = 0xFFFFFFFF;
};

// Reads access-list text: per line "level:[!]host-or-address[/mask]", '#' starts a comment.
// Lines whose second byte is not ':' are skipped; a host that does not resolve ends the table.
std::vector<AccessEntry> ParseAccessTable(std::string_view text);

// Level of a client (network byte order): 2 for 127.0.0.1, else 0, unless an entry applies;
// the first entry that applies decides.
int ClientAccessLevel(const std::vector<AccessEntry>& table, std::uint32_t client);

class TCPIPServer : public TCPIPClass {
  public:
    using TCPIPClass::TCPIPClass;

    // Listens on port of the bind address; a port of 0 is replaced by the one assigned.
    // Returns a channel code (kNoSocket, kSocketOptionFailed, kBindFailed, kListenFailed).
    [[nodiscard]] virtual ChannelCode Listen(int& port, bool reuse);
    // Accepts the next connection: the socket, or -1. With level, also the client's level.
    [[nodiscard]] virtual int Accept(int* level);

    void SetAccessTable(std::vector<AccessEntry> table) { access_ = std::move(table); }
    const std::vector<AccessEntry>& AccessTable() const { return access_; }
    // Address to listen on (network byte order); any local address unless set.
    void SetBindAddress(std::uint32_t address) { bind_address_ = address; }

  private:
    std::vector<AccessEntry> access_;
    std::uint32_t bind_address_ = 0;
};

}  // namespace kelvra::net

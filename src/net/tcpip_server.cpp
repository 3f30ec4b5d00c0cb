#include "net/tcpip_server.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <string>

#include "net/proxy.h"
#include "net/result_codes.h"
#include "net/transport.h"
#include "util/strutil.h"

namespace kelvra::net {

namespace {

// false when the line ends the table (its host does not resolve).
bool ParseAccessLine(std::string_view line, std::vector<AccessEntry>& table) {
    if (line.size() < 2 || line[1] != ':' || line[0] < '0' || line[0] > '9') return true;
    AccessEntry entry;
    int level = line[0] - '0';
    std::string_view rest = line.substr(2);
    std::size_t slash = rest.find('/');
    if (slash != std::string_view::npos) {
        std::string mask(util::Trim(rest.substr(slash + 1)));
        in_addr parsed{};
        entry.mask = ::inet_pton(AF_INET, mask.c_str(), &parsed) == 1 ? parsed.s_addr : 0xFFFFFFFF;
        rest = rest.substr(0, slash);
    }
    rest = util::Trim(rest);
    bool negated = !rest.empty() && rest[0] == '!';
    if (negated) rest = util::Trim(rest.substr(1));
    entry.address = ResolveHost(std::string(rest).c_str());
    if (entry.address == 0) return false;
    entry.level = negated ? ~level : level;
    table.push_back(entry);
    return true;
}

}  // namespace

std::vector<AccessEntry> ParseAccessTable(std::string_view text) {
    std::vector<AccessEntry> table;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = util::Trim(line.substr(0, line.find('#')));
        if (!ParseAccessLine(line, table)) break;
    }
    return table;
}

int ClientAccessLevel(const std::vector<AccessEntry>& table, std::uint32_t client) {
    for (const AccessEntry& entry : table) {
        bool inside = (client & entry.mask) == entry.address;
        if (entry.level >= 0 && inside) return entry.level;
        if (entry.level < 0 && !inside) return ~entry.level;
    }
    return client == kLoopbackAddress ? kLoopbackStartLevel : 0;
}

ChannelCode TCPIPServer::Listen(int& port, bool reuse) {
    Close();
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return ChannelCode::kNoSocket;
    int on = 1;
    if (reuse && ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return ChannelCode::kSocketOptionFailed;
    }
    sockaddr_in local = MakeAddress(bind_address_, port);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return ChannelCode::kBindFailed;
    }
    if (port == 0) {
        socklen_t length = sizeof local;
        if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            return ChannelCode::kBindFailed;
        }
        port = ntohs(local.sin_port);
    }
    // Accepted sockets inherit both: answers go out in few large sends, and small ones (a 304,
    // a command page) must not wait for the client's delayed ACK; and a connection reaches
    // accept() only once its first bytes are there, so a worker does not wait for them.
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const int defer_seconds = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer_seconds, sizeof defer_seconds);
    return ::listen(socket_, kListenBacklog) == 0 ? ChannelCode::kOk : ChannelCode::kListenFailed;
}

int TCPIPServer::Accept(int* level) {
    if (socket_ < 0) return -1;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(socket_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd >= 0 && level != nullptr) *level = ClientAccessLevel(access_, peer.sin_addr.s_addr);
    return fd;
}

}  // namespace kelvra::net

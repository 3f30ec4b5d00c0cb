#pragma once
// The proxy auto-configuration script proxycfg.pac: while the local server runs it sends every
// http URL to it; while it is stopped it sends browsers direct or to the upstream proxies.

#include <string>

#include "server/proxyconfig.h"

namespace kelvra::server {

inline constexpr char kPacHintCaption[] = "ﾌﾟﾛｷｼ自動設定用ﾀﾞｲｱﾛｸﾞ";

// The script for the local server listening on server_port; 0 means it is stopped.
std::string ProxyAutoConfigText(const ProxyEnvironment& environment, int server_port);

// Rewrites pac_path whole (never half-written); true when the file could be written.
[[nodiscard]] bool WriteProxyAutoConfig(const ProxyEnvironment& environment, int server_port,
                                        const std::string& pac_path);

// The note that tells the user how to point a browser at pac_path.
std::string ProxyAutoConfigHint(const std::string& pac_path);

}  // namespace kelvra::server

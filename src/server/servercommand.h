#pragma once
// Requests a browser addresses to the server itself: "/mode=", "/get?", "/proxysetting?" and
// "/reload?", who may send them, and how a browser's reload is recognised.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra::server {

// Access levels of a client (see accesslist.h).
inline constexpr int kLevelDenied = 0;
inline constexpr int kLevelServe = 1;     // served, but server commands are refused
inline constexpr int kLevelCommands = 2;  // server commands allowed

// The path of a target addressed to the server itself, or none for a proxy request: a target
// without "http://" is its own path; an absolute one is the server's own when its port (80 when
// none) is the listening port and its host resolves to the connection's local address (network
// byte order; asked only then, as finding it costs a system call).
std::optional<std::string_view> OwnPath(std::string_view target, int listen_port,
                                        const std::function<std::uint32_t()>& local_address);

enum class CommandAnswer {
    kNone,      // no command: the request is answered normally
    kAccepted,  // the command accepted page
    kRefused,   // the command refused page
    kRedirect,  // the redirect page to redirect_to
};

struct ServerCommand {
    CommandAnswer answer = CommandAnswer::kNone;
    std::string_view reload_url;                  // the accepted/refused page's "/reload?" text
    std::string_view redirect_to;                 // kRedirect
    std::optional<std::uint32_t> new_mode;        // "/mode="
    std::optional<std::string_view> acquire_url;  // "/get?": to post to the main window
    bool open_proxy_setting = false;              // "/proxysetting?"
};

// Interprets path (with its leading '/') of a GET without body addressed to the server.
ServerCommand ParseServerCommand(std::string_view path, int level, std::uint32_t current_mode,
                                 bool has_main_window);

// "Pragma:" (or, without it, "Cache-Control:") begins with "no-cache" or has "max-age=0".
bool IsBrowserReload(std::string_view header);

}  // namespace kelvra::server

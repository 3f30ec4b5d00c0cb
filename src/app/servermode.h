#pragma once
// How the local server's mode is shown, and the server's configuration taken from the
// settings.

#include <cstdint>
#include <string_view>

#include "app/settings.h"
#include "server/serversettings.h"

namespace kelvra::app {

// The tray tip of a mode: "Local Mode", "Proxy Mode", "Proxy Mode 2", "Proxy Mode 3" or
// "Server Stopped".
std::string_view ServerModeTip(std::uint32_t mode);
// The menu-bar text: "[Local(&S)]", "[Proxy(&S)]", "[Proxy2(&S)]", "[Proxy3(&S)]" or
// "[Stopped(&S)]".
std::string_view ServerModeMenuText(std::uint32_t mode);

server::ServerSettings ServerSettingsFrom(const AppSettings& settings, bool has_main_window);

}  // namespace kelvra::app

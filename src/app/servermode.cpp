#include "app/servermode.h"

#include "app/appcore.h"
#include "server/accesslist.h"
#include "server/pac.h"
#include "server/prohibitlist.h"

namespace kelvra::app {
namespace {

struct ModeTexts {
    std::string_view tip;
    std::string_view menu;
};

// Indexed by the low four bits; anything unknown shows as stopped.
constexpr ModeTexts kModeTexts[] = {
    {"Server Stopped", "[Stopped(&S)]"}, {"Local Mode", "[Local(&S)]"},
    {"Proxy Mode", "[Proxy(&S)]"},       {"Proxy Mode 2", "[Proxy2(&S)]"},
    {"Proxy Mode 3", "[Proxy3(&S)]"},
};

const ModeTexts& TextsOf(std::uint32_t mode) {
    const std::uint32_t base = server::ModeBase(mode);
    return base < std::size(kModeTexts) ? kModeTexts[base] : kModeTexts[0];
}

}  // namespace

std::string_view ServerModeTip(std::uint32_t mode) {
    return TextsOf(mode).tip;
}
std::string_view ServerModeMenuText(std::uint32_t mode) {
    return TextsOf(mode).menu;
}

server::ServerSettings ServerSettingsFrom(const AppSettings& settings, bool has_main_window) {
    server::ServerSettings result;
    result.port = settings.port;
    result.threads = settings.threads;
    result.keep_alive = settings.keep_alive;
    result.not_found_result = settings.not_found_result;
    result.reload_page = settings.reload_page;
    result.save_post = settings.save_post;
    result.run_at_start = static_cast<std::uint32_t>(settings.run_at_start);
    result.get_timeout = settings.get_timeout;
    result.http_proxy = settings.HttpProxySetting();
    result.https_proxy = server::MakeProxySetting(settings.proxy, server::ProxyProtocol::kHttps);
    result.connect_ports = settings.connect_ports;
    result.tunnel_levels = settings.tunnel_levels;
    result.has_main_window = has_main_window;
    result.progress_log = settings.progress_log;
    return result;
}

void AppCore::WriteProxyScript(int port) {
    // Only browsers set to the script read it; one that cannot be written stops nothing here.
    static_cast<void>(server::WriteProxyAutoConfig(settings_.proxy, port, environment_.pac_path));
}

std::uint32_t AppCore::ServerMode() const {
    return server_ ? server_->GetMode() : 0;
}

int AppCore::ServerPort() const {
    return server_ ? server_->Port() : 0;
}

std::uint32_t AppCore::SetServerMode(std::uint32_t mode, bool replace_flags) {
    if (!server_) return 0;
    const std::uint32_t previous = server_->GetMode();
    if (!replace_flags) mode |= previous & server::kModeFlagMask;
    // A value the server does not know stops it: shown as stopped, it must not answer.
    if (!server::IsServingMode(mode)) {
        server_->Stop();
        WriteProxyScript(0);
    } else if (server::ModeBase(previous) == server::kModeStopped) {
        const std::string access_path = data_directory_ + server::kAccessFileName;
        server::AccessTable access =
            server::LoadClientAccessTable(access_path).value_or(server::AccessTable{});
        // A server that could not listen is no proxy for browsers to use.
        const bool listening = server_->Start(settings_.port, mode, std::move(access));
        WriteProxyScript(listening ? server_->Port() : 0);
    } else {
        server_->SetMode(mode);
    }
    const std::uint32_t shown = server::ModeBase(server_->GetMode());
    if (shown != shown_mode_) {
        shown_mode_ = shown;
        ui_.ShowServerMode(shown);
    }
    return previous;
}

// Created with the store, so that it can answer from it.
void AppCore::CreateServer() {
    server::ServerSettings settings = ServerSettingsFrom(settings_, has_main_window_);
    // The local authority lives beside kelvraw.ini.
    const std::string& ini = environment_.ini_path;
    settings.authority_directory = ini.substr(0, ini.rfind('/') + 1);
    server_ = std::make_unique<server::HtmlServer>(*store_, settings, *monitor_,
                                                   data_directory_ + server::kProhibitFileName);
}

}  // namespace kelvra::app

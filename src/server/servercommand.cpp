#include "server/servercommand.h"

#include <cstdlib>

#include "net/transport.h"
#include "net/url.h"
#include "server/serversettings.h"
#include "util/header.h"
#include "util/strutil.h"

namespace kelvra::server {
namespace {

constexpr std::string_view kHttpScheme = "http://";

struct CommandText {
    std::string_view rest;  // what follows the command word
    bool Has(std::string_view word) {
        if (rest.substr(0, word.size()) != word) return false;
        rest.remove_prefix(word.size());
        return true;
    }
    // The text after a '?' right behind the word, or none.
    std::optional<std::string_view> Query() const {
        if (rest.empty() || rest.front() != '?') return std::nullopt;
        return rest.substr(1);
    }
};

std::optional<std::uint32_t> ParseModeWord(std::string_view xy, std::uint32_t current_mode) {
    if (xy.size() < 2) return std::nullopt;
    std::uint32_t data_use;
    if (xy[0] == '*') {
        data_use = ModeDataUse(current_mode);
    } else if (xy[0] >= '0' && xy[0] <= '2') {
        data_use = static_cast<std::uint32_t>(xy[0] - '0') * 16;
    } else {
        return std::nullopt;
    }
    if (xy[1] < '1' || xy[1] > '4') return std::nullopt;
    return data_use | static_cast<std::uint32_t>(xy[1] - '0');
}

ServerCommand Refused(std::string_view reload_url = {}) {
    ServerCommand command;
    command.answer = CommandAnswer::kRefused;
    command.reload_url = reload_url;
    return command;
}

ServerCommand Redirect(std::string_view to) {
    ServerCommand command;
    command.answer = CommandAnswer::kRedirect;
    command.redirect_to = to;
    return command;
}

ServerCommand Accepted(std::string_view reload_url = {}) {
    ServerCommand command;
    command.answer = CommandAnswer::kAccepted;
    command.reload_url = reload_url;
    return command;
}

ServerCommand ModeCommand(std::string_view rest, std::uint32_t current_mode) {
    const auto mode = ParseModeWord(rest, current_mode);
    if (!mode) return {};
    rest.remove_prefix(2);
    ServerCommand command =
        (rest.size() > 1 && rest.front() == '?') ? Redirect(rest.substr(1)) : Accepted();
    command.new_mode = mode;
    return command;
}

ServerCommand GetCommand(const CommandText& text, bool has_main_window) {
    const auto url = text.Query();
    if (!url || url->empty()) return Refused(url.value_or(std::string_view{}));
    if (!has_main_window) return Refused(*url);
    ServerCommand command = Accepted(*url);
    command.acquire_url = url;
    return command;
}

ServerCommand ProxySettingCommand(const CommandText& text) {
    const auto rest = text.Query();
    if (!rest || rest->empty()) return Refused(rest.value_or(std::string_view{}));
    ServerCommand command = Accepted(*rest);
    command.open_proxy_setting = true;
    return command;
}

ServerCommand ReloadCommand(const CommandText& text) {
    const auto url = text.Query();
    if (!url || url->empty()) return Refused();
    return Redirect(*url);
}

bool HasZeroMaxAge(std::string_view value) {
    std::size_t length = 0;
    const long at = util::FindParameter(value, "max-age", length, true);
    if (at < 0 || length == 0) return false;
    const std::string number(value.substr(static_cast<std::size_t>(at), length));
    char* end = nullptr;
    const long age = std::strtol(number.c_str(), &end, 10);
    return end != number.c_str() && age == 0;
}

}  // namespace

std::optional<std::string_view> OwnPath(std::string_view target, int listen_port,
                                        const std::function<std::uint32_t()>& local_address) {
    if (!util::StartsWithNoCase(target, kHttpScheme)) return target;
    std::string host;
    int port = net::GetHostAndPort(target, host);
    if (port == 0) port = net::kHttpPort;
    if (port != listen_port) return std::nullopt;
    if (net::ResolveHost(host.c_str()) != local_address()) return std::nullopt;
    const std::string_view after_scheme = target.substr(kHttpScheme.size());
    const std::size_t slash = after_scheme.find('/');
    if (slash == std::string_view::npos) return std::string_view("/");
    return after_scheme.substr(slash);
}

ServerCommand ParseServerCommand(std::string_view path, int level, std::uint32_t current_mode,
                                 bool has_main_window) {
    if (level < kLevelCommands) return Refused();
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    CommandText text{path};
    if (text.Has("mode=")) return ModeCommand(text.rest, current_mode);
    if (text.Has("get")) return GetCommand(text, has_main_window);
    if (text.Has("proxysetting")) return ProxySettingCommand(text);
    if (text.Has("reload")) return ReloadCommand(text);
    return {};
}

bool IsBrowserReload(std::string_view header) {
    std::string_view value = util::FindHeader(header, "Pragma:");
    if (value.data() == nullptr) value = util::FindHeader(header, "Cache-Control:");
    if (value.data() == nullptr) return false;
    return util::StartsWithNoCase(value, "no-cache") || HasZeroMaxAge(value);
}

}  // namespace kelvra::server

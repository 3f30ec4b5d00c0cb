#include "server/pac.h"

#include <array>
#include <string_view>

#include "platform/rawfile.h"

namespace kelvra::server {

namespace {

// The script's first lines test a URL's scheme with url.substring(0, length).
struct SchemeTest {
    ProxyProtocol protocol;
    std::string_view prefix;
};

constexpr std::array<SchemeTest, 4> kOtherSchemes = {{{ProxyProtocol::kHttps, "https:"},
                                                      {ProxyProtocol::kFtp, "ftp:"},
                                                      {ProxyProtocol::kWais, "wais:"},
                                                      {ProxyProtocol::kGopher, "gopher:"}}};

// A host is placed inside a JavaScript string: a quote or backslash in a hand-edited host must
// not end the string and break the whole script.
std::string ScriptString(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) continue;
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool IsSet(const ProxyServer& server) {
    return !server.host.empty() && server.port != 0;
}

std::string ProxyReturn(const ProxyServer& server) {
    return "\treturn \"PROXY " + ScriptString(server.host) + ":" + std::to_string(server.port) +
           "\";\n";
}

std::string SchemeOpen(std::string_view prefix) {
    return "if (url.substring(0, " + std::to_string(prefix.size()) + ") == \"" +
           std::string(prefix) + "\") {\n";
}

std::string LocalNetworkLine(const ProxyEnvironment& environment) {
    const unsigned first = environment.MaskOctet(0);
    const unsigned second = environment.MaskOctet(1);
    const unsigned third = environment.MaskOctet(2);
    return "if (isInNet(host, \"" + std::to_string(first) + "." + std::to_string(second) + "." +
           std::to_string(third) + ".0\", \"255." + (second != 0 ? "255" : "0") + "." +
           (third != 0 ? "255" : "0") + ".0\")) return \"DIRECT\";\n";
}

std::string HttpBlock(const ProxyEnvironment& environment, int server_port) {
    std::string block = SchemeOpen("http:");
    const ProxyServer& http = environment.Server(ProxyProtocol::kHttp);
    if (server_port != 0) {
        block += "\treturn \"PROXY 127.0.0.1:" + std::to_string(server_port) + "\";\n";
    } else if (IsSet(http)) {
        block += ProxyReturn(http);
    } else {
        block += "\treturn \"DIRECT\";\n";
    }
    return block + "}\n";
}

}  // namespace

std::string ProxyAutoConfigText(const ProxyEnvironment& environment, int server_port) {
    const bool local_network = environment.MaskOctet(0) != 0;
    std::string text = "function FindProxyForURL(url, host) {\n";
    if (server_port == 0 && local_network) {
        text += "if (isInNet(host, \"127.0.0.1\", \"255.255.255.255\")) return \"DIRECT\";\n";
        text += LocalNetworkLine(environment);
    }
    text += HttpBlock(environment, server_port);
    if (server_port != 0 && local_network) text += LocalNetworkLine(environment);
    for (const SchemeTest& scheme : kOtherSchemes) {
        const ProxyServer& server = environment.Server(scheme.protocol);
        if (IsSet(server)) text += SchemeOpen(scheme.prefix) + ProxyReturn(server) + "}\n";
    }
    text += "\nreturn \"DIRECT\";\n}\n";
    return text;
}

bool WriteProxyAutoConfig(const ProxyEnvironment& environment, int server_port,
                          const std::string& pac_path) {
    return EnsureDirectoryOf(pac_path) &&
           platform::ReplaceFileContents(pac_path, ProxyAutoConfigText(environment, server_port));
}

std::string ProxyAutoConfigHint(const std::string& pac_path) {
    std::string url_path = pac_path;
    for (char& c : url_path) {
        if (c == '\\') c = '/';
    }
    return "WWWﾌﾞﾗｳｻﾞが Netscape Ver.3 以上の場合、\nWWWﾌﾞﾗｳｻﾞの自動ﾌﾟﾛｷｼ設定の URL "
           "欄に\n\nfile://" +
           url_path +
           "\n\nと記入してください.\nこの設定は、次回ﾌﾟﾛｸﾞﾗﾑ起動時から有効となります.\n(MS-IE4 "
           "以下ではこの手法は通用しないようです)";
}

}  // namespace kelvra::server

// dravel: changes the current proxy environment in kelvraw.ini from the command line, e.g.
// from a script run when a notebook moves between networks.

#include <cstdio>
#include <string>
#include <string_view>

#include "tool-proxyswitch/inifile.h"

namespace kelvra::proxyswitch {

namespace {

constexpr char kSection[] = "AutoProxyConfig";
constexpr std::size_t kMaxValueLength = 255;
constexpr char kDefaultProxyPort[] = "8080";
constexpr int kFailed = -1;

struct ProxyOption {
    std::string_view option;
    std::string_view key_word;
};

constexpr ProxyOption kProxyOptions[] = {
    {"-h", "HTTP"}, {"-s", "HTTPS"}, {"-f", "FTP"}, {"-w", "WAIS"}, {"-g", "GOPHER"}};
constexpr std::string_view kMaskOption = "-m";

void PrintUsage(const char* program) {
    std::printf(
        "usage : %s\n\t-h HTTPproxy:port\n\t-s HTTPSproxy:port\n\t-f FTPproxy:port\n\t-w "
        "WAISproxy:port\n \t-g GOPHERproxy:port\n \t-m IPMASK(xxx.yyy.zzz)\n",
        program);
}

const ProxyOption* FindProxyOption(std::string_view option) {
    for (const ProxyOption& entry : kProxyOptions) {
        if (entry.option == option) return &entry;
    }
    return nullptr;
}

bool WriteKey(const std::string& path, const std::string& key, std::string_view value) {
    return WriteProfileString(kSection, key, value, path);
}

// host[:port]; the port defaults to 8080. Neither part is checked.
bool WriteProxy(const std::string& path, std::string_view key_word, std::string_view value) {
    const std::size_t colon = value.find(':');
    const std::string_view host = value.substr(0, colon);
    const std::string_view port =
        colon == std::string_view::npos ? kDefaultProxyPort : value.substr(colon + 1);
    const std::string word(key_word);
    return WriteKey(path, word + "adrs", host) && WriteKey(path, word + "port", port);
}

// xxx.yyy.zzz: up to three octets; a missing one is 0, anything after a third '.' is ignored.
bool WriteMask(const std::string& path, std::string_view value) {
    std::string_view rest = value;
    bool have_part = true;
    for (int index = 1; index <= 3; ++index) {
        std::string_view part = "0";
        if (have_part) {
            const std::size_t dot = rest.find('.');
            part = rest.substr(0, dot);
            have_part = dot != std::string_view::npos;
            if (have_part) rest.remove_prefix(dot + 1);
        }
        if (!WriteKey(path, "IPMASK" + std::to_string(index), part)) return false;
    }
    return true;
}

enum class PairResult { kWritten, kInvalid, kWriteFailed };

PairResult ProcessPair(const std::string& path, std::string_view option, const char* value) {
    const ProxyOption* proxy = FindProxyOption(option);
    if ((proxy == nullptr && option != kMaskOption) || value == nullptr) {
        return PairResult::kInvalid;
    }
    const std::string_view text(value);
    // A longer value would not fit the program's 256-byte fields.
    if (text.size() > kMaxValueLength) return PairResult::kInvalid;
    const bool written = proxy ? WriteProxy(path, proxy->key_word, text) : WriteMask(path, text);
    return written ? PairResult::kWritten : PairResult::kWriteFailed;
}

int Run(int argc, char** argv) {
    std::printf("Dravel for KelvraW Ver.1.0.0 by Tesmarin\n");
    if (argc < 2) {
        PrintUsage(argc > 0 ? argv[0] : "dravel");
        return kFailed;
    }
    const std::string path = SettingsFilePath();
    // Each pair is written as soon as it is read: the pairs before a bad one stay written.
    for (int i = 1; i < argc; i += 2) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        switch (ProcessPair(path, argv[i], value)) {
            case PairResult::kWritten:
                break;
            case PairResult::kInvalid:
                std::printf("invalid argument : %s\n", argv[i]);
                return kFailed;
            case PairResult::kWriteFailed:
                std::fflush(stdout);
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return kFailed;
        }
    }
    std::printf("completed.\n");
    return 0;
}

}  // namespace

}  // namespace kelvra::proxyswitch

int main(int argc, char** argv) {
    return kelvra::proxyswitch::Run(argc, argv);
}

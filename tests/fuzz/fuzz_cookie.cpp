// The cookie layer: random Set-Cookie values stored for random URLs, then the Cookie line built
// for other URLs must stay one well-formed header line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "store/headerlist_cookie.h"

namespace {

const std::string& DataDirectory() {
    static const std::string directory = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "fuzzcookie.XXXXXX");
        char* made = ::mkdtemp(pattern.data());
        return made != nullptr ? std::string(made) + "/" : std::string("/tmp/");
    }();
    return directory;
}

// The next input line (without its LF).
std::string_view NextLine(std::string_view& input) {
    std::size_t lf = input.find('\n');
    std::string_view line = input.substr(0, lf);
    input.remove_prefix(lf == std::string_view::npos ? input.size() : lf + 1);
    return line;
}

void CheckHeader(const std::string& header) {
    if (header.empty()) return;
    if (!header.starts_with("Cookie: ") || !header.ends_with("\r\n")) __builtin_trap();
    std::string_view inside(header.data(), header.size() - 2);
    if (inside.find('\n') != std::string_view::npos ||
        inside.find('\r') != std::string_view::npos) {
        __builtin_trap();
    }
}

}  // namespace

// Input: lines in pairs "URL path", "Set-Cookie value"; after an empty line, URL paths to ask for.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    kelvra::store::headerlist_cookie store(DataDirectory(), "index.html", std::nullopt, "");
    store.SetCookiesEnabled(true);
    while (!input.empty()) {
        std::string_view path = NextLine(input);
        if (path.empty()) break;
        std::string_view value = NextLine(input);
        // any input: a refused cookie is a case too
        static_cast<void>(store.StoreCookie(value, "http://h/" + std::string(path)));
    }
    while (!input.empty()) {
        std::string header;
        store.BuildCookieHeader("http://h/" + std::string(NextLine(input)), header);
        CheckHeader(header);
    }
    std::string header;
    store.BuildCookieHeader("http://h/a/b/c.html", header);
    CheckHeader(header);
    return 0;
}

#include "server/spoolpath.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "util/strutil.h"

namespace kelvra::server {
namespace {

constexpr std::string_view kProgramFiles[] = {
    "$AuthCode$",   "kelvra.hif", "kelvraw.cf",  "kelvra.mcf",   "access.orv",
    "prohibit.orv", "kelvraw.bm", "kelvraw.ini", "proxycfg.pac",
};
// Journals and the temporary file of a save keep these names as prefix.
constexpr std::string_view kProgramPrefixes[] = {"kelvra.log", "kelvra.hif"};
constexpr std::string_view kRetryListExtension = ".rlf";

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           util::EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool HasBadByte(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') return true;
    }
    return false;
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

}  // namespace

bool IsProgramFile(std::string_view name, std::string_view progress_log) {
    for (std::string_view own : kProgramFiles) {
        if (util::EqualsNoCase(name, own)) return true;
    }
    for (std::string_view prefix : kProgramPrefixes) {
        if (util::StartsWithNoCase(name, prefix)) return true;
    }
    if (EndsWithNoCase(name, kRetryListExtension)) return true;
    return !progress_log.empty() && util::EqualsNoCase(name, progress_log);
}

std::optional<std::string> ConfinedRelativePath(std::string_view host_start,
                                                std::string_view progress_log) {
    if (host_start.empty() || host_start.size() > kMaxSpoolRelative || host_start.front() == '/' ||
        HasBadByte(host_start)) {
        return std::nullopt;
    }
    std::string_view rest = host_start;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment == "." || segment == ".." || IsProgramFile(segment, progress_log)) {
            return std::nullopt;
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return std::string(host_start);
}

bool IsProtectedPath(std::string_view relative) {
    const std::size_t last = relative.rfind('/');
    const std::string_view name =
        last == std::string_view::npos ? relative : relative.substr(last + 1);
    if (util::EqualsNoCase(name, "$AuthCode$") || EndsWithNoCase(name, kRetryListExtension)) {
        return true;
    }
    return last == std::string_view::npos && IsProgramFile(name, {});
}

std::optional<std::string> InsideDataDirectory(const std::string& data_directory,
                                               const std::string& full) {
    std::string root = RealPath(data_directory);
    const std::string real = RealPath(full);
    if (root.empty() || real.empty()) return std::nullopt;
    if (root.back() != '/') root.push_back('/');
    if (real.size() <= root.size() || real.compare(0, root.size(), root) != 0) {
        return std::nullopt;
    }
    if (IsProtectedPath(std::string_view(real).substr(root.size()))) return std::nullopt;
    return full;
}

}  // namespace kelvra::server

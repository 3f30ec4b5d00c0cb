#include "server/accesslist.h"

#include "util/fileutil.h"

namespace kelvra::server {

std::optional<AccessTable> LoadClientAccessTable(const std::string& path) {
    const auto text = util::ReadWholeFile(path);
    if (!text) return std::nullopt;
    return net::ParseAccessTable(*text);
}

}  // namespace kelvra::server

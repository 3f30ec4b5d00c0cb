#include "store/homelist.h"

#include "net/url.h"

namespace kelvra::store {

namespace {

int Verdict(std::string_view entry, std::string_view key) {
    const bool deny = !entry.empty() && entry.front() == '!';
    if (deny) entry.remove_prefix(1);
    if (key.substr(0, entry.size()) != entry) return 0;
    return deny ? -1 : 1;
}

}  // namespace

std::string HomeListManager::KeyForm(std::string_view url) {
    // The same reduction the frontier applies to every URL it is offered.
    std::string text = net::PercentDecode(url.substr(0, url.find('#')));
    net::NormalizeUrl(text);
    return text.substr(net::HostStart(text));
}

std::string HomeListManager::DirectoryKey(std::string_view url) {
    std::string key = KeyForm(url);
    const std::size_t end = net::DirectoryEnd(key);
    if (end < key.size()) key.resize(end + 1);
    return key;
}

int HomeListManager::AcceptCheck(std::string_view url) const {
    const std::string_view key = url.substr(net::HostStart(url));
    for (const std::string& entry : *this) {
        if (const int v = Verdict(entry, key)) return v;
    }
    return 0;
}

bool HomeListManager::AddDirectory(std::string_view url) {
    const bool deny = !url.empty() && url.front() == '!';
    if (deny) url.remove_prefix(1);
    const std::string directory = DirectoryKey(url);
    const int verdict = AcceptCheck(directory);
    if (deny ? verdict == -1 : verdict != 0) return false;
    Append(deny ? "!" + directory : directory);
    return true;
}

void HomeListManager::RemoveDirectory(std::string_view url) {
    const std::string directory = DirectoryKey(url);
    bool removed = false;
    // Rotating once through the list keeps the order of the others.
    for (std::size_t n = Count(); n > 0; --n) {
        if (!removed && *First() == directory) {
            RemoveFirst();
            removed = true;
        } else {
            MoveFirstToEnd();
        }
    }
}

}  // namespace kelvra::store

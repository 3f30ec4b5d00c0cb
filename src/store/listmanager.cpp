#include "store/listmanager.h"

#include <cstring>

namespace kelvra::store {

listmanager::~listmanager() = default;

void listmanager::Clear() {
    items_.clear();
    cursor_ = items_.end();
}

const std::string& listmanager::Append(std::string_view text) {
    // A cursor that has run off the end stays there: it does not pick up the new element.
    items_.emplace_back(text);
    return items_.back();
}

const std::string& listmanager::Append(const char* text, long length) {
    if (!text) return Append(std::string_view());
    const std::size_t n = length < 1 ? std::strlen(text) : static_cast<std::size_t>(length);
    return Append(std::string_view(text, n));
}

const std::string* listmanager::Next() {
    if (cursor_ == items_.end()) return nullptr;
    const std::string* item = &*cursor_;
    ++cursor_;
    return item;
}

void listmanager::Rewind() {
    cursor_ = items_.begin();
}

bool listmanager::RemoveFirst() {
    if (items_.empty()) return false;
    if (cursor_ == items_.begin()) ++cursor_;
    items_.pop_front();
    return !items_.empty();
}

void listmanager::MoveFirstToEnd() {
    if (items_.size() < 2) return;
    items_.splice(items_.end(), items_, items_.begin());
}

}  // namespace kelvra::store

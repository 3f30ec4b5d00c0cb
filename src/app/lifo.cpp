#include "app/lifo.h"

#include <algorithm>

#include "platform/profile.h"

namespace kelvra::app {

LIFOClass::LIFOClass(std::size_t capacity) : capacity_(capacity) {}

void LIFOClass::Add(std::string_view text) {
    if (capacity_ == 0) return;
    const auto present = std::find(entries_.begin(), entries_.end(), text);
    if (present != entries_.end()) {
        std::rotate(entries_.begin(), present, present + 1);
        return;
    }
    if (entries_.size() == capacity_) entries_.pop_back();
    entries_.insert(entries_.begin(), std::string(text));
}

const std::string* LIFOClass::Get(std::size_t index) const {
    return index < entries_.size() ? &entries_[index] : nullptr;
}

void LIFOClass::Load(std::string_view section, const platform::ProfileDocument& ini) {
    for (std::size_t i = capacity_; i-- > 0;) {
        const std::string value = ini.GetString(section, std::to_string(i), "");
        if (!value.empty()) Add(value);
    }
}

bool LIFOClass::Save(std::string_view section, platform::ProfileDocument& ini) const {
    bool written = true;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        written &= ini.Set(section, std::to_string(i), entries_[i]);
    }
    return written;
}

}  // namespace kelvra::app

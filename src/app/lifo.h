#pragma once
// A most-recent-first list of strings with a fixed capacity, persisted as the keys "0", "1", ...
// of one kelvraw.ini section.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace kelvra::app {

inline constexpr std::size_t kHistoryCapacity = 100;
inline constexpr std::size_t kUseApplicationsCapacity = 20;
inline constexpr char kHistorySection[] = "History";
inline constexpr char kUseApplicationsSection[] = "UseApplications";

class LIFOClass final {
  public:
    explicit LIFOClass(std::size_t capacity);

    // Puts text at the front. Text already present (exact comparison) moves there; a new text
    // on a full list first drops the oldest entry.
    void Add(std::string_view text);
    // Entry index (0 is the most recent); null past the end.
    const std::string* Get(std::size_t index) const;
    std::size_t Count() const { return entries_.size(); }
    std::size_t Capacity() const { return capacity_; }

    // Adds keys capacity-1 down to 0 of section, skipping missing and empty ones, so that key
    // "0" ends at the front.
    void Load(std::string_view section, const platform::ProfileDocument& ini);
    // Sets every entry from the front as "0", "1", ...; true when every key could be set.
    bool Save(std::string_view section, platform::ProfileDocument& ini) const;

  private:
    std::size_t capacity_;
    std::vector<std::string> entries_;  // front first
};

}  // namespace kelvra::app

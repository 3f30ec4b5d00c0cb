#pragma once
// Keys the frontier already holds, kept where the threads that read links ahead can look them
// up without the frontier's lock. A key once known stays known, so a link whose key is found
// here needs no admission at all; most links of a site repeat (menus, footers), and their
// admissions were most of the work the frontier's thread did for an answered page.
//
// It is a cache of bounded size whose places hold two keys each: a key that is missing or was
// pushed out is only admitted as before. A slot holds the whole key, so a hit is an exact match.

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kelvra::store {

class KnownKeyCache final {
  public:
    void Remember(std::string_view key);
    bool Holds(std::string_view key) const;

  private:
    static constexpr std::size_t kShards = 16;
    // 16,384 keys: a site's menus and footers fit, at half a megabyte of slots.
    static constexpr std::size_t kSlotsPerShard = 1024;
    struct Shard {
        mutable std::mutex mutex;
        std::vector<std::string> slots;  // allocated on the first key
    };
    // The shard and the slot in it.
    static std::pair<std::size_t, std::size_t> Place(std::string_view key);
    std::array<Shard, kShards> shards_;
};

}  // namespace kelvra::store

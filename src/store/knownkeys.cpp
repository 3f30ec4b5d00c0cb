#include "store/knownkeys.h"

#include <functional>

namespace kelvra::store {

std::pair<std::size_t, std::size_t> KnownKeyCache::Place(std::string_view key) {
    const std::size_t hash = std::hash<std::string_view>{}(key);
    return {hash % kShards, (hash / kShards) % kSlotsPerShard};
}

void KnownKeyCache::Remember(std::string_view key) {
    if (key.empty()) return;  // an empty slot must never match
    const auto [shard_index, slot] = Place(key);
    Shard& shard = shards_[shard_index];
    const std::lock_guard<std::mutex> hold(shard.mutex);
    if (shard.slots.empty()) shard.slots.resize(kSlotsPerShard);
    shard.slots[slot].assign(key);
}

bool KnownKeyCache::Holds(std::string_view key) const {
    if (key.empty()) return false;
    const auto [shard_index, slot] = Place(key);
    const Shard& shard = shards_[shard_index];
    const std::lock_guard<std::mutex> hold(shard.mutex);
    return !shard.slots.empty() && shard.slots[slot] == key;
}

}  // namespace kelvra::store

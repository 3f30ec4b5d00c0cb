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
    std::string& first = shard.slots[slot];
    std::string& second = shard.slots[slot ^ 1];
    if (first == key || second == key) return;
    // Two keys may share a place: the one it held moves to the other slot of the pair, so a
    // key is only pushed out by two later ones of the same place.
    if (!first.empty()) second.swap(first);
    first.assign(key);
}

bool KnownKeyCache::Holds(std::string_view key) const {
    if (key.empty()) return false;
    const auto [shard_index, slot] = Place(key);
    const Shard& shard = shards_[shard_index];
    const std::lock_guard<std::mutex> hold(shard.mutex);
    return !shard.slots.empty() && (shard.slots[slot] == key || shard.slots[slot ^ 1] == key);
}

}  // namespace kelvra::store

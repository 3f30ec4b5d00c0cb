#pragma once
// A hash table from a node's path to the node, kept beside the ordered child maps. Finding one
// stored URL among a million then costs one probe and a walk up its few parents, instead of a
// string comparison at every step of every map on the way down.
//
// A path's hash chains the hashes of its names from the root down, so a child's hash follows
// from its parent's while a path is walked or a subtree deleted. Hashes are not trusted: every
// candidate is confirmed by comparing names.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvra::store {

class treelistnode;

class NodeIndex final {
  public:
    static constexpr std::uint64_t kRootHash = 0x6a09e667f3bcc908ULL;
    static std::uint64_t ChildHash(std::uint64_t parent, std::string_view name);

    void Insert(std::uint64_t hash, treelistnode* node);
    void Erase(std::uint64_t hash, const treelistnode* node);
    void Clear();
    std::size_t size() const { return count_; }

    // The first node under hash that is_path accepts, or nullptr.
    template <class IsPath>
    treelistnode* Find(std::uint64_t hash, IsPath is_path) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t at = SlotOf(hash);; at = Next(at)) {
            const Slot& slot = slots_[at];
            if (!slot.node) return nullptr;
            if (slot.hash == hash && is_path(slot.node)) return slot.node;
        }
    }

  private:
    struct Slot {
        std::uint64_t hash = 0;
        treelistnode* node = nullptr;  // nullptr: free
    };
    // Linear probing stays short below this fill (in sixteenths).
    static constexpr std::size_t kMaxFillSixteenths = 11;
    static constexpr std::size_t kInitialSlots = 64;

    std::size_t SlotOf(std::uint64_t hash) const { return hash & (slots_.size() - 1); }
    std::size_t Next(std::size_t at) const { return (at + 1) & (slots_.size() - 1); }
    void Grow();
    void Place(Slot slot);

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

}  // namespace kelvra::store

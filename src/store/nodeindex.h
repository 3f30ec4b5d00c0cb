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
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace kelvra::store {

class treelistnode;

class NodeIndex final {
  public:
    static constexpr std::uint64_t kRootHash = 0x6a09e667f3bcc908ULL;
    static std::uint64_t ChildHash(std::uint64_t parent, std::string_view name);

    void Insert(std::uint64_t hash, treelistnode* node);
    struct Entry {
        std::uint64_t hash;
        treelistnode* node;
    };
    // Replaces the contents by entries. Placing them in slot order keeps the writes sequential,
    // which a million random ones are not.
    void Assign(std::vector<Entry>& entries);
    void Erase(std::uint64_t hash, const treelistnode* node);
    void Clear();
    std::size_t size() const { return count_; }

    // The first node under hash that is_path accepts, or nullptr.
    template <class IsPath>
    treelistnode* Find(std::uint64_t hash, IsPath is_path) const {
        if (capacity_ == 0) return nullptr;
        for (std::size_t at = SlotOf(hash);; at = Next(at)) {
            const Slot& slot = slots_[at];
            if (!slot.node) return nullptr;
            if (slot.hash == hash && is_path(slot.node)) return slot.node;
        }
    }

  private:
    using Slot = Entry;  // node nullptr: free
    // Linear probing stays short below this fill (in sixteenths).
    static constexpr std::size_t kMaxFillSixteenths = 11;
    static constexpr std::size_t kInitialSlots = 64;

    struct FreeSlots {
        void operator()(Slot* slots) const { std::free(slots); }
    };
    using SlotArray = std::unique_ptr<Slot[], FreeSlots>;
    // Zeroed; a large table asks for huge pages, since every lookup lands on a random page of it.
    static SlotArray AllocateSlots(std::size_t capacity);

    std::size_t SlotOf(std::uint64_t hash) const { return hash & (capacity_ - 1); }
    std::size_t Next(std::size_t at) const { return (at + 1) & (capacity_ - 1); }
    void Rehash(std::size_t capacity);
    void Place(Slot slot);

    SlotArray slots_;
    std::size_t capacity_ = 0;  // a power of two, or 0
    std::size_t count_ = 0;
};

}  // namespace kelvra::store

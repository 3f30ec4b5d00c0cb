#include "store/nodeindex.h"

#include <sys/mman.h>

#include <cstring>
#include <new>
#include <utility>

namespace kelvra::store {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ULL;

std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Eight bytes at a time; the length goes in too, so "a" and "a\0" differ.
std::uint64_t NameHash(std::string_view name) {
    std::uint64_t h = name.size() * kMultiplier;
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, name.data() + at, 8);
        h = (h ^ Mix(word)) * kMultiplier;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, name.data() + at, name.size() - at);
    return Mix(h ^ tail);
}

}  // namespace

std::uint64_t NodeIndex::ChildHash(std::uint64_t parent, std::string_view name) {
    return Mix(parent * kMultiplier + NameHash(name));
}

NodeIndex::SlotArray NodeIndex::AllocateSlots(std::size_t capacity) {
    const std::size_t bytes = capacity * sizeof(Slot);
    void* memory = nullptr;
    if (bytes >= kHugePage) {
        memory = std::aligned_alloc(kHugePage, bytes);  // bytes is a multiple of 2 MB here
        if (memory) ::madvise(memory, bytes, MADV_HUGEPAGE);
    } else {
        memory = std::malloc(bytes);
    }
    if (!memory) throw std::bad_alloc();
    std::memset(memory, 0, bytes);
    return SlotArray(static_cast<Slot*>(memory));
}

void NodeIndex::Insert(std::uint64_t hash, treelistnode* node) {
    if ((count_ + 1) * 16 > capacity_ * kMaxFillSixteenths) {
        Rehash(capacity_ ? capacity_ * 2 : kInitialSlots);
    }
    Place(Entry{hash, node});
    ++count_;
}

void NodeIndex::Assign(std::vector<Entry>& entries) {
    std::size_t capacity = kInitialSlots;
    while (entries.size() * 16 > capacity * kMaxFillSixteenths) capacity *= 2;
    slots_ = AllocateSlots(capacity);
    capacity_ = capacity;
    count_ = entries.size();
    // One counting-sort pass on the top bits of each home slot.
    constexpr int kBucketBits = 12;
    int shift = 0;
    while ((capacity >> shift) > (std::size_t{1} << kBucketBits)) ++shift;
    std::vector<std::size_t> start((capacity >> shift) + 1, 0);
    for (const Entry& entry : entries) ++start[(SlotOf(entry.hash) >> shift) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::vector<Entry> ordered(entries.size());
    for (const Entry& entry : entries) ordered[start[SlotOf(entry.hash) >> shift]++] = entry;
    for (const Entry& entry : ordered) Place(entry);
}

void NodeIndex::Place(Slot slot) {
    std::size_t at = SlotOf(slot.hash);
    while (slots_[at].node) at = Next(at);
    slots_[at] = slot;
}

void NodeIndex::Rehash(std::size_t capacity) {
    const std::size_t old_capacity = capacity_;
    SlotArray old = std::exchange(slots_, AllocateSlots(capacity));
    capacity_ = capacity;
    for (std::size_t at = 0; at < old_capacity; ++at) {
        if (old[at].node) Place(old[at]);
    }
}

// Backward-shift deletion: later members of the probe run move up into the gap, so no lookup
// ever stops early at a hole and no tombstones pile up.
void NodeIndex::Erase(std::uint64_t hash, const treelistnode* node) {
    if (capacity_ == 0) return;
    std::size_t gap = SlotOf(hash);
    while (slots_[gap].node != node) {
        if (!slots_[gap].node) return;
        gap = Next(gap);
    }
    for (std::size_t at = Next(gap); slots_[at].node; at = Next(at)) {
        const std::size_t home = SlotOf(slots_[at].hash);
        // Movable when its home does not lie cyclically in (gap, at].
        const bool home_after_gap = gap < at ? (home > gap && home <= at) : (home > gap || home <= at);
        if (home_after_gap) continue;
        slots_[gap] = slots_[at];
        gap = at;
    }
    slots_[gap] = Slot{};
    --count_;
}

void NodeIndex::Clear() {
    slots_.reset();
    capacity_ = 0;
    count_ = 0;
}

}  // namespace kelvra::store

#include "store/treelistmanager.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kelvra::store {

// ---- NodeValue ---------------------------------------------------------------------------

NodeValue NodeValue::Marker(long marker) {
    NodeValue v;
    v.value_ = marker;
    return v;
}

NodeValue NodeValue::Text(std::string_view text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    NodeValue v;
    v.value_ = std::move(copy);
    return v;
}

NodeValue NodeValue::Object(std::unique_ptr<NodePayload> object) {
    NodeValue v;
    if (object) v.value_ = std::move(object);
    return v;
}

long NodeValue::marker() const {
    const long* m = std::get_if<long>(&value_);
    return m ? *m : 0;
}

const char* NodeValue::text() const {
    const auto* t = std::get_if<std::unique_ptr<char[]>>(&value_);
    return t ? t->get() : nullptr;
}

char* NodeValue::mutable_text() {
    auto* t = std::get_if<std::unique_ptr<char[]>>(&value_);
    return t ? t->get() : nullptr;
}

NodePayload* NodeValue::object() const {
    const auto* o = std::get_if<std::unique_ptr<NodePayload>>(&value_);
    return o ? o->get() : nullptr;
}

// ---- treelistnode ------------------------------------------------------------------------

treelistnode::treelistnode(treelistnode* parent, const std::string* name)
    : parent_(parent), name_(name) {}

treelistnode::~treelistnode() = default;

bool treelistnode::IsLeaf() const {
    return !children_ || children_->empty();
}

std::size_t treelistnode::ChildCount() const {
    return children_ ? children_->size() : 0;
}

ChildRange treelistnode::children() const {
    if (!children_) return {};
    return {ChildIterator(children_->cbegin()), ChildIterator(children_->cend())};
}

treelistnode* treelistnode::FirstChild() const {
    return IsLeaf() ? nullptr : children_->begin()->second.get();
}

treelistnode* treelistnode::LastChild() const {
    return IsLeaf() ? nullptr : children_->rbegin()->second.get();
}

treelistnode* treelistnode::NextSibling() const {
    if (!parent_) return nullptr;
    const ChildMap& siblings = *parent_->children_;
    auto it = siblings.find(*name_);
    ++it;
    return it == siblings.end() ? nullptr : it->second.get();
}

treelistnode* treelistnode::PreviousSibling() const {
    if (!parent_) return nullptr;
    const ChildMap& siblings = *parent_->children_;
    auto it = siblings.find(*name_);
    return it == siblings.begin() ? nullptr : std::prev(it)->second.get();
}

treelistnode* treelistnode::FindChild(std::string_view name) const {
    if (!children_) return nullptr;
    auto it = children_->find(name);
    return it == children_->end() ? nullptr : it->second.get();
}

treelistnode* treelistnode::AddChild(std::string_view name, bool& created) {
    if (!children_) children_ = std::make_unique<ChildMap>();
    auto it = children_->lower_bound(name);
    created = it == children_->end() || it->first != name;
    if (!created) return it->second.get();
    it = children_->emplace_hint(it, std::string(name), nullptr);
    it->second = std::make_unique<treelistnode>(this, &it->first);
    return it->second.get();
}

// ---- treelistmanager ---------------------------------------------------------------------

treelistmanager::treelistmanager(char separator)
    : separator_(separator), root_(std::make_unique<treelistnode>(nullptr, &root_name_)) {}

treelistmanager::~treelistmanager() {
    ClearBelow(root_.get());
}

// Calls visit(name) for each name of path; false without calling it when the path is too deep.
std::size_t treelistmanager::NameCount(std::string_view path, std::size_t split_end) const {
    const std::size_t limit = std::min(split_end, path.size());
    return 1 + static_cast<std::size_t>(std::count(path.begin(), path.begin() + limit, separator_));
}

template <class Visit>
bool treelistmanager::ForEachName(std::string_view path, std::size_t split_end, Visit visit) const {
    if (NameCount(path, split_end) > kMaxDepth) return false;
    const std::size_t limit = std::min(split_end, path.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t sep = path.substr(0, limit).find(separator_, pos);
        if (sep == std::string_view::npos) {
            return visit(path.substr(pos));
        }
        if (!visit(path.substr(pos, sep - pos))) return false;
        pos = sep + 1;
    }
}

treelistnode* treelistmanager::InsertPath(std::string_view path, std::size_t split_end) {
    bool created = false;
    return InsertPath(path, split_end, created);
}

treelistnode* treelistmanager::InsertPath(std::string_view path, std::size_t split_end,
                                          bool& created) {
    treelistnode* node = root_.get();
    std::uint64_t hash = NodeIndex::kRootHash;
    created = false;
    std::size_t level = 0;
    const bool ok = ForEachName(path, split_end, [&](std::string_view name) {
        if (level < insert_chain_.size() && insert_chain_[level]->name() == name) {
            node = insert_chain_[level];
            hash = insert_chain_hashes_[level];
            created = false;
        } else {
            hash = NodeIndex::ChildHash(hash, name);
            node = FindOrAddChild(node, name, hash, created);
            insert_chain_.resize(level);
            insert_chain_hashes_.resize(level);
            insert_chain_.push_back(node);
            insert_chain_hashes_.push_back(hash);
        }
        ++level;
        return true;
    });
    if (!ok) return nullptr;
    insert_chain_.resize(level);
    insert_chain_hashes_.resize(level);
    return node;
}

// The index finds an existing child with one probe; the child map is only searched to place a
// new one.
treelistnode* treelistmanager::FindOrAddChild(treelistnode* parent, std::string_view name,
                                              std::uint64_t hash, bool& created) {
    if (bulk_inserting_) {
        treelistnode* child = parent->AddChild(name, created);
        if (created) ++node_count_;
        return child;
    }
    treelistnode* child = index_.Find(hash, [&](const treelistnode* candidate) {
        return candidate->parent_ == parent && *candidate->name_ == name;
    });
    created = child == nullptr;
    if (created) {
        child = parent->AddChild(name, created);
        index_.Insert(hash, child);
        ++node_count_;
    }
    return child;
}

treelistnode* treelistmanager::FindPath(std::string_view path, std::size_t split_end) const {
    return bulk_inserting_ ? FindPathInMaps(path, split_end) : FindPathInIndex(path, split_end);
}

treelistnode* treelistmanager::FindPathInMaps(std::string_view path, std::size_t split_end) const {
    treelistnode* node = root_.get();
    const bool ok = ForEachName(path, split_end, [&node](std::string_view name) {
        node = node->FindChild(name);
        return node != nullptr;
    });
    return ok ? node : nullptr;
}

treelistnode* treelistmanager::FindPathInIndex(std::string_view path,
                                               std::size_t split_end) const {
    std::array<std::string_view, kMaxDepth> names;
    std::size_t count = 0;
    std::uint64_t hash = NodeIndex::kRootHash;
    const bool ok = ForEachName(path, split_end, [&](std::string_view name) {
        names[count++] = name;
        hash = NodeIndex::ChildHash(hash, name);
        return true;
    });
    if (!ok) return nullptr;
    return index_.Find(hash, [&](const treelistnode* node) {
        for (std::size_t i = count; i-- > 0; node = node->parent_) {
            if (!node->parent_ || *node->name_ != names[i]) return false;
        }
        return node->IsRoot();
    });
}

void treelistmanager::BeginBulkInsert() {
    bulk_inserting_ = true;
    index_.Clear();
}

void treelistmanager::EndBulkInsert() {
    if (!bulk_inserting_) return;
    bulk_inserting_ = false;
    std::vector<NodeIndex::Entry> entries;
    entries.reserve(node_count_);
    CollectBelow(root_.get(), NodeIndex::kRootHash, entries);
    index_.Assign(entries);
}

void treelistmanager::CollectBelow(treelistnode* node, std::uint64_t hash,
                                   std::vector<NodeIndex::Entry>& out) {
    if (!node->children_) return;
    for (auto& [name, child] : *node->children_) {
        const std::uint64_t child_hash = NodeIndex::ChildHash(hash, name);
        out.push_back({child_hash, child.get()});
        CollectBelow(child.get(), child_hash, out);
    }
}

std::uint64_t treelistmanager::PathHash(const treelistnode* node) {
    std::vector<const std::string*> names;
    for (; node->parent_; node = node->parent_) names.push_back(node->name_);
    std::uint64_t hash = NodeIndex::kRootHash;
    for (auto it = names.rbegin(); it != names.rend(); ++it) hash = NodeIndex::ChildHash(hash, **it);
    return hash;
}

treelistnode* treelistmanager::Root() const {
    return root_.get();
}

void treelistmanager::RemoveNode(treelistnode* node) {
    if (!node) return;
    treelistnode* parent = node->parent_;
    if (!parent) {
        ClearBelow(node);
        return;
    }
    insert_chain_.clear();
    const std::uint64_t hash = PathHash(node);
    DeleteChildren(node, hash);
    index_.Erase(hash, node);
    --node_count_;
    ChildMap& siblings = *parent->children_;
    siblings.erase(siblings.find(*node->name_));
    if (siblings.empty()) parent->children_.reset();
}

void treelistmanager::ClearBelow(treelistnode* node) {
    insert_chain_.clear();
    if (!node) return;
    if (node->IsRoot()) {
        index_.Clear();  // everything goes: no need to take nodes out one by one
        DeleteChildren(node, std::nullopt);
    } else {
        DeleteChildren(node, PathHash(node));
    }
}

// Children before parents, so that a node never outlives its subtree. Without a hash the
// nodes are no longer indexed and are only freed.
void treelistmanager::DeleteChildren(treelistnode* node, std::optional<std::uint64_t> hash) {
    if (!node->children_) return;
    // Each child goes in ascending order; the map itself is freed in one go afterwards, which
    // spares rebalancing it after every erase.
    for (auto& [name, child] : *node->children_) {
        std::optional<std::uint64_t> child_hash;
        if (hash) child_hash = NodeIndex::ChildHash(*hash, name);
        DeleteChildren(child.get(), child_hash);
        if (child_hash) index_.Erase(*child_hash, child.get());
        child.reset();
        --node_count_;
    }
    node->children_.reset();
}

std::string treelistmanager::KeyOf(const treelistnode* node) const {
    std::vector<const std::string*> names;
    std::size_t length = 0;
    for (; node && node->parent_; node = node->parent_) {
        names.push_back(node->name_);
        length += node->name_->size() + 1;
    }
    std::string key;
    key.reserve(length);
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (it != names.rbegin()) key += separator_;
        key += **it;
    }
    return key;
}

std::size_t treelistmanager::Depth(const treelistnode* node) {
    std::size_t depth = 0;
    for (; node && node->parent_; node = node->parent_) ++depth;
    return depth;
}

namespace {

void AppendPostOrder(const treelistnode* node, std::vector<treelistnode*>& out) {
    for (treelistnode* child : node->children()) {
        AppendPostOrder(child, out);
        out.push_back(child);
    }
}

void AppendListOrder(const treelistnode* node, std::vector<treelistnode*>& out) {
    const ChildRange range = node->children();
    for (auto it = range.end(); it != range.begin();) {
        treelistnode* child = *--it;
        out.push_back(child);
        AppendListOrder(child, out);
    }
}

}  // namespace

std::vector<treelistnode*> treelistmanager::PostOrder(const treelistnode* node) {
    std::vector<treelistnode*> out;
    if (node) AppendPostOrder(node, out);
    return out;
}

std::vector<treelistnode*> treelistmanager::ListOrder(const treelistnode* node) {
    std::vector<treelistnode*> out;
    if (node) AppendListOrder(node, out);
    return out;
}

}  // namespace kelvra::store

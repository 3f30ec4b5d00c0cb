#pragma once
// An ordered tree of named nodes addressed by separator-joined paths. The header-information
// store, the crawl frontier and the condition file are all built on it.
//
// Orders that callers rely on:
//  - siblings ascend by plain byte comparison of their names (unsigned, case-sensitive);
//  - PostOrder: children (ascending, each fully walked) before their parent; subtrees are
//    deleted in this order;
//  - ListOrder: the exact reverse of PostOrder: a node before its children, siblings descending.
//
// Children are kept in a balanced search tree, so a directory of hundreds of thousands of
// entries loads in n log n, while the orders above are the ones a sorted sibling list gives.
// Lookups of whole paths go through a hash index of every node instead.

#include <cstddef>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/nodeindex.h"

namespace kelvra::store {

// An object a node can own (the frontier keeps its job descriptors this way). Deleting the node
// or replacing its value destroys it.
class NodePayload {
  public:
    virtual ~NodePayload() = default;
};

// What a node holds: nothing, a small marker number (kRemoved among them), an owned
// NUL-terminated text, or an owned object.
class NodeValue final {
  public:
    // Set by data management on store nodes; other trees use it for "no URL of its own".
    static constexpr long kRemoved = -1;

    NodeValue() = default;
    static NodeValue Removed() { return Marker(kRemoved); }
    static NodeValue Marker(long marker);
    // Copies text and adds a NUL.
    static NodeValue Text(std::string_view text);
    static NodeValue Object(std::unique_ptr<NodePayload> object);

    bool IsNone() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsMarker() const { return std::holds_alternative<long>(value_); }
    bool IsRemoved() const { return IsMarker() && marker() == kRemoved; }
    bool IsText() const { return std::holds_alternative<std::unique_ptr<char[]>>(value_); }
    bool IsObject() const { return std::holds_alternative<std::unique_ptr<NodePayload>>(value_); }

    // 0 unless a marker.
    long marker() const;
    // nullptr unless a text. The mutable form allows in-place edits that do not lengthen it.
    const char* text() const;
    char* mutable_text();
    // nullptr unless an object.
    NodePayload* object() const;
    template <class T>
    T* ObjectAs() const {
        return dynamic_cast<T*>(object());
    }

  private:
    std::variant<std::monostate, long, std::unique_ptr<char[]>, std::unique_ptr<NodePayload>>
        value_;
};

class treelistnode;

// Names live in the map's keys, so a lookup compares without leaving the map's nodes.
using ChildMap = std::map<std::string, std::unique_ptr<treelistnode>, std::less<>>;

// Iterates children in ascending name order, yielding treelistnode*.
class ChildIterator final {
  public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = treelistnode*;
    using difference_type = std::ptrdiff_t;
    using pointer = treelistnode* const*;
    using reference = treelistnode*;

    ChildIterator() = default;
    explicit ChildIterator(ChildMap::const_iterator it) : it_(it) {}
    treelistnode* operator*() const { return it_->second.get(); }
    ChildIterator& operator++() {
        ++it_;
        return *this;
    }
    ChildIterator operator++(int) {
        ChildIterator old = *this;
        ++it_;
        return old;
    }
    ChildIterator& operator--() {
        --it_;
        return *this;
    }
    ChildIterator operator--(int) {
        ChildIterator old = *this;
        --it_;
        return old;
    }
    bool operator==(const ChildIterator& other) const { return it_ == other.it_; }

  private:
    ChildMap::const_iterator it_;
};

struct ChildRange {
    ChildIterator first;
    ChildIterator last;
    ChildIterator begin() const { return first; }
    ChildIterator end() const { return last; }
    bool empty() const { return first == last; }
};

class treelistnode final {
  public:
    // name is owned elsewhere (the parent's map key) and outlives the node.
    treelistnode(treelistnode* parent, const std::string* name);
    ~treelistnode();
    treelistnode(const treelistnode&) = delete;
    treelistnode& operator=(const treelistnode&) = delete;

    treelistnode* parent() const { return parent_; }
    bool IsRoot() const { return parent_ == nullptr; }
    const std::string& name() const { return *name_; }
    NodeValue& value() { return value_; }
    const NodeValue& value() const { return value_; }

    bool IsLeaf() const;
    std::size_t ChildCount() const;
    // Ascending by name.
    ChildRange children() const;
    treelistnode* FirstChild() const;
    treelistnode* LastChild() const;
    // The next greater / next smaller sibling; nullptr at the end.
    treelistnode* NextSibling() const;
    treelistnode* PreviousSibling() const;
    treelistnode* FindChild(std::string_view name) const;

  private:
    friend class treelistmanager;
    treelistnode* AddChild(std::string_view name, bool& created);

    treelistnode* parent_;
    const std::string* name_;
    // Declared before children_ so that it is released after them when a node is destroyed.
    NodeValue value_;
    std::unique_ptr<ChildMap> children_;  // absent for leaves: most nodes are leaves
};

class treelistmanager {
  public:
    static constexpr std::size_t kMaxDepth = 64;  // names in one path
    static constexpr std::size_t kWholePath = std::string_view::npos;

    explicit treelistmanager(char separator = '/');
    virtual ~treelistmanager();
    treelistmanager(const treelistmanager&) = delete;
    treelistmanager& operator=(const treelistmanager&) = delete;

    // The node of path, creating the missing ones (a new node's value is none). Separators at
    // or after split_end do not split: the rest stays in the last name. Empty names are legal
    // ("a//b" has three names). nullptr when the path has more than kMaxDepth names.
    virtual treelistnode* InsertPath(std::string_view path, std::size_t split_end = kWholePath);
    // The same, telling whether the node itself was created.
    treelistnode* InsertPath(std::string_view path, std::size_t split_end, bool& created);
    // The existing node of path, split the same way, or nullptr.
    virtual treelistnode* FindPath(std::string_view path, std::size_t split_end = kWholePath) const;
    virtual treelistnode* Root() const;
    // Deletes node and everything below it (post-order) and unlinks it from its parent. For the
    // root this is ClearBelow.
    virtual void RemoveNode(treelistnode* node);
    // Deletes everything below node (post-order); node itself stays.
    virtual void ClearBelow(treelistnode* node);

    // Between these, lookups walk the child maps and inserts leave the index alone; the end
    // indexes every node in one pass. Loading a large file this way costs much less than
    // keeping the index current insert by insert.
    void BeginBulkInsert();
    void EndBulkInsert();

    char separator() const { return separator_; }
    // The names from the top level down to node joined by the separator ("" for the root).
    std::string KeyOf(const treelistnode* node) const;
    // Number of names from the top level down to node (0 for the root).
    static std::size_t Depth(const treelistnode* node);
    // Number of names path is split into, as InsertPath splits it.
    std::size_t NameCount(std::string_view path, std::size_t split_end = kWholePath) const;
    // Every node below node (not node itself), children before parents, siblings ascending.
    static std::vector<treelistnode*> PostOrder(const treelistnode* node);
    // Every node below node: the reverse of PostOrder.
    static std::vector<treelistnode*> ListOrder(const treelistnode* node);

  private:
    template <class Visit>
    bool ForEachName(std::string_view path, std::size_t split_end, Visit visit) const;
    // Deletes the subtree below node, whose path hashes to hash, taking it out of the index.
    void DeleteChildren(treelistnode* node, std::optional<std::uint64_t> hash);
    static std::uint64_t PathHash(const treelistnode* node);
    treelistnode* FindPathInIndex(std::string_view path, std::size_t split_end) const;
    treelistnode* FindPathInMaps(std::string_view path, std::size_t split_end) const;
    treelistnode* FindOrAddChild(treelistnode* parent, std::string_view name, std::uint64_t hash,
                                 bool& created);
    static void CollectBelow(treelistnode* node, std::uint64_t hash,
                             std::vector<NodeIndex::Entry>& out);

    char separator_;
    std::string root_name_;
    std::unique_ptr<treelistnode> root_;
    // The nodes of the last inserted path, level by level: files come in tree order, so most
    // inserts share all but the last names with the previous one. Cleared by every deletion.
    std::vector<treelistnode*> insert_chain_;
    std::vector<std::uint64_t> insert_chain_hashes_;  // the path hash of each chain node
    NodeIndex index_;        // every node but the root, unless bulk_inserting_
    bool bulk_inserting_ = false;
    std::size_t node_count_ = 0;  // not counting the root
};

}  // namespace kelvra::store

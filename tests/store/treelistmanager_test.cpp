#include "store/treelistmanager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kelvra::store {
namespace {

std::vector<std::string> Keys(const treelistmanager& tree,
                              const std::vector<treelistnode*>& nodes) {
    std::vector<std::string> keys;
    for (const treelistnode* n : nodes) keys.push_back(tree.KeyOf(n));
    return keys;
}

std::vector<std::string> ChildNames(const treelistnode* node) {
    std::vector<std::string> names;
    for (const treelistnode* c : node->children()) names.push_back(c->name());
    return names;
}

TEST(TreeOrder, SiblingsAscendByUnsignedBytes) {
    treelistmanager tree;
    // Inserted out of order; upper case sorts before lower case, 0xE0 after 'z', "" first.
    for (const char* k : {"h/b", "h/\xE0", "h/a", "h/B", "h/", "h/ab"}) tree.InsertPath(k);
    EXPECT_EQ(ChildNames(tree.FindPath("h")),
              (std::vector<std::string>{"", "B", "a", "ab", "b", "\xE0"}));
}

TEST(TreeOrder, PostOrderAndListOrderAreReverses) {
    treelistmanager tree;
    for (const char* k : {"h/b/x", "h/a", "g", "h/b/w"}) tree.InsertPath(k);
    const auto post = Keys(tree, treelistmanager::PostOrder(tree.Root()));
    EXPECT_EQ(post, (std::vector<std::string>{"g", "h/a", "h/b/w", "h/b/x", "h/b", "h"}));
    const auto list = Keys(tree, treelistmanager::ListOrder(tree.Root()));
    EXPECT_EQ(list, (std::vector<std::string>{"h", "h/b", "h/b/x", "h/b/w", "h/a", "g"}));
}

TEST(TreePaths, SplitEndKeepsTheRestInOneName) {
    treelistmanager tree;
    const std::string key = "h/cgi/x.cgi?a=1/2";
    treelistnode* n = tree.InsertPath(key, key.find('?'));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->name(), "x.cgi?a=1/2");
    EXPECT_EQ(tree.KeyOf(n), key);
    EXPECT_EQ(tree.FindPath(key, key.find('?')), n);
    // Split everywhere the same text names a different node.
    EXPECT_EQ(tree.FindPath(key), nullptr);
}

TEST(TreePaths, EmptyNamesAreLegal) {
    treelistmanager tree;
    treelistnode* n = tree.InsertPath("http://h/d/");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(treelistmanager::Depth(n), 5u);
    EXPECT_EQ(n->name(), "");
    EXPECT_EQ(tree.KeyOf(n), "http://h/d/");
    EXPECT_EQ(tree.FindPath("http:")->FirstChild()->name(), "");
}

TEST(TreePaths, DepthLimit) {
    treelistmanager tree;
    std::string ok = "h";
    for (std::size_t i = 1; i < treelistmanager::kMaxDepth; ++i) ok += "/d";
    ASSERT_NE(tree.InsertPath(ok), nullptr);
    // One more name is refused and creates nothing.
    EXPECT_EQ(tree.InsertPath(ok + "/x"), nullptr);
    EXPECT_EQ(tree.FindPath(ok)->ChildCount(), 0u);
    EXPECT_EQ(tree.FindPath(ok + "/x"), nullptr);
    // Separators past the split end do not count.
    EXPECT_NE(tree.InsertPath(ok + "?/x/y", ok.size()), nullptr);
}

TEST(TreeChanges, RemoveNodeDropsSubtreeAndKeepsSiblings) {
    treelistmanager tree;
    for (const char* k : {"h/a/1", "h/a/2", "h/b"}) tree.InsertPath(k);
    tree.RemoveNode(tree.FindPath("h/a"));
    EXPECT_EQ(tree.FindPath("h/a"), nullptr);
    EXPECT_EQ(tree.FindPath("h/a/1"), nullptr);
    EXPECT_EQ(ChildNames(tree.FindPath("h")), (std::vector<std::string>{"b"}));
    tree.RemoveNode(tree.Root());
    EXPECT_TRUE(tree.Root()->IsLeaf());
}

TEST(TreeChanges, InsertAfterRemovingTheLastInsertedPath) {
    treelistmanager tree;
    treelistnode* first = tree.InsertPath("h/d/a");
    EXPECT_EQ(tree.InsertPath("h/d/a"), first);
    EXPECT_NE(tree.InsertPath("h/e/a"), first);  // same last name, other parent
    tree.RemoveNode(tree.FindPath("h/d"));
    treelistnode* again = tree.InsertPath("h/d/a");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(tree.KeyOf(again), "h/d/a");
    EXPECT_EQ(tree.FindPath("h/d/a"), again);
    EXPECT_EQ(tree.FindPath("h")->ChildCount(), 2u);
}

// Records deletion order through payload destructors.
struct Probe final : NodePayload {
    Probe(std::vector<std::string>& log, std::string name) : log(log), name(std::move(name)) {}
    ~Probe() override { log.push_back(name); }
    std::vector<std::string>& log;
    std::string name;
};

TEST(TreeChanges, DeletionIsPostOrder) {
    std::vector<std::string> log;
    {
        treelistmanager tree;
        for (const char* k : {"h", "h/b", "h/a", "h/a/x"})
            tree.InsertPath(k)->value() = NodeValue::Object(std::make_unique<Probe>(log, k));
    }
    EXPECT_EQ(log, (std::vector<std::string>{"h/a/x", "h/a", "h/b", "h"}));
}

TEST(TreeValues, Kinds) {
    treelistmanager tree;
    treelistnode* n = tree.InsertPath("h/x");
    EXPECT_TRUE(n->value().IsNone());
    n->value() = NodeValue::Text("abc");
    EXPECT_STREQ(n->value().text(), "abc");
    n->value() = NodeValue::Removed();
    EXPECT_TRUE(n->value().IsRemoved());
    EXPECT_EQ(n->value().text(), nullptr);
    n->value() = NodeValue::Marker(1);
    EXPECT_FALSE(n->value().IsRemoved());
    EXPECT_EQ(n->value().marker(), 1);
}

TEST(TreeSiblings, NextAndPrevious) {
    treelistmanager tree;
    for (const char* k : {"h/c", "h/a", "h/b"}) tree.InsertPath(k);
    treelistnode* a = tree.FindPath("h/a");
    ASSERT_NE(a->NextSibling(), nullptr);
    EXPECT_EQ(a->NextSibling()->name(), "b");
    EXPECT_EQ(a->NextSibling()->NextSibling()->name(), "c");
    EXPECT_EQ(tree.FindPath("h/c")->NextSibling(), nullptr);
    EXPECT_EQ(a->PreviousSibling(), nullptr);
}

// A directory of 200,000 entries inserted in descending order (the order a saved file has)
// must not cost quadratic time; a generous bound catches an O(n^2) sibling list.
TEST(TreeScale, WideDirectoryInsertsQuickly) {
    treelistmanager tree;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 200000; i-- > 0;) tree.InsertPath("h/d/file" + std::to_string(i));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(tree.FindPath("h/d")->ChildCount(), 200000u);
    EXPECT_EQ(tree.FindPath("h/d")->FirstChild()->name(), "file0");
    EXPECT_LT(seconds.count(), 20.0);
}

// Path lookups go through a hash index that bulk loads, insertions, subtree removals and clears
// must keep exact. Few distinct names make the same name recur under many parents, and the random removals
// shift members of long probe runs; a model set says what must be found.
TEST(TreeIndex, LookupsFollowInsertsAndRemovalsExactly) {
    treelistmanager tree;
    std::set<std::string> model;
    std::mt19937 random(11);
    const char* names[] = {"a", "b", "", "index.html", "dir"};
    auto random_path = [&] {
        std::string path;
        const int depth = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < depth; ++i) (i ? path += '/' : path) += names[random() % 5];
        return path;
    };
    auto remove_below = [&model](const std::string& path, bool keep_self) {
        for (auto it = model.lower_bound(path); it != model.end() && it->starts_with(path);) {
            const bool below = it->size() > path.size() && (*it)[path.size()] == '/';
            it = (below || (!keep_self && *it == path)) ? model.erase(it) : std::next(it);
        }
    };
    // The first rounds run as a bulk load does: lookups walk the maps, the index comes after.
    tree.BeginBulkInsert();
    for (int round = 0; round < 20000; ++round) {
        if (round == 5000) tree.EndBulkInsert();
        const std::string path = random_path();
        switch (random() % 8) {
            case 0:
                if (treelistnode* node = tree.FindPath(path)) {
                    tree.RemoveNode(node);
                    remove_below(path, false);
                }
                break;
            case 1:
                tree.ClearBelow(tree.FindPath(path));
                if (model.count(path)) remove_below(path, true);
                break;
            default:
                tree.InsertPath(path);
                for (std::size_t at = 0; at < path.size(); ++at) {
                    if (path[at] == '/') model.insert(path.substr(0, at));
                }
                model.insert(path);
        }
    }
    for (const std::string& path : model) {
        const treelistnode* node = tree.FindPath(path);
        ASSERT_NE(node, nullptr) << path;
        EXPECT_EQ(tree.KeyOf(node), path);
    }
    for (int i = 0; i < 2000; ++i) {
        const std::string path = random_path();
        EXPECT_EQ(tree.FindPath(path) != nullptr, model.count(path) == 1) << path;
    }
    // A path split differently is a different node.
    tree.InsertPath("h/a/b", 2);
    EXPECT_NE(tree.FindPath("h/a/b", 2), nullptr);
    EXPECT_NE(tree.FindPath("h/a/b", 2), tree.FindPath("h/a/b"));
    tree.ClearBelow(tree.Root());
    EXPECT_EQ(tree.FindPath("h/a/b", 2), nullptr);
    EXPECT_EQ(tree.FindPath("a"), nullptr);
}

}  // namespace
}  // namespace kelvra::store

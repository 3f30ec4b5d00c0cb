#include "store/listmanager.h"

#include <gtest/gtest.h>

namespace kelvra::store {
namespace {

TEST(ListManager, AppendNextRewind) {
    listmanager list;
    EXPECT_EQ(list.Append("abc", 0), "abc");  // length below 1: the text's own length
    EXPECT_EQ(list.Append("defgh", 2), "de");
    list.Rewind();
    ASSERT_NE(list.Next(), nullptr);
    EXPECT_EQ(*list.Next(), "de");
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_EQ(list.Count(), 2u);
    list.Rewind();
    EXPECT_EQ(*list.Next(), "abc");
}

TEST(ListManager, RemoveFirstReportsRemaining) {
    listmanager list;
    EXPECT_FALSE(list.RemoveFirst());
    list.Append("a", 0);
    list.Append("b", 0);
    list.Rewind();
    EXPECT_TRUE(list.RemoveFirst());
    // The cursor was on the removed element and moves on.
    EXPECT_EQ(*list.Next(), "b");
    EXPECT_FALSE(list.RemoveFirst());
    EXPECT_EQ(list.Count(), 0u);
}

TEST(ListManager, MoveFirstToEnd) {
    listmanager list;
    for (const char* s : {"a", "b", "c"}) list.Append(s, 0);
    list.MoveFirstToEnd();
    list.Rewind();
    std::string order;
    while (const std::string* s = list.Next()) order += *s;
    EXPECT_EQ(order, "bca");
}

TEST(ListManager, StoredCopiesStayPut) {
    listmanager list;
    const std::string* first = &list.Append("x", 0);
    for (int i = 0; i < 1000; ++i) list.Append("y", 0);
    EXPECT_EQ(first, list.First());
}

}  // namespace
}  // namespace kelvra::store

#include "store/knownkeys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace kelvra::store {
namespace {

TEST(KnownKeyCache, HoldsOnlyTheKeyLastRememberedInItsSlot) {
    KnownKeyCache cache;
    EXPECT_FALSE(cache.Holds(""));  // an empty slot is no key
    EXPECT_FALSE(cache.Holds("h/a"));
    cache.Remember("h/a");
    cache.Remember("");
    EXPECT_TRUE(cache.Holds("h/a"));
    EXPECT_FALSE(cache.Holds("h/a/"));
    EXPECT_FALSE(cache.Holds(""));
    // Some other key takes the slot of h/a: then h/a is no longer held, the newcomer is.
    std::string other;
    for (int k = 0; other.empty() && k < 1'000'000; ++k) {
        const std::string candidate = "h/" + std::to_string(k);
        cache.Remember(candidate);
        if (!cache.Holds("h/a")) other = candidate;
    }
    ASSERT_FALSE(other.empty());
    EXPECT_TRUE(cache.Holds(other));
    EXPECT_FALSE(cache.Holds("h/a"));
}

TEST(KnownKeyCache, ReadersNeverSeeAKeyThatWasNotRemembered) {
    KnownKeyCache cache;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int k = 0; k < 20000; ++k) cache.Remember("h/known/" + std::to_string(k));
        done = true;
    });
    int false_hits = 0;
    while (!done) {
        for (int k = 0; k < 200; ++k) {
            if (cache.Holds("h/other/" + std::to_string(k))) ++false_hits;
        }
    }
    writer.join();
    EXPECT_EQ(false_hits, 0);
    EXPECT_TRUE(cache.Holds("h/known/19999"));
}

}  // namespace
}  // namespace kelvra::store

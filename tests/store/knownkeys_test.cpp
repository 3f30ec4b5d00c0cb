#include "store/knownkeys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace kelvra::store {
namespace {

TEST(KnownKeyCache, HoldsExactKeysUntilLaterOnesOfTheirPlacePushThemOut) {
    KnownKeyCache cache;
    EXPECT_FALSE(cache.Holds(""));  // an empty slot is no key
    EXPECT_FALSE(cache.Holds("h/a"));
    cache.Remember("h/a");
    cache.Remember("");
    EXPECT_TRUE(cache.Holds("h/a"));
    EXPECT_FALSE(cache.Holds("h/a/"));
    EXPECT_FALSE(cache.Holds(""));
    // Later keys of the same place push h/a out at last: then the newcomer is held, h/a is not.
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

// A site of a few thousand URLs is far below the cache's size, but some of its keys share a
// place; were each place one slot, about one key in sixteen would be pushed out and admitted
// again on every link to it.
TEST(KnownKeyCache, KeepsNearlyAllKeysOfASiteFarBelowItsSize) {
    KnownKeyCache cache;
    constexpr int kKeys = 2320;
    const auto key = [](int k) {
        return "127.0.0.1:18400/d" + std::to_string(k % 5) + "/s" + std::to_string(k % 8) + "/p" +
               std::to_string(k) + ".html";
    };
    for (int k = 0; k < kKeys; ++k) cache.Remember(key(k));
    int lost = 0;
    for (int k = 0; k < kKeys; ++k) lost += cache.Holds(key(k)) ? 0 : 1;
    EXPECT_LE(lost, kKeys / 50);
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

#include "db/jet/index/entry_digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace varnika::jet {
namespace {

EntryDigest digestOf(const std::vector<std::vector<uint8_t>>& entries)
{
    EntryDigest d;
    for (const auto& e : entries) d.add(e);
    return d;
}

// The pre-run check compares the entries an index holds with the ones its
// rows make through this digest alone: the order must not matter, and any
// change an index could hold must show.
TEST(EntryDigest, TellsSetsApartWhateverTheirOrder)
{
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> entries;
    for (size_t n = 0; n < 40; ++n) {
        std::vector<uint8_t> e(n % 23);
        for (uint8_t& b : e) b = uint8_t(random());
        entries.push_back(e);
    }
    const EntryDigest whole = digestOf(entries);
    auto shuffled = entries;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    EXPECT_EQ(digestOf(shuffled), whole);

    for (size_t i = 0; i < entries.size(); ++i) {
        // Every byte of every entry, in the whole words and in the last one.
        for (size_t at = 0; at < entries[i].size(); ++at) {
            auto changed = entries;
            changed[i][at] ^= 1;
            EXPECT_NE(digestOf(changed), whole) << i << " " << at;
        }
        // A zero byte added or taken off the end: the last word reads the same.
        auto longer = entries;
        longer[i].push_back(0);
        EXPECT_NE(digestOf(longer), whole) << i;
        if (!entries[i].empty() && entries[i].back() == 0) {
            auto shorter = entries;
            shorter[i].pop_back();
            EXPECT_NE(digestOf(shorter), whole) << i;
        }
    }
    // One entry twice and another left out; two entries trading a byte.
    auto twice = entries;
    twice[3] = twice[4];
    EXPECT_NE(digestOf(twice), whole);
    auto traded = entries;
    std::swap(traded[10][0], traded[11][0]);
    ASSERT_NE(entries[10][0], entries[11][0]);
    EXPECT_NE(digestOf(traded), whole);
    // Entries cut apart differently: the same bytes in all.
    std::vector<std::vector<uint8_t>> two = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10}};
    std::vector<std::vector<uint8_t>> cut = {{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10}};
    EXPECT_NE(digestOf(two), digestOf(cut));
}

}  // namespace
}  // namespace varnika::jet

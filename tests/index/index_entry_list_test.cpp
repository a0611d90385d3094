#include "db/jet/index/index_builder.h"
#include "db/jet/index/index_entry_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

using namespace varnika::jet;

// Sorted as the leaf chain holds entries (byte by byte, a key that begins a
// longer one first), with the keys and their distinct count to match.
TEST(IndexEntryList, SortsAsTheBytesCompareAndCountsDistinctKeys)
{
    for (const size_t blockSize : {IndexEntryList::kDefaultBlockSize, size_t(16)}) {
        SCOPED_TRACE(blockSize);
        std::mt19937 rng(11);
        IndexEntryList list(blockSize);
        std::vector<std::vector<uint8_t>> model;
        std::set<std::vector<uint8_t>> keys;
        for (int i = 0; i < 3000; ++i) {
            std::vector<uint8_t> key(rng() % 6);
            for (auto& b : key) b = uint8_t(rng() % 3);
            const RowId row{uint32_t(rng() % 70000), uint8_t(rng())};
            list.add(key, row);
            keys.insert(key);
            std::vector<uint8_t> whole = key;
            whole.insert(whole.end(), {uint8_t(row.page >> 16), uint8_t(row.page >> 8), uint8_t(row.page), row.row});
            model.push_back(whole);
        }
        std::sort(model.begin(), model.end());
        EXPECT_EQ(distinctKeys(list), keys.size());
        list.sort();
        ASSERT_EQ(list.size(), model.size());
        for (size_t i = 0; i < model.size(); ++i) {
            ASSERT_TRUE(std::ranges::equal(list[i], model[i])) << i;
            ASSERT_TRUE(std::ranges::equal(list.key(i), std::span(model[i]).first(model[i].size() - 4))) << i;
        }
        EXPECT_TRUE(list.complete());
    }
    // An entry larger than a block is not held, and the list says so.
    IndexEntryList small(16);
    small.add(std::vector<uint8_t>(8, 1), RowId{1, 1});
    EXPECT_TRUE(small.complete());
    small.add(std::vector<uint8_t>(13, 1), RowId{1, 2});
    EXPECT_FALSE(small.complete());
    EXPECT_EQ(small.size(), 1u);
}

#include "db/jet/index/index_page.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <vector>

using namespace varnika::jet;

namespace {

// An entry whose bytes are `n` copies of `tag`: long ones are held on the
// heap, so a lost or doubled entry shows under the sanitizer too.
IndexEntry entryOf(uint32_t tag, size_t n)
{
    IndexEntry e;
    e.bytes.resize(n);
    for (size_t i = 0; i < n; ++i) e.bytes[i] = uint8_t(tag + i);
    e.child = tag;
    return e;
}

void expectSame(const IndexEntries& held, const std::vector<IndexEntry>& model)
{
    ASSERT_EQ(held.size(), model.size());
    ASSERT_EQ(held.empty(), model.empty());
    const std::span<const IndexEntry> asSpan(held);
    for (size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(held[i], model[i]) << "at " << i;
        ASSERT_EQ(asSpan[i], model[i]);
    }
    if (!model.empty()) {
        EXPECT_EQ(held.front(), model.front());
        EXPECT_EQ(held.back(), model.back());
    }
}

}  // namespace

// Random insertions and removals at every place, ranges taken from the front
// and elsewhere, appends, copies and moves: the entries always read as a
// std::vector given the same changes reads, and a leaf's run of removals
// from the front moves into the room rather than shifting the rest.
TEST(FrontRoomVector, ReadsAsAVectorGivenTheSameChanges)
{
    std::mt19937 rng(11);
    IndexEntries held;
    std::vector<IndexEntry> model;
    size_t usedRoom = 0;
    for (int step = 0; step < 6000; ++step) {
        const IndexEntry e = entryOf(uint32_t(step), rng() % 3 == 0 ? 80 : 6);
        const size_t at = model.empty() ? 0 : rng() % (model.size() + 1);
        switch (rng() % 9) {
        case 0:
        case 1:
        case 2: {
            IndexEntry* where = held.insert(held.begin() + at, e);
            model.insert(model.begin() + long(at), e);
            ASSERT_EQ(size_t(where - held.begin()), at);
            ASSERT_EQ(*where, e);
            break;
        }
        case 3:
        case 4: {
            if (model.empty()) break;
            const size_t i = at % model.size();
            IndexEntry* next = held.erase(held.begin() + i);
            model.erase(model.begin() + long(i));
            ASSERT_EQ(size_t(next - held.begin()), i);
            break;
        }
        case 5: {  // a run of removals from the front
            const size_t n = std::min<size_t>(model.size(), rng() % 8);
            for (size_t k = 0; k < n; ++k) held.erase(held.begin());
            model.erase(model.begin(), model.begin() + long(n));
            usedRoom = std::max(usedRoom, held.frontRoom());
            break;
        }
        case 6: {  // a range, from the front or not
            const size_t from = rng() % 2 ? 0 : at;
            const size_t to = from + (model.size() - from == 0 ? 0 : rng() % (model.size() - from + 1));
            IndexEntry* next = held.erase(held.begin() + from, held.begin() + to);
            model.erase(model.begin() + long(from), model.begin() + long(to));
            ASSERT_EQ(size_t(next - held.begin()), from);
            break;
        }
        case 7:
            held.push_back(e);
            model.push_back(e);
            if (rng() % 2 && !model.empty()) {
                held.pop_back();
                model.pop_back();
            }
            break;
        case 8: {
            IndexEntries copy = held;
            expectSame(copy, model);
            IndexEntries moved = std::move(copy);
            EXPECT_TRUE(copy.empty());
            held = std::move(moved);
            if (rng() % 50 == 0) {
                held.clear();
                model.clear();
            }
            break;
        }
        }
        expectSame(held, model);
    }
    EXPECT_GT(usedRoom, 0u);
}

TEST(FrontRoomVector, TakingOutTheFirstEntryMovesNoOtherAndTheRoomIsGivenBack)
{
    IndexEntries held;
    for (uint32_t i = 0; i < 100; ++i) held.push_back(entryOf(i, 6));
    const IndexEntry* third = &held[2];
    held.erase(held.begin());
    held.erase(held.begin());
    EXPECT_EQ(&held[0], third) << "the entries after the first were moved";
    EXPECT_EQ(held.frontRoom(), 2u);
    // An entry put in near the front goes into the room.
    held.insert(held.begin() + 1, entryOf(500, 6));
    EXPECT_EQ(held.frontRoom(), 1u);
    EXPECT_EQ(held[1].child, 500u);
    EXPECT_EQ(held[2].child, 3u);
    // Once the room is more than the entries, it goes.
    while (held.size() > 40) held.erase(held.begin());
    EXPECT_LE(held.frontRoom(), held.size());
    EXPECT_EQ(held.front().child, 60u);
}

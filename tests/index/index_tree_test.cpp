#include "db/jet/index/key_codec.h"
#include "db/jet/check/index_check.h"
#include "db/jet/index/index_tree.h"
#include "db/text.h"
#include "index/index_fixture_util.h"
#include "support/appending_page_allocator.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace varnika;
using namespace varnika::jet;

namespace {

constexpr uint32_t kTdef = 1;
constexpr uint32_t kRoot = 2;

// A file of three pages: header, table definition (unused here), and the
// index root as an empty leaf.
std::unique_ptr<Pager> emptyIndexFile()
{
    IndexPage root;
    root.tdefPage = kTdef;
    std::vector<uint8_t> bytes(3 * kPageSize, 0);
    const PageBuffer rootBytes = *encodeIndexPage(root);
    std::copy(rootBytes.begin(), rootBytes.end(), bytes.begin() + kRoot * kPageSize);
    return test::memoryPager(std::move(bytes));
}

std::vector<std::vector<uint8_t>> walk(IndexTree& tree)
{
    auto all = tree.entries();
    EXPECT_TRUE(all.isOk()) << all.status().toString();
    std::vector<std::vector<uint8_t>> out;
    if (all.isOk())
        for (const auto& e : *all) out.push_back(e.bytes);
    return out;
}

struct Model {
    std::set<std::vector<uint8_t>> entries;
    std::vector<std::vector<uint8_t>> sorted() const { return {entries.begin(), entries.end()}; }
};

// Keys with shared prefixes and varied lengths, so that pages compress,
// split at uneven sizes and the tree grows several levels.
std::vector<uint8_t> randomKey(std::mt19937& rng, size_t maxLength)
{
    std::vector<uint8_t> k{0x7F, uint8_t(0x40 + rng() % 4), uint8_t(0x40 + rng() % 8)};
    const size_t n = 1 + rng() % maxLength;
    for (size_t i = 0; i < n; ++i) k.push_back(uint8_t(0x30 + rng() % 40));
    return k;
}

RowId randomRow(std::mt19937& rng) { return RowId{1 + uint32_t(rng() % 5000), uint8_t(rng() % 200)}; }

IndexEntry split(const std::vector<uint8_t>& bytes)
{
    IndexEntry e;
    e.bytes = bytes;
    return e;
}

void expectSound(Pager& pager, IndexTree& tree, const Model& model, const std::string& when)
{
    IndexTreeStats stats;
    const Status s = checkIndexTree(pager, kTdef, kRoot, &stats);
    ASSERT_TRUE(s.isOk()) << when << ": " << s.toString();
    ASSERT_EQ(stats.entries, model.entries.size()) << when;
    ASSERT_EQ(walk(tree), model.sorted()) << when;
}

}  // namespace

TEST(IndexTreeOps, RandomInsertsAndRemovesMatchAModel)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        auto pager = emptyIndexFile();
        AppendingPageAllocator alloc(*pager);
        IndexTree tree(*pager, kTdef, kRoot);
        Model model;
        std::mt19937 rng(seed);
        const size_t maxLength = seed == 1 ? 12 : seed == 2 ? 120 : 400;
        size_t maxDepth = 0;
        const int steps = 2500;
        for (int step = 0; step < steps; ++step) {
            const bool growing = step < steps * 3 / 5;
            const bool doInsert = model.entries.empty() || (rng() % 100) < (growing ? 75u : 20u);
            if (doInsert) {
                const auto key = randomKey(rng, maxLength);
                const RowId row = randomRow(rng);
                const Status s = tree.insert(key, row, false, alloc);
                ASSERT_TRUE(s.isOk()) << s.toString();
                model.entries.insert(IndexEntry::make(key, row).bytes);
            } else {
                auto it = model.entries.begin();
                std::advance(it, long(rng() % model.entries.size()));
                const IndexEntry e = split(*it);
                const Status s = tree.remove(e.key(), e.rowId(), alloc);
                ASSERT_TRUE(s.isOk()) << s.toString();
                model.entries.erase(it);
            }
            IndexTreeStats stats;
            ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
            maxDepth = std::max(maxDepth, stats.depth);
            expectSound(*pager, tree, model, "seed " + std::to_string(seed) + " step " + std::to_string(step));
        }
        EXPECT_GE(maxDepth, seed == 3 ? 3u : 2u) << "seed " << seed;
        // Empty the tree completely: the root ends as an empty leaf.
        while (!model.entries.empty()) {
            const IndexEntry e = split(*model.entries.begin());
            ASSERT_TRUE(tree.remove(e.key(), e.rowId(), alloc).isOk());
            model.entries.erase(model.entries.begin());
        }
        expectSound(*pager, tree, model, "emptied");
        auto root = decodeIndexPage(**pager->read(kRoot));
        ASSERT_TRUE(root.isOk());
        EXPECT_TRUE(root->isLeaf());
        EXPECT_EQ(root->prev, 0u);
        EXPECT_EQ(root->next, 0u);
        EXPECT_FALSE(alloc.freePages().empty());
    }
}

// Decoded pages kept between operations must never change the outcome:
// the same operations with and without the cache (one smaller than the
// tree, so that it fills and makes room) write the same bytes, also across rollbacks.
TEST(IndexTreeOps, PageCacheWritesTheSameBytes)
{
    auto plain = emptyIndexFile();
    auto cached = emptyIndexFile();
    AppendingPageAllocator plainAlloc(*plain), cachedAlloc(*cached);
    IndexPageCache cache(3);
    IndexTree plainTree(*plain, kTdef, kRoot);
    IndexTree cachedTree(*cached, kTdef, kRoot, &cache);
    Model model;
    std::mt19937 rng(7);
    for (int step = 0; step < 3000; ++step) {
        if (step % 400 == 399) {
            // Everything since the last commit goes; the cache must notice.
            plain->rollback();
            cached->rollback();
            auto all = plainTree.entries();
            ASSERT_TRUE(all.isOk());
            model.entries.clear();
            for (const auto& e : *all) model.entries.insert(e.bytes);
            continue;
        }
        if (step % 150 == 0) {
            ASSERT_TRUE(plain->commit().isOk());
            ASSERT_TRUE(cached->commit().isOk());
        }
        if (model.entries.empty() || rng() % 100 < 60) {
            const auto key = randomKey(rng, 60);
            const RowId row = randomRow(rng);
            const bool unique = rng() % 4 == 0;
            const Status a = plainTree.insert(key, row, unique, plainAlloc);
            const Status b = cachedTree.insert(key, row, unique, cachedAlloc);
            ASSERT_EQ(a.code(), b.code()) << step;
            if (a.isOk()) model.entries.insert(IndexEntry::make(key, row).bytes);
        } else {
            auto it = model.entries.begin();
            std::advance(it, long(rng() % model.entries.size()));
            const IndexEntry e = split(*it);
            ASSERT_TRUE(plainTree.remove(e.key(), e.rowId(), plainAlloc).isOk());
            ASSERT_TRUE(cachedTree.remove(e.key(), e.rowId(), cachedAlloc).isOk());
            model.entries.erase(it);
        }
        ASSERT_EQ(plain->pageCount(), cached->pageCount()) << step;
        for (uint32_t p = 0; p < plain->pageCount(); ++p)
            ASSERT_EQ(**plain->read(p), **cached->read(p)) << "page " << p << " after step " << step;
        // Bounded, whatever the pages it meets.
        ASSERT_LE(cache.size(), 3u) << step;
    }
    EXPECT_GT(cache.size(), 0u);
}

TEST(IndexTreeOps, AscendingAppendsAndDescendingInserts)
{
    // The common shapes: AutoNumber keys appended at the end, and keys
    // arriving in reverse.
    for (bool ascending : {true, false}) {
        auto pager = emptyIndexFile();
        AppendingPageAllocator alloc(*pager);
        IndexTree tree(*pager, kTdef, kRoot);
        Model model;
        for (int i = 0; i < 5000; ++i) {
            std::vector<uint8_t> key;
            ASSERT_TRUE(appendColumnKey(key, Variant::longValue(ascending ? i : -i), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
            const RowId row{uint32_t(10 + i / 50), uint8_t(i % 50)};
            ASSERT_TRUE(tree.insert(key, row, true, alloc).isOk());
            model.entries.insert(IndexEntry::make(key, row).bytes);
            if (i % 97 == 0) expectSound(*pager, tree, model, "insert " + std::to_string(i));
        }
        expectSound(*pager, tree, model, "all inserted");
        IndexTreeStats stats;
        ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
        EXPECT_GE(stats.depth, 2u);
        EXPECT_GT(stats.leafPages, 10u);
    }
}

// Entries added a batch at a time end as those added one by one would:
// batches of every size, into every part of trees of one to four levels,
// with keys that share their bytes with stored ones.
TEST(IndexTreeOps, SortedBatchesMatchAModel)
{
    for (uint32_t seed : {4u, 5u, 6u}) {
        auto pager = emptyIndexFile();
        AppendingPageAllocator alloc(*pager);
        IndexTree tree(*pager, kTdef, kRoot);
        Model model;
        std::set<std::vector<uint8_t>> keys;
        std::mt19937 rng(seed);
        const size_t maxLength = seed == 4 ? 12 : seed == 5 ? 120 : 400;
        size_t maxDepth = 0;
        for (int round = 0; round < 60; ++round) {
            if (round % 5 == 4) {
                // Removals leave nodes of one child, whose entry a batch
                // added at the end must follow.
                while (model.entries.size() > 50 && rng() % 8 != 0) {
                    const IndexEntry e = split(*std::prev(model.entries.end()));
                    ASSERT_TRUE(tree.remove(e.key(), e.rowId(), alloc).isOk());
                    model.entries.erase(std::prev(model.entries.end()));
                }
                keys.clear();
                for (const auto& b : model.entries) {
                    const IndexEntry e = split(b);
                    keys.insert(std::vector<uint8_t>(e.key().begin(), e.key().end()));
                }
            }
            const size_t size = round % 10 == 0 ? 1 : 1 + rng() % (round % 3 == 0 ? 600 : 40);
            std::set<std::vector<uint8_t>> batch;
            std::set<std::vector<uint8_t>> fresh;  // keys no entry had before
            while (batch.size() < size) {
                std::vector<uint8_t> key;
                if (round % 4 == 1 && !keys.empty()) {
                    auto it = keys.begin();
                    std::advance(it, long(rng() % keys.size()));
                    key = *it;  // a stored key with another row
                } else {
                    key = randomKey(rng, maxLength);
                }
                const auto bytes = IndexEntry::make(key, randomRow(rng)).bytes;
                if (model.entries.count(bytes) || !batch.insert(bytes).second) continue;
                if (!keys.count(key)) fresh.insert(key);
            }
            std::vector<IndexEntry> entries;
            for (const auto& b : batch) entries.push_back(split(b));
            size_t newKeys = 0;
            const Status s = tree.insertSorted(entries, false, alloc, &newKeys);
            ASSERT_TRUE(s.isOk()) << s.toString();
            EXPECT_EQ(newKeys, fresh.size()) << "round " << round;
            for (const auto& b : batch) {
                model.entries.insert(b);
                const IndexEntry e = split(b);
                keys.insert(std::vector<uint8_t>(e.key().begin(), e.key().end()));
            }
            IndexTreeStats stats;
            ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
            maxDepth = std::max(maxDepth, stats.depth);
            expectSound(*pager, tree, model, "seed " + std::to_string(seed) + " round " + std::to_string(round));
        }
        EXPECT_GE(maxDepth, seed == 6 ? 3u : 2u) << "seed " << seed;
    }
}

// Sorted removals: scattered entries, runs that empty whole leaves, the
// last entries of the tree (the parents' entries follow), and at last all of
// them, each batch leaving exactly what removing one at a time would.
TEST(IndexTreeOps, SortedRemovalsMatchAModel)
{
    for (uint32_t seed : {7u, 8u}) {
        auto pager = emptyIndexFile();
        AppendingPageAllocator alloc(*pager);
        IndexTree tree(*pager, kTdef, kRoot);
        Model model;
        std::mt19937 rng(seed);
        const size_t maxLength = seed == 7 ? 12 : 200;
        auto fill = [&](size_t count) {
            std::set<std::vector<uint8_t>> batch;
            while (batch.size() < count) {
                const auto bytes = IndexEntry::make(randomKey(rng, maxLength), randomRow(rng)).bytes;
                if (!model.entries.count(bytes)) batch.insert(bytes);
            }
            std::vector<IndexEntry> entries;
            for (const auto& b : batch) entries.push_back(split(b));
            ASSERT_TRUE(tree.insertSorted(entries, false, alloc).isOk());
            model.entries.insert(batch.begin(), batch.end());
        };
        fill(3000);
        IndexTreeStats stats;
        ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
        EXPECT_GE(stats.depth, 2u);
        for (int round = 0; round < 24; ++round) {
            const std::vector<std::vector<uint8_t>> all = model.sorted();
            std::vector<std::vector<uint8_t>> chosen;
            if (round % 4 == 0) {
                for (const auto& b : all)
                    if (rng() % 5 == 0) chosen.push_back(b);
            } else if (round % 4 == 1) {
                const size_t from = rng() % all.size(), count = std::min(all.size() - from, size_t(1 + rng() % 400));
                chosen.assign(all.begin() + long(from), all.begin() + long(from + count));
            } else if (round % 4 == 2) {
                chosen.assign(all.end() - long(std::min(all.size(), size_t(1 + rng() % 150))), all.end());
            } else {
                for (size_t i = 0; i < all.size(); i += 1 + rng() % 60) chosen.push_back(all[i]);
            }
            std::vector<IndexEntry> entries;
            for (const auto& b : chosen) entries.push_back(split(b));
            const Status s = tree.removeSorted(entries, alloc);
            ASSERT_TRUE(s.isOk()) << s.toString();
            for (const auto& b : chosen) model.entries.erase(b);
            expectSound(*pager, tree, model, "seed " + std::to_string(seed) + " round " + std::to_string(round));
            if (model.entries.size() < 500) fill(1500);
        }
        std::vector<IndexEntry> everything;
        for (const auto& b : model.sorted()) everything.push_back(split(b));
        ASSERT_TRUE(tree.removeSorted(everything, alloc).isOk());
        model.entries.clear();
        expectSound(*pager, tree, model, "seed " + std::to_string(seed) + ", all removed");
        // The tree goes on taking entries.
        fill(800);
        expectSound(*pager, tree, model, "seed " + std::to_string(seed) + ", filled again");
    }

    // An entry the tree lacks, or entries out of order, are refused.
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    std::vector<IndexEntry> stored;
    for (uint8_t i = 0; i < 100; ++i) stored.push_back(IndexEntry::make(std::vector<uint8_t>{0x7F, uint8_t(0x40 + i)}, RowId{1, i}));
    ASSERT_TRUE(tree.insertSorted(stored, false, alloc).isOk());
    const std::vector<IndexEntry> missing{stored[3], IndexEntry::make(std::vector<uint8_t>{0x7F, 0x43, 0x01}, RowId{1, 1}),
                                          stored[50]};
    EXPECT_EQ(tree.removeSorted(missing, alloc).code(), ErrorCode::NotFound);
    const std::vector<IndexEntry> backwards{stored[9], stored[8]};
    EXPECT_EQ(tree.removeSorted(backwards, alloc).code(), ErrorCode::InvalidArgument);
}

TEST(IndexTreeOps, ABatchAtTheEndFollowsANodeOfOneChild)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    Model model;
    auto entry = [](int v) {
        std::vector<uint8_t> key;
        EXPECT_TRUE(appendColumnKey(key, Variant::longValue(v), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        return IndexEntry::make(key, RowId{uint32_t(10 + v), 0});
    };
    // Two leaves under the root, then the second emptied: the root is a
    // node of one child, named by an entry.
    int n = 0;
    IndexTreeStats stats;
    do {
        const IndexEntry e = entry(n++);
        ASSERT_TRUE(tree.insert(e.key(), e.rowId(), true, alloc).isOk());
        model.entries.insert(e.bytes);
        stats = {};
        ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
    } while (stats.leafPages < 2);
    while (stats.leafPages > 1) {
        const IndexEntry e = split(*std::prev(model.entries.end()));
        ASSERT_TRUE(tree.remove(e.key(), e.rowId(), alloc).isOk());
        model.entries.erase(std::prev(model.entries.end()));
        stats = {};
        ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &stats).isOk());
    }
    ASSERT_EQ(stats.depth, 2u);
    std::vector<IndexEntry> batch = {entry(n + 1), entry(n + 2)};
    ASSERT_TRUE(tree.insertSorted(batch, true, alloc).isOk());
    for (const auto& e : batch) model.entries.insert(e.bytes);
    expectSound(*pager, tree, model, "appended");
}

TEST(IndexTreeOps, ASortedBatchRefusesWhatOneByOneWouldRefuse)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    Model model;
    std::vector<std::vector<uint8_t>> keys;
    for (int i = 0; i < 4000; ++i) {
        std::vector<uint8_t> key;
        ASSERT_TRUE(appendColumnKey(key, Variant::longValue(2 * i), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        keys.push_back(key);
    }
    std::vector<IndexEntry> all;
    for (size_t i = 0; i < keys.size(); ++i) {
        all.push_back(IndexEntry::make(keys[i], RowId{uint32_t(10 + i / 50), uint8_t(i % 50)}));
        model.entries.insert(all.back().bytes);
    }
    ASSERT_TRUE(tree.insertSorted(all, true, alloc).isOk());
    ASSERT_TRUE(pager->commit().isOk());
    expectSound(*pager, tree, model, "all inserted");

    auto odd = [](int v) {
        std::vector<uint8_t> key;
        EXPECT_TRUE(appendColumnKey(key, Variant::longValue(v), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        return key;
    };
    // New keys but one: a stored key, first, inside or last in the batch,
    // wherever it sits in the tree; or one key twice in the batch.
    for (size_t at : {size_t(0), size_t(17), size_t(39)}) {
        for (size_t stored : {size_t(0), size_t(1999), size_t(3999)}) {
            std::vector<IndexEntry> batch;
            for (int i = 0; i < 40; ++i) batch.push_back(IndexEntry::make(odd(2 * int(stored) - 41 + 2 * i), RowId{900, uint8_t(i)}));
            if (stored == 0) batch.erase(batch.begin(), batch.begin() + 20);
            at = std::min(at, batch.size() - 1);
            batch[at] = IndexEntry::make(keys[stored], RowId{900, 200});
            std::sort(batch.begin(), batch.end(), [](const auto& a, const auto& b) { return a.bytes < b.bytes; });
            EXPECT_EQ(tree.insertSorted(batch, true, alloc).code(), ErrorCode::Constraint) << at << " " << stored;
            pager->rollback();
            // Not unique: the same batch goes in.
            ASSERT_TRUE(tree.insertSorted(batch, false, alloc).isOk());
            pager->rollback();
        }
    }
    std::vector<IndexEntry> twice = {IndexEntry::make(odd(3), RowId{900, 1}), IndexEntry::make(odd(3), RowId{900, 2})};
    EXPECT_EQ(tree.insertSorted(twice, true, alloc).code(), ErrorCode::Constraint);
    pager->rollback();
    // An entry already stored, and entries out of order.
    std::vector<IndexEntry> again = {all[5]};
    EXPECT_EQ(tree.insertSorted(again, false, alloc).code(), ErrorCode::InvalidArgument);
    std::vector<IndexEntry> backwards = {IndexEntry::make(odd(7), RowId{900, 1}), IndexEntry::make(odd(5), RowId{900, 1})};
    EXPECT_EQ(tree.insertSorted(backwards, false, alloc).code(), ErrorCode::InvalidArgument);
    pager->rollback();
    // All-null keys never clash.
    const uint8_t nullKey[] = {0x00};
    std::vector<IndexEntry> nulls = {IndexEntry::make(nullKey, RowId{1, 1}), IndexEntry::make(nullKey, RowId{1, 2})};
    ASSERT_TRUE(tree.insertSorted(nulls, true, alloc).isOk());
    pager->rollback();
    expectSound(*pager, tree, model, "after refusals");
}

TEST(IndexTreeOps, UniqueViolationChangesNothing)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    Model model;
    std::mt19937 rng(11);
    std::vector<std::vector<uint8_t>> keys;
    for (int i = 0; i < 3000; ++i) {
        auto key = randomKey(rng, 30);
        const RowId row = randomRow(rng);
        const bool clash = std::any_of(model.entries.begin(), model.entries.end(),
                                       [&](const auto& b) { return std::equal(b.begin(), b.end() - 4, key.begin(), key.end()); });
        const Status s = tree.insert(key, row, true, alloc);
        if (clash) {
            ASSERT_EQ(s.code(), ErrorCode::Constraint);
        } else {
            ASSERT_TRUE(s.isOk()) << s.toString();
            model.entries.insert(IndexEntry::make(key, row).bytes);
            keys.push_back(key);
        }
    }
    ASSERT_TRUE(pager->commit().isOk());
    // Every stored key again, with another row: refused, nothing pending,
    // whatever leaf boundary the key sits on.
    for (size_t i = 0; i < keys.size(); i += 7) {
        const Status s = tree.insert(keys[i], RowId{9999, 0}, true, alloc);
        ASSERT_EQ(s.code(), ErrorCode::Constraint);
        ASSERT_FALSE(pager->hasPendingWrites());
    }
    expectSound(*pager, tree, model, "after refusals");
    // All-null keys never clash; the same entry twice is refused.
    const uint8_t nullKey[] = {0x00};
    ASSERT_TRUE(tree.insert(nullKey, RowId{1, 1}, true, alloc).isOk());
    ASSERT_TRUE(tree.insert(nullKey, RowId{1, 2}, true, alloc).isOk());
    EXPECT_EQ(tree.insert(nullKey, RowId{1, 2}, false, alloc).code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(tree.remove(nullKey, RowId{1, 3}, alloc).code(), ErrorCode::NotFound);
}

TEST(IndexTreeOps, RollbackRestoresTheTree)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    for (int i = 0; i < 400; ++i) {
        std::vector<uint8_t> key;
        ASSERT_TRUE(appendColumnKey(key, Variant::longValue(i * 2), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        ASSERT_TRUE(tree.insert(key, RowId{5, uint8_t(i % 200)}, false, alloc).isOk());
    }
    ASSERT_TRUE(pager->commit().isOk());
    const auto before = walk(tree);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> key;
        ASSERT_TRUE(appendColumnKey(key, Variant::longValue(i * 2 + 1), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        ASSERT_TRUE(tree.insert(key, RowId{6, uint8_t(i % 200)}, false, alloc).isOk());
    }
    pager->rollback();
    EXPECT_EQ(walk(tree), before);
    EXPECT_TRUE(checkIndexTree(*pager, kTdef, kRoot).isOk());
}

TEST(IndexTreeOps, FindByKeyAndByRowId)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> key;
        ASSERT_TRUE(appendColumnKey(key, Variant::text(u"name " + toU16(std::to_string(i))), ColumnType::Text, true, TextCollation::GeneralLegacy).isOk());
        ASSERT_TRUE(tree.insert(key, RowId{uint32_t(100 + i / 100), uint8_t(i % 100)}, false, alloc).isOk());
    }
    std::vector<uint8_t> key;
    ASSERT_TRUE(appendColumnKey(key, Variant::text(u"NAME 1234"), ColumnType::Text, true, TextCollation::GeneralLegacy).isOk());
    auto hit = tree.find(key, RowId{112, 34});
    ASSERT_TRUE(hit.isOk());
    ASSERT_TRUE(hit->has_value());
    EXPECT_EQ((*hit)->rowId(), (RowId{112, 34}));
    auto miss = tree.find(key, RowId{112, 35});
    ASSERT_TRUE(miss.isOk());
    EXPECT_FALSE(miss->has_value());
    auto byRow = tree.findByRowId(RowId{129, 99});
    ASSERT_TRUE(byRow.isOk());
    ASSERT_TRUE(byRow->has_value());
    EXPECT_EQ((*byRow)->rowId(), (RowId{129, 99}));
    EXPECT_FALSE(tree.findByRowId(RowId{999, 0})->has_value());
}

TEST(IndexTreeOps, RebuildPacksAndReusesPages)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    Model model;
    std::mt19937 rng(5);
    for (int i = 0; i < 4000; ++i) {
        const auto key = randomKey(rng, 60);
        const RowId row = randomRow(rng);
        ASSERT_TRUE(tree.insert(key, row, false, alloc).isOk());
        model.entries.insert(IndexEntry::make(key, row).bytes);
    }
    IndexTreeStats grown;
    ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &grown).isOk());
    const uint32_t pagesBefore = pager->pageCount();
    std::vector<IndexEntry> sorted;
    for (const auto& b : model.entries) sorted.push_back(split(b));
    ASSERT_TRUE(tree.rebuild(sorted, alloc).isOk());
    IndexTreeStats packed;
    expectSound(*pager, tree, model, "rebuilt");
    ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot, &packed).isOk());
    EXPECT_LT(packed.leafPages, grown.leafPages);
    EXPECT_EQ(pager->pageCount(), pagesBefore);  // only reused pages
    EXPECT_FALSE(alloc.freePages().empty());
    // The rebuilt tree keeps working incrementally.
    for (int i = 0; i < 500; ++i) {
        const auto key = randomKey(rng, 60);
        const RowId row = randomRow(rng);
        ASSERT_TRUE(tree.insert(key, row, false, alloc).isOk());
        model.entries.insert(IndexEntry::make(key, row).bytes);
    }
    expectSound(*pager, tree, model, "after rebuild and inserts");
    // Rebuilding to nothing leaves an empty root leaf; unsorted input is refused.
    std::swap(sorted[0], sorted[1]);
    EXPECT_EQ(tree.rebuild(sorted, alloc).code(), ErrorCode::InvalidArgument);
    ASSERT_TRUE(tree.rebuild(std::span<const IndexEntry>(), alloc).isOk());
    model.entries.clear();
    expectSound(*pager, tree, model, "rebuilt empty");
}

TEST(IndexTreeCheck, FindsDamage)
{
    auto pager = emptyIndexFile();
    AppendingPageAllocator alloc(*pager);
    IndexTree tree(*pager, kTdef, kRoot);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> key;
        ASSERT_TRUE(appendColumnKey(key, Variant::longValue(i), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk());
        ASSERT_TRUE(tree.insert(key, RowId{5, uint8_t(i % 200)}, false, alloc).isOk());
    }
    ASSERT_TRUE(pager->commit().isOk());
    ASSERT_TRUE(checkIndexTree(*pager, kTdef, kRoot).isOk());
    auto root = *decodeIndexPage(**pager->read(kRoot));
    ASSERT_TRUE(root.isNode());
    const uint32_t leafPage = root.entries[0].child;
    const IndexPage leaf = *decodeIndexPage(**pager->read(leafPage));

    struct Damage {
        const char* what;
        std::function<void(IndexPage&)> change;
        uint32_t page;
    };
    std::vector<Damage> damages = {
        {"swapped entries", [](IndexPage& p) { std::swap(p.entries[0], p.entries[1]); }, leafPage},
        {"broken next link", [](IndexPage& p) { p.next = 0; }, leafPage},
        {"stale node entry", [](IndexPage& p) { p.entries[0].bytes.back() ^= 1; }, kRoot},
        {"wrong table", [](IndexPage& p) { p.tdefPage = 7; }, leafPage},
        {"no tail", [](IndexPage& p) { p.tail = 0; }, kRoot},
        // In order within itself, but starting below where the leaf before ends.
        {"leaf overlapping the one before", [&](IndexPage& p) { p.entries[0].bytes = leaf.entries[0].bytes; },
         root.entries.size() >= 2 ? root.entries[1].child : 0},
    };
    for (const auto& d : damages) {
        ASSERT_NE(d.page, 0u) << d.what;
        IndexPage p = *decodeIndexPage(**pager->read(d.page));
        d.change(p);
        auto buf = encodeIndexPageWithPrefix(p, 0);
        ASSERT_TRUE(buf.isOk()) << d.what;
        ASSERT_TRUE(pager->write(d.page, *buf).isOk());
        const Status s = checkIndexTree(*pager, kTdef, kRoot);
        EXPECT_EQ(s.code(), ErrorCode::Corruption) << d.what;
        pager->rollback();
    }
    PageBuffer freeWrong = **pager->read(leafPage);
    freeWrong[indexlayout::kFreeSpace] ^= 1;
    ASSERT_TRUE(pager->write(leafPage, freeWrong).isOk());
    EXPECT_EQ(checkIndexTree(*pager, kTdef, kRoot).code(), ErrorCode::Corruption);
    pager->rollback();
    EXPECT_TRUE(checkIndexTree(*pager, kTdef, kRoot).isOk());
}

// Every index tree in the Access-made files passes the checker, and its
// leaf walk is in order.
TEST(IndexTreeFixtures, AccessTreesAreSound)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t trees = 0, entries = 0, deep = 0;
    for (const char* sub : {"jet4", "turkish"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            const auto bytes = test::readWholeFile(file);
            const auto roots = test::findIndexRoots(bytes);
            auto pager = test::memoryPager(bytes);
            for (const auto& t : roots) {
                IndexTreeStats stats;
                const Status s = checkIndexTree(*pager, t.tdef, t.root, &stats);
                EXPECT_TRUE(s.isOk()) << file << " root " << t.root << ": " << s.toString();
                ++trees;
                entries += stats.entries;
                if (stats.depth > 1) ++deep;
            }
        }
    }
    EXPECT_GT(trees, 200u);
    EXPECT_GT(deep, 0u);
    std::printf("[ index trees ] %zu trees, %zu with nodes, %zu leaf entries\n", trees, deep, entries);
}

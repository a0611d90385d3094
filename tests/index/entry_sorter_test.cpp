// Sorting index entries in bounded memory: runs through a temporary file,
// merged back in the order of the bytes, as often as they are read; the
// distinct keys counted from them; and a tree built from them page for page
// as from the same entries held in memory.

#include "db/jet/file/page_file.h"
#include "db/jet/index/entry_sorter.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/database_creator.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/table/table_def.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace varnika;
using namespace varnika::jet;

namespace {

std::vector<uint8_t> entryOf(const std::vector<uint8_t>& key, RowId row)
{
    std::vector<uint8_t> e = key;
    e.insert(e.end(), {uint8_t(row.page >> 16), uint8_t(row.page >> 8), uint8_t(row.page), row.row});
    return e;
}

std::vector<std::vector<uint8_t>> readAll(SortedEntries& sorted)
{
    std::vector<std::vector<uint8_t>> out;
    EXPECT_TRUE(sorted.rewind().isOk());
    for (;;) {
        auto more = sorted.next();
        EXPECT_TRUE(more.isOk()) << more.status().toString();
        if (!more.isOk() || !*more) break;
        out.emplace_back(sorted.entry().begin(), sorted.entry().end());
    }
    return out;
}

// Sets TMPDIR for the life of the object.
struct TempDirSetting {
    std::string before;
    bool had = false;
    explicit TempDirSetting(const std::string& dir)
    {
        if (const char* v = std::getenv("TMPDIR")) {
            before = v;
            had = true;
        }
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TempDirSetting()
    {
        if (had)
            setenv("TMPDIR", before.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
};

}  // namespace

// Keys of a few small bytes, so that many are equal and many begin others:
// every budget, from one that spills at each block to one that never does,
// gives the order std::sort gives, read twice over, and the same count of
// distinct keys as the keys alone.
TEST(EntrySorter, MergesRunsInTheOrderOfTheBytesAndCountsDistinctKeys)
{
    for (const size_t budget : {size_t(1), size_t(20000), EntrySorter::kDefaultMemoryBudget}) {
        SCOPED_TRACE(budget);
        std::mt19937 rng(7);
        EntrySorter sorter(budget);
        std::vector<std::vector<uint8_t>> model;
        std::set<std::vector<uint8_t>> keys;
        for (int i = 0; i < 4000; ++i) {
            std::vector<uint8_t> key(1 + rng() % 5);
            for (auto& b : key) b = uint8_t(rng() % 3);
            const RowId row{uint32_t(i / 200), uint8_t(i % 200)};
            ASSERT_TRUE(sorter.add(key, row).isOk());
            keys.insert(key);
            model.push_back(entryOf(key, row));
        }
        if (budget == 1) {
            EXPECT_GT(sorter.runs(), 1000u);
        } else if (budget == 20000) {
            EXPECT_GT(sorter.runs(), 1u);
        } else {
            EXPECT_EQ(sorter.runs(), 0u);
        }
        std::sort(model.begin(), model.end());
        auto sorted = sorter.finish();
        ASSERT_TRUE(sorted.isOk()) << sorted.status().toString();
        EXPECT_EQ((*sorted)->size(), model.size());
        EXPECT_EQ(readAll(**sorted), model);
        EXPECT_EQ(readAll(**sorted), model) << "read again from the start";
        auto distinct = distinctKeys(**sorted);
        ASSERT_TRUE(distinct.isOk());
        EXPECT_EQ(*distinct, keys.size());
        EXPECT_EQ(sorter.size(), 0u) << "the sorter is empty once it handed its entries over";
    }

    // Keys none of which begins another are counted in one walk; the count
    // is the same.
    EntrySorter sorter(64);
    std::set<uint32_t> values;
    std::mt19937 rng(3);
    for (int i = 0; i < 500; ++i) {
        const uint32_t v = rng() % 90;
        values.insert(v);
        ASSERT_TRUE(sorter.add(std::vector<uint8_t>{0x7F, uint8_t(v), 0x00}, RowId{uint32_t(i), 1}).isOk());
    }
    auto sorted = sorter.finish();
    ASSERT_TRUE(sorted.isOk());
    EXPECT_EQ(distinctKeys(**sorted).value(), values.size());
}

// The temporary file cannot be made: the sort says so, at the entry that
// filled the memory; an entry too long for any index is refused outright.
TEST(EntrySorter, RefusesWhatItCannotHold)
{
    {
        TempDirSetting tmp("/nonexistent/varnika-test");
        EntrySorter sorter(1);
        const Status s = sorter.add(std::vector<uint8_t>{1, 2, 3}, RowId{1, 1});
        EXPECT_EQ(s.code(), ErrorCode::IOError);
        EXPECT_NE(s.message().find("temporary file"), std::string::npos) << s.message();
    }
    EntrySorter sorter;
    EXPECT_EQ(sorter.add(std::vector<uint8_t>(kMaxIndexKeySize + 1, 1), RowId{1, 1}).code(), ErrorCode::NotSupported);
    EXPECT_EQ(sorter.addBytes({}).code(), ErrorCode::InvalidArgument);
    EXPECT_TRUE(sorter.add(std::vector<uint8_t>(kMaxIndexKeySize, 1), RowId{1, 1}).isOk());
}

// A tree built from merged runs is, page for page, the tree built from the
// same entries held in memory; a unique index still refuses a key twice
// when the two entries come from different runs.
TEST(EntrySorter, TreesFromRunsAreTheTreesFromMemory)
{
    std::mt19937 rng(5);
    std::vector<std::pair<std::vector<uint8_t>, RowId>> entries;
    for (int i = 0; i < 30000; ++i) {
        std::vector<uint8_t> key{0x7F};
        for (int k = 0, n = 1 + int(rng() % 12); k < n; ++k) key.push_back(uint8_t(0x60 + rng() % 20));
        key.push_back(0x00);
        entries.push_back({key, RowId{uint32_t(100 + i / 100), uint8_t(i % 100)}});
    }
    const auto empty = buildEmptyDatabase({});
    ASSERT_TRUE(empty.isOk());
    auto build = [&](size_t budget, bool unique, size_t* runs) -> std::pair<Status, std::vector<PageBuffer>> {
        Pager pager(std::make_unique<MemoryPageFile>(*empty));
        auto def = TableDef::read(pager, 5);  // MSysRelationships: three empty indexes
        EXPECT_TRUE(def.isOk());
        RealIndexDef ix = def->realIndexes()[0];
        if (unique) ix.flags |= tdef::kIndexFlagUnique;
        EntrySorter sorter(budget);
        for (const auto& [key, row] : entries) EXPECT_TRUE(sorter.add(key, row).isOk());
        *runs = sorter.runs();
        auto sorted = sorter.finish();
        EXPECT_TRUE(sorted.isOk());
        PageAllocator allocator(pager);
        Status s = rebuildIndex(allocator, 5, ix, **sorted);
        std::vector<PageBuffer> pages;
        for (uint32_t p = 0; p < pager.pageCount(); ++p) pages.push_back(**pager.read(p));
        return {s, pages};
    };
    size_t runs = 0;
    const auto [inMemory, memoryPages] = build(EntrySorter::kDefaultMemoryBudget, false, &runs);
    ASSERT_TRUE(inMemory.isOk()) << inMemory.toString();
    EXPECT_EQ(runs, 0u);
    const auto [fromRuns, runPages] = build(40000, false, &runs);
    ASSERT_TRUE(fromRuns.isOk()) << fromRuns.toString();
    EXPECT_GT(runs, 4u);
    ASSERT_EQ(runPages.size(), memoryPages.size());
    for (size_t p = 0; p < runPages.size(); ++p) EXPECT_TRUE(runPages[p] == memoryPages[p]) << "page " << p;

    entries.push_back({entries.front().first, RowId{99999, 1}});  // in the last run, its twin in the first
    const auto [clash, unused] = build(40000, true, &runs);
    EXPECT_EQ(clash.code(), ErrorCode::Constraint) << clash.toString();
}

#include "db/jet/page/data_page.h"
#include "db/jet/table/row_store.h"
#include "db/jet/check/table_pages_check.h"
#include "db/jet/page/usage_map.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace varnika;
using namespace varnika::jet;

namespace {

using test::MemoryTable;
using test::makeTable;

std::vector<uint8_t> rowOf(size_t length, uint8_t fill)
{
    std::vector<uint8_t> r(length);
    for (size_t i = 0; i < length; ++i) r[i] = uint8_t(fill ^ i);
    return r;
}

// What a scan sees, done the two ways readers do it: following pointers
// from base rows (as Access and Jackcess), and reading targets directly
// while skipping headers (as mdbtools and mdb-reader).
void expectScansMatch(Pager& pager, const TablePages& table, const std::map<RowPointer, std::vector<uint8_t>>& model)
{
    auto owned = UsageMap::load(pager, table.ownedMap);
    ASSERT_TRUE(owned.isOk());
    std::multiset<std::vector<uint8_t>> following, direct, expected;
    for (const auto& [p, bytes] : model) expected.insert(bytes);
    size_t baseRows = 0;
    for (uint32_t p : owned->pages()) {
        auto page = pager.read(p);
        ASSERT_TRUE(checkDataPage(**page, p).isOk());
        auto view = DataPageView::parse(*page, p);
        ASSERT_TRUE(view.isOk());
        ASSERT_EQ(view->owner(), table.tdefPage);
        for (int s = 0; s < view->slotCount(); ++s) {
            const Slot& slot = view->slot(s);
            auto bytes = view->rowBytes(s);
            if (!(slot.flags & datapage::kSlotLookup)) direct.insert({bytes.begin(), bytes.end()});
            if (slot.flags & datapage::kSlotNotBaseRow) continue;
            ++baseRows;
            if (slot.flags == datapage::kSlotLookup) {
                auto target = readRowAt(pager, RowPointer::fromWord(ByteReader(bytes).u32(0)));
                ASSERT_TRUE(target.isOk());
                ASSERT_EQ(target->slot.flags, datapage::kSlotNotBaseRow);  // never a chain
                following.insert({target->bytes().begin(), target->bytes().end()});
            } else {
                following.insert({bytes.begin(), bytes.end()});
            }
        }
    }
    EXPECT_EQ(baseRows, model.size());
    EXPECT_EQ(following, expected);
    EXPECT_EQ(direct, expected);
}

}  // namespace

TEST(RowStore, RandomOperationsKeepEveryRowReachable)
{
    std::mt19937 rng(777);
    MemoryTable t = makeTable();
    RowStore store(*t.alloc, t.table);
    std::map<RowPointer, std::vector<uint8_t>> model;
    for (int step = 0; step < 2500; ++step) {
        int op = int(rng() % 10);
        size_t len = 8 + rng() % (rng() % 8 == 0 ? 3000 : 200);
        std::vector<uint8_t> bytes = rowOf(len, uint8_t(rng()));
        if (op < 4 || model.empty()) {
            auto at = store.insert(bytes);
            ASSERT_TRUE(at.isOk()) << at.status().toString();
            ASSERT_FALSE(model.count(*at));
            model[*at] = bytes;
        } else {
            auto it = model.begin();
            std::advance(it, long(rng() % model.size()));
            if (op < 8) {
                Status s = store.update(it->first, bytes, rng() % 2 ? std::optional<size_t>(len / 2) : std::nullopt);
                ASSERT_TRUE(s.isOk()) << s.toString();
                if (len < it->second.size() && s.isOk()) {
                    // Padded or compacted; either way the row reads back with its new bytes first.
                    auto back = store.read(it->first);
                    ASSERT_TRUE(back.isOk());
                    bytes = *back;
                }
                it->second = bytes;
            } else {
                ASSERT_TRUE(store.remove(it->first).isOk());
                EXPECT_EQ(store.read(it->first).status().code(), ErrorCode::NotFound);
                model.erase(it);
            }
        }
        if (step % 100 == 99) {
            for (const auto& [p, b] : model) {
                auto back = store.read(p);
                ASSERT_TRUE(back.isOk()) << back.status().toString();
                ASSERT_EQ(*back, b);
            }
            expectScansMatch(*t.pager, t.table, model);
            if (HasFailure()) return;
        }
    }
}

TEST(RowStore, PaddedUpdateKeepsTheRowInPlace)
{
    MemoryTable t = makeTable();
    RowStore store(*t.alloc, t.table);
    auto a = store.insert(rowOf(100, 1));
    auto b = store.insert(rowOf(100, 2));
    ASSERT_TRUE(a.isOk() && b.isOk());
    PageBuffer before = **t.pager->read(a->page);
    ASSERT_TRUE(store.update(*a, rowOf(60, 3), 50).isOk());
    std::vector<uint8_t> expect = rowOf(60, 3);
    expect.insert(expect.begin() + 50, 40, 0);
    EXPECT_EQ(*store.read(*a), expect);
    EXPECT_EQ(*store.read(*b), rowOf(100, 2));
    PageBuffer after = **t.pager->read(a->page);
    EXPECT_EQ(std::vector<uint8_t>(before.begin(), before.begin() + kPageSize - 100),
              std::vector<uint8_t>(after.begin(), after.begin() + kPageSize - 100));
}

TEST(RowStore, MovedRowMovesAgainWithoutAChain)
{
    MemoryTable t = makeTable();
    RowStore store(*t.alloc, t.table);
    auto a = store.insert(rowOf(100, 1));
    ASSERT_TRUE(a.isOk());
    ASSERT_TRUE(store.insert(rowOf(3900, 2)).isOk());  // same page, now nearly full
    ASSERT_TRUE(store.update(*a, rowOf(500, 3)).isOk());
    auto header = readRowAt(*t.pager, *a);
    ASSERT_TRUE(header.isOk());
    EXPECT_EQ(header->slot.flags, datapage::kSlotLookup);
    EXPECT_EQ(header->slot.length, datapage::kOverflowPointerSize);
    RowPointer first = RowPointer::fromWord(ByteReader(header->bytes()).u32(0));
    EXPECT_NE(first.page, a->page);
    // Fill the target's page so the next growth must move again.
    ASSERT_TRUE(store.insert(rowOf(3500, 4)).isOk());
    ASSERT_TRUE(store.update(*a, rowOf(1000, 5)).isOk());
    header = readRowAt(*t.pager, *a);
    RowPointer second = RowPointer::fromWord(ByteReader(header->bytes()).u32(0));
    EXPECT_NE(second, first);
    EXPECT_TRUE(readRowAt(*t.pager, first)->slot.isDeleted());
    EXPECT_EQ(*store.read(*a), rowOf(1000, 5));
    // Shrinking a moved row updates its target in place.
    ASSERT_TRUE(store.update(*a, rowOf(900, 6)).isOk());
    EXPECT_EQ(RowPointer::fromWord(ByteReader(readRowAt(*t.pager, *a)->bytes()).u32(0)), second);
    // Deleting removes both slots.
    ASSERT_TRUE(store.remove(*a).isOk());
    EXPECT_TRUE(readRowAt(*t.pager, *a)->slot.isDeleted());
    EXPECT_TRUE(readRowAt(*t.pager, second)->slot.isDeleted());
    EXPECT_EQ(store.remove(*a).code(), ErrorCode::NotFound);
}

TEST(RowStore, RefusalsAndCounters)
{
    MemoryTable t = makeTable();
    RowStore store(*t.alloc, t.table);
    EXPECT_EQ(store.insert(rowOf(4061, 0)).status().code(), ErrorCode::InvalidArgument);
    EXPECT_TRUE(store.insert(rowOf(4060, 0)).isOk());
    EXPECT_EQ(store.read({2, 0}).status().code(), ErrorCode::NotFound);  // a usage-map row, not ours
    auto n = takeAutoNumber(*t.pager, t.table.tdefPage);
    ASSERT_TRUE(n.isOk());
    EXPECT_EQ(*n, 9);
    EXPECT_EQ(*takeAutoNumber(*t.pager, t.table.tdefPage), 10);
    ASSERT_TRUE(adjustRowCount(*t.pager, t.table.tdefPage, 1).isOk());
    EXPECT_EQ(ByteReader((*t.pager->read(t.table.tdefPage))->data(), kPageSize).u32(tdef::kRowCount), 1u);
    // A count that differs from the rows (a file copied while open) keeps
    // moving with them and stops at zero.
    ASSERT_TRUE(adjustRowCount(*t.pager, t.table.tdefPage, -2).isOk());
    EXPECT_EQ(ByteReader((*t.pager->read(t.table.tdefPage))->data(), kPageSize).u32(tdef::kRowCount), 0u);
    EXPECT_EQ(adjustRowCount(*t.pager, 2, 1).code(), ErrorCode::Corruption);  // not a TDEF
}

// Real rows, moved and deleted at the page level, as mdbtools sees them.
TEST(RowStore, RealTableThroughMdbtools)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    auto copy = test::copyWritable(dir / "jet4/testV2000.mdb", tmp.file("rows.mdb"));
    auto before = test::exportAllTables(copy);
    // Table1: TDEF page 24, maps at page 25 rows 0 and 1; rows at page 27.
    TablePages table{24, {25, 0}, {25, 1}};
    {
        auto pager = test::openCopy(copy);
        PageAllocator alloc(*pager);
        RowStore store(alloc, table);
        auto row0 = store.read({27, 0});
        auto row1 = store.read({27, 1});
        ASSERT_TRUE(row0.isOk() && row1.isOk()) << row0.status().toString();
        ASSERT_GT(row0->size(), row1->size());
        // Fill page 27 with copies so that row 1 must move to grow (one
        // copy of row 0 first makes the space left smaller than the growth).
        // The copies go straight onto the page: the row store would rightly
        // put rows elsewhere once the page is nearly full.
        int copies = 0;
        {
            auto page = DataPageEditor::open(**pager->read(27), 27);
            ASSERT_TRUE(page->addRow(*row0).isOk());
            while (page->canAddRow(row1->size())) {
                ASSERT_TRUE(page->addRow(*row1).isOk());
                ++copies;
            }
            ASSERT_TRUE(pager->write(27, page->page()).isOk());
        }
        ASSERT_FALSE(DataPageEditor::open(**pager->read(27), 27)->canReplaceRow(1, row0->size()));
        ASSERT_TRUE(adjustRowCount(*pager, 24, copies + 1).isOk());
        // Row 1 becomes a copy of row 0 (longer): it moves to a new page.
        ASSERT_TRUE(store.update({27, 1}, *row0).isOk());
        EXPECT_EQ(readRowAt(*pager, {27, 1})->slot.flags, datapage::kSlotLookup);
        EXPECT_EQ(*store.read({27, 1}), *row0);
        ASSERT_TRUE(pager->commit().isOk());
        // Then every copy but one is deleted again.
        for (int i = 0; i < copies - 1; ++i) ASSERT_TRUE(store.remove({27, uint8_t(3 + i)}).isOk());
        ASSERT_TRUE(adjustRowCount(*pager, 24, -(copies - 1)).isOk());
        ASSERT_TRUE(pager->commit().isOk());
        auto summary = checkTablePages(*pager, 24);
        ASSERT_TRUE(summary.isOk()) << summary.status().toString();
        EXPECT_TRUE(summary->rowCountMatches());
        EXPECT_EQ(summary->movedRows, 1u);
        EXPECT_EQ(summary->dataPages, 2u);
    }
    auto after = test::exportAllTables(copy);
    // Table1 now holds row 0 three times (the original, its copy and the
    // moved row 1) and one copy of the old row 1.
    std::istringstream oldLines(before["Table1"]), newLines(after["Table1"]);
    std::vector<std::string> o, n;
    for (std::string l; std::getline(oldLines, l);) o.push_back(l);
    for (std::string l; std::getline(newLines, l);) n.push_back(l);
    ASSERT_EQ(o.size(), 3u);  // header + two rows
    std::multiset<std::string> expect{o[1], o[1], o[1], o[2]};
    EXPECT_EQ(std::multiset<std::string>(n.begin() + 1, n.end()), expect) << after["Table1"];
    for (const auto& [name, csv] : before) {
        if (name != "Table1") {
            EXPECT_EQ(after[name], csv) << name;
        }
    }
}

// A change that cannot be completed leaves dirty pages behind; rolling the
// pager back must restore the file exactly.
TEST(RowStore, RefusedMoveRollsBackCleanly)
{
    MemoryTable t = makeTable();
    RowStore store(*t.alloc, t.table);
    auto row = store.insert(rowOf(2000, 1));
    ASSERT_TRUE(row.isOk());
    ASSERT_TRUE(store.insert(rowOf(2000, 4)).isOk());  // the page is now nearly full
    // The file may not grow past page 511.
    while (t.pager->pageCount() < 512) ASSERT_TRUE(t.alloc->allocateDataPage(0, {}).isOk());
    ASSERT_TRUE(t.pager->commit().isOk());
    t.pager->setMaxPages(512);
    const std::vector<uint8_t> before = static_cast<MemoryPageFile&>(t.pager->file()).bytes();

    Status s = store.update(*row, rowOf(2100, 2));
    EXPECT_EQ(s.code(), ErrorCode::Full) << s.toString();
    t.pager->rollback();
    EXPECT_EQ(static_cast<MemoryPageFile&>(t.pager->file()).bytes(), before);
    EXPECT_EQ(*store.read(*row), rowOf(2000, 1));
    EXPECT_EQ(store.insert(rowOf(2000, 3)).status().code(), ErrorCode::Full);
    t.pager->rollback();
    EXPECT_EQ(t.pager->pageCount(), 512u);
    EXPECT_EQ(**t.pager->read(row->page), *[&] {
        PageBuffer b;
        std::copy(before.begin() + long(row->page * kPageSize), before.begin() + long((row->page + 1) * kPageSize), b.begin());
        return std::make_shared<PageBuffer>(b);
    }());
}

#include "db/jet/page/data_page.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/page/usage_map.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <set>

using namespace varnika;
using namespace varnika::jet;

namespace {

constexpr RowPointer kGlobal{usagemap::kGlobalMapPage, usagemap::kGlobalMapRow};
constexpr uint32_t kTdef = 24;

std::vector<uint32_t> mapPages(Pager& pager, RowPointer where)
{
    auto m = UsageMap::load(pager, where);
    EXPECT_TRUE(m.isOk()) << m.status().toString();
    return m ? m->pages() : std::vector<uint32_t>{};
}

// Global map: every page in `used` clear, and every page at or past the end
// of the file that the map covers set.
void expectGloballyUsed(Pager& pager, const std::vector<uint32_t>& used)
{
    auto g = UsageMap::load(pager, kGlobal, false);
    ASSERT_TRUE(g.isOk()) << g.status().toString();
    for (uint32_t p : used) EXPECT_FALSE(g->contains(p)) << "page " << p;
    for (uint32_t p = pager.pageCount(); p < g->startPage() + g->coveredPages(); ++p) EXPECT_TRUE(g->contains(p)) << "page " << p;
}

size_t rowLength(Pager& pager, RowPointer where)
{
    auto row = readRowAt(pager, where);
    EXPECT_TRUE(row.isOk());
    return row ? row->slot.length : 0;
}

}  // namespace

TEST(PageAllocator, NewDataPageIsRecordedEverywhere)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    RowPointer freeMap = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    auto page = alloc.allocateDataPage(kTdef, {owned, freeMap});
    ASSERT_TRUE(page.isOk()) << page.status().toString();
    EXPECT_EQ(*page, 3u);
    EXPECT_EQ(pager->pageCount(), 4u);
    EXPECT_EQ(mapPages(*pager, owned), std::vector<uint32_t>{3});
    EXPECT_EQ(mapPages(*pager, freeMap), std::vector<uint32_t>{3});
    expectGloballyUsed(*pager, {0, 1, 2, 3});
    auto bytes = pager->read(3);
    ASSERT_TRUE(bytes.isOk());
    EXPECT_EQ(**bytes, makeDataPage(kTdef));
    for (uint32_t p : {1u, 2u}) EXPECT_TRUE(checkDataPage(**pager->read(p), p).isOk());
}

TEST(PageAllocator, OwnerMapGrowsThenBecomesAReferenceMap)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    std::vector<uint32_t> pages;
    bool sawLonger = false;
    for (int i = 0; i < 1100; ++i) {
        auto page = alloc.allocateDataPage(kTdef, {owned, std::nullopt});
        ASSERT_TRUE(page.isOk()) << i << ": " << page.status().toString();
        pages.push_back(*page);
        auto m = UsageMap::load(*pager, owned);
        ASSERT_TRUE(m.isOk());
        if (m->isInline() && rowLength(*pager, owned) > usagemap::kStandardRowSize) sawLonger = true;
    }
    EXPECT_TRUE(sawLonger);
    auto m = UsageMap::load(*pager, owned);
    ASSERT_TRUE(m.isOk());
    EXPECT_FALSE(m->isInline());
    // Converted in place: the row keeps the length it had grown to.
    EXPECT_EQ(rowLength(*pager, owned), usagemap::kInlineBitmap + UsageMapEditor::kMaxInlineBitmapBytes);
    // The bitmap page of the reference map is a page of its own, used globally.
    std::vector<uint32_t> got = m->pages();
    EXPECT_EQ(got, pages);
    EXPECT_EQ(m->count(), pages.size());
    // Walking down from any point meets exactly the pages below it.
    for (uint32_t before : {0u, 1u, 3u, 4u, 63u, 64u, 65u, 127u, 128u, 700u, pages.back(), pages.back() + 1, UINT32_MAX}) {
        auto below = std::lower_bound(pages.begin(), pages.end(), before);
        std::optional<uint32_t> want;
        if (below != pages.begin()) want = *std::prev(below);
        EXPECT_EQ(m->previousPage(before), want) << "before " << before;
    }
    std::vector<uint32_t> walked;
    for (auto p = m->previousPage(UINT32_MAX); p; p = m->previousPage(*p)) walked.insert(walked.begin(), *p);
    EXPECT_EQ(walked, pages);
    std::set<uint32_t> all(pages.begin(), pages.end());
    uint32_t mapPage = 0;
    for (uint32_t p = 3; p < pager->pageCount(); ++p)
        if (!all.count(p)) mapPage = p;
    ASSERT_NE(mapPage, 0u);
    EXPECT_EQ((**pager->read(mapPage))[page::kType], uint8_t(PageType::UsageMap));
    std::vector<uint32_t> used(pager->pageCount());
    for (uint32_t p = 0; p < used.size(); ++p) used[p] = p;
    expectGloballyUsed(*pager, used);
    EXPECT_GT(rowLength(*pager, kGlobal), usagemap::kStandardRowSize);
    for (uint32_t p : {1u, 2u}) EXPECT_TRUE(checkDataPage(**pager->read(p), p).isOk());

    // Freeing works on the reference map too.
    ASSERT_TRUE(alloc.freePage(pages[1050], {owned, std::nullopt}).isOk());
    EXPECT_FALSE(UsageMap::load(*pager, owned)->contains(pages[1050]));
    EXPECT_TRUE(UsageMap::load(*pager, kGlobal, false)->contains(pages[1050]));
}

// A reference map reads every bit of each of its bitmap pages: the first
// and last of a page, across its 64-bit words, and in its last bytes; the
// second page starts at a page number that is not a multiple of 64.
TEST(PageAllocator, AReferenceMapReadsEveryBitOfItsBitmapPages)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    for (int i = 0; i < 1100; ++i) ASSERT_TRUE(alloc.allocateDataPage(kTdef, {owned, std::nullopt}).isOk());
    ASSERT_TRUE(alloc.maps().setBit(owned, usagemap::kPagesPerMapPage + 5).isOk());
    auto before = UsageMap::load(*pager, owned, false);
    ASSERT_TRUE(before.isOk()) << before.status().toString();
    ASSERT_FALSE(before->isInline());
    ASSERT_EQ(before->bitmapPages().size(), 2u);

    const size_t bitmapBytes = kPageSize - usagemap::kMapPageBitmap;
    const std::vector<size_t> bits = {0, 7, 8, 63, 64, 65, 127, 2000 * 8 + 3, (bitmapBytes - 5) * 8 + 1,
                                      (bitmapBytes - 4) * 8, (bitmapBytes - 2) * 8 + 6, bitmapBytes * 8 - 1};
    std::vector<uint32_t> want;
    for (size_t j = 0; j < 2; ++j) {
        const uint32_t mapPage = before->bitmapPages()[j];
        PageBuffer bytes = **pager->read(mapPage);
        std::fill(bytes.begin() + usagemap::kMapPageBitmap, bytes.end(), 0);
        for (size_t bit : bits) {
            bytes[usagemap::kMapPageBitmap + bit / 8] |= uint8_t(1u << (bit % 8));
            want.push_back(uint32_t(j * usagemap::kPagesPerMapPage + bit));
        }
        ASSERT_TRUE(pager->write(mapPage, bytes).isOk());
    }
    auto m = UsageMap::load(*pager, owned, false);
    ASSERT_TRUE(m.isOk()) << m.status().toString();
    EXPECT_EQ(m->pages(), want);
    EXPECT_EQ(m->count(), want.size());
    for (uint32_t p : want) EXPECT_TRUE(m->contains(p)) << p;
    EXPECT_FALSE(m->contains(1));
    EXPECT_FALSE(m->contains(usagemap::kPagesPerMapPage + 5));
}

TEST(PageAllocator, InlineMapMovesItsStartWhenTheBitsFit)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    for (int i = 0; i < 600; ++i) ASSERT_TRUE(alloc.allocateDataPage(0, {}).isOk());
    std::vector<uint32_t> pages;
    for (int i = 0; i < 20; ++i) pages.push_back(*alloc.allocateDataPage(kTdef, {owned, std::nullopt}));
    auto m = UsageMap::load(*pager, owned);
    ASSERT_TRUE(m.isOk());
    EXPECT_TRUE(m->isInline());
    EXPECT_EQ(m->startPage(), pages.front() - pages.front() % 8);
    EXPECT_EQ(rowLength(*pager, owned), usagemap::kStandardRowSize);
    EXPECT_EQ(m->pages(), pages);
}

TEST(PageAllocator, FreePageClearsOwnersAndWipesTheHeader)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    RowPointer freeMap = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    uint32_t a = *alloc.allocateDataPage(kTdef, {owned, freeMap});
    uint32_t b = *alloc.allocateDataPage(kTdef, {owned, freeMap});
    ASSERT_TRUE(alloc.freePage(a, {owned, freeMap}).isOk());
    EXPECT_EQ(mapPages(*pager, owned), std::vector<uint32_t>{b});
    EXPECT_EQ(mapPages(*pager, freeMap), std::vector<uint32_t>{b});
    EXPECT_TRUE(UsageMap::load(*pager, kGlobal, false)->contains(a));
    EXPECT_FALSE(UsageMap::load(*pager, kGlobal, false)->contains(b));
    auto page = pager->read(a);
    EXPECT_EQ(std::vector<uint8_t>(page.value()->begin(), page.value()->begin() + 4), std::vector<uint8_t>(4, 0));
    EXPECT_FALSE(alloc.freePage(1, {}).isOk());
    EXPECT_FALSE(alloc.freePage(pager->pageCount(), {}).isOk());
}

TEST(PageAllocator, FindPageWithRoomWalksFromTheTop)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    RowPointer freeMap = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    uint32_t low = *alloc.allocateDataPage(kTdef, {owned, freeMap});
    uint32_t other = *alloc.allocateDataPage(kTdef + 1, {owned, freeMap});  // someone else's page
    uint32_t high = *alloc.allocateDataPage(kTdef, {owned, std::nullopt});  // not offered for new rows
    (void)other;
    (void)high;
    auto found = alloc.findPageWithRoom(owned, freeMap, kTdef, 100);
    ASSERT_TRUE(found.isOk());
    EXPECT_EQ(*found, std::optional<uint32_t>(low));
    found = alloc.findPageWithRoom(owned, std::nullopt, kTdef, 100);
    EXPECT_EQ(*found, std::optional<uint32_t>(high));
    // Fill `low`: nothing has room any more for a big row.
    auto editor = DataPageEditor::open(**pager->read(low), low);
    ASSERT_TRUE(editor->addRow(std::vector<uint8_t>(4000, 1)).isOk());
    ASSERT_TRUE(pager->write(low, editor->page()).isOk());
    found = alloc.findPageWithRoom(owned, freeMap, kTdef, 100);
    EXPECT_EQ(*found, std::nullopt);
    found = alloc.findPageWithRoom(owned, freeMap, kTdef, 60);
    EXPECT_EQ(*found, std::optional<uint32_t>(low));

    // The page chosen opens without a second check only while its bytes
    // are the ones checked: bytes written since are checked again.
    EXPECT_TRUE(alloc.openDataPage(low).isOk());
    found = alloc.findPageWithRoom(owned, freeMap, kTdef, 60);
    ASSERT_EQ(*found, std::optional<uint32_t>(low));
    PageBuffer damaged = **pager->read(low);
    damaged[datapage::kFreeSpace] ^= 0x10;  // no longer what the rows leave
    ASSERT_TRUE(pager->write(low, damaged).isOk());
    EXPECT_EQ(alloc.openDataPage(low).status().code(), ErrorCode::Corruption);
}

// A page an editor handed over reopens with that editor's slots while its
// bytes are the page's; bytes written some other way since, or the page put
// back by a rollback, are read and checked afresh.
TEST(PageAllocator, AnEditedPageReopensOnlyWhileItsBytesAreThePages)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    std::vector<uint32_t> pages;
    for (int i = 0; i < 6; ++i) pages.push_back(*alloc.allocateDataPage(kTdef, {owned, std::nullopt}));
    ASSERT_TRUE(pager->commit().isOk());
    auto addRow = [&](uint32_t page, uint8_t fill) -> Result<int> {
        VK_ASSIGN_OR_RETURN(DataPageEditor e, alloc.openDataPage(page));
        VK_ASSIGN_OR_RETURN(int slot, e.addRow(std::vector<uint8_t>(40, fill)));
        VK_RETURN_IF_ERROR(alloc.writeDataPage(std::move(e)));
        return slot;
    };
    // More pages in turn than are remembered, each edited again; rows read
    // through the allocator's slot tables before and after each change are
    // the page's rows as it now stands.
    auto expectRowsAsStored = [&](uint32_t p) {
        for (uint8_t r = 0;; ++r) {
            auto stored = readRowAt(*pager, RowPointer{p, r});
            auto memo = alloc.slotTables().read(*pager, RowPointer{p, r});
            ASSERT_EQ(memo.isOk(), stored.isOk()) << p << ":" << int(r);
            if (!stored.isOk()) break;
            EXPECT_EQ(memo->slot.offset, stored->slot.offset) << p << ":" << int(r);
            EXPECT_EQ(memo->slot.length, stored->slot.length) << p << ":" << int(r);
            EXPECT_EQ(memo->slot.flags, stored->slot.flags) << p << ":" << int(r);
            EXPECT_EQ(memo->page, stored->page);
        }
    };
    for (int round = 0; round < 3; ++round)
        for (uint32_t p : pages) {
            expectRowsAsStored(p);
            ASSERT_EQ(*addRow(p, uint8_t(p)), round);
            expectRowsAsStored(p);
        }
    ASSERT_TRUE(pager->commit().isOk());

    // Another writer adds a row behind the allocator's back: the next
    // editor sees it.
    const uint32_t p = pages.back();
    ASSERT_EQ(*addRow(p, 1), 3);
    auto other = DataPageEditor::open(**pager->read(p), p);
    ASSERT_TRUE(other.isOk());
    ASSERT_EQ(*other->addRow(std::vector<uint8_t>(30, 2)), 4);
    ASSERT_TRUE(pager->write(p, other->page()).isOk());
    ASSERT_EQ(*addRow(p, 3), 5);
    auto row = readRowAt(*pager, RowPointer{p, 4});
    ASSERT_TRUE(row.isOk());
    EXPECT_EQ(row->slot.length, 30u);

    // A rollback puts the committed page back: the rows added since are gone.
    ASSERT_TRUE(pager->commit().isOk());
    ASSERT_EQ(*addRow(p, 4), 6);
    pager->rollback();
    auto editor = alloc.openDataPage(p);
    ASSERT_TRUE(editor.isOk());
    EXPECT_EQ(editor->slotCount(), 6);

    // Damage written since is refused, not passed over as known bytes.
    ASSERT_EQ(*addRow(p, 5), 6);
    PageBuffer damaged = **pager->read(p);
    damaged[datapage::kFreeSpace] ^= 0x10;
    ASSERT_TRUE(pager->write(p, damaged).isOk());
    EXPECT_EQ(alloc.openDataPage(p).status().code(), ErrorCode::Corruption);
}

TEST(PageAllocator, WhenPageOneHasNoRoomTheGlobalWindowMovesForward)
{
    auto pager = test::makeMemoryDatabase();
    auto editor = DataPageEditor::open(**pager->read(1), 1);
    ASSERT_TRUE(editor->addRow(std::vector<uint8_t>(editor->freeSpace() - datapage::kSlotSize - 2, 0)).isOk());
    ASSERT_TRUE(pager->write(1, editor->page()).isOk());
    ASSERT_TRUE(pager->commit().isOk());
    PageAllocator alloc(*pager);
    // Pages 3..602: the 69-byte map covers 0..511, page 512 moves it.
    std::vector<uint32_t> added;
    for (int i = 0; i < 600; ++i) {
        auto p = alloc.allocateDataPage(0, {});
        ASSERT_TRUE(p.isOk()) << p.status().toString();
        added.push_back(*p);
    }
    ASSERT_TRUE(pager->commit().isOk());
    EXPECT_EQ(rowLength(*pager, kGlobal), usagemap::kStandardRowSize);
    auto g = UsageMap::load(*pager, kGlobal, false);
    ASSERT_TRUE(g.isOk());
    EXPECT_EQ(g->startPage(), 512u);
    expectGloballyUsed(*pager, added);
    EXPECT_TRUE(checkDataPage(**pager->read(1), 1).isOk());

    // Freed inside the window: recorded; freed behind it: left unrecorded
    // (the page counts as in use), and no refusal either way.
    ASSERT_TRUE(alloc.freePage(600, {}).isOk());
    ASSERT_TRUE(alloc.freePage(100, {}).isOk());
    ASSERT_TRUE(pager->commit().isOk());
    g = UsageMap::load(*pager, kGlobal, false);
    EXPECT_TRUE(g->contains(600));
    EXPECT_FALSE(g->contains(100));
    EXPECT_FALSE(g->contains(601));

    // Past the new window's end it moves again, keeping the bits it shares.
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(alloc.allocateDataPage(0, {}).isOk());
    ASSERT_TRUE(pager->commit().isOk());
    g = UsageMap::load(*pager, kGlobal, false);
    EXPECT_EQ(g->startPage(), 1024u);
    for (uint32_t p = 1024; p < pager->pageCount(); ++p) EXPECT_FALSE(g->contains(p)) << p;
    for (uint32_t p = pager->pageCount(); p < 1536; ++p) EXPECT_TRUE(g->contains(p)) << p;
}

TEST(PageAllocator, RealFilesKeepTheirTables)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    for (const char* name : {"blank/blank-access2000.mdb", "jet4/testV2000.mdb", "jet4/testV2003.mdb", "jet4/bigIndexTestV2000.mdb",
                             "turkish/customer-register.mdb"}) {
        auto copy = test::copyWritable(dir / name, tmp.file("copy.mdb"));
        auto before = test::exportAllTables(copy);
        if (!std::string(name).starts_with("blank")) {
            EXPECT_GT(before.size(), 1u) << name;
        }
        uint32_t oldCount;
        std::vector<uint32_t> added;
        RowPointer owned;
        {
            auto pager = test::openCopy(copy);
            oldCount = pager->pageCount();
            PageAllocator alloc(*pager);
            // A page for our map rows, then 700 pages owned by a new map:
            // the global map must grow past its first 512 pages.
            auto mapPage = alloc.allocateDataPage(0, {});
            ASSERT_TRUE(mapPage.isOk()) << name << ": " << mapPage.status().toString();
            owned = test::addEmptyOwnerMap(*pager, *mapPage);
            for (int i = 0; i < 700; ++i) {
                auto p = alloc.allocateDataPage(kTdef, {owned, std::nullopt});
                ASSERT_TRUE(p.isOk()) << name << ": " << p.status().toString();
                added.push_back(*p);
            }
            ASSERT_TRUE(pager->commit().isOk());
        }
        auto pager = test::openCopy(copy);
        EXPECT_EQ(pager->pageCount(), oldCount + 701 + (UsageMap::load(*pager, owned)->isInline() ? 0 : 1)) << name;
        EXPECT_EQ(mapPages(*pager, owned), added) << name;
        std::vector<uint32_t> used;
        auto g = UsageMap::load(*pager, kGlobal, false);
        ASSERT_TRUE(g.isOk());
        for (uint32_t p = oldCount; p < pager->pageCount(); ++p) EXPECT_FALSE(g->contains(p)) << name << " page " << p;
        EXPECT_TRUE(checkDataPage(**pager->read(1), 1).isOk());
        EXPECT_EQ(test::exportAllTables(copy), before) << name;
    }
}

TEST(PageAllocator, AReferenceGlobalMapGetsABitmapPageForTheRangeTheFileGrowsInto)
{
    // A kind-1 global map with no usable bitmap page (one pointer names a
    // page far past the end): every page counts as in use until the file
    // grows, then the range gets a bitmap page.
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    auto copy = test::copyWritable(dir / "jet4/testRefGlobalV2000.mdb", tmp.file("ref.mdb"));
    auto pager = test::openCopy(copy);
    const uint32_t count = pager->pageCount();
    auto before = UsageMap::load(*pager, kGlobal, false);
    ASSERT_TRUE(before.isOk()) << before.status().toString();
    EXPECT_EQ(before->unusablePointers(), 1u);
    EXPECT_EQ(before->count(), 0u);
    PageAllocator alloc(*pager);
    auto page = alloc.allocateDataPage(0, {});
    ASSERT_TRUE(page.isOk()) << page.status().toString();
    ASSERT_TRUE(alloc.freePage(20, {}).isOk());
    ASSERT_TRUE(pager->commit().isOk());
    EXPECT_EQ(*page, count);
    EXPECT_EQ(pager->pageCount(), count + 2);  // the page and its range's bitmap page
    auto g = UsageMap::load(*pager, kGlobal, false);
    ASSERT_TRUE(g.isOk());
    EXPECT_FALSE(g->isInline());
    ASSERT_EQ(g->bitmapPages(), std::vector<uint32_t>{count + 1});
    for (uint32_t p = 0; p < count + 2; ++p) EXPECT_EQ(g->contains(p), p == 20) << p;
    EXPECT_TRUE(g->contains(count + 2));
    EXPECT_TRUE(g->contains(usagemap::kPagesPerMapPage - 1));
}

// A map decoded once is used again only while it is what the file holds:
// after a page is added, after a rollback, after the map became a
// reference map, it shows the file's map again.
TEST(PageAllocator, KeptOwnerMapFollowsEveryChange)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    ASSERT_TRUE(pager->commit().isOk());
    PageAllocator alloc(*pager);
    auto expectCurrent = [&](const char* when) {
        auto kept = alloc.ownerMap(owned);
        ASSERT_TRUE(kept.isOk()) << when << ": " << kept.status().toString();
        EXPECT_EQ((*kept)->pages(), mapPages(*pager, owned)) << when;
    };
    expectCurrent("empty");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(alloc.allocateDataPage(kTdef, {owned, std::nullopt}).isOk());
    expectCurrent("after three pages");
    ASSERT_TRUE(pager->commit().isOk());
    expectCurrent("after the commit");
    ASSERT_TRUE(alloc.allocateDataPage(kTdef, {owned, std::nullopt}).isOk());
    expectCurrent("after a fourth page");
    pager->rollback();
    expectCurrent("after the rollback");
    EXPECT_EQ((*alloc.ownerMap(owned))->count(), 3u);
    for (int i = 0; i < 1100; ++i) ASSERT_TRUE(alloc.allocateDataPage(kTdef, {owned, std::nullopt}).isOk());
    expectCurrent("as a reference map");
    EXPECT_FALSE((*alloc.ownerMap(owned))->isInline());
}

// A cached owner map is the map its pages hold after every change: a change
// to the other map on its row's page leaves it standing, one to its own row
// or bitmap pages (an inline map growing, then turned into a reference map)
// is read again.
TEST(UsageMapCache, AMapIsReadAgainExactlyWhenItsOwnRowOrBitmapChanged)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    RowPointer other = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    UsageMapCache cache;
    const UsageMap* kept = nullptr;
    for (int i = 0; i < 1200; ++i) {
        const bool ours = i % 3 != 0;
        auto page = alloc.allocateDataPage(kTdef, {ours ? owned : other, std::nullopt});
        ASSERT_TRUE(page.isOk()) << i << ": " << page.status().toString();
        auto cached = cache.load(*pager, owned);
        ASSERT_TRUE(cached.isOk()) << i << ": " << cached.status().toString();
        EXPECT_EQ((*cached)->pages(), mapPages(*pager, owned)) << "after page " << i;
        if (!ours && kept && (*cached)->isInline()) {
            EXPECT_EQ(*cached, kept) << "read again after page " << i;
        }
        kept = *cached;
    }
    EXPECT_FALSE(kept->isInline());
}

// A reference map's bitmap page handed out again in a buffer of its own (let
// go by the pager's cache, or written back unchanged) is the same map; only
// other bytes make it read again.
TEST(UsageMapCache, ABitmapPageReadAgainWithTheSameBytesKeepsTheMap)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    PageAllocator alloc(*pager);
    for (int i = 0; i < 1200; ++i) ASSERT_TRUE(alloc.allocateDataPage(kTdef, {owned, std::nullopt}).isOk()) << i;
    UsageMapCache cache;
    auto first = cache.load(*pager, owned);
    ASSERT_TRUE(first.isOk()) << first.status().toString();
    ASSERT_FALSE((*first)->isInline());
    ASSERT_FALSE((*first)->bitmapPages().empty());
    const uint32_t bitmap = (*first)->bitmapPages().front();
    const std::vector<uint32_t> pages = (*first)->pages();
    const size_t decodes = cache.decodeCount();

    PageBuffer same = **pager->read(bitmap);
    ASSERT_TRUE(pager->write(bitmap, same).isOk());
    auto again = cache.load(*pager, owned);
    ASSERT_TRUE(again.isOk());
    EXPECT_EQ(cache.decodeCount(), decodes);
    EXPECT_EQ((*again)->pages(), pages);

    // The bit of the map's last page cleared behind the cache's back (the
    // first bitmap page covers the file's first pages).
    PageBuffer changed = same;
    const uint32_t last = pages.back();
    ASSERT_LT(last, usagemap::kPagesPerMapPage);
    changed[usagemap::kMapPageBitmap + last / 8] &= uint8_t(~(1u << (last % 8)));
    ASSERT_TRUE(pager->write(bitmap, changed).isOk());
    auto reread = cache.load(*pager, owned);
    ASSERT_TRUE(reread.isOk());
    EXPECT_EQ(cache.decodeCount(), decodes + 1);
    EXPECT_EQ((*reread)->pages(), mapPages(*pager, owned));
    EXPECT_FALSE((*reread)->contains(last));
}

// The allocator's own one-bit changes (a page added, freed, filling up or
// getting room again) are followed by the maps it keeps decoded, inline and
// reference maps alike: the same pages as the file's map after every change,
// with no new decoding but where a map changed shape. A rollback makes it
// read the file again.
TEST(PageAllocator, OwnerMapsFollowTheirOwnBitsWithoutBeingDecodedAgain)
{
    auto pager = test::makeMemoryDatabase();
    RowPointer owned = test::addEmptyOwnerMap(*pager, 2);
    RowPointer freeMap = test::addEmptyOwnerMap(*pager, 2);
    ASSERT_TRUE(pager->commit().isOk());
    PageAllocator alloc(*pager);
    auto expectCurrent = [&](const std::string& when) {
        for (RowPointer map : {owned, freeMap}) {
            auto kept = alloc.ownerMap(map);
            ASSERT_TRUE(kept.isOk()) << when << ": " << kept.status().toString();
            EXPECT_EQ((*kept)->pages(), mapPages(*pager, map)) << when;
        }
    };
    std::mt19937 random(11);
    std::vector<uint32_t> pages;
    {
        // A map in hand follows the pages added while its window covers
        // them, and stays as it was, readable, after the one that makes the
        // window grow, until the next look at it decodes it again.
        auto held = alloc.ownerMap(owned);
        ASSERT_TRUE(held.isOk());
        const UsageMap* inHand = *held;
        const size_t before = inHand->count();
        const size_t length = rowLength(*pager, owned);
        size_t added = 0;
        while (rowLength(*pager, owned) == length && added < 2000) {
            auto page = alloc.allocateDataPage(kTdef, {owned, freeMap});
            ASSERT_TRUE(page.isOk()) << page.status().toString();
            pages.push_back(*page);
            ++added;
        }
        ASSERT_GT(added, 1u);
        EXPECT_EQ(inHand->count(), before + added - 1);
        expectCurrent("after the window grew");
    }
    for (const bool reference : {false, true}) {
        // Enough pages for the maps to become reference maps.
        if (reference) {
            for (int i = 0; i < 1100; ++i) {
                auto page = alloc.allocateDataPage(kTdef, {owned, freeMap});
                ASSERT_TRUE(page.isOk()) << page.status().toString();
                pages.push_back(*page);
            }
            expectCurrent("as reference maps");
            ASSERT_FALSE((*alloc.ownerMap(owned))->isInline());
        }
        const size_t decodesBefore = alloc.ownerMapDecodes();
        for (int step = 0; step < 400; ++step) {
            const std::string when = (reference ? "reference, step " : "inline, step ") + std::to_string(step);
            const unsigned what = random() % 4;
            if (what == 0 || pages.size() < 2) {
                auto page = alloc.allocateDataPage(kTdef, {owned, freeMap});
                ASSERT_TRUE(page.isOk()) << when << ": " << page.status().toString();
                pages.push_back(*page);
            } else if (what == 1) {
                const size_t at = random() % pages.size();
                ASSERT_TRUE(alloc.freePage(pages[at], {owned, freeMap}).isOk()) << when;
                pages.erase(pages.begin() + long(at));
            } else {
                const uint32_t page = pages[random() % pages.size()];
                ASSERT_TRUE(alloc.noteFreeSpace(page, what == 2 ? 0 : 4000, freeMap).isOk()) << when;
            }
            expectCurrent(when);
        }
        // An inline map is decoded again as it grows into its next length.
        EXPECT_LT(alloc.ownerMapDecodes() - decodesBefore, reference ? 2u : 6u) << alloc.ownerMapDecodes();
    }
    ASSERT_TRUE(pager->commit().isOk());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(alloc.freePage(pages.back(), {owned, freeMap}).isOk());
        pages.pop_back();
    }
    expectCurrent("before the rollback");
    pager->rollback();
    expectCurrent("after the rollback");
}

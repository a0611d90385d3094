#include "db/jet/page/data_page.h"
#include "db/jet/table/long_value_writer.h"
#include "db/jet/page/usage_map.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace varnika;
using namespace varnika::jet;

namespace {

// A reader of stored long values, independent of the writer's own walk.
std::vector<uint8_t> readBack(Pager& pager, const std::vector<uint8_t>& column)
{
    ByteReader r(column.data(), column.size());
    uint32_t word = r.u32(0);
    size_t length = word & 0x3FFFFFFF;
    uint32_t kind = word & 0xC0000000;
    if (kind == 0x80000000) return {column.begin() + 12, column.begin() + 12 + long(length)};
    auto row = readRowAt(pager, RowPointer::fromWord(r.u32(4)));
    EXPECT_TRUE(row.isOk());
    if (!row) return {};
    if (kind == 0x40000000) return {row->bytes().begin(), row->bytes().begin() + long(length)};
    std::vector<uint8_t> out;
    for (int guard = 0; guard < 1000; ++guard) {
        auto b = row->bytes();
        out.insert(out.end(), b.begin() + 4, b.end());
        uint32_t next = ByteReader(b).u32(0);
        if (next == 0) break;
        auto n = readRowAt(pager, RowPointer::fromWord(next));
        EXPECT_TRUE(n.isOk());
        if (!n) return {};
        row = std::move(n);
    }
    EXPECT_EQ(out.size(), length);
    return out;
}

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + i / 251);
    return v;
}

std::vector<RowPointer> lvalRowsOnPages(Pager& pager, uint32_t from)
{
    std::vector<RowPointer> rows;
    for (uint32_t p = from; p < pager.pageCount(); ++p) {
        auto view = DataPageView::parse(*pager.read(p), p);
        if (!view || view->owner() != datapage::kLongValueOwner) continue;
        for (int s = 0; s < view->slotCount(); ++s)
            if (!view->slot(s).isDeleted()) rows.push_back({p, uint8_t(s)});
    }
    return rows;
}

}  // namespace

TEST(LongValueWriter, SizesAcrossTheInlineAndRowLimits)
{
    struct Case {
        size_t size;
        size_t room;
        uint32_t kind;
        size_t rows;
    } cases[] = {
        {0, 100, 0x80000000, 0},     {1, 100, 0x80000000, 0},     {64, 64, 0x80000000, 0},
        {64, 63, 0x40000000, 1},     {65, 4000, 0x40000000, 1},   {4076, 4000, 0x40000000, 1},
        {4077, 4000, 0x00000000, 2}, {30000, 4000, 0x00000000, 8},
    };
    for (bool withMaps : {true, false}) {
        for (const Case& c : cases) {
            auto pager = test::makeMemoryDatabase();
            PageOwners maps;
            if (withMaps) maps = {test::addEmptyOwnerMap(*pager, 2), test::addEmptyOwnerMap(*pager, 2)};
            PageAllocator alloc(*pager);
            LongValueWriter writer(alloc);
            std::vector<uint8_t> data = pattern(c.size);
            auto column = writer.write(data, maps, c.room);
            ASSERT_TRUE(column.isOk()) << c.size << ": " << column.status().toString();
            ByteReader r(column->data(), column->size());
            EXPECT_EQ(r.u32(0), uint32_t(c.size) | c.kind) << c.size;
            EXPECT_EQ(r.u32(8), 0u);
            EXPECT_EQ(column->size(), c.kind == 0x80000000 ? 12 + c.size : 12u);
            EXPECT_EQ(readBack(*pager, *column), data) << c.size;
            auto rows = lvalRowsOnPages(*pager, 3);
            EXPECT_EQ(rows.size(), c.rows) << c.size;
            for (uint32_t p = 1; p < pager->pageCount(); ++p) EXPECT_TRUE(checkDataPage(**pager->read(p), p).isOk());
            std::set<uint32_t> lvalPages;
            for (RowPointer rp : rows) lvalPages.insert(rp.page);
            auto g = UsageMap::load(*pager, {1, 0}, false);
            for (uint32_t p : lvalPages) EXPECT_FALSE(g->contains(p));
            if (withMaps) {
                std::vector<uint32_t> expect(lvalPages.begin(), lvalPages.end()), withRoom;
                EXPECT_EQ(UsageMap::load(*pager, *maps.owned)->pages(), expect);
                // Pages filled by a piece leave the free-space map.
                for (uint32_t p : expect)
                    if (DataPageView::parse(*pager->read(p), p)->computedFreeSpace() >= PageAllocator::kNearlyFullBytes)
                        withRoom.push_back(p);
                EXPECT_EQ(UsageMap::load(*pager, *maps.freeSpace)->pages(), withRoom);
            }
            // Giving the value back deletes every row it used.
            ASSERT_TRUE(writer.release(*column, maps).isOk());
            EXPECT_TRUE(lvalRowsOnPages(*pager, 3).empty()) << c.size;
            if (withMaps) {
                // Emptied pages are offered again.
                EXPECT_EQ(UsageMap::load(*pager, *maps.freeSpace)->pages(), UsageMap::load(*pager, *maps.owned)->pages());
            }
            for (uint32_t p = 1; p < pager->pageCount(); ++p) EXPECT_TRUE(checkDataPage(**pager->read(p), p).isOk());
        }
    }
}

TEST(LongValueWriter, SpaceIsReusedAfterRelease)
{
    auto pager = test::makeMemoryDatabase();
    PageOwners maps{test::addEmptyOwnerMap(*pager, 2), test::addEmptyOwnerMap(*pager, 2)};
    PageAllocator alloc(*pager);
    LongValueWriter writer(alloc);
    auto first = writer.write(pattern(3000), maps, 0);
    ASSERT_TRUE(first.isOk());
    uint32_t pages = pager->pageCount();
    auto second = writer.write(pattern(900), maps, 0);  // fits beside the first
    ASSERT_TRUE(second.isOk());
    EXPECT_EQ(pager->pageCount(), pages);
    ASSERT_TRUE(writer.release(*first, maps).isOk());
    auto third = writer.write(pattern(3100), maps, 0);
    ASSERT_TRUE(third.isOk());
    EXPECT_EQ(pager->pageCount(), pages);
    EXPECT_EQ(readBack(*pager, *second), pattern(900));
    EXPECT_EQ(readBack(*pager, *third), pattern(3100));

    // Without maps, values of one operation share pages too.
    LongValueWriter unowned(alloc);
    auto a = unowned.write(pattern(1000), {}, 0);
    uint32_t after = pager->pageCount();
    auto b = unowned.write(pattern(1000), {}, 0);
    ASSERT_TRUE(a.isOk() && b.isOk());
    EXPECT_EQ(pager->pageCount(), after);
}

TEST(LongValueWriter, DamagedHeadersAreRefusedWithoutChanges)
{
    auto pager = test::makeMemoryDatabase();
    PageAllocator alloc(*pager);
    LongValueWriter writer(alloc);
    auto good = writer.write(pattern(9000), {}, 0);
    ASSERT_TRUE(good.isOk());
    ASSERT_TRUE(pager->commit().isOk());

    auto withWord = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> h = *good;
        putU32(h.data(), at, v);
        return h;
    };
    std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(5, 0),                               // too short
        withWord(0, 9000 | 0xC0000000),                           // unknown kind
        withWord(4, RowPointer{2, 0}.toWord()),                   // not an LVAL page
        withWord(4, RowPointer{3, 200}.toWord()),                 // no such row
        withWord(0, 90000),                                       // chain shorter than stated
        withWord(0, 5000 | 0x40000000),                           // single row shorter than stated
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        Status s = writer.release(bad[i], {});
        EXPECT_EQ(s.code(), ErrorCode::Corruption) << i << ": " << s.toString();
        EXPECT_FALSE(pager->hasPendingWrites()) << i;
    }
    EXPECT_EQ(writer.write(std::vector<uint8_t>(1, 0), {}, 0).isOk(), true);
}

TEST(LongValueWriter, MemoTextEncoding)
{
    struct Case {
        std::u16string text;
        bool allowed;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {u"abc", true, {0xFF, 0xFE, 'a', 'b', 'c'}},
        {u"abc", false, {'a', 0, 'b', 0, 'c', 0}},
        {u"ab", true, {'a', 0, 'b', 0}},
        {u"", true, {}},
        {u"\u00e7\u00f6\u00fc", true, {0xFF, 0xFE, 0xE7, 0xF6, 0xFC}},
        {u"\u015fey", true, {0x5F, 0x01, 'e', 0, 'y', 0}},
        {std::u16string(u"a\0b", 3), true, {'a', 0, 0, 0, 'b', 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(encodeMemoText(c.text, c.allowed), c.bytes);
    EXPECT_EQ(encodeMemoText(std::u16string(1024, u'x'), true).size(), 1026u);
    EXPECT_EQ(encodeMemoText(std::u16string(1025, u'x'), true).size(), 2050u);
}

TEST(LongValueWriter, RealFileKeepsItsTables)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    auto copy = test::copyWritable(dir / "jet4/test2V2000.mdb", tmp.file("lv.mdb"));
    auto before = test::exportAllTables(copy);
    ASSERT_GT(before.size(), 1u);
    std::vector<std::vector<uint8_t>> columns;
    PageOwners maps;
    {
        auto pager = test::openCopy(copy);
        PageAllocator alloc(*pager);
        auto mapPage = alloc.allocateDataPage(0, {});
        ASSERT_TRUE(mapPage.isOk());
        maps = {test::addEmptyOwnerMap(*pager, *mapPage), test::addEmptyOwnerMap(*pager, *mapPage)};
        LongValueWriter writer(alloc);
        for (size_t n : {0, 65, 4076, 4077, 30000}) {
            auto c = writer.write(pattern(n), maps, 52);
            ASSERT_TRUE(c.isOk()) << c.status().toString();
            columns.push_back(*c);
        }
        ASSERT_TRUE(pager->commit().isOk());
    }
    auto pager = test::openCopy(copy);
    size_t i = 0;
    for (size_t n : {0, 65, 4076, 4077, 30000}) EXPECT_EQ(readBack(*pager, columns[i++]), pattern(n));
    EXPECT_EQ(test::exportAllTables(copy), before);
}

// Memo values of a real table re-pointed at values this writer stored,
// read back by mdbtools; the old values' rows are given back.
TEST(LongValueWriter, MdbtoolsReadsWrittenMemos)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    auto copy = test::copyWritable(dir / "jet4/test2V2000.mdb", tmp.file("memo.mdb"));
    auto before = test::exportAllTables(copy);
    // MSP_PROJECTS keeps its row on page 60; a Memo column and an OLE
    // column hold long-value headers at these page offsets (one row, and a
    // chain). mdb-export prints OLE data as raw bytes.
    const uint32_t dataPage = 60;
    const size_t headerAt[] = {3906, 4026};
    std::u16string single, chained;
    for (int i = 0; i < 1000; ++i) single += char16_t(u'a' + i % 26);
    for (int i = 0; i < 3000; ++i) chained += i % 7 ? char16_t(u'A' + i % 26) : u'\u015f';
    {
        auto pager = test::openCopy(copy);
        PageAllocator alloc(*pager);
        LongValueWriter writer(alloc);
        auto view = DataPageView::parse(*pager->read(dataPage), dataPage);
        ASSERT_TRUE(view.isOk());
        const std::u16string* texts[] = {&single, &chained};
        for (int k = 0; k < 2; ++k) {
            int slot = -1;
            for (int s = 0; s < view->slotCount(); ++s)
                if (view->slot(s).offset <= headerAt[k] && headerAt[k] < size_t(view->slot(s).offset + view->slot(s).length)) slot = s;
            ASSERT_GE(slot, 0);
            auto page = DataPageEditor::open(**pager->read(dataPage), dataPage);
            std::vector<uint8_t> row(page->rowBytes(slot).begin(), page->rowBytes(slot).end());
            size_t at = headerAt[k] - view->slot(slot).offset;
            std::vector<uint8_t> old(row.begin() + long(at), row.begin() + long(at + 12));
            auto header = writer.write(encodeMemoText(*texts[k], true), {}, 0);
            ASSERT_TRUE(header.isOk()) << header.status().toString();
            ASSERT_EQ(header->size(), 12u);
            EXPECT_EQ(ByteReader(header->data(), 12).u32(0) & 0xC0000000, k == 0 ? 0x40000000u : 0u);
            std::copy(header->begin(), header->end(), row.begin() + long(at));
            ASSERT_TRUE(page->replaceRow(slot, row).isOk());
            ASSERT_TRUE(pager->write(dataPage, page->page()).isOk());
            ASSERT_TRUE(writer.release(old, {}).isOk());
        }
        ASSERT_TRUE(pager->commit().isOk());
    }
    auto after = test::exportAllTables(copy);
    const std::string& csv = after["MSP_PROJECTS"];
    std::string singleUtf8(single.begin(), single.end());
    std::vector<uint8_t> raw = encodeMemoText(chained, true);
    EXPECT_EQ(raw.size(), chained.size() * 2);
    EXPECT_NE(csv.find(singleUtf8), std::string::npos);
    EXPECT_NE(csv.find(std::string(raw.begin(), raw.end())), std::string::npos);
    // The values before the Memo (whose old text began "Jon Iles") are untouched.
    const std::string& old = before["MSP_PROJECTS"];
    std::string prefix = old.substr(0, old.find("Jon Iles"));
    EXPECT_EQ(csv.substr(0, prefix.size() + singleUtf8.size()), prefix + singleUtf8);
}

#include "db/jet/table/row_store.h"
#include "db/jet/check/table_pages_check.h"
#include "db/jet/page/usage_map.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

using namespace varnika;
using namespace varnika::jet;

namespace {

// First pages of the table definitions in use: type 0x02, the constant at
// 0x0C and a table type byte. Continuation pages carry neither.
std::vector<uint32_t> tableDefinitions(Pager& pager)
{
    std::vector<uint32_t> out;
    auto global = UsageMap::load(pager, {1, 0}, false);
    EXPECT_TRUE(global.isOk());
    for (uint32_t p = 2; p < pager.pageCount(); ++p) {
        if (global->contains(p)) continue;
        auto page = pager.read(p);
        ByteReader r((*page)->data(), kPageSize);
        uint8_t type = r.u8(tdef::kTableType);
        if (r.u8(page::kType) == uint8_t(PageType::TableDefinition) && r.u32(tdef::kConstant) == tdef::kConstantValue &&
            (type == tdef::kTableTypeUser || type == tdef::kTableTypeSystem))
            out.push_back(p);
    }
    return out;
}

}  // namespace

TEST(TablePagesCheck, EveryFixtureTablePasses)
{
    VK_REQUIRE_FIXTURES(dir);
    int tables = 0;
    for (const char* sub : {"jet4", "blank", "turkish", "odd"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            if (file.filename() == "testRefGlobalV2000.mdb") continue;  // hand-edited global map
            auto f = openPosixFile(file.string(), OpenMode::ReadOnly);
            ASSERT_TRUE(f.isOk());
            Pager pager(std::move(*f));
            for (uint32_t t : tableDefinitions(pager)) {
                ++tables;
                auto s = checkTablePages(pager, t);
                EXPECT_TRUE(s.isOk()) << file.filename() << " table " << t << ": " << s.status().toString();
                // User tables always agree with their row count.
                auto page = pager.read(t);
                if (s && (**page)[tdef::kTableType] == tdef::kTableTypeUser) {
                    EXPECT_TRUE(s->rowCountMatches()) << file.filename() << " table " << t;
                }
            }
        }
    }
    EXPECT_GT(tables, 200);
}

TEST(TablePagesCheck, FindsBrokenTables)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    TablePages table{24, {25, 0}, {25, 1}};  // testV2000.mdb Table1
    struct Case {
        const char* what;
        std::function<void(Pager&, RowStore&)> damage;
    } cases[] = {
        {"row count", [](Pager& p, RowStore&) { ASSERT_TRUE(adjustRowCount(p, 24, 1).isOk()); }},
        {"deleted row without count", [](Pager&, RowStore& s) { ASSERT_TRUE(s.remove({27, 0}).isOk()); }},
        {"page freed globally", [](Pager& p, RowStore&) {
             PageAllocator a(p);
             ASSERT_TRUE(a.maps().markFree(27).isOk());
         }},
        {"dangling overflow pointer", [](Pager& p, RowStore&) {
             auto e = DataPageEditor::open(**p.read(27), 27);
             ASSERT_TRUE(e->makeOverflowHeader(0, {27, 9}).isOk());
             ASSERT_TRUE(p.write(27, e->page()).isOk());
         }},
        {"orphan overflow target", [](Pager& p, RowStore&) {
             auto e = DataPageEditor::open(**p.read(27), 27);
             ASSERT_TRUE(e->addOverflowTarget(std::vector<uint8_t>(10, 1)).isOk());
             ASSERT_TRUE(p.write(27, e->page()).isOk());
         }},
    };
    for (const Case& c : cases) {
        auto copy = test::copyWritable(dir / "jet4/testV2000.mdb", tmp.file("t.mdb"));
        auto pager = test::openCopy(copy);
        ASSERT_TRUE(checkTablePages(*pager, 24)->rowCountMatches());
        PageAllocator alloc(*pager);
        RowStore store(alloc, table);
        c.damage(*pager, store);
        auto s = checkTablePages(*pager, 24);
        EXPECT_TRUE(!s.isOk() || !s->rowCountMatches() || !s->unreferencedMovedRows.empty()) << c.what;
        if (!s.isOk()) {
            EXPECT_EQ(s.status().code(), ErrorCode::Corruption) << c.what;
        }
    }
}

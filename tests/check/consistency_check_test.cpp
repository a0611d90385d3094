#include "db/jet/check/consistency_check.h"
#include "db/jet/page/usage_map_editor.h"
#include "support/ddl_test_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace varnika::jet {
namespace {

TEST(ConsistencyCheck, EveryAccessMadeFileIsSound)
{
    VK_REQUIRE_FIXTURES(fixtures);
    for (const char* sub : {"jet4", "turkish", "blank", "odd"}) {
        for (const auto& file : test::mdbFilesIn(fixtures / sub)) {
            auto db = Database::open(file.string(), OpenMode::ReadOnly);
            if (!db.isOk()) continue;  // files the reader refuses are covered by its own tests
            auto report = checkDatabase(**db);
            ASSERT_TRUE(report.isOk()) << file << ": " << report.status().toString();
            for (const auto& p : report->problems) ADD_FAILURE() << file.filename() << ": " << p;
            EXPECT_GT(report->tables, 0u);
        }
    }
}

TEST(ConsistencyCheck, PagesNoMapHoldsAndTheGlobalMapsReachAreNotes)
{
    VK_REQUIRE_FIXTURES(fixtures);
    // Access left 693 pages of this file to no table; the global map of the
    // other was edited by hand into a reference map naming a page far past
    // the end of the file, which leaves its range counted as in use.
    auto db = Database::open((fixtures / "jet4" / "testV2000.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    EXPECT_TRUE(report->ok());
    auto noted = [&](const CheckReport& r, const std::string& text) {
        return std::any_of(r.notes.begin(), r.notes.end(), [&](const std::string& n) { return n.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(noted(*report, "693 page(s) are held by no table")) << ::testing::PrintToString(report->notes);
    db = Database::open((fixtures / "jet4" / "testRefGlobalV2000.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    EXPECT_TRUE(report->ok());
    EXPECT_TRUE(noted(*report, "bitmap page(s) that are not in the file")) << ::testing::PrintToString(report->notes);

    // A page some table holds but the global map calls free is a problem:
    // a writer trusting the map would overwrite it.
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    {
        auto rw = Database::open(file.string(), OpenMode::ReadWrite);
        ASSERT_TRUE(rw.isOk());
        auto table = (*rw)->table(u"Table1");
        ASSERT_TRUE(table.isOk());
        const uint32_t tdef = (*table)->tdefPage();
        UsageMapEditor maps((*rw)->pager(), nullptr);
        ASSERT_TRUE(maps.markFree(tdef).isOk());
        ASSERT_TRUE((*rw)->pager().commit().isOk());
    }
    db = Database::open(file.string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    EXPECT_FALSE(report->ok());
}

TEST(ConsistencyCheck, FindsAStoredKeyThatDoesNotMatchItsRow)
{
    VK_REQUIRE_FIXTURES(fixtures);
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(26 * 4096 + 0x1E1);  // first key of the index on Table1.B: "b" becomes "c"
        f.put(char(0x4D));
    }
    auto db = Database::open(file.string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    ASSERT_EQ(report->problems.size(), 1u);
    EXPECT_NE(report->problems[0].find("Table1 index"), std::string::npos) << report->problems[0];
}

}  // namespace
}  // namespace varnika::jet

namespace varnika::jet {
namespace {

TEST(ConsistencyCheck, FollowsEveryLongValueChain)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Notlar (Id COUNTER PRIMARY KEY, Metin MEMO)").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Notlar (Metin) VALUES ('" + std::string(9000, 'q') + "')").isOk());
    {
        auto report = checkDatabase(*t.db);
        ASSERT_TRUE(report.isOk());
        EXPECT_TRUE(report->ok());
    }
    t.db.reset();
    t.executor.reset();
    // Break the second page of the chain: its piece no longer reads.
    std::vector<uint8_t> bytes = ddltest::fileBytes(t.path);
    std::vector<size_t> chainPages;
    for (size_t p = 0; p + 1 <= bytes.size() / kPageSize; ++p) {
        ByteReader r(bytes.data() + p * kPageSize, kPageSize);
        if (r.u8(page::kType) == uint8_t(PageType::Data) && r.u32(datapage::kOwner) == datapage::kLongValueOwner)
            chainPages.push_back(p);
    }
    ASSERT_GE(chainPages.size(), 2u);
    bytes[chainPages[1] * kPageSize + datapage::kSlotCount] = 0;
    std::ofstream(t.path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    auto db = Database::open(t.path.string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    ASSERT_EQ(report->problems.size(), 1u);
    EXPECT_NE(report->problems[0].find("Notlar: the row at page"), std::string::npos) << report->problems[0];
}

}  // namespace
}  // namespace varnika::jet

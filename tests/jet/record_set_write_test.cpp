// Writing through the data control on copies of Access-made files: the
// record set's Edit/Update/Delete go through the table writer and keep the
// indexes right; mdbtools reads the result.
#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/check/table_pages_check.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace varnika {
namespace {

std::string exportTable(const std::filesystem::path& file, const std::string& table)
{
    return test::runCommand({"mdb-export", file.string(), table}).out;
}

// The whole file is sound after writing: pages, maps, row counts, and every
// index holding exactly the keys of its rows.
void expectIndexesMatchRows(const std::filesystem::path& file, const std::u16string& tableName)
{
    auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto report = jet::checkDatabase(**db);
    ASSERT_TRUE(report.isOk()) << report.status().toString();
    for (const auto& p : report->problems) ADD_FAILURE() << toUtf8(tableName) << ": " << p;
    EXPECT_GT(report->indexes, 0u);
}

TEST(RecordSetWrite, UpdateAndDeleteKeepRowsAndIndexesRight)
{
    VK_REQUIRE_FIXTURES(fixtures);
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    const std::string otherBefore = exportTable(file, "Table2");

    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"Select * From Table1 where B='hijklmnop'");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet* rs = data.Recordset();
    ASSERT_EQ(*rs->RecordCount(), 1);
    auto b = rs->Fields(u"B");
    ASSERT_TRUE(b.isOk());
    ASSERT_TRUE(rs->Edit().isOk());
    ASSERT_TRUE((*b)->SetValue(Variant::text(u"a much longer text than before, to make the row grow")).isOk());
    ASSERT_TRUE(rs->Update().isOk()) ;
    // Still selected, though it no longer matches: the selection is fixed.
    EXPECT_EQ(*(*b)->Value(), Variant::text(u"a much longer text than before, to make the row grow"));
    ASSERT_TRUE(rs->Close().isOk());

    data.SetRecordSource(u"Table1");
    ASSERT_TRUE(data.Refresh().isOk());
    rs = data.Recordset();
    ASSERT_EQ(*rs->RecordCount(), 2);
    ASSERT_TRUE(rs->Delete().isOk());
    EXPECT_EQ(rs->Fields(u"B").value()->Value().status().code(), ErrorCode::NotFound);  // deleted, still current
    ASSERT_TRUE(rs->MoveNext().isOk());
    EXPECT_FALSE(*rs->Eof());
    ASSERT_TRUE(rs->Close().isOk());
    data.SetRecordSource(u"Table2");  // lets go of the file
    ASSERT_TRUE(data.Refresh().isOk());
    ASSERT_TRUE(data.Recordset()->Close().isOk());

    expectIndexesMatchRows(file, u"Table1");
    if (!test::haveProgram("mdb-export")) return;
    std::string after = exportTable(file, "Table1");
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 2) << after;  // header + one row
    EXPECT_EQ(after.find("a much longer text than before"), std::string::npos);  // the updated row was deleted
    EXPECT_EQ(exportTable(file, "Table2"), otherBefore);
}

TEST(RecordSetWrite, TurkishTitleCaseKeepsTheKeyAndUpdatesTheText)
{
    VK_REQUIRE_FIXTURES(fixtures);
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "turkish" / "hospital-appointments.mdb", dir.file("h.mdb"));
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"doktor");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet* rs = data.Recordset();
    auto name = rs->Fields(u"DoktorAdi");
    ASSERT_TRUE(name.isOk());
    int changed = 0;
    while (!*rs->Eof()) {
        Variant v = *(*name)->Value();
        if (v.type() == VariantType::Text && v.asText() == u"selim kaş") {
            ASSERT_TRUE(rs->Edit().isOk());
            ASSERT_TRUE((*name)->SetValue(Variant::text(u"Selim Kaş")).isOk());
            ASSERT_TRUE(rs->Update().isOk());
            ++changed;
        } else if (v.type() == VariantType::Text && v.asText() == u"Hızır Gök") {
            ASSERT_TRUE(rs->Edit().isOk());
            ASSERT_TRUE((*name)->SetValue(Variant::text(u"Hızır Gür")).isOk());  // a new key
            ASSERT_TRUE(rs->Update().isOk());
            ++changed;
        }
        ASSERT_TRUE(rs->MoveNext().isOk());
    }
    EXPECT_EQ(changed, 2);
    ASSERT_TRUE(rs->Close().isOk());
    data.SetRecordSource(u"iller");
    ASSERT_TRUE(data.Refresh().isOk());
    ASSERT_TRUE(data.Recordset()->Close().isOk());
    expectIndexesMatchRows(file, u"doktor");
    if (!test::haveProgram("mdb-export")) return;
    std::string after = exportTable(file, "doktor");
    EXPECT_NE(after.find("Selim Kaş"), std::string::npos);
    EXPECT_NE(after.find("Hızır Gür"), std::string::npos);
}

TEST(RecordSetWrite, ConversionAndRefusalsChangeNothing)
{
    VK_REQUIRE_FIXTURES(fixtures);
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    std::string before = exportTable(file, "Table1");
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"Table1");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet* rs = data.Recordset();
    ASSERT_TRUE(rs->Edit().isOk());
    EXPECT_EQ(rs->Fields(u"D").value()->SetValue(Variant::text(u"abc")).code(), ErrorCode::TypeMismatch);
    EXPECT_EQ(rs->Fields(u"A").value()->SetValue(Variant::text(std::u16string(300, u'x'))).code(),
              ErrorCode::InvalidArgument);
    ASSERT_TRUE(rs->Update().isOk());  // nothing changed: nothing written
    ASSERT_TRUE(rs->Close().isOk());
    data.SetRecordSource(u"Table2");
    ASSERT_TRUE(data.Refresh().isOk());
    ASSERT_TRUE(data.Recordset()->Close().isOk());
    if (test::haveProgram("mdb-export")) {
        EXPECT_EQ(exportTable(file, "Table1"), before);
    }
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Changes byte `offset` of page `page` of the file.
void patch(const std::filesystem::path& p, uint32_t page, size_t offset, uint8_t value)
{
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(page) * 4096 + std::streamoff(offset));
    f.put(char(value));
}

TEST(RecordSetWrite, AnIndexWhoseKeysWeDoNotReproduceIsNotTouched)
{
    VK_REQUIRE_FIXTURES(fixtures);
    struct Case {
        const char* what;
        uint32_t page;
        size_t offset;
        uint8_t value;
    } cases[] = {
        // testV2000 Table1: leaf page 26 holds the index on B; its first
        // entry is "b" (7f 4c 01 00 ...): make it "c".
        {"a stored key that differs from its row", 26, 0x1E1, 0x4D},
        // Column B's sort order (descriptor +11 in TDEF page 24) becomes
        // German, whose tables the engine does not have.
        {"a sort order the engine cannot build", 0, 0, 0},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        auto file = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
        if (c.page) {
            patch(file, c.page, c.offset, c.value);
        } else {
            auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
            ASSERT_TRUE(db.isOk());
            auto t = (*db)->table(u"Table1");
            ASSERT_TRUE(t.isOk());
            const jet::TableDef& def = (*t)->def();
            int col = def.findColumn(u"B");
            size_t at = jet::tdef::kVariablePart + def.realIndexes().size() * jet::tdef::kRealIndexCounterSize +
                        size_t(col) * jet::tdef::kColumnSize + jet::tdef::kColTypeSpecific;
            uint32_t tdefPage = def.firstPage();
            db->reset();
            patch(file, tdefPage, at, 0x07);  // 0x0407
        }
        const std::vector<uint8_t> before = fileBytes(file);
        DataControl data;
        data.SetDatabaseName(fromUtf8(file.string()));
        data.SetRecordSource(u"Table1");
        ASSERT_TRUE(data.Refresh().isOk());
        RecordSet* rs = data.Recordset();
        ASSERT_TRUE(rs->Edit().isOk());
        ASSERT_TRUE(rs->Fields(u"B").value()->SetValue(Variant::text(u"zzz")).isOk());
        Status s = rs->Update();
        EXPECT_EQ(s.code(), ErrorCode::NotSupported) << c.what << ": " << s.toString();
        ASSERT_TRUE(rs->Close().isOk());
        data.SetRecordSource(u"Table2");
        ASSERT_TRUE(data.Refresh().isOk());
        ASSERT_TRUE(data.Recordset()->Close().isOk());
        EXPECT_EQ(fileBytes(file), before) << c.what;
    }
}

}  // namespace
}  // namespace varnika

// Writing through the data control on copies of Access-made files: the
// record set's Edit/Update/Delete go through the table writer and keep the
// indexes right; mdbtools reads the result.
#include "db/data_control.h"
#include "db/jet/bytes.h"
#include "db/jet/database.h"
#include "db/jet/index_builder.h"
#include "db/jet/jet_index_maintainer.h"
#include "db/jet/table_pages_check.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace varnika {
namespace {

std::string exportTable(const std::filesystem::path& file, const std::string& table)
{
    return test::runCommand({"mdb-export", file.string(), table}).out;
}

// Every real index of the table holds exactly the keys of its rows, in order.
void expectIndexesMatchRows(const std::filesystem::path& file, const std::u16string& tableName)
{
    auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto table = (*db)->table(tableName);
    ASSERT_TRUE(table.isOk());
    const jet::TableDef& def = (*table)->def();
    auto pages = jet::checkTablePages((*db)->pager(), def.firstPage());
    ASSERT_TRUE(pages.isOk()) << pages.status().toString();
    EXPECT_TRUE(pages->rowCountMatches());
    for (const jet::RealIndexDef& ix : def.realIndexes()) {
        std::set<std::vector<uint8_t>> expected;
        auto scan = (*table)->scan();
        ASSERT_TRUE(scan.isOk());
        while (*scan->next()) {
            auto values = scan->values();
            ASSERT_TRUE(values.isOk());
            auto e = jet::indexEntryFor(def, ix, *values, (*db)->header().sortLcid, (*db)->header().sortVersion);
            ASSERT_TRUE(e.isOk()) << e.status().toString();
            if (!*e) continue;
            (*e)->row = scan->pointer();
            expected.insert(jet::leafEntryBytes(**e));
        }
        // Leaf chain from the leftmost leaf.
        std::vector<std::vector<uint8_t>> stored;
        uint32_t page = ix.rootPage;
        for (;;) {
            auto ref = (*db)->pager().read(page);
            ASSERT_TRUE(ref.isOk());
            const jet::PageBuffer& b = **ref;
            if (b[0] == uint8_t(jet::PageType::IndexLeaf)) break;
            // Descend through the first entry (or the tail when there is none).
            jet::ByteReader r(b.data(), b.size());
            size_t end = 0;
            for (size_t k = 1; k <= jet::indexpage::kMaxEntryData; ++k)
                if (b[jet::indexpage::kEntryBitmap + k / 8] & (1 << (k % 8))) { end = k; break; }
            page = end ? r.u32be(jet::indexpage::kEntryData + end - 4) : r.u32(jet::indexpage::kTailChild);
        }
        while (page) {
            auto ref = (*db)->pager().read(page);
            ASSERT_TRUE(ref.isOk());
            const jet::PageBuffer& b = **ref;
            jet::ByteReader r(b.data(), b.size());
            size_t prefix = r.u16(jet::indexpage::kPrefixLength), start = 0;
            std::vector<uint8_t> first;
            for (size_t k = 1; k <= jet::indexpage::kMaxEntryData; ++k) {
                if (!(b[jet::indexpage::kEntryBitmap + k / 8] & (1 << (k % 8)))) continue;
                std::vector<uint8_t> e(b.begin() + long(jet::indexpage::kEntryData + start),
                                       b.begin() + long(jet::indexpage::kEntryData + k));
                if (first.empty()) first = e;
                else e.insert(e.begin(), first.begin(), first.begin() + long(prefix));
                stored.push_back(std::move(e));
                start = k;
            }
            page = r.u32(jet::indexpage::kNext);
        }
        EXPECT_EQ(stored, std::vector<std::vector<uint8_t>>(expected.begin(), expected.end()))
            << "index " << &ix - &def.realIndexes()[0] << " of " << toUtf8(tableName);
    }
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

}  // namespace
}  // namespace varnika

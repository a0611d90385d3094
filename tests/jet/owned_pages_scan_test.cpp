// A table's map of owned pages may name pages that hold none of its rows:
// its index pages, and a page another table's rows went to. Reading,
// selecting and deleting its records read its own rows only and leave the
// other table alone, on one thread and on two.

#include "db/data_control.h"
#include "db/jet/page/usage_map_editor.h"
#include "db/jet/table/table.h"
#include "support/ddl_test_support.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

// Cari, `records` of two long texts, with an index on Ad, and Stok, 40
// records; Cari's map then names its index's root and Stok's first and
// last data pages.
void makeSharedMaps(ddltest::NewDb& t, int records)
{
    ASSERT_TRUE(t.run("CREATE TABLE Cari (Id COUNTER PRIMARY KEY, Ad TEXT(255), Adres TEXT(255))").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixAd ON Cari (Ad)").isOk());
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Ad TEXT(255))").isOk());
    const std::string filler(230, 'x');
    for (int i = 0; i < records; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Cari (Ad, Adres) VALUES ('Cari " + std::to_string(i) + filler + "', '" + filler + "')").isOk());
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Stok (Ad) VALUES ('Stok " + std::to_string(i) + filler + "')").isOk());
    auto cari = t.db->table(u"Cari");
    auto stok = t.db->table(u"Stok");
    ASSERT_TRUE(cari.isOk() && stok.isOk());
    auto stokPages = (**stok).dataPages();
    ASSERT_TRUE(stokPages.isOk());
    UsageMapEditor maps(t.db->pager(), nullptr);
    for (uint32_t page : {(**cari).def().realIndexes().back().rootPage, stokPages->front(), stokPages->back()})
        ASSERT_TRUE(maps.setBit((**cari).def().ownedPagesMap(), page).isOk());
    ASSERT_TRUE(t.db->pager().commit().isOk());
    t.db.reset();
    t.executor.reset();
}

// The first word of Ad of every record the data control shows.
std::vector<std::u16string> shown(const std::filesystem::path& file, const std::u16string& source)
{
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(source);
    EXPECT_TRUE(data.Refresh().isOk());
    std::vector<std::u16string> out;
    RecordSet* rs = data.Recordset();
    while (rs && !rs->Eof().value()) {
        std::u16string ad = rs->Fields(u"Ad").value()->Value().value().asText();
        out.push_back(ad.substr(0, ad.find(u' ')));
        EXPECT_TRUE(rs->MoveNext().isOk());
    }
    return out;
}

TEST(OwnedPagesScan, PagesATableOwnsThatHoldNoRowsOfItAreNeitherReadNorChanged)
{
    // 40 records: the check before a run reads them on one thread; 4,500:
    // on two (the table passes 2 MB).
    for (int records : {40, 4500}) {
        ddltest::NewDb t;
        makeSharedMaps(t, records);
        ASSERT_FALSE(HasFatalFailure());
        {
            auto db = Database::open(t.path.string(), OpenMode::ReadOnly);
            ASSERT_TRUE(db.isOk());
            auto owned = (*db)->table(u"Cari").value()->ownedPages();
            ASSERT_TRUE(owned.isOk());
            EXPECT_EQ(owned->size() >= 512, records > 40) << owned->size();
        }
        const std::vector<std::u16string> cari(size_t(records), u"Cari");
        EXPECT_EQ(shown(t.path, u"Cari"), cari) << records;
        EXPECT_EQ(shown(t.path, u"Select * From Cari where Id > 0"), cari) << records;

        DataControl data;
        data.SetDatabaseName(fromUtf8(t.path.string()));
        data.SetRecordSource(u"Select * From Cari where Id > 0");
        ASSERT_TRUE(data.Refresh().isOk());
        RecordSet* rs = data.Recordset();
        while (!rs->Eof().value()) {
            ASSERT_TRUE(rs->Delete().isOk()) << records;
            ASSERT_TRUE(rs->MoveNext().isOk());
        }
        ASSERT_TRUE(rs->Close().isOk());
        EXPECT_TRUE(shown(t.path, u"Cari").empty()) << records;
        EXPECT_EQ(shown(t.path, u"Stok"), std::vector<std::u16string>(40, u"Stok")) << records;
    }
}

}  // namespace
}  // namespace varnika::jet

// Selections that an index narrows: the same statements over two copies of
// one table, with and without indexes, select the same records in the same
// order, deleted and moved rows included.

#include "db/data_control.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/index/index_seek.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

// Units in several cases and accents, Turkish letters among them.
const char16_t* const kUnits[] = {u"Adet",     u"ADET",     u"adet",     u"Adét",  u"Kılıç", u"KILIÇ", u"kılıç",
                                  u"İstanbul", u"istanbul", u"ISTANBUL", u"Koli",  u"KOLİ",  u"Parça", u"PARÇA",
                                  u"parça ",   u"",         u"Straße",   u"STRASSE", u"Ölçü", u"ÖLÇÜ",
                                  u"Kasa",     u"Kaſa"};

void build(const std::string& path, bool indexed, uint16_t sortLcid = 0x0409)
{
    jet::NewDatabaseOptions options;
    options.sortOrderLcid = sortLcid;
    ASSERT_TRUE(jet::createDatabaseFile(path, options).isOk());
    auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk());
    jet::DdlExecutor ddl(*db, RegionalSettings::unitedStates());
    ASSERT_TRUE(ddl.execute(u"CREATE TABLE Stok (Id LONG, Birim TEXT(200), Depo SHORT, Tarih DATETIME, "
                            u"Alacak CURRENCY, Oran DOUBLE)")
                    .isOk());
    if (indexed) {
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixDepo ON Stok (Depo DESC, Birim)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixTarih ON Stok (Tarih)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixAlacak ON Stok (Alacak)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixOran ON Stok (Oran)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    }
    for (int i = 1; i <= 600; ++i) {
        std::u16string depo = i % 11 == 0 ? u"Null" : fromUtf8(std::to_string(i % 5 - 1));
        std::u16string sql = u"INSERT INTO Stok (Id, Birim, Depo, Tarih, Alacak, Oran) VALUES (" +
                             fromUtf8(std::to_string(i)) + u", '" + kUnits[i % std::size(kUnits)] + u"', " + depo +
                             u", #12/" + fromUtf8(std::to_string(i % 4 + 1)) + u"/2010#, " +
                             fromUtf8(std::to_string(i % 7)) + u".5, " + (i % 2 ? u"0" : u"-0") + u")";
        ASSERT_TRUE(ddl.execute(sql).isOk());
    }
    // Grow some rows so that they move, and delete others.
    auto table = (*db)->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    auto change = (*db)->changeTable(**table);
    ASSERT_TRUE(change.isOk());
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    for (size_t i = 0; i < rows->size(); i += 13) {
        auto v = change->writer->readRow((*rows)[i]);
        ASSERT_TRUE(v.isOk());
        (*v)[1] = Variant::text(std::u16string(150, u'b'));
        ASSERT_TRUE(change->writer->updateRow((*rows)[i], *v).isOk());
    }
    for (size_t i = 5; i < rows->size(); i += 17) ASSERT_TRUE(change->writer->deleteRow((*rows)[i]).isOk());
}

std::vector<int32_t> selectIds(const std::string& path, const std::u16string& source)
{
    DataControl data;
    data.SetDatabaseName(fromUtf8(path));
    data.SetRecordSource(source);
    Status s = data.Refresh();
    EXPECT_TRUE(s.isOk()) << s.toString();
    std::vector<int32_t> ids;
    if (!s.isOk()) return ids;
    RecordSet& rs = *data.Recordset();
    while (!rs.Eof().value()) {
        ids.push_back(rs.Fields(u"Id").value()->Value()->asLong());
        if (!rs.MoveNext().isOk()) break;
    }
    return ids;
}

TEST(IndexSeek, SelectsWhatTheScanSelects)
{
    test::TempDir dir;
    const std::string plain = dir.file("plain.mdb").string(), indexed = dir.file("indexed.mdb").string();
    build(plain, false);
    build(indexed, true);
    const char16_t* sources[] = {
        u"Select * From Stok where Depo=2",
        u"Select * From Stok where Depo = 3 and Birim='adet'",
        u"Select * From Stok where (Depo=-1) and Id > 300",
        u"Select * From Stok where Depo=2.5",
        u"Select * From Stok where Depo=Null",
        u"Select * From Stok where Depo=7",
        u"Select * From Stok where Tarih=#12/3/2010#",
        u"Select * From Stok where Alacak=3.5 Order By Id DESC",
        u"Select * From Stok where Oran=0",
        u"Select * From Stok where Depo=1 or Id=4",
    };
    for (const char16_t* source : sources) {
        std::vector<int32_t> expected = selectIds(plain, source);
        EXPECT_EQ(selectIds(indexed, source), expected) << toUtf8(source);
    }
    EXPECT_FALSE(selectIds(plain, u"Select * From Stok where Depo=2").empty());
}

// A text is sought by the beginning its keys share in every case; the
// records found are those the condition selects, under the General and
// the Turkish orders, whatever the case or the accents of what is sought.
TEST(IndexSeek, TextSelectsWhatTheScanSelectsInEveryCase)
{
    for (uint16_t lcid : {uint16_t(0x0409), uint16_t(0x041F)}) {
        SCOPED_TRACE(lcid);
        test::TempDir dir;
        const std::string plain = dir.file("plain.mdb").string(), indexed = dir.file("indexed.mdb").string();
        build(plain, false, lcid);
        build(indexed, true, lcid);
        size_t found = 0;
        for (const char16_t* unit : kUnits) {
            for (const std::u16string& sought : {std::u16string(unit), toUpper(unit), toLower(unit)}) {
                const std::u16string source = u"Select * From Stok where Birim='" + sought + u"'";
                std::vector<int32_t> expected = selectIds(plain, source);
                EXPECT_EQ(selectIds(indexed, source), expected) << toUtf8(source);
                found += expected.size();
            }
        }
        for (const char16_t* source : {u"Select * From Stok where Birim='Adet' and Id > 300",
                                       u"Select * From Stok where Birim='x'", u"Select * From Stok where Birim='Ade'",
                                       u"Select * From Stok where Birim='Adet' Order By Id DESC"})
            EXPECT_EQ(selectIds(indexed, source), selectIds(plain, source)) << toUtf8(source);
        EXPECT_GT(found, 600u);
    }
}

TEST(IndexSeek, OnlyExactKeysAreSought)
{
    test::TempDir dir;
    const std::string indexed = dir.file("indexed.mdb").string();
    build(indexed, true);
    auto db = jet::Database::open(indexed, jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto table = (*db)->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    const jet::TableDef& def = (*table)->def();
    auto seek = [&](const char16_t* column, Variant v) {
        auto r = jet::seekEqualRows(**table, def.findColumn(column), v);
        EXPECT_TRUE(r.isOk());
        return r.isOk() && r->has_value();
    };
    EXPECT_TRUE(seek(u"Depo", Variant::integer(2)));
    EXPECT_TRUE(seek(u"Alacak", Variant::currency(Currency{35000})));
    EXPECT_FALSE(seek(u"Oran", Variant::doubleValue(0)));   // -0 is keyed apart
    EXPECT_TRUE(seek(u"Birim", Variant::text(u"adet")));
    EXPECT_TRUE(seek(u"Birim", Variant::text(u"Koli")));
    EXPECT_FALSE(seek(u"Birim", Variant::text(std::u16string(20, u's'))));  // s and the long s, 2^20 ways
    EXPECT_FALSE(seek(u"Id", Variant::longValue(3)));      // no index starts with it
    EXPECT_FALSE(seek(u"Depo", Variant()));
}

TEST(IndexSeek, TextPrefixesAreTheKeysPrimaryBytes)
{
    using jet::TextCollation;
    using Prefixes = std::vector<std::vector<uint8_t>>;
    auto prefixes = [](std::u16string_view text, TextCollation c) { return jet::textSeekPrefixes(text, c); };
    EXPECT_EQ(prefixes(u"a", TextCollation::GeneralLegacy), (Prefixes{{0x7F, 0x4A, 0x01}}));
    EXPECT_EQ(prefixes(u"A", TextCollation::GeneralLegacy), prefixes(u"a", TextCollation::GeneralLegacy));
    EXPECT_EQ(prefixes(u"ädet  ", TextCollation::GeneralLegacy), prefixes(u"adet", TextCollation::GeneralLegacy));
    EXPECT_EQ(prefixes(u"", TextCollation::Turkish), (Prefixes{{0x7F, 0x01}}));
    // The long s is an s to a condition, but keyed apart under General:
    // a text with an s is sought both ways.
    auto s = prefixes(u"as", TextCollation::GeneralLegacy);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->size(), 2u);
    auto four = prefixes(std::u16string(4, u's'), TextCollation::GeneralLegacy);
    ASSERT_TRUE(four);
    EXPECT_EQ(four->size(), jet::kMaxTextSeeks);
    EXPECT_EQ(prefixes(std::u16string(5, u's'), TextCollation::GeneralLegacy), std::nullopt);
    // Under Turkish, I is the capital of ı, and of i to a condition: both
    // spellings are sought.
    auto kilic = prefixes(u"kILIÇ", TextCollation::Turkish);
    ASSERT_TRUE(kilic);
    EXPECT_EQ(kilic->size(), 4u);
    EXPECT_EQ(prefixes(u"ölçü", TextCollation::General97), std::nullopt);
    // Turkish letters whose keys were never seen in a file Access made.
    EXPECT_EQ(prefixes(u"Dağ", TextCollation::Turkish), std::nullopt);
    EXPECT_EQ(prefixes(u"İzmir", TextCollation::Turkish), std::nullopt);
    EXPECT_TRUE(prefixes(u"İzmir", TextCollation::GeneralLegacy));
}

}  // namespace
}  // namespace varnika

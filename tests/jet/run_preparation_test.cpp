// Nothing a run can foresee stops it after its first record: a file that may
// not be written, a file that would pass its largest size, an index that does
// not hold the keys of its rows. Each refuses the run at its first record,
// and the file keeps every byte. Also: a file cut short is a damaged file
// when a table is opened, never a smaller table; and the statistics Jet keeps
// per index (distinct keys added) follow the changes.

#include "db/data_control.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/table.h"
#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/text.h"
#include "support/ddl_test_support.h"

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

namespace varnika::jet {
namespace {

using ddltest::fileBytes;

// A Stok table of 200 records with an index on Birim and one on Depo.
void fillStok(ddltest::NewDb& t)
{
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(200), Depo LONG)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixDepo ON Stok (Depo)").isOk());
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Stok (Birim, Depo) VALUES ('" + std::string(i % 2 ? "Adet" : "Kutu") + "', " +
                          std::to_string(i % 9) + ")")
                        .isOk());
}

// Sets every selected record's Birim to `value` as the find and replace
// does, through the data control; the status of the first refusal.
Status replaceAll(const std::filesystem::path& file, const std::u16string& value,
                  const std::function<void(Database&)>& beforeRun = {})
{
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"Select * From Stok where Birim='Adet'");
    VK_RETURN_IF_ERROR(data.Refresh());
    auto* rs = static_cast<TableRecordSet*>(data.Recordset());
    if (beforeRun) beforeRun(rs->database());
    while (!rs->Eof().value()) {
        VK_RETURN_IF_ERROR(rs->Edit());
        VK_ASSIGN_OR_RETURN(Field * f, rs->Fields(u"Birim"));
        VK_RETURN_IF_ERROR(f->SetValue(Variant::text(value)));
        VK_RETURN_IF_ERROR(rs->Update());
        VK_RETURN_IF_ERROR(rs->MoveNext());
    }
    return rs->Close();
}

TEST(RunPreparation, AReadOnlyFileIsRefusedBeforeAnythingIsWrittenWhoeverRunsIt)
{
    ddltest::NewDb t;
    fillStok(t);
    t.db.reset();
    t.executor.reset();
    ::chmod(t.path.c_str(), 0444);
    const auto before = fileBytes(t.path);
    Status s = replaceAll(t.path, u"Koli");
    EXPECT_EQ(s.code(), ErrorCode::ReadOnly) << s.toString();
    EXPECT_NE(s.message().find("read-only"), std::string::npos) << s.message();
    EXPECT_EQ(fileBytes(t.path), before);
}

TEST(RunPreparation, ARunThatWouldPassTheFilesLargestSizeIsRefusedAtItsFirstRecord)
{
    ddltest::NewDb t;
    fillStok(t);
    t.db.reset();
    t.executor.reset();
    const auto before = fileBytes(t.path);
    // 100 records that each grow by ~400 bytes need about ten more pages.
    Status s = replaceAll(t.path, std::u16string(199, u'Y'), [](Database& db) { db.pager().setMaxPages(db.pager().pageCount() + 5); });
    EXPECT_EQ(s.code(), ErrorCode::Full) << s.toString();
    EXPECT_NE(s.message().find("nothing was changed"), std::string::npos) << s.message();
    EXPECT_EQ(fileBytes(t.path), before);
    // With room enough the same run goes through.
    EXPECT_TRUE(replaceAll(t.path, std::u16string(199, u'Y'), [](Database& db) { db.pager().setMaxPages(db.pager().pageCount() + 50); }).isOk());
}

// Writes the Birim index of `t`'s Stok table again from the entries its
// records make, changed by `damage` first.
void rewriteBirimIndex(ddltest::NewDb& t, const std::function<void(std::vector<IndexKeyEntry>&)>& damage)
{
    auto table = t.db->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    const TableDef& def = (**table).def();
    const RealIndexDef* birim = nullptr;
    for (const RealIndexDef& ix : def.realIndexes())
        if (ix.columns.size() == 1 && def.findColumnByNumber(ix.columns[0].columnNumber) == def.findColumn(u"Birim")) birim = &ix;
    ASSERT_NE(birim, nullptr);
    std::vector<IndexKeyEntry> entries;
    auto scanner = (**table).scan();
    ASSERT_TRUE(scanner.isOk());
    while (*scanner->next()) {
        auto e = indexEntryFor(def, *birim, *scanner->values(), t.db->header().sortLcid, t.db->header().sortVersion);
        (*e)->row = scanner->pointer();
        entries.push_back(**e);
    }
    damage(entries);
    PageAllocator allocator(t.db->pager());
    ASSERT_TRUE(rebuildIndex(allocator, def.firstPage(), *birim, entries).isOk());
    ASSERT_TRUE(t.db->pager().commit().isOk());
}

TEST(RunPreparation, AnIndexMissingAnEntryRefusesTheRunNamingTheTableAndTheRepair)
{
    ddltest::NewDb t;
    fillStok(t);
    // The Birim index loses the entry of one record it does not select.
    rewriteBirimIndex(t, [](std::vector<IndexKeyEntry>& entries) { entries.erase(entries.begin() + 10); });
    ASSERT_FALSE(HasFatalFailure());
    t.db.reset();
    t.executor.reset();
    const auto before = fileBytes(t.path);
    Status s = replaceAll(t.path, u"Koli");
    EXPECT_EQ(s.code(), ErrorCode::Corruption) << s.toString();
    EXPECT_NE(s.message().find("\"Stok\""), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("Compact and Repair"), std::string::npos) << s.message();
    EXPECT_EQ(fileBytes(t.path), before);

    // A damaged table is refused whole: a run that touches only the sound
    // index is refused too.
    DataControl data;
    data.SetDatabaseName(fromUtf8(t.path.string()));
    data.SetRecordSource(u"Stok");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet& rs = *data.Recordset();
    ASSERT_TRUE(rs.Edit().isOk());
    ASSERT_TRUE(rs.Fields(u"Depo").value()->SetValue(Variant::longValue(77)).isOk());
    EXPECT_EQ(rs.Update().code(), ErrorCode::Corruption);
    (void)rs.Close();
    EXPECT_EQ(fileBytes(t.path), before);
}

// The check before a run remembers the key of each stored text of an
// indexed column; a Null and an empty text are stored alike but for the
// null mask, and keep keys of their own. Texts of 200 characters make
// keys longer than most.
TEST(RunPreparation, NullEmptyAndLongTextsOfAnIndexedColumnPassTheCheck)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(200), Depo LONG)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    for (int i = 0; i < 60; ++i) {
        const std::string birim = i % 3 == 0 ? "NULL" : i % 3 == 1 ? "''" : "'Adet'";
        ASSERT_TRUE(t.run("INSERT INTO Stok (Birim, Depo) VALUES (" + birim + ", " + std::to_string(i) + ")").isOk());
    }
    for (char c : std::string("xyz"))
        ASSERT_TRUE(t.run("INSERT INTO Stok (Birim, Depo) VALUES ('" + std::string(200, c) + "', 0)").isOk());
    t.db.reset();
    t.executor.reset();
    Status s = replaceAll(t.path, u"Koli");
    ASSERT_TRUE(s.isOk()) << s.toString();

    DataControl data;
    data.SetDatabaseName(fromUtf8(t.path.string()));
    data.SetRecordSource(u"Stok");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet& rs = *data.Recordset();
    int nulls = 0, empty = 0, koli = 0, longTexts = 0;
    while (!rs.Eof().value()) {
        const Variant v = rs.Fields(u"Birim").value()->Value().value();
        nulls += v.isNull();
        empty += v == Variant::text(u"");
        koli += v == Variant::text(u"Koli");
        longTexts += v.type() == VariantType::Text && v.asText().size() == 200;
        ASSERT_TRUE(rs.MoveNext().isOk());
    }
    EXPECT_EQ(nulls, 20);
    EXPECT_EQ(empty, 20);
    EXPECT_EQ(koli, 20);
    EXPECT_EQ(longTexts, 3);
}

// The Birim index holds every key as often as its records make it, but two
// records of different units have each other's entries: the run is refused
// all the same, and the file keeps every byte.
TEST(RunPreparation, AnIndexPairingKeysWithTheWrongRecordsRefusesTheRun)
{
    ddltest::NewDb t;
    fillStok(t);
    // Records 120 and 121: one Kutu, one Adet.
    rewriteBirimIndex(t, [](std::vector<IndexKeyEntry>& entries) {
        ASSERT_NE(entries[120].key, entries[121].key);
        std::swap(entries[120].row, entries[121].row);
    });
    ASSERT_FALSE(HasFatalFailure());
    t.db.reset();
    t.executor.reset();
    const auto before = fileBytes(t.path);
    Status s = replaceAll(t.path, u"Koli");
    EXPECT_FALSE(s.isOk());
    EXPECT_NE(s.message().find("\"Stok\""), std::string::npos) << s.message();
    EXPECT_EQ(fileBytes(t.path), before);
}

// Changes the stored bytes of the first Stok record `pick` takes (`damage`
// gets the row's first byte on a copy of its page) and commits the page.
void damageRecord(ddltest::NewDb& t, const std::function<bool(const TableDef&, const std::vector<Variant>&)>& pick,
                  const std::function<void(const TableDef&, const RowLayout&, uint8_t*)>& damage)
{
    auto table = t.db->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    const TableDef& def = (**table).def();
    auto scanner = (**table).scan();
    ASSERT_TRUE(scanner.isOk());
    std::optional<RowPointer> victim;
    while (!victim && *scanner->next())
        if (pick(def, *scanner->values())) victim = scanner->pointer();
    ASSERT_TRUE(victim);
    auto row = readRowAt(t.db->pager(), *victim);
    ASSERT_TRUE(row.isOk());
    auto layout = parseRowLayout(def, row->bytes());
    ASSERT_TRUE(layout.isOk());
    ASSERT_EQ(layout->varCount, 1);
    PageBuffer page = *row->page;
    damage(def, *layout, page.data() + row->slot.offset);
    ASSERT_TRUE(t.db->pager().write(victim->page, page).isOk());
    ASSERT_TRUE(t.db->pager().commit().isOk());
}

// A record the run does not select, whose unit cannot be read (its text
// ends before it starts): the unit's index is only counted by a run on the
// Depo field, but the record is read all the same, and the run is refused.
TEST(RunPreparation, ARecordThatCannotBeReadRefusesARunThatDoesNotSelectIt)
{
    ddltest::NewDb t;
    fillStok(t);
    damageRecord(
        t, [](const TableDef& def, const std::vector<Variant>& v) { return v[size_t(def.findColumn(u"Depo"))].asLong() == 4; },
        [](const TableDef&, const RowLayout& layout, uint8_t* row) {
            // The end of the variable data, one byte before Birim starts.
            putU16(row, layout.varTableStart, uint16_t(layout.varOffsets[0] - 1));
        });
    ASSERT_FALSE(HasFatalFailure());
    t.db.reset();
    t.executor.reset();
    const auto before = fileBytes(t.path);

    DataControl data;
    data.SetDatabaseName(fromUtf8(t.path.string()));
    data.SetRecordSource(u"Select * From Stok where Depo=3");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet& rs = *data.Recordset();
    ASSERT_FALSE(rs.Eof().value());
    ASSERT_TRUE(rs.Edit().isOk());
    ASSERT_TRUE(rs.Fields(u"Depo").value()->SetValue(Variant::longValue(30)).isOk());
    Status s = rs.Update();
    EXPECT_EQ(s.code(), ErrorCode::Corruption) << s.toString();
    EXPECT_NE(s.message().find("cannot be read"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("Compact and Repair"), std::string::npos) << s.message();
    (void)rs.Close();
    EXPECT_EQ(fileBytes(t.path), before);
}

// A record the run does not select, whose variable data starts inside its
// fixed area, over half of Id: a run on Birim reads neither Id nor Depo, and
// is refused all the same.
TEST(RunPreparation, ARecordWhoseFixedFieldsOverlapItsTextRefusesTheRun)
{
    ddltest::NewDb t;
    fillStok(t);
    damageRecord(
        t, [](const TableDef& def, const std::vector<Variant>& v) { return v[size_t(def.findColumn(u"Birim"))].asText() == u"Kutu"; },
        [](const TableDef& def, const RowLayout& layout, uint8_t* row) {
            // Birim's offset, the first after the count, going backwards.
            putU16(row, layout.maskOffset - 4, uint16_t(def.format().row.fixedArea + 2));
        });
    ASSERT_FALSE(HasFatalFailure());
    t.db.reset();
    t.executor.reset();
    const auto before = fileBytes(t.path);
    Status s = replaceAll(t.path, u"Koli");
    EXPECT_EQ(s.code(), ErrorCode::Corruption) << s.toString();
    EXPECT_NE(s.message().find("cannot be read"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("fixed area"), std::string::npos) << s.message();
    EXPECT_EQ(fileBytes(t.path), before);
}

TEST(DamagedFiles, AFileCutShortIsDamagedWhenATableOpensNeverASmallerTable)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    size_t refused = 0, whole = 0;
    for (const char* name : {"jet4/compIndexTestV2000.mdb", "jet4/indexTestV2003.mdb", "jet4/overflowTestV2003.mdb",
                             "jet4/delTestV2000.mdb", "jet4/test2V2000.mdb", "turkish/customer-register.mdb"}) {
        const auto bytes = fileBytes(dir / name);
        const size_t pages = bytes.size() / kPageSize;
        std::map<std::u16string, size_t> fullCounts;
        {
            auto db = Database::open((dir / name).string(), OpenMode::ReadOnly);
            ASSERT_TRUE(db.isOk());
            for (const CatalogEntry& e : (*db)->catalog().tables()) fullCounts[e.name] = (*(*db)->table(e.name))->rowPointers()->size();
        }
        for (size_t cut : {pages / 4, pages / 2, pages * 3 / 4, pages - 1}) {
            const auto file = tmp.file("cut.mdb");
            {
                std::ofstream out(file, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut * kPageSize));
            }
            auto db = Database::open(file.string(), OpenMode::ReadOnly);
            if (!db.isOk()) {
                ++refused;
                continue;
            }
            for (const auto& [table, count] : fullCounts) {
                SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(cut) + " pages, table " + toUtf8(table));
                auto t = (*db)->table(table);
                Result<std::vector<RowPointer>> rows = t.isOk() ? (*t)->rowPointers() : Result<std::vector<RowPointer>>(t.status());
                if (!rows.isOk()) {
                    EXPECT_EQ(rows.status().code(), ErrorCode::Corruption) << rows.status().toString();
                    ++refused;
                    continue;
                }
                EXPECT_EQ(rows->size(), count);
                ++whole;
            }
        }
    }
    EXPECT_GT(refused, 10u);
    EXPECT_GT(whole, 3u);
}

TEST(IndexStatistics, TheUniqueEntryCountFollowsTheKeysAdded)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE T (Id LONG, Ad TEXT(20))").isOk());
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(t.run("INSERT INTO T (Id, Ad) VALUES (" + std::to_string(i) + ", 'ad " + std::to_string(i % 7) + "')").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixAd ON T (Ad)").isOk());
    auto count = [&] {
        auto table = t.db->table(u"T");
        EXPECT_TRUE((*table)->reload().isOk());
        return (*table)->def().realIndexes().back().uniqueEntryCount;
    };
    EXPECT_EQ(count(), 7u);  // the distinct keys of the rows at creation
    ASSERT_TRUE(t.run("INSERT INTO T (Id, Ad) VALUES (100, 'ad 3')").isOk());
    EXPECT_EQ(count(), 7u);
    ASSERT_TRUE(t.run("INSERT INTO T (Id, Ad) VALUES (101, 'yeni')").isOk());
    EXPECT_EQ(count(), 8u);
    // Removing keys does not lower it, as in Access's files.
    {
        auto rs = TableRecordSet::openTable(t.db, u"T");
        ASSERT_TRUE(rs.isOk());
        ASSERT_TRUE((*rs)->MoveLast().isOk());
        ASSERT_TRUE((*rs)->Delete().isOk());
        ASSERT_TRUE((*rs)->Close().isOk());
    }
    EXPECT_EQ(count(), 8u);
}

}  // namespace
}  // namespace varnika::jet

// Access 97 (Jet 3) databases through the engine's interface: every fixture
// opens, reads and checks sound; records change through record sets and
// statements and the check (and mdbtools) find the file as expected; text a
// code page cannot hold and keys a sort order cannot make are refused before
// anything is written; a new Access 97 file has Access 97's system tables.

#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/table/long_value.h"
#include "db/jet/table/table_writer.h"
#include "support/ddl_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace varnika::jet {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> access97Files(const fs::path& dir)
{
    std::vector<fs::path> files = test::mdbFilesIn(dir / "jet3");
    for (const auto& f : test::mdbFilesIn(dir / "jet3-turkish")) files.push_back(f);
    return files;
}

void expectSound(Database& db, const std::string& what)
{
    auto report = checkDatabase(db);
    ASSERT_TRUE(report.isOk()) << what << ": " << report.status().toString();
    for (const std::string& p : report->problems) ADD_FAILURE() << what << ": " << p;
}

TEST(Access97Database, EveryFixtureOpensReadsAndIsSound)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t rows = 0;
    for (const fs::path& file : access97Files(dir)) {
        auto db = Database::open(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk()) << file.filename() << ": " << db.status().toString();
        EXPECT_EQ((*db)->header().version, JetVersion::Jet3);
        EXPECT_FALSE((*db)->catalog().tables().empty());
        for (const CatalogEntry& e : (*db)->catalog().tables()) {
            auto table = (*db)->table(e.name);
            ASSERT_TRUE(table.isOk()) << file.filename() << " " << toUtf8(e.name) << ": " << table.status().toString();
            auto scanner = (*table)->scan();
            ASSERT_TRUE(scanner.isOk());
            for (;;) {
                auto more = scanner->next();
                ASSERT_TRUE(more.isOk()) << more.status().toString();
                if (!*more) break;
                auto values = scanner->values();
                ASSERT_TRUE(values.isOk()) << file.filename() << " " << toUtf8(e.name) << ": " << values.status().toString();
                ++rows;
            }
        }
        expectSound(**db, file.filename().string());
    }
    EXPECT_GT(rows, 1800u);
}

TEST(Access97Database, TheTurkishFileReadsItsLettersThroughCodePage1254)
{
    VK_REQUIRE_FIXTURES(dir);
    auto db = Database::open((dir / "jet3-turkish" / "turkish-codepage.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    EXPECT_EQ((*db)->pager().format().codePage, 1254);
    auto table = (*db)->table(u"Kisi");
    ASSERT_TRUE(table.isOk());
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    auto first = (*table)->readRow(rows->front());
    ASSERT_TRUE(first.isOk());
    const TableDef& def = (*table)->def();
    EXPECT_EQ((*first)[size_t(def.findColumn(u"AD"))], Variant::text(u"AZM\u0130"));
    EXPECT_EQ((*first)[size_t(def.findColumn(u"SOYAD"))], Variant::text(u"\u015eAH\u0130N"));
}

// Field values of a table's records, through a data control (the window's
// way in), in scan order.
std::vector<std::vector<Variant>> recordsOf(const fs::path& file, const std::u16string& source)
{
    std::vector<std::vector<Variant>> out;
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(source);
    Status s = data.Refresh();
    EXPECT_TRUE(s.isOk()) << s.toString();
    if (!s.isOk()) return out;
    RecordSet& rs = *data.Recordset();
    while (!rs.Eof().value()) {
        std::vector<Variant> row;
        for (int i = 0; i < rs.fieldCount(); ++i) row.push_back(*rs.Fields(i).value()->Value());
        out.push_back(row);
        if (!rs.MoveNext().isOk()) break;
    }
    EXPECT_TRUE(rs.Close().isOk());
    return out;
}

TEST(Access97Database, RecordSetsChangeIndexedTextAndDeleteRecords)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    const fs::path file = test::copyWritable(dir / "jet3" / "testV1997.mdb", tmp.file("t.mdb"));
    {
        DataControl data;
        data.SetDatabaseName(fromUtf8(file.string()));
        data.SetRecordSource(u"Table1");
        ASSERT_TRUE(data.Refresh().isOk());
        RecordSet& rs = *data.Recordset();
        // B is indexed (General, Access 97); A is the primary key.
        ASSERT_TRUE(rs.Edit().isOk());
        ASSERT_TRUE(rs.Fields(u"B").value()->SetValue(Variant::text(u"Stra\u00dfe M\u00fcller \u00e9t\u00e9 \u20ac")).isOk());
        ASSERT_TRUE(rs.Update().isOk());
        ASSERT_TRUE(rs.MoveNext().isOk());
        ASSERT_TRUE(rs.Edit().isOk());
        ASSERT_TRUE(rs.Fields(u"A").value()->SetValue(Variant::text(std::u16string(50, u'z'))).isOk());
        ASSERT_TRUE(rs.Fields(u"E").value()->SetValue(Variant::longValue(-7)).isOk());
        ASSERT_TRUE(rs.Update().isOk());
        EXPECT_TRUE(rs.Close().isOk());
    }
    auto records = recordsOf(file, u"Table1");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][1], Variant::text(u"Stra\u00dfe M\u00fcller \u00e9t\u00e9 \u20ac"));
    EXPECT_EQ(records[1][0], Variant::text(std::u16string(50, u'z')));
    {
        auto db = Database::open(file.string(), OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk());
        expectSound(**db, "after the updates");
    }
    if (ddltest::haveMdbTools()) {
        auto rows = ddltest::mdbExport(file, "Table1");
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[1][1], "Stra\u00dfe M\u00fcller \u00e9t\u00e9 \u20ac");
        EXPECT_EQ(rows[2][4], "-7");
    }

    // Deleting every record empties the indexes.
    {
        DataControl data;
        data.SetDatabaseName(fromUtf8(file.string()));
        data.SetRecordSource(u"Table1");
        ASSERT_TRUE(data.Refresh().isOk());
        RecordSet& rs = *data.Recordset();
        while (!rs.Eof().value()) {
            ASSERT_TRUE(rs.Delete().isOk());
            ASSERT_TRUE(rs.MoveNext().isOk());
        }
        EXPECT_TRUE(rs.Close().isOk());
    }
    {
        auto db = Database::open(file.string(), OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk());
        expectSound(**db, "after the deletes");
    }
    EXPECT_TRUE(recordsOf(file, u"Table1").empty());
}

std::vector<uint8_t> bytesOf(const fs::path& file) { return ddltest::fileBytes(file); }

TEST(Access97Database, TextTheCodePageCannotHoldIsRefusedBeforeAnythingIsWritten)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    const fs::path file = test::copyWritable(dir / "jet3" / "testV1997.mdb", tmp.file("t.mdb"));
    const std::vector<uint8_t> before = bytesOf(file);
    {
        DataControl data;
        data.SetDatabaseName(fromUtf8(file.string()));
        data.SetRecordSource(u"Table1");
        ASSERT_TRUE(data.Refresh().isOk());
        RecordSet& rs = *data.Recordset();
        ASSERT_TRUE(rs.Edit().isOk());
        Status s = rs.Fields(u"B").value()->SetValue(Variant::text(u"I\u015f\u0131k"));
        EXPECT_EQ(s.code(), ErrorCode::InvalidArgument);
        EXPECT_NE(s.message().find("code page 1252"), std::string::npos) << s.message();
        (void)rs.Close();
    }
    // Statements are refused the same way.
    auto db = Database::open(file.string(), OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk());
    DdlExecutor ddl(*db, RegionalSettings::unitedStates());
    EXPECT_EQ(ddl.execute(u"INSERT INTO Table1 (A, B) VALUES ('x', '\u011f')").code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(ddl.execute(u"CREATE TABLE \u015eube (X LONG)").code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(ddl.execute(u"ALTER TABLE Table1 ADD COLUMN \u0130l TEXT(5)").code(), ErrorCode::InvalidArgument);
    db->reset();
    EXPECT_EQ(bytesOf(file), before);
}

TEST(Access97Database, TheTurkishFileChangesItsTextAndRefusesKeysItsOrderCannotMake)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    const fs::path file = test::copyWritable(dir / "jet3-turkish" / "turkish-codepage.mdb", tmp.file("t.mdb"));
    {
        auto db = Database::open(file.string(), OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk());
        DdlExecutor ddl(*db, RegionalSettings::unitedStates());
        // No index covers AD: the text changes, in code page 1254.
        ASSERT_TRUE(ddl.execute(u"INSERT INTO Kisi (AD, SOYAD) VALUES ('\u0130SMA\u0130L', '\u00c7A\u011eLAR')").isOk());
        const std::vector<uint8_t> before = bytesOf(file);
        // An index over it would need keys of letters the order is not known for.
        Status refused = ddl.execute(u"CREATE INDEX AdIx ON Kisi (AD)");
        EXPECT_EQ(refused.code(), ErrorCode::NotSupported) << refused.toString();
        EXPECT_EQ(bytesOf(file), before);
        // A table whose name the catalog's order can key is made.
        ASSERT_TRUE(ddl.execute(u"CREATE TABLE Kisi2 (ID COUNTER PRIMARY KEY, AD TEXT(30))").isOk());
        ASSERT_TRUE(ddl.execute(u"INSERT INTO Kisi2 (AD) VALUES ('\u015eEH\u0130R')").isOk());
        // Letters the files show in the other case only: Y, G, H, L, V, J, N.
        ASSERT_TRUE(ddl.execute(u"CREATE TABLE Yeni (ID COUNTER PRIMARY KEY, AD TEXT(30))").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixAd ON Yeni (AD)").isOk());
        for (const char16_t* ad : {u"Gider", u"HAVLU", u"gider", u"Jant", u"\u0131s\u0131"})
            ASSERT_TRUE(ddl.execute(u"INSERT INTO Yeni (AD) VALUES ('" + std::u16string(ad) + u"')").isOk()) << toUtf8(ad);
        expectSound(**db, "the Turkish file");
    }
    auto records = recordsOf(file, u"Kisi");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3][1], Variant::text(u"\u0130SMA\u0130L"));
    EXPECT_EQ(recordsOf(file, u"Kisi2").at(0)[1], Variant::text(u"\u015eEH\u0130R"));
    EXPECT_EQ(recordsOf(file, u"Yeni").size(), 5u);
    if (ddltest::haveMdbTools()) {
        auto rows = ddltest::mdbExport(file, "Kisi");
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows[4][2], "\u00c7A\u011eLAR");
    }
}

TEST(Access97Database, AnIndexUnderTheTurkishOrderRefusesARunBeforeItsFirstRecord)
{
    ddltest::NewDb t(0x041F, JetVersion::Jet3);
    ASSERT_TRUE(t.run("CREATE TABLE Kisi (ID COUNTER PRIMARY KEY, AD TEXT(30))").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX AdIx ON Kisi (AD)").isOk());
    for (const char* name : {"Kisi", "Pete", "Umut"}) ASSERT_TRUE(t.run(std::string("INSERT INTO Kisi (AD) VALUES ('") + name + "')").isOk());
    // A key with a letter the order is not known for: the record is refused.
    Status s = t.run("INSERT INTO Kisi (AD) VALUES ('\xc5\x9e\x65ker')");
    EXPECT_EQ(s.code(), ErrorCode::NotSupported) << s.toString();
    t.db.reset();
    t.executor.reset();
    const std::vector<uint8_t> before = bytesOf(t.path);
    DataControl data;
    data.SetDatabaseName(fromUtf8(t.path.string()));
    data.SetRecordSource(u"Kisi");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet& rs = *data.Recordset();
    ASSERT_TRUE(rs.Edit().isOk());
    ASSERT_TRUE(rs.Fields(u"AD").value()->SetValue(Variant::text(u"\u015eeker")).isOk());
    EXPECT_EQ(rs.Update().code(), ErrorCode::NotSupported);
    (void)rs.Close();
    EXPECT_EQ(bytesOf(t.path), before);
    EXPECT_EQ(recordsOf(t.path, u"Kisi").size(), 3u);
}

TEST(Access97Database, LongValuesAtTheLimitsOf2KBPages)
{
    ddltest::NewDb t(0x0409, JetVersion::Jet3);
    ASSERT_TRUE(t.run("CREATE TABLE Notlar (ID COUNTER PRIMARY KEY, Metin MEMO, Resim OLEOBJECT)").isOk());
    const std::vector<size_t> sizes = {0, 64, 65, 2000, 2032, 2033, 4060, 4061, 20000};
    auto table = t.db->table(u"Notlar");
    ASSERT_TRUE(table.isOk());
    auto change = t.db->changeTable(**table);
    ASSERT_TRUE(change.isOk());
    std::vector<std::u16string> texts;
    for (size_t n : sizes) {
        std::u16string text(n, u'\u00e9');
        for (size_t i = 0; i < n; i += 97) text[i] = char16_t(u'a' + i % 26);
        texts.push_back(text);
        std::vector<Variant> values(3);
        values[1] = Variant::text(text);
        values[2] = Variant::binary(std::vector<uint8_t>(n, uint8_t(n)));
        ASSERT_TRUE(change->writer->insertRow(values).isOk()) << n;
    }
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    ASSERT_EQ(rows->size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto values = (*table)->readRow((*rows)[i]);
        ASSERT_TRUE(values.isOk()) << sizes[i] << ": " << values.status().toString();
        EXPECT_EQ((*values)[1], Variant::text(texts[i])) << sizes[i];
        EXPECT_EQ((*values)[2], Variant::binary(std::vector<uint8_t>(sizes[i], uint8_t(sizes[i])))) << sizes[i];
        // One row up to 2032 bytes, a chain beyond.
        auto raw = (*table)->rowBytes((*rows)[i]);
        ASSERT_TRUE(raw.isOk());
        auto layout = parseRowLayout((*table)->def(), raw->bytes());
        ASSERT_TRUE(layout.isOk());
        auto field = fieldBytes((*table)->def(), *layout, raw->bytes(), (*table)->def().findColumn(u"Metin"));
        ASSERT_TRUE(field.isOk() && field->present);
        auto header = LongValueHeader::parse(field->bytes);
        ASSERT_TRUE(header.isOk());
        if (sizes[i] > 64 && sizes[i] <= 2032) {
            EXPECT_EQ(header->kind, longvalue::kKindSingleRow) << sizes[i];
        }
        if (sizes[i] > 2032) {
            EXPECT_EQ(header->kind, longvalue::kKindChain) << sizes[i];
        }
    }
    expectSound(*t.db, "the long values");
    if (ddltest::haveMdbTools()) {
        t.db.reset();
        t.executor.reset();
        auto exported = ddltest::mdbExport(t.path, "Notlar");
        ASSERT_EQ(exported.size(), sizes.size() + 1);
        for (size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(exported[i + 1][1], toUtf8(texts[i])) << sizes[i];
    }
}

// Twelve Memo fields and a primary key: 27 usage-map rows of 133 bytes made
// at once, more than one 2 KB page holds (Access-made tables such as
// MSP_PROJECTS have as many).
TEST(Access97Database, ATableWithMoreMapRowsThanAPageHolds)
{
    ddltest::NewDb t(0x0409, JetVersion::Jet3);
    std::string create = "CREATE TABLE Proje (ID COUNTER PRIMARY KEY, Ad TEXT(50)";
    for (int i = 0; i < 12; ++i) create += ", Not" + std::to_string(i) + " MEMO";
    ASSERT_TRUE(t.run(create + ")").isOk());
    ASSERT_TRUE(t.run("CREATE UNIQUE INDEX ixAd ON Proje (Ad)").isOk());
    for (int r = 0; r < 3; ++r) {
        std::string insert = "INSERT INTO Proje (Ad, Not0, Not11) VALUES ('p" + std::to_string(r) + "', '" +
                             std::string(size_t(r) * 1500, 'n') + "', 'son')";
        ASSERT_TRUE(t.run(insert).isOk()) << r;
    }
    ASSERT_TRUE(t.run("ALTER TABLE Proje ADD COLUMN Ek MEMO").isOk());
    auto table = t.db->table(u"Proje");
    ASSERT_TRUE(table.isOk());
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    ASSERT_EQ(rows->size(), 3u);
    auto last = (*table)->readRow(rows->back());
    ASSERT_TRUE(last.isOk());
    EXPECT_EQ((*last)[size_t((*table)->def().findColumn(u"Not0"))], Variant::text(std::u16string(3000, u'n')));
    expectSound(*t.db, "a table of many Memo fields");
}

// Opens, reads every value of every table and checks the file; the first
// failure, if any. A damaged file must fail cleanly, never crash.
Status openScanAndCheck(std::vector<uint8_t> bytes)
{
    VK_ASSIGN_OR_RETURN(auto db, Database::open(std::make_unique<MemoryPageFile>(std::move(bytes))));
    for (const CatalogEntry& e : db->catalog().tables()) {
        VK_ASSIGN_OR_RETURN(auto table, db->table(e.name));
        VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table->scan());
        while (true) {
            VK_ASSIGN_OR_RETURN(bool more, scanner.next());
            if (!more) break;
            VK_RETURN_IF_ERROR(scanner.values().status());
        }
    }
    VK_ASSIGN_OR_RETURN(CheckReport report, checkDatabase(*db));
    return report.problems.empty() ? Status::ok() : corruption(report.problems.front());
}

TEST(Access97Database, DamagedFilesFailCleanly)
{
    VK_REQUIRE_FIXTURES(dir);
    constexpr size_t kSmall = 2048;
#if defined(__SANITIZE_ADDRESS__)
    constexpr size_t kCatalogStep = 13, kRandomRounds = 40;  // the sanitized build is many times slower
#else
    constexpr size_t kCatalogStep = 3, kRandomRounds = 150;
#endif
    for (const char* name : {"test2V1997.mdb", "compIndexTestV1997.mdb"}) {
        const auto good = ddltest::fileBytes(dir / "jet3" / name);
        ASSERT_TRUE(openScanAndCheck(good).isOk()) << name;
        size_t refused = 0, attempts = 0;
        auto expectClean = [&](const std::vector<uint8_t>& bytes) {
            Status st = openScanAndCheck(bytes);
            ++attempts;
            if (!st.isOk()) {
                ++refused;
                EXPECT_FALSE(st.message().empty());
            }
        };
        const size_t pages = good.size() / kSmall;
        for (size_t p = 1; p < pages; ++p) {
            for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
                auto bytes = good;
                std::fill_n(bytes.begin() + long(p * kSmall), 24, fill);
                expectClean(bytes);
            }
        }
        // The catalog's definition, one byte in every few.
        for (size_t i = 0; i < kSmall; i += kCatalogStep) {
            auto bytes = good;
            bytes[2 * kSmall + i] ^= 0xFF;
            expectClean(bytes);
        }
        for (size_t cut = kSmall; cut < good.size(); cut += kSmall * 5) expectClean({good.begin(), good.begin() + long(cut)});
        std::mt19937 random(97);
        for (size_t round = 0; round < kRandomRounds; ++round) {
            auto bytes = good;
            for (int k = 0; k < 8; ++k) bytes[kSmall + random() % (bytes.size() - kSmall)] = uint8_t(random());
            expectClean(bytes);
        }
        EXPECT_GT(refused, 10u) << name << ": " << attempts << " damaged copies";
    }
}

TEST(Access97Database, ANewFileHasTheSystemTablesOfAnAccess97File)
{
    VK_REQUIRE_FIXTURES(dir);
    ddltest::NewDb ours(0x0409, JetVersion::Jet3);
    EXPECT_EQ(ours.db->pager().pageSize(), 2048u);
    expectSound(*ours.db, "a new Access 97 file");
    auto theirs = Database::open((dir / "jet3" / "delTestV1997.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(theirs.isOk());
    // The same columns (name, type, flags, length, text order and code
    // page) and the same indexes over them, table by table.
    for (uint32_t page : {2u, 3u, 4u, 5u}) {
        auto a = TableDef::read(ours.db->pager(), page);
        auto b = TableDef::read((*theirs)->pager(), page);
        ASSERT_TRUE(a.isOk() && b.isOk()) << page;
        ASSERT_EQ(a->columns().size(), b->columns().size()) << page;
        for (size_t i = 0; i < a->columns().size(); ++i) {
            const ColumnDef& x = a->columns()[size_t(a->columnsByNumber()[i])];
            const ColumnDef& y = b->columns()[size_t(b->columnsByNumber()[i])];
            EXPECT_EQ(x.name, y.name) << page;
            EXPECT_EQ(x.typeCode, y.typeCode) << toUtf8(x.name);
            EXPECT_EQ(x.flags, y.flags) << toUtf8(x.name);
            EXPECT_EQ(x.length, y.length) << toUtf8(x.name);
            EXPECT_EQ(x.codePage, y.codePage) << toUtf8(x.name);
            EXPECT_EQ(x.sortLcid(), y.sortLcid()) << toUtf8(x.name);
        }
        ASSERT_EQ(a->realIndexes().size(), b->realIndexes().size()) << page;
        for (size_t i = 0; i < a->realIndexes().size(); ++i) {
            EXPECT_EQ(a->realIndexes()[i].columns, b->realIndexes()[i].columns) << page;
            EXPECT_EQ(a->realIndexes()[i].flags, b->realIndexes()[i].flags) << page;
        }
    }
    auto ourHeader = ours.db->header(), theirHeader = (*theirs)->header();
    EXPECT_EQ(ourHeader.unmasked, theirHeader.unmasked);
}

}  // namespace
}  // namespace varnika::jet

#include "db/jet/database.h"

#include "db/connection.h"
#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database_creator.h"
#include "db/jet/file/bytes.h"
#include "db/jet/file/journal.h"
#include "db/jet/file/memory_file_system.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/index_maintainer.h"
#include "db/jet/table/table_row_format.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"
#include "support/ddl_test_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

namespace varnika::jet {
namespace {

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Result<std::shared_ptr<Database>> openBytes(std::vector<uint8_t> bytes)
{
    return Database::open(std::make_unique<MemoryPageFile>(std::move(bytes)));
}

// Opens and reads every value of every table; the first failure, if any.
Status openAndScan(std::vector<uint8_t> bytes, size_t* rowsRead = nullptr)
{
    VK_ASSIGN_OR_RETURN(auto db, openBytes(std::move(bytes)));
    for (const CatalogEntry& e : db->catalog().tables()) {
        VK_ASSIGN_OR_RETURN(auto table, db->table(e.name));
        VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table->scan());
        while (true) {
            VK_ASSIGN_OR_RETURN(bool more, scanner.next());
            if (!more) break;
            VK_ASSIGN_OR_RETURN(auto values, scanner.values());
            if (rowsRead) ++*rowsRead;
        }
    }
    return Status::ok();
}

// Unmasks the header region, lets `change` edit it (offsets relative to
// the region), and masks it again.
std::vector<uint8_t> withHeaderChange(std::vector<uint8_t> bytes, const std::function<void(uint8_t*)>& change,
                                      size_t maskedLength = header::kMaskedLengthJet4)
{
    std::span<uint8_t> region(bytes.data() + header::kMaskedRegion, maskedLength);
    applyHeaderMask(region);
    change(region.data());
    applyHeaderMask(region);
    return bytes;
}

TEST(DatabaseRefusals, HeadersThatAreNotJet4)
{
    VK_REQUIRE_FIXTURES(dir);
    const auto good = fileBytes(dir / "jet4" / "testV2000.mdb");
    // Access 97 headers mask 126 bytes and keep a 20-byte password without a date mask.
    const auto jet3 = fileBytes(dir / "jet3" / "testV1997.mdb");
    auto jet3Password = withHeaderChange(
        jet3, [](uint8_t* r) { r[header::kPassword - header::kMaskedRegion + 19] = 'p'; }, header::kMaskedLengthJet3);
    auto jet3Encrypted = withHeaderChange(
        jet3, [](uint8_t* r) { putU32(r, header::kEncodingKey - header::kMaskedRegion, 0x12345678); }, header::kMaskedLengthJet3);
    auto jet3CodePage = withHeaderChange(
        jet3, [](uint8_t* r) { putU16(r, header::kCodePage - header::kMaskedRegion, 932); }, header::kMaskedLengthJet3);
    auto jet3Truncated = jet3;
    jet3Truncated.resize(jet3.size() - 1000);
    std::mt19937 random(1234);
    std::vector<uint8_t> noise(8192);
    for (auto& b : noise) b = uint8_t(random());
    auto ace = good;
    ace[header::kFormatVersion] = 0x02;
    auto aceName = good;
    std::memcpy(aceName.data() + header::kEngineName, "Standard ACE DB", header::kEngineNameLength);
    auto msisam = good;
    std::memcpy(msisam.data() + header::kEngineName, "MSISAM Database", header::kEngineNameLength);
    auto encrypted = withHeaderChange(good, [](uint8_t* r) { putU32(r, header::kEncodingKey - header::kMaskedRegion, 0x12345678); });
    auto password = withHeaderChange(good, [](uint8_t* r) { r[header::kPassword - header::kMaskedRegion] ^= 'p'; });
    auto unmasked = withHeaderChange(good, [](uint8_t*) {});
    auto truncated = good;
    truncated.resize(good.size() - 100);
    std::vector<uint8_t> hundred(good.begin(), good.begin() + 100);

    struct Case { const char* what; std::vector<uint8_t> bytes; ErrorCode code; const char* message; };
    const std::vector<Case> cases = {
        {"random bytes", noise, ErrorCode::NotSupported, "not a Jet database"},
        {"empty file", {}, ErrorCode::NotSupported, "empty"},
        {"100-byte file", hundred, ErrorCode::Corruption, "truncated"},
        {"size not whole pages", truncated, ErrorCode::Corruption, "truncated"},
        {"Jet 3 password", jet3Password, ErrorCode::NotSupported, "password-protected"},
        {"Jet 3 encrypted", jet3Encrypted, ErrorCode::NotSupported, "encrypted database"},
        {"Jet 3 double-byte code page", jet3CodePage, ErrorCode::NotSupported, "code page 932"},
        {"Jet 3 not whole 2 KB pages", jet3Truncated, ErrorCode::Corruption, "truncated"},
        {"ACE version", ace, ErrorCode::NotSupported, "ACE"},
        {"ACE name", aceName, ErrorCode::NotSupported, "ACE"},
        {"MSISAM", msisam, ErrorCode::NotSupported, "MSISAM"},
        {"encrypted", encrypted, ErrorCode::NotSupported, "encrypted database"},
        {"password", password, ErrorCode::NotSupported, "password-protected"},
    };
    for (const Case& c : cases) {
        auto db = openBytes(c.bytes);
        ASSERT_FALSE(db.isOk()) << c.what;
        EXPECT_EQ(db.status().code(), c.code) << c.what << ": " << db.status().toString();
        EXPECT_NE(db.status().message().find(c.message), std::string::npos) << c.what << ": " << db.status().toString();
    }
    // Masking twice gives the file back: the re-masked copies above differ
    // only where they were changed.
    EXPECT_EQ(unmasked, good);
    auto ok = openBytes(good);
    ASSERT_TRUE(ok.isOk()) << ok.status().toString();
    EXPECT_EQ((*ok)->header().sortLcid, 0x0409);
    EXPECT_EQ((*ok)->header().codePage, 1252);
}

TEST(DatabaseRefusals, FilesThatCannotBeOpened)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    auto missing = Database::open((tmp.path() / "missing.mdb").string(), OpenMode::ReadOnly);
    EXPECT_EQ(missing.status().code(), ErrorCode::NotFound) << missing.status().toString();
    auto directory = Database::open(tmp.path().string(), OpenMode::ReadOnly);
    EXPECT_FALSE(directory.isOk());
    EXPECT_EQ(directory.status().code(), ErrorCode::IOError) << directory.status().toString();
    if (geteuid() != 0) {
        auto locked = test::copyWritable(dir / "jet4" / "testV2000.mdb", tmp.file("locked.mdb"));
        ::chmod(locked.c_str(), 0);
        auto db = Database::open(locked.string(), OpenMode::ReadOnly);
        EXPECT_EQ(db.status().code(), ErrorCode::IOError) << db.status().toString();
    }
    writeBytes(tmp.file("empty.mdb"), {});
    auto empty = Database::open(tmp.file("empty.mdb").string(), OpenMode::ReadOnly);
    EXPECT_FALSE(empty.isOk());
    auto turkish = Database::open((dir / "turkish" / "hospital-appointments.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(turkish.isOk()) << turkish.status().toString();
    EXPECT_EQ((*turkish)->header().sortLcid, 1055);
}

// The same refusals whoever runs the tests, played with a file system in
// memory: a file nobody may read (the superuser still may), a folder, a
// file that is not there, and a file that is not a database, which is
// refused before a lock or journal is made beside it.
TEST(DatabaseRefusals, FilesThatCannotBeOpenedWhateverTheUser)
{
    auto files = std::make_shared<MemoryFileSystem>();
    ASSERT_TRUE(createDatabaseFile(*files, "/veri/a.mdb", NewDatabaseOptions()).isOk());
    files->addFile("/veri/bos.mdb", {});
    files->setMode("/veri/a.mdb", 0);
    EXPECT_EQ(Database::open(files, "/veri/a.mdb", OpenMode::ReadOnly).status().code(), ErrorCode::IOError);
    EXPECT_EQ(Database::open(files, "/veri", OpenMode::ReadOnly).status().code(), ErrorCode::IOError);
    EXPECT_EQ(Database::open(files, "/veri/yok.mdb", OpenMode::ReadWrite).status().code(), ErrorCode::NotFound);
    EXPECT_FALSE(Database::open(files, "/veri/bos.mdb", OpenMode::ReadWrite).isOk());
    EXPECT_FALSE(files->exists(journalPathFor("/veri/bos.mdb")));
    files->setSuperuser(true);
    auto db = Database::open(files, "/veri/a.mdb", OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    EXPECT_FALSE((*db)->isWritable());  // its bits allow nobody to write it
}

// Systematic damage of real files: every outcome is a clear error or data,
// never a crash (the sanitizer build checks the "never").
TEST(DatabaseDamage, DamagedFilesFailCleanly)
{
    VK_REQUIRE_FIXTURES(dir);
    for (const char* name : {"overflowTestV2000.mdb", "test2V2000.mdb", "delColTestV2000.mdb"}) {
        const auto good = fileBytes(dir / "jet4" / name);
        size_t rows = 0;
        ASSERT_TRUE(openAndScan(good, &rows).isOk()) << name;
        EXPECT_GT(rows, 0u);
        const size_t pages = good.size() / kPageSize;
        size_t refused = 0, attempts = 0;
        auto expectClean = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
            Status s = openAndScan(bytes);
            ++attempts;
            if (!s.isOk()) {
                ++refused;
                EXPECT_FALSE(s.message().empty()) << what;
            }
        };
        for (size_t p = 1; p < pages; ++p) {
            for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
                auto bytes = good;
                std::fill(bytes.begin() + long(p * kPageSize), bytes.begin() + long(p * kPageSize + 16), fill);
                expectClean(bytes, std::string(name) + " page header " + std::to_string(p));
            }
            auto wiped = good;
            std::fill(wiped.begin() + long(p * kPageSize), wiped.begin() + long((p + 1) * kPageSize), 0);
            expectClean(wiped, std::string(name) + " page zeroed " + std::to_string(p));
        }
        // The catalog's definition and its first data pages, byte by byte.
        for (size_t p : {size_t(2), size_t(3)}) {
            for (size_t i = 0; i < kPageSize; i += (p == 2 ? 1 : 3)) {
                auto bytes = good;
                bytes[p * kPageSize + i] ^= 0xFF;
                expectClean(bytes, std::string(name) + " flip " + std::to_string(p) + ":" + std::to_string(i));
            }
        }
        for (size_t cut = kPageSize; cut < good.size(); cut += kPageSize * 3) {
            std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
            expectClean(part, std::string(name) + " truncated");
        }
        std::mt19937 random(42);
        for (int round = 0; round < 300; ++round) {
            auto bytes = good;
            for (int k = 0; k < 8; ++k) bytes[kPageSize + random() % (bytes.size() - kPageSize)] = uint8_t(random());
            expectClean(bytes, std::string(name) + " random round " + std::to_string(round));
        }
        EXPECT_GT(refused, 10u) << name;
        std::printf("%s: %zu damaged copies, %zu refused\n", name, attempts, refused);
    }
}

// Every table definition and data page of one file damaged in turn.
TEST(DatabaseDamage, TableDefinitionAndDataPageBytes)
{
    VK_REQUIRE_FIXTURES(dir);
    const auto good = fileBytes(dir / "jet4" / "testV2000.mdb");
    auto db = openBytes(good);
    ASSERT_TRUE(db.isOk());
    auto table = (*db)->table(u"Table1");
    ASSERT_TRUE(table.isOk());
    auto dataPages = (*table)->dataPages();
    ASSERT_TRUE(dataPages.isOk());
    ASSERT_FALSE(dataPages->empty());
    for (size_t page : {size_t((*table)->tdefPage()), size_t(dataPages->front())}) {
        for (size_t i = 0; i < kPageSize; i += 2) {
            for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80)}) {
                auto bytes = good;
                bytes[page * kPageSize + i] = v;
                auto opened = openBytes(std::move(bytes));
                if (!opened.isOk()) continue;
                auto t = (*opened)->table(u"Table1");
                if (!t.isOk()) continue;
                auto scanner = (*t)->scan();
                if (!scanner.isOk()) continue;
                while (true) {
                    auto more = scanner->next();
                    if (!more.isOk() || !*more) break;
                    (void)scanner->values();
                }
            }
        }
    }
}

// A scan decoding row after row into one kept value list gives each row
// what decoding that row alone gives, whatever the list held before: a
// text grown or shrunk, a value gone null, a column no longer asked for.
// A delete reads the long values only of the columns an index keys on
// (files other programs made may index a memo).
TEST(TableLayout, MarksTheLongValueColumnsAnIndexKeysOn)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Notlar (Id COUNTER PRIMARY KEY, Konu MEMO, Ek MEMO, Resim OLEOBJECT)").isOk());
    auto table = t.db->table(u"Notlar");
    ASSERT_TRUE(table.isOk());
    TableDef def = (*table)->def();
    auto unmarked = tableLayoutFor(def);
    ASSERT_EQ(unmarked.longValueColumns.size(), 3u);
    for (const LongValueColumn& c : unmarked.longValueColumns) EXPECT_FALSE(c.indexed) << c.column;

    RealIndexDef onEk = def.realIndexes().front();
    onEk.columns = {RealIndexColumn{def.columns()[2].number, true}};
    def.mutableRealIndexes().push_back(onEk);
    auto marked = tableLayoutFor(def);
    ASSERT_EQ(marked.longValueColumns.size(), 3u);
    for (const LongValueColumn& c : marked.longValueColumns) EXPECT_EQ(c.indexed, c.column == 2) << c.column;
}

// Writing only the changed fields of a record: the others stay as stored,
// and the index keys are made from the columns of the indexes a changed
// field is in (all of them when the layout does not say which those are).
TEST(TableWriterChangedColumns, KeepTheRestAndReadTheKeyColumnsOfTheIndexesReached)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE K (Id COUNTER PRIMARY KEY, Birim TEXT(10), Miktar LONG, Ad TEXT(40), Notlar MEMO)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixBirim ON K (Birim, Miktar DESC)").isOk());
    const std::string memo(300, 'n');
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(t.run("INSERT INTO K (Birim, Miktar, Ad, Notlar) VALUES ('Adet', " + std::to_string(i) + ", 'ad " +
                          std::to_string(i) + "', '" + memo + "')")
                        .isOk());
    auto table = t.db->table(u"K");
    ASSERT_TRUE(table.isOk());
    const TableDef& def = (*table)->def();
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk() && rows->size() == 5u);

    struct Recording : IndexMaintainer {
        std::vector<Variant> oldValues, newValues;
        Status apply(PageAllocator&, const RowChange& change) override
        {
            oldValues = *change.oldValues;
            newValues = *change.newValues;
            return Status::ok();
        }
    } indexes;
    JetRowFormat format(def, (*table)->longValues());
    for (bool layoutKnowsKeys : {true, false}) {
        TableLayout layout = tableLayoutFor(def);
        if (!layoutKnowsKeys) layout.indexColumns.clear();
        TableWriter writer(t.db->pager(), layout, format, &indexes);
        const RowPointer row = (*rows)[layoutKnowsKeys ? 1 : 2];
        auto before = (*table)->readRow(row);
        ASSERT_TRUE(before.isOk());
        const std::vector<std::pair<int, Variant>> change = {{1, Variant::text(u"Kutu")}};
        ASSERT_TRUE(writer.updateColumns(row, change).isOk());
        auto after = (*table)->readRow(row);
        ASSERT_TRUE(after.isOk());
        std::vector<Variant> expected = *before;
        expected[1] = Variant::text(u"Kutu");
        EXPECT_EQ(*after, expected);
        // Birim and Miktar (the index reached), the key and the rest only
        // when the layout does not name the key columns.
        EXPECT_EQ(indexes.oldValues[1], Variant::text(u"Adet"));
        EXPECT_EQ(indexes.oldValues[2], (*before)[2]);
        EXPECT_EQ(indexes.newValues[1], Variant::text(u"Kutu"));
        EXPECT_EQ(indexes.newValues[2], (*before)[2]);
        EXPECT_EQ(indexes.oldValues[3].isNull(), layoutKnowsKeys);
        EXPECT_EQ(indexes.oldValues[0].isNull(), layoutKnowsKeys);
    }
    // A changed memo takes the whole record's way, its old value given back.
    TableWriter writer(t.db->pager(), tableLayoutFor(def), format, &indexes);
    ASSERT_TRUE(writer.updateColumns((*rows)[3], std::vector<std::pair<int, Variant>>{{4, Variant::text(u"kısa")}}).isOk());
    auto changed = (*table)->readRow((*rows)[3]);
    ASSERT_TRUE(changed.isOk());
    EXPECT_EQ((*changed)[4], Variant::text(u"kısa"));
    EXPECT_EQ((*changed)[3], Variant::text(u"ad 3"));
    auto report = checkDatabase(*t.db);
    ASSERT_TRUE(report.isOk());
    // The maintainer above kept no index: only the pages and long values
    // are judged here.
    for (const std::string& p : report->problems)
        if (p.find("index") == std::string::npos) ADD_FAILURE() << p;
}

TEST(TableScan, ValuesDecodedIntoOneListAreEachRowsOwn)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Kayit (Id LONG, Ad TEXT(60), Aciklama TEXT(20), Tutar CURRENCY)").isOk());
    for (const char* values : {"1, 'uzun bir açıklama metni, otuz karakterden uzun', 'kısa', 10",
                               "2, NULL, 'Ş', NULL", "3, 'ab', NULL, 5", "4, 'Çok uzun ve Türkçe: ğüşiöçİı', 'x', 1",
                               "5, '', NULL, NULL", "6, 'son', 'bir metin daha', 2"}) {
        Status s = t.run(std::string("INSERT INTO Kayit VALUES (") + values + ")");
        ASSERT_TRUE(s.isOk()) << values << ": " << s.toString();
    }
    auto table = t.db->table(u"Kayit");
    ASSERT_TRUE(table.isOk());
    const std::vector<std::vector<int>> asked = {{1, 2}, {1}, {2, 3}, {0, 1, 2, 3}, {}, {3, 1}};
    for (size_t start = 0; start < asked.size(); ++start) {
        auto scanner = (*table)->scan();
        ASSERT_TRUE(scanner.isOk());
        std::vector<Variant> kept;
        for (size_t row = 0;; ++row) {
            auto more = scanner->next();
            ASSERT_TRUE(more.isOk());
            if (!*more) {
                EXPECT_EQ(row, 6u);
                break;
            }
            const std::vector<int>& columns = asked[(start + row) % asked.size()];
            ASSERT_TRUE(scanner->valuesInto(columns, kept).isOk());
            auto alone = scanner->values(columns);
            ASSERT_TRUE(alone.isOk());
            EXPECT_EQ(kept, *alone) << "row " << row << " from list " << start;
        }
    }

    // Past the 64th column too.
    std::string create = "CREATE TABLE Genis (", insert;
    for (int c = 0; c < 70; ++c) create += (c ? ", T" : "T") + std::to_string(c) + " TEXT(10)";
    ASSERT_TRUE(t.run(create + ")").isOk());
    for (int row = 0; row < 4; ++row) {
        std::string values;
        for (int c = 0; c < 70; ++c) values += (c ? ", " : "") + ((c + row) % 3 ? "'d" + std::to_string(row) + "'" : std::string("NULL"));
        ASSERT_TRUE(t.run("INSERT INTO Genis VALUES (" + values + ")").isOk());
    }
    auto wide = t.db->table(u"Genis");
    ASSERT_TRUE(wide.isOk());
    const std::vector<std::vector<int>> wideAsked = {{1, 65, 68}, {66, 69}, {0, 64}, {}};
    auto scanner = (*wide)->scan();
    ASSERT_TRUE(scanner.isOk());
    std::vector<Variant> kept;
    size_t row = 0;
    for (auto more = scanner->next(); more.isOk() && *more; more = scanner->next(), ++row) {
        const std::vector<int>& columns = wideAsked[row % wideAsked.size()];
        ASSERT_TRUE(scanner->valuesInto(columns, kept).isOk());
        auto alone = scanner->values(columns);
        ASSERT_TRUE(alone.isOk());
        EXPECT_EQ(kept, *alone) << "row " << row;
    }
    EXPECT_EQ(row, 4u);
}

TEST(DatabaseCatalog, LooksUpTablesWithoutRegardToCase)
{
    VK_REQUIRE_FIXTURES(dir);
    auto db = Database::open((dir / "jet4" / "testV2000.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto a = (*db)->table(u"TABLE1");
    auto b = (*db)->table(u"table1");
    ASSERT_TRUE(a.isOk() && b.isOk());
    EXPECT_EQ(a->get(), b->get());
    EXPECT_EQ((*a)->name(), u"Table1");
    EXPECT_EQ((*db)->table(u"MSysObjects").status().code(), ErrorCode::NotFound);
    EXPECT_EQ((*db)->table(u"nope").status().code(), ErrorCode::NotFound);
    for (const auto& e : (*db)->catalog().tables()) EXPECT_NE(e.name.substr(0, 4), u"MSys");
}

class RecordSetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto d = test::fixturesDir();
        if (!d) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
        dir = *d;
    }
    std::filesystem::path dir;
};

TEST_F(RecordSetTest, NavigatesAndReadsFields)
{
    DataControl data;
    data.SetDatabaseName(fromUtf8((dir / "jet4" / "testV2000.mdb").string()));
    data.SetRecordSource(u"table1");
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet* rs = data.Recordset();
    ASSERT_NE(rs, nullptr);
    EXPECT_FALSE(*rs->BOF());
    EXPECT_FALSE(*rs->Eof());
    EXPECT_EQ(*rs->RecordCount(), 2);
    ASSERT_TRUE(rs->MoveLast().isOk());
    EXPECT_EQ(*rs->AbsolutePosition(), 1);
    auto a = rs->Fields(u"a");
    ASSERT_TRUE(a.isOk());
    EXPECT_EQ((*a)->Name(), u"A");
    EXPECT_EQ(*(*a)->Value(), Variant::text(u"a"));
    ASSERT_TRUE(rs->MoveFirst().isOk());
    EXPECT_EQ(*rs->AbsolutePosition(), 0);
    EXPECT_EQ(*(*a)->Value(), Variant::text(u"abcdefg"));
    auto byIndex = rs->Fields(0);
    ASSERT_TRUE(byIndex.isOk());
    EXPECT_EQ(*byIndex, *a);
    EXPECT_EQ(rs->Fields(u"nope").status().code(), ErrorCode::NotFound);
    EXPECT_EQ(rs->Fields(99).status().code(), ErrorCode::NotFound);
    // An edit that is never stored changes nothing (moving on drops it).
    EXPECT_EQ((*a)->SetValue(Variant::text(u"x")).code(), ErrorCode::InvalidArgument);  // before Edit
    ASSERT_TRUE(rs->Edit().isOk());
    ASSERT_TRUE((*a)->SetValue(Variant::text(u"x")).isOk());
    EXPECT_EQ(*(*a)->Value(), Variant::text(u"x"));
    ASSERT_TRUE(rs->MoveNext().isOk());
    ASSERT_TRUE(rs->MoveNext().isOk());
    EXPECT_TRUE(*rs->Eof());
    EXPECT_FALSE(*rs->BOF());
    EXPECT_EQ((*a)->Value().status().code(), ErrorCode::Closed);
    EXPECT_FALSE(rs->MoveNext().isOk());
    EXPECT_FALSE(rs->AbsolutePosition().isOk());
    ASSERT_TRUE(rs->Close().isOk());
    EXPECT_EQ(rs->BOF().status().code(), ErrorCode::Closed);
    EXPECT_EQ(rs->MoveFirst().code(), ErrorCode::Closed);
    EXPECT_EQ(rs->Fields(u"A").status().code(), ErrorCode::Closed);
    EXPECT_EQ((*a)->Value().status().code(), ErrorCode::Closed);
    EXPECT_FALSE(rs->Close().isOk());

    // Refresh reopens the record source as a new record set.
    ASSERT_TRUE(data.Refresh().isOk());
    EXPECT_TRUE(data.Recordset()->isOpen());
    data.SetRecordSource(u"Select * From Table1 where A='a'");
    ASSERT_TRUE(data.Refresh().isOk());
    EXPECT_EQ(*data.Recordset()->RecordCount(), 1);
    data.SetRecordSource(u"Select * From Table1 where A=");
    EXPECT_EQ(data.Refresh().code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(data.Recordset(), nullptr);
    data.SetRecordSource(u"NoSuchTable");
    EXPECT_EQ(data.Refresh().code(), ErrorCode::NotFound);
}

TEST_F(RecordSetTest, EmptyTable)
{
    // A blank database has no user tables; find an empty one in the fixtures.
    auto db = Database::open((dir / "jet4" / "delTestV2000.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    std::unique_ptr<TableRecordSet> empty;
    for (const auto& e : (*db)->catalog().tables()) {
        auto rs = TableRecordSet::openTable(*db, e.name);
        ASSERT_TRUE(rs.isOk()) << rs.status().toString();
        if (*(*rs)->RecordCount() == 0) empty = std::move(rs).value();
    }
    if (!empty) {
        empty = std::make_unique<TableRecordSet>(*db, *(*db)->table((*db)->catalog().tables().front().name),
                                                 std::vector<RowPointer>{});
    }
    EXPECT_TRUE(*empty->BOF());
    EXPECT_TRUE(*empty->Eof());
    EXPECT_FALSE(empty->MoveFirst().isOk());
    EXPECT_FALSE(empty->MoveLast().isOk());
    EXPECT_FALSE(empty->MoveNext().isOk());
    auto f = empty->Fields(0);
    ASSERT_TRUE(f.isOk());
    EXPECT_EQ((*f)->Value().status().code(), ErrorCode::Closed);
}

TEST_F(RecordSetTest, ConnectionSchema)
{
    Connection c;
    const std::string path = (dir / "jet4" / "testV2000.mdb").string();
    c.SetConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + fromUtf8(path) + u";Persist Security Info=False");
    EXPECT_EQ(c.OpenSchema(adSchemaTables, {}).status().code(), ErrorCode::Closed);
    ASSERT_TRUE(c.Open(u"", u"", u"", -1).isOk());
    auto tables = c.OpenSchema(adSchemaTables, {Variant(), Variant(), Variant(), Variant::text(u"Table")});
    ASSERT_TRUE(tables.isOk()) << tables.status().toString();
    std::vector<std::u16string> names;
    while (!*(*tables)->Eof()) {
        names.push_back((*(*(*tables)->Fields(u"TABLE_NAME"))->Value()).asText());
        EXPECT_EQ(*(*(*tables)->Fields(u"table_type"))->Value(), Variant::text(u"TABLE"));
        ASSERT_TRUE((*tables)->MoveNext().isOk());
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Table1", u"Table2", u"Table3", u"Table4"}));
    ASSERT_TRUE((*tables)->Close().isOk());
    auto views = c.OpenSchema(adSchemaTables, {Variant(), Variant(), Variant(), Variant::text(u"VIEW")});
    EXPECT_EQ(*(*views)->RecordCount(), 0);
    auto one = c.OpenSchema(adSchemaTables, {Variant(), Variant(), Variant::text(u"table2"), Variant()});
    EXPECT_EQ(*(*one)->RecordCount(), 1);

    auto columns = c.OpenSchema(adSchemaColumns, {Variant(), Variant(), Variant::text(u"TABLE1")});
    ASSERT_TRUE(columns.isOk());
    std::u16string order;
    int32_t expected = 1;
    while (!*(*columns)->Eof()) {
        order += (*(*(*columns)->Fields(u"COLUMN_NAME"))->Value()).asText();
        EXPECT_EQ(*(*(*columns)->Fields(u"ORDINAL_POSITION"))->Value(), Variant::longValue(expected++));
        ASSERT_TRUE((*columns)->MoveNext().isOk());
    }
    EXPECT_EQ(order, u"ABCDEFGHI");
    EXPECT_EQ(c.OpenSchema(99, {}).status().code(), ErrorCode::NotSupported);
    ASSERT_TRUE(c.Close().isOk());
    EXPECT_FALSE(c.isOpen());

    // Execute changes a copy: the connection reads until then and opens the
    // file for writing at the first statement.
    test::TempDir temp;
    std::filesystem::path copy = test::copyWritable(path, temp.file("copy.mdb"));
    Connection w;
    ASSERT_TRUE(w.Open(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + fromUtf8(copy.string())).isOk());
    Status added = w.Execute(u"ALTER TABLE Table1 ADD COLUMN X TEXT(5)");
    EXPECT_TRUE(added.isOk()) << added.toString();
    EXPECT_EQ(w.Execute(u"ALTER TABLE Table1 ADD COLUMN X TEXT(5)").code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(w.Execute(u"DROP TABLE Table1").code(), ErrorCode::InvalidArgument);
    auto xs = w.OpenSchema(adSchemaColumns, {Variant(), Variant(), Variant::text(u"Table1"), Variant::text(u"X")});
    ASSERT_TRUE(xs.isOk());
    EXPECT_EQ(*(*xs)->RecordCount(), 1);
    ASSERT_TRUE((*xs)->Close().isOk());
    ASSERT_TRUE(w.Close().isOk());

    struct Bad { const char16_t* text; ErrorCode code; };
    for (const Bad& b : {Bad{u"Data Source=x.mdb", ErrorCode::InvalidArgument},
                         Bad{u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=x.mdb", ErrorCode::InvalidArgument},
                         Bad{u"Provider=microsoft.jet.oledb.4.0", ErrorCode::InvalidArgument},
                         Bad{u"Provider=MICROSOFT.JET.OLEDB.4.0;Data Source=/nonexistent/x.mdb", ErrorCode::NotFound}}) {
        Connection bad;
        EXPECT_EQ(bad.Open(b.text).code(), b.code) << toUtf8(b.text);
    }
}

}  // namespace
}  // namespace varnika::jet

namespace varnika::jet {
namespace {

TEST(ConnectionString, SplitsPairs)
{
    auto pairs = parseConnectionString(u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\a b\\x.mdb;Persist Security Info=False");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[1].first, u"Data Source");
    EXPECT_EQ(pairs[1].second, u"C:\\a b\\x.mdb");
    EXPECT_EQ(parseConnectionString(u";;junk;").size(), 0u);
}

}  // namespace
}  // namespace varnika::jet

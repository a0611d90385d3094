// ALTER TABLE ... ADD COLUMN on tables with records, on new databases and on
// copies of Access-made ones.

#include "db/jet/check/consistency_check.h"
#include "support/ddl_test_support.h"

namespace varnika::jet {
namespace {

using ddltest::NewDb;

TEST(DdlAlter, EveryTypeAddedToATableWithRecordsReadsNullInOldRowsAndTakesNewValues)
{
    NewDb t(0x041F);
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Ad TEXT(20))").isOk());
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(t.run("INSERT INTO Stok (Ad) VALUES ('ürün " + std::to_string(i) + "')").isOk());
    struct Added {
        const char* definition;
        const char* literal;
        Variant value;
        const char* exported;
    } added[] = {
        {"Evet BIT", "True", Variant::boolean(true), "1"},
        {"Bayt BYTE", "7", Variant::byte(7), "7"},
        {"Kisa SHORT", "-12", Variant::integer(-12), "-12"},
        {"Uzun LONG", "70000", Variant::longValue(70000), "70000"},
        {"Para CURRENCY", "3.25", Variant::currency(Currency{32500}), "3.2500"},
        {"Tek SINGLE", "0.5", Variant::single(0.5f), "0.5"},
        {"Cift DOUBLE", "1.75", Variant::doubleValue(1.75), "1.75"},
        {"Tarih DATETIME", "#2/3/2021 04:05:06#", Variant(), "02/03/21 04:05:06"},
        {"Metin TEXT(20)", "'Çığ'", Variant::text(u"Çığ"), "Çığ"},
        {"Ikili BINARY(8)", "NULL", Variant(), ""},
        {"Notlar MEMO", "'uzun not'", Variant::text(u"uzun not"), "uzun not"},
    };
    std::string columns = "Ad", values = "'yeni'";
    for (const Added& a : added) {
        ASSERT_TRUE(t.run(std::string("ALTER TABLE Stok ADD COLUMN ") + a.definition).isOk()) << a.definition;
        std::string name(a.definition, std::strchr(a.definition, ' '));
        columns += ", " + name;
        values += std::string(", ") + a.literal;
    }
    Status inserted = t.run("INSERT INTO Stok (" + columns + ") VALUES (" + values + ")");
    ASSERT_TRUE(inserted.isOk()) << inserted.toString();

    auto rows = t.rows("Stok");
    ASSERT_EQ(rows.size(), 51u);
    ASSERT_EQ(rows[0].size(), 13u);
    EXPECT_EQ(rows[0][1], Variant::text(u"ürün 0"));
    for (size_t c = 3; c < 13; ++c) EXPECT_TRUE(rows[0][c].isNull()) << "column " << c;
    for (size_t k = 0; k < std::size(added); ++k)
        if (!added[k].value.isNull()) {
            EXPECT_EQ(rows[50][2 + k], added[k].value) << added[k].definition;
        }
    EXPECT_EQ(rows[50][0], Variant::longValue(51));
    ddltest::expectIndexesMatchRows(*t.db, "Stok");

    if (!ddltest::haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    auto csv = ddltest::mdbExport(t.path, "Stok");
    ASSERT_EQ(csv.size(), 52u);
    ASSERT_EQ(csv[1].size(), 13u);
    EXPECT_EQ(csv[1][1], "ürün 0");
    for (size_t c = 3; c < 13; ++c) EXPECT_EQ(csv[1][c], "") << "column " << c;
    for (size_t k = 0; k < std::size(added); ++k) EXPECT_EQ(csv[51][2 + k], added[k].exported) << added[k].definition;
}

TEST(DdlAlter, RefusalsLeaveTheFileByteForByteUnchanged)
{
    NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Sayi (A LONG, B DOUBLE)").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Sayi VALUES (1, 2)").isOk());
    ASSERT_TRUE(t.run("CREATE TABLE Ad (A TEXT(10))").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Ad VALUES ('x')").isOk());
    const std::vector<uint8_t> before = ddltest::fileBytes(t.path);
    struct Case {
        const char* statement;
        ErrorCode code;
    } cases[] = {
        {"ALTER TABLE Sayi ADD COLUMN C TEXT(10)", ErrorCode::NotSupported},  // first variable field, rows present
        {"ALTER TABLE Sayi ADD COLUMN D MEMO", ErrorCode::NotSupported},
        {"ALTER TABLE Ad ADD COLUMN N LONG NOT NULL", ErrorCode::NotSupported},
        {"ALTER TABLE Ad ADD COLUMN N COUNTER", ErrorCode::NotSupported},
        {"ALTER TABLE Ad ADD COLUMN a LONG", ErrorCode::InvalidArgument},
        {"ALTER TABLE Ad ADD COLUMN [x.y] LONG", ErrorCode::InvalidArgument},
        {"ALTER TABLE Ad ADD COLUMN N WHATEVER", ErrorCode::InvalidArgument},
        {"ALTER TABLE Ad ADD COLUMN", ErrorCode::InvalidArgument},
        {"ALTER TABLE Yok ADD COLUMN N LONG", ErrorCode::NotFound},
        {"ALTER TABLE Ad ADD COLUMN N LONG DEFAULT 5", ErrorCode::NotSupported},
        {"ALTER TABLE Ad ADD COLUMN N LONG DEFAULT 'beş'", ErrorCode::InvalidArgument},
        {"ALTER TABLE Ad ADD COLUMN N TEXT(256)", ErrorCode::InvalidArgument},
    };
    for (const Case& c : cases) {
        Status s = t.run(c.statement);
        EXPECT_EQ(s.code(), c.code) << c.statement << ": " << s.toString();
        EXPECT_TRUE(ddltest::fileBytes(t.path) == before) << "file changed by: " << c.statement;
    }
    // A fixed field still fits the fixed-only table; an empty table takes anything.
    EXPECT_TRUE(t.run("ALTER TABLE Sayi ADD COLUMN C CURRENCY").isOk());
    ASSERT_TRUE(t.run("CREATE TABLE Bos (A LONG)").isOk());
    EXPECT_TRUE(t.run("ALTER TABLE Bos ADD COLUMN B TEXT(5) NOT NULL").isOk());
    EXPECT_TRUE(t.run("INSERT INTO Bos VALUES (1, 'b')").isOk());
    EXPECT_EQ(t.run("INSERT INTO Bos (A) VALUES (2)").code(), ErrorCode::Constraint);
}

// A run of INSERTs shares one writer; a definition changed meanwhile, by
// this executor or by another, is the one the next INSERT writes.
TEST(DdlAlter, InsertsFollowTheDefinitionAsItChanges)
{
    NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Ad TEXT(20))").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Stok (Ad) VALUES ('bir')").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Stok (Ad) VALUES ('iki')").isOk());
    DdlExecutor other(t.db, RegionalSettings::unitedStates());
    ASSERT_TRUE(other.execute(u"ALTER TABLE Stok ADD COLUMN Notu MEMO").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Stok (Ad, Notu) VALUES ('üç', '" + std::string(3000, 'n') + "')").isOk());
    ASSERT_TRUE(t.run("ALTER TABLE Stok ADD COLUMN Depo LONG").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixDepo ON Stok (Depo)").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Stok (Ad, Notu, Depo) VALUES ('dört', 'kısa', 4)").isOk());
    const auto rows = t.rows("Stok");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2][2], Variant::text(std::u16string(3000, u'n')));
    EXPECT_TRUE(rows[2][3].isNull());
    EXPECT_EQ(rows[3], (std::vector<Variant>{Variant::longValue(4), Variant::text(u"dört"), Variant::text(u"kısa"),
                                             Variant::longValue(4)}));
    auto report = checkDatabase(*t.db);
    ASSERT_TRUE(report.isOk()) << report.status().toString();
    for (const auto& p : report->problems) ADD_FAILURE() << p;
}

TEST(DdlAlter, ManyFieldsGrowTheDefinitionOntoMorePages)
{
    NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Genis (Id COUNTER PRIMARY KEY, Ad TEXT(10))").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Genis (Ad) VALUES ('ilk')").isOk());
    for (int i = 0; i < 120; ++i) {
        std::string name = "Alan_uzun_bir_isim_" + std::to_string(i);
        ASSERT_TRUE(t.run("ALTER TABLE Genis ADD COLUMN " + name + (i % 2 ? " TEXT(30)" : " LONG")).isOk()) << i;
    }
    auto table = t.db->table(u"Genis");
    ASSERT_TRUE(table.isOk());
    EXPECT_GT((*table)->def().pages().size(), 1u);
    ASSERT_TRUE(t.run("INSERT INTO Genis (Ad, Alan_uzun_bir_isim_119, Alan_uzun_bir_isim_118) VALUES ('son', 'z', 9)").isOk());
    t.reopen();
    auto rows = t.rows("Genis");
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].size(), 122u);
    EXPECT_EQ(rows[1][121], Variant::text(u"z"));
    EXPECT_EQ(rows[1][120], Variant::longValue(9));
    EXPECT_TRUE(rows[0][121].isNull());
    if (!ddltest::haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    auto csv = ddltest::mdbExport(t.path, "Genis");
    ASSERT_EQ(csv.size(), 3u);
    ASSERT_EQ(csv[2].size(), 122u);
    EXPECT_EQ(csv[2][121], "z");
}

// A copy of an Access-made database gets a new field in one table and a new
// table; mdbtools still reads every table, the others exactly as before.
void changeRealDatabase(const std::filesystem::path& fixture)
{
    test::TempDir dir;
    std::filesystem::path copy = test::copyWritable(fixture, dir.file("kopya.mdb"));
    std::vector<std::string> names;
    {
        auto db = Database::open(copy.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        for (const CatalogEntry& e : (*db)->catalog().tables()) names.push_back(toUtf8(e.name));
    }
    ASSERT_FALSE(names.empty());
    std::map<std::string, std::vector<ddltest::CsvRow>> before;
    for (const std::string& n : names) before[n] = ddltest::mdbExport(copy, n);

    // The first table whose records have a variable part takes a Text field.
    std::string changed;
    {
        auto opened = Database::open(copy.string(), OpenMode::ReadWrite);
        ASSERT_TRUE(opened.isOk()) << opened.status().toString();
        DdlExecutor ex(*opened, RegionalSettings::unitedStates());
        for (const std::string& n : names) {
            auto t = (*opened)->table(fromUtf8(n));
            ASSERT_TRUE(t.isOk());
            if ((*t)->def().varColumnCount() == 0 || (*t)->def().rowCount() == 0) continue;
            Status s = ex.execute(u"ALTER TABLE [" + fromUtf8(n) + u"] ADD COLUMN Yeni_Alan TEXT(40)");
            ASSERT_TRUE(s.isOk()) << n << ": " << s.toString();
            changed = n;
            break;
        }
        ASSERT_FALSE(changed.empty()) << "no table with records and variable fields in " << fixture;
        ASSERT_TRUE(ex.execute(u"CREATE TABLE Yeni_Tablo (No COUNTER PRIMARY KEY, Ad TEXT(30), Ne MEMO)").isOk());
        ASSERT_TRUE(ex.execute(u"INSERT INTO Yeni_Tablo (Ad, Ne) VALUES ('Ağaç', 'İğne')").isOk());
        ASSERT_TRUE(ex.execute(u"CREATE INDEX ixAd ON Yeni_Tablo (Ad)").isOk());
        ddltest::expectIndexesMatchRows(**opened, "Yeni_Tablo");
    }
    test::CommandResult tables = test::runCommand({"mdb-tables", "-1", copy.string()});
    EXPECT_NE(tables.out.find("Yeni_Tablo\n"), std::string::npos) << tables.out;
    for (const std::string& n : names) {
        auto after = ddltest::mdbExport(copy, n);
        if (n != changed) {
            EXPECT_EQ(after, before[n]) << n;
            continue;
        }
        ASSERT_EQ(after.size(), before[n].size()) << n;
        for (size_t r = 0; r < after.size(); ++r) {
            ddltest::CsvRow expect = before[n][r];
            expect.push_back(r == 0 ? "Yeni_Alan" : "");
            EXPECT_EQ(after[r], expect) << n << " row " << r;
        }
    }
    auto added = ddltest::mdbExport(copy, "Yeni_Tablo");
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[1], (ddltest::CsvRow{"1", "Ağaç", "İğne"}));
}

TEST(DdlAlter, RealDatabasesTakeANewFieldAndANewTable)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!ddltest::haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    for (const char* name : {"jet4/testV2000.mdb", "jet4/test2V2003.mdb", "turkish/customer-register.mdb",
                             "turkish/hospital-appointments.mdb"}) {
        SCOPED_TRACE(name);
        changeRealDatabase(dir / name);
    }
}

}  // namespace
}  // namespace varnika::jet

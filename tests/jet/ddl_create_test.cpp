// CREATE TABLE, INSERT INTO and CREATE INDEX on a new database, read back by
// our own reader and by mdbtools.

#include "support/ddl_test_support.h"

namespace varnika::jet {
namespace {

using ddltest::NewDb;

const char* kAllTypes =
    "CREATE TABLE Hepsi (Id COUNTER PRIMARY KEY, Evet BOOLEAN, Bayt BYTE, Kisa SHORT, Uzun LONG, Para CURRENCY, "
    "Tek SINGLE, Cift DOUBLE, Tarih Date/Time, Metin TEXT(50), Ikili BINARY(10), Notlar MEMO)";

std::string longMemo()
{
    std::string s;
    while (s.size() < 6000) s += "Ğüşiöç İı uzun not ";
    return s;
}

TEST(DdlCreate, EveryFieldTypeRoundTripsThroughOurReaderAndMdbTools)
{
    NewDb t(0x041F);
    ASSERT_TRUE(t.run(kAllTypes).isOk());
    const std::string memo = longMemo();
    ASSERT_TRUE(t.run("INSERT INTO Hepsi (Evet, Bayt, Kisa, Uzun, Para, Tek, Cift, Tarih, Metin, Notlar) VALUES "
                      "(True, 200, -3, 123456, 12.5, 1.5, 2.25, #1/31/2020 10:20:30#, 'Işık İĞÜŞÖÇ', 'kısa')").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Hepsi (Metin) VALUES (NULL)").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Hepsi (Metin, Notlar) VALUES ('uzun', '" + memo + "')").isOk());

    auto rows = t.rows("Hepsi");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], Variant::longValue(1));
    EXPECT_EQ(rows[0][1], Variant::boolean(true));
    EXPECT_EQ(rows[0][2], Variant::byte(200));
    EXPECT_EQ(rows[0][3], Variant::integer(-3));
    EXPECT_EQ(rows[0][9], Variant::text(u"Işık İĞÜŞÖÇ"));
    EXPECT_EQ(rows[0][11], Variant::text(u"kısa"));
    EXPECT_EQ(rows[1][0], Variant::longValue(2));
    for (size_t c = 2; c < rows[1].size(); ++c) EXPECT_TRUE(rows[1][c].isNull()) << "column " << c;
    EXPECT_EQ(rows[2][11], Variant::text(fromUtf8(memo)));
    ddltest::expectIndexesMatchRows(*t.db, "Hepsi");

    if (!ddltest::haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    test::CommandResult tables = test::runCommand({"mdb-tables", "-1", t.path.string()});
    EXPECT_EQ(tables.out, "Hepsi\n");
    test::CommandResult schema = test::runCommand({"mdb-schema", t.path.string()});
    ASSERT_EQ(schema.exitCode, 0) << schema.err;
    for (const char* line : {"[Id]\t\t\tLong Integer", "[Evet]\t\t\tBoolean", "[Bayt]\t\t\tByte", "[Kisa]\t\t\tInteger",
                             "[Uzun]\t\t\tLong Integer", "[Para]\t\t\tCurrency", "[Tek]\t\t\tSingle",
                             "[Cift]\t\t\tDouble", "[Tarih]\t\t\tDateTime", "[Metin]\t\t\tText (50)",
                             "[Ikili]\t\t\tBinary", "[Notlar]\t\t\tMemo/Hyperlink"})
        EXPECT_NE(schema.out.find(line), std::string::npos) << line << "\n" << schema.out;
    auto csv = ddltest::mdbExport(t.path, "Hepsi");
    ASSERT_EQ(csv.size(), 4u);
    EXPECT_EQ(csv[0], (ddltest::CsvRow{"Id", "Evet", "Bayt", "Kisa", "Uzun", "Para", "Tek", "Cift", "Tarih", "Metin",
                                       "Ikili", "Notlar"}));
    EXPECT_EQ(csv[1], (ddltest::CsvRow{"1", "1", "200", "-3", "123456", "12.5000", "1.5", "2.25", "01/31/20 10:20:30",
                                       "Işık İĞÜŞÖÇ", "", "kısa"}));
    EXPECT_EQ(csv[2], (ddltest::CsvRow{"2", "0", "", "", "", "", "", "", "", "", "", ""}));
    EXPECT_EQ(csv[3][11], memo);
}

TEST(DdlCreate, TablesKeepTheirIndexesRightAcrossManyInserts)
{
    NewDb t(0x041F);
    ASSERT_TRUE(t.run("CREATE TABLE Kisi (No LONG NOT NULL, Ad TEXT(40), Sehir TEXT(20), CONSTRAINT pk PRIMARY KEY (No), "
                      "UNIQUE (Ad))").isOk());
    const char* cities[] = {"İzmir", "ılgın", "Iğdır", "Çorum", "ankara", "Şile", "Ordu"};
    for (int i = 0; i < 400; ++i) {
        std::string ad = "Kişi " + std::to_string((i * 7919) % 400);
        std::string sehir = cities[i % 7];
        ASSERT_TRUE(t.run("INSERT INTO Kisi VALUES (" + std::to_string(1000 - i) + ", '" + ad + "', '" + sehir + "')").isOk()) << i;
    }
    ASSERT_TRUE(t.run("CREATE INDEX ixSehir ON Kisi (Sehir DESC, No)").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Kisi (No, Ad) VALUES (5, NULL)").isOk());
    ddltest::expectIndexesMatchRows(*t.db, "Kisi");
    auto table = t.db->table(u"Kisi");
    ASSERT_TRUE(table.isOk());
    EXPECT_EQ((*table)->def().realIndexes().size(), 3u);
    ASSERT_EQ((*table)->def().logicalIndexes().size(), 3u);
    EXPECT_TRUE((*table)->def().logicalIndexes()[0].isPrimaryKey());
    EXPECT_EQ((*table)->def().logicalIndexes()[2].name, u"ixSehir");

    // Reopened, the file says the same.
    t.reopen();
    EXPECT_EQ(t.rows("Kisi").size(), 401u);
    ddltest::expectIndexesMatchRows(*t.db, "Kisi");
    if (ddltest::haveMdbTools()) {
        EXPECT_EQ(ddltest::mdbExport(t.path, "Kisi").size(), 402u);
    }
}

// A new index of many pages goes to the file as it is made (here after
// every 4 pages), amid statements grouped as varnika-db exec groups them:
// the statements before it are saved first, and every index matches its
// rows, ours and the file's as mdbtools reads it.
TEST(DdlCreate, ALargeNewIndexIsWrittenAsItIsMade)
{
    NewDb t(0x0409);
    ASSERT_TRUE(t.run("CREATE TABLE Hareket (Id COUNTER PRIMARY KEY, Musteri TEXT(50), Tutar LONG)").isOk());
    Pager& pager = t.db->pager();
    pager.setAppendedAheadLimit(4);
    pager.beginGroup();
    for (int i = 0; i < 3000; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Hareket (Musteri, Tutar) VALUES ('Müşteri " + std::to_string((i * 7919) % 3001) +
                          " ve ortakları limited şirketi', " + std::to_string(i % 97) + ")")
                        .isOk());
    const uint32_t before = pager.pageCount();
    ASSERT_TRUE(t.run("CREATE INDEX ixMusteri ON Hareket (Musteri DESC, Tutar)").isOk());
    EXPECT_GT(pager.pageCount(), before + 40) << "an index of many pages";
    EXPECT_FALSE(pager.hasPendingWrites());
    ASSERT_TRUE(t.run("INSERT INTO Hareket (Musteri, Tutar) VALUES ('Son', 1)").isOk());
    ASSERT_TRUE(pager.endGroup().isOk());
    ddltest::expectIndexesMatchRows(*t.db, "Hareket");
    t.reopen();
    EXPECT_EQ(t.rows("Hareket").size(), 3001u);
    ddltest::expectIndexesMatchRows(*t.db, "Hareket");
    if (ddltest::haveMdbTools()) {
        EXPECT_EQ(ddltest::mdbExport(t.path, "Hareket").size(), 3002u);
    }
}

TEST(DdlCreate, RefusalsLeaveTheFileByteForByteUnchanged)
{
    NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Urun (Kod TEXT(10) PRIMARY KEY, Ad TEXT(30), Adet LONG NOT NULL, Yer TEXT(5))").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Urun VALUES ('A1', 'Kalem', 3, 'x')").isOk());
    ASSERT_TRUE(t.run("INSERT INTO Urun VALUES ('A2', 'Kalem', 4, 'x')").isOk());
    const std::vector<uint8_t> before = ddltest::fileBytes(t.path);
    struct Case {
        const char* statement;
        ErrorCode code;
    } cases[] = {
        {"INSERT INTO Urun VALUES ('A1', 'Silgi', 1, 'y')", ErrorCode::Constraint},  // duplicate primary key
        {"INSERT INTO Urun (Ad, Adet) VALUES ('Silgi', 1)", ErrorCode::Constraint},  // primary key field Null
        {"INSERT INTO Urun (Kod, Ad) VALUES ('A3', 'Silgi')", ErrorCode::Constraint},  // required field Null
        {"INSERT INTO Urun (Kod, Eksik) VALUES ('A3', 1)", ErrorCode::NotFound},
        {"INSERT INTO Urun VALUES ('A3', 'Silgi', 1, 'y', 5)", ErrorCode::InvalidArgument},
        {"INSERT INTO Urun (Kod, Adet) VALUES ('A3', 'çok')", ErrorCode::TypeMismatch},
        {"INSERT INTO Urun (Kod, Adet) VALUES ('A3 uzun kod!', 1)", ErrorCode::InvalidArgument},
        {"INSERT INTO Yok VALUES (1)", ErrorCode::NotFound},
        {"CREATE UNIQUE INDEX ixAd ON Urun (Ad)", ErrorCode::Constraint},
        {"CREATE INDEX ixYok ON Urun (Eksik)", ErrorCode::NotFound},
        {"CREATE INDEX PrimaryKey ON Urun (Ad)", ErrorCode::InvalidArgument},
        {"CREATE TABLE urun (X LONG)", ErrorCode::InvalidArgument},
        {"CREATE TABLE MSysObjects (X LONG)", ErrorCode::InvalidArgument},
        {"CREATE TABLE Yeni (X LONG, x TEXT)", ErrorCode::InvalidArgument},
        {"CREATE TABLE Yeni (X LONG, Y TEXT(300))", ErrorCode::InvalidArgument},
        {"CREATE TABLE Yeni (X LONG DEFAULT 'bir')", ErrorCode::TypeMismatch},
        {"CREATE TABLE Yeni (X TEXT(2) DEFAULT 'uzun')", ErrorCode::InvalidArgument},
        {"CREATE TABLE Yeni (X LONG DEFAULT Foo())", ErrorCode::NotSupported},
        {"CREATE TABLE Yeni (X MEMO PRIMARY KEY)", ErrorCode::NotSupported},
        {"CREATE TABLE Yeni (X LONG, UNIQUE (Z))", ErrorCode::NotFound},
        {"CREATE TABLE [Ye.ni] (X LONG)", ErrorCode::InvalidArgument},
    };
    for (const Case& c : cases) {
        Status s = t.run(c.statement);
        EXPECT_EQ(s.code(), c.code) << c.statement << ": " << s.toString();
        EXPECT_FALSE(s.message().empty()) << c.statement;
        EXPECT_TRUE(ddltest::fileBytes(t.path) == before) << "file changed by: " << c.statement;
    }
    EXPECT_EQ(t.rows("Urun").size(), 2u);
    ASSERT_EQ(t.db->catalog().tables().size(), 1u);
}

TEST(DdlCreate, ManyTablesGrowTheCatalogAndItsIndexes)
{
    NewDb t;
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(t.run("CREATE TABLE Tablo" + std::to_string(i) + " (A LONG, B TEXT(20), C MEMO)").isOk()) << i;
    EXPECT_EQ(t.db->catalog().tables().size(), 60u);
    t.reopen();
    EXPECT_EQ(t.db->catalog().tables().size(), 60u);
    ASSERT_TRUE(t.run("INSERT INTO Tablo59 VALUES (1, 'b', 'c')").isOk());
    auto objects = Table::open(t.db->pager(), 2, u"MSysObjects");
    ASSERT_TRUE(objects.isOk());
    // MSysObjects' own indexes name every catalog row.
    auto table = *objects;
    for (const RealIndexDef& index : table->def().realIndexes()) {
        std::vector<std::vector<uint8_t>> stored;
        ddltest::collectLeafEntries(t.db->pager(), index.rootPage, stored);
        auto pointers = table->rowPointers();
        ASSERT_TRUE(pointers.isOk());
        EXPECT_EQ(stored.size(), pointers->size());
        EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end()));
    }
    if (!ddltest::haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    test::CommandResult tables = test::runCommand({"mdb-tables", "-1", t.path.string()});
    EXPECT_EQ(std::count(tables.out.begin(), tables.out.end(), '\n'), 60);
    EXPECT_EQ(ddltest::mdbExport(t.path, "Tablo59").size(), 2u);
}

}  // namespace
}  // namespace varnika::jet

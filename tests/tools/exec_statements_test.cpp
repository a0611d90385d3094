// varnika-db exec: UPDATE and DELETE select what the window's record
// sources select, INSERT fills left-out fields with their defaults; each
// checked through mdb-export (and jcheck, when it is at hand) besides our
// own reader; bad statements change nothing.

#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace varnika {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The records of a table as mdb-export prints them, by their first field.
std::map<std::string, std::string> exported(const fs::path& file, const char* table)
{
    std::map<std::string, std::string> rows;
    for (const std::string& l : test::splitLines(test::runCommand({"mdb-export", "-H", file.string(), table}).out))
        rows[l.substr(0, l.find(','))] = l;
    return rows;
}

// Our consistency check; with `independent` also Jackcess's own walk of
// every index (jcheck), where it is at hand: it starts a Java machine, so it
// checks a sample of the files.
void expectSound(const fs::path& file, bool independent = true)
{
    auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto report = jet::checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    for (const auto& p : report->problems) ADD_FAILURE() << file << ": " << p;
    auto fixtures = test::fixturesDir();
    if (!independent || !fixtures || !test::haveProgram("java")) return;
    const fs::path jcheck = *fixtures / ".." / "tools" / "jcheck" / "jcheck";
    if (!fs::exists(jcheck)) return;
    test::CommandResult r = test::runCommand({jcheck.string(), "verify", file.string()});
    EXPECT_NE(r.out.find("problems=0"), std::string::npos) << r.out << r.err;
}

class ExecStatements : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
        original = dir.file("original.mdb");
        // General sort order: Jackcess checks the key bytes of its text indexes too.
        ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", original.string()}).exitCode, 0);
        std::string script = "CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Miktar LONG NOT NULL, "
                             "Tarih DATETIME, Aciklama MEMO)\n"
                             "CREATE INDEX ixBirim ON Stok (Birim)\n"
                             "CREATE TABLE Kodlar (Id COUNTER PRIMARY KEY, Kod TEXT(10))\n"
                             "CREATE UNIQUE INDEX ixKod ON Kodlar (Kod)\n"
                             "INSERT INTO Kodlar (Kod) VALUES ('K1')\nINSERT INTO Kodlar (Kod) VALUES ('K2')\n";
        const char* units[] = {"Adet", "KUTU", "ırmak", "İSTANBUL", "koli"};
        for (int i = 0; i < 50; ++i)
            script += "INSERT INTO Stok (Birim, Miktar, Tarih, Aciklama) VALUES ('" + std::string(units[i % 5]) + "', " +
                      std::to_string(i % 7) + ", #12/" + std::to_string(i % 9 + 1) + "/2010#, " +
                      (i % 4 == 0 ? std::string("Null") : "'not " + std::to_string(i) + "'") + ")\n";
        test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", original.string()}, script);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    fs::path copy(const std::string& name) { return test::copyWritable(original, dir.file(name)); }

    // The Ids the window's record source selects, read by our own engine.
    std::set<std::string> selectedIds(const std::string& where)
    {
        DataControl data;
        data.setRegionalSettings(RegionalSettings::unitedStates());
        data.SetDatabaseName(fromUtf8(original.string()));
        data.SetRecordSource(u"Select * From Stok" + (where.empty() ? std::u16string() : u" Where " + fromUtf8(where)));
        std::set<std::string> ids;
        EXPECT_TRUE(data.Refresh().isOk());
        RecordSet* rs = data.Recordset();
        if (!rs) return ids;
        for (bool more = rs->MoveFirst().isOk(); more && !*rs->Eof(); (void)rs->MoveNext()) {
            ids.insert(std::to_string((*(*rs->Fields(u"Id"))->Value()).asLong()));
        }
        (void)rs->Close();
        return ids;
    }

    test::TempDir dir;
    fs::path original;
};

TEST_F(ExecStatements, UpdateAndDeleteChangeExactlyTheRecordsTheRecordSourceSelects)
{
    const std::vector<std::string> conditions = {
        "",
        "Birim = 'adet'",
        "Miktar > 3 AND Birim <> 'KUTU'",
        "Birim LIKE 'K*'",
        "Tarih < #12/4/2010#",
        "Birim IN ('ırmak', 'İSTANBUL') OR Miktar = 0",
        "Aciklama IS NULL",
        "Miktar BETWEEN 2 AND 4",
        "UCase(Birim) = 'KOLI' AND NOT Id = 5",
        "Birim = 'yok'",
    };
    const auto before = exported(original, "Stok");
    ASSERT_EQ(before.size(), 50u);
    for (const std::string& where : conditions) {
        SCOPED_TRACE(where);
        const std::string clause = where.empty() ? "" : " WHERE " + where;
        const std::set<std::string> ids = selectedIds(where);
        const std::string count = std::to_string(ids.size()) + (ids.size() == 1 ? " record" : " records");

        // UPDATE through the indexed field: mdb-export sees the new value in
        // exactly the selected records and every other record as it was.
        const fs::path updated = copy("u.mdb");
        test::CommandResult u = test::runCommand({test::varnikaDb(), "exec", updated.string()},
                                                 "UPDATE Stok SET Birim = 'Yeni', Aciklama = 'değişti'" + clause + "\n");
        ASSERT_EQ(u.exitCode, 0) << u.err;
        EXPECT_EQ(u.out, "updated " + count + "\n");
        const auto after = exported(updated, "Stok");
        ASSERT_EQ(after.size(), 50u);
        for (const auto& [id, row] : after) {
            if (ids.count(id)) {
                EXPECT_NE(row.find(",\"Yeni\","), std::string::npos) << row;
                EXPECT_NE(row.find("\"değişti\""), std::string::npos) << row;
            } else {
                EXPECT_EQ(row, before.at(id));
            }
        }
        expectSound(updated, where.empty() || where == conditions[2]);

        const fs::path deleted = copy("d.mdb");
        test::CommandResult d = test::runCommand({test::varnikaDb(), "exec", deleted.string()}, "DELETE FROM Stok" + clause + ";\n");
        ASSERT_EQ(d.exitCode, 0) << d.err;
        EXPECT_EQ(d.out, "deleted " + count + "\n");
        const auto left = exported(deleted, "Stok");
        EXPECT_EQ(left.size(), 50u - ids.size());
        for (const auto& [id, row] : left) {
            EXPECT_EQ(ids.count(id), 0u);
            EXPECT_EQ(row, before.at(id));
        }
        expectSound(deleted, where.empty() || where == conditions[2]);
    }
}

TEST_F(ExecStatements, BadStatementsChangeNothing)
{
    const fs::path file = copy("kept.mdb");
    const std::string bytes = fileBytes(file);
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM Stok", "only CREATE TABLE, CREATE INDEX, ALTER TABLE, INSERT INTO, UPDATE and DELETE can be "
                               "run here, not SELECT"},
        {"DROP TABLE Stok", "can be run here, not DROP"},
        {"* FROM Stok", "can be run here"},
        {"UPDATE Stok SET Miktar = 'çok'", "Miktar"},
        {"UPDATE Stok SET Miktar = 99999999999", "Miktar"},
        {"UPDATE Stok SET Miktar = Null", "cannot be empty"},
        {"UPDATE Stok SET Birim = '123456789012345678901'", "Birim"},
        {"UPDATE Stok SET Tarih = #31/31/2010#", "Tarih"},
        {"UPDATE Stok SET Renk = 'mavi'", "no field \"Renk\""},
        {"UPDATE Stok SET Id = 7", "numbered automatically"},
        {"UPDATE Stok SET Miktar = Miktar + 1", "constant value"},
        {"UPDATE Stok SET Birim = 'a', Birim = 'b'", "set twice"},
        {"UPDATE Stok SET Birim = 'a' WHERE", "a condition after WHERE"},
        {"UPDATE Stok SET Birim = 'a' WHERE Renk = 1", "Renk"},
        {"UPDATE Stok SET Birim = 'a' WHERE Miktar = 'çok'", "çok"},
        {"UPDATE Stok SET Birim = 'a' WHERE (Miktar = 1", "syntax error"},
        {"UPDATE Stok SET Birim = 'a' ORDER BY Id", "WHERE or the end of the statement"},
        {"UPDATE Yok SET Birim = 'a'", "Yok"},
        {"UPDATE Stok Birim = 'a'", "SET"},
        {"DELETE Stok", "FROM after DELETE"},
        {"DELETE FROM Yok", "Yok"},
        {"DELETE FROM Stok WHERE Birim = 'a", "no closing quote"},
        {"DELETE FROM Stok WHERE Miktar / 0 = 1", "zero"},
    };
    for (const auto& [statement, message] : cases) {
        SCOPED_TRACE(statement);
        test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", file.string()}, std::string(statement) + "\n");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("line 1: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(fileBytes(file), bytes);
    }
}

// Lines end in a line feed, a carriage return and line feed, or the end of
// the input; a zero byte in a line is refused, never taken for its end.
TEST_F(ExecStatements, LinesAreReadWholeWhateverEndsThem)
{
    const fs::path file = copy("lines.mdb");
    std::string script = "INSERT INTO Kodlar (Kod) VALUES ('K3')\r\n\r\n-- a comment\r\n"
                         "INSERT INTO Kodlar (Kod) VALUES ('xxxxxxxxxx')\n"
                         "INSERT INTO Kodlar (Kod) VALUES ('K4')";
    test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", file.string()}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto rows = test::runCommand({"mdb-export", "-H", file.string(), "Kodlar"}).out;
    for (const char* kod : {"K3", "xxxxxxxxxx", "K4"}) EXPECT_NE(rows.find(kod), std::string::npos) << kod;

    const std::string bytes = fileBytes(file);
    std::string zero = "DELETE FROM Kodlar WHERE Kod = 'K3'";
    zero.push_back('\0');
    zero += " OR Kod <> 'K3'\n";
    r = test::runCommand({test::varnikaDb(), "exec", file.string()}, zero);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("line 1: ", 0), 0u) << r.err;
    EXPECT_EQ(fileBytes(file), bytes);

    // A statement longer than any buffer a line is read through.
    std::string longText(3000, 'y');
    r = test::runCommand({test::varnikaDb(), "exec", file.string()},
                         "INSERT INTO Stok (Birim, Miktar, Aciklama) VALUES ('uzun', 1, '" + longText + "')\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(test::runCommand({"mdb-export", "-H", file.string(), "Stok"}).out.find(longText), std::string::npos);
}

TEST_F(ExecStatements, AUniqueIndexStopsAnUpdateWhereTheWindowWould)
{
    // Records are written one at a time, as the window writes them: the
    // second record cannot take the key the first one took, so the run
    // stops there and says what stays changed.
    const fs::path file = copy("unique.mdb");
    test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", file.string()}, "UPDATE Kodlar SET Kod = 'K9'\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the 1 record changed before it stay changed"), std::string::npos) << r.err;
    EXPECT_EQ(exported(file, "Kodlar").at("1"), "1,\"K9\"");
    EXPECT_EQ(exported(file, "Kodlar").at("2"), "2,\"K2\"");
    expectSound(file);
}

// Runs of INSERTs are written together; a failure in a run still stops at
// its own line, with every statement before it saved and nothing after.
TEST_F(ExecStatements, AnInsertThatFailsStopsTheRunAtItsOwnLine)
{
    struct Case {
        const char* name;
        int failingLine;
        const char* message;
    } cases[] = {
        {"clash", 151, "the same value in a unique index"},   // a key an earlier line of the run took
        {"value", 90, "Miktar"},                              // a value the field cannot take
        {"syntax", 40, "syntax error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = copy(std::string(c.name) + ".mdb");
        std::string script;
        for (int line = 1; line <= 300; ++line) {
            if (line == c.failingLine && std::string(c.name) == "clash") {
                script += "INSERT INTO Kodlar (Kod) VALUES ('K120')\n";
            } else if (line == c.failingLine && std::string(c.name) == "value") {
                script += "INSERT INTO Stok (Birim, Miktar) VALUES ('Adet', 'çok')\n";
            } else if (line == c.failingLine) {
                script += "INSERT INTO Stok (Birim, Miktar) VALUES ('Adet' 1)\n";
            } else if (line % 3 == 0 && std::string(c.name) != "clash") {
                script += "INSERT INTO Stok (Birim, Miktar) VALUES ('Yeni" + std::to_string(line) + "', " + std::to_string(line) + ")\n";
            } else {
                script += "INSERT INTO Kodlar (Kod) VALUES ('K" + std::to_string(line + 100) + "')\n";
            }
        }
        test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", file.string()}, script);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("line " + std::to_string(c.failingLine) + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        const auto kodlar = exported(file, "Kodlar");
        const auto stok = exported(file, "Stok");
        std::set<std::string> kods, units;
        for (const auto& [id, row] : kodlar) kods.insert(row.substr(row.find(',') + 1));
        for (const auto& [id, row] : stok) units.insert(row.substr(row.find(',') + 1, row.find(',', row.find(',') + 1) - row.find(',') - 1));
        for (int line = 1; line <= 300; ++line) {
            const bool saved = line < c.failingLine;
            if (line == c.failingLine) continue;
            if (line % 3 == 0 && std::string(c.name) != "clash") {
                EXPECT_EQ(units.count("\"Yeni" + std::to_string(line) + "\""), saved ? 1u : 0u) << line;
            } else {
                EXPECT_EQ(kods.count("\"K" + std::to_string(line + 100) + "\""), saved ? 1u : 0u) << line;
            }
        }
        // The numbers taken by the lines undone are free again.
        r = test::runCommand({test::varnikaDb(), "exec", file.string()}, "INSERT INTO Kodlar (Kod) VALUES ('KX')\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(exported(file, "Kodlar").count(std::to_string(kodlar.size() + 1)), 1u);
        expectSound(file, std::string(c.name) == "clash");
    }
}

TEST(ExecInsert, LeftOutFieldsTakeTheirDefaultValues)
{
    if (!test::haveProgram("mdb-export") || !test::haveProgram("mdb-prop")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir dir;
    const fs::path file = dir.file("personel.mdb");
    ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", file.string()}).exitCode, 0);
    test::CommandResult r = test::runCommand(
        {test::varnikaDb(), "exec", file.string()},
        "CREATE TABLE Personel (Id COUNTER PRIMARY KEY, Ad TEXT(30) NOT NULL, Unvan TEXT(20) DEFAULT \"Memur\", "
        "Aktif BIT DEFAULT Yes, Maas CURRENCY DEFAULT 0, Giris DATETIME DEFAULT Date(), Kod TEXT(5) DEFAULT 'O''N', "
        "Puan DOUBLE DEFAULT -1.5, Bitis DATETIME DEFAULT #12/31/2030#)\n"
        "INSERT INTO Personel (Ad) VALUES ('Ali')\n"
        "INSERT INTO Personel (Ad, Unvan, Aktif) VALUES ('Veli', 'Şef', False)\n"
        "INSERT INTO Personel (Ad, Unvan, Maas) VALUES ('Can', Null, 12.5)\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    char today[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "%Y-%m-%d", std::localtime(&now));
    const std::vector<std::string> rows =
        test::splitLines(test::runCommand({"mdb-export", "-H", "-T", "%Y-%m-%d", file.string(), "Personel"}).out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], std::string("1,\"Ali\",\"Memur\",1,0.0000,\"") + today + "\",\"O'N\",-1.5,\"2030-12-31\"");
    EXPECT_EQ(rows[1], std::string("2,\"Veli\",\"Şef\",0,0.0000,\"") + today + "\",\"O'N\",-1.5,\"2030-12-31\"");
    // A field given Null stays Null: only a field left out takes its default.
    EXPECT_EQ(rows[2], std::string("3,\"Can\",,1,12.5000,\"") + today + "\",\"O'N\",-1.5,\"2030-12-31\"");

    // The properties as mdbtools reads them from the table's property block.
    const std::string props = test::runCommand({"mdb-prop", file.string(), "Personel"}).out;
    EXPECT_NE(props.find("name: Unvan\n\tDefaultValue: 'Memur'"), std::string::npos) << props;
    EXPECT_NE(props.find("name: Ad\n\tRequired: yes"), std::string::npos) << props;
    EXPECT_NE(props.find("DefaultValue: 'O''N'"), std::string::npos) << props;
    EXPECT_NE(test::runCommand({"mdb-schema", file.string()}).out.find("[Ad]\t\t\tText (30) NOT NULL"), std::string::npos);
    expectSound(file);

    // Defaults that cannot be a value of their field are refused with the table.
    const std::string bytes = fileBytes(file);
    const std::pair<const char*, const char*> bad[] = {
        {"CREATE TABLE B (X LONG DEFAULT 'abc')", "default value 'abc' of the field \"X\""},
        {"CREATE TABLE B (X TEXT(2) DEFAULT 'abc')", "\"X\""},
        {"CREATE TABLE B (X DATETIME DEFAULT Foo())", "does not evaluate"},
        {"CREATE TABLE B (X LONG DEFAULT)", "expected a default value"},
    };
    for (const auto& [statement, message] : bad) {
        test::CommandResult b = test::runCommand({test::varnikaDb(), "exec", file.string()}, std::string(statement) + "\n");
        EXPECT_EQ(b.exitCode, 1) << statement;
        EXPECT_NE(b.err.find(message), std::string::npos) << b.err;
        EXPECT_EQ(fileBytes(file), bytes) << statement;
    }
}

TEST(ExecInsert, AccessMadeDefaultsFillLeftOutFields)
{
    VK_REQUIRE_FIXTURES(fixtures);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir dir;
    // customer-register.mdb: sifre "0", durum "No"; testV2000.mdb: "0" on five number fields.
    const fs::path customers = test::copyWritable(fixtures / "turkish" / "customer-register.mdb", dir.file("c.mdb"));
    test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", customers.string()},
                                             "INSERT INTO tblMusteri (kad, ad) VALUES ('yeni', 'Yeni Kişi')\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> rows = test::splitLines(test::runCommand({"mdb-export", customers.string(), "tblMusteri"}).out);
    EXPECT_EQ(rows.back(), "\"yeni\",0,\"Yeni Kişi\",,,,0");

    const fs::path test2000 = test::copyWritable(fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    r = test::runCommand({test::varnikaDb(), "exec", test2000.string()},
                         "INSERT INTO Table1 (A, I) VALUES ('q', True)\nINSERT INTO Table4 (name) VALUES ('g')\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::splitLines(test::runCommand({"mdb-export", test2000.string(), "Table1"}).out).back(), "\"q\",,0,0,0,0,,0.0000,1");
    // GenGUID(): a new GUID in the key field.
    const std::string guid = test::splitLines(test::runCommand({test::varnikaDb(), "export", test2000.string(), "Table4"}).out).back();
    EXPECT_EQ(guid.size(), std::string("\"g\",\"{00000000-0000-0000-0000-000000000000}\"").size()) << guid;
    expectSound(customers);
    expectSound(test2000);
}

}  // namespace
}  // namespace varnika

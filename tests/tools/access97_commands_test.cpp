// varnika-db on Access 97 (Jet 3) files: every reading command on every
// table of the Access-made fixtures beside mdb-export; the schema made
// again in a new Access 97 file; and every writing command (replace in each
// mode, title case, delete-all, statements) on copies, each result read back
// by mdb-export and found sound by Jackcess (jcheck verify, which walks the
// indexes) and by our check.

#include "support/jackcess.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace varnika {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> access97Files(const fs::path& dir)
{
    std::vector<fs::path> files = test::mdbFilesIn(dir / "jet3");
    for (const auto& f : test::mdbFilesIn(dir / "jet3-turkish")) files.push_back(f);
    return files;
}

// The fields of CSV text as mdb-export writes it: quoted fields may hold
// commas, line breaks and doubled quotes.
std::vector<std::vector<std::string>> csvRecords(const std::string& text)
{
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') records.back().back() += text[++i];
            else if (c == '"') quoted = false;
            else records.back().back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().emplace_back();
        } else if (c == '\n') {
            records.emplace_back(1);
        } else {
            records.back().back() += c;
        }
    }
    if (records.back() == std::vector<std::string>(1)) records.pop_back();
    return records;
}

std::optional<double> number(const std::string& s)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end) return std::nullopt;
    return v;
}

std::string unhex(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i + 1 < s.size(); i += 2) out += char(std::stoi(s.substr(i, 2), nullptr, 16));
    return out;
}

// One field as we print it and as mdb-export -b hex prints it. The same
// value may be written differently: mdb-export prints floating-point
// numbers to a fixed number of digits where we print the shortest text that
// reads back as the same number; a byte code page 1252 leaves undefined
// reads here as the character of the same number (as Windows reads it),
// where mdb-export prints '?'; mdb-export prints a GUID as the hex of its
// text, that text lacking the hyphen before the last twelve digits; and it
// cannot print a date before 1900.
bool sameField(const std::string& ours, const std::string& theirs)
{
    if (ours == theirs) return true;
    std::string undefinedAsQuestionMark = ours;
    for (const char* c : {"\xc2\x81", "\xc2\x8d", "\xc2\x8f", "\xc2\x90", "\xc2\x9d"})
        for (size_t at = undefinedAsQuestionMark.find(c); at != std::string::npos; at = undefinedAsQuestionMark.find(c, at))
            undefinedAsQuestionMark.replace(at, 2, "?");
    if (undefinedAsQuestionMark == theirs) return true;
    // mdb-export prints every date before 1900 as day 0 of 1900.
    if (theirs == "1900-01-00 00:00:00" && ours.size() == theirs.size() && ours < "1899-12-30") return true;
    const auto x = number(ours), y = number(theirs);
    if (x && y) return std::fabs(*x - *y) <= 1e-7 * std::max({1.0, std::fabs(*x), std::fabs(*y)});
    if (ours.size() == 38 && ours.front() == '{' && theirs.size() == 74) {
        std::string guid = ours;
        guid.erase(24, 1);
        return unhex(theirs) == guid;
    }
    return false;
}

class Access97Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
        if (auto d = test::fixturesDir()) m_fixtures = *d;
    }
    // Tests of the Access-made files skip when VARNIKA_FIXTURES is unset.
    bool haveFixtures() const { return !m_fixtures.empty(); }

    test::CommandResult run(std::vector<std::string> args, const std::string& input = {})
    {
        args.insert(args.begin(), test::varnikaDb());
        return test::runCommand(args, input);
    }

    // The file as mdb-export, Jackcess and our check see it after a write.
    void expectSound(const fs::path& file, const std::string& what)
    {
        test::CommandResult check = run({"check", file.string()});
        EXPECT_EQ(check.exitCode, 0) << what << ":\n" << check.out << check.err;
        if (auto problems = test::jcheckProblems(file); test::jcheckPath() && problems)
            ADD_FAILURE() << what << ":\n" << *problems;
    }

    std::string mdbExport(const fs::path& file, const std::string& table)
    {
        return test::runCommand({"mdb-export", "-b", "hex", "-T", "%Y-%m-%d %H:%M:%S", file.string(), table}).out;
    }

    fs::path m_fixtures;
    test::TempDir m_dir;
};

TEST_F(Access97Commands, ReadingCommandsOnEveryTable)
{
    if (!haveFixtures()) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
    size_t tables = 0;
    for (const fs::path& file : access97Files(m_fixtures)) {
        test::CommandResult list = run({"tables", file.string()});
        ASSERT_EQ(list.exitCode, 0) << file << ": " << list.err;
        std::vector<std::string> ours = test::splitLines(list.out), theirs = test::splitLines(test::runCommand({"mdb-tables", "-1", file.string()}).out);
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(ours, theirs) << file;
        for (const std::string& t : ours) {
            test::CommandResult csv = run({"export", file.string(), t});
            ASSERT_EQ(csv.exitCode, 0) << file << " " << t << ": " << csv.err;
            const auto ourRecords = csvRecords(csv.out), theirRecords = csvRecords(mdbExport(file, t));
            ASSERT_EQ(ourRecords.size(), theirRecords.size()) << file.filename() << " " << t;
            for (size_t r = 0; r < ourRecords.size(); ++r) {
                ASSERT_EQ(ourRecords[r].size(), theirRecords[r].size()) << file.filename() << " " << t << " record " << r;
                for (size_t f = 0; f < ourRecords[r].size(); ++f)
                    EXPECT_TRUE(sameField(ourRecords[r][f], theirRecords[r][f]))
                        << file.filename() << " " << t << " record " << r << ": " << ourRecords[r][f] << " vs "
                        << theirRecords[r][f];
            }
            EXPECT_EQ(run({"columns", file.string(), t}).exitCode, 0) << t;
            EXPECT_EQ(run({"export", "--json", file.string(), t}).exitCode, 0) << t;
            ++tables;
        }
        EXPECT_EQ(run({"check", file.string()}).exitCode, 0) << file;
    }
    EXPECT_EQ(tables, 48u);
}

TEST_F(Access97Commands, TheSchemaMakesTheTablesAgainInANewAccess97File)
{
    if (!haveFixtures()) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
    for (const char* name : {"testV1997.mdb", "indexTestV1997.mdb", "test2V1997.mdb"}) {
        const fs::path file = m_fixtures / "jet3" / name;
        test::CommandResult schema = run({"schema", file.string()});
        ASSERT_EQ(schema.exitCode, 0) << name << ": " << schema.err;
        const fs::path made = m_dir.file(std::string("made-") + name);
        ASSERT_EQ(run({"create", made.string(), "--format", "jet3"}).exitCode, 0);
        test::CommandResult exec = run({"exec", made.string()}, schema.out);
        ASSERT_EQ(exec.exitCode, 0) << name << ": " << exec.err << "\n" << schema.out;
        test::CommandResult again = run({"schema", made.string()});
        EXPECT_EQ(again.out, schema.out) << name;
        EXPECT_EQ(test::runCommand({"mdb-ver", made.string()}).out, "JET3\n");
        expectSound(made, std::string("the schema of ") + name);
    }
}

TEST_F(Access97Commands, EveryWritingCommandLeavesASoundFile)
{
    if (!haveFixtures()) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
    const fs::path file = test::copyWritable(m_fixtures / "jet3" / "testIndexCodesV1997.mdb", m_dir.file("codes.mdb"));
    // Text into an index (Table1's data), longer and accented; a dry run
    // first changes nothing.
    const std::string before = mdbExport(file, "Table1");
    const std::string newText = "Ab\u00e7d\u00e9fg \u00c0 longer";
    test::CommandResult dry = run({"replace", file.string(), "--table", "Table1", "--field", "data", "--old", "AAdAA",
                                   "--new", newText, "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(dry.out.find("2 records would change"), std::string::npos) << dry.out;  // AAdAA and AADAA
    EXPECT_EQ(mdbExport(file, "Table1"), before);
    test::CommandResult r =
        run({"replace", file.string(), "--table", "Table1", "--field", "data", "--old", "AAdAA", "--new", newText});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(mdbExport(file, "Table1").find("\"row100\",\"" + newText + "\""), std::string::npos);
    expectSound(file, "replace into a text index");
    // Turkish title case makes a dotless i of a capital I, which code page
    // 1252 cannot hold: the run stops at the first such record, which is not
    // written; the records before it stay converted (as after any failing
    // record) under either index order, and the file is sound.
    for (const char* table : {"Table1", "Table1_desc"}) {
        r = run({"titlecase", file.string(), "--table", table, "--field", "data"});
        EXPECT_EQ(r.exitCode, 1) << table;
        EXPECT_NE(r.err.find("U+0131"), std::string::npos) << r.err;
        EXPECT_NE(mdbExport(file, table).find("\"AAIAA\""), std::string::npos) << table;
        expectSound(file, std::string("title case stopped in ") + table);
    }
    EXPECT_NE(mdbExport(file, "Table1").find("\"row101\",\"Aaeaa\""), std::string::npos);
    const std::string kept = mdbExport(file, "Table1");
    // A character code page 1252 cannot hold, in a replace.
    r = run({"replace", file.string(), "--table", "Table1", "--field", "data", "--old", "AA", "--new", "\u0131\u015f\u0131k"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("code page 1252"), std::string::npos) << r.err;
    EXPECT_EQ(mdbExport(file, "Table1"), kept);
    // Every record of a table.
    r = run({"delete-all", file.string(), "--source", "Table3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::splitLines(mdbExport(file, "Table3")).size(), 1u);
    expectSound(file, "delete-all");

    // Numbers and dates (testV1997's Table1) and statements.
    const fs::path other = test::copyWritable(m_fixtures / "jet3" / "testV1997.mdb", m_dir.file("t.mdb"));
    r = run({"replace", other.string(), "--table", "Table1", "--field", "E", "--numeric", "--old", "333333333", "--new", "-5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = run({"replace", other.string(), "--table", "Table1", "--field", "G", "--date", "--old", "12/12/1981", "--new", "01.02.2003"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = run({"exec", other.string()},
            "INSERT INTO Table1 (A, B, C, I) VALUES ('neu', 'Gr\u00fc\u00dfe', 7, True)\n"
            "UPDATE Table1 SET B = 'b2' WHERE A = 'a'\n"
            "ALTER TABLE Table1 ADD COLUMN Notiz MEMO\n"
            "INSERT INTO Table1 (A, Notiz) VALUES ('lang', '" + std::string(5000, 'm') + "')\n"
            "DELETE FROM Table1 WHERE A = 'abcdefg'\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string rows = mdbExport(other, "Table1");
    EXPECT_NE(rows.find("\"a\",\"b2\",0,0,0,0,\"2003-02-01 00:00:00\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"neu\",\"Gr\u00fc\u00dfe\",7"), std::string::npos) << rows;
    EXPECT_NE(rows.find(std::string(5000, 'm')), std::string::npos);
    EXPECT_EQ(rows.find("abcdefg"), std::string::npos);
    expectSound(other, "numbers, dates and statements");

    // The Turkish file: title case in code page 1254 (no index over the field).
    const fs::path turkish = test::copyWritable(m_fixtures / "jet3-turkish" / "turkish-codepage.mdb", m_dir.file("tr.mdb"));
    r = run({"titlecase", turkish.string(), "--table", "Kisi", "--field", "SOYAD"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(mdbExport(turkish, "Kisi").find("\"AZM\u0130\",\"\u015eahin\""), std::string::npos) << mdbExport(turkish, "Kisi");
    expectSound(turkish, "title case in code page 1254");
}

TEST_F(Access97Commands, ANewAccess97FileTakesTablesRecordsAndIndexes)
{
    for (const char* sort : {"general", "turkish"}) {
        const fs::path file = m_dir.file(std::string("new-") + sort + ".mdb");
        ASSERT_EQ(run({"create", file.string(), "--format", "jet3", "--sort", sort}).exitCode, 0);
        EXPECT_EQ(test::runCommand({"mdb-ver", file.string()}).out, "JET3\n");
        const bool turkish = std::string(sort) == "turkish";
        // Text indexes under the General order only: the Turkish order of
        // Access 97 is known for few characters.
        std::string statements =
            "CREATE TABLE Kisi (ID COUNTER PRIMARY KEY, AD TEXT(40) NOT NULL, Tarih DATETIME, Tutar CURRENCY, Not MEMO, "
            "Sayi LONG DEFAULT 3)\n"
            "CREATE UNIQUE INDEX ixTS ON Kisi (Tarih DESC, Sayi)\n";
        if (!turkish) statements += "CREATE INDEX ixAd ON Kisi (AD)\nCREATE INDEX ixAdDesc ON Kisi (AD DESC)\n";
        const char* names[] = {turkish ? "\u015fah\u0130n" : "m\u00fcller", turkish ? "\u00e7a\u011fla" : "\u00e5sa", "zeta"};
        const char* titled[] = {turkish ? "\u015eahin" : "M\u00fcller", turkish ? "\u00c7a\u011fla" : "\u00c5sa", "Zeta"};
        for (int i = 0; i < 60; ++i)
            statements += "INSERT INTO Kisi (AD, Tarih, Tutar, Not) VALUES ('" + std::string(names[i % 3]) + " " +
                          std::to_string(i) + "', #2021-" + std::to_string(i / 28 + 1) + "-" + std::to_string(i % 28 + 1) +
                          "#, " + std::to_string(i) + ".25, '" + std::string(size_t(i) * 40, 'n') + "')\n";
        test::CommandResult r = run({"exec", file.string()}, statements);
        ASSERT_EQ(r.exitCode, 0) << sort << ": " << r.err;
        std::vector<std::string> rows = test::splitLines(mdbExport(file, "Kisi"));
        ASSERT_EQ(rows.size(), 61u) << sort;
        EXPECT_EQ(rows[1].rfind("1,\"" + std::string(names[0]) + " 0\",\"2021-01-01 00:00:00\",0.2500,,3", 0), 0u) << rows[1];
        expectSound(file, std::string("a new file, sort ") + sort);
        r = run({"titlecase", file.string(), "--table", "Kisi", "--field", "AD"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        rows = test::splitLines(mdbExport(file, "Kisi"));
        ASSERT_EQ(rows.size(), 61u) << sort;
        for (int i = 0; i < 60; ++i)
            EXPECT_EQ(rows[size_t(i) + 1].rfind(std::to_string(i + 1) + ",\"" + titled[i % 3] + " " + std::to_string(i) + "\"", 0), 0u)
                << rows[size_t(i) + 1];
        expectSound(file, std::string("title case in a new file, sort ") + sort);
        r = run({"replace", file.string(), "--table", "Kisi", "--field", "AD", "--old", "Zeta 2", "--new", "Zeta zwei"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, " Kay\u0131t: 1\n");
        expectSound(file, std::string("a replace in a new file, sort ") + sort);
    }
}

}  // namespace
}  // namespace varnika

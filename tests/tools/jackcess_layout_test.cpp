// Files laid out by another writer: Jackcess (through jcheck make) moves the
// global page map's window past page 0 and sizes its maps its own way. Every
// bulk operation of varnika-db, inserts, a new column and a random mixture
// run on such files; after each, Jackcess finds every table and index sound,
// our check passes, the rows are exactly the ones expected (Jackcess'
// dump before, changed by the same rule, against its dump after), and
// mdb-export reads the same rows as our export.

#include "support/ddl_test_support.h"
#include "support/jackcess.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace varnika {
namespace {

namespace fs = std::filesystem;

// A stock table of 25,000 records: a unique text index, a two-column index,
// a text index to title-case, a date index, a date index that leaves out
// the records where the date is null, memos.
const char* const kStokLayout = R"json({"format":"V2000","tables":[{"name":"Stok","columns":[
 {"name":"ID","type":"LONG","autonumber":true},
 {"name":"Kod","type":"TEXT(20)"},
 {"name":"Ad","type":"TEXT(60)"},
 {"name":"Birim","type":"TEXT(30)"},
 {"name":"Miktar","type":"LONG"},
 {"name":"Tarih","type":"DATETIME"},
 {"name":"Zaman","type":"DATETIME"},
 {"name":"Fiyat","type":"CURRENCY"},
 {"name":"Notlar","type":"MEMO"}],
 "indexes":[{"name":"PrimaryKey","columns":["ID"],"primary":true},{"name":"Kod","columns":["Kod"],"unique":true},
            {"name":"Birim","columns":["Birim","Miktar DESC"]},{"name":"Ad","columns":["Ad"]},{"name":"Tarih","columns":["Tarih"]},
            {"name":"Zaman","columns":["Zaman"],"ignoreNulls":true}],
 "generate":{"count":25000,"seed":11,"columns":{"ID":{"seq":1},"Kod":{"format":"K{n}"},"Ad":{"format":"ürün {n} açıklaması"},
   "Birim":{"choice":["Adet","Kutu","Kg","Metre","Paket"]},"Miktar":{"choice":[1,2,3,5,8]},
   "Tarih":{"choice":["2010-12-31","2011-01-15","2012-05-05"]},
   "Zaman":{"choice":["2015-03-15T08:30:00","2015-03-15T17:45:10","2014-01-01T12:00:00"],"nulls":0.1},
   "Fiyat":{"decimal":[0,1000],"scale":2},"Notlar":{"text":[0,400],"nulls":0.5}}}}]})json";

// The raw JSON text of field `name` in a dump line, and that line with it
// replaced. Values hold no '"' of their own in these tables.
std::string fieldOf(const std::string& line, const std::string& name)
{
    const std::string key = "\"" + name + "\":";
    size_t at = line.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    size_t end = line[at] == '"' ? line.find('"', at + 1) + 1 : line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

std::string withField(std::string line, const std::string& name, const std::string& raw)
{
    const std::string key = "\"" + name + "\":";
    size_t at = line.find(key) + key.size();
    size_t end = line[at] == '"' ? line.find('"', at + 1) + 1 : line.find_first_of(",}", at);
    return line.replace(at, end - at, raw);
}

using Rows = std::vector<std::string>;

Rows sorted(Rows rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

class JackcessLayout : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::jcheckPath()) GTEST_SKIP() << "jcheck (Java, Jackcess) is not available; Jackcess-layout test skipped";
        std::string error;
        auto made = test::jackcessDatabase(kStokLayout, &error);
        ASSERT_TRUE(made) << error;
        m_file = test::copyWritable(*made, m_dir.file("stok.mdb"));
        m_rows = test::jcheckRows(m_file, "Stok");
        ASSERT_EQ(m_rows.size(), 25000u);
    }

    test::CommandResult run(std::vector<std::string> args, const std::string& input = {})
    {
        args.insert(args.begin() + 1, m_file.string());
        args.insert(args.begin(), test::varnikaDb());
        return test::runCommand(args, input);
    }

    // Jackcess and our check find the file sound and its rows are `expected`.
    void expectSoundWith(const Rows& expected)
    {
        auto problems = test::jcheckProblems(m_file);
        EXPECT_FALSE(problems) << *problems;
        auto check = test::runCommand({test::varnikaDb(), "check", m_file.string()});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_EQ(sorted(test::jcheckRows(m_file, "Stok")), sorted(expected));
        if (jet::ddltest::haveMdbTools()) {
            // The same format for dates and times (mdb-export's -T is our
            // -D); the rest is written alike, an empty memo aside, which
            // mdb-export writes as nothing and the parsed rows hold as "".
            const std::string dates = "%Y-%m-%d %H:%M:%S";
            auto theirs = test::runCommand({"mdb-export", "-T", dates, m_file.string(), "Stok"});
            auto ours = test::runCommand({test::varnikaDb(), "export", "-D", dates, m_file.string(), "Stok"});
            ASSERT_EQ(theirs.exitCode, 0) << theirs.err;
            ASSERT_EQ(ours.exitCode, 0) << ours.err;
            auto theirRows = jet::ddltest::parseCsv(theirs.out), ourRows = jet::ddltest::parseCsv(ours.out);
            EXPECT_EQ(theirRows.size(), expected.size() + 1);
            std::sort(theirRows.begin(), theirRows.end());
            std::sort(ourRows.begin(), ourRows.end());
            EXPECT_TRUE(theirRows == ourRows) << "mdb-export reads other rows than our export";
        }
    }

    static Rows changed(Rows rows, const std::function<std::string(const std::string&)>& change)
    {
        for (std::string& r : rows) r = change(r);
        return rows;
    }

    test::TempDir m_dir;
    fs::path m_file;
    Rows m_rows;
};

TEST_F(JackcessLayout, TheGlobalMapStartsPastPageZero)
{
    auto check = test::runCommand({test::varnikaDb(), "check", m_file.string()});
    ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("the global page map covers pages"), std::string::npos) << check.out;
}

TEST_F(JackcessLayout, ReplaceInEachMode)
{
    // Text, into an index of two columns, with a longer value.
    auto r = run({"replace", "--table", "Stok", "--field", "Birim", "--old", "Adet", "--new", "Koli (büyük boy)"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rows expected = changed(m_rows, [](const std::string& l) {
        return fieldOf(l, "Birim") == "\"Adet\"" ? withField(l, "Birim", "\"Koli (büyük boy)\"") : l;
    });
    // A number.
    r = run({"replace", "--table", "Stok", "--field", "Miktar", "--numeric", "--old", "3", "--new", "30"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expected = changed(expected, [](const std::string& l) { return fieldOf(l, "Miktar") == "3" ? withField(l, "Miktar", "30") : l; });
    // A date (month first in the old value, the user's settings in the new).
    r = run({"replace", "--table", "Stok", "--field", "Tarih", "--date", "--old", "12/31/2010", "--new", "31.12.2012"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expected = changed(expected, [](const std::string& l) {
        return fieldOf(l, "Tarih") == "\"2010-12-31T00:00:00\"" ? withField(l, "Tarih", "\"2012-12-31T00:00:00\"") : l;
    });
    // A new date that keeps each record's time of day.
    r = run({"replace", "--table", "Stok", "--field", "Zaman", "--datetime", "--old", "03/15/2015", "--new", "20.06.2016"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expected = changed(expected, [](const std::string& l) {
        std::string v = fieldOf(l, "Zaman");
        return v.starts_with("\"2015-03-15T") ? withField(l, "Zaman", "\"2016-06-20T" + v.substr(12)) : l;
    });
    expectSoundWith(expected);
}

// exec's UPDATE and DELETE in one list: their index changes wait for the
// list's group and are written as each statement ends.
TEST_F(JackcessLayout, ExecUpdatesAndDeletesInOneList)
{
    const std::string kod = fieldOf(m_rows[100], "Kod");  // "K..."
    const std::string list = "UPDATE Stok SET Birim = 'Koli' WHERE Birim = 'Kutu'\n"
                             "DELETE FROM Stok WHERE Birim = 'Metre'\n"
                             "UPDATE Stok SET Ad = 'tek' WHERE Kod = '" + kod.substr(1, kod.size() - 2) + "'\n";
    auto r = run({"exec"}, list);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rows expected = changed(m_rows, [&](const std::string& l) {
        std::string line = l;
        if (fieldOf(line, "Birim") == "\"Kutu\"") line = withField(line, "Birim", "\"Koli\"");
        if (fieldOf(line, "Kod") == kod) line = withField(line, "Ad", "\"tek\"");
        return line;
    });
    std::erase_if(expected, [](const std::string& l) { return fieldOf(l, "Birim") == "\"Metre\""; });
    ASSERT_LT(expected.size(), m_rows.size());
    expectSoundWith(expected);
}

TEST_F(JackcessLayout, TitleCaseDeleteInsertAndANewColumn)
{
    auto r = run({"titlecase", "--table", "Stok", "--field", "Ad"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rows expected = changed(m_rows, [](const std::string& l) {
        std::string v = fieldOf(l, "Ad");  // "ürün N açıklaması"
        const size_t from = v.find(' ') + 1, to = v.rfind(' ');
        return withField(l, "Ad", "\"Ürün " + v.substr(from, to - from) + " Açıklaması\"");
    });

    r = run({"delete-all", "--source", "Select * From Stok where Birim='Kg'"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::erase_if(expected, [](const std::string& l) { return fieldOf(l, "Birim") == "\"Kg\""; });

    std::string inserts;
    for (int i = 1; i <= 300; ++i) {
        inserts += "INSERT INTO Stok (ID, Kod, Ad, Birim, Miktar) VALUES (" + std::to_string(100000 + i) + ", 'Y" +
                   std::to_string(i) + "', 'yeni " + std::to_string(i) + "', 'Adet', " + std::to_string(i % 7) + ")\n";
        expected.push_back("{\"ID\":" + std::to_string(100000 + i) + ",\"Kod\":\"Y" + std::to_string(i) + "\",\"Ad\":\"yeni " +
                           std::to_string(i) + "\",\"Birim\":\"Adet\",\"Miktar\":" + std::to_string(i % 7) +
                           ",\"Tarih\":null,\"Zaman\":null,\"Fiyat\":null,\"Notlar\":null}");
    }
    r = run({"exec"}, inserts);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = run({"exec"}, "ALTER TABLE Stok ADD COLUMN Yeni TEXT(10)\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expected = changed(expected, [](const std::string& l) { return l.substr(0, l.size() - 1) + ",\"Yeni\":null}"; });
    expectSoundWith(expected);
}

TEST_F(JackcessLayout, ARandomMixtureOfRuns)
{
    std::mt19937 random(20261208);
    const std::vector<std::string> units{"Adet", "Kutu", "Kg", "Metre", "Paket", "Çuval", "İğne ucu", "Koli"};
    Rows expected = m_rows;
    int nextId = 200000;
    for (int step = 0; step < 14; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const std::string a = units[random() % units.size()], b = units[random() % units.size()];
        const std::string quotedA = "\"" + a + "\"";
        switch (random() % 3) {
        case 0: {
            auto r = run({"replace", "--table", "Stok", "--field", "Birim", "--old", a, "--new", b});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            expected = changed(expected, [&](const std::string& l) {
                return fieldOf(l, "Birim") == quotedA ? withField(l, "Birim", "\"" + b + "\"") : l;
            });
            break;
        }
        case 1: {
            // A part of a unit's records, so that units stay.
            const std::string amount = std::to_string(1 + random() % 2);
            auto r = run({"delete-all", "--source", "Select * From Stok where Birim='" + a + "' and Miktar=" + amount});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            std::erase_if(expected, [&](const std::string& l) { return fieldOf(l, "Birim") == quotedA && fieldOf(l, "Miktar") == amount; });
            break;
        }
        default: {
            std::string inserts;
            for (int i = 0; i < 40; ++i, ++nextId) {
                const std::string id = std::to_string(nextId), note(size_t(1 + random() % 3000), 'n');
                inserts += "INSERT INTO Stok (ID, Kod, Birim, Miktar, Notlar) VALUES (" + id + ", 'R" + id + "', '" + b +
                           "', 2, '" + note + "')\n";
                expected.push_back("{\"ID\":" + id + ",\"Kod\":\"R" + id + "\",\"Ad\":null,\"Birim\":\"" + b +
                                   "\",\"Miktar\":2,\"Tarih\":null,\"Zaman\":null,\"Fiyat\":null,\"Notlar\":\"" + note + "\"}");
            }
            auto r = run({"exec"}, inserts);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            break;
        }
        }
    }
    expectSoundWith(expected);
}


// A file past 128 MB (Jackcess' layout, a memo page for each record): the
// bulk operations grow it further, and Jackcess still finds it sound.
const char* const kLargeLayout = R"json({"format":"V2000","tables":[{"name":"Belge","columns":[
 {"name":"ID","type":"LONG","autonumber":true},
 {"name":"Kod","type":"TEXT(20)"},
 {"name":"Birim","type":"TEXT(40)"},
 {"name":"Aciklama","type":"TEXT(60)"},
 {"name":"Metin","type":"MEMO"}],
 "indexes":[{"name":"PrimaryKey","columns":["ID"],"primary":true},{"name":"Kod","columns":["Kod"],"unique":true},
            {"name":"Birim","columns":["Birim"]}],
 "generate":{"count":34000,"seed":3,"columns":{"ID":{"seq":1},"Kod":{"format":"K{n}"},
   "Birim":{"choice":["Adet","Kutu","Kg","Metre"]},"Aciklama":{"format":"belge {n} metni"},
   "Metin":{"text":[1800,1950],"alphabet":"abcdefghijklmnoprstuvyz "}}}}]})json";

TEST(JackcessLargeFile, BulkOperationsPast128Megabytes)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the large file's run is left to the plain builds";
#endif
    VK_REQUIRE_JCHECK(jcheckScript);
    std::string error;
    auto made = test::jackcessDatabase(kLargeLayout, &error);
    ASSERT_TRUE(made) << error;
    test::TempDir dir;
    const fs::path file = test::copyWritable(*made, dir.file("large.mdb"));
    constexpr uintmax_t k128MB = uintmax_t(128) << 20;
    ASSERT_GT(fs::file_size(file), k128MB);
    Rows expected = test::jcheckRows(file, "Belge");
    ASSERT_EQ(expected.size(), 34000u);
    auto run = [&](std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin() + 1, file.string());
        args.insert(args.begin(), test::varnikaDb());
        return test::runCommand(args, input);
    };

    const std::string note(2500, 'y');
    auto r = run({"replace", "--table", "Belge", "--field", "Birim", "--old", "Adet", "--new", "Yeni Uzun Birim Adı",
                  "--field2", "Metin", "--new2", note});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (std::string& l : expected)
        if (fieldOf(l, "Birim") == "\"Adet\"") l = withField(withField(l, "Birim", "\"Yeni Uzun Birim Adı\""), "Metin", "\"" + note + "\"");

    r = run({"titlecase", "--table", "Belge", "--field", "Aciklama"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (std::string& l : expected) {
        std::string v = fieldOf(l, "Aciklama");  // "belge N metni"
        const size_t from = v.find(' ') + 1, to = v.rfind(' ');
        l = withField(l, "Aciklama", "\"Belge " + v.substr(from, to - from) + " Metni\"");
    }

    r = run({"delete-all", "--source", "Select * From Belge where Birim='Kg'"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::erase_if(expected, [](const std::string& l) { return fieldOf(l, "Birim") == "\"Kg\""; });

    std::string inserts;
    for (int i = 1; i <= 200; ++i) {
        const std::string id = std::to_string(50000 + i), text(size_t(100 * i), 'z');
        inserts += "INSERT INTO Belge (ID, Kod, Birim, Metin) VALUES (" + id + ", 'N" + id + "', 'Koli', '" + text + "')\n";
        expected.push_back("{\"ID\":" + id + ",\"Kod\":\"N" + id + "\",\"Birim\":\"Koli\",\"Aciklama\":null,\"Metin\":\"" + text + "\"}");
    }
    r = run({"exec"}, inserts + "ALTER TABLE Belge ADD COLUMN Durum TEXT(10)\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (std::string& l : expected) l = l.substr(0, l.size() - 1) + ",\"Durum\":null}";

    EXPECT_GT(fs::file_size(file), k128MB + (uintmax_t(20) << 20));
    auto problems = test::jcheckProblems(file);
    EXPECT_FALSE(problems) << *problems;
    auto check = test::runCommand({test::varnikaDb(), "check", file.string()});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(sorted(test::jcheckRows(file, "Belge")), sorted(expected));
}

}  // namespace
}  // namespace varnika

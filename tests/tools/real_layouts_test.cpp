// varnika-db on the layouts Access leaves in real files, side by side with
// the independent readers: mdb-export (mdbtools) and jcheck (Jackcess),
// where they are at hand. The real files that show the layouts, and files
// our writer makes in them (support/layout_files.h), are read, changed by
// the bulk commands and statements, and checked; damaged copies are
// refused before their first record, or changed, as their kind of damage
// asks.

#include "support/layout_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace varnika {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::optional<fs::path> jcheck()
{
    auto fixtures = test::fixturesDir();
    if (!fixtures || !test::haveProgram("java")) return std::nullopt;
    fs::path path = *fixtures / ".." / "tools" / "jcheck" / "jcheck";
    if (!fs::exists(path)) return std::nullopt;
    return path;
}

// The lines of an export, sorted, with GUIDs left out (mdbtools prints
// their last group differently).
std::vector<std::string> sortedLines(const std::string& csv)
{
    static const std::regex guid("\"\\{[0-9A-Fa-f-]+\\}\"");
    std::vector<std::string> out;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) out.push_back(std::regex_replace(line, guid, ""));
    std::sort(out.begin(), out.end());
    return out;
}

// Lines of `text` that start with `prefix`.
size_t lineCount(const std::string& text, const std::string& prefix)
{
    size_t n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += !line.empty() && line.rfind(prefix, 0) == 0;
    return n;
}

std::vector<std::string> tablesOf(const fs::path& file)
{
    std::vector<std::string> out;
    std::istringstream in(test::runCommand({test::varnikaDb(), "tables", file.string()}).out);
    for (std::string name; std::getline(in, name);)
        if (!name.empty()) out.push_back(name);
    return out;
}

// Our export of every table holds the records mdb-export prints (in its
// order they may differ: it lists moved rows where their bytes are), and
// Jackcess counts as many; with `sound`, our check and Jackcess's verify
// find nothing wrong.
void expectReadAlike(const fs::path& file, bool sound = true)
{
    const std::vector<std::string> tables = tablesOf(file);
    ASSERT_FALSE(tables.empty()) << file;
    for (const std::string& table : tables) {
        test::CommandResult ours = test::runCommand({test::varnikaDb(), "export", file.string(), table});
        ASSERT_EQ(ours.exitCode, 0) << file << " " << table << ": " << ours.err;
        if (test::haveProgram("mdb-export")) {
            test::CommandResult theirs = test::runCommand({"mdb-export", "-T", "%Y-%m-%d %H:%M:%S", file.string(), table});
            EXPECT_EQ(sortedLines(ours.out), sortedLines(theirs.out)) << file << " " << table;
        }
        if (auto j = jcheck()) {
            test::CommandResult dump = test::runCommand({j->string(), "dump", file.string(), table});
            test::CommandResult json = test::runCommand({test::varnikaDb(), "export", "--json", file.string(), table});
            EXPECT_EQ(lineCount(json.out, ""), lineCount(dump.out, "{")) << file << " " << table;
        }
    }
    if (!sound) return;
    test::CommandResult check = test::runCommand({test::varnikaDb(), "check", file.string()});
    EXPECT_EQ(check.exitCode, 0) << file << ":\n" << check.out << check.err;
    if (auto j = jcheck()) {
        test::CommandResult verify = test::runCommand({j->string(), "verify", file.string()});
        EXPECT_NE(verify.out.find("problems=0"), std::string::npos) << file << ":\n" << verify.out << verify.err;
    }
}

TEST(RealLayouts, TheFilesThatShowThemReadAsTheOtherReadersReadThem)
{
    VK_REQUIRE_FIXTURES(fixtures);
    for (const char* file : {"odd/stale-moved-rows.mdb", "odd/variable-numeric.mdb", "turkish/member-nicknames.mdb"})
        expectReadAlike(fixtures / file);
    // Jackcess lists a moved record at its own slot, as we do.
    if (auto j = jcheck()) {
        test::CommandResult dump = test::runCommand({j->string(), "dump", (fixtures / "odd/stale-moved-rows.mdb").string(), "Books"});
        test::CommandResult ours = test::runCommand({test::varnikaDb(), "export", "--json", (fixtures / "odd/stale-moved-rows.mdb").string(), "Books"});
        std::vector<std::string> theirIds, ourIds;
        static const std::regex id("\"BookID\": ?([0-9]+)");
        for (auto it = std::sregex_iterator(dump.out.begin(), dump.out.end(), id); it != std::sregex_iterator(); ++it)
            theirIds.push_back((*it)[1]);
        for (auto it = std::sregex_iterator(ours.out.begin(), ours.out.end(), id); it != std::sregex_iterator(); ++it)
            ourIds.push_back((*it)[1]);
        EXPECT_EQ(ourIds, theirIds);
        EXPECT_EQ(ourIds.size(), 10u);
    }
}

// The bulk commands and statements on moved rows with stale slots and on
// numbers stored as variable-length values; after each the file is sound
// and read alike.
TEST(RealLayouts, BulkCommandsOnTheLayouts)
{
    test::TempDir dir;
    const fs::path moved = dir.file("moved.mdb"), numbers = dir.file("numbers.mdb");
    ASSERT_TRUE(jet::layouts::makeStaleMovedRows(moved.string()).isOk());
    ASSERT_TRUE(jet::layouts::makeVariableNumbers(numbers.string()).isOk());
    expectReadAlike(moved);
    expectReadAlike(numbers);
    const std::vector<std::pair<fs::path, std::vector<std::string>>> steps = {
        {moved, {"replace", moved.string(), "--table", "Kitap", "--field", "Yazar", "--old", "Yazar 3", "--new",
                 "Yazar Üç, adı uzadıkça uzayan bir yazar"}},
        {moved, {"titlecase", moved.string(), "--table", "Kitap", "--field", "Ad"}},
        {moved, {"replace", moved.string(), "--table", "Kitap", "--field", "Sayfa", "--old", "101", "--new", "9", "--numeric"}},
        {numbers, {"replace", numbers.string(), "--table", "Olcum", "--field", "Fiyat", "--old", "19.99", "--new", "20,5",
                   "--numeric"}},
        {numbers, {"replace", numbers.string(), "--table", "Olcum", "--field", "Agirlik", "--old", "-3", "--new", "7,25",
                   "--numeric"}},
        {numbers, {"titlecase", numbers.string(), "--table", "Olcum", "--field", "Ad"}},
    };
    for (const auto& [file, args] : steps) {
        std::vector<std::string> argv = {test::varnikaDb()};
        argv.insert(argv.end(), args.begin(), args.end());
        test::CommandResult r = test::runCommand(argv);
        ASSERT_EQ(r.exitCode, 0) << args[0] << " " << args[3] << ": " << r.err;
    }
    const std::string movedScript = "DELETE FROM Kitap WHERE Sayfa > 150\n"
                                    "INSERT INTO Kitap (Ad, Yazar, Sayfa) VALUES ('Yeni kitap', 'Yazar 1', 5)\n"
                                    "ALTER TABLE Kitap ADD COLUMN Fiyat NUMERIC(10,2)\n"
                                    "UPDATE Kitap SET Fiyat = 12.5 WHERE Sayfa < 110\n";
    const std::string numbersScript = "UPDATE Olcum SET Agirlik = 1.5, Tarih = #1/2/2020#, Kod = Null WHERE Id < 5\n"
                                      "DELETE FROM Olcum WHERE Id = 7\n"
                                      "ALTER TABLE Olcum ADD COLUMN Son DOUBLE\n"
                                      "INSERT INTO Olcum (Ad, Fiyat, Son, Miktar) VALUES ('son', 1.5, 2.5, -4)\n";
    for (const auto& [file, script] : {std::pair{moved, movedScript}, std::pair{numbers, numbersScript}}) {
        test::CommandResult r = test::runCommand({test::varnikaDb(), "exec", file.string()}, script);
        ASSERT_EQ(r.exitCode, 0) << file << ": " << r.err;
    }
    expectReadAlike(moved);
    expectReadAlike(numbers);
    test::CommandResult price = test::runCommand({test::varnikaDb(), "export", numbers.string(), "Olcum"});
    EXPECT_NE(price.out.find(",20.50,"), std::string::npos) << price.out;
    EXPECT_NE(price.out.find("\"son\",,,-4,,,,,,1.50,2.5"), std::string::npos) << price.out;

    ASSERT_EQ(test::runCommand({test::varnikaDb(), "delete-all", numbers.string(), "--source", "Olcum"}).exitCode, 0);
    expectReadAlike(numbers);
}

// Damage a copy made while the file was open leaves: refused before the
// first record, the file untouched, when an index misses an entry or a
// record cannot be read; changed when only the stored count is off, or a
// moved row's record was deleted. The check reports each.
TEST(RealLayouts, DamagedCopies)
{
    struct Case {
        const char* name;
        std::function<Status(jet::layouts::MovedRows&)> damage;
        bool refused;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"stale row count", [](jet::layouts::MovedRows& m) { return jet::layouts::setStoredRowCount(*m.db, u"Kitap", 63); },
         false, "problem: Kitap: the table records 63 rows but holds 60"},
        {"moved row without its record",
         [](jet::layouts::MovedRows& m) { return jet::layouts::orphanMovedRow(m).status(); }, false,
         "is a moved row whose record was deleted"},
        {"index entry missing",
         [](jet::layouts::MovedRows& m) { return jet::layouts::dropIndexEntry(*m.db, u"Kitap", u"ixYazar", m.headers.at(1)); },
         true, "problem: Kitap index \"ixYazar\": holds 59 entries where its rows make 60"},
        {"moved bytes lost", [](jet::layouts::MovedRows& m) { return jet::layouts::loseMovedBytes(m).status(); }, true,
         "which is not a moved row of the table"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const fs::path file = dir.file("t.mdb");
        {
            auto m = jet::layouts::makeMovedRows(file.string());
            ASSERT_TRUE(m.isOk());
            ASSERT_TRUE(c.damage(*m).isOk()) << c.name;
        }
        test::CommandResult check = test::runCommand({test::varnikaDb(), "check", file.string()});
        EXPECT_EQ(check.exitCode, 1) << c.name;
        EXPECT_NE(check.out.find(c.problem), std::string::npos) << c.name << ":\n" << check.out;

        const std::string before = fileBytes(file);
        if (c.refused) {
            // Over the whole table, and over the records a condition picks
            // (whose reading meets the damage first).
            test::CommandResult all = test::runCommand({test::varnikaDb(), "titlecase", file.string(), "--table", "Kitap", "--field", "Ad"});
            EXPECT_EQ(all.exitCode, 1) << c.name << ": " << all.out;
            EXPECT_NE(all.err.find("table \"Kitap\" is damaged and is not changed; Access's \"Compact and Repair\" mends it"),
                      std::string::npos)
                << c.name << ": " << all.err;
            test::CommandResult some = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Kitap", "--field",
                                                         "Sayfa", "--old", "130", "--new", "9", "--numeric"});
            EXPECT_EQ(some.exitCode, 1) << c.name << ": " << some.out;
            EXPECT_NE(some.err.find("Kitap"), std::string::npos) << c.name << ": " << some.err;
            EXPECT_EQ(fileBytes(file), before) << c.name;
            continue;
        }
        test::CommandResult run = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Kitap", "--field",
                                                    "Sayfa", "--old", "130", "--new", "9", "--numeric"});
        EXPECT_EQ(run.exitCode, 0) << c.name << ": " << run.err;
        test::CommandResult after = test::runCommand({test::varnikaDb(), "check", file.string()});
        EXPECT_NE(after.out.find(c.problem), std::string::npos) << c.name << ":\n" << after.out;
        EXPECT_EQ(lineCount(after.out, "problem:"), lineCount(check.out, "problem:")) << c.name << ":\n" << after.out;
        test::CommandResult rows = test::runCommand({test::varnikaDb(), "export", file.string(), "Kitap"});
        EXPECT_EQ(rows.out.find(",130\n"), std::string::npos) << c.name;
        EXPECT_NE(rows.out.find(",9\n"), std::string::npos) << c.name;
    }
}

// Text indexes under an order we do not encode: reading is as usual, the
// check names the indexes it could not compare, and a change that would
// touch one is refused before its first record.
TEST(RealLayouts, SortOrdersWeDoNotEncode)
{
    test::TempDir dir;
    const fs::path file = dir.file("t.mdb");
    ASSERT_TRUE(jet::layouts::makeForeignSortOrder(file.string(), 1058).isOk());
    expectReadAlike(file, false);
    test::CommandResult check = test::runCommand({test::varnikaDb(), "check", file.string()});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("note: Uye index \"ixAd\": its keys were not compared"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("note: Uye index \"PrimaryKey\": its keys were not compared"), std::string::npos) << check.out;

    const std::string before = fileBytes(file);
    test::CommandResult text = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Uye", "--field", "Ad",
                                                 "--old", "Ad 3", "--new", "Ad üç"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.err.find("table \"Uye\" is not changed"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("1058"), std::string::npos) << text.err;
    EXPECT_EQ(fileBytes(file), before);
    test::CommandResult number = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Uye", "--field", "Puan",
                                                   "--old", "30", "--new", "31", "--numeric"});
    EXPECT_EQ(number.exitCode, 0) << number.err;
    EXPECT_NE(test::runCommand({test::varnikaDb(), "export", file.string(), "Uye"}).out.find(",31\n"), std::string::npos);
}

}  // namespace
}  // namespace varnika

// varnika-db export's flags, its JSON Lines and schema, each against
// mdbtools (mdb-export, mdb-json, mdb-schema) on every Access-made fixture,
// and schema | exec against our own reader on a new file.

#include "db/jet/database.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

namespace varnika {
namespace {

namespace fs = std::filesystem;

// Tables mdbtools reads in another order (moved rows in physical order) or
// misreads (ReservationForm: rows written before a column was added).
bool mdbtoolsDiffers(const std::string& file, const std::string& table)
{
    static const std::pair<const char*, const char*> kKnown[] = {
        {"overflowTestV2000.mdb", "Table1"}, {"overflowTestV2003.mdb", "Table1"},
        {"hospital-appointments.mdb", "hastane"}, {"hospital-appointments.mdb", "doktor"},
        {"hospital-appointments.mdb", "clinic"}, {"hospital-appointments.mdb", "ReservationForm"},
        {"member-nicknames.mdb", "uye"},
    };
    for (const auto& [f, t] : kKnown)
        if (file == f && table == t) return true;
    return false;
}

// A flat JSON object: keys to values kept as their JSON text (strings
// unescaped and marked with a leading '"'). Fails the test on bad JSON.
std::map<std::string, std::string> parseJsonObject(const std::string& s)
{
    std::map<std::string, std::string> out;
    size_t i = 0;
    auto fail = [&](const char* what) {
        ADD_FAILURE() << what << " at " << i << " in " << s;
        return std::map<std::string, std::string>();
    };
    auto str = [&](std::string& v) -> bool {
        if (s[i] != '"') return false;
        for (++i; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\') {
                const char e = s[++i];
                if (e == 'n') v += '\n';
                else if (e == 't') v += '\t';
                else if (e == 'r') v += '\r';
                else if (e == 'b') v += '\b';
                else if (e == 'f') v += '\f';
                else if (e == 'u') { v += char(std::stoi(s.substr(i + 1, 4), nullptr, 16)); i += 4; }
                else v += e;
            } else if (static_cast<unsigned char>(s[i]) < 0x20) {
                return false;
            } else {
                v += s[i];
            }
        }
        ++i;
        return true;
    };
    if (s.empty() || s[i++] != '{') return fail("no object");
    while (i < s.size() && s[i] != '}') {
        std::string key, value;
        if (!str(key) || s[i++] != ':') return fail("no key");
        if (s[i] == '"') {
            value = "\"";
            if (!str(value)) return fail("bad string");
        } else if (s[i] == '{') {  // mdb-json's {"$binary": ...}: kept whole, not compared
            while (i < s.size() && s[i] != '}') value += s[i++];
            value += s[i++];
        } else {
            while (i < s.size() && s[i] != ',' && s[i] != '}') value += s[i++];
        }
        out[key] = value;
        if (s[i] == ',') ++i;
    }
    if (i + 1 != s.size()) return fail("text after the object");
    return out;
}

bool sameNumber(const std::string& a, const std::string& b)
{
    char* e1 = nullptr;
    char* e2 = nullptr;
    const double x = std::strtod(a.c_str(), &e1), y = std::strtod(b.c_str(), &e2);
    return !a.empty() && !b.empty() && !*e1 && !*e2 && std::fabs(x - y) <= 1e-6 * std::max({1.0, std::fabs(x), std::fabs(y)});
}

class AgainstMdbTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto d = test::fixturesDir();
        if (!d) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
        if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
        for (const char* sub : {"jet4", "turkish"})
            for (const auto& f : test::mdbFilesIn(*d / sub))
                for (const std::string& t : test::splitLines(test::runCommand({"mdb-tables", "-1", f.string()}).out))
                    if (!t.empty()) tables.push_back({f, t});
        ASSERT_GT(tables.size(), 60u);
    }
    std::vector<std::pair<fs::path, std::string>> tables;
};

TEST_F(AgainstMdbTools, ExportIsByteForByteMdbExportWithTheSameFlags)
{
    // Our flags and the mdb-export flags that mean the same; our -D is
    // mdb-export's -T (the format of every date and time).
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> variants = {
        {{}, {"-T", "%Y-%m-%d %H:%M:%S"}},
        {{"-H", "-Q", "-d", "\\t", "-D", "%d.%m.%Y %H:%M"}, {"-H", "-Q", "-d", "\\t", "-T", "%d.%m.%Y %H:%M"}},
        {{"--delimiter=;", "--no-header", "--date-format", "%A %j"}, {"-d", ";", "-H", "-T", "%A %j"}},
    };
    size_t compared = 0;
    for (const auto& [table, name] : tables) {
        if (mdbtoolsDiffers(table.filename().string(), name)) continue;
        for (const auto& [ours, theirs] : variants) {
            std::vector<std::string> a = {test::varnikaDb(), "export", table.string(), name};
            a.insert(a.end(), ours.begin(), ours.end());
            std::vector<std::string> b = {"mdb-export", "-b", "hex"};
            b.insert(b.end(), theirs.begin(), theirs.end());
            b.insert(b.end(), {table.string(), name});
            test::CommandResult r = test::runCommand(a);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(r.out, test::runCommand(b).out) << table << " " << name << " " << ours.size();
            ++compared;
        }
    }
    EXPECT_GT(compared, 180u);
}

TEST_F(AgainstMdbTools, JsonLinesHoldTheValuesMdbJsonReads)
{
    if (!test::haveProgram("mdb-json")) GTEST_SKIP() << "mdb-json not installed";
    size_t values = 0;
    for (const auto& [table, name] : tables) {
        if (mdbtoolsDiffers(table.filename().string(), name)) continue;
        test::CommandResult ours = test::runCommand({test::varnikaDb(), "export", "--json", "-D", "%d/%m/%Y", table.string(), name});
        ASSERT_EQ(ours.exitCode, 0) << ours.err;
        test::CommandResult theirs = test::runCommand({"mdb-json", "-T", "%d/%m/%Y", table.string(), name});
        const std::vector<std::string> a = test::splitLines(ours.out), b = test::splitLines(theirs.out);
        ASSERT_EQ(a.size(), b.size()) << table << " " << name;
        for (size_t r = 0; r < a.size(); ++r) {
            auto x = parseJsonObject(a[r]);
            auto y = parseJsonObject(b[r]);
            for (const auto& [key, value] : x) {
                SCOPED_TRACE(table.filename().string() + " " + name + " " + key + " row " + std::to_string(r));
                if (value == "null") {
                    EXPECT_EQ(y.count(key), 0u);  // mdb-json leaves Null out
                    continue;
                }
                ASSERT_EQ(y.count(key), 1u);
                const std::string& other = y[key];
                if (other[0] == '{') continue;  // binary: mdb-json gives base64
                if (value == "true" || value == "false") EXPECT_EQ(other, value == "true" ? "1" : "0");
                else if (value[0] == '"') EXPECT_EQ(value, other);
                else EXPECT_TRUE(sameNumber(value, other)) << value << " vs " << other;
                ++values;
            }
        }
    }
    EXPECT_GT(values, 4000u);
}

// CREATE statements of every fixture table run on a new file: the new file
// gives the same statements again, mdb-schema sees the same shape, and the
// rows exported from the original insert into it.
TEST_F(AgainstMdbTools, SchemaRunsOnANewFileAndGivesTheSameShape)
{
    test::TempDir dir;
    std::map<fs::path, bool> files;
    for (const auto& t : tables) files[t.first] = true;
    for (const auto& [file, unused] : files) {
        SCOPED_TRACE(file.string());
        const fs::path made = dir.file(file.filename().string());
        ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", made.string()}).exitCode, 0);
        test::CommandResult schema = test::runCommand({test::varnikaDb(), "schema", file.string()});
        ASSERT_EQ(schema.exitCode, 0) << schema.err;
        test::CommandResult ran = test::runCommand({test::varnikaDb(), "exec", made.string()}, schema.out);
        ASSERT_EQ(ran.exitCode, 0) << ran.err << schema.out;
        // Notes (expressions a DEFAULT cannot carry) are comment lines.
        std::string statements;
        for (const std::string& l : test::splitLines(schema.out))
            if (l.rfind("--", 0) != 0) statements += l + "\n";
        EXPECT_EQ(test::runCommand({test::varnikaDb(), "schema", made.string()}).out, statements);
        EXPECT_EQ(test::runCommand({"mdb-schema", made.string()}).out, test::runCommand({"mdb-schema", file.string()}).out);
    }
    // One table alone, and its records carried over by INSERT statements.
    const fs::path source = files.begin()->first.parent_path() / "testV2000.mdb";
    const fs::path made = dir.file("bir.mdb");
    ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", made.string()}).exitCode, 0);
    test::CommandResult one = test::runCommand({test::varnikaDb(), "schema", source.string(), "table1"});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(test::splitLines(one.out).size(), 2u) << one.out;  // CREATE TABLE, one CREATE INDEX
    std::string inserts = one.out;
    for (const std::string& row : test::splitLines(test::runCommand({"mdb-export", "-I", "access",
                                                         source.string(), "Table1"}).out))
        inserts += row + "\n";
    test::CommandResult ran = test::runCommand({test::varnikaDb(), "exec", made.string()}, inserts);
    ASSERT_EQ(ran.exitCode, 0) << ran.err << inserts;
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "export", made.string(), "Table1"}).out,
              test::runCommand({test::varnikaDb(), "export", source.string(), "Table1"}).out);
}

TEST(VarnikaDbExport, BadFlagsAreUsageFaults)
{
    test::TempDir dir;
    const std::string file = dir.file("a.mdb").string();
    ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", file}).exitCode, 0);
    ASSERT_EQ(test::runCommand({test::varnikaDb(), "exec", file}, "CREATE TABLE T (A TEXT(10), B LONG)\n"
                                                       "INSERT INTO T VALUES ('x,\"y\"', 5)\n").exitCode, 0);
    struct Case { std::vector<std::string> args; const char* message; };
    const Case cases[] = {
        {{"export", file, "T", "-d"}, "-d needs a value"},
        {{"export", file, "T", "-d", ""}, "delimiter is empty"},
        {{"export", file, "T", "--json", "-H"}, "cannot be combined"},
        {{"export", file, "T", "-X"}, "unknown option \"-X\""},
        {{"export", file, "T", "--json=yes"}, "takes no value"},
        {{"export", file, "T", "-H", "-H"}, "given twice"},
        {{"export", file}, "FILE TABLE expected"},
        {{"schema", file, "T", "U"}, "unexpected argument"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {test::varnikaDb()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        test::CommandResult r = test::runCommand(argv);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("usage: varnika-db " + c.args[0]), std::string::npos) << r.err;
    }
    // The quoting the flags choose, on a value that holds the delimiter and quotes.
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "export", file, "T"}).out, "A,B\n\"x,\"\"y\"\"\",5\n");
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "export", "-HQd|", file, "T"}).out, "x,\"y\"|5\n");
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "export", "--json", file, "T"}).out, "{\"A\":\"x,\\\"y\\\"\",\"B\":5}\n");
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "schema", file, "U"}).exitCode, 1);
}

}  // namespace
}  // namespace varnika

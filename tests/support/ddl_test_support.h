#pragma once
// Shared by the statement tests: a new database open for writing with a
// statement runner, whole-file bytes, mdb-export as CSV rows, and a walk of
// an index tree that compares its leaf entries with the keys of the rows.

#include "db/jet/file/bytes.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <cstring>
#include <iterator>
#include <map>

namespace varnika::jet::ddltest {

inline std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using CsvRow = std::vector<std::string>;

// RFC 4180 records as mdb-export writes them.
inline std::vector<CsvRow> parseCsv(const std::string& text)
{
    std::vector<CsvRow> rows;
    CsvRow row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') { field += '"'; ++i; }
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') { quoted = true; any = true; }
        else if (c == ',') { row.push_back(field); field.clear(); any = true; }
        else if (c == '\n') { row.push_back(field); rows.push_back(row); row.clear(); field.clear(); any = false; }
        else if (c != '\r') { field += c; any = true; }
    }
    if (any || !row.empty()) { row.push_back(field); rows.push_back(row); }
    return rows;
}

inline bool haveMdbTools() { return test::haveProgram("mdb-export") && test::haveProgram("mdb-tables"); }

// mdb-export's rows of `table`, header first; empty when it failed.
inline std::vector<CsvRow> mdbExport(const std::filesystem::path& file, const std::string& table)
{
    test::CommandResult r = test::runCommand({"mdb-export", file.string(), table});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? parseCsv(r.out) : std::vector<CsvRow>{};
}

// A new database in a temporary folder, open for writing.
struct NewDb {
    test::TempDir dir;
    std::filesystem::path path;
    std::shared_ptr<Database> db;
    std::unique_ptr<DdlExecutor> executor;

    // An Access 97 file (`version` Jet 3) keeps its text in code page 1252,
    // or 1254 with the Turkish order.
    explicit NewDb(uint16_t sortLcid = 0x0409, JetVersion version = JetVersion::Jet4)
    {
        path = dir.file("t.mdb");
        NewDatabaseOptions o;
        o.sortOrderLcid = sortLcid;
        o.version = version;
        if (version == JetVersion::Jet3 && sortLcid == 0x041F) o.codePage = 1254;
        EXPECT_TRUE(createDatabaseFile(path.string(), o).isOk());
        reopen();
    }
    void reopen()
    {
        executor.reset();
        db.reset();
        auto opened = Database::open(path.string(), OpenMode::ReadWrite);
        EXPECT_TRUE(opened.isOk()) << opened.status().toString();
        if (opened.isOk()) db = *opened;
        executor = std::make_unique<DdlExecutor>(db, RegionalSettings::unitedStates());
    }
    Status run(const std::string& statement) { return executor->execute(fromUtf8(statement)); }
    std::vector<std::vector<Variant>> rows(const std::string& table)
    {
        std::vector<std::vector<Variant>> out;
        auto t = db->table(fromUtf8(table));
        EXPECT_TRUE(t.isOk());
        if (!t.isOk()) return out;
        auto scanner = (*t)->scan();
        EXPECT_TRUE(scanner.isOk());
        while (scanner.isOk()) {
            auto more = scanner->next();
            EXPECT_TRUE(more.isOk());
            if (!more.isOk() || !*more) break;
            auto v = scanner->values();
            EXPECT_TRUE(v.isOk());
            if (!v.isOk()) break;
            // In the order Access shows the columns.
            std::vector<Variant> ordered;
            for (int c : (*t)->def().columnsByNumber()) ordered.push_back((*v)[size_t(c)]);
            out.push_back(std::move(ordered));
        }
        return out;
    }
};

// Entries of an index page, the shared prefix put back.
inline std::vector<std::vector<uint8_t>> pageEntries(const PageBuffer& b)
{
    ByteReader r(b.data(), b.size());
    size_t prefix = r.u16(indexlayout::kPrefixLength);
    std::vector<std::vector<uint8_t>> entries;
    size_t start = 0;
    for (size_t k = 1; k <= indexlayout::kMaxEntryData; ++k) {
        if (!(b[indexlayout::kBitmap + k / 8] & (1 << (k % 8)))) continue;
        std::vector<uint8_t> e(b.begin() + long(indexlayout::kEntryData + start), b.begin() + long(indexlayout::kEntryData + k));
        if (!entries.empty()) e.insert(e.begin(), entries.front().begin(), entries.front().begin() + long(prefix));
        entries.push_back(std::move(e));
        start = k;
    }
    return entries;
}

// Leaf entries of the tree at `page`, in tree order.
inline void collectLeafEntries(Pager& pager, uint32_t page, std::vector<std::vector<uint8_t>>& out, int depth = 0)
{
    ASSERT_LT(depth, 8) << "index tree too deep (a loop?)";
    auto ref = pager.read(page);
    ASSERT_TRUE(ref.isOk());
    const PageBuffer& b = **ref;
    std::vector<std::vector<uint8_t>> entries = pageEntries(b);
    if (b[0] == uint8_t(PageType::IndexLeaf)) {
        out.insert(out.end(), entries.begin(), entries.end());
        return;
    }
    ASSERT_EQ(b[0], uint8_t(PageType::IndexNode));
    for (const auto& e : entries) collectLeafEntries(pager, ByteReader(e.data(), e.size()).u32be(e.size() - 4), out, depth + 1);
    uint32_t tail = ByteReader(b.data(), b.size()).u32(indexlayout::kTailPage);
    if (tail) collectLeafEntries(pager, tail, out, depth + 1);
}

// Every real index of `table` holds exactly the keys of its rows, in order.
inline void expectIndexesMatchRows(Database& db, const std::string& tableName)
{
    auto t = db.table(fromUtf8(tableName));
    ASSERT_TRUE(t.isOk());
    Table& table = **t;
    for (const RealIndexDef& index : table.def().realIndexes()) {
        std::vector<std::vector<uint8_t>> expected;
        auto scanner = table.scan();
        ASSERT_TRUE(scanner.isOk());
        while (true) {
            auto more = scanner->next();
            ASSERT_TRUE(more.isOk());
            if (!*more) break;
            auto values = scanner->values();
            ASSERT_TRUE(values.isOk());
            auto e = indexEntryFor(table.def(), index, *values, db.header().sortLcid, db.header().sortVersion);
            ASSERT_TRUE(e.isOk()) << e.status().toString();
            if (!*e) continue;
            (*e)->row = scanner->pointer();
            expected.push_back(leafEntryBytes(**e));
        }
        std::sort(expected.begin(), expected.end());
        std::vector<std::vector<uint8_t>> stored;
        collectLeafEntries(db.pager(), index.rootPage, stored);
        EXPECT_EQ(stored, expected) << "index with root " << index.rootPage << " of " << tableName;
    }
}

}  // namespace varnika::jet::ddltest

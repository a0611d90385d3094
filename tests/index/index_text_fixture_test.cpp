// Text keys against the keys Access stored. Without the row reader, row
// values come from mdb-export (rows in page/slot order), paired with the
// leaf entries of a tree sorted by row id.
#include "db/jet/index/key_codec.h"
#include "db/jet/index/index_tree.h"
#include "db/text.h"
#include "index/index_fixture_util.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

using namespace varnika;
using namespace varnika::jet;

namespace {

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> splitLine(const std::string& line, char sep)
{
    std::vector<std::string> out;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, sep)) out.push_back(cell);
    if (!line.empty() && line.back() == sep) out.push_back({});
    return out;
}

std::optional<Table> exportTable(const std::filesystem::path& file, const std::string& table)
{
    auto r = test::runCommand({"mdb-export", "-Q", "-d", "\x1f", "-R", "\x1e", file.string(), table});
    if (r.exitCode != 0) return std::nullopt;
    Table t;
    std::istringstream in(r.out);
    std::string record;
    bool header = true;
    while (std::getline(in, record, '\x1e')) {
        auto cells = splitLine(record, '\x1f');
        if (header) {
            t.columns = cells;
            header = false;
        } else {
            t.rows.push_back(cells);
        }
    }
    return t;
}

// Leaf entries of every tree of the file, each tree's entries sorted by row id.
std::vector<std::vector<IndexEntry>> treesByRowId(const std::vector<uint8_t>& bytes)
{
    std::vector<std::vector<IndexEntry>> out;
    auto pager = test::memoryPager(bytes);
    for (const auto& t : test::findIndexRoots(bytes)) {
        IndexTree tree(*pager, t.tdef, t.root);
        auto all = tree.entries();
        if (!all.isOk()) continue;
        std::sort(all->begin(), all->end(), [](const IndexEntry& a, const IndexEntry& b) { return a.rowId() < b.rowId(); });
        out.push_back(std::move(all).value());
    }
    return out;
}

// Pairs a tree's entries (sorted by row id) with export rows: through an
// ascending Long index on a column with distinct values when the table has
// one (mdb-export does not list rows in slot order), else by position.
struct Pairing {
    std::vector<size_t> rowOfEntry;  // export row index for each entry, SIZE_MAX if unknown
    bool throughIndex = false;
};

Pairing pairRows(const std::vector<std::vector<IndexEntry>>& trees, const Table& table, size_t count)
{
    for (const auto& entries : trees) {
        if (entries.size() != count) continue;
        std::vector<int64_t> ids;
        for (const auto& e : entries) {
            const auto k = e.key();
            if (k.size() != 5 || k[0] != 0x7F) break;
            ids.push_back(int64_t(int32_t(((uint32_t(k[1]) << 24) | (k[2] << 16) | (k[3] << 8) | k[4]) ^ 0x80000000u)));
        }
        if (ids.size() != count) continue;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            std::map<int64_t, size_t> rowOfId;
            for (size_t r = 0; r < table.rows.size(); ++r) {
                const std::string& v = c < table.rows[r].size() ? table.rows[r][c] : std::string();
                char* end = nullptr;
                const long long id = std::strtoll(v.c_str(), &end, 10);
                if (v.empty() || *end) break;
                rowOfId.emplace(id, r);
            }
            if (rowOfId.size() != count) continue;
            Pairing p;
            p.throughIndex = true;
            for (int64_t id : ids) p.rowOfEntry.push_back(rowOfId.count(id) ? rowOfId[id] : SIZE_MAX);
            if (std::find(p.rowOfEntry.begin(), p.rowOfEntry.end(), SIZE_MAX) == p.rowOfEntry.end()) return p;
        }
    }
    Pairing p;
    for (size_t i = 0; i < count; ++i) p.rowOfEntry.push_back(i);
    return p;
}

size_t matches(const std::vector<IndexEntry>& entries, const std::vector<std::string>& values, const Pairing& pairing,
               TextCollation order, std::vector<std::string>* misses = nullptr)
{
    size_t n = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t row = pairing.rowOfEntry[i];
        if (row >= values.size()) continue;
        std::vector<uint8_t> key;
        if (!appendColumnKey(key, Variant::text(fromUtf8(values[row])), ColumnType::Text, true, order).isOk()) continue;
        if (std::ranges::equal(key, entries[i].key()))
            ++n;
        else if (misses)
            misses->push_back(values[row]);
    }
    return n;
}

}  // namespace

TEST(IndexTextFixtures, TurkishDoctorNamesAreReproduced)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdb-export is not installed";
    const auto file = dir / "turkish" / "hospital-appointments.mdb";
    auto table = exportTable(file, "doktor");
    ASSERT_TRUE(table.has_value());
    const auto col = std::find(table->columns.begin(), table->columns.end(), "DoktorAdi") - table->columns.begin();
    ASSERT_LT(size_t(col), table->columns.size());
    std::vector<std::string> names;
    for (const auto& row : table->rows) names.push_back(row.at(size_t(col)));
    ASSERT_EQ(names.size(), 25u);

    const auto trees = treesByRowId(test::readWholeFile(file));
    const Pairing pairing = pairRows(trees, *table, names.size());
    ASSERT_TRUE(pairing.throughIndex) << "the doktorid index was not found";
    size_t best = 0, bestLegacy = 0;
    std::vector<std::string> misses;
    for (const auto& entries : trees) {
        if (entries.size() != names.size()) continue;
        std::vector<std::string> m;
        const size_t n = matches(entries, names, pairing, TextCollation::Turkish, &m);
        if (n > best) {
            best = n;
            misses = m;
            bestLegacy = matches(entries, names, pairing, TextCollation::GeneralLegacy);
        }
    }
    std::string missed;
    for (const auto& m : misses) missed += m + "; ";
    EXPECT_EQ(best, 25u) << "not reproduced: " << missed;
    // The plain General Legacy tables get the Turkish letters wrong.
    EXPECT_LT(bestLegacy, 25u);
    std::printf("[ turkish keys ] %zu of 25 reproduced (General Legacy tables: %zu)\n", best, bestLegacy);
}

// Every single-column text index that lines up with a text column of its
// table (same row count, most keys equal) is reproduced
// completely. Rows are paired through an integer index where the table has
// one; tables without one are paired by export position and only counted.
TEST(IndexTextFixtures, TextIndexesOfAllFilesAreReproduced)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export") || !test::haveProgram("mdb-tables")) GTEST_SKIP() << "mdbtools missing";
    size_t checked = 0, keys = 0;
    for (const char* sub : {"jet4", "turkish"}) {
        const TextCollation order = std::string(sub) == "turkish" ? TextCollation::Turkish : TextCollation::GeneralLegacy;
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            const auto bytes = test::readWholeFile(file);
            const auto trees = treesByRowId(bytes);
            auto listing = test::runCommand({"mdb-tables", "-1", file.string()});
            std::istringstream in(listing.out);
            std::string name;
            while (std::getline(in, name)) {
                auto table = exportTable(file, name);
                if (!table || table->rows.size() < 2) continue;
                const Pairing pairing = pairRows(trees, *table, table->rows.size());
                for (size_t c = 0; c < table->columns.size(); ++c) {
                    std::vector<std::string> values;
                    for (const auto& row : table->rows) values.push_back(c < row.size() ? row[c] : std::string());
                    for (const auto& entries : trees) {
                        if (entries.size() != values.size()) continue;
                        std::vector<std::string> misses;
                        const size_t n = matches(entries, values, pairing, order, &misses);
                        if (n * 2 <= entries.size()) continue;  // not this column's index
                        if (!pairing.throughIndex && n != entries.size()) continue;
                        std::string missed;
                        for (const auto& m : misses) missed += "\"" + m + "\" ";
                        // Empty exports are nulls or empty strings; only count real mismatches.
                        const bool onlyEmpty =
                            std::all_of(misses.begin(), misses.end(), [](const auto& m) { return m.empty(); });
                        EXPECT_TRUE(onlyEmpty) << file.filename() << " " << name << "." << table->columns[c] << ": "
                                               << missed;
                        ++checked;
                        keys += n;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10u);
    std::printf("[ text keys ] %zu text indexes lined up, %zu keys reproduced\n", checked, keys);
}

// The table writer on copies of real files, through the table definition
// and row codec, checked with our own reading and with mdbtools.

#include "db/jet/page/data_page.h"
#include "db/jet/table/table.h"
#include "db/jet/check/table_pages_check.h"
#include "db/jet/table/table_row_format.h"
#include "db/jet/page/usage_map.h"
#include "db/text.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace varnika;
using namespace varnika::jet;

namespace {

struct OpenTable {
    std::unique_ptr<Pager> pager;
    TableDef def;
    std::unique_ptr<LongValueReader> longValues;
    std::unique_ptr<JetRowFormat> format;
    std::unique_ptr<TableWriter> writer;

    OpenTable(const std::filesystem::path& file, uint32_t tdefPage) : pager(test::openCopy(file))
    {
        auto d = TableDef::read(*pager, tdefPage);
        EXPECT_TRUE(d.isOk()) << d.status().toString();
        def = std::move(*d);
        longValues = std::make_unique<LongValueReader>(*pager);
        format = std::make_unique<JetRowFormat>(def, *longValues);
        writer = std::make_unique<TableWriter>(*pager, tableLayoutFor(def), *format, nullptr);
    }

    // Header slots of the live rows, in page and slot order.
    std::vector<RowPointer> rows()
    {
        std::vector<RowPointer> out;
        for (uint32_t p : UsageMap::load(*pager, def.ownedPagesMap())->pages()) {
            auto view = DataPageView::parse(*pager->read(p), p);
            for (int s = 0; s < view->slotCount(); ++s)
                if (view->slot(s).isBaseRow()) out.push_back({p, uint8_t(s)});
        }
        return out;
    }

    // The reader's view of every row: header slot -> values.
    std::map<RowPointer, std::vector<Variant>> readerRows()
    {
        std::map<RowPointer, std::vector<Variant>> out;
        auto table = Table::open(*pager, def.firstPage(), u"t");
        EXPECT_TRUE(table.isOk()) << table.status().toString();
        if (!table) return out;
        auto scanner = (*table)->scan();
        EXPECT_TRUE(scanner.isOk());
        while (true) {
            auto more = scanner->next();
            EXPECT_TRUE(more.isOk()) << more.status().toString();
            if (!more.isOk() || !*more) break;
            auto v = scanner->values();
            EXPECT_TRUE(v.isOk()) << v.status().toString();
            if (v) out[scanner->pointer()] = *v;
        }
        return out;
    }

    size_t column(const char16_t* name)
    {
        int c = def.findColumn(name);
        EXPECT_GE(c, 0) << toUtf8(name);
        return c < 0 ? 0 : size_t(c);
    }

    // The line mdb-export prints for `values` (all Text or Null columns).
    std::string csvLine(const std::vector<Variant>& values)
    {
        std::string line;
        for (size_t k = 0; k < def.columnsByNumber().size(); ++k) {
            if (k) line += ',';
            const Variant& v = values[size_t(def.columnsByNumber()[k])];
            // mdb-export prints a zero-length text like a Null: nothing.
            if (!v.isNull() && !v.asText().empty()) line += "\"" + toUtf8(v.asText()) + "\"";
        }
        return line;
    }
};

std::multiset<std::string> dataLines(const std::string& csv)
{
    std::multiset<std::string> out;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) out.insert(line);
    return out;
}

// Pages that differ between two copies of a file (beyond the old end: all).
std::set<uint32_t> changedPages(const std::filesystem::path& a, const std::filesystem::path& b)
{
    auto pa = test::openCopy(a), pb = test::openCopy(b);
    std::set<uint32_t> out;
    for (uint32_t p = 0; p < pb->pageCount(); ++p)
        if (p >= pa->pageCount() || **pa->read(p) != **pb->read(p)) out.insert(p);
    return out;
}

std::u16string textOf(size_t n, char16_t first, bool turkish = false)
{
    std::u16string s;
    for (size_t i = 0; i < n; ++i) s += turkish && i % 4 == 1 ? u'ğ' : char16_t(first + i % 20);
    return s;
}

}  // namespace

TEST(TableWriterJet, TextRowsGrowShrinkMoveDeleteAndInsert)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    auto original = dir / "jet4/overflowTestV2000.mdb";
    auto copy = test::copyWritable(original, tmp.file("t.mdb"));
    auto before = test::exportAllTables(copy);
    std::set<uint32_t> tablePages;
    {
        OpenTable t(copy, 24);  // Table1: nine Text(50) columns, no indexes
        auto rows = t.rows();
        ASSERT_EQ(rows.size(), 7u);
        std::map<RowPointer, std::vector<Variant>> expect;
        for (RowPointer r : rows) expect[r] = *t.writer->readRow(r);

        // Grow every row to full texts (plain UCS-2 for the Turkish ones):
        // seven rows of about 900 bytes cannot all stay on one page, so
        // rows move.
        for (size_t i = 0; i < rows.size(); ++i) {
            std::vector<Variant>& v = expect[rows[i]];
            for (size_t c = 0; c < v.size(); ++c) v[c] = Variant::text(textOf(50, char16_t(u'a' + c), (i + c) % 3 != 0));
            v[(t.column(u"data1"))] = Variant::text(textOf(50, u'a', i % 2));
            v[(t.column(u"data10"))] = Variant::text(u"Işık ıİ " + textOf(i, u'k'));
            Status s = t.writer->updateRow(rows[i], v);
            ASSERT_TRUE(s.isOk()) << i << ": " << s.toString();
        }
        // Shrink one, null a value in another, make one empty string.
        expect[rows[0]][(t.column(u"data1"))] = Variant::text(u"k");
        expect[rows[1]][(t.column(u"data5"))] = Variant();
        expect[rows[2]][(t.column(u"data10"))] = Variant::text(u"");
        for (int i : {0, 1, 2}) ASSERT_TRUE(t.writer->updateRow(rows[size_t(i)], expect[rows[size_t(i)]]).isOk());
        // Delete one, insert two.
        ASSERT_TRUE(t.writer->deleteRow(rows[3]).isOk());
        expect.erase(rows[3]);
        for (int k = 0; k < 2; ++k) {
            std::vector<Variant> v(t.def.columns().size());
            v[(t.column(u"data3"))] = Variant::text(u"yeni " + textOf(size_t(k) * 40, u'n'));
            auto r = t.writer->insertRow(v);
            ASSERT_TRUE(r.isOk()) << r.status().toString();
            expect[*r] = v;
        }

        // Our own reading agrees, through the same header slots, and the
        // reader's scan sees exactly these rows.
        for (const auto& [r, v] : expect) EXPECT_EQ(*t.writer->readRow(r), v) << r.page << "/" << int(r.row);
        EXPECT_EQ(t.readerRows(), expect);
        auto summary = checkTablePages(*t.pager, 24);
        ASSERT_TRUE(summary.isOk()) << summary.status().toString();
        EXPECT_TRUE(summary->rowCountMatches());
        EXPECT_EQ(summary->baseRows, expect.size());
        EXPECT_GT(summary->movedRows, 0u);
        for (uint32_t p : UsageMap::load(*t.pager, t.def.ownedPagesMap())->pages()) tablePages.insert(p);
        tablePages.insert({24, t.def.ownedPagesMap().page, t.def.freePagesMap().page, usagemap::kGlobalMapPage});

        std::multiset<std::string> lines;
        for (const auto& [r, v] : expect) lines.insert(t.csvLine(v));
        auto after = test::exportAllTables(copy);
        auto got = dataLines(after["Table1"]);
        EXPECT_EQ(got, lines);
        for (const auto& l : got) {
            if (!lines.count(l)) ADD_FAILURE() << "mdb-export shows: " << l;
        }
        for (const auto& l : lines) {
            if (!got.count(l)) ADD_FAILURE() << "missing: " << l;
        }
        for (const auto& [name, csv] : before) {
            if (name != "Table1" && name != "(schema)") {
                EXPECT_EQ(after[name], csv) << name;
            }
        }
        EXPECT_EQ(after["(schema)"], before["(schema)"]);
    }
    // Nothing outside the table's own pages, its maps, page 1 and new pages changed.
    uint32_t oldCount = test::openCopy(original)->pageCount();
    for (uint32_t p : changedPages(original, copy))
        EXPECT_TRUE(p >= oldCount || tablePages.count(p)) << "page " << p << " changed";
}

TEST(TableWriterJet, MemoAcrossTheInlineAndPageLimits)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::TempDir tmp;
    auto copy = test::copyWritable(dir / "jet4/fixedNumericTestV2000.mdb", tmp.file("m.mdb"));
    auto before = test::exportAllTables(copy);
    std::string oldLine = *dataLines(before["test"]).begin();
    std::string rest = oldLine.substr(oldLine.find(','));  // the Decimal columns, unchanged
    OpenTable t(copy, 26);  // test: col1 Memo, col2..col7 Decimal
    auto rows = t.rows();
    ASSERT_EQ(rows.size(), 1u);
    size_t memo = t.column(u"col1");
    // Memo lengths in stored bytes: compressed text takes 2 + 1 a character
    // (up to 1024 characters), plain text 2 a character.
    struct Case {
        size_t chars;
        bool plain;
    } cases[] = {{0, false}, {1, true}, {32, true}, {62, false}, {63, false}, {2038, true},
                 {2039, true}, {15000, true}, {1024, false}, {3, false}};
    for (const Case& c : cases) {
        std::vector<Variant> v = *t.writer->readRow(rows[0]);
        v[memo] = Variant::text(textOf(c.chars, u'a', c.plain));
        ASSERT_TRUE(t.writer->updateRow(rows[0], v).isOk()) << c.chars;
        EXPECT_EQ(*t.writer->readRow(rows[0]), v) << c.chars;
        EXPECT_EQ(t.readerRows(), (std::map<RowPointer, std::vector<Variant>>{{rows[0], v}})) << c.chars;
        auto after = test::exportAllTables(copy);
        std::string memoCsv = c.chars ? "\"" + toUtf8(textOf(c.chars, u'a', c.plain)) + "\"" : "\"\"";
        auto lines = dataLines(after["test"]);
        ASSERT_EQ(lines.size(), 1u);
        // mdbtools prints an empty Memo either as "" or as nothing.
        if (c.chars == 0) {
            EXPECT_TRUE(*lines.begin() == memoCsv + rest || *lines.begin() == rest) << *lines.begin();
        } else {
            EXPECT_EQ(*lines.begin(), memoCsv + rest) << c.chars;
        }
        auto summary = checkTablePages(*t.pager, 26);
        ASSERT_TRUE(summary.isOk());
        EXPECT_TRUE(summary->rowCountMatches());
    }
    // Null, then delete: the long-value rows are given back.
    std::vector<Variant> v = *t.writer->readRow(rows[0]);
    v[memo] = Variant();
    ASSERT_TRUE(t.writer->updateRow(rows[0], v).isOk());
    ASSERT_TRUE(t.writer->deleteRow(rows[0]).isOk());
    EXPECT_TRUE(dataLines(test::exportAllTables(copy)["test"]).empty());
    EXPECT_EQ(checkTablePages(*t.pager, 26)->baseRows, 0u);
}

TEST(TableWriterJet, IndexedTableIsRefusedWithoutIndexMaintenance)
{
    VK_REQUIRE_FIXTURES(dir);
    test::TempDir tmp;
    auto original = dir / "jet4/testV2000.mdb";
    auto copy = test::copyWritable(original, tmp.file("i.mdb"));
    {
        OpenTable t(copy, 24);  // Table1: a primary key and one more index
        ASSERT_TRUE(tableLayoutFor(t.def).hasIndexes);
        auto rows = t.rows();
        ASSERT_FALSE(rows.empty());
        auto values = t.writer->readRow(rows[0]);
        ASSERT_TRUE(values.isOk()) << values.status().toString();
        EXPECT_EQ(t.writer->updateRow(rows[0], *values).code(), ErrorCode::NotSupported);
        EXPECT_EQ(t.writer->deleteRow(rows[0]).code(), ErrorCode::NotSupported);
        EXPECT_EQ(t.writer->insertRow(*values).status().code(), ErrorCode::NotSupported);
    }
    EXPECT_TRUE(changedPages(original, copy).empty());
}


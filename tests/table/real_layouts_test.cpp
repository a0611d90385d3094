// Layouts Access leaves in real files, made with our writer and a byte
// patch (support/layout_files.h): moved rows whose old slot keeps its old
// length, and numbers stored as variable-length values. Every reading and
// writing path meets them; the fixtures that show them are read too.

#include "db/jet/check/table_pages_check.h"
#include "db/jet/table/row_store.h"
#include "support/ddl_test_support.h"
#include "support/layout_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

// Every record of `table` in scan order, decoded.
std::vector<std::vector<Variant>> recordsOf(Database& db, std::u16string_view table)
{
    std::vector<std::vector<Variant>> out;
    auto t = db.table(table);
    EXPECT_TRUE(t.isOk()) << t.status().toString();
    if (!t.isOk()) return out;
    auto scanner = (*t)->scan();
    EXPECT_TRUE(scanner.isOk());
    for (;;) {
        auto more = scanner->next();
        EXPECT_TRUE(more.isOk()) << more.status().toString();
        if (!more.isOk() || !*more) break;
        auto values = scanner->values();
        EXPECT_TRUE(values.isOk()) << values.status().toString();
        if (values.isOk()) out.push_back(*values);
    }
    return out;
}

size_t slotLength(Pager& pager, RowPointer at)
{
    auto row = readRowAt(pager, at);
    EXPECT_TRUE(row.isOk());
    return row.isOk() ? row->slot.length : 0;
}

TEST(StaleMovedRows, FixtureReadsEveryBook)
{
    VK_REQUIRE_FIXTURES(dir);
    auto db = Database::open((dir / "odd" / "stale-moved-rows.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto books = recordsOf(**db, u"Books");
    ASSERT_EQ(books.size(), 10u);
    auto table = (*db)->table(u"Books");
    const int id = (*table)->def().findColumn(u"BookID");
    std::vector<int32_t> ids;
    for (const auto& b : books) ids.push_back(b[size_t(id)].asLong());
    // Jackcess's scan order: moved records at their own slots.
    EXPECT_EQ(ids, (std::vector<int32_t>{19, 20, 21, 22, 18, 1, 2, 3, 4, 5}));
    auto pages = checkTablePages((*db)->pager(), (*table)->tdefPage());
    ASSERT_TRUE(pages.isOk()) << pages.status().toString();
    EXPECT_EQ(pages->movedRows, 9u);
    EXPECT_TRUE(pages->rowCountMatches());
}

class StaleMovedRowsWriting : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto headers = layouts::makeStaleMovedRows(dir.file("t.mdb").string());
        ASSERT_TRUE(headers.isOk()) << headers.status().toString();
        stale = *headers;
        auto reopened = Database::open(dir.file("t.mdb").string(), OpenMode::ReadWrite);
        ASSERT_TRUE(reopened.isOk());
        db = *reopened;
        table = *db->table(u"Kitap");
        auto opened = db->changeTable(*table);
        ASSERT_TRUE(opened.isOk());
        change = *opened;
        writer = change.writer.get();
        for (RowPointer h : stale) ASSERT_GT(slotLength(db->pager(), h), datapage::kOverflowPointerSize);
        before = recordsOf(*db, u"Kitap");
        ASSERT_EQ(before.size(), 60u);
    }

    // The file is sound and every record reads, with its expected values.
    void expectSound(size_t records)
    {
        auto pages = checkTablePages(db->pager(), table->tdefPage());
        ASSERT_TRUE(pages.isOk()) << pages.status().toString();
        EXPECT_TRUE(pages->rowCountMatches());
        EXPECT_TRUE(pages->unreferencedMovedRows.empty());
        EXPECT_EQ(recordsOf(*db, u"Kitap").size(), records);
        ddltest::expectIndexesMatchRows(*db, "Kitap");
    }

    int column(const char16_t* name) { return table->def().findColumn(name); }

    test::TempDir dir;
    std::vector<RowPointer> stale;
    std::shared_ptr<Database> db;
    std::shared_ptr<Table> table;
    TableChange change;  // the writer uses its row format and index maintainer
    TableWriter* writer = nullptr;
    std::vector<std::vector<Variant>> before;
};

TEST_F(StaleMovedRowsWriting, ReadersFollowOnlyThePointer)
{
    // The stale bytes start with the pointer: read as a row they would
    // claim thousands of columns.
    for (RowPointer h : stale) {
        auto slot = readRowAt(db->pager(), h);
        ASSERT_TRUE(slot.isOk());
        EXPECT_FALSE(decodeRow(table->def(), slot->bytes(), nullptr).isOk());
        auto values = table->readRow(h);
        ASSERT_TRUE(values.isOk()) << values.status().toString();
        EXPECT_EQ((*values)[size_t(column(u"Ad"))].asText().front(), u'Ğ');
    }
    auto pages = checkTablePages(db->pager(), table->tdefPage());
    ASSERT_TRUE(pages.isOk()) << pages.status().toString();
    EXPECT_GE(pages->movedRows, stale.size());
    expectSound(60);
}

// Where the moved bytes of the record at `header` are.
RowPointer targetOf(Pager& pager, RowPointer header)
{
    auto slot = readRowAt(pager, header);
    EXPECT_TRUE(slot.isOk());
    auto target = overflowPointerOf(slot->bytes(), header);
    EXPECT_TRUE(target.isOk());
    return target.isOk() ? *target : RowPointer{};
}

// Update in place, grow (moving again where the moved bytes' page is full),
// delete: each path reads only the pointer of a stale slot, and a page
// rewritten around one shrinks it to its pointer.
TEST_F(StaleMovedRowsWriting, EveryWritingPathKeepsTheRecords)
{
    const RowPointer first = stale.front();
    auto values = writer->readRow(first);
    ASSERT_TRUE(values.isOk());
    (*values)[size_t(column(u"Sayfa"))] = Variant::longValue(7);
    ASSERT_TRUE(writer->updateRow(first, *values).isOk());
    EXPECT_EQ((*table->readRow(first))[size_t(column(u"Sayfa"))], Variant::longValue(7));

    const RowPointer target = targetOf(db->pager(), first);
    (*values)[size_t(column(u"Ad"))] = Variant::text(std::u16string(250, u'Ş'));
    (*values)[size_t(column(u"Yazar"))] = Variant::text(std::u16string(60, u'Ü'));
    ASSERT_TRUE(writer->updateRow(first, *values).isOk());
    EXPECT_EQ(*table->readRow(first), *values);
    if (targetOf(db->pager(), first) != target) {
        EXPECT_EQ(slotLength(db->pager(), first), datapage::kOverflowPointerSize);
    }
    expectSound(60);

    const RowPointer second = stale.at(1);
    ASSERT_TRUE(writer->deleteRow(second).isOk());
    EXPECT_EQ(table->readRow(second).status().code(), ErrorCode::NotFound);
    for (RowPointer h : stale)
        if (h != second && h.page == second.page) {
            EXPECT_EQ(slotLength(db->pager(), h), datapage::kOverflowPointerSize);
        }
    EXPECT_EQ(*table->readRow(first), *values);
    expectSound(59);
}

TEST_F(StaleMovedRowsWriting, GrowingANeighbourCompactsThePage)
{
    // A base row on the page of a stale slot grows into the room the
    // stale bytes held.
    auto rows = table->rowPointers();
    ASSERT_TRUE(rows.isOk());
    const RowPointer header = stale.back();
    std::optional<RowPointer> neighbour;
    for (RowPointer r : *rows)
        if (r.page == header.page && std::find(stale.begin(), stale.end(), r) == stale.end()) neighbour = r;
    ASSERT_TRUE(neighbour);
    const size_t staleBytes = slotLength(db->pager(), header) - datapage::kOverflowPointerSize;
    auto values = writer->readRow(*neighbour);
    ASSERT_TRUE(values.isOk());
    const std::u16string grown = (*values)[size_t(column(u"Ad"))].asText() + std::u16string(staleBytes / 4, u'x');
    (*values)[size_t(column(u"Ad"))] = Variant::text(grown);
    ASSERT_TRUE(writer->updateRow(*neighbour, *values).isOk());
    EXPECT_EQ(*table->readRow(*neighbour), *values);
    EXPECT_EQ(slotLength(db->pager(), header), datapage::kOverflowPointerSize);
    expectSound(60);
}

// Numbers, dates and GUIDs stored as variable-length values: written by
// insert and update, kept in their indexes, and a column added beside them.
TEST(VariableNumbers, WrittenIndexedAndExtended)
{
    test::TempDir dir;
    const std::string path = dir.file("v.mdb").string();
    auto made = layouts::makeVariableNumbers(path);
    ASSERT_TRUE(made.isOk()) << made.status().toString();
    std::shared_ptr<Database> db = *made;
    auto table = *db->table(u"Olcum");
    const TableDef& def = table->def();
    auto at = [&](const char16_t* name) { return size_t(def.findColumn(name)); };
    ASSERT_TRUE(def.columns()[at(u"Fiyat")].isVariable());
    EXPECT_EQ(def.fixedAreaSize(), 4u);  // the AutoNumber alone
    auto rows = recordsOf(*db, u"Olcum");
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(rows[3][at(u"Fiyat")], Variant::decimal(Decimal{true, 4 * 1999, 2, 18}));
    EXPECT_EQ(rows[3][at(u"Sira")], Variant::integer(4 * 700 - 14000));
    EXPECT_TRUE(rows[8][at(u"Miktar")].isNull());
    ddltest::expectIndexesMatchRows(*db, "Olcum");

    auto change = db->changeTable(*table);
    ASSERT_TRUE(change.isOk());
    auto pointers = table->rowPointers();
    ASSERT_TRUE(pointers.isOk());
    for (size_t i = 0; i < pointers->size(); i += 3) {
        auto v = change->writer->readRow((*pointers)[i]);
        ASSERT_TRUE(v.isOk());
        (*v)[at(u"Fiyat")] = Variant::decimal(Decimal{false, 125, 1, 18});  // 12.5, stored as 12.50
        (*v)[at(u"Agirlik")] = i % 2 ? Variant() : Variant::doubleValue(-1e300);
        (*v)[at(u"Ad")] = Variant::text(u"Yeni ölçüm " + fromUtf8(std::to_string(i)));
        ASSERT_TRUE(change->writer->updateRow((*pointers)[i], *v).isOk());
    }
    ASSERT_TRUE(change->writer->deleteRow((*pointers)[1]).isOk());
    std::vector<Variant> added(def.columns().size());
    added[at(u"Tarih")] = Variant::date(45000.5);
    added[at(u"Fiyat")] = Variant::decimal(Decimal{true, 1, 0, 18});
    ASSERT_TRUE(change->writer->insertRow(added).isOk());
    ddltest::expectIndexesMatchRows(*db, "Olcum");

    DdlExecutor x(db, RegionalSettings::unitedStates());
    ASSERT_TRUE(x.execute(u"ALTER TABLE Olcum ADD COLUMN Stok LONG").isOk());
    ASSERT_TRUE(x.execute(u"ALTER TABLE Olcum ADD COLUMN Notu TEXT(20)").isOk());
    ASSERT_TRUE(x.execute(u"INSERT INTO Olcum (Ad, Fiyat, Stok, Notu) VALUES ('son', 3.25, 9, 'n')").isOk());
    rows = recordsOf(*db, u"Olcum");
    ASSERT_EQ(rows.size(), 41u);
    const TableDef& now = table->def();
    EXPECT_EQ(rows.back()[size_t(now.findColumn(u"Fiyat"))], Variant::decimal(Decimal{false, 325, 2, 18}));
    EXPECT_EQ(rows.back()[size_t(now.findColumn(u"Stok"))], Variant::longValue(9));
    EXPECT_EQ(rows[0][size_t(now.findColumn(u"Fiyat"))], Variant::decimal(Decimal{false, 1250, 2, 18}));
    EXPECT_TRUE(rows[0][size_t(now.findColumn(u"Stok"))].isNull());
    ddltest::expectIndexesMatchRows(*db, "Olcum");
    auto pages = checkTablePages(db->pager(), table->tdefPage());
    ASSERT_TRUE(pages.isOk());
    EXPECT_TRUE(pages->rowCountMatches());
}

TEST(VariableNumbers, FixtureReadsAndWrites)
{
    VK_REQUIRE_FIXTURES(fixtures);
    test::TempDir dir;
    auto copy = test::copyWritable(fixtures / "odd" / "variable-numeric.mdb", dir.file("v.mdb"));
    auto db = Database::open(copy.string(), OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto rows = recordsOf(**db, u"tblUrun");
    ASSERT_EQ(rows.size(), 4u);
    auto table = *(*db)->table(u"tblUrun");
    const size_t sale = size_t(table->def().findColumn(u"sFiyat"));
    EXPECT_EQ(rows[0][sale], Variant::decimal(Decimal{false, 420, 2, 18}));
    EXPECT_EQ(rows[3][sale], Variant::decimal(Decimal{false, 75, 2, 18}));

    auto change = (*db)->changeTable(*table);
    ASSERT_TRUE(change.isOk());
    auto pointers = table->rowPointers();
    auto v = change->writer->readRow(pointers->at(2));
    ASSERT_TRUE(v.isOk());
    (*v)[sale] = Variant::decimal(Decimal{true, 99999, 3, 18});  // -99.999 -> -100.00
    ASSERT_TRUE(change->writer->updateRow(pointers->at(2), *v).isOk());
    EXPECT_EQ(recordsOf(**db, u"tblUrun")[2][sale], Variant::decimal(Decimal{true, 10000, 2, 18}));
    ddltest::expectIndexesMatchRows(**db, "tblUrun");
}

}  // namespace
}  // namespace varnika::jet

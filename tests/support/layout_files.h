#pragma once
// Databases in the layouts Access leaves in real files, made with our own
// writer and a few byte patches: moved rows whose old slot keeps its old
// length, numbers stored as variable-length values, the damage a copy made
// while the file was open leaves, and text indexes under sort orders the
// engine does not encode. The tests and the fuzzer's seeds (bench/
// make_layouts.cpp) share them; nothing here depends on the test framework.

#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/file/bytes.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/index_tree.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/page/data_page.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace varnika::jet::layouts {

// A new database at `path` (which must not exist), open for writing.
inline Result<std::shared_ptr<Database>> createDatabase(const std::string& path, uint16_t sortLcid = 0x041F)
{
    NewDatabaseOptions options;
    options.sortOrderLcid = sortLcid;
    VK_RETURN_IF_ERROR(createDatabaseFile(path, options));
    return Database::open(path, OpenMode::ReadWrite);
}

inline Status runStatements(const std::shared_ptr<Database>& db, const std::vector<std::u16string>& statements)
{
    DdlExecutor executor(db, RegionalSettings::unitedStates());
    for (const std::u16string& s : statements) {
        Status done = executor.execute(s);
        if (!done.isOk()) return Status(done.code(), toUtf8(s) + ": " + done.message());
    }
    return Status::ok();
}

// Rewrites the definition of `table` after `edit` changed it (in place:
// the definition keeps its pages).
template <typename Edit>
Status editDefinition(Database& db, std::u16string_view table, Edit edit)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> t, db.table(table));
    VK_RETURN_IF_ERROR(t->reload());
    TableDef def = t->def();
    edit(def);
    def.reindexColumns();
    VK_ASSIGN_OR_RETURN(std::vector<PageBuffer> pages, def.toPages());
    for (size_t i = 0; i < pages.size(); ++i) VK_RETURN_IF_ERROR(db.pager().write(def.pages()[i], pages[i]));
    VK_RETURN_IF_ERROR(db.pager().commit());
    return t->reload();
}

// Lays the rows of a data page out again from the end of the page with
// `rows[i]` as the bytes of slot i; flags are kept and the free space is
// recomputed. Rows that do not fit are InvalidArgument.
inline Result<PageBuffer> relayDataPage(const PageBuffer& page, const std::vector<std::vector<uint8_t>>& rows)
{
    ByteReader r(page.data(), page.size());
    const size_t count = r.u16(datapage::kSlotCount);
    if (rows.size() != count) return invalidArgument("one row per slot is needed");
    PageBuffer out = page;
    const size_t tableEnd = datapage::kSlotTable + count * datapage::kSlotSize;
    std::fill(out.begin() + long(tableEnd), out.end(), uint8_t(0));
    size_t pos = kPageSize;
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].size() > pos - tableEnd) return invalidArgument("the rows do not fit the page");
        pos -= rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(), out.begin() + long(pos));
        const uint16_t flags = r.u16(datapage::kSlotTable + i * datapage::kSlotSize) & datapage::kSlotDeleted;
        putU16(out.data(), datapage::kSlotTable + i * datapage::kSlotSize, uint16_t(pos | flags));
    }
    putU16(out.data(), datapage::kFreeSpace, uint16_t(pos - tableEnd));
    return out;
}

// The bytes of every slot of a data page, in slot order.
inline Result<std::vector<std::vector<uint8_t>>> slotBytes(Pager& pager, uint32_t page)
{
    VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(page));
    VK_ASSIGN_OR_RETURN(DataPageView view, DataPageView::parse(ref, page));
    std::vector<std::vector<uint8_t>> rows;
    for (int s = 0; s < view.slotCount(); ++s) {
        auto b = view.rowBytes(s);
        rows.emplace_back(b.begin(), b.end());
    }
    return rows;
}

// Table Kitap (Id COUNTER PRIMARY KEY, Ad TEXT(255), Yazar TEXT(60), Sayfa
// LONG, index ixYazar on Yazar) with 60 records, the first page full; then
// every fifth record of that page grows, and those that no longer fit move
// to another page, their old slot holding the 4-byte pointer.
struct MovedRows {
    std::shared_ptr<Database> db;
    std::vector<RowPointer> headers;                             // the moved records' own slots
    std::map<RowPointer, std::vector<uint8_t>> bytesBeforeMove;  // their rows as they were
};

inline std::u16string bookTitle(int i, bool grown)
{
    // Ğ keeps a grown title from compressing, so it needs twice the bytes.
    return grown ? u"Ğ" + std::u16string(240, u'ğ') + u" " + fromUtf8(std::to_string(i))
                 : u"Kitap numarası " + fromUtf8(std::to_string(i)) + u" için uzunca bir ad, sayfa sayfa";
}

inline Result<MovedRows> makeMovedRows(const std::string& path)
{
    MovedRows out;
    VK_ASSIGN_OR_RETURN(out.db, createDatabase(path));
    VK_RETURN_IF_ERROR(runStatements(out.db, {u"CREATE TABLE Kitap (Id COUNTER PRIMARY KEY, Ad TEXT(255), Yazar TEXT(60), Sayfa LONG)",
                                              u"CREATE INDEX ixYazar ON Kitap (Yazar)"}));
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, out.db->table(u"Kitap"));
    VK_ASSIGN_OR_RETURN(TableChange change, out.db->changeTable(*table));
    const TableDef& def = table->def();
    for (int i = 1; i <= 60; ++i) {
        std::vector<Variant> v(def.columns().size());
        v[size_t(def.findColumn(u"Ad"))] = Variant::text(bookTitle(i, false));
        v[size_t(def.findColumn(u"Yazar"))] = Variant::text(u"Yazar " + fromUtf8(std::to_string(i % 7)));
        v[size_t(def.findColumn(u"Sayfa"))] = Variant::longValue(100 + i);
        VK_RETURN_IF_ERROR(change.writer->insertRow(std::move(v)).status());
    }
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, table->rowPointers());
    const uint32_t firstPage = rows.front().page;
    for (size_t i = 0; i < rows.size(); i += 5) {
        if (rows[i].page != firstPage) break;
        VK_ASSIGN_OR_RETURN(RowBytes before, table->rowBytes(rows[i]));
        auto b = before.bytes();
        out.bytesBeforeMove[rows[i]] = std::vector<uint8_t>(b.begin(), b.end());
        VK_ASSIGN_OR_RETURN(std::vector<Variant> v, change.writer->readRow(rows[i]));
        v[size_t(def.findColumn(u"Ad"))] = Variant::text(bookTitle(int(i) + 1, true));
        VK_RETURN_IF_ERROR(change.writer->updateRow(rows[i], v));
        // Once the pointers left behind have freed enough room, a grown
        // record stays on its page.
        VK_ASSIGN_OR_RETURN(RowBytes header, readRowAt(out.db->pager(), rows[i]));
        if (header.slot.isOverflowPointer()) out.headers.push_back(rows[i]);
        else out.bytesBeforeMove.erase(rows[i]);
    }
    if (out.headers.size() < 2) return invalidArgument("the grown records did not move");
    return out;
}

// makeMovedRows, then each moved record's old slot gets its old length
// back: the pointer, then the stale bytes of the row before it moved, as
// Access leaves them. Returns the headers so widened.
inline Result<std::vector<RowPointer>> makeStaleMovedRows(const std::string& path)
{
    VK_ASSIGN_OR_RETURN(MovedRows moved, makeMovedRows(path));
    Pager& pager = moved.db->pager();
    std::vector<RowPointer> widened;
    for (RowPointer header : moved.headers) {
        VK_ASSIGN_OR_RETURN(std::vector<std::vector<uint8_t>> rows, slotBytes(pager, header.page));
        const std::vector<uint8_t>& old = moved.bytesBeforeMove.at(header);
        std::vector<uint8_t>& slot = rows[header.row];
        slot.resize(datapage::kOverflowPointerSize);
        slot.insert(slot.end(), old.begin() + long(datapage::kOverflowPointerSize), old.end());
        VK_ASSIGN_OR_RETURN(PageRef page, pager.read(header.page));
        auto relaid = relayDataPage(*page, rows);
        if (!relaid.isOk()) continue;  // the page filled up meanwhile
        VK_RETURN_IF_ERROR(pager.write(header.page, *relaid));
        widened.push_back(header);
    }
    VK_RETURN_IF_ERROR(pager.commit());
    if (widened.empty()) return invalidArgument("no moved record kept its old length");
    return widened;
}

// A table of every number, date and GUID type stored as variable-length
// values (the descriptors say so before any row is written), with indexes
// over three of them: Olcum (Id COUNTER PRIMARY KEY, Ad TEXT(40), Adet
// BYTE, Sira SHORT, Miktar LONG, Tutar CURRENCY, Oran SINGLE, Agirlik
// DOUBLE, Tarih DATETIME, Kod GUID, Fiyat NUMERIC(18,2)), 40 records.
inline Result<std::shared_ptr<Database>> makeVariableNumbers(const std::string& path)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Database> db, createDatabase(path));
    VK_RETURN_IF_ERROR(runStatements(db, {u"CREATE TABLE Olcum (Id COUNTER PRIMARY KEY, Ad TEXT(40), Adet BYTE, Sira SHORT, "
                                          u"Miktar LONG, Tutar CURRENCY, Oran SINGLE, Agirlik DOUBLE, Tarih DATETIME, "
                                          u"Kod GUID, Fiyat NUMERIC(18,2))"}));
    VK_RETURN_IF_ERROR(editDefinition(*db, u"Olcum", [](TableDef& def) {
        uint16_t next = def.varColumnCount();
        for (ColumnDef& c : def.mutableColumns()) {
            if (c.isAutoLong() || fixedSize(c.type()) == 0) continue;
            c.flags = uint8_t(c.flags & ~tdef::kColFlagFixed);
            c.varIndex = next++;
            if (c.type() == ColumnType::Numeric) {
                c.raw[tdef::kColTypeSpecific] = 18;
                c.raw[tdef::kColTypeSpecific + 1] = 2;
            }
        }
        def.setVarColumnCount(next);
    }));
    VK_RETURN_IF_ERROR(runStatements(db, {u"CREATE INDEX ixFiyat ON Olcum (Fiyat)", u"CREATE INDEX ixAgirlik ON Olcum (Agirlik DESC)",
                                          u"CREATE INDEX ixTarih ON Olcum (Tarih, Miktar)"}));
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db->table(u"Olcum"));
    VK_ASSIGN_OR_RETURN(TableChange change, db->changeTable(*table));
    const TableDef& def = table->def();
    auto at = [&](const char16_t* name) { return size_t(def.findColumn(name)); };
    for (int i = 1; i <= 40; ++i) {
        std::vector<Variant> v(def.columns().size());
        v[at(u"Ad")] = Variant::text(u"Ölçüm " + fromUtf8(std::to_string(i)));
        if (i % 9 != 0) {  // every ninth record leaves its numbers empty
            v[at(u"Adet")] = Variant::byte(uint8_t(i * 6));
            v[at(u"Sira")] = Variant::integer(int16_t(i * 700 - 14000));
            v[at(u"Miktar")] = Variant::longValue(i * 100003 - 2000000);
            v[at(u"Tutar")] = Variant::currency({int64_t(i) * 123456 - 999999});
            v[at(u"Oran")] = Variant::single(float(i) / 8.0f);
            v[at(u"Agirlik")] = Variant::doubleValue(i % 5 * 2.75 - 3);
            v[at(u"Tarih")] = Variant::date(40000.0 + i % 11 + 0.25);
            Guid g{};
            g[0] = uint8_t(i);
            g[15] = 0xA5;
            v[at(u"Kod")] = Variant::guid(g);
            v[at(u"Fiyat")] = Variant::decimal(Decimal{i % 4 == 0, unsigned(i) * 1999u, 2, 18});
        }
        VK_RETURN_IF_ERROR(change.writer->insertRow(std::move(v)).status());
    }
    return db;
}

// The stored row count of `table` set to `count`, whatever its rows.
inline Status setStoredRowCount(Database& db, std::u16string_view table, uint32_t count)
{
    return editDefinition(db, table, [&](TableDef& def) { def.setRowCount(count); });
}

// The entry of the record at `row` taken out of the index named `index`.
inline Status dropIndexEntry(Database& db, std::u16string_view table, std::u16string_view indexName, RowPointer row)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> t, db.table(table));
    const LogicalIndexDef* logical = nullptr;
    for (const LogicalIndexDef& l : t->def().logicalIndexes())
        if (l.name == indexName) logical = &l;
    if (!logical) return notFound("no index " + toUtf8(indexName));
    const RealIndexDef& index = t->def().realIndexes().at(logical->realIndex);
    IndexTree tree(db.pager(), t->def().firstPage(), index.rootPage);
    VK_ASSIGN_OR_RETURN(std::optional<IndexEntry> entry, tree.findByRowId(RowId{row.page, row.row}));
    if (!entry) return notFound("the index holds no entry for the record");
    PageAllocator allocator(db.pager());
    OwnedIndexPages pages(allocator, index.usageMap);
    Status removed = tree.remove(entry->key(), RowId{row.page, row.row}, pages);
    if (!removed.isOk()) {
        db.pager().rollback();
        return removed;
    }
    return db.pager().commit();
}

// A moved record deleted as a copy made in the middle of its delete shows
// it: its slot and its index entries gone and the row count lowered, its
// moved bytes still there (flag 0x8000 only). Returns the orphaned row.
inline Result<RowPointer> orphanMovedRow(MovedRows& moved)
{
    Database& db = *moved.db;
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db.table(u"Kitap"));
    for (RowPointer header : moved.headers) {
        VK_ASSIGN_OR_RETURN(RowBytes slot, readRowAt(db.pager(), header));
        VK_ASSIGN_OR_RETURN(RowPointer target, overflowPointerOf(slot.bytes(), header));
        if (target.page == header.page) continue;
        VK_ASSIGN_OR_RETURN(PageRef before, db.pager().read(target.page));
        const PageBuffer targetPage = *before;
        VK_ASSIGN_OR_RETURN(TableChange change, db.changeTable(*table));
        VK_RETURN_IF_ERROR(change.writer->deleteRow(header));
        VK_RETURN_IF_ERROR(db.pager().write(target.page, targetPage));
        VK_RETURN_IF_ERROR(db.pager().commit());
        return target;
    }
    return invalidArgument("every moved record landed on its own page");
}

// The last moved record loses its moved bytes: its slot points at a
// deleted slot, and the record cannot be read. Returns its own slot.
inline Result<RowPointer> loseMovedBytes(MovedRows& moved)
{
    Pager& pager = moved.db->pager();
    const RowPointer header = moved.headers.back();
    VK_ASSIGN_OR_RETURN(RowBytes slot, readRowAt(pager, header));
    VK_ASSIGN_OR_RETURN(RowPointer target, overflowPointerOf(slot.bytes(), header));
    VK_ASSIGN_OR_RETURN(PageRef page, pager.read(target.page));
    PageBuffer patched = *page;
    const size_t word = datapage::kSlotTable + target.row * datapage::kSlotSize;
    putU16(patched.data(), word, uint16_t(ByteReader(patched.data(), patched.size()).u16(word) | datapage::kSlotDeleted));
    VK_RETURN_IF_ERROR(pager.write(target.page, patched));
    VK_RETURN_IF_ERROR(pager.commit());
    return header;
}

// Table Uye (Nick TEXT(20) PRIMARY KEY, Ad TEXT(40), Puan LONG, indexes on
// Ad and Puan) with 12 records, made under the Turkish order; then its text
// columns are relabelled with sort order `lcid` (1058 Ukrainian, 1050
// Croatian, 2052 Chinese PRC are found in real files), whose keys the
// engine does not make.
inline Result<std::shared_ptr<Database>> makeForeignSortOrder(const std::string& path, uint16_t lcid)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Database> db, createDatabase(path));
    std::vector<std::u16string> statements = {u"CREATE TABLE Uye (Nick TEXT(20) PRIMARY KEY, Ad TEXT(40), Puan LONG)",
                                              u"CREATE INDEX ixAd ON Uye (Ad)", u"CREATE INDEX ixPuan ON Uye (Puan)"};
    const char16_t* nicks[] = {u"Ğöl", u"İpek", u"Ürün", u"ışık", u"Çam", u"şule", u"Ada", u"zeytin", u"Öykü", u"gül", u"Ilgaz", u"umut"};
    for (int i = 0; i < 12; ++i)
        statements.push_back(u"INSERT INTO Uye (Nick, Ad, Puan) VALUES ('" + std::u16string(nicks[i]) + u"', 'Ad " +
                             fromUtf8(std::to_string(i)) + u"', " + fromUtf8(std::to_string(i * 10)) + u")");
    VK_RETURN_IF_ERROR(runStatements(db, statements));
    VK_RETURN_IF_ERROR(editDefinition(*db, u"Uye", [&](TableDef& def) {
        for (ColumnDef& c : def.mutableColumns()) {
            if (c.type() != ColumnType::Text) continue;
            putU16(c.raw.data(), tdef::kColTypeSpecific, lcid);
        }
    }));
    return db;
}

}  // namespace varnika::jet::layouts

#pragma once
// One table of a database: its definition and its rows in the file's scan
// order (owned data pages ascending, slots in order). Rows are addressed by
// the RowPointer of their header slot; a moved row is read through the
// overflow pointer its header slot holds.
//
// A Table refers to the database's Pager and must not outlive the Database.

#include "db/jet/page/data_page.h"
#include "db/jet/table/long_value.h"
#include "db/jet/table/table_def.h"
#include "db/status.h"
#include "db/variant.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnika::jet {

class Table {
public:
    static Result<std::shared_ptr<Table>> open(Pager& pager, uint32_t tdefPage, std::u16string name);

    const std::u16string& name() const { return m_name; }
    uint32_t tdefPage() const { return m_def.firstPage(); }
    const TableDef& def() const { return m_def; }
    // Re-reads the definition (after a writer changed it).
    Status reload();
    // Changes at every reload: what was built for one definition (a
    // writer's layout) serves while it stays the same.
    uint64_t definitionGeneration() const { return m_generation; }
    Pager& pager() { return *m_pager; }
    // Reads Memo and OLE values of this table's rows.
    LongValueSource& longValues() { return m_longValues; }
    // The slot tables of the data pages whose rows were read last; a writer
    // of the table keeps it up to date with the pages it writes.
    SlotTableMemo& slotTables() { return m_slotTables; }

    // Walks the base rows without holding them all.
    class Scanner {
    public:
        // Moves to the next base row; false at the end.
        Result<bool> next();
        RowPointer pointer() const { return m_current; }
        // The current row's stored bytes (after following an overflow pointer).
        const RowBytes& row() const { return m_row; }
        // Decodes the current row (values parallel to def().columns()).
        Result<std::vector<Variant>> values();
        // Decodes only the columns at `columns` (positions in def().columns());
        // the others are left Null, and their long values are not read.
        Result<std::vector<Variant>> values(const std::vector<int>& columns);
        // values(columns) that also refuses the row when a column at
        // `checked` could not be read (as decoding it would), without
        // making those values.
        Result<std::vector<Variant>> values(const std::vector<int>& columns, const std::vector<int>& checked);
        // values(columns) into `out`, whose room is kept from row to row.
        Status valuesInto(const std::vector<int>& columns, std::vector<Variant>& out);

    private:
        friend class Table;
        Table* m_table = nullptr;
        std::vector<uint32_t> m_pages;
        size_t m_pageIndex = 0;
        std::optional<DataPageView> m_view;
        int m_slot = -1;
        RowPointer m_current;
        RowBytes m_row;
    };
    Result<Scanner> scan();
    // The same over `pages` alone (a part of ownedPages()), in their
    // order; those that hold no rows of this table are passed over.
    Scanner scanPages(std::vector<uint32_t> pages);

    // Only the columns at `columns` of the record at `ptr` (as readRow,
    // the others left Null and their long values not read).
    Result<std::vector<Variant>> readColumns(RowPointer ptr, const std::vector<int>& columns);

    // Header-slot pointers of every base row, in scan order.
    Result<std::vector<RowPointer>> rowPointers();
    // The stored bytes of the row whose header slot is `ptr`. A deleted row
    // is NotFound; a pointer to a missing row or a broken overflow link is
    // a Corruption.
    Result<RowBytes> rowBytes(RowPointer ptr);
    Result<std::vector<Variant>> readRow(RowPointer ptr);
    Result<std::vector<Variant>> decode(std::span<const uint8_t> row);

    // Data pages of this table in scan order: its owned pages that are data
    // pages owned by this definition.
    Result<std::vector<uint32_t>> dataPages();
    // Every page the table's map of owned pages names, in scan order (its
    // data pages among them), without reading them.
    Result<std::vector<uint32_t>> ownedPages();
    // Whether `page` is a data page of this table, one that holds its rows.
    bool holdsRowsOf(const PageBuffer& page) const;

private:
    Table(Pager& pager, TableDef def, std::u16string name)
        : m_pager(&pager), m_def(std::move(def)), m_name(std::move(name)), m_longValues(pager)
    {
    }
    Result<RowBytes> followOverflow(const RowBytes& header, RowPointer ptr);

    Pager* m_pager;
    TableDef m_def;
    uint64_t m_generation = 0;
    std::u16string m_name;
    LongValueReader m_longValues;
    SlotTableMemo m_slotTables;
};

}  // namespace varnika::jet

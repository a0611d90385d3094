#pragma once
// Keeps every real index of one table in line with its rows. Keys are built
// from the column values under each column's own sort order; an index whose
// key for the row did not change is left alone (a title-cased text usually
// keeps its key). An index that must change is rebuilt from the table's rows
// as they stand in the Pager, which makes it right whatever it held before.

#include "db/jet/index_builder.h"
#include "db/jet/index_maintainer.h"
#include "db/jet/key_codec.h"
#include "db/jet/table.h"

#include <optional>
#include <vector>

namespace varnika::jet {

// The collation of a text column: its own sort order, or the database's when
// the column carries none.
Result<TextCollation> columnCollation(const ColumnDef& column, uint16_t databaseLcid, uint8_t databaseVersion);

// The key of `values` (in column-list order) for a real index, or nothing
// when the index leaves out rows whose key columns are all Null.
Result<std::optional<IndexKeyEntry>> indexEntryFor(const TableDef& def, const RealIndexDef& index,
                                                const std::vector<Variant>& values, uint16_t databaseLcid,
                                                uint8_t databaseVersion);

class JetIndexMaintainer final : public IndexMaintainer {
public:
    JetIndexMaintainer(Table& table, uint16_t databaseLcid, uint8_t databaseVersion)
        : m_table(table), m_lcid(databaseLcid), m_version(databaseVersion) {}

    Status apply(PageAllocator& allocator, const RowChange& change) override;

    // Rebuilds one index from every row of the table, leaving out `without`
    // (a row being deleted, which the writer removes after this).
    Status rebuild(PageAllocator& allocator, const RealIndexDef& index, std::optional<RowPointer> without = std::nullopt);

private:
    Table& m_table;
    uint16_t m_lcid;
    uint8_t m_version;
};

}  // namespace varnika::jet

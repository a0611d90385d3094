#include "db/jet/index/index_seek.h"

#include "db/jet/index/index_tree.h"
#include "db/jet/index/key_codec.h"

#include <algorithm>

namespace varnika::jet {

Result<std::optional<std::vector<RowPointer>>> seekEqualRows(Table& table, int column, const Variant& value)
{
    const TableDef& def = table.def();
    std::optional<std::vector<RowPointer>> none;
    if (column < 0 || size_t(column) >= def.columns().size() || value.isNull()) return none;
    const ColumnDef& c = def.columns()[size_t(column)];
    switch (c.type()) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::DateTime: break;
    default: return none;
    }
    for (const RealIndexDef& ix : def.realIndexes()) {
        if (ix.columns.empty() || ix.columns[0].columnNumber != c.number) continue;
        std::vector<uint8_t> prefix;
        if (!appendColumnKey(prefix, value, c.type(), ix.columns[0].ascending, TextCollation::GeneralLegacy).isOk())
            return none;
        std::vector<RowPointer> rows;
        IndexTree tree(table.pager(), def.firstPage(), ix.rootPage);
        VK_RETURN_IF_ERROR(tree.forEachWithKeyPrefix(prefix, [&](const IndexEntry& e) {
            RowId id = e.rowId();
            rows.push_back(RowPointer{id.page, id.row});
            return Status::ok();
        }));
        // A scan visits the pages in ascending order and each page's rows in
        // slot order: so does this list, sorted.
        std::sort(rows.begin(), rows.end());
        return std::optional<std::vector<RowPointer>>(std::move(rows));
    }
    return none;
}

}  // namespace varnika::jet

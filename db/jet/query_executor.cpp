#include "db/jet/query_executor.h"

#include "db/jet/database.h"
#include "db/jet/index/index_seek.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/table.h"
#include "db/sql/sql_query.h"

#include <algorithm>
#include <numeric>

namespace varnika::jet {

namespace {

Result<BoundQuery> bindToTable(const Table& table, const RecordSourceQuery& query, const RegionalSettings& settings)
{
    std::vector<SqlColumn> columns;
    for (const ColumnDef& c : table.def().columns()) columns.push_back({c.name, c.type(), c.displaySize()});
    return bindQuery(query, columns, settings);
}

}  // namespace

Result<std::vector<RowPointer>> selectRows(Table& table, const RecordSourceQuery& query, const RegionalSettings& settings)
{
    if (!query.isStatement) return table.rowPointers();
    VK_ASSIGN_OR_RETURN(BoundQuery bound, bindToTable(table, query, settings));

    std::vector<RowPointer> rows;
    std::vector<std::vector<Variant>> kept;  // for ORDER BY only
    // Only the columns the condition and the order read are decoded.
    const std::vector<int> needed = bound.referencedColumns();
    auto consider = [&](RowPointer row, const std::vector<Variant>& values) -> Status {
        VK_ASSIGN_OR_RETURN(Tri match, bound.matches(values));
        if (match != Tri::True) return Status::ok();
        rows.push_back(row);
        if (bound.hasOrder()) kept.push_back(values);
        return Status::ok();
    };
    // An equality the condition cannot do without narrows it through an
    // index; the whole condition is still evaluated on each row found.
    std::optional<std::vector<RowPointer>> sought;
    if (auto term = bound.indexableEquality()) {
        VK_ASSIGN_OR_RETURN(sought, seekEqualRows(table, term->column, term->value));
    }
    if (sought) {
        for (RowPointer row : *sought) {
            VK_ASSIGN_OR_RETURN(std::vector<Variant> values, table.readColumns(row, needed));
            VK_RETURN_IF_ERROR(consider(row, values));
        }
    } else {
        VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table.scan());
        std::vector<Variant> values;
        for (;;) {
            VK_ASSIGN_OR_RETURN(bool more, scanner.next());
            if (!more) break;
            VK_RETURN_IF_ERROR(scanner.valuesInto(needed, values));
            VK_RETURN_IF_ERROR(consider(scanner.pointer(), values));
        }
    }
    if (bound.hasOrder()) {
        std::vector<size_t> order(rows.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return bound.compareRows(kept[a], kept[b]) < 0; });
        std::vector<RowPointer> sorted;
        sorted.reserve(rows.size());
        for (size_t i : order) sorted.push_back(rows[i]);
        rows = std::move(sorted);
    }
    return rows;
}

Result<std::unique_ptr<TableRecordSet>> openRecordSource(std::shared_ptr<Database> db, const RecordSourceQuery& query,
                                                         const RegionalSettings& settings, Selection when)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, db->table(query.tableName));
    if (when == Selection::AtFirstUse) {
        if (query.isStatement) VK_RETURN_IF_ERROR(bindToTable(*table, query, settings).status());
        auto select = [query, settings](Table& t) { return selectRows(t, query, settings); };
        return std::make_unique<TableRecordSet>(std::move(db), std::move(table), std::move(select), settings);
    }
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, selectRows(*table, query, settings));
    return std::make_unique<TableRecordSet>(std::move(db), std::move(table), std::move(rows), settings);
}

}  // namespace varnika::jet

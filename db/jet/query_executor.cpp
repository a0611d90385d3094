#include "db/jet/query_executor.h"

#include "db/jet/database.h"
#include "db/jet/index/index_seek.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/row_runs.h"
#include "db/jet/table/table.h"
#include "db/sql/sql_query.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>

namespace varnika::jet {

namespace {

Result<BoundQuery> bindToTable(const Table& table, const RecordSourceQuery& query, const RegionalSettings& settings)
{
    std::vector<SqlColumn> columns;
    for (const ColumnDef& c : table.def().columns()) columns.push_back({c.name, c.type(), c.displaySize()});
    return bindQuery(query, columns, settings);
}

// A condition on one field of few values (a unit, a branch) meets the same
// stored bytes row after row: its outcome is kept for each stored form, and
// the value is decoded and the condition evaluated only for a form not met
// before. A field of many values turns the memo off after a few misses.
class OutcomeMemo {
public:
    OutcomeMemo(const TableDef& def, int column) : m_def(def), m_column(column) {}

    // Whether a field of `column` can be told by its stored bytes alone:
    // a long value's bytes point at data elsewhere; a Yes/No field has none.
    static bool usable(const TableDef& def, int column)
    {
        const ColumnDef& c = def.columns()[size_t(column)];
        return !isLongValueType(c.type()) && !c.isBoolean();
    }

    // The outcome kept for this row's stored field, if any; otherwise the
    // caller evaluates the row and gives the outcome to remember().
    std::optional<Tri> lookup(std::span<const uint8_t> row)
    {
        m_key.clear();
        if (!m_on) return std::nullopt;
        ++m_rows;
        auto layout = parseRowLayout(m_def, row);
        if (!layout.isOk()) return std::nullopt;
        auto field = fieldBytes(m_def, *layout, row, m_column);
        if (!field.isOk()) return std::nullopt;
        // A null field is told from any stored value by the first byte.
        m_key.assign(1, field->present ? '\1' : '\0');
        m_key.append(field->bytes.begin(), field->bytes.end());
        if (auto hit = m_outcomes.find(m_key); hit != m_outcomes.end()) return hit->second;
        return std::nullopt;
    }
    void remember(Tri outcome)
    {
        if (m_key.empty()) return;
        ++m_misses;
        if (m_misses > kMissesTolerated && m_misses * 4 > m_rows) {
            m_on = false;
            m_outcomes.clear();
            return;
        }
        if (m_outcomes.size() < kEntries) m_outcomes.emplace(m_key, outcome);
    }

private:
    static constexpr size_t kEntries = 1024;
    static constexpr size_t kMissesTolerated = 64;
    const TableDef& m_def;
    int m_column;
    bool m_on = true;
    size_t m_rows = 0, m_misses = 0;
    std::string m_key;  // the current row's stored form, empty when it has none
    std::unordered_map<std::string, Tri> m_outcomes;
};

}  // namespace

Result<std::vector<RowPointer>> selectRows(Table& table, const RecordSourceQuery& query, const RegionalSettings& settings)
{
    if (!query.isStatement) return table.rowPointers();
    VK_ASSIGN_OR_RETURN(BoundQuery bound, bindToTable(table, query, settings));

    // The rows taken, in scan order, and their values for ORDER BY only.
    struct Taken {
        std::vector<RowPointer> rows;
        std::vector<std::vector<Variant>> kept;
    };
    // Only the columns the condition and the order read are decoded.
    const std::vector<int> needed = bound.referencedColumns();
    // Takes the row when the condition holds; gives the condition's outcome.
    auto consider = [&](const BoundQuery& by, Taken& taken, RowPointer row,
                        const std::vector<Variant>& values) -> Result<Tri> {
        VK_ASSIGN_OR_RETURN(Tri match, by.matches(values));
        if (match != Tri::True) return match;
        taken.rows.push_back(row);
        if (by.hasOrder()) taken.kept.push_back(values);
        return match;
    };
    // An equality the condition cannot do without narrows it through an
    // index; the whole condition is still evaluated on each row found.
    std::optional<std::vector<RowPointer>> sought;
    if (auto term = bound.indexableEquality()) {
        VK_ASSIGN_OR_RETURN(sought, seekEqualRows(table, term->column, term->value));
    }
    // The pages read: those of the rows found, or all the table's.
    std::vector<uint32_t> pages;
    if (sought) {
        // Found in page order (seekEqualRows sorts them).
        for (RowPointer row : *sought)
            if (pages.empty() || pages.back() != row.page) pages.push_back(row.page);
    } else {
        VK_ASSIGN_OR_RETURN(pages, table.ownedPages());
    }

    // A large table is read by two threads, each with a condition, a memo
    // and values of its own (a bound condition keeps scratch room); what
    // each run of pages takes is put together in page order.
    struct Reader {
        const BoundQuery* by = nullptr;
        std::optional<BoundQuery> own;
        std::vector<Variant> values;
        std::optional<OutcomeMemo> memo;
    };
    Reader readers[2];
    std::vector<Taken> runs(rowRunCount(pages));
    const bool memoUsable =
        !sought && needed.size() == 1 && !bound.hasOrder() && OutcomeMemo::usable(table.def(), needed.front());
    VK_RETURN_IF_ERROR(readRowsInRuns(table, pages, [&](Table& t, int thread, std::span<const uint32_t> run) -> Status {
        Reader& r = readers[thread];
        if (!r.by) {
            if (thread == 0) {
                r.by = &bound;
            } else {
                VK_ASSIGN_OR_RETURN(r.own, bindToTable(t, query, settings));
                r.by = &*r.own;
            }
            if (memoUsable) r.memo.emplace(t.def(), needed.front());
        }
        Taken& taken = runs[rowRunIndex(pages, run)];
        if (run.empty()) return Status::ok();
        if (sought) {
            // The rows found on this run's pages, which are theirs in order.
            auto row = std::lower_bound(sought->begin(), sought->end(), RowPointer{run.front(), 0});
            for (; row != sought->end() && row->page <= run.back(); ++row) {
                VK_ASSIGN_OR_RETURN(r.values, t.readColumns(*row, needed));
                VK_RETURN_IF_ERROR(consider(*r.by, taken, *row, r.values).status());
            }
            return Status::ok();
        }
        Table::Scanner scanner = t.scanPages(std::vector<uint32_t>(run.begin(), run.end()));
        for (;;) {
            VK_ASSIGN_OR_RETURN(bool more, scanner.next());
            if (!more) break;
            if (r.memo) {
                if (std::optional<Tri> known = r.memo->lookup(scanner.row().bytes())) {
                    if (*known == Tri::True) taken.rows.push_back(scanner.pointer());
                    continue;
                }
            }
            VK_RETURN_IF_ERROR(scanner.valuesInto(needed, r.values));
            VK_ASSIGN_OR_RETURN(Tri match, consider(*r.by, taken, scanner.pointer(), r.values));
            if (r.memo) r.memo->remember(match);
        }
        return Status::ok();
    }));
    Taken all;
    if (runs.size() == 1) {
        all = std::move(runs.front());
    } else {
        for (Taken& taken : runs) {
            all.rows.insert(all.rows.end(), taken.rows.begin(), taken.rows.end());
            std::move(taken.kept.begin(), taken.kept.end(), std::back_inserter(all.kept));
        }
    }
    std::vector<RowPointer>& rows = all.rows;
    if (bound.hasOrder()) {
        std::vector<size_t> order(rows.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return bound.compareRows(all.kept[a], all.kept[b]) < 0; });
        std::vector<RowPointer> sorted;
        sorted.reserve(rows.size());
        for (size_t i : order) sorted.push_back(rows[i]);
        rows = std::move(sorted);
    }
    return std::move(rows);
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

#pragma once
// A record source bound to the columns of its table: the condition checked
// against each row as Jet checks it, the ORDER BY comparison of two rows,
// and the equality the planner may answer from an index.
//
// The record set hands each row in as its values in the order of the
// columns given to bindQuery(); nothing here reads pages or rows.

#include "db/column_type.h"
#include "db/sql/sql_parser.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnika {

// Three-valued logic: a comparison with Null is neither true nor false.
enum class Tri : uint8_t { False, True, Null };

struct SqlColumn {
    std::u16string name;
    ColumnType type = ColumnType::Text;
    int size = 0;  // characters for Text
};

// One row: the value of column i of the bound column list at index i.
using RowValues = std::span<const Variant>;

// `column = value` that every selected row satisfies. The value has the
// column's own type. Text equality ignores case, as the condition does, so
// a seek must go through the case-blind index key; the rows found still
// have to pass matches().
struct EqualityTerm {
    int column = -1;
    Variant value;
};

struct QueryOptions {
    // The serial that Now() gives (Date() its day); NaN means the local
    // clock at the moment of binding.
    double now = std::nan("");
};

class QueryPlan;  // private details of a bound query

class BoundQuery {
public:
    BoundQuery();
    ~BoundQuery();
    BoundQuery(BoundQuery&&) noexcept;
    BoundQuery& operator=(BoundQuery&&) noexcept;

    const std::u16string& tableName() const;
    bool hasCondition() const;
    bool hasOrder() const;

    // Whether the row belongs to the selection: True selects it, False and
    // Null do not. Fails (TypeMismatch, InvalidArgument) when the condition
    // cannot be evaluated for this row, e.g. a text column compared with a
    // number holds a text that is no number, or a division by zero. Uses
    // scratch space inside the query and so allocates nothing once warm; a
    // BoundQuery must not be evaluated by two threads at once.
    Result<Tri> matches(RowValues row) const;

    // Negative, zero or positive as row a sorts before, with or after row b
    // by the ORDER BY terms (Null first in ascending order); 0 without terms.
    int compareRows(RowValues a, RowValues b) const;

    // The first `column = constant` term of the condition, alone or ANDed at
    // the top level, when an index on that column can narrow the scan.
    std::optional<EqualityTerm> indexableEquality() const;

    // The columns the condition and ORDER BY read, ascending. The values of
    // other columns are never looked at, so a record set may leave them Null
    // (and skip reading long values it does not need).
    std::vector<int> referencedColumns() const;

private:
    friend Result<BoundQuery> bindQuery(const RecordSourceQuery&, const std::vector<SqlColumn>&,
                                        const RegionalSettings&, const QueryOptions&);
    std::unique_ptr<QueryPlan> m_plan;
};

// Resolves the names of the condition and of ORDER BY against the columns
// (case ignored). Fails with NotFound for an unknown column or function,
// InvalidArgument for a wrong number of arguments or a qualifier that is not
// the table, TypeMismatch where a comparison or conversion is known to fail
// already (Tarih = 'abc', Miktar = 'x', a binary column in a comparison).
// Parts of the condition without columns are computed here once.
Result<BoundQuery> bindQuery(const RecordSourceQuery& query, const std::vector<SqlColumn>& columns,
                             const RegionalSettings& settings, const QueryOptions& options = {});

// Text comparison of conditions and of ORDER BY: case does not matter.
int compareText(std::u16string_view a, std::u16string_view b);

// Parses, binds against a small fixed table and evaluates over a few rows;
// meant as the single entry point of a fuzzer. Never crashes; returns the
// first failure.
Status checkRecordSourceForFuzz(std::u16string_view source);

}  // namespace varnika

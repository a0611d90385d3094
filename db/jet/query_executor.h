#pragma once
// Runs a record source in the engine: the rows one table gives for a table
// name or a "Select * From" statement. The condition is evaluated on each
// row; an equality the condition cannot do without narrows the rows
// through an index first (a seek in place of a scan), and the ORDER BY
// sorts what is left. The data control's record sets and the UPDATE and
// DELETE statements both select through here, so that they select exactly
// the same records.

#include "db/jet/page/page_layout.h"
#include "db/regional_settings.h"
#include "db/sql/sql_parser.h"
#include "db/status.h"

#include <memory>
#include <vector>

namespace varnika::jet {

class Database;
class Table;
class TableRecordSet;

// The header slots of the rows `query` selects in `table`, in the order the
// record source gives, fixed at this moment. Fails when the condition
// cannot be bound to the table's columns or cannot be evaluated on one of
// its rows; nothing is written either way.
Result<std::vector<RowPointer>> selectRows(Table& table, const RecordSourceQuery& query, const RegionalSettings& settings);

// When a record set's rows are selected: as it opens, or at its first use
// (for a set that may be closed unused: nothing is read for it then).
enum class Selection { AtOpen, AtFirstUse };

// A record set over the records the record source selects in `db`. A table
// the query names that is not there is NotFound; otherwise as selectRows.
// At first use, a condition that cannot be bound still fails here, and a
// row it cannot be evaluated on fails that first use.
// `settings` also read the values later written through the record set.
Result<std::unique_ptr<TableRecordSet>> openRecordSource(std::shared_ptr<Database> db, const RecordSourceQuery& query,
                                                         const RegionalSettings& settings,
                                                         Selection when = Selection::AtOpen);

}  // namespace varnika::jet

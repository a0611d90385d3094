#pragma once
// The rows a record source selects in one table: the condition evaluated on
// each row (an equality that starts an index narrows the scan first), then
// the ORDER BY. Shared by the data control's record sets and the UPDATE and
// DELETE statements, so that both select exactly the same records.

#include "db/jet/page/page_layout.h"
#include "db/sql/sql_parser.h"
#include "db/regional_settings.h"
#include "db/status.h"

#include <vector>

namespace varnika {

namespace jet { class Table; }

// The header slots of the selected rows, in the order the record source
// gives, fixed at this moment. Fails when the condition cannot be bound to
// the table's columns or cannot be evaluated on one of its rows; nothing is
// written either way.
Result<std::vector<jet::RowPointer>> selectRows(jet::Table& table, const RecordSourceQuery& query,
                                                const RegionalSettings& settings);

}  // namespace varnika

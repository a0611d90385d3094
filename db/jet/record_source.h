#pragma once
// What a data control's record source selects: a table, and (once queries
// are understood) a row filter and an order. Only bare table names are
// understood so far; the query parser plugs in here.

#include "db/jet/catalog.h"
#include "db/status.h"

#include <string>

namespace varnika::jet {

struct RecordSourcePlan {
    std::u16string table;  // as the catalog spells it
    // Row filter and order come with query support; a plan without them
    // selects every row in scan order.
};

// A table name (optionally in [brackets], compared without regard to case)
// becomes a plan; a query is NotSupported for now; anything else NotFound.
Result<RecordSourcePlan> planRecordSource(const Catalog& catalog, std::u16string_view source);

}  // namespace varnika::jet

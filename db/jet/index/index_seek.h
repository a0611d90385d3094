#pragma once
// Narrowing a selection through an index: the rows whose column equals a
// constant, found in an index that starts with that column, instead of a
// scan of the whole table.

#include "db/jet/table/table.h"
#include "db/status.h"
#include "db/variant.h"

#include <optional>
#include <vector>

namespace varnika::jet {

// The records of `table` whose column `column` (position in the column
// list) holds exactly `value` (of the column's own type), in scan order,
// from the first index on that column; nothing when no index can answer.
// Only columns whose keys are exact images of their values are sought:
// whole numbers, currency and dates. Text is not (Jet's comparison ignores
// case, the stored keys do not all), nor are floating-point columns (0 and
// -0 are equal but keyed apart) or Boolean ones.
Result<std::optional<std::vector<RowPointer>>> seekEqualRows(Table& table, int column, const Variant& value);

}  // namespace varnika::jet

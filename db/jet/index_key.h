#pragma once
// Index key bytes of column values, as Jet 4 stores them in index entries:
// per key column a flag byte (0x7F ascending / 0x80 descending with a value,
// 0x00 / 0xFF for null) followed by the value's order-preserving encoding.
#include "db/column_type.h"
#include "db/jet/sort_order.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <span>
#include <vector>

namespace varnika::jet {

constexpr uint8_t kKeyFlagAscending = 0x7F;
constexpr uint8_t kKeyFlagAscendingNull = 0x00;
constexpr uint8_t kKeyFlagDescending = 0x80;
constexpr uint8_t kKeyFlagDescendingNull = 0xFF;

// One column of an index key.
struct IndexKeyColumn {
    ColumnType type = ColumnType::Long;
    bool ascending = true;
    SortOrderId sortOrder = kGeneralLegacySortOrder;  // Text and Memo only
    uint8_t scale = 0;                                // Numeric only: the column's scale
};

// Appends the key bytes of one value. The value's type must be the column's
// (Text for Text and Memo, Binary for Binary, Decimal for Numeric, Date for
// DateTime); Null is allowed for every type. Unknown sort order or a type
// without a key encoding → NotSupported; a value of the wrong type →
// TypeMismatch.
Status appendIndexKey(const IndexKeyColumn& column, const Variant& value, std::vector<uint8_t>& out);

// The key of a whole row: the concatenation over the index's columns.
Result<std::vector<uint8_t>> encodeIndexKey(std::span<const IndexKeyColumn> columns, std::span<const Variant> values);

// Before an index is changed: re-encodes a row's stored values and compares
// them with the key found on disk for that row. A difference means this
// engine does not reproduce the file's keys (unknown sort order, a table gap)
// → NotSupported naming the first differing byte; nothing may be written.
Status verifyStoredIndexKey(std::span<const IndexKeyColumn> columns, std::span<const Variant> values,
                            std::span<const uint8_t> storedKey);

// True when every column of the key is null (such keys never violate a
// unique index). Works on the bytes alone: a value's flag is 0x7F / 0x80,
// so a key of only 0x00 / 0xFF bytes holds null flags only.
bool isAllNullKey(std::span<const uint8_t> key);

}  // namespace varnika::jet

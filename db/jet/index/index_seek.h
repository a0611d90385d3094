#pragma once
// Narrowing a selection through an index: the rows whose column equals a
// constant, found in an index that starts with that column, instead of a
// scan of the whole table.

#include "db/jet/index/key_codec.h"
#include "db/jet/table/table.h"
#include "db/status.h"
#include "db/variant.h"

#include <optional>
#include <string_view>
#include <vector>

namespace varnika::jet {

// The records of `table` whose column `column` (position in the column
// list) holds exactly `value` (of the column's own type), in scan order,
// from the first index on that column; nothing when no index can answer.
// Whole numbers, currency and dates are sought by their exact keys. Text,
// which a condition compares without regard to case, is sought by the
// beginnings such keys have (textSeekPrefixes): the rows found hold the
// value in some case, and possibly others, which the condition then
// leaves out. Floating-point columns (0 and -0 are equal but keyed apart)
// and Boolean ones are not sought.
Result<std::optional<std::vector<RowPointer>>> seekEqualRows(Table& table, int column, const Variant& value);

// The beginnings the ascending key of any text a condition takes for equal
// to `text` (the same characters, case aside) has under `collation`: the
// flag, the characters' primary bytes and the 0x01 that ends them; one for
// each spelling of those bytes the other cases of the characters give
// (under General, the long s is keyed apart from s), kMaxTextSeeks at most.
// Nothing when a character is missing from the tables, there are more
// spellings, the order's keys are not built so (Access 97's), or under the
// Turkish order a letter whose keys no Access-made file has shown (ğ, İ, ĳ).
constexpr size_t kMaxTextSeeks = 16;
std::optional<std::vector<std::vector<uint8_t>>> textSeekPrefixes(std::u16string_view text, TextCollation collation);

}  // namespace varnika::jet

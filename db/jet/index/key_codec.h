#pragma once
// Index key bytes of column values, as Jet 4 stores them in index entries:
// per key column a flag byte (0x7F ascending, 0x00 ascending Null, 0x80
// descending, 0xFF descending Null) and the value's encoding. Entries sort
// by plain byte comparison of these keys.

#include "db/column_type.h"
#include "db/jet/file/jet_format.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnika::jet {

// The sort orders of text keys the engine can build. General97 and
// Turkish97 are Access 97's (Jet 3 files); Turkish97 knows only the
// characters Access-made files show, in either case (the rest is refused).
enum class TextCollation { GeneralLegacy, General, Turkish, General97, Turkish97 };

// The flag byte that begins the key of a present value in ascending order.
constexpr uint8_t kAscendingKeyFlag = 0x7F;

// The collation of a sort order as a column descriptor stores it (LCID and
// version): 1033/0 General Legacy, 1033/1 General, 1055/0 Turkish; in a
// Jet 3 file (`format`) 1033 General 97 with code page 1252, 1055 Turkish
// 97 with code page 1254. Anything else is NotSupported, since keys built
// with the wrong tables would put entries in the wrong place.
Result<TextCollation> collationFor(uint16_t lcid, uint8_t version, const JetFormat& format = JetFormat::jet4());
const char* collationName(TextCollation c);

// The sort key of a text without the flag byte and the final 0x00: the
// encoding that comparisons of text under the collation are made on. The
// Access 97 orders end their keys themselves (with 0x00, or with the last
// nibble of their accent codes), and that end is part of what is returned.
// A character the tables have no code for is NotSupported.
Result<std::vector<uint8_t>> textSortKey(std::u16string_view text, TextCollation collation);

// Appends the key of one column value. The value should have the column's
// own type (as the row decoder gives it); numbers of another type are
// converted where that is exact. Memo keys use the first 255 characters.
Status appendColumnKey(std::vector<uint8_t>& out, const Variant& value, ColumnType type, bool ascending,
                       TextCollation collation);

}  // namespace varnika::jet

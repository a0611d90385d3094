#pragma once
// Default values of columns, as Access stores them: the text of each
// column's DefaultValue property ("0", "No", "\"Memur\"", "=Date()"), read
// from the table's property block and turned into the value an INSERT gives
// a column it leaves out, as Jet does.

#include "db/jet/table/property_block.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnika::jet {

class Database;
class Table;
struct ColumnDef;
struct NewColumn;

// The property block of a user table (its MSysObjects row's LvProp); an
// empty block when the table has none. A block that cannot be read is a
// Corruption (or NotSupported for a form this engine does not read).
Result<PropertyBlock> readTableProperties(Database& db, std::u16string_view tableName);

// The DefaultValue text of each column that has one, by column name.
std::map<std::u16string, std::u16string> defaultValueTexts(const PropertyBlock& block);

// The value a default gives `column`: a quoted text ('...' or "..."), a
// number, #date#, True/False/Yes/No/On/Off, Null, or Date(), Time() and
// Now() at `now` (a date serial), GenGUID() a new random GUID; a leading
// "=" is allowed. Nothing for a default the table writer fills itself
// (GenGUID() on a Replication ID AutoNumber). Any other expression is NotSupported, naming the column and
// the text; a value that does not fit the column fails as a written value
// would.
Result<std::optional<Variant>> evaluateDefaultValue(std::u16string_view text, const ColumnDef& column, double now,
                                                    const RegionalSettings& settings);

// The defaults of those `columns` (positions in the table's column list)
// that have one, evaluated at the present moment. Properties of columns
// since deleted are passed over.
Result<std::map<int, Variant>> columnDefaults(Database& db, const Table& table, const std::vector<int>& columns,
                                              const RegionalSettings& settings);

// The DefaultValue texts of a table's columns as stored in its properties,
// by column name, for columnDefaultsFrom.
Result<std::map<std::u16string, std::u16string>> tableDefaultTexts(Database& db, const Table& table);

// As columnDefaults, from texts tableDefaultTexts read before (a run of
// inserts reads them once and evaluates them for each record).
Result<std::map<int, Variant>> columnDefaultsFrom(const std::map<std::u16string, std::u16string>& texts,
                                                  const Table& table, const std::vector<int>& columns,
                                                  const RegionalSettings& settings);

// Whether `text` can be the default of a new column (CREATE TABLE ...
// DEFAULT): it is evaluated as an INSERT would evaluate it.
Status checkDefaultValue(std::u16string_view text, const NewColumn& column, const RegionalSettings& settings);

// What CREATE TABLE records of a column besides its descriptor.
struct NewColumnProperties {
    std::u16string column;
    std::optional<std::u16string> defaultValue;  // the DefaultValue text
    bool required = false;                       // declared NOT NULL: Required = True
};

// The property block of a new table, stored as Access stores it; empty
// when no column has anything to record.
Result<std::vector<uint8_t>> newTableProperties(const std::vector<NewColumnProperties>& columns,
                                                const JetFormat& format = JetFormat::jet4());

}  // namespace varnika::jet

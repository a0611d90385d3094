#pragma once
// Builds the definition (TDEF) of a new table: the bytes of the concatenated
// definition buffer. The caller chooses the pages
// and usage-map rows the table will own; this only lays out the bytes.

#include "db/column_type.h"
#include "db/jet/file/jet_format.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika::jet {

struct NewColumn {
    std::u16string name;
    ColumnType type = ColumnType::Text;
    uint16_t length = 0;      // bytes: Text 2 × characters (Jet 3 stores the characters), Binary bytes; fixed types are sized by type
    uint8_t flags = tdef::kColFlagNullable;  // kColFlagFixed is added for fixed types
    uint8_t extraFlags = 0;   // kColExtraCompressedUnicode for Text/Memo
    uint16_t sortLcid = 0x0409;
    uint8_t sortVersion = 0;
    uint8_t precision = 18;   // Numeric only
    uint8_t scale = 0;
};

struct NewIndexColumn {
    int column;  // position in NewTable::columns
    bool ascending = true;
};

struct NewIndex {
    std::u16string name;
    std::vector<NewIndexColumn> columns;
    // kIndexFlagUnique / kIndexFlagIgnoreNulls / kIndexFlagRequired; a primary
    // key made by CREATE TABLE is unique and required.
    uint8_t flags = 0;
    bool primaryKey = false;  // marks the logical index as the table's primary key
};

struct NewTable {
    std::vector<NewColumn> columns;
    std::vector<NewIndex> indexes;
    bool systemTable = false;
};

// Where the table's structures live.
struct NewTableStorage {
    RowPointer ownedPagesMap;
    RowPointer freePagesMap;
    std::vector<RowPointer> indexMaps;   // one per index
    std::vector<uint32_t> indexRoots;    // one per index
    // One pair (owned, free) per Memo/OLE column, in column order.
    std::vector<std::pair<RowPointer, RowPointer>> longValueMaps;
};

// Checks names, sizes and index columns; InvalidArgument on a bad table
// (also a name a Jet 3 file's code page cannot hold).
Status validateNewTable(const NewTable& table, const JetFormat& format = JetFormat::jet4());

// The definition buffer, starting with the first page's 8 header bytes, in
// the layout of `format` (Jet 3 text columns in its code page);
// TableDef::parse() reads it and TableDef::toPages() lays it out on pages.
Result<std::vector<uint8_t>> buildTableDefinition(const NewTable& table, const NewTableStorage& storage,
                                                  const JetFormat& format = JetFormat::jet4());

}  // namespace varnika::jet

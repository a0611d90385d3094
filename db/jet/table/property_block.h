#pragma once
// The properties Access keeps for a table and its columns (default value,
// Required, AllowZeroLength, captions, column widths): one block in the OLE
// column LvProp of the table's MSysObjects row. The block starts with the
// magic "MR2\0" (Jet 4) or "KKD\0" (Jet 3) and holds chunks: one chunk of
// property names, then one chunk per object (the table itself, then columns
// by name) whose entries refer to the names by number and carry a typed
// value. Jet 4 writes its names and text in UTF-16, Jet 3 in the file's code
// page; the chunks are alike.

#include "db/jet/file/jet_format.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

struct Property {
    std::u16string name;
    uint8_t typeCode = 0;  // a column type code (ColumnType) saying how the value is stored
    bool ddl = true;       // the engine's flag on properties set through data definition
    Variant value;         // Boolean, numbers, Date, Text, Binary or Guid
};

// The properties of one object: the table (empty name) or a column.
struct PropertySet {
    std::u16string objectName;
    std::vector<Property> properties;

    // The property with that name, without regard to case; null when none.
    const Property* find(std::u16string_view name) const;
};

struct PropertyBlock {
    std::vector<PropertySet> sets;

    // The set of that object, without regard to case; null when none.
    const PropertySet* find(std::u16string_view objectName) const;
};

// Reads a block. An empty input is an empty block; a Jet 3 block ("KKD\0")
// has its text in `codePage`; anything that runs past its chunk or names a
// property that is not in the names chunk is a Corruption.
Result<PropertyBlock> parsePropertyBlock(std::span<const uint8_t> bytes, uint16_t codePage = 1252);

// The bytes of a block for `block` in the format's form: the names chunk
// with every name once, then one chunk per set in order. Values are stored
// by their Variant type: Boolean, Byte, Integer, Long, Currency, Single,
// Double, Date, Text (UCS-2, or the Jet 3 file's code page, under typeCode
// Text or Memo), Binary and Guid. A name or text the code page cannot hold
// is InvalidArgument.
Result<std::vector<uint8_t>> buildPropertyBlock(const PropertyBlock& block, const JetFormat& format = JetFormat::jet4());

}  // namespace varnika::jet

#pragma once
// Jet 4 column type codes, as stored in a column descriptor.

#include <cstdint>
#include <string_view>

namespace varnika {

enum class ColumnType : uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,   // 16-bit
    Long = 0x04,      // 32-bit, also AutoNumber
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,    // fixed-size binary, up to 255 bytes, stored as a variable column
    Text = 0x0A,
    OLE = 0x0B,       // long binary
    Memo = 0x0C,      // long text
    Unknown0D = 0x0D, // read as binary
    Guid = 0x0F,      // replication id
    Numeric = 0x10,   // decimal
};

// Whether the code names a type the Jet 4 engine understands.
bool isKnownColumnType(uint8_t code);
// Jet's own type word, e.g. "LONG", "TEXT", "DATETIME".
std::string_view columnTypeName(ColumnType type);
// Bytes in the row's fixed area; 0 for Boolean and variable types.
int fixedSize(ColumnType type);
bool isVariableType(ColumnType type);
bool isLongValueType(ColumnType type);  // Memo, OLE
bool isTextType(ColumnType type);       // Text, Memo

}  // namespace varnika

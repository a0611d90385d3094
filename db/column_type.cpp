#include "db/column_type.h"

namespace varnika {

bool isKnownColumnType(uint8_t code)
{
    return (code >= 0x01 && code <= 0x0D) || code == 0x0F || code == 0x10;
}

std::string_view columnTypeName(ColumnType type)
{
    switch (type) {
    case ColumnType::Boolean: return "BIT";
    case ColumnType::Byte: return "BYTE";
    case ColumnType::Integer: return "SHORT";
    case ColumnType::Long: return "LONG";
    case ColumnType::Currency: return "CURRENCY";
    case ColumnType::Single: return "SINGLE";
    case ColumnType::Double: return "DOUBLE";
    case ColumnType::DateTime: return "DATETIME";
    case ColumnType::Binary: return "BINARY";
    case ColumnType::Text: return "TEXT";
    case ColumnType::OLE: return "LONGBINARY";
    case ColumnType::Memo: return "MEMO";
    case ColumnType::Unknown0D: return "BINARY";
    case ColumnType::Guid: return "GUID";
    case ColumnType::Numeric: return "DECIMAL";
    }
    return "UNKNOWN";
}

int fixedSize(ColumnType type)
{
    switch (type) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Currency: return 8;
    case ColumnType::Single: return 4;
    case ColumnType::Double: return 8;
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
    }
}

bool isVariableType(ColumnType type)
{
    switch (type) {
    case ColumnType::Binary:
    case ColumnType::Text:
    case ColumnType::OLE:
    case ColumnType::Memo:
    case ColumnType::Unknown0D:
        return true;
    default:
        return false;
    }
}

bool isLongValueType(ColumnType type) { return type == ColumnType::OLE || type == ColumnType::Memo; }
bool isTextType(ColumnType type) { return type == ColumnType::Text || type == ColumnType::Memo; }

}  // namespace varnika

#include "db/jet/index_key.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace varnika::jet {

namespace {

constexpr uint8_t kBinaryGroupSize = 8;
constexpr uint8_t kBinaryGroupContinues = 0x09;
constexpr uint8_t kDecimalSignPositive = 0xFF;
constexpr uint8_t kDecimalSignNegative = 0x00;
constexpr uint8_t kBooleanTrue = 0x00;
constexpr uint8_t kBooleanFalse = 0xFF;
constexpr int kDecimalMaxDigits = 28;

void putBigEndian(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// Signed integers: big-endian with the sign bit flipped.
void appendSigned(std::vector<uint8_t>& out, int64_t v, int bytes, bool ascending)
{
    const uint64_t signBit = uint64_t(1) << (8 * bytes - 1);
    const uint64_t mask = bytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * bytes)) - 1;
    uint64_t u = (uint64_t(v) & mask) ^ signBit;
    if (!ascending) u = ~u & mask;
    putBigEndian(out, u, bytes);
}

// IEEE floats: non-negative (sign bit clear) flip the sign bit, negative
// flip every bit, so that unsigned byte order equals numeric order.
void appendFloatBits(std::vector<uint8_t>& out, uint64_t bits, int bytes, bool ascending)
{
    const uint64_t signBit = uint64_t(1) << (8 * bytes - 1);
    const uint64_t mask = bytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * bytes)) - 1;
    uint64_t u = (bits & signBit) ? (~bits & mask) : (bits ^ signBit);
    if (!ascending) u = ~u & mask;
    putBigEndian(out, u, bytes);
}

void appendBinaryGroups(std::vector<uint8_t>& out, std::span<const uint8_t> data, bool ascending)
{
    const uint8_t flip = ascending ? 0x00 : 0xFF;
    size_t i = 0;
    while (true) {
        const size_t n = std::min<size_t>(kBinaryGroupSize, data.size() - i);
        for (size_t k = 0; k < kBinaryGroupSize; ++k) out.push_back(uint8_t((k < n ? data[i + k] : 0) ^ flip));
        i += n;
        if (i >= data.size()) {
            out.push_back(uint8_t(n ^ flip));
            return;
        }
        out.push_back(kBinaryGroupContinues);
    }
}

unsigned __int128 pow10(int n)
{
    unsigned __int128 v = 1;
    for (int i = 0; i < n; ++i) v *= 10;
    return v;
}

Status typeMismatch(const IndexKeyColumn& column, const Variant& value)
{
    return Status(ErrorCode::TypeMismatch, "an index key on a " + std::string(columnTypeName(column.type)) +
                                               " column cannot take the value " + value.debugString());
}

bool typeFits(ColumnType type, VariantType v)
{
    switch (type) {
    case ColumnType::Boolean: return v == VariantType::Boolean;
    case ColumnType::Byte: return v == VariantType::Byte;
    case ColumnType::Integer: return v == VariantType::Integer;
    case ColumnType::Long: return v == VariantType::Long;
    case ColumnType::Currency: return v == VariantType::Currency;
    case ColumnType::Single: return v == VariantType::Single;
    case ColumnType::Double: return v == VariantType::Double;
    case ColumnType::DateTime: return v == VariantType::Date;
    case ColumnType::Binary: return v == VariantType::Binary;
    case ColumnType::Guid: return v == VariantType::Guid;
    case ColumnType::Numeric: return v == VariantType::Decimal;
    case ColumnType::Text:
    case ColumnType::Memo: return v == VariantType::Text;
    default: return false;
    }
}

}  // namespace

Status appendIndexKey(const IndexKeyColumn& column, const Variant& value, std::vector<uint8_t>& out)
{
    const bool asc = column.ascending;
    const ColumnType type = column.type;
    if (type == ColumnType::OLE || type == ColumnType::Unknown0D || !isKnownColumnType(uint8_t(type)))
        return notSupported("columns of type " + std::string(columnTypeName(type)) + " have no index key encoding");
    if (value.isNull() && type != ColumnType::Boolean) {
        out.push_back(asc ? kKeyFlagAscendingNull : kKeyFlagDescendingNull);
        return Status::ok();
    }
    if (!value.isNull() && !typeFits(type, value.type())) return typeMismatch(column, value);
    const uint8_t flip = asc ? 0x00 : 0xFF;

    if (type == ColumnType::Text || type == ColumnType::Memo) {
        VK_ASSIGN_OR_RETURN(const SortOrder* order, SortOrder::find(column.sortOrder));
        return order->appendKey(value.asText(), asc, out);
    }
    out.push_back(asc ? kKeyFlagAscending : kKeyFlagDescending);
    switch (type) {
    case ColumnType::Boolean:
        // A Boolean column is never null in Jet; a missing value is False.
        out.push_back(uint8_t((!value.isNull() && value.asBoolean() ? kBooleanTrue : kBooleanFalse) ^ flip));
        return Status::ok();
    case ColumnType::Byte: out.push_back(uint8_t(value.asByte() ^ flip)); return Status::ok();
    case ColumnType::Integer: appendSigned(out, value.asInteger(), 2, asc); return Status::ok();
    case ColumnType::Long: appendSigned(out, value.asLong(), 4, asc); return Status::ok();
    case ColumnType::Currency: appendSigned(out, value.asCurrency().ticks, 8, asc); return Status::ok();
    case ColumnType::Single: {
        uint32_t bits;
        const float f = value.asSingle();
        std::memcpy(&bits, &f, 4);
        appendFloatBits(out, bits, 4, asc);
        return Status::ok();
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        uint64_t bits;
        const double d = type == ColumnType::Double ? value.asDouble() : value.asDate().serial;
        std::memcpy(&bits, &d, 8);
        appendFloatBits(out, bits, 8, asc);
        return Status::ok();
    }
    case ColumnType::Binary: {
        const auto& data = value.asBinary();
        if (data.empty()) {
            out.pop_back();
            return notSupported("an empty binary value has no known index key encoding");
        }
        appendBinaryGroups(out, data, asc);
        return Status::ok();
    }
    case ColumnType::Guid: {
        // Display order: the first three groups are stored little-endian.
        const Guid& g = value.asGuid();
        const uint8_t display[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6],
                                     g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]};
        appendBinaryGroups(out, display, asc);
        return Status::ok();
    }
    case ColumnType::Numeric: {
        const Decimal& d = value.asDecimal();
        unsigned __int128 m = d.magnitude;
        if (d.scale > column.scale) {
            const unsigned __int128 div = pow10(d.scale - column.scale);
            if (m % div != 0) {
                out.pop_back();
                return invalidArgument("the value " + value.debugString() + " has more decimal places than the column");
            }
            m /= div;
        } else if (d.scale < column.scale) {
            const unsigned __int128 mul = pow10(column.scale - d.scale);
            if (m > pow10(kDecimalMaxDigits) / mul) {
                out.pop_back();
                return invalidArgument("the value " + value.debugString() + " does not fit the column");
            }
            m *= mul;
        }
        const bool negative = d.negative && m != 0;
        out.push_back(negative ? kDecimalSignNegative : kDecimalSignPositive);
        // Positive ascending and negative descending keep the magnitude as is.
        const uint8_t magFlip = (negative == !asc) ? 0x00 : 0xFF;
        for (int i = 15; i >= 0; --i) out.push_back(uint8_t(uint8_t(m >> (8 * i)) ^ magFlip));
        return Status::ok();
    }
    default: break;
    }
    out.pop_back();
    return notSupported("columns of type " + std::string(columnTypeName(type)) + " have no index key encoding");
}

Result<std::vector<uint8_t>> encodeIndexKey(std::span<const IndexKeyColumn> columns, std::span<const Variant> values)
{
    if (columns.size() != values.size())
        return invalidArgument("an index key needs " + std::to_string(columns.size()) + " values, got " +
                               std::to_string(values.size()));
    std::vector<uint8_t> out;
    for (size_t i = 0; i < columns.size(); ++i) VK_RETURN_IF_ERROR(appendIndexKey(columns[i], values[i], out));
    return out;
}

Status verifyStoredIndexKey(std::span<const IndexKeyColumn> columns, std::span<const Variant> values,
                            std::span<const uint8_t> storedKey)
{
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> mine, encodeIndexKey(columns, values));
    if (std::ranges::equal(mine, storedKey)) return Status::ok();
    size_t at = 0;
    while (at < mine.size() && at < storedKey.size() && mine[at] == storedKey[at]) ++at;
    return notSupported("the index key stored in the file differs from this engine's encoding at byte " +
                        std::to_string(at) + " (" + std::to_string(storedKey.size()) + " bytes stored, " +
                        std::to_string(mine.size()) + " computed); the index cannot be changed safely");
}

bool isAllNullKey(std::span<const uint8_t> key)
{
    for (uint8_t b : key)
        if (b != kKeyFlagAscendingNull && b != kKeyFlagDescendingNull) return false;
    return true;
}

}  // namespace varnika::jet

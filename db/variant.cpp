#include "db/variant.h"

#include "db/text.h"

#include <cstdio>

namespace varnika {

const char* variantTypeName(VariantType type)
{
    switch (type) {
    case VariantType::Null: return "Null";
    case VariantType::Boolean: return "Boolean";
    case VariantType::Byte: return "Byte";
    case VariantType::Integer: return "Integer";
    case VariantType::Long: return "Long";
    case VariantType::Currency: return "Currency";
    case VariantType::Single: return "Single";
    case VariantType::Double: return "Double";
    case VariantType::Date: return "Date";
    case VariantType::Text: return "Text";
    case VariantType::Binary: return "Binary";
    case VariantType::Decimal: return "Decimal";
    case VariantType::Guid: return "Guid";
    }
    return "?";
}

bool Variant::isNumeric() const
{
    switch (type()) {
    case VariantType::Boolean:
    case VariantType::Byte:
    case VariantType::Integer:
    case VariantType::Long:
    case VariantType::Currency:
    case VariantType::Single:
    case VariantType::Double:
    case VariantType::Decimal:
        return true;
    default:
        return false;
    }
}

std::string Variant::debugString() const
{
    char buf[64];
    switch (type()) {
    case VariantType::Null: return "Null";
    case VariantType::Boolean: return asBoolean() ? "Boolean(True)" : "Boolean(False)";
    case VariantType::Byte: return "Byte(" + std::to_string(asByte()) + ")";
    case VariantType::Integer: return "Integer(" + std::to_string(asInteger()) + ")";
    case VariantType::Long: return "Long(" + std::to_string(asLong()) + ")";
    case VariantType::Currency: return "Currency(" + std::to_string(asCurrency().ticks) + "e-4)";
    case VariantType::Single:
        std::snprintf(buf, sizeof buf, "Single(%.9g)", asSingle());
        return buf;
    case VariantType::Double:
        std::snprintf(buf, sizeof buf, "Double(%.17g)", asDouble());
        return buf;
    case VariantType::Date:
        std::snprintf(buf, sizeof buf, "Date(%.17g)", asDate().serial);
        return buf;
    case VariantType::Text: return "Text(\"" + toUtf8(asText()) + "\")";
    case VariantType::Binary: return "Binary(" + std::to_string(asBinary().size()) + " bytes)";
    case VariantType::Decimal: {
        const Decimal& d = asDecimal();
        std::string digits;
        unsigned __int128 m = d.magnitude;
        do {
            digits.insert(digits.begin(), char('0' + int(m % 10)));
            m /= 10;
        } while (m);
        return std::string("Decimal(") + (d.negative ? "-" : "") + digits + "e-" + std::to_string(d.scale) + ")";
    }
    case VariantType::Guid: return "Guid";
    }
    return "?";
}

}  // namespace varnika

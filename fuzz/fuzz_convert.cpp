// Any text converted for every column type under Turkish and US settings,
// and every result turned back into text.
#include "db/convert.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace varnika;
    if (size < 1) return 0;
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    const ColumnType types[] = {ColumnType::Boolean, ColumnType::Byte,  ColumnType::Integer, ColumnType::Long,
                                ColumnType::Currency, ColumnType::Single, ColumnType::Double, ColumnType::DateTime,
                                ColumnType::Text,     ColumnType::Memo,   ColumnType::Numeric, ColumnType::Binary};
    const RegionalSettings settings[] = {RegionalSettings::turkish(), RegionalSettings::unitedStates()};
    const RegionalSettings& s = settings[data[0] & 1];
    ColumnType type = types[(data[0] >> 1) % (sizeof types / sizeof types[0])];
    auto v = convertForColumn(Variant::text(text), type, 50, s);
    if (v.isOk()) (void)variantToText(*v, s);
    (void)textToDate(text, s);
    (void)parseDateLiteral(text);
    return 0;
}

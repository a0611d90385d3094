#pragma once
// Conversions between values and their text, as Jet makes them when a value
// is written into a field, compared in a condition or shown as text. Text is
// read with the user's regional settings (decimal and group separators, date
// order and separators, AM/PM); every failure is ErrorCode::TypeMismatch
// with a message that names the text, except a text too long for its field,
// which is ErrorCode::InvalidArgument.

#include "db/column_type.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace varnika {

// Rounds half to even, as CInt and CLng do (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// --- Text to numbers ---------------------------------------------------------
// Blanks around the number, a leading sign, the decimal separator of the
// settings, an exponent (1E3) and group separators in the whole part are
// accepted. Group separators must stand between groups of three digits
// ("1.234.567" under Turkish settings); "1.5" under Turkish settings is not
// read as 15 but refused, so that a value typed the other way round is never
// written silently ten or a hundred times too large.
Result<double> textToDouble(std::u16string_view text, const RegionalSettings& settings);
// The exact value scaled by 10^scale and rounded half to even; fails when the
// result does not fit in 64 bits. scale 4 gives Currency ticks, 0 an integer.
Result<int64_t> textToScaled(std::u16string_view text, int scale, const RegionalSettings& settings);
// Val(): the leading number of the text with "." as the decimal point,
// blanks ignored anywhere, reading stops at the first other character;
// 0 when there is none. Never fails.
double valOfText(std::u16string_view text);

// --- Text to dates and booleans ---------------------------------------------
// A date in the settings' order with the date separator (or / - .), or
// yyyy-mm-dd; a time after it or alone (h:mm, h:mm:ss, with the time
// separator or ":", optionally AM/PM or the settings' designators). Where the
// settings' order gives no valid date but day and month swapped do, the
// swapped reading is taken, as the system's date reading does.
Result<double> textToDate(std::u16string_view text, const RegionalSettings& settings);
// A date literal of Jet SQL (the text between the # signs): month first, day
// first where the month would be over 12, or yyyy-mm-dd; separators / or -;
// optional time with ":" and AM/PM. Independent of the regional settings.
Result<double> parseDateLiteral(std::u16string_view text);
// True/False, Yes/No, On/Off in any case, or a number (0 is False).
Result<bool> textToBoolean(std::u16string_view text, const RegionalSettings& settings);

// --- Values to text ----------------------------------------------------------
// Up to 15 significant digits (7 for Single), the settings' decimal
// separator, no grouping, 1E+20 style for very large or small numbers.
std::u16string doubleToText(double value, const RegionalSettings& settings, int significantDigits = 15);
std::u16string integerToText(int64_t value);
// Up to four decimals, trailing zeros dropped.
std::u16string currencyToText(Currency value, const RegionalSettings& settings);
std::u16string decimalToText(const Decimal& value, const RegionalSettings& settings);
// The default form: the short date, then a blank and the long time unless the
// time is midnight; a value with no date part (serial 0 .. 1) shows the time.
std::u16string dateToText(double serial, const RegionalSettings& settings);
// "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"
std::u16string guidToText(const Guid& guid);
// The default text form of any value: Boolean as "True"/"False", numbers and
// dates as above. Null and Binary values fail (TypeMismatch).
Result<std::u16string> variantToText(const Variant& value, const RegionalSettings& settings);
// Appends the same text without allocating when `out` has room; returns false
// for Null and Binary.
bool appendVariantText(std::u16string& out, const Variant& value, const RegionalSettings& settings);

// --- Values to numbers -------------------------------------------------------
// Booleans are -1 and 0, dates their serial, text read as above.
Result<double> variantToDouble(const Variant& value, const RegionalSettings& settings);

// --- Writing into a field ----------------------------------------------------
// Converts a value for a field of the given type: text is read with the
// settings, numbers are rounded (half to even for Byte, Integer and Long; to
// four places for Currency) and range-checked, text longer than `size`
// characters of a Text field fails. Null stays Null; whether the field may be
// empty is the caller's check. Binary and OLE fields take only binary values.
Result<Variant> convertForColumn(const Variant& value, ColumnType type, int size,
                                 const RegionalSettings& settings);

}  // namespace varnika

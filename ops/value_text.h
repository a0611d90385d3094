#pragma once
// A field value in its default text form, as the case conversion and the
// schema lists put values into text boxes: numbers with the regional decimal
// separator, dates in the regional short date (and long time, when the value
// has a time of day) format.
//
// Kept apart from the engine's conversions so that they can take its place.

#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <string>

namespace varnika {

// Null and binary values have no text form: TypeMismatch.
Result<std::u16string> valueAsText(const Variant& value, const RegionalSettings& settings);

// A date serial in a pattern of d, dd, M, MM, yy, yyyy, H, HH, h, hh, m, mm,
// s, ss and AP/ap letters; any other character is copied. "/" and ":" stay as
// written, since the regional patterns already carry the separators.
std::u16string formatDatePattern(double serial, std::u16string_view pattern, const RegionalSettings& settings);

}  // namespace varnika

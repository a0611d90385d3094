#pragma once
// Dates as Jet keeps them: an OLE automation serial, days since 1899-12-30,
// the fraction holding the time of day. Before the epoch the whole part
// counts back while the fraction still counts forward (-1.25 is
// 1899-12-29 06:00), which is why the conversions below never use plain
// floor/fraction arithmetic on negative serials.

#include "db/regional_settings.h"
#include "db/status.h"

#include <string>
#include <string_view>

namespace varnika {

struct DateParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    friend bool operator==(const DateParts&, const DateParts&) = default;
};

// Jet accepts years 100 to 9999.
constexpr int kMinDateYear = 100;
constexpr int kMaxDateYear = 9999;
// Serials of 100-01-01 and of 9999-12-31 23:59:59.
constexpr double kMinDateSerial = -657434.0;
constexpr double kMaxDateSerial = 2958465.999988426;

bool isLeapYear(int year);
int daysInMonth(int year, int month);
// Whether the parts name a real calendar date and time in Jet's range.
bool isValidDate(int year, int month, int day);
bool isValidTime(int hour, int minute, int second);

// Serial of a valid date and time; fails with InvalidArgument when the parts
// are out of range.
Result<double> dateSerial(const DateParts& parts);
// Serial of midnight of a valid date (no checks beyond the caller's).
double daySerial(int year, int month, int day);
// Parts of a serial, rounded to the nearest second as Jet shows them. Fails
// when the serial is outside years 100..9999 or not finite.
Result<DateParts> dateParts(double serial);

// Jet's two-digit years: 0..29 are 2000..2029, 30..99 are 1930..1999.
int expandTwoDigitYear(int year);

// Formats with a pattern in the letters of the Format function: d dd (day),
// m mm (month, or minute right after an hour), n nn (minute), yy yyyy,
// h hh (hour, 00..23 unless an AM/PM part is present), s ss, AM/PM, am/pm,
// A/P; "/" stands for the date separator and ":" for the time separator of
// the settings; text in double quotes and any other character are copied.
// "dd/mm/yyyy" and " hh:mm:ss" are the patterns the find and replace uses.
std::u16string formatDate(double serial, std::u16string_view pattern, const RegionalSettings& settings);

// Formats with a pattern of the regional settings (d dd M MM yy yyyy H HH h
// hh m mm s ss, AP/ap/tt for the designator, text in single quotes);
// separators are written as they appear in the pattern.
std::u16string formatRegionalDate(double serial, std::u16string_view pattern,
                                  const RegionalSettings& settings);

}  // namespace varnika

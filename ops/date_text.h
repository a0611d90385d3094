#pragma once
// Dates as the bulk operations read and write them: the fixed day-first,
// month-first and time-of-day patterns with the user's separators, and the
// reading of a typed text as a date.
//
// The reading here is deliberately small (numbers, separators, the date
// order, an optional time). It sits behind these functions so that the
// engine's own text-to-date conversion can take its place without touching
// the operations.

#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <string>
#include <string_view>

namespace varnika {

struct CivilDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// A date serial (days since 1899-12-30, fraction = time of day; a negative
// serial counts days back with the fraction still forward in the day),
// rounded to the second.
CivilDateTime civilFromSerial(double serial);
// The serial of midnight of that calendar date.
double serialFromDate(int year, int month, int day);
// The calendar day of a serial, as the serial of its midnight.
double calendarDay(double serial);

// "dd/mm/yyyy" and "mm/dd/yyyy": two-digit day and month, four-digit year,
// "/" standing for the regional date separator.
std::u16string formatDayFirst(double serial, const RegionalSettings& settings);
std::u16string formatMonthFirst(double serial, const RegionalSettings& settings);
// " hh:mm:ss": a leading blank, 24-hour clock, ":" standing for the regional
// time separator.
std::u16string formatTimeOfDay(double serial, const RegionalSettings& settings);

// Reads "d/m/y" (in the given order) with an optional " h:m[:s]" after it.
// Between the numbers stand "/", ".", "-" or the regional date separator, and
// ":" or the regional time separator. A two-digit year below 30 is 20yy,
// otherwise 19yy. Anything else, or an impossible date, is TypeMismatch.
Result<Date> readDate(std::u16string_view text, RegionalSettings::DateOrder order,
                      const RegionalSettings& settings);

// The typed text read as a date in the user's date order.
Result<Date> readTextAsDate(std::u16string_view text, const RegionalSettings& settings);

}  // namespace varnika

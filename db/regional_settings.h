#pragma once
// The user's regional settings as the engine needs them to read and write
// dates and numbers as text. The window reads them from the system; the
// engine takes them as a plain value.

#include <string>

namespace varnika {

struct RegionalSettings {
    enum class DateOrder { DayMonthYear, MonthDayYear, YearMonthDay };

    DateOrder dateOrder = DateOrder::DayMonthYear;
    char16_t dateSeparator = u'.';
    char16_t timeSeparator = u':';
    char16_t decimalSeparator = u',';
    char16_t groupSeparator = u'.';
    // Patterns in the usual d/M/y/H/h/m/s/AP letters.
    std::u16string shortDateFormat = u"dd.MM.yyyy";
    std::u16string longTimeFormat = u"HH:mm:ss";
    std::u16string amDesignator;  // empty for a 24-hour clock
    std::u16string pmDesignator;

    static RegionalSettings turkish();
    static RegionalSettings unitedStates();
};

}  // namespace varnika

#include "ops/date_text.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace varnika {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 back to the serial's day zero, 1899-12-30.
constexpr int64_t kSerialEpochFromUnix = -25569;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

int daysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[month - 1];
}

void appendNumber(std::u16string& out, int value, int width)
{
    std::u16string digits;
    unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
    do {
        digits.insert(digits.begin(), char16_t(u'0' + v % 10));
        v /= 10;
    } while (v);
    while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), u'0');
    if (value < 0) out += u'-';
    out += digits;
}

Status notADate(std::u16string_view)
{
    return Status(ErrorCode::TypeMismatch, "the text cannot be read as a date");
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Splits a run of numbers at the given separators; false on anything else.
bool readNumbers(std::u16string_view text, std::u16string_view separators, std::vector<int>& out)
{
    size_t i = 0;
    while (i < text.size()) {
        if (!isDigit(text[i])) return false;
        int value = 0;
        int digits = 0;
        while (i < text.size() && isDigit(text[i])) {
            if (++digits > 4) return false;
            value = value * 10 + (text[i] - u'0');
            ++i;
        }
        out.push_back(value);
        if (i == text.size()) break;
        if (separators.find(text[i]) == std::u16string_view::npos) return false;
        ++i;
        if (i == text.size()) return false;  // a trailing separator
    }
    return true;
}

}  // namespace

CivilDateTime civilFromSerial(double serial)
{
    CivilDateTime out;
    if (!std::isfinite(serial)) return out;
    double wholeDays = std::trunc(serial);
    int64_t seconds = std::llround(std::fabs(serial - wholeDays) * kSecondsPerDay);
    int64_t days = static_cast<int64_t>(wholeDays);
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        days += serial < 0 ? -1 : 1;
    }
    civilFromDays(days + kSerialEpochFromUnix, out.year, out.month, out.day);
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    return out;
}

double serialFromDate(int year, int month, int day)
{
    return static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                               kSerialEpochFromUnix);
}

double calendarDay(double serial)
{
    const CivilDateTime c = civilFromSerial(serial);
    return serialFromDate(c.year, c.month, c.day);
}

std::u16string formatDayFirst(double serial, const RegionalSettings& settings)
{
    const CivilDateTime c = civilFromSerial(serial);
    std::u16string out;
    appendNumber(out, c.day, 2);
    out += settings.dateSeparator;
    appendNumber(out, c.month, 2);
    out += settings.dateSeparator;
    appendNumber(out, c.year, 4);
    return out;
}

std::u16string formatMonthFirst(double serial, const RegionalSettings& settings)
{
    const CivilDateTime c = civilFromSerial(serial);
    std::u16string out;
    appendNumber(out, c.month, 2);
    out += settings.dateSeparator;
    appendNumber(out, c.day, 2);
    out += settings.dateSeparator;
    appendNumber(out, c.year, 4);
    return out;
}

std::u16string formatTimeOfDay(double serial, const RegionalSettings& settings)
{
    const CivilDateTime c = civilFromSerial(serial);
    std::u16string out = u" ";
    appendNumber(out, c.hour, 2);
    out += settings.timeSeparator;
    appendNumber(out, c.minute, 2);
    out += settings.timeSeparator;
    appendNumber(out, c.second, 2);
    return out;
}

Result<Date> readDate(std::u16string_view text, RegionalSettings::DateOrder order,
                      const RegionalSettings& settings)
{
    while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);

    std::u16string_view datePart = text;
    std::u16string_view timePart;
    if (size_t blank = text.find(u' '); blank != std::u16string_view::npos) {
        datePart = text.substr(0, blank);
        timePart = text.substr(blank + 1);
        while (!timePart.empty() && timePart.front() == u' ') timePart.remove_prefix(1);
    }

    const std::u16string dateSeparators = std::u16string(u"/.-") + settings.dateSeparator;
    std::vector<int> d;
    if (!readNumbers(datePart, dateSeparators, d) || d.size() != 3) return notADate(text);

    int year = 0, month = 0, day = 0;
    switch (order) {
    case RegionalSettings::DateOrder::DayMonthYear: day = d[0]; month = d[1]; year = d[2]; break;
    case RegionalSettings::DateOrder::MonthDayYear: month = d[0]; day = d[1]; year = d[2]; break;
    case RegionalSettings::DateOrder::YearMonthDay: year = d[0]; month = d[1]; day = d[2]; break;
    }
    if (year < 100) year += year < 30 ? 2000 : 1900;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return notADate(text);

    double serial = serialFromDate(year, month, day);
    if (!timePart.empty()) {
        const std::u16string timeSeparators = std::u16string(u":") + settings.timeSeparator;
        std::vector<int> t;
        if (!readNumbers(timePart, timeSeparators, t) || t.size() < 2 || t.size() > 3) return notADate(text);
        const int h = t[0], m = t[1], s = t.size() == 3 ? t[2] : 0;
        if (h > 23 || m > 59 || s > 59) return notADate(text);
        const double fraction = (h * 3600 + m * 60 + s) / static_cast<double>(kSecondsPerDay);
        // Before day zero the time still runs forward within the day.
        serial = serial < 0 ? serial - fraction : serial + fraction;
    }
    return Date{serial};
}

Result<Date> readTextAsDate(std::u16string_view text, const RegionalSettings& settings)
{
    return readDate(text, settings.dateOrder, settings);
}

}  // namespace varnika

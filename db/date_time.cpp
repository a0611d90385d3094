#include "db/date_time.h"

#include <cmath>
#include <cstdint>

namespace varnika {
namespace {

constexpr int kSecondsPerDay = 86400;

// Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpochDays = daysFromCivil(1899, 12, 30);

void appendNumber(std::u16string& out, int value, int minDigits)
{
    char buf[16];
    int n = 0;
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < 15);
    while (n < minDigits && n < 15) buf[n++] = '0';
    while (n > 0) out.push_back(static_cast<char16_t>(buf[--n]));
}

int runLength(std::u16string_view s, size_t i)
{
    size_t j = i;
    while (j < s.size() && s[j] == s[i]) ++j;
    return static_cast<int>(j - i);
}

char16_t lowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool startsWithNoCase(std::u16string_view s, size_t i, std::u16string_view word)
{
    if (s.size() - i < word.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (lowerAscii(s[i + k]) != lowerAscii(word[k])) return false;
    return true;
}

std::u16string designator(const RegionalSettings& settings, bool pm)
{
    const std::u16string& d = pm ? settings.pmDesignator : settings.amDesignator;
    if (!d.empty()) return d;
    return pm ? u"PM" : u"AM";
}

int hour12(int hour)
{
    const int h = hour % 12;
    return h == 0 ? 12 : h;
}

}  // namespace

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool isValidDate(int year, int month, int day)
{
    return year >= kMinDateYear && year <= kMaxDateYear && month >= 1 && month <= 12 && day >= 1
           && day <= daysInMonth(year, month);
}

bool isValidTime(int hour, int minute, int second)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

double daySerial(int year, int month, int day)
{
    return static_cast<double>(daysFromCivil(year, month, day) - kEpochDays);
}

Result<double> dateSerial(const DateParts& p)
{
    if (!isValidDate(p.year, p.month, p.day))
        return invalidArgument("the date is not a valid calendar date between the years 100 and 9999");
    if (!isValidTime(p.hour, p.minute, p.second))
        return invalidArgument("the time of day is out of range");
    const double days = daySerial(p.year, p.month, p.day);
    const double time = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / kSecondsPerDay;
    return days >= 0 ? days + time : days - time;
}

Result<DateParts> dateParts(double serial)
{
    if (!std::isfinite(serial) || serial < kMinDateSerial - 1 || serial > kMaxDateSerial + 1)
        return invalidArgument("the date value is outside the years 100 to 9999");
    double whole = std::trunc(serial);
    double seconds = std::round(std::fabs(serial - whole) * kSecondsPerDay);
    int64_t day = static_cast<int64_t>(whole);
    if (seconds >= kSecondsPerDay) {
        seconds = 0;
        day += 1;
    }
    DateParts p;
    civilFromDays(day + kEpochDays, p.year, p.month, p.day);
    const int secs = static_cast<int>(seconds);
    p.hour = secs / 3600;
    p.minute = secs / 60 % 60;
    p.second = secs % 60;
    if (p.year < kMinDateYear || p.year > kMaxDateYear)
        return invalidArgument("the date value is outside the years 100 to 9999");
    return p;
}

int expandTwoDigitYear(int year)
{
    if (year < 0 || year > 99) return year;
    return year < 30 ? 2000 + year : 1900 + year;
}

std::u16string formatDate(double serial, std::u16string_view pattern, const RegionalSettings& settings)
{
    std::u16string out;
    auto partsOr = dateParts(serial);
    if (!partsOr.isOk()) return out;
    const DateParts p = *partsOr;

    // An AM/PM part anywhere switches the hours to the 12-hour clock.
    bool twelveHour = false;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (startsWithNoCase(pattern, i, u"am/pm") || startsWithNoCase(pattern, i, u"a/p")
            || startsWithNoCase(pattern, i, u"ampm"))
            twelveHour = true;

    bool lastWasHour = false;
    size_t i = 0;
    while (i < pattern.size()) {
        const char16_t c = pattern[i];
        const char16_t lc = lowerAscii(c);
        if (c == u'"') {
            size_t j = i + 1;
            while (j < pattern.size() && pattern[j] != u'"') out.push_back(pattern[j++]);
            i = j < pattern.size() ? j + 1 : j;
            continue;
        }
        if (startsWithNoCase(pattern, i, u"am/pm")) {
            const bool upper = pattern[i] == u'A';
            out += p.hour >= 12 ? (upper ? u"PM" : u"pm") : (upper ? u"AM" : u"am");
            i += 5;
            continue;
        }
        if (startsWithNoCase(pattern, i, u"ampm")) {
            out += designator(settings, p.hour >= 12);
            i += 4;
            continue;
        }
        if (startsWithNoCase(pattern, i, u"a/p")) {
            const bool upper = pattern[i] == u'A';
            out += p.hour >= 12 ? (upper ? u"P" : u"p") : (upper ? u"A" : u"a");
            i += 3;
            continue;
        }
        const int n = runLength(pattern, i);
        switch (lc) {
        case u'd':
            appendNumber(out, p.day, n >= 2 ? 2 : 1);
            lastWasHour = false;
            i += n;
            continue;
        case u'y':
            if (n >= 3) appendNumber(out, p.year, 4);
            else appendNumber(out, p.year % 100, 2);
            lastWasHour = false;
            i += n;
            continue;
        case u'h':
            appendNumber(out, twelveHour ? hour12(p.hour) : p.hour, n >= 2 ? 2 : 1);
            lastWasHour = true;
            i += n;
            continue;
        case u'n':
            appendNumber(out, p.minute, n >= 2 ? 2 : 1);
            lastWasHour = false;
            i += n;
            continue;
        case u'm':
            appendNumber(out, lastWasHour ? p.minute : p.month, n >= 2 ? 2 : 1);
            lastWasHour = false;
            i += n;
            continue;
        case u's':
            appendNumber(out, p.second, n >= 2 ? 2 : 1);
            lastWasHour = false;
            i += n;
            continue;
        default:
            break;
        }
        if (c == u'/') out.push_back(settings.dateSeparator);
        else if (c == u':') out.push_back(settings.timeSeparator);
        else out.push_back(c);
        ++i;
    }
    return out;
}

std::u16string formatRegionalDate(double serial, std::u16string_view pattern,
                                  const RegionalSettings& settings)
{
    std::u16string out;
    auto partsOr = dateParts(serial);
    if (!partsOr.isOk()) return out;
    const DateParts p = *partsOr;
    bool hasDesignator = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            ++i;
            while (i < pattern.size() && pattern[i] != u'\'') ++i;
        } else if (c == u'A' || c == u'a' || c == u't') {
            hasDesignator = true;
        }
    }
    size_t i = 0;
    while (i < pattern.size()) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            size_t j = i + 1;
            while (j < pattern.size() && pattern[j] != u'\'') out.push_back(pattern[j++]);
            i = j < pattern.size() ? j + 1 : j;
            continue;
        }
        const int n = runLength(pattern, i);
        switch (c) {
        case u'd': appendNumber(out, p.day, n >= 2 ? 2 : 1); break;
        case u'M': appendNumber(out, p.month, n >= 2 ? 2 : 1); break;
        case u'y':
            if (n >= 3) appendNumber(out, p.year, 4);
            else appendNumber(out, p.year % 100, 2);
            break;
        case u'H': appendNumber(out, p.hour, n >= 2 ? 2 : 1); break;
        case u'h': appendNumber(out, hasDesignator ? hour12(p.hour) : p.hour, n >= 2 ? 2 : 1); break;
        case u'm': appendNumber(out, p.minute, n >= 2 ? 2 : 1); break;
        case u's': appendNumber(out, p.second, n >= 2 ? 2 : 1); break;
        case u'A':
        case u'a':
            out += designator(settings, p.hour >= 12);
            // "AP" and "ap" are one part, as in Qt's patterns.
            if (i + 1 < pattern.size() && (pattern[i + 1] == u'P' || pattern[i + 1] == u'p')) {
                i += 2;
                continue;
            }
            break;
        case u't': out += designator(settings, p.hour >= 12); break;
        default: out.append(static_cast<size_t>(n), c); break;
        }
        i += n;
    }
    return out;
}

}  // namespace varnika

#include "db/convert.h"

#include "db/date_time.h"
#include "db/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace varnika {
namespace {

constexpr int kMaxSignificantDigits = 40;
constexpr int kMaxExponent = 100000;
constexpr int kMaxDigitsInDateField = 9;

Status mismatch(std::u16string_view text, const char* what)
{
    std::string shown = toUtf8(text.substr(0, 80));
    return Status(ErrorCode::TypeMismatch, std::string("\"").append(shown) + "\" cannot be read as " + what);
}

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == 0x00A0;
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::u16string_view trimBlanks(std::u16string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A decimal number read from text: value = digits × 10^exp10, digits
// without leading zeros.
struct ScannedNumber {
    bool negative = false;
    char digits[kMaxSignificantDigits] = {};
    int count = 0;
    int exp10 = 0;
};

void addDigit(ScannedNumber& n, char16_t c, bool fraction)
{
    if (n.count == 0 && c == u'0') {
        if (fraction) --n.exp10;
        return;
    }
    if (n.count < kMaxSignificantDigits) {
        n.digits[n.count++] = static_cast<char>(c);
        if (fraction) --n.exp10;
    } else if (!fraction) {
        ++n.exp10;  // digits past the precision kept only by their place
    }
}

bool scanNumber(std::u16string_view text, char16_t decimalSep, char16_t groupSep, ScannedNumber& n)
{
    std::u16string_view s = trimBlanks(text);
    size_t i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        n.negative = s[i] == u'-';
        ++i;
        while (i < s.size() && isBlank(s[i])) ++i;
    }
    const bool grouping = groupSep != decimalSep && groupSep != 0;
    int digitsSeen = 0;
    int groupLen = 0;     // digits since the start or the last group separator
    bool grouped = false;  // a group separator was seen
    while (i < s.size()) {
        if (isDigit(s[i])) {
            addDigit(n, s[i], false);
            ++digitsSeen;
            ++groupLen;
            ++i;
        } else if (grouping && s[i] == groupSep) {
            if (groupLen == 0 || (grouped && groupLen != 3) || (!grouped && groupLen > 3)) return false;
            grouped = true;
            groupLen = 0;
            ++i;
        } else {
            break;
        }
    }
    if (grouped && groupLen != 3) return false;
    if (i < s.size() && s[i] == decimalSep) {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            addDigit(n, s[i], true);
            ++digitsSeen;
            ++i;
        }
    }
    if (digitsSeen == 0) return false;
    if (i < s.size() && (s[i] == u'E' || s[i] == u'e' || s[i] == u'D' || s[i] == u'd')) {
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) expNegative = s[i++] == u'-';
        if (i >= s.size() || !isDigit(s[i])) return false;
        int e = 0;
        while (i < s.size() && isDigit(s[i])) {
            if (e < kMaxExponent) e = e * 10 + (s[i] - u'0');
            ++i;
        }
        n.exp10 += expNegative ? -e : e;
    }
    if (n.count == 0) n.exp10 = 0;
    return i == s.size();
}

bool scannedToDouble(const ScannedNumber& n, double& out)
{
    if (n.count == 0) {
        out = 0;
        return true;
    }
    char buf[kMaxSignificantDigits + 24];
    int len = 0;
    if (n.negative) buf[len++] = '-';
    for (int k = 0; k < n.count; ++k) buf[len++] = n.digits[k];
    buf[len++] = 'e';
    auto [p, ec] = std::to_chars(buf + len, buf + sizeof buf, n.exp10);
    if (ec != std::errc()) return false;
    double v = 0;
    auto res = std::from_chars(buf, p, v);
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is out of range.
        if (n.exp10 < 0) {
            out = 0;
            return true;
        }
        return false;
    }
    if (res.ec != std::errc() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool scannedToScaled(const ScannedNumber& n, int scale, int64_t& out)
{
    if (n.count == 0) {
        out = 0;
        return true;
    }
    const long shift = static_cast<long>(n.exp10) + scale;
    const long keep = n.count + shift;  // digits before the point after scaling
    if (keep > 19) return false;
    unsigned __int128 mag = 0;
    const int whole = static_cast<int>(std::min<long>(keep, n.count));
    for (int k = 0; k < whole; ++k) mag = mag * 10 + static_cast<unsigned>(n.digits[k] - '0');
    for (long k = n.count; k < keep; ++k) mag *= 10;
    if (keep < n.count) {
        // Round the dropped digits half to even.
        bool up = false;
        if (keep >= 0) {
            const int first = n.digits[keep] - '0';
            bool restNonZero = false;
            for (int k = static_cast<int>(keep) + 1; k < n.count; ++k)
                if (n.digits[k] != '0') restNonZero = true;
            if (first > 5 || (first == 5 && restNonZero)) up = true;
            else if (first == 5) up = (mag & 1) != 0;
        }
        if (up) mag += 1;
    }
    const unsigned __int128 limit = n.negative ? static_cast<unsigned __int128>(INT64_MAX) + 1
                                               : static_cast<unsigned __int128>(INT64_MAX);
    if (mag > limit) return false;
    out = n.negative ? static_cast<int64_t>(-static_cast<__int128>(mag)) : static_cast<int64_t>(mag);
    return true;
}

// --- Date reading ------------------------------------------------------------

struct DateRules {
    RegionalSettings::DateOrder order;
    char16_t dateSep;
    char16_t timeSep;
    bool allowDot;
    std::u16string_view am;
    std::u16string_view pm;
};

bool isDateSep(char16_t c, const DateRules& r)
{
    return c == u'/' || c == u'-' || c == r.dateSep || (r.allowDot && c == u'.');
}

bool isTimeSep(char16_t c, const DateRules& r)
{
    return c == u':' || c == r.timeSep;
}

bool readField(std::u16string_view s, size_t& i, int& value, int& digits)
{
    value = 0;
    digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        if (digits >= kMaxDigitsInDateField) return false;
        value = value * 10 + (s[i] - u'0');
        ++digits;
        ++i;
    }
    return digits > 0;
}

bool matchWord(std::u16string_view s, size_t i, std::u16string_view word)
{
    return !word.empty() && s.size() - i >= word.size() && equalsIgnoreCase(s.substr(i, word.size()), word);
}

// Reads "AM" or "PM" (or the settings' designators) at i; 0 none, 1 am, 2 pm.
int readDesignator(std::u16string_view s, size_t& i, const DateRules& r)
{
    const std::u16string_view candidates[4] = {r.am, r.pm, u"AM", u"PM"};
    for (int k = 0; k < 4; ++k) {
        if (matchWord(s, i, candidates[k])) {
            i += candidates[k].size();
            return k % 2 == 0 ? 1 : 2;
        }
    }
    return 0;
}

bool readTime(std::u16string_view s, size_t& i, int firstHour, int& seconds, const DateRules& r)
{
    int hour = firstHour, minute = 0, second = 0, digits = 0;
    bool haveMinute = false;
    if (i < s.size() && isTimeSep(s[i], r)) {
        ++i;
        if (!readField(s, i, minute, digits) || digits > 2) return false;
        haveMinute = true;
        if (i < s.size() && isTimeSep(s[i], r)) {
            ++i;
            if (!readField(s, i, second, digits) || digits > 2) return false;
        }
    }
    while (i < s.size() && isBlank(s[i])) ++i;
    const int ampm = i < s.size() ? readDesignator(s, i, r) : 0;
    if (!haveMinute && ampm == 0) return false;
    if (ampm != 0) {
        if (hour < 1 || hour > 12) return false;
        if (hour == 12) hour = 0;
        if (ampm == 2) hour += 12;
    }
    if (!isValidTime(hour, minute, second)) return false;
    seconds = hour * 3600 + minute * 60 + second;
    return true;
}

bool buildDate(int a, int ad, int b, int c, int cd, const DateRules& r, int& y, int& m, int& d)
{
    using Order = RegionalSettings::DateOrder;
    if (ad >= 3) {
        y = a;
        m = b;
        d = c;
        return isValidDate(y, m, d);
    }
    Order order = r.order;
    int year = order == Order::YearMonthDay ? a : c;
    const int yearDigits = order == Order::YearMonthDay ? ad : cd;
    if (yearDigits <= 2) year = expandTwoDigitYear(year);
    if (order == Order::YearMonthDay) {
        y = year;
        m = b;
        d = c;
        return isValidDate(y, m, d);
    }
    y = year;
    if (order == Order::DayMonthYear) {
        d = a;
        m = b;
    } else {
        m = a;
        d = b;
    }
    if (isValidDate(y, m, d)) return true;
    std::swap(d, m);  // the other order, where it gives a real date
    return isValidDate(y, m, d);
}

bool readDateTime(std::u16string_view text, const DateRules& r, double& serial)
{
    std::u16string_view s = trimBlanks(text);
    size_t i = 0;
    int a = 0, ad = 0;
    if (!readField(s, i, a, ad)) return false;
    double day = 0;
    int seconds = 0;
    bool haveDate = false;
    if (i < s.size() && isDateSep(s[i], r) && !(s[i] == r.timeSep && s[i] != r.dateSep)) {
        const char16_t sep = s[i++];
        int b = 0, bd = 0, c = 0, cd = 0;
        if (!readField(s, i, b, bd) || bd > 2) return false;
        if (i >= s.size() || s[i] != sep) return false;
        ++i;
        if (!readField(s, i, c, cd)) return false;
        if (ad > 4 || cd > 4 || (ad >= 3 && cd > 2)) return false;
        int y = 0, m = 0, d = 0;
        if (!buildDate(a, ad, b, c, cd, r, y, m, d)) return false;
        day = daySerial(y, m, d);
        haveDate = true;
        if (i < s.size()) {
            if (!isBlank(s[i])) return false;
            while (i < s.size() && isBlank(s[i])) ++i;
            int h = 0, hd = 0;
            if (!readField(s, i, h, hd) || hd > 2) return false;
            if (!readTime(s, i, h, seconds, r)) return false;
        }
    } else {
        if (ad > 2 || !readTime(s, i, a, seconds, r)) return false;
    }
    if (i != s.size()) return false;
    const double time = seconds / 86400.0;
    serial = !haveDate ? time : (day >= 0 ? day + time : day - time);
    return true;
}

void appendAscii(std::u16string& out, const char* begin, const char* end, char16_t decimalSep)
{
    for (const char* p = begin; p != end; ++p) {
        if (*p == '.') out.push_back(decimalSep);
        else if (*p == 'e') out.push_back(u'E');
        else out.push_back(static_cast<char16_t>(*p));
    }
}

void appendMagnitude(std::u16string& out, unsigned __int128 mag, int scale, bool negative, char16_t decimalSep)
{
    char digits[48];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(mag % 10));
        mag /= 10;
    } while (mag != 0 && n < 46);
    while (n <= scale && n < 46) digits[n++] = '0';
    // Drop trailing zeros of the fraction.
    int low = 0;
    while (low < scale && digits[low] == '0') ++low;
    bool any = false;
    for (int k = n - 1; k >= low; --k)
        if (digits[k] != '0') any = true;
    if (negative && any) out.push_back(u'-');
    for (int k = n - 1; k >= scale; --k) out.push_back(static_cast<char16_t>(digits[k]));
    if (low < scale) {
        out.push_back(decimalSep);
        for (int k = scale - 1; k >= low; --k) out.push_back(static_cast<char16_t>(digits[k]));
    }
}

Status tooLarge(const char* typeName)
{
    return Status(ErrorCode::TypeMismatch, std::string("the value is out of range for a ") + typeName + " field");
}

Result<int64_t> toWhole(const Variant& v, const RegionalSettings& settings)
{
    switch (v.type()) {
    case VariantType::Boolean: return int64_t{v.asBoolean() ? -1 : 0};
    case VariantType::Byte: return int64_t{v.asByte()};
    case VariantType::Integer: return int64_t{v.asInteger()};
    case VariantType::Long: return int64_t{v.asLong()};
    case VariantType::Currency: {
        const int64_t ticks = v.asCurrency().ticks;
        int64_t q = ticks / 10000;
        const int64_t r = ticks % 10000;
        const int64_t absR = r < 0 ? -r : r;
        if (absR > 5000 || (absR == 5000 && (q & 1) != 0)) q += r < 0 ? -1 : 1;
        return q;
    }
    case VariantType::Text: {
        ScannedNumber n;
        int64_t out = 0;
        if (!scanNumber(v.asText(), settings.decimalSeparator, settings.groupSeparator, n))
            return mismatch(v.asText(), "a number");
        if (!scannedToScaled(n, 0, out)) return Status(ErrorCode::TypeMismatch, "the number is out of range");
        return out;
    }
    default: {
        VK_ASSIGN_OR_RETURN(double d, variantToDouble(v, settings));
        d = roundHalfEven(d);
        if (!(d >= -9.2e18 && d <= 9.2e18)) return Status(ErrorCode::TypeMismatch, "the number is out of range");
        return static_cast<int64_t>(d);
    }
    }
}

}  // namespace

double roundHalfEven(double value)
{
    if (!std::isfinite(value)) return value;
    const double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
    return r;
}

Result<double> textToDouble(std::u16string_view text, const RegionalSettings& settings)
{
    ScannedNumber n;
    if (!scanNumber(text, settings.decimalSeparator, settings.groupSeparator, n))
        return mismatch(text, "a number");
    double v = 0;
    if (!scannedToDouble(n, v))
        return Status(ErrorCode::TypeMismatch, std::string("\"").append(toUtf8(text.substr(0, 80))) + "\" is out of range");
    return v;
}

Result<int64_t> textToScaled(std::u16string_view text, int scale, const RegionalSettings& settings)
{
    ScannedNumber n;
    if (!scanNumber(text, settings.decimalSeparator, settings.groupSeparator, n))
        return mismatch(text, "a number");
    int64_t v = 0;
    if (!scannedToScaled(n, scale, v))
        return Status(ErrorCode::TypeMismatch, std::string("\"").append(toUtf8(text.substr(0, 80))) + "\" is out of range");
    return v;
}

double valOfText(std::u16string_view text)
{
    ScannedNumber n;
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && (isBlank(text[i]) || text[i] == u'\n' || text[i] == u'\r')) ++i;
    };
    skip();
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        n.negative = text[i] == u'-';
        ++i;
    }
    bool fraction = false;
    for (;; ++i) {
        skip();
        if (i >= text.size()) break;
        if (isDigit(text[i])) addDigit(n, text[i], fraction);
        else if (text[i] == u'.' && !fraction) fraction = true;
        else break;
    }
    if (n.count == 0) n.exp10 = 0;
    double v = 0;
    if (!scannedToDouble(n, v)) return 0;
    return v;
}

Result<double> textToDate(std::u16string_view text, const RegionalSettings& settings)
{
    const DateRules rules{settings.dateOrder, settings.dateSeparator, settings.timeSeparator, true,
                          settings.amDesignator, settings.pmDesignator};
    double serial = 0;
    if (!readDateTime(text, rules, serial)) return mismatch(text, "a date");
    return serial;
}

Result<double> parseDateLiteral(std::u16string_view text)
{
    const DateRules rules{RegionalSettings::DateOrder::MonthDayYear, u'/', u':', false, u"AM", u"PM"};
    double serial = 0;
    if (!readDateTime(text, rules, serial))
        return invalidArgument(std::string("#").append(toUtf8(text.substr(0, 80))) + "# is not a valid date");
    return serial;
}

Result<bool> textToBoolean(std::u16string_view text, const RegionalSettings& settings)
{
    const std::u16string_view s = trimBlanks(text);
    static constexpr std::u16string_view kTrue[] = {u"True", u"Yes", u"On"};
    static constexpr std::u16string_view kFalse[] = {u"False", u"No", u"Off"};
    for (auto w : kTrue)
        if (equalsIgnoreCase(s, w)) return true;
    for (auto w : kFalse)
        if (equalsIgnoreCase(s, w)) return false;
    ScannedNumber n;
    if (scanNumber(s, settings.decimalSeparator, settings.groupSeparator, n)) return n.count != 0;
    return mismatch(text, "Yes or No");
}

std::u16string doubleToText(double value, const RegionalSettings& settings, int significantDigits)
{
    std::u16string out;
    if (value == 0) return u"0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, significantDigits);
    if (res.ec != std::errc()) return u"0";
    appendAscii(out, buf, res.ptr, settings.decimalSeparator);
    return out;
}

std::u16string integerToText(int64_t value)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    std::u16string out;
    appendAscii(out, buf, res.ptr, u'.');
    return out;
}

std::u16string currencyToText(Currency value, const RegionalSettings& settings)
{
    std::u16string out;
    const bool negative = value.ticks < 0;
    const unsigned __int128 mag = negative ? static_cast<unsigned __int128>(-static_cast<__int128>(value.ticks))
                                           : static_cast<unsigned __int128>(value.ticks);
    appendMagnitude(out, mag, 4, negative, settings.decimalSeparator);
    return out;
}

std::u16string decimalToText(const Decimal& value, const RegionalSettings& settings)
{
    std::u16string out;
    appendMagnitude(out, value.magnitude, std::min<int>(value.scale, 38), value.negative, settings.decimalSeparator);
    return out;
}

std::u16string dateToText(double serial, const RegionalSettings& settings)
{
    auto parts = dateParts(serial);
    if (!parts.isOk()) return doubleToText(serial, settings);
    const bool midnight = parts->hour == 0 && parts->minute == 0 && parts->second == 0;
    if (std::trunc(serial) == 0 && std::fabs(serial) < 1) return formatRegionalDate(serial, settings.longTimeFormat, settings);
    std::u16string out = formatRegionalDate(serial, settings.shortDateFormat, settings);
    if (!midnight) {
        out.push_back(u' ');
        out += formatRegionalDate(serial, settings.longTimeFormat, settings);
    }
    return out;
}

std::u16string guidToText(const Guid& g)
{
    static const char* kHex = "0123456789ABCDEF";
    // The first three groups are stored little-endian.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::u16string out = u"{";
    for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back(u'-');
        const uint8_t b = g[kOrder[k]];
        out.push_back(static_cast<char16_t>(kHex[b >> 4]));
        out.push_back(static_cast<char16_t>(kHex[b & 15]));
    }
    out.push_back(u'}');
    return out;
}

bool appendVariantText(std::u16string& out, const Variant& v, const RegionalSettings& settings)
{
    switch (v.type()) {
    case VariantType::Null:
    case VariantType::Binary: return false;
    case VariantType::Boolean: out += v.asBoolean() ? u"True" : u"False"; return true;
    case VariantType::Byte:
    case VariantType::Integer:
    case VariantType::Long: {
        const int64_t n = v.type() == VariantType::Byte ? v.asByte()
                          : v.type() == VariantType::Integer ? v.asInteger() : v.asLong();
        char buf[24];
        auto res = std::to_chars(buf, buf + sizeof buf, n);
        appendAscii(out, buf, res.ptr, u'.');
        return true;
    }
    case VariantType::Currency: out += currencyToText(v.asCurrency(), settings); return true;
    case VariantType::Single: out += doubleToText(v.asSingle(), settings, 7); return true;
    case VariantType::Double: {
        const double d = v.asDouble();
        if (d == 0) {
            out.push_back(u'0');
            return true;
        }
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
        if (res.ec != std::errc()) return false;
        appendAscii(out, buf, res.ptr, settings.decimalSeparator);
        return true;
    }
    case VariantType::Date: out += dateToText(v.asDate().serial, settings); return true;
    case VariantType::Text: out += v.asText(); return true;
    case VariantType::Decimal: out += decimalToText(v.asDecimal(), settings); return true;
    case VariantType::Guid: out += guidToText(v.asGuid()); return true;
    }
    return false;
}

Result<std::u16string> variantToText(const Variant& value, const RegionalSettings& settings)
{
    std::u16string out;
    if (!appendVariantText(out, value, settings)) {
        if (value.isNull()) return Status(ErrorCode::TypeMismatch, "invalid use of Null");
        return Status(ErrorCode::TypeMismatch, "a binary value has no text form");
    }
    return out;
}

Result<double> variantToDouble(const Variant& v, const RegionalSettings& settings)
{
    switch (v.type()) {
    case VariantType::Null: return Status(ErrorCode::TypeMismatch, "invalid use of Null");
    case VariantType::Boolean: return v.asBoolean() ? -1.0 : 0.0;
    case VariantType::Byte: return double(v.asByte());
    case VariantType::Integer: return double(v.asInteger());
    case VariantType::Long: return double(v.asLong());
    case VariantType::Currency: return double(v.asCurrency().ticks) / 10000.0;
    case VariantType::Single: return double(v.asSingle());
    case VariantType::Double: return v.asDouble();
    case VariantType::Date: return v.asDate().serial;
    case VariantType::Text: return textToDouble(v.asText(), settings);
    case VariantType::Decimal: {
        const Decimal& d = v.asDecimal();
        double r = static_cast<double>(d.magnitude);
        r /= std::pow(10.0, d.scale);
        return d.negative ? -r : r;
    }
    case VariantType::Binary:
    case VariantType::Guid: break;
    }
    return Status(ErrorCode::TypeMismatch, std::string("a ") + variantTypeName(v.type()) + " value is not a number");
}

Result<Variant> convertForColumn(const Variant& value, ColumnType type, int size,
                                 const RegionalSettings& settings)
{
    if (value.isNull()) return Variant::null();
    switch (type) {
    case ColumnType::Text:
    case ColumnType::Memo: {
        VK_ASSIGN_OR_RETURN(std::u16string text, variantToText(value, settings));
        if (type == ColumnType::Text && size > 0 && text.size() > static_cast<size_t>(size))
            return invalidArgument("the text is " + std::to_string(text.size())
                                   + " characters long, the field takes at most " + std::to_string(size));
        return Variant::text(std::move(text));
    }
    case ColumnType::Boolean:
        if (value.type() == VariantType::Boolean) return value;
        if (value.type() == VariantType::Text) {
            VK_ASSIGN_OR_RETURN(bool b, textToBoolean(value.asText(), settings));
            return Variant::boolean(b);
        } else {
            VK_ASSIGN_OR_RETURN(double d, variantToDouble(value, settings));
            return Variant::boolean(d != 0);
        }
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: {
        VK_ASSIGN_OR_RETURN(int64_t n, toWhole(value, settings));
        if (type == ColumnType::Byte) {
            if (n < 0 || n > 255) return tooLarge("Byte");
            return Variant::byte(static_cast<uint8_t>(n));
        }
        if (type == ColumnType::Integer) {
            if (n < INT16_MIN || n > INT16_MAX) return tooLarge("Integer");
            return Variant::integer(static_cast<int16_t>(n));
        }
        if (n < INT32_MIN || n > INT32_MAX) return tooLarge("Long Integer");
        return Variant::longValue(static_cast<int32_t>(n));
    }
    case ColumnType::Currency: {
        if (value.type() == VariantType::Currency) return value;
        if (value.type() == VariantType::Text) {
            VK_ASSIGN_OR_RETURN(int64_t ticks, textToScaled(value.asText(), 4, settings));
            return Variant::currency(Currency{ticks});
        }
        VK_ASSIGN_OR_RETURN(double d, variantToDouble(value, settings));
        const double ticks = roundHalfEven(d * 10000.0);
        if (!(ticks >= -9.2233720368547e18 && ticks <= 9.2233720368547e18)) return tooLarge("Currency");
        return Variant::currency(Currency{static_cast<int64_t>(ticks)});
    }
    case ColumnType::Single:
    case ColumnType::Double: {
        VK_ASSIGN_OR_RETURN(double d, variantToDouble(value, settings));
        if (type == ColumnType::Single) {
            if (std::fabs(d) > std::numeric_limits<float>::max()) return tooLarge("Single");
            return Variant::single(static_cast<float>(d));
        }
        return Variant::doubleValue(d);
    }
    case ColumnType::DateTime: {
        double serial = 0;
        if (value.type() == VariantType::Text) {
            VK_ASSIGN_OR_RETURN(serial, textToDate(value.asText(), settings));
        } else {
            VK_ASSIGN_OR_RETURN(serial, variantToDouble(value, settings));
        }
        if (!(serial >= kMinDateSerial && serial <= kMaxDateSerial + 1e-9))
            return Status(ErrorCode::TypeMismatch, "the date is outside the years 100 to 9999");
        return Variant::date(serial);
    }
    case ColumnType::Binary:
    case ColumnType::OLE:
    case ColumnType::Unknown0D:
        if (value.type() != VariantType::Binary)
            return Status(ErrorCode::TypeMismatch, "only a binary value can be written into a binary field");
        if (type == ColumnType::Binary && size > 0 && value.asBinary().size() > static_cast<size_t>(size))
            return invalidArgument("the value is longer than the field takes");
        return value;
    case ColumnType::Guid:
        if (value.type() == VariantType::Guid) return value;
        return Status(ErrorCode::TypeMismatch, "only a replication id can be written into this field");
    case ColumnType::Numeric: {
        if (value.type() == VariantType::Decimal) return value;
        // Kept to four places here; the field's own scale is applied where
        // the value is stored.
        int64_t scaled = 0;
        if (value.type() == VariantType::Text) {
            VK_ASSIGN_OR_RETURN(scaled, textToScaled(value.asText(), 4, settings));
        } else if (value.type() == VariantType::Currency) {
            scaled = value.asCurrency().ticks;
        } else {
            VK_ASSIGN_OR_RETURN(double d, variantToDouble(value, settings));
            const double t = roundHalfEven(d * 10000.0);
            if (!(t >= -9.2233720368547e18 && t <= 9.2233720368547e18)) return tooLarge("Decimal");
            scaled = static_cast<int64_t>(t);
        }
        Decimal dec;
        dec.negative = scaled < 0;
        dec.magnitude = scaled < 0 ? static_cast<unsigned __int128>(-static_cast<__int128>(scaled))
                                   : static_cast<unsigned __int128>(scaled);
        dec.scale = 4;
        return Variant::decimal(dec);
    }
    }
    return notSupported("the field type cannot be written");
}

}  // namespace varnika

#include "tools/varnika-db/value_text.h"

#include "db/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace varnika::tool {

namespace {

constexpr int64_t kCurrencyScale = 10000;
constexpr double kSecondsPerDay = 86400;

template <typename T>
std::string shortest(T v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// A date serial as calendar fields; false for a serial no calendar holds.
bool calendarOf(double serial, std::tm& tm)
{
    if (!std::isfinite(serial) || std::fabs(serial) > 3e6) return false;
    // The fraction is a time of day even for dates before 1899-12-30.
    double day = std::trunc(serial);
    double fraction = std::fabs(serial - day);
    int64_t seconds = std::llround(fraction * kSecondsPerDay);
    int64_t days = int64_t(day) + seconds / 86400;
    seconds %= 86400;
    constexpr int64_t kBaseFromEpoch = -25569;  // 1899-12-30 relative to 1970-01-01
    const int64_t fromEpoch = days + kBaseFromEpoch;
    int64_t y;
    unsigned m, d;
    civilFromDays(fromEpoch, y, m, d);
    tm = {};
    tm.tm_year = int(y - 1900);
    tm.tm_mon = int(m) - 1;
    tm.tm_mday = int(d);
    tm.tm_hour = int(seconds / 3600);
    tm.tm_min = int(seconds / 60 % 60);
    tm.tm_sec = int(seconds % 60);
    tm.tm_wday = int(((fromEpoch % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    static const int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    tm.tm_yday = kDaysBefore[m - 1] + int(d) - 1 + (leap && m > 2 ? 1 : 0);
    return true;
}

// Writes `v` as `width` digits, zeros in front.
char* digits(char* p, unsigned v, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        p[i] = char('0' + v % 10);
        v /= 10;
    }
    return p + width;
}

std::string plainDateText(double serial)
{
    std::tm tm;
    if (!calendarOf(serial, tm)) return shortest(serial);
    // 2024-12-31 23:59:59; a year outside 0..9999 keeps its own digits.
    const long long year = static_cast<long long>(tm.tm_year) + 1900;
    char buf[64];
    char* p = buf;
    if (year >= 0 && year <= 9999) {
        p = digits(p, unsigned(year), 4);
    } else {
        p += std::snprintf(buf, sizeof buf, "%04lld", year);
    }
    *p++ = '-';
    p = digits(p, unsigned(tm.tm_mon + 1), 2);
    *p++ = '-';
    p = digits(p, unsigned(tm.tm_mday), 2);
    *p++ = ' ';
    p = digits(p, unsigned(tm.tm_hour), 2);
    *p++ = ':';
    p = digits(p, unsigned(tm.tm_min), 2);
    *p++ = ':';
    p = digits(p, unsigned(tm.tm_sec), 2);
    return std::string(buf, p);
}

std::string decimalText(const Decimal& dec)
{
    std::string digits;
    unsigned __int128 m = dec.magnitude;
    do {
        digits.insert(digits.begin(), char('0' + int(m % 10)));
        m /= 10;
    } while (m != 0);
    if (dec.scale > 0) {
        if (digits.size() <= dec.scale) digits.insert(0, dec.scale - digits.size() + 1, '0');
        digits.insert(digits.size() - dec.scale, ".");
    }
    return (dec.negative && dec.magnitude != 0 ? "-" : "") + digits;
}

std::string hex(const uint8_t* p, size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

}  // namespace

std::string valueText(const Variant& v)
{
    switch (v.type()) {
    case VariantType::Null: return "";
    case VariantType::Boolean: return v.asBoolean() ? "1" : "0";
    case VariantType::Byte: return std::to_string(v.asByte());
    case VariantType::Integer: return std::to_string(v.asInteger());
    case VariantType::Long: return std::to_string(v.asLong());
    case VariantType::Currency: {
        int64_t t = v.asCurrency().ticks;
        uint64_t a = t < 0 ? uint64_t(0) - uint64_t(t) : uint64_t(t);
        char buf[48];
        char* p = buf;
        if (t < 0) *p++ = '-';
        p = std::to_chars(p, buf + sizeof buf, a / kCurrencyScale).ptr;
        *p++ = '.';
        p = digits(p, unsigned(a % kCurrencyScale), 4);
        return std::string(buf, p);
    }
    case VariantType::Single: return shortest(v.asSingle());
    case VariantType::Double: return shortest(v.asDouble());
    case VariantType::Date: return plainDateText(v.asDate().serial);
    case VariantType::Text: return toUtf8(v.asText());
    case VariantType::Binary: return hex(v.asBinary().data(), v.asBinary().size());
    case VariantType::Decimal: return decimalText(v.asDecimal());
    case VariantType::Guid: {
        const Guid& g = v.asGuid();
        auto group = [&](int from, int count, bool reverse) {
            std::string s;
            for (int i = 0; i < count; ++i) s += hex(&g[size_t(reverse ? from + count - 1 - i : from + i)], 1);
            return s;
        };
        return "{" + group(0, 4, true) + "-" + group(4, 2, true) + "-" + group(6, 2, true) + "-" + group(8, 2, false) +
               "-" + group(10, 6, false) + "}";
    }
    }
    return "";
}

std::string dateText(double serial, const std::string& format)
{
    if (format.empty()) return plainDateText(serial);
    std::tm tm;
    if (!calendarOf(serial, tm)) return shortest(serial);
    // strftime gives 0 both for an empty result and for a buffer too small.
    for (size_t size = 64; size <= 65536; size *= 4) {
        std::string buf(size, '\0');
        const size_t n = std::strftime(buf.data(), buf.size(), format.c_str(), &tm);
        if (n > 0 || size >= 65536) {
            buf.resize(n);
            return buf;
        }
    }
    return {};
}

std::string jsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace varnika::tool

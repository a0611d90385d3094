#include "tools/varnika-db/value_text.h"

#include "db/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

std::string dateText(double serial)
{
    if (!std::isfinite(serial) || std::fabs(serial) > 3e6) return shortest(serial);
    // The fraction is a time of day even for dates before 1899-12-30.
    double day = std::trunc(serial);
    double fraction = std::fabs(serial - day);
    int64_t seconds = std::llround(fraction * kSecondsPerDay);
    int64_t days = int64_t(day) + seconds / 86400;
    seconds %= 86400;
    constexpr int64_t kBaseFromEpoch = -25569;  // 1899-12-30 relative to 1970-01-01
    int64_t y;
    unsigned m, d;
    civilFromDays(days + kBaseFromEpoch, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    return buf;
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
        std::snprintf(buf, sizeof buf, "%s%llu.%04llu", t < 0 ? "-" : "", static_cast<unsigned long long>(a / kCurrencyScale),
                      static_cast<unsigned long long>(a % kCurrencyScale));
        return buf;
    }
    case VariantType::Single: return shortest(v.asSingle());
    case VariantType::Double: return shortest(v.asDouble());
    case VariantType::Date: return dateText(v.asDate().serial);
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

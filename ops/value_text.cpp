#include "ops/value_text.h"

#include "ops/date_text.h"

#include <cmath>
#include <cstdio>

namespace varnika {

namespace {

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string withDecimalSeparator(std::string s, const RegionalSettings& settings)
{
    std::u16string out = ascii(s);
    for (char16_t& c : out)
        if (c == u'.') c = settings.decimalSeparator;
    return out;
}

// Fifteen significant digits, no trailing zeros, as numbers are usually shown.
std::u16string doubleText(double v, int digits, const RegionalSettings& settings)
{
    if (!std::isfinite(v)) return ascii(std::isnan(v) ? "NaN" : (v < 0 ? "-Inf" : "Inf"));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, v);
    std::string s = buf;
    size_t e = s.find('E');
    std::string mantissa = s.substr(0, e);
    std::string exponent = e == std::string::npos ? "" : s.substr(e);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    }
    if (!exponent.empty()) {
        // E+020 style exponents lose their padding zeros.
        std::string sign = exponent.substr(1, 1);
        std::string num = exponent.substr(2);
        while (num.size() > 1 && num.front() == '0') num.erase(num.begin());
        exponent = "E" + sign + num;
    }
    return withDecimalSeparator(mantissa + exponent, settings);
}

std::u16string scaledText(bool negative, unsigned __int128 magnitude, int scale, const RegionalSettings& settings)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude);
    while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
    std::string whole = digits.substr(0, digits.size() - scale);
    std::string fraction = digits.substr(digits.size() - scale);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::u16string out = ascii((negative && (whole != "0" || !fraction.empty()) ? "-" : "") + whole);
    if (!fraction.empty()) out += settings.decimalSeparator + ascii(fraction);
    return out;
}

void appendPadded(std::u16string& out, int value, int width)
{
    std::u16string digits;
    do {
        digits.insert(digits.begin(), char16_t(u'0' + value % 10));
        value /= 10;
    } while (value);
    while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), u'0');
    out += digits;
}

}  // namespace

std::u16string formatDatePattern(double serial, std::u16string_view pattern, const RegionalSettings& settings)
{
    const CivilDateTime c = civilFromSerial(serial);
    const bool twelveHour = pattern.find(u'h') != std::u16string_view::npos;
    std::u16string out;
    size_t i = 0;
    while (i < pattern.size()) {
        const char16_t ch = pattern[i];
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == ch) ++run;
        if ((ch == u'A' || ch == u'a') && i + 1 < pattern.size() &&
            (pattern[i + 1] == u'P' || pattern[i + 1] == u'p')) {
            const std::u16string& designator = c.hour < 12 ? settings.amDesignator : settings.pmDesignator;
            out += designator.empty() ? std::u16string(c.hour < 12 ? u"AM" : u"PM") : designator;
            i += 2;
            continue;
        }
        const int width = run >= 2 ? 2 : 1;
        switch (ch) {
        case u'd': appendPadded(out, c.day, width); break;
        case u'M': appendPadded(out, c.month, width); break;
        case u'y':
            if (run >= 3) appendPadded(out, c.year, 4);
            else appendPadded(out, c.year % 100, 2);
            break;
        case u'H': appendPadded(out, c.hour, width); break;
        case u'h': {
            int h = c.hour % 12;
            appendPadded(out, twelveHour && h == 0 ? 12 : h, width);
            break;
        }
        case u'm': appendPadded(out, c.minute, width); break;
        case u's': appendPadded(out, c.second, width); break;
        default: out.append(run, ch); break;
        }
        i += run;
    }
    return out;
}

Result<std::u16string> valueAsText(const Variant& value, const RegionalSettings& settings)
{
    switch (value.type()) {
    case VariantType::Null:
        return Status(ErrorCode::TypeMismatch, "an empty (Null) value has no text");
    case VariantType::Boolean: return std::u16string(value.asBoolean() ? u"True" : u"False");
    case VariantType::Byte: return ascii(std::to_string(value.asByte()));
    case VariantType::Integer: return ascii(std::to_string(value.asInteger()));
    case VariantType::Long: return ascii(std::to_string(value.asLong()));
    case VariantType::Currency: {
        const int64_t t = value.asCurrency().ticks;
        const unsigned __int128 m = t < 0 ? static_cast<unsigned __int128>(-(t + 1)) + 1 : t;
        return scaledText(t < 0, m, 4, settings);
    }
    case VariantType::Single: return doubleText(value.asSingle(), 7, settings);
    case VariantType::Double: return doubleText(value.asDouble(), 15, settings);
    case VariantType::Decimal: {
        const Decimal& d = value.asDecimal();
        return scaledText(d.negative, d.magnitude, d.scale, settings);
    }
    case VariantType::Date: {
        const double serial = value.asDate().serial;
        const CivilDateTime c = civilFromSerial(serial);
        const bool hasTime = c.hour || c.minute || c.second;
        const bool hasDate = !(c.year == 1899 && c.month == 12 && c.day == 30);
        std::u16string out;
        if (hasDate || !hasTime) out = formatDatePattern(serial, settings.shortDateFormat, settings);
        if (hasTime) {
            if (!out.empty()) out += u' ';
            out += formatDatePattern(serial, settings.longTimeFormat, settings);
        }
        return out;
    }
    case VariantType::Text: return value.asText();
    case VariantType::Guid: {
        static const char* kHex = "0123456789ABCDEF";
        const Guid& g = value.asGuid();
        // The first three groups are stored little-endian.
        static const int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
        std::u16string out = u"{";
        for (int i : kOrder) {
            if (i < 0) { out += u'-'; continue; }
            out += char16_t(kHex[g[i] >> 4]);
            out += char16_t(kHex[g[i] & 15]);
        }
        out += u'}';
        return out;
    }
    case VariantType::Binary:
        return Status(ErrorCode::TypeMismatch, "a binary value has no text");
    }
    return Status(ErrorCode::TypeMismatch, "the value has no text");
}

}  // namespace varnika

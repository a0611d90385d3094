#include "db/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace varnika {
namespace {

struct CasePair {
    char16_t from;
    char16_t to;
};
#include "db/unicode_case_table.inc"

template <size_t N>
char16_t lookup(const CasePair (&table)[N], char16_t c)
{
    auto it = std::lower_bound(std::begin(table), std::end(table), c,
                               [](const CasePair& p, char16_t v) { return p.from < v; });
    if (it != std::end(table) && it->from == c) return it->to;
    return c;
}

}  // namespace

std::u16string fromUtf8(std::string_view s)
{
    // Never more units than bytes: a four-byte sequence makes two, every
    // other sequence and every bad byte one.
    std::u16string out(s.size(), u'\0');
    size_t n = 0;
    size_t i = 0;
    while (i < s.size()) {
        // Eight ASCII bytes at a time: most text is mostly ASCII.
        while (i + 8 <= s.size()) {
            uint64_t eight;
            std::memcpy(&eight, s.data() + i, sizeof eight);
            if (eight & 0x8080808080808080ULL) break;
            for (size_t k = 0; k < 8; ++k) out[n + k] = char16_t(uint8_t(s[i + k]));
            n += 8;
            i += 8;
        }
        if (i >= s.size()) break;
        uint8_t b = uint8_t(s[i]);
        if (b < 0x80) {
            out[n++] = char16_t(b);
            ++i;
            continue;
        }
        uint32_t cp;
        int extra;
        if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; extra = 3; }
        else { out[n++] = 0xFFFD; ++i; continue; }
        bool bad = false;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= s.size() || (uint8_t(s[i + k]) & 0xC0) != 0x80) { bad = true; break; }
            cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
        }
        if (bad) { out[n++] = 0xFFFD; ++i; continue; }
        i += extra + 1;
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out[n++] = 0xFFFD;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out[n++] = char16_t(0xD800 + (cp >> 10));
            out[n++] = char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = char16_t(cp);
        }
    }
    out.resize(n);
    return out;
}

std::string toUtf8(std::u16string_view s)
{
    std::string out;
    appendUtf8(out, s);
    return out;
}

void appendUtf8(std::string& out, std::u16string_view s)
{
    // Room for the longest form (three bytes a unit; a pair's four bytes
    // come from two units), written through a pointer and cut to size.
    const size_t start = out.size();
    out.resize(start + 3 * s.size());
    char* p = out.data() + start;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp < 0x80) {
            *p++ = char(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x800) {
            *p++ = char(0xC0 | (cp >> 6));
            *p++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *p++ = char(0xE0 | (cp >> 12));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        } else {
            *p++ = char(0xF0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3F));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        }
    }
    out.resize(size_t(p - out.data()));
}

char16_t toUpperChar(char16_t c)
{
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? char16_t(c - 32) : c;
    return lookup(kUpperPairs, c);
}

std::u16string charsWithUpper(char16_t upper)
{
    std::u16string out;
    if (toUpperChar(upper) == upper) out.push_back(upper);
    // Below 0x80 only a-z have other capitals; the table holds the rest.
    if (upper >= 'A' && upper <= 'Z') out.push_back(char16_t(upper + 32));
    for (const CasePair& p : kUpperPairs)
        if (p.to == upper && p.from >= 0x80) out.push_back(p.from);
    return out;
}

char16_t toLowerChar(char16_t c)
{
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c;
    return lookup(kLowerPairs, c);
}

std::u16string toUpper(std::u16string_view s)
{
    std::u16string out(s);
    for (auto& c : out) c = toUpperChar(c);
    return out;
}

std::u16string toLower(std::u16string_view s)
{
    std::u16string out(s);
    for (auto& c : out) c = toLowerChar(c);
    return out;
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && toUpperChar(a[i]) != toUpperChar(b[i])) return false;
    }
    return true;
}

std::u16string toU16(std::string_view ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace varnika

#include "db/jet/sort_order.h"

#include "db/jet/sort_order_data.h"

#include <array>
#include <cstdio>

namespace varnika::jet {

namespace {

constexpr size_t kMaxKeyCodeUnits = 255;
constexpr char16_t kSurrogateFirst = 0xD800;
constexpr char16_t kSurrogateLast = 0xDFFF;
constexpr size_t kCodeUnits = 0x10000;
constexpr uint8_t kAccentNone = 0x02;  // an accent position without accent
constexpr uint8_t kSurrogateExtra = 0x3F;

std::string hex4(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", v);
    return buf;
}

}  // namespace

struct SortOrder::Tables {
    std::vector<Code> codes;  // by code unit; surrogate halves are computed instead
    std::vector<uint8_t> bytes;
    bool complete = false;    // every code unit outside the surrogates has a record
};

namespace {

using Tables = SortOrder::Tables;
using Code = SortOrder::Code;
using CodeClass = SortOrder::CodeClass;

std::shared_ptr<Tables> unpack(const unsigned char* blob, size_t size)
{
    auto t = std::make_shared<Tables>();
    t->codes.assign(kCodeUnits, Code{});
    t->bytes.reserve(size);
    size_t pos = 0;
    uint32_t unit = 0;
    while (unit < kCodeUnits) {
        if (unit == kSurrogateFirst) {
            unit = kSurrogateLast + 1;
            continue;
        }
        if (pos + 2 > size) break;
        const uint8_t header = blob[pos];
        Code c;
        c.cls = static_cast<CodeClass>(header & 0x07);
        c.fieldLength = header >> 3;
        c.inlineLength = blob[pos + 1];
        pos += 2;
        const size_t payload = size_t(c.inlineLength) + c.fieldLength + (c.cls == CodeClass::Crazy ? 1 : 0);
        if (pos + payload > size) break;
        c.offset = uint32_t(t->bytes.size());
        t->bytes.insert(t->bytes.end(), blob + pos, blob + pos + c.inlineLength + c.fieldLength);
        if (c.cls == CodeClass::Crazy) c.crazyFlag = blob[pos + c.inlineLength + c.fieldLength];
        pos += payload;
        t->codes[unit] = c;
        ++unit;
    }
    t->complete = unit == kCodeUnits && pos == size;
    return t;
}

void overrideCode(Tables& t, char16_t unit, CodeClass cls, std::initializer_list<uint8_t> inl,
                  std::initializer_list<uint8_t> field)
{
    Code c;
    c.cls = cls;
    c.inlineLength = uint8_t(inl.size());
    c.fieldLength = uint8_t(field.size());
    c.offset = uint32_t(t.bytes.size());
    t.bytes.insert(t.bytes.end(), inl);
    t.bytes.insert(t.bytes.end(), field);
    t.codes[unit] = c;
}

// General Legacy with the Turkish alphabet: Ç Ğ Ö Ş Ü sort as letters of
// their own, and the dotted / dotless i pair up as İ-i and I-ı. Access
// stores each of these letters as two primary bytes (letter, then a second
// byte), not as a letter plus an accent code: "Koş" is 5C 64 6C 07 01.
std::shared_ptr<Tables> turkish(const Tables& legacy)
{
    auto t = std::make_shared<Tables>(legacy);
    const auto S = CodeClass::Simple;
    for (char16_t u : {u'Ç', u'ç'}) overrideCode(*t, u, S, {0x4E, 0x03}, {});
    for (char16_t u : {u'Ğ', u'ğ'}) overrideCode(*t, u, S, {0x56, 0x02}, {});
    for (char16_t u : {u'Ö', u'ö'}) overrideCode(*t, u, S, {0x65, 0x02}, {});
    for (char16_t u : {u'Ş', u'ş'}) overrideCode(*t, u, S, {0x6C, 0x07}, {});
    for (char16_t u : {u'Ü', u'ü'}) overrideCode(*t, u, S, {0x70, 0x03}, {});
    for (char16_t u : {u'ı', u'I'}) overrideCode(*t, u, S, {0x58, 0x06}, {});
    for (char16_t u : {u'i', u'İ'}) overrideCode(*t, u, S, {0x59}, {});
    // Ĳ / ĳ are the two letters I J / i j.
    overrideCode(*t, u'Ĳ', S, {0x58, 0x06, 0x5B}, {});
    overrideCode(*t, u'ĳ', S, {0x59, 0x5B}, {});
    return t;
}

const std::shared_ptr<Tables>& legacyTables()
{
    static const std::shared_ptr<Tables> t = unpack(sortdata::kGeneralLegacy, sortdata::kGeneralLegacySize);
    return t;
}

}  // namespace

Result<SortOrderId> sortOrderFromDescriptor(std::span<const uint8_t> b)
{
    if (b.size() < 4) return corruption("a text column descriptor is too short to name its sort order");
    return SortOrderId{uint16_t(b[0] | (b[1] << 8)), b[3]};
}

std::string sortOrderIdText(SortOrderId id)
{
    return "0x" + hex4(id.lcid) + "/" + std::to_string(id.version);
}

SortOrder::SortOrder(SortOrderId id, std::string name, std::shared_ptr<const Tables> tables)
    : m_id(id), m_name(std::move(name)), m_tables(std::move(tables))
{
}

Result<const SortOrder*> SortOrder::find(SortOrderId id)
{
    // Function-local statics: built once, never changed afterwards.
    if (id == kGeneralLegacySortOrder) {
        static const SortOrder order(id, "General Legacy", legacyTables());
        if (!order.m_tables->complete) return corruption("the built-in General Legacy code table is damaged");
        return &order;
    }
    if (id == kGeneralSortOrder) {
        static const SortOrder order(id, "General", unpack(sortdata::kGeneral, sortdata::kGeneralSize));
        if (!order.m_tables->complete) return corruption("the built-in General code table is damaged");
        return &order;
    }
    if (id == kTurkishSortOrder) {
        static const SortOrder order(id, "Turkish", turkish(*legacyTables()));
        if (!order.m_tables->complete) return corruption("the built-in Turkish code table is damaged");
        return &order;
    }
    return notSupported("text index keys for sort order " + sortOrderIdText(id) +
                        " are not supported (known: General Legacy 0x0409/0, General 0x0409/1, Turkish 0x041F/0)");
}

Status SortOrder::appendKey(std::u16string_view value, bool ascending, std::vector<uint8_t>& outKey) const
{
    std::u16string_view s = value.substr(0, std::min(value.size(), kMaxKeyCodeUnits));
    while (!s.empty() && s.back() == u' ') s.remove_suffix(1);

    std::vector<uint8_t> inl, extra, unprint, crazy;
    inl.reserve(s.size() * 2);
    size_t covered = 0, pos = 0;
    int prefixMod = 0;
    bool started = false;
    std::array<uint8_t, 2> surrogateInline{};
    const uint8_t surrogateExtra = kSurrogateExtra;

    for (char16_t c : s) {
        CodeClass cls;
        const uint8_t* inlineBytes;
        size_t inlineLength;
        const uint8_t* field;
        size_t fieldLength;
        uint8_t crazyFlag = 0;
        if (c >= kSurrogateFirst && c <= kSurrogateLast) {
            uint32_t v;
            if (c < 0xDC00) {
                v = uint32_t(c) - 10238;
            } else {
                const uint32_t r = (uint32_t(c) - 0xDC00) % 1024;
                const uint32_t k = r < 8 ? 9992 : r < 262 ? 9990 : r < 516 ? 9988 : r < 770 ? 9986 : 9984;
                v = uint32_t(c) - k;
            }
            surrogateInline = {uint8_t(v >> 8), uint8_t(v)};
            cls = CodeClass::International;
            inlineBytes = surrogateInline.data();
            inlineLength = 2;
            field = &surrogateExtra;
            fieldLength = 1;
        } else {
            const Code& e = m_tables->codes[c];
            cls = e.cls;
            inlineBytes = m_tables->bytes.data() + e.offset;
            inlineLength = e.inlineLength;
            field = inlineBytes + inlineLength;
            fieldLength = e.fieldLength;
            crazyFlag = e.crazyFlag;
        }
        const size_t here = pos;
        if (cls == CodeClass::Ignored) continue;
        if (inlineLength > 0) {
            inl.insert(inl.end(), inlineBytes, inlineBytes + inlineLength);
            ++pos;
        }
        const bool accent = cls == CodeClass::International || cls == CodeClass::Modifier ||
                            (cls == CodeClass::Crazy && fieldLength > 0);
        if (accent) {
            started = true;
            if (covered < here) {
                extra.insert(extra.end(), here - covered, kAccentNone);
                covered = here;
            }
            if (cls != CodeClass::Modifier) {
                extra.insert(extra.end(), field, field + fieldLength);
                ++covered;
            } else if (fieldLength == 0) {
                return notSupported("the code table entry of character U+" + hex4(c) + " in sort order " + m_name +
                                    " has no modifier");
            } else if (!extra.empty()) {
                extra.back() = uint8_t(extra.back() + field[0]);
            } else {
                extra.push_back(field[0]);
                prefixMod = 1;
            }
        }
        if (cls == CodeClass::Unprintable) {
            const long p = started ? long(extra.size()) + long(here) - long(covered) - prefixMod : long(here);
            const uint32_t v = 0x8000u | uint32_t(7 + 4 * p);
            unprint.push_back(uint8_t(v >> 8));
            unprint.push_back(uint8_t(v));
            unprint.push_back(0x06);
            unprint.insert(unprint.end(), field, field + fieldLength);
        }
        if (cls == CodeClass::Crazy) crazy.push_back(crazyFlag);
    }

    std::vector<uint8_t> out = std::move(inl);
    out.push_back(0x01);
    while (!extra.empty() && extra.back() <= kAccentNone) extra.pop_back();
    if (!extra.empty() || !unprint.empty() || !crazy.empty()) {
        out.insert(out.end(), extra.begin(), extra.end());
        if (!unprint.empty() || !crazy.empty()) {
            out.push_back(0x01);
            out.push_back(0x01);
            if (!crazy.empty()) {
                while (!crazy.empty() && crazy.back() == 3) crazy.pop_back();
                for (size_t i = 0; i < crazy.size(); i += 3) {
                    uint8_t b = 0x80;
                    b |= uint8_t(crazy[i] << 4);
                    if (i + 1 < crazy.size()) b |= uint8_t(crazy[i + 1] << 2);
                    if (i + 2 < crazy.size()) b |= crazy[i + 2];
                    out.push_back(b);
                }
                for (uint8_t b : {0xFF, 0x02, 0x80, 0xFF, 0x80}) out.push_back(b);
                if (!unprint.empty()) out.push_back(0xFF);
            }
            if (!unprint.empty()) {
                out.push_back(0x01);
                out.insert(out.end(), unprint.begin(), unprint.end());
            }
        }
    }
    out.push_back(0x00);
    if (ascending) {
        outKey.push_back(0x7F);
        outKey.insert(outKey.end(), out.begin(), out.end());
    } else {
        outKey.push_back(0x80);
        for (uint8_t b : out) outKey.push_back(uint8_t(~b));
        outKey.push_back(0x00);
    }
    return Status::ok();
}

}  // namespace varnika::jet

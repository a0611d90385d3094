#include "db/jet/index/key_codec.h"

#include "db/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace varnika::jet {
namespace {
#include "db/jet/index/sort_tables_data.inc"
#include "db/jet/index/sort_tables_97.inc"

constexpr uint8_t kFlagAscending = kAscendingKeyFlag;
constexpr uint8_t kFlagAscendingNull = 0x00;
constexpr uint8_t kFlagDescending = 0x80;
constexpr uint8_t kFlagDescendingNull = 0xFF;
constexpr uint8_t kTextInlineEnd = 0x01;
constexpr uint8_t kTextKeyEnd = 0x00;
constexpr uint8_t kNoAccent = 0x02;
constexpr size_t kMaxKeyCharacters = 255;
constexpr uint8_t kBinaryGroupMarker = 0x09;
constexpr size_t kBinaryGroup = 8;

enum Class : uint8_t { Ignored = 0, Simple = 1, International = 2, Unprintable = 3, Modifier = 4, Crazy = 5 };
constexpr uint8_t kHasExtra = 0x80;

struct Entry {
    uint8_t cls = Ignored;
    bool hasExtra = false;
    uint8_t n = 0;
    uint8_t bytes[8] = {};
    uint8_t extra = 0;
    uint8_t flag = 0;
};

Entry fromBlob(const unsigned char* blob, const uint32_t* offsets, char16_t c)
{
    const unsigned char* r = blob + offsets[c];
    Entry e;
    e.cls = r[0] & 0x7F;
    e.hasExtra = (r[0] & kHasExtra) != 0;
    e.n = r[1] > 8 ? 8 : r[1];
    std::memcpy(e.bytes, r + 2, e.n);
    e.extra = r[2 + r[1]];
    e.flag = r[3 + r[1]];
    return e;
}

Entry simple(uint8_t b)
{
    Entry e;
    e.cls = Simple;
    e.n = 1;
    e.bytes[0] = b;
    return e;
}

Entry twoBytes(uint8_t primary, uint8_t accent)
{
    Entry e = simple(primary);
    e.n = 2;
    e.bytes[1] = accent;
    return e;
}

// Turkish letters: Access-made Turkish files key them by a primary byte of
// their own followed at once by an accent byte, inside the main part of the
// key (there is no separate accent section for them). The dotless and dotted
// i pair by their dots, not by the Latin case pairs. Ligatures expand to two
// letters.
bool turkishEntries(char16_t c, Entry out[2], int& count)
{
    count = 1;
    switch (c) {
    case u'Ç': case u'ç': out[0] = twoBytes(0x4E, 0x03); return true;
    case u'Ğ': case u'ğ': out[0] = twoBytes(0x56, 0x02); return true;
    case u'Ö': case u'ö': out[0] = twoBytes(0x65, 0x02); return true;
    case u'Ş': case u'ş': out[0] = twoBytes(0x6C, 0x07); return true;
    case u'Ü': case u'ü': out[0] = twoBytes(0x70, 0x03); return true;
    case u'I': case u'ı': out[0] = twoBytes(0x58, 0x06); return true;
    case u'i': case u'İ': out[0] = simple(0x59); return true;
    case u'Ĳ': out[0] = twoBytes(0x58, 0x06); out[1] = simple(0x5B); count = 2; return true;
    case u'ĳ': out[0] = simple(0x59); out[1] = simple(0x5B); count = 2; return true;
    default: return false;
    }
}

Entry surrogate(char16_t c)
{
    Entry e;
    e.cls = International;
    e.hasExtra = true;
    unsigned v;
    if (c < 0xDC00) {
        v = c - 10238;
    } else {
        unsigned k = (c - 0xDC00) % 1024;
        unsigned sub = k < 8 ? 9992 : k < 262 ? 9990 : k < 516 ? 9988 : k < 770 ? 9986 : 9984;
        v = c - sub;
    }
    e.n = 2;
    e.bytes[0] = uint8_t(v >> 8);
    e.bytes[1] = uint8_t(v);
    e.extra = 0x3F;
    return e;
}

void appendFlipped(std::vector<uint8_t>& out, const uint8_t* p, size_t n, bool flip)
{
    const size_t at = out.size();
    out.resize(at + n);
    uint8_t* to = out.data() + at;
    for (size_t i = 0; i < n; ++i) to[i] = flip ? uint8_t(~p[i]) : p[i];
}

// Big-endian bytes of a two's complement integer with the sign bit flipped,
// so that unsigned byte order is numeric order.
void appendSignedBE(std::vector<uint8_t>& out, uint64_t v, int bytes, bool descending)
{
    uint8_t b[8];
    for (int i = 0; i < bytes; ++i) b[i] = uint8_t(v >> (8 * (bytes - 1 - i)));
    b[0] ^= 0x80;
    appendFlipped(out, b, size_t(bytes), descending);
}

void appendFloatBE(std::vector<uint8_t>& out, uint64_t bits, int bytes, bool descending)
{
    uint8_t b[8];
    for (int i = 0; i < bytes; ++i) b[i] = uint8_t(bits >> (8 * (bytes - 1 - i)));
    bool negative = (b[0] & 0x80) != 0;
    if (!negative) {
        b[0] ^= 0x80;
        appendFlipped(out, b, size_t(bytes), descending);
    } else {
        appendFlipped(out, b, size_t(bytes), !descending);
    }
}

void appendBinary(std::vector<uint8_t>& out, const uint8_t* data, size_t n, bool descending)
{
    size_t pos = 0;
    do {
        size_t take = n - pos < kBinaryGroup ? n - pos : kBinaryGroup;
        uint8_t group[kBinaryGroup] = {};
        std::memcpy(group, data + pos, take);
        appendFlipped(out, group, kBinaryGroup, descending);
        pos += take;
        if (pos < n) {
            out.push_back(kBinaryGroupMarker);
        } else {
            uint8_t count = uint8_t(take);
            out.push_back(descending ? uint8_t(~count) : count);
        }
    } while (pos < n);
}

std::string characterName(char16_t c)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", unsigned(c));
    return hex;
}

// Access 97 "General" keys. Each character gives its inline bytes; a
// letter that can carry an accent (class G) holds an accent place, an
// accented letter (class I) fills its place with its accent code. The
// accents follow the inline bytes as nibbles, opened and closed by a 0
// nibble, each run of plain letters before an accent filled with 2s; a key
// without accents ends with 0x00. Characters above U+00FF key as the
// Windows-1252 character they map to.
enum Class97 : uint8_t { Ignored97 = 0, Simple97 = 1, Significant97 = 2, International97 = 3 };
constexpr uint8_t kAccentsBound = 0x0;
constexpr uint8_t kNoAccentNibble = 0x2;
constexpr uint8_t kNoAccentsEnd = 0x00;

Result<std::vector<uint8_t>> general97Key(std::u16string_view text)
{
    std::vector<uint8_t> out, nibbles;
    size_t plainLetters = 0;
    for (char16_t c : text) {
        const Code97* code = nullptr;
        if (c <= 0xFF) {
            code = &kGeneral97[c];
        } else {
            auto it = std::lower_bound(std::begin(kGeneral97Mappings), std::end(kGeneral97Mappings), c,
                                       [](const Mapping97& m, char16_t v) { return m.from < v; });
            if (it != std::end(kGeneral97Mappings) && it->from == c) code = &kGeneral97[it->to];
        }
        if (!code || (code->cls == Ignored97 && c != 0))
            return notSupported("the character " + characterName(c) +
                                " has no code in the General sort order of Access 97, so it cannot be written into an index");
        out.insert(out.end(), code->bytes, code->bytes + code->n);
        if (code->cls == Significant97) {
            ++plainLetters;
        } else if (code->cls == International97) {
            if (nibbles.empty()) nibbles.push_back(kAccentsBound);
            nibbles.insert(nibbles.end(), plainLetters, kNoAccentNibble);
            plainLetters = 0;
            nibbles.push_back(code->extra & 0x0F);
        }
    }
    if (nibbles.empty()) {
        out.push_back(kNoAccentsEnd);
        return out;
    }
    nibbles.push_back(kAccentsBound);
    if (nibbles.size() % 2) nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2) out.push_back(uint8_t(nibbles[i] << 4 | nibbles[i + 1]));
    return out;
}

// Access 97 "Turkish": the codes of the characters Access-made Turkish files
// show in their keys (the table names of their catalog). The keys hold no
// case: every letter seen in both cases has one code for both, as in the
// General order of Access 97, so a letter takes the code of its Turkish
// case partner (i and İ, ı and I). Other characters cannot be placed with
// certainty and are refused.
struct Turkish97Code {
    char16_t c;
    uint8_t code;
};
constexpr Turkish97Code kTurkish97[] = {
    {u'-', 0x13}, {u'0', 0x69}, {u'1', 0x6D}, {u'2', 0x6E}, {u'3', 0x6F}, {u'4', 0x70}, {u'5', 0x71}, {u'6', 0x72},
    {u'7', 0x73}, {u'8', 0x74}, {u'9', 0x75}, {u'A', 0x78}, {u'B', 0x7A}, {u'C', 0x7B}, {u'D', 0x7D}, {u'E', 0x7E},
    {u'F', 0x7F}, {u'I', 0x83}, {u'K', 0x86}, {u'M', 0x88}, {u'O', 0x8A}, {u'P', 0x8C}, {u'Q', 0x8D}, {u'R', 0x96},
    {u'S', 0x97}, {u'T', 0x99}, {u'U', 0x9C}, {u'a', 0x78}, {u'b', 0x7A}, {u'c', 0x7B}, {u'd', 0x7D}, {u'e', 0x7E},
    {u'f', 0x7F}, {u'g', 0x80}, {u'h', 0x82}, {u'i', 0x84}, {u'j', 0x85}, {u'l', 0x87}, {u'm', 0x88}, {u'n', 0x89},
    {u'o', 0x8A}, {u'p', 0x8C}, {u'r', 0x96}, {u's', 0x97}, {u't', 0x99}, {u'u', 0x9C}, {u'v', 0x9E}, {u'y', 0xA1},
    {u'{', 0x2D}, {u'}', 0x2F},
};

const Turkish97Code* findTurkish97(char16_t c)
{
    auto it = std::lower_bound(std::begin(kTurkish97), std::end(kTurkish97), c,
                               [](const Turkish97Code& t, char16_t v) { return t.c < v; });
    return it != std::end(kTurkish97) && it->c == c ? it : nullptr;
}

// The other case of a letter under the Turkish rules, or 0.
char16_t turkishCasePartner(char16_t c)
{
    switch (c) {
    case u'I': return u'\u0131';
    case u'\u0131': return u'I';
    case u'i': return u'\u0130';
    case u'\u0130': return u'i';
    }
    if (c >= u'A' && c <= u'Z') return char16_t(c - u'A' + u'a');
    if (c >= u'a' && c <= u'z') return char16_t(c - u'a' + u'A');
    return 0;
}

Result<std::vector<uint8_t>> turkish97Key(std::u16string_view text)
{
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        const Turkish97Code* it = findTurkish97(c);
        if (!it && turkishCasePartner(c)) it = findTurkish97(turkishCasePartner(c));
        if (!it)
            return notSupported("the character " + characterName(c) +
                                " has no known code in the Turkish sort order of Access 97, so it cannot be written into an index");
        out.push_back(it->code);
    }
    out.push_back(kNoAccentsEnd);
    return out;
}

Result<int64_t> integerOf(const Variant& v)
{
    switch (v.type()) {
    case VariantType::Boolean: return v.asBoolean() ? -1 : 0;
    case VariantType::Byte: return v.asByte();
    case VariantType::Integer: return v.asInteger();
    case VariantType::Long: return v.asLong();
    case VariantType::Currency: return v.asCurrency().ticks;
    default: return Status(ErrorCode::TypeMismatch, std::string("cannot index a ") + variantTypeName(v.type()) + " as a whole number");
    }
}

Result<double> doubleOf(const Variant& v)
{
    switch (v.type()) {
    case VariantType::Single: return double(v.asSingle());
    case VariantType::Double: return v.asDouble();
    case VariantType::Date: return v.asDate().serial;
    case VariantType::Byte: return double(v.asByte());
    case VariantType::Integer: return double(v.asInteger());
    case VariantType::Long: return double(v.asLong());
    default: return Status(ErrorCode::TypeMismatch, std::string("cannot index a ") + variantTypeName(v.type()) + " as a number");
    }
}

}  // namespace

constexpr uint16_t kLcidGeneral = 0x0409;
constexpr uint16_t kLcidTurkish = 0x041F;
constexpr uint16_t kCodePageWestern = 1252;
constexpr uint16_t kCodePageTurkish = 1254;

Result<TextCollation> collationFor(uint16_t lcid, uint8_t version, const JetFormat& format)
{
    if (format.isJet3()) {
        // Access 97 keys text by its byte in the code page; the tables fit
        // the code page the order was made for.
        if (lcid == kLcidGeneral && format.codePage == kCodePageWestern) return TextCollation::General97;
        if (lcid == kLcidTurkish && format.codePage == kCodePageTurkish) return TextCollation::Turkish97;
        return notSupported("text indexes in sort order " + std::to_string(lcid) + " of an Access 97 database in code page " +
                            std::to_string(format.codePage) +
                            " cannot be written; only General (1033, code page 1252) and Turkish (1055, code page 1254) are supported");
    }
    if (lcid == 0x0409 && version == 0) return TextCollation::GeneralLegacy;
    if (lcid == 0x0409 && version == 1) return TextCollation::General;
    if (lcid == 0x041F && version == 0) return TextCollation::Turkish;
    return notSupported("text indexes in sort order " + std::to_string(lcid) + " (version " + std::to_string(version) +
                        ") cannot be written; only General (1033) and Turkish (1055) are supported");
}

const char* collationName(TextCollation c)
{
    switch (c) {
    case TextCollation::GeneralLegacy: return "General Legacy";
    case TextCollation::General: return "General";
    case TextCollation::Turkish: return "Turkish";
    case TextCollation::General97: return "General (Access 97)";
    case TextCollation::Turkish97: return "Turkish (Access 97)";
    }
    return "?";
}

Result<std::vector<uint8_t>> textSortKey(std::u16string_view text, TextCollation collation)
{
    if (text.size() > kMaxKeyCharacters) text = text.substr(0, kMaxKeyCharacters);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    if (collation == TextCollation::General97) return general97Key(text);
    if (collation == TextCollation::Turkish97) return turkish97Key(text);

    const unsigned char* blob = collation == TextCollation::General ? kGeneralBlob : kGeneralLegacyBlob;
    const uint32_t* offsets = collation == TextCollation::General ? kGeneralOffsets : kGeneralLegacyOffsets;

    std::vector<uint8_t> inlineBytes, extra, unprint, crazy;
    inlineBytes.reserve(text.size() * 2 + 1);
    size_t covered = 0, pos = 0;
    int prefixMod = 0;
    bool started = false;

    auto feed = [&](const Entry& e) {
        size_t here = pos;
        if (e.cls != Unprintable && e.cls != Modifier && e.cls != Ignored && e.n > 0) {
            inlineBytes.insert(inlineBytes.end(), e.bytes, e.bytes + e.n);
            ++pos;
        }
        bool accents = e.cls == International || e.cls == Modifier || (e.cls == Crazy && e.hasExtra);
        if (accents) {
            started = true;
            if (covered < here) {
                extra.insert(extra.end(), here - covered, kNoAccent);
                covered = here;
            }
            if (e.cls != Modifier) {
                extra.push_back(e.extra);
                ++covered;
            } else if (!extra.empty()) {
                extra.back() = uint8_t(extra.back() + e.extra);
            } else {
                extra.push_back(e.extra);
                prefixMod = 1;
            }
        }
        if (e.cls == Unprintable) {
            size_t p = started ? extra.size() + (here - covered) - size_t(prefixMod) : here;
            unsigned v = 0x8000 | unsigned(7 + 4 * p);
            unprint.push_back(uint8_t(v >> 8));
            unprint.push_back(uint8_t(v));
            unprint.push_back(0x06);
            unprint.insert(unprint.end(), e.bytes, e.bytes + e.n);
        }
        if (e.cls == Crazy) crazy.push_back(e.flag);
    };

    for (char16_t c : text) {
        if (collation == TextCollation::Turkish) {
            Entry t[2];
            int count;
            if (turkishEntries(c, t, count)) {
                for (int i = 0; i < count; ++i) feed(t[i]);
                continue;
            }
        }
        Entry e = (c >= 0xD800 && c <= 0xDFFF) ? surrogate(c) : fromBlob(blob, offsets, c);
        if (e.cls == Ignored && c != 0) {
            // Code points the tables leave out: we cannot know where Jet
            // would put them, so no key is made rather than a wrong one.
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", unsigned(c));
            return notSupported(std::string("the character ") + hex + " has no code in the " + collationName(collation) +
                                " sort order, so it cannot be written into an index");
        }
        feed(e);
    }

    std::vector<uint8_t> out = std::move(inlineBytes);
    out.push_back(kTextInlineEnd);
    while (!extra.empty() && extra.back() <= kNoAccent) extra.pop_back();
    if (!extra.empty() || !unprint.empty() || !crazy.empty()) {
        out.insert(out.end(), extra.begin(), extra.end());
        if (!unprint.empty() || !crazy.empty()) {
            out.push_back(0x01);
            out.push_back(0x01);
            if (!crazy.empty()) {
                while (!crazy.empty() && crazy.back() == 3) crazy.pop_back();
                for (size_t i = 0; i < crazy.size(); i += 3) {
                    uint8_t f0 = crazy[i], f1 = i + 1 < crazy.size() ? crazy[i + 1] : 0,
                            f2 = i + 2 < crazy.size() ? crazy[i + 2] : 0;
                    out.push_back(uint8_t(0x80 | (f0 << 4) | (f1 << 2) | f2));
                }
                const uint8_t tail[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
                out.insert(out.end(), tail, tail + sizeof tail);
                if (!unprint.empty()) out.push_back(0xFF);
            }
            if (!unprint.empty()) {
                out.push_back(0x01);
                out.insert(out.end(), unprint.begin(), unprint.end());
            }
        }
    }
    return out;
}

Status appendColumnKey(std::vector<uint8_t>& out, const Variant& value, ColumnType type, bool ascending,
                       TextCollation collation)
{
    const bool desc = !ascending;
    if (type == ColumnType::Boolean) {
        bool v = !value.isNull() && value.type() == VariantType::Boolean ? value.asBoolean() : false;
        out.push_back(desc ? kFlagDescending : kFlagAscending);
        uint8_t b = v ? 0x00 : 0xFF;
        out.push_back(desc ? uint8_t(~b) : b);
        return Status::ok();
    }
    if (value.isNull()) {
        out.push_back(desc ? kFlagDescendingNull : kFlagAscendingNull);
        return Status::ok();
    }
    out.push_back(desc ? kFlagDescending : kFlagAscending);
    switch (type) {
    case ColumnType::Byte: {
        VK_ASSIGN_OR_RETURN(int64_t v, integerOf(value));
        uint8_t b = uint8_t(v);
        out.push_back(desc ? uint8_t(~b) : b);
        return Status::ok();
    }
    case ColumnType::Integer: {
        VK_ASSIGN_OR_RETURN(int64_t v, integerOf(value));
        appendSignedBE(out, uint64_t(v), 2, desc);
        return Status::ok();
    }
    case ColumnType::Long: {
        VK_ASSIGN_OR_RETURN(int64_t v, integerOf(value));
        appendSignedBE(out, uint64_t(v), 4, desc);
        return Status::ok();
    }
    case ColumnType::Currency: {
        VK_ASSIGN_OR_RETURN(int64_t v, integerOf(value));
        if (value.type() != VariantType::Currency) v *= 10000;
        appendSignedBE(out, uint64_t(v), 8, desc);
        return Status::ok();
    }
    case ColumnType::Single: {
        VK_ASSIGN_OR_RETURN(double d, doubleOf(value));
        float f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        appendFloatBE(out, bits, 4, desc);
        return Status::ok();
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        VK_ASSIGN_OR_RETURN(double d, doubleOf(value));
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        appendFloatBE(out, bits, 8, desc);
        return Status::ok();
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
        if (value.type() != VariantType::Text)
            return Status(ErrorCode::TypeMismatch, "a text index needs a text value");
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> key, textSortKey(value.asText(), collation));
        // Access 97 keys carry their own end and no mark after a descending one.
        const bool jet3 = collation == TextCollation::General97 || collation == TextCollation::Turkish97;
        if (!jet3) key.push_back(kTextKeyEnd);
        appendFlipped(out, key.data(), key.size(), desc);
        if (desc && !jet3) out.push_back(kTextKeyEnd);
        return Status::ok();
    }
    case ColumnType::Binary:
    case ColumnType::OLE:
    case ColumnType::Unknown0D: {
        if (value.type() != VariantType::Binary) return Status(ErrorCode::TypeMismatch, "a binary index needs bytes");
        const auto& b = value.asBinary();
        appendBinary(out, b.data(), b.size(), desc);
        return Status::ok();
    }
    case ColumnType::Guid: {
        if (value.type() != VariantType::Guid) return Status(ErrorCode::TypeMismatch, "a GUID index needs a GUID");
        const Guid& g = value.asGuid();
        // Display order: the first three groups are stored little-endian.
        uint8_t d[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6]};
        std::memcpy(d + 8, g.data() + 8, 8);
        appendBinary(out, d, 16, desc);
        return Status::ok();
    }
    case ColumnType::Numeric: {
        if (value.type() != VariantType::Decimal) return Status(ErrorCode::TypeMismatch, "a decimal index needs a decimal");
        const Decimal& dec = value.asDecimal();
        uint8_t mag[16];
        for (int i = 0; i < 16; ++i) mag[i] = uint8_t(dec.magnitude >> (8 * (15 - i)));
        bool negative = dec.negative && dec.magnitude != 0;
        out.push_back(negative ? 0x00 : 0xFF);
        appendFlipped(out, mag, 16, negative != desc);
        return Status::ok();
    }
    default:
        return notSupported(std::string("columns of type ") + std::string(columnTypeName(type)) + " cannot be indexed");
    }
}

}  // namespace varnika::jet

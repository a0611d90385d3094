#include "db/jet/table/property_block.h"

#include "db/column_type.h"
#include "db/jet/file/bytes.h"
#include "db/jet/page/text_codec.h"
#include "db/text.h"

#include <cstring>
#include <map>

namespace varnika::jet {

namespace {

// The layout of a block (see ../shared/docs for the catalog's LvProp).
namespace prop {
constexpr size_t kMagicSize = 4;
constexpr uint8_t kMagicJet4[kMagicSize] = {'M', 'R', '2', 0};
constexpr uint8_t kMagicJet3[kMagicSize] = {'K', 'K', 'D', 0};
// Every chunk: a 4-byte length (the header included) and a 2-byte kind.
constexpr size_t kChunkLength = 0;
constexpr size_t kChunkKind = 4;
constexpr size_t kChunkHeaderSize = 6;
constexpr uint16_t kKindNames = 0x0080;
constexpr uint16_t kKindTableValues = 0x0000;
constexpr uint16_t kKindColumnValues = 0x0001;
// A value chunk's body starts with its own header: a 4-byte length (itself
// included), then the object's name as a 2-byte byte count and UCS-2.
constexpr size_t kSetHeaderLength = 0;
constexpr size_t kSetNameLength = 4;
constexpr size_t kSetName = 6;
// Each entry: 2-byte length (itself included), flag, type, name number,
// 2-byte value length, value.
constexpr size_t kEntryLength = 0;
constexpr size_t kEntryDdl = 2;
constexpr size_t kEntryType = 3;
constexpr size_t kEntryNameNumber = 4;
constexpr size_t kEntryValueLength = 6;
constexpr size_t kEntryHeaderSize = 8;
}  // namespace prop

// Names and text: UTF-16 in a Jet 4 block, the code page in a Jet 3 one
// (codePage 0: Jet 4).
std::u16string decodeBlockText(std::span<const uint8_t> bytes, uint16_t codePage)
{
    return codePage ? decodeCodePageText(bytes, codePage) : decodeJetText(bytes);
}

Variant decodeValue(uint8_t typeCode, std::span<const uint8_t> v, uint16_t codePage)
{
    ByteReader r(v);
    auto exactly = [&](size_t n) { return v.size() == n; };
    switch (ColumnType(typeCode)) {
    case ColumnType::Boolean:
        if (exactly(1)) return Variant::boolean(v[0] != 0);
        break;
    case ColumnType::Byte:
        if (exactly(1)) return Variant::byte(v[0]);
        break;
    case ColumnType::Integer:
        if (exactly(2)) return Variant::integer(r.i16(0));
        break;
    case ColumnType::Long:
        if (exactly(4)) return Variant::longValue(r.i32(0));
        break;
    case ColumnType::Currency:
        if (exactly(8)) return Variant::currency(Currency{r.i64(0)});
        break;
    case ColumnType::Single:
        if (exactly(4)) return Variant::single(r.f32(0));
        break;
    case ColumnType::Double:
        if (exactly(8)) return Variant::doubleValue(r.f64(0));
        break;
    case ColumnType::DateTime:
        if (exactly(8)) return Variant::date(r.f64(0));
        break;
    case ColumnType::Text:
    case ColumnType::Memo:
        return Variant::text(decodeBlockText(v, codePage));
    case ColumnType::Guid:
        if (exactly(16)) {
            Guid g{};
            std::memcpy(g.data(), v.data(), g.size());
            return Variant::guid(g);
        }
        break;
    default:
        break;
    }
    // A size the type does not have, or a type without a decoding: the bytes.
    return Variant::binary(std::vector<uint8_t>(v.begin(), v.end()));
}

void putU16(std::vector<uint8_t>& out, size_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void putU32(std::vector<uint8_t>& out, size_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

template <typename T>
void putRaw(std::vector<uint8_t>& out, T value)
{
    uint8_t b[sizeof(T)];
    std::memcpy(b, &value, sizeof(T));
    out.insert(out.end(), b, b + sizeof(T));  // little-endian hosts only, as the rest of the engine
}

std::vector<uint8_t> ucs2(std::u16string_view text)
{
    std::vector<uint8_t> out;
    for (char16_t c : text) putU16(out, c);
    return out;
}

Result<std::vector<uint8_t>> encodeBlockText(std::u16string_view text, const JetFormat& format)
{
    if (format.unicodeText()) return ucs2(text);
    return encodeCodePageText(text, format.codePage);
}

Result<std::vector<uint8_t>> encodeValue(const Property& p, const JetFormat& format)
{
    std::vector<uint8_t> out;
    const Variant& v = p.value;
    switch (v.type()) {
    case VariantType::Boolean: out.push_back(v.asBoolean() ? 1 : 0); break;
    case VariantType::Byte: out.push_back(v.asByte()); break;
    case VariantType::Integer: putRaw(out, v.asInteger()); break;
    case VariantType::Long: putRaw(out, v.asLong()); break;
    case VariantType::Currency: putRaw(out, v.asCurrency().ticks); break;
    case VariantType::Single: putRaw(out, v.asSingle()); break;
    case VariantType::Double: putRaw(out, v.asDouble()); break;
    case VariantType::Date: putRaw(out, v.asDate().serial); break;
    case VariantType::Text: {
        VK_ASSIGN_OR_RETURN(out, encodeBlockText(v.asText(), format));
        break;
    }
    case VariantType::Binary: out = v.asBinary(); break;
    case VariantType::Guid: out.assign(v.asGuid().begin(), v.asGuid().end()); break;
    default: return invalidArgument("the property " + toUtf8(p.name) + " has a value that cannot be stored");
    }
    if (out.size() + prop::kEntryHeaderSize > 0xFFFF) return invalidArgument("the property " + toUtf8(p.name) + " is too long");
    return out;
}

}  // namespace

const Property* PropertySet::find(std::u16string_view name) const
{
    for (const Property& p : properties)
        if (equalsIgnoreCase(p.name, name)) return &p;
    return nullptr;
}

const PropertySet* PropertyBlock::find(std::u16string_view objectName) const
{
    for (const PropertySet& s : sets)
        if (equalsIgnoreCase(s.objectName, objectName)) return &s;
    return nullptr;
}

Result<PropertyBlock> parsePropertyBlock(std::span<const uint8_t> bytes, uint16_t codePage)
{
    PropertyBlock block;
    if (bytes.empty()) return block;
    const bool jet3 = bytes.size() >= prop::kMagicSize && std::memcmp(bytes.data(), prop::kMagicJet3, prop::kMagicSize) == 0;
    if (!jet3 && (bytes.size() < prop::kMagicSize || std::memcmp(bytes.data(), prop::kMagicJet4, prop::kMagicSize) != 0))
        return corruption("a property block does not start with its signature");
    const uint16_t textCodePage = jet3 ? codePage : 0;
    auto damaged = [](const std::string& what) { return corruption("the property block is damaged: " + what); };

    std::vector<std::u16string> names;
    ByteReader r(bytes);
    size_t at = prop::kMagicSize;
    while (at < bytes.size()) {
        const uint32_t length = r.u32(at + prop::kChunkLength);
        const uint16_t kind = r.u16(at + prop::kChunkKind);
        if (!r.ok() || length < prop::kChunkHeaderSize || length > bytes.size() - at)
            return damaged("a chunk runs past the end");
        std::span<const uint8_t> body = bytes.subspan(at + prop::kChunkHeaderSize, length - prop::kChunkHeaderSize);
        ByteReader b(body);
        if (kind == prop::kKindNames) {
            for (size_t p = 0; p < body.size();) {
                const uint16_t n = b.u16(p);
                if (!b.ok() || !b.has(p + 2, n)) return damaged("a property name runs past its chunk");
                names.push_back(decodeBlockText(body.subspan(p + 2, n), textCodePage));
                p += 2 + size_t(n);
            }
        } else if (kind == prop::kKindTableValues || kind == prop::kKindColumnValues) {
            const uint32_t headerLength = b.u32(prop::kSetHeaderLength);
            const uint16_t nameLength = b.u16(prop::kSetNameLength);
            if (!b.ok() || headerLength > body.size() || size_t(prop::kSetName) + nameLength > headerLength)
                return damaged("the header of a property set runs past its chunk");
            PropertySet set;
            set.objectName = decodeBlockText(body.subspan(prop::kSetName, nameLength), textCodePage);
            for (size_t p = headerLength; p < body.size();) {
                const uint16_t entryLength = b.u16(p + prop::kEntryLength);
                const uint16_t valueLength = b.u16(p + prop::kEntryValueLength);
                if (!b.ok() || entryLength < prop::kEntryHeaderSize || !b.has(p, entryLength) ||
                    size_t(prop::kEntryHeaderSize) + valueLength > entryLength)
                    return damaged("a property runs past its chunk");
                const uint16_t nameNumber = b.u16(p + prop::kEntryNameNumber);
                if (nameNumber >= names.size()) return damaged("a property refers to a name that is not listed");
                Property property;
                property.name = names[nameNumber];
                property.ddl = b.u8(p + prop::kEntryDdl) != 0;
                property.typeCode = b.u8(p + prop::kEntryType);
                property.value =
                    decodeValue(property.typeCode, body.subspan(p + prop::kEntryHeaderSize, valueLength), textCodePage);
                set.properties.push_back(std::move(property));
                p += entryLength;
            }
            block.sets.push_back(std::move(set));
        }
        // Chunks of other kinds carry nothing read here.
        at += length;
    }
    return block;
}

Result<std::vector<uint8_t>> buildPropertyBlock(const PropertyBlock& block, const JetFormat& format)
{
    std::vector<std::u16string> names;
    std::map<std::u16string, size_t> numbers;
    for (const PropertySet& s : block.sets)
        for (const Property& p : s.properties)
            if (numbers.emplace(p.name, names.size()).second) names.push_back(p.name);

    const uint8_t* magic = format.unicodeText() ? prop::kMagicJet4 : prop::kMagicJet3;
    std::vector<uint8_t> out(magic, magic + prop::kMagicSize);
    auto chunk = [&](uint16_t kind, const std::vector<uint8_t>& body) {
        putU32(out, prop::kChunkHeaderSize + body.size());
        putU16(out, kind);
        out.insert(out.end(), body.begin(), body.end());
    };
    std::vector<uint8_t> nameBody;
    for (const std::u16string& n : names) {
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> encoded, encodeBlockText(n, format));
        putU16(nameBody, encoded.size());
        nameBody.insert(nameBody.end(), encoded.begin(), encoded.end());
    }
    chunk(prop::kKindNames, nameBody);
    for (const PropertySet& s : block.sets) {
        std::vector<uint8_t> body;
        VK_ASSIGN_OR_RETURN(const std::vector<uint8_t> objectName, encodeBlockText(s.objectName, format));
        putU32(body, prop::kSetName + objectName.size());
        putU16(body, objectName.size());
        body.insert(body.end(), objectName.begin(), objectName.end());
        for (const Property& p : s.properties) {
            VK_ASSIGN_OR_RETURN(std::vector<uint8_t> value, encodeValue(p, format));
            putU16(body, prop::kEntryHeaderSize + value.size());
            body.push_back(p.ddl ? 1 : 0);
            body.push_back(p.typeCode);
            putU16(body, numbers.at(p.name));
            putU16(body, value.size());
            body.insert(body.end(), value.begin(), value.end());
        }
        chunk(s.objectName.empty() ? prop::kKindTableValues : prop::kKindColumnValues, body);
    }
    return out;
}

}  // namespace varnika::jet

#include "db/jet/table/row_codec.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/text_codec.h"
#include "db/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace varnika::jet {

namespace {

constexpr size_t kWordSize = 2;
constexpr size_t kDecimalSign = 0;
constexpr size_t kDecimalMagnitude = 1;
constexpr size_t kDecimalWords = 4;
constexpr uint8_t kDecimalNegative = 0x80;
constexpr size_t kGuidSize = 16;

size_t maskLength(size_t columns) { return (columns + 7) / 8; }

// Jet 3 rows keep each variable offset in one byte. A row longer than 256
// bytes adds a jump table: entry j names the first offset (the end offset
// counted last) at or past 256 * (j + 1), and each offset reached adds 256
// for every entry naming it. The entries lie between the offsets and the
// variable count, entry 0 nearest the count.
constexpr size_t kJumpSpan = 256;
constexpr uint8_t kUnusedJump = 0xFF;  // what Access 97 writes in an entry no offset reaches

size_t jumpEntries(size_t rowLength) { return rowLength == 0 ? 0 : (rowLength - 1) / kJumpSpan; }

Result<RowLayout> parseJet3VarTable(std::span<const uint8_t> row, RowLayout l, size_t fixedArea)
{
    ByteReader r(row);
    if (l.maskOffset < fixedArea + 1) return corruption("a row has no room for its variable-column count");
    l.varCount = r.u8(l.maskOffset - 1);
    const size_t jumps = jumpEntries(row.size());
    const size_t tableBytes = size_t(l.varCount) + 1 + jumps + 1;
    if (l.maskOffset < fixedArea + tableBytes) return corruption("a row has a variable-offset table larger than itself");
    const size_t firstOffsetAt = l.maskOffset - 1 - jumps - 1;
    l.varTableStart = firstOffsetAt - l.varCount;
    // Readers take the last entry for an unused one when the end offset
    // lies below its boundary.
    const size_t used = l.varTableStart / kJumpSpan < jumps ? jumps - 1 : jumps;
    l.varOffsets.resize(size_t(l.varCount) + 1);
    size_t consumed = 0;
    for (size_t i = 0; i <= l.varCount; ++i) {
        while (consumed < used && r.u8(l.maskOffset - 2 - consumed) == i) ++consumed;
        const size_t offset = r.u8(firstOffsetAt - i) + consumed * kJumpSpan;
        if (offset > UINT16_MAX) return corruption("a row has variable-column offsets out of order");
        l.varOffsets[i] = uint16_t(offset);
    }
    return l;
}

// The bytes after a Jet 3 row's variable data: the end offset and the
// offsets in reverse, the jump table, the variable count (`offsets` are the
// var data offsets with the end last; `tail` is the null mask's length).
Result<std::vector<uint8_t>> jet3VarTable(const std::vector<size_t>& offsets, size_t tail)
{
    const size_t varCount = offsets.size() - 1;
    const size_t end = offsets.back();
    // The row's length decides how many entries there are, and they are part of it.
    size_t jumps = 0;
    for (;;) {
        const size_t length = end + offsets.size() + jumps + 1 + tail;
        if (jumpEntries(length) == jumps) break;
        jumps = jumpEntries(length);
    }
    // Readers recognise one unused entry at most (the last).
    if (jumps > end / kJumpSpan + 1)
        return invalidArgument("the record has too many fields for an Access 97 row of " + std::to_string(end) + " bytes");
    std::vector<uint8_t> out;
    out.reserve(offsets.size() + jumps + 1);
    for (size_t i = offsets.size(); i-- > 0;) out.push_back(uint8_t(offsets[i] % kJumpSpan));
    std::vector<uint8_t> entries(jumps, kUnusedJump);
    for (size_t j = 0; j < jumps; ++j)
        for (size_t i = 0; i < offsets.size(); ++i)
            if (offsets[i] >= kJumpSpan * (j + 1)) {
                entries[j] = uint8_t(i);
                break;
            }
    for (size_t j = jumps; j-- > 0;) out.push_back(entries[j]);
    out.push_back(uint8_t(varCount));
    return out;
}

// Text of a column as stored: UTF-16 (Jet 4) or the column's code page.
std::u16string decodeColumnText(const ColumnDef& c, std::span<const uint8_t> bytes)
{
    return c.singleByteText() ? decodeCodePageText(bytes, c.codePage) : decodeJetText(bytes);
}

// Text of a column as stored, appended to `out`.
Status appendColumnText(const ColumnDef& c, std::u16string_view text, bool allowCompression, std::vector<uint8_t>& out)
{
    if (!c.singleByteText()) {
        appendJetText(text, allowCompression, out);
        return Status::ok();
    }
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, encodeCodePageText(text, c.codePage));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return Status::ok();
}

Result<std::vector<uint8_t>> encodeColumnText(const ColumnDef& c, std::u16string_view text, bool allowCompression)
{
    std::vector<uint8_t> out;
    VK_RETURN_IF_ERROR(appendColumnText(c, text, allowCompression, out));
    return out;
}

bool maskBit(std::span<const uint8_t> row, const RowLayout& l, uint16_t number)
{
    size_t byte = l.maskOffset + number / 8;
    return byte < row.size() && (row[byte] >> (number % 8)) & 1;
}

std::string columnText(const ColumnDef& c) { return "column \"" + toUtf8(c.name) + "\""; }

Variant decodeFixed(const ColumnDef& c, ByteReader& r, size_t at)
{
    switch (c.type()) {
    case ColumnType::Byte: return Variant::byte(r.u8(at));
    case ColumnType::Integer: return Variant::integer(r.i16(at));
    case ColumnType::Long: return Variant::longValue(r.i32(at));
    case ColumnType::Currency: return Variant::currency(Currency{r.i64(at)});
    case ColumnType::Single: return Variant::single(r.f32(at));
    case ColumnType::Double: return Variant::doubleValue(r.f64(at));
    case ColumnType::DateTime: return Variant::date(r.f64(at));
    case ColumnType::Guid: {
        Guid g{};
        auto b = r.bytes(at, kGuidSize);
        if (!b.empty()) std::memcpy(g.data(), b.data(), kGuidSize);
        return Variant::guid(g);
    }
    case ColumnType::Numeric: {
        Decimal d;
        d.negative = (r.u8(at + kDecimalSign) & kDecimalNegative) != 0;
        for (size_t w = 0; w < kDecimalWords; ++w) d.magnitude = (d.magnitude << 32) | r.u32(at + kDecimalMagnitude + 4 * w);
        d.precision = c.precision();
        d.scale = c.scale();
        return Variant::decimal(d);
    }
    default: return Variant();
    }
}

}  // namespace

Result<Decimal> decimalForColumn(const ColumnDef& c, Decimal d)
{
    constexpr uint8_t kMaxDigits = 28;
    auto powerOfTen = [](unsigned n) {
        unsigned __int128 p = 1;
        while (n--) p *= 10;
        return p;
    };
    const uint8_t precision = std::min(c.precision() ? c.precision() : kMaxDigits, kMaxDigits);
    const uint8_t scale = std::min(c.scale(), precision);
    const unsigned __int128 limit = powerOfTen(precision);
    constexpr unsigned kMaxPowerOfTen = 38;  // the largest that fits 128 bits
    if (d.scale - scale > int(kMaxPowerOfTen)) {
        d.magnitude = 0;  // below half of the last place kept
    } else if (d.scale > scale) {
        const unsigned __int128 divisor = powerOfTen(unsigned(d.scale - scale));
        const unsigned __int128 rest = d.magnitude % divisor;
        d.magnitude /= divisor;
        if (rest >= divisor - rest) ++d.magnitude;
    }
    for (; d.scale < scale; ++d.scale) {
        if (d.magnitude >= limit) break;
        d.magnitude *= 10;
    }
    if (d.magnitude >= limit)
        return invalidArgument(columnText(c) + " holds at most " + std::to_string(precision) + " digits, " +
                               std::to_string(scale) + " of them after the decimal point");
    d.scale = scale;
    d.precision = precision;
    return d;
}

namespace {

Status encodeFixed(const ColumnDef& c, const Variant& v, uint8_t* p)
{
    auto mismatch = [&] {
        return Status(ErrorCode::TypeMismatch, columnText(c) + " cannot hold a " + variantTypeName(v.type()) + " value");
    };
    switch (c.type()) {
    case ColumnType::Byte:
        if (v.type() != VariantType::Byte) return mismatch();
        putU8(p, 0, v.asByte());
        return Status::ok();
    case ColumnType::Integer:
        if (v.type() != VariantType::Integer) return mismatch();
        putU16(p, 0, uint16_t(v.asInteger()));
        return Status::ok();
    case ColumnType::Long:
        if (v.type() != VariantType::Long) return mismatch();
        putU32(p, 0, uint32_t(v.asLong()));
        return Status::ok();
    case ColumnType::Currency:
        if (v.type() != VariantType::Currency) return mismatch();
        putU64(p, 0, uint64_t(v.asCurrency().ticks));
        return Status::ok();
    case ColumnType::Single: {
        if (v.type() != VariantType::Single) return mismatch();
        float f = v.asSingle();
        uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        putU32(p, 0, b);
        return Status::ok();
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        double d;
        if (c.type() == ColumnType::Double && v.type() == VariantType::Double) d = v.asDouble();
        else if (c.type() == ColumnType::DateTime && v.type() == VariantType::Date) d = v.asDate().serial;
        else return mismatch();
        uint64_t b;
        std::memcpy(&b, &d, sizeof b);
        putU64(p, 0, b);
        return Status::ok();
    }
    case ColumnType::Guid:
        if (v.type() != VariantType::Guid) return mismatch();
        std::memcpy(p, v.asGuid().data(), kGuidSize);
        return Status::ok();
    case ColumnType::Numeric: {
        if (v.type() != VariantType::Decimal) return mismatch();
        VK_ASSIGN_OR_RETURN(Decimal d, decimalForColumn(c, v.asDecimal()));
        putU8(p, kDecimalSign, d.negative && d.magnitude != 0 ? kDecimalNegative : 0);
        for (size_t w = 0; w < kDecimalWords; ++w)
            putU32(p, kDecimalMagnitude + 4 * w, uint32_t(d.magnitude >> (32 * (kDecimalWords - 1 - w))));
        return Status::ok();
    }
    default: return mismatch();
    }
}

}  // namespace

Result<RowLayout> parseRowLayout(const TableDef& def, std::span<const uint8_t> row)
{
    const JetFormat::Row& f = def.format().row;
    ByteReader r(row);
    RowLayout l;
    l.columnCount = f.countSize == 1 ? r.u8(row::kColumnCount) : r.u16(row::kColumnCount);
    if (!r.ok() || l.columnCount == 0) return corruption("a row is too short to hold its column count");
    size_t mlen = maskLength(l.columnCount);
    if (row.size() < f.fixedArea + mlen) return corruption("a row is too short for its " + std::to_string(l.columnCount) + " columns");
    l.maskOffset = row.size() - mlen;
    if (def.varColumnCount() == 0) {
        l.varTableStart = l.maskOffset;
        l.varOffsets.resize(1);
        l.varOffsets[0] = uint16_t(l.maskOffset);
        l.fixedEnd = l.varTableStart;
        return l;
    }
    if (f.offsetSize == 1) {
        VK_ASSIGN_OR_RETURN(l, parseJet3VarTable(row, std::move(l), f.fixedArea));
        // Only the slots of live columns need to be in order (fieldBytes
        // checks each): Access leaves the slots of deleted columns as they
        // fall, even ending before they start.
        for (uint16_t off : l.varOffsets)
            if (off < f.fixedArea || off > l.varTableStart)
                return corruption("a row has a variable-column offset outside the row");
    } else {
        if (l.maskOffset < f.fixedArea + kWordSize) return corruption("a row has no room for its variable-column count");
        l.varCount = r.u16(l.maskOffset - kWordSize);
        size_t tableBytes = kWordSize * (size_t(l.varCount) + 2);
        if (l.maskOffset < f.fixedArea + tableBytes) return corruption("a row has a variable-offset table larger than itself");
        l.varTableStart = l.maskOffset - tableBytes;
        l.varOffsets.resize(size_t(l.varCount) + 1);
        // The whole table lies inside the row (checked above): its words
        // are read without a check each. They run backwards from the mask,
        // the end of the data last.
        const uint8_t* word = row.data() + l.maskOffset - 2 * kWordSize;
        bool inside = true;
        for (size_t k = 0; k <= l.varCount; ++k, word -= kWordSize) {
            const uint16_t off = uint16_t(word[0] | (word[1] << 8));
            l.varOffsets[k] = off;
            inside &= off >= f.fixedArea && off <= l.varTableStart;  // in any order, as above
        }
        if (!inside) return corruption("a row has a variable-column offset outside the row");
    }
    l.fixedEnd = l.varOffsets.back();
    for (const ColumnDef& c : def.columns())
        if (c.isVariable() && c.varIndex < l.varCount) l.fixedEnd = std::min<size_t>(l.fixedEnd, l.varOffsets[c.varIndex]);
    return l;
}

Result<FieldBytes> fieldBytes(const TableDef& def, const RowLayout& l, std::span<const uint8_t> row, int columnIndex)
{
    const ColumnDef& c = def.columns()[size_t(columnIndex)];
    FieldBytes out;
    if (c.number >= l.columnCount || c.isBoolean()) return out;
    if (c.isVariable()) {
        if (c.varIndex >= l.varCount || !maskBit(row, l, c.number)) return out;
        const uint16_t start = l.varOffsets[c.varIndex], end = l.varOffsets[c.varIndex + 1u];
        if (end < start) return corruption(columnText(c) + " has variable-column offsets out of order");
        out.present = true;
        out.bytes = row.subspan(start, size_t(end - start));
        return out;
    }
    if (!maskBit(row, l, c.number)) return out;
    size_t at = def.format().row.fixedArea + c.fixedOffset;
    size_t size = c.fixedWidth();
    if (at + size > l.fixedEnd) return corruption(columnText(c) + " lies outside the row's fixed area");
    out.present = true;
    out.bytes = row.subspan(at, size);
    return out;
}

Result<Variant> decodeColumn(const TableDef& def, const RowLayout& l, std::span<const uint8_t> row, int columnIndex,
                             LongValueSource* longValues)
{
    const ColumnDef& c = def.columns()[size_t(columnIndex)];
    if (c.isBoolean()) return Variant::boolean(c.number < l.columnCount && maskBit(row, l, c.number));
    VK_ASSIGN_OR_RETURN(FieldBytes f, fieldBytes(def, l, row, columnIndex));
    if (!f.present) return Variant();
    switch (c.type()) {
    case ColumnType::Text: return Variant::text(decodeColumnText(c, f.bytes));
    case ColumnType::Binary:
    case ColumnType::Unknown0D: return Variant::binary(std::vector<uint8_t>(f.bytes.begin(), f.bytes.end()));
    case ColumnType::Memo:
    case ColumnType::OLE: {
        if (f.bytes.empty()) return Variant();  // an old-style empty long value
        std::vector<uint8_t> data;
        ByteReader h(f.bytes);
        uint32_t word = h.u32(longvalue::kLengthAndKind);
        if (!h.ok() || f.bytes.size() < longvalue::kHeaderSize)
            return corruption(columnText(c) + " has a long-value header that is cut short");
        if ((word & longvalue::kKindMask) == longvalue::kKindInline) {
            auto inl = h.bytes(longvalue::kHeaderSize, word & longvalue::kLengthMask);
            if (!h.ok()) return corruption(columnText(c) + " has inline data longer than its field");
            data.assign(inl.begin(), inl.end());
        } else {
            if (!longValues) return notSupported(columnText(c) + " stores its data outside the row");
            VK_ASSIGN_OR_RETURN(data, longValues->readLongValue(f.bytes));
        }
        if (c.type() == ColumnType::Memo) return Variant::text(decodeColumnText(c, data));
        return Variant::binary(std::move(data));
    }
    default: {
        // A number stored in the variable part has the bytes of its fixed
        // form, no more and no fewer.
        if (c.isVariable() && f.bytes.size() != size_t(fixedSize(c.type())))
            return corruption(columnText(c) + " holds " + std::to_string(f.bytes.size()) + " bytes where a " +
                              std::string(columnTypeName(c.type())) + " value has " +
                              std::to_string(fixedSize(c.type())));
        ByteReader r(f.bytes);
        return decodeFixed(c, r, 0);
    }
    }
}

Status decodeColumnInto(const TableDef& def, const RowLayout& l, std::span<const uint8_t> row, int columnIndex,
                        LongValueSource* longValues, Variant& out)
{
    const ColumnDef& c = def.columns()[size_t(columnIndex)];
    if (c.type() == ColumnType::Text && !c.singleByteText()) {
        VK_ASSIGN_OR_RETURN(FieldBytes f, fieldBytes(def, l, row, columnIndex));
        if (!f.present) {
            out = Variant();
        } else {
            decodeJetTextInto(f.bytes, out.setText());
        }
        return Status::ok();
    }
    VK_ASSIGN_OR_RETURN(out, decodeColumn(def, l, row, columnIndex, longValues));
    return Status::ok();
}

namespace {

// checkColumn once the field's bytes are found.
Status checkFieldBytes(const TableDef& def, const RowLayout& l, std::span<const uint8_t> row, int columnIndex,
                       const FieldBytes& f)
{
    const ColumnDef& c = def.columns()[size_t(columnIndex)];
    if (!f.present) return Status::ok();
    switch (c.type()) {
    case ColumnType::Text:
    case ColumnType::Binary:
    case ColumnType::Unknown0D:
    case ColumnType::Memo:
    case ColumnType::OLE: return Status::ok();
    default:
        if (c.isVariable() && f.bytes.size() != size_t(fixedSize(c.type())))
            return decodeColumn(def, l, row, columnIndex, nullptr).status();
        return Status::ok();
    }
}

}  // namespace

Status checkColumn(const TableDef& def, const RowLayout& l, std::span<const uint8_t> row, int columnIndex)
{
    if (def.columns()[size_t(columnIndex)].isBoolean()) return Status::ok();
    VK_ASSIGN_OR_RETURN(FieldBytes f, fieldBytes(def, l, row, columnIndex));
    return checkFieldBytes(def, l, row, columnIndex, f);
}

Result<std::vector<Variant>> decodeRow(const TableDef& def, std::span<const uint8_t> row, LongValueSource* longValues)
{
    VK_ASSIGN_OR_RETURN(RowLayout l, parseRowLayout(def, row));
    std::vector<Variant> values(def.columns().size());
    for (size_t i = 0; i < values.size(); ++i) {
        VK_ASSIGN_OR_RETURN(values[i], decodeColumn(def, l, row, int(i), longValues));
    }
    return values;
}

namespace {
// The columns a row being changed keeps: their stored bytes are copied
// from the row as it is.
struct KeptColumns {
    std::span<const uint8_t> row;
    const RowLayout* layout = nullptr;
    std::span<const std::pair<int, Variant>> changes;
    // The new value of column `i` (the last change of it), or null when the
    // column is kept.
    const Variant* changeOf(size_t i) const
    {
        for (size_t k = changes.size(); k-- > 0;)
            if (size_t(changes[k].first) == i) return &changes[k].second;
        return nullptr;
    }
};
Result<std::vector<uint8_t>> encodeRowWith(const TableDef& def, std::span<const Variant> values,
                                           const std::map<int, std::vector<uint8_t>>* longValueBytes,
                                           const KeptColumns* kept = nullptr);
}  // namespace

Result<std::vector<uint8_t>> encodeRow(const TableDef& def, std::span<const Variant> values)
{
    return encodeRowWith(def, values, nullptr);
}

Result<std::vector<uint8_t>> encodeRow(const TableDef& def, std::span<const Variant> values,
                                       const std::map<int, std::vector<uint8_t>>& longValueBytes)
{
    return encodeRowWith(def, values, &longValueBytes);
}

namespace {

// Room for the variable data of a new row before it grows.
constexpr size_t kNewRowVarBytes = 256;
// A row is encoded for every record a run writes: the null mask and the
// variable columns' stretches of most tables fit in place.
constexpr size_t kMaskBytesInPlace = 32;   // 256 columns
constexpr size_t kStretchesInPlace = 32;

Result<std::vector<uint8_t>> encodeRowWith(const TableDef& def, std::span<const Variant> values,
                                           const std::map<int, std::vector<uint8_t>>* longValueBytes,
                                           const KeptColumns* kept)
{
    const auto& columns = def.columns();
    if (!kept && values.size() != columns.size())
        return invalidArgument("a row needs " + std::to_string(columns.size()) + " values, not " + std::to_string(values.size()));
    const JetFormat::Row& f = def.format().row;
    const size_t ncols = def.maxColumns();
    const size_t fixedArea = def.fixedAreaSize();
    std::vector<uint8_t> out;
    // About what the row will take: a changed row about what it took; the
    // offsets, the mask and the data go on below without moving it again.
    out.reserve(f.fixedArea + fixedArea + kWordSize * (def.varColumnCount() + 2) + maskLength(ncols) +
                (kept ? kept->row.size() : kNewRowVarBytes));
    out.resize(f.fixedArea + fixedArea, 0);
    InPlaceOrHeap<uint8_t, kMaskBytesInPlace> mask(maskLength(ncols));
    // The variable columns' bytes, each a stretch of one buffer, go into
    // the row in variable-column order once every column is encoded.
    struct Stretch {
        size_t at = 0;
        size_t size = 0;
    };
    InPlaceOrHeap<Stretch, kStretchesInPlace> varData(def.varColumnCount());
    std::vector<uint8_t> varBytes;
    varBytes.reserve(kept ? kept->row.size() : kNewRowVarBytes);  // about what a row holds
    auto putVar = [&](uint16_t varIndex, std::span<const uint8_t> bytes) {
        varData[varIndex] = {varBytes.size(), bytes.size()};
        varBytes.insert(varBytes.end(), bytes.begin(), bytes.end());
    };
    if (f.countSize == 1) {
        if (ncols > UINT8_MAX) return invalidArgument("an Access 97 row holds at most 255 columns");
        putU8(out.data(), row::kColumnCount, uint8_t(ncols));
    } else {
        putU16(out.data(), row::kColumnCount, uint16_t(ncols));
    }

    for (size_t i = 0; i < columns.size(); ++i) {
        const ColumnDef& c = columns[i];
        const Variant* changedTo = kept ? kept->changeOf(i) : &values[i];
        auto setBit = [&] { mask[c.number / 8] |= uint8_t(1u << (c.number % 8)); };
        if (!changedTo) {
            // Kept as stored, once it is known to read as a value would.
            if (c.isBoolean()) {
                if (c.number < kept->layout->columnCount && maskBit(kept->row, *kept->layout, c.number)) setBit();
                continue;
            }
            VK_ASSIGN_OR_RETURN(FieldBytes field, fieldBytes(def, *kept->layout, kept->row, int(i)));
            if (!field.present) continue;
            VK_RETURN_IF_ERROR(checkFieldBytes(def, *kept->layout, kept->row, int(i), field));
            if (c.isVariable()) putVar(c.varIndex, field.bytes);
            else std::copy(field.bytes.begin(), field.bytes.end(), out.begin() + long(f.fixedArea + c.fixedOffset));
            setBit();
            continue;
        }
        const Variant& v = *changedTo;
        if (longValueBytes && isLongValueType(c.type()) && !c.isFixed()) {
            auto it = longValueBytes->find(int(i));
            if (it == longValueBytes->end()) continue;
            if (it->second.size() < longvalue::kHeaderSize) return invalidArgument(columnText(c) + " needs its long-value field bytes");
            putVar(c.varIndex, it->second);
            setBit();
            continue;
        }
        if (c.isBoolean()) {
            if (v.isNull()) continue;
            if (v.type() != VariantType::Boolean)
                return Status(ErrorCode::TypeMismatch, columnText(c) + " cannot hold a " + variantTypeName(v.type()) + " value");
            if (v.asBoolean()) setBit();
            continue;
        }
        if (v.isNull()) continue;
        if (c.isFixed() && isVariableType(c.type())) {
            // Fixed-length Text is stored plain and padded with spaces;
            // fixed-length Binary is padded with zeros.
            std::vector<uint8_t> bytes;
            if (c.type() == ColumnType::Text && v.type() == VariantType::Text) {
                VK_ASSIGN_OR_RETURN(bytes, encodeColumnText(c, v.asText(), false));
                if (c.singleByteText()) {
                    while (bytes.size() < c.fixedWidth()) bytes.push_back(' ');
                } else {
                    while (bytes.size() + 2 <= c.fixedWidth()) { bytes.push_back(' '); bytes.push_back(0); }
                }
            } else if (c.type() != ColumnType::Text && v.type() == VariantType::Binary) {
                bytes = v.asBinary();
            } else {
                return Status(ErrorCode::TypeMismatch, columnText(c) + " cannot hold a " + variantTypeName(v.type()) + " value");
            }
            if (bytes.size() > c.fixedWidth()) return invalidArgument(columnText(c) + " is too long for its fixed length");
            std::copy(bytes.begin(), bytes.end(), out.begin() + long(f.fixedArea + c.fixedOffset));
            setBit();
            continue;
        }
        if (c.isFixed()) {
            VK_RETURN_IF_ERROR(encodeFixed(c, v, out.data() + f.fixedArea + c.fixedOffset));
            setBit();
            continue;
        }
        const size_t at = varBytes.size();
        switch (c.type()) {
        case ColumnType::Text: {
            if (v.type() != VariantType::Text)
                return Status(ErrorCode::TypeMismatch, columnText(c) + " cannot hold a " + variantTypeName(v.type()) + " value");
            if (v.asText().size() > size_t(c.displaySize()))
                return invalidArgument(columnText(c) + " holds at most " + std::to_string(c.displaySize()) + " characters");
            VK_RETURN_IF_ERROR(appendColumnText(c, v.asText(), c.allowsCompression(), varBytes));
            break;
        }
        case ColumnType::Binary:
        case ColumnType::Unknown0D:
            if (v.type() != VariantType::Binary)
                return Status(ErrorCode::TypeMismatch, columnText(c) + " cannot hold a " + variantTypeName(v.type()) + " value");
            if (v.asBinary().size() > c.length)
                return invalidArgument(columnText(c) + " holds at most " + std::to_string(c.length) + " bytes");
            varBytes.insert(varBytes.end(), v.asBinary().begin(), v.asBinary().end());
            break;
        case ColumnType::Memo:
        case ColumnType::OLE:
            if (v.type() != VariantType::Binary || v.asBinary().size() < longvalue::kHeaderSize)
                return invalidArgument(columnText(c) + " needs its long-value field bytes");
            varBytes.insert(varBytes.end(), v.asBinary().begin(), v.asBinary().end());
            break;
        default:
            // A number the table stores as a variable-length value: the
            // bytes of its fixed form.
            if (fixedSize(c.type()) == 0) return invalidArgument(columnText(c) + " has an unexpected layout");
            varBytes.resize(at + size_t(fixedSize(c.type())), 0);
            VK_RETURN_IF_ERROR(encodeFixed(c, v, varBytes.data() + at));
            break;
        }
        varData[c.varIndex] = {at, varBytes.size() - at};
        setBit();
    }

    if (!varData.empty() && f.offsetSize == 1) {
        std::vector<size_t> offsets;
        offsets.reserve(varData.size() + 1);
        for (const Stretch& d : varData) {
            offsets.push_back(out.size());
            out.insert(out.end(), varBytes.begin() + long(d.at), varBytes.begin() + long(d.at + d.size));
        }
        offsets.push_back(out.size());
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> table, jet3VarTable(offsets, mask.size()));
        out.insert(out.end(), table.begin(), table.end());
    } else if (!varData.empty()) {
        // The data, then the offsets from the end of the data (eod) back
        // to the first column's, then their count.
        const size_t dataStart = out.size();
        size_t total = 0;
        for (const Stretch& d : varData) total += d.size;
        out.reserve(dataStart + total + kWordSize * (varData.size() + 2) + mask.size());
        for (const Stretch& d : varData)
            out.insert(out.end(), varBytes.begin() + long(d.at), varBytes.begin() + long(d.at + d.size));
        size_t at = out.size();
        out.resize(at + kWordSize * (varData.size() + 2));
        size_t offset = dataStart + total;
        putU16(out.data(), at, uint16_t(std::min<size_t>(offset, UINT16_MAX)));  // eod
        at += kWordSize;
        for (size_t k = varData.size(); k-- > 0;) {
            offset -= varData[k].size;
            putU16(out.data(), at, uint16_t(std::min<size_t>(offset, UINT16_MAX)));
            at += kWordSize;
        }
        putU16(out.data(), at, uint16_t(varData.size()));
    }
    out.insert(out.end(), mask.begin(), mask.end());
    if (out.size() > f.maxSize)
        return invalidArgument("the record is too large: " + std::to_string(out.size()) + " bytes, at most " +
                               std::to_string(f.maxSize));
    return out;
}

}  // namespace

Result<std::vector<uint8_t>> encodeRowChanged(const TableDef& def, std::span<const uint8_t> row,
                                              std::span<const std::pair<int, Variant>> changes)
{
    const size_t count = def.columns().size();
    for (const auto& change : changes) {
        const int col = change.first;
        if (col < 0 || size_t(col) >= count) return invalidArgument("no column " + std::to_string(col) + " to change");
        if (isLongValueType(def.columns()[size_t(col)].type()))
            return invalidArgument(columnText(def.columns()[size_t(col)]) + " holds a long value: its record is encoded whole");
    }
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(def, row));
    const KeptColumns kept{row, &layout, changes};
    return encodeRowWith(def, {}, nullptr, &kept);
}

size_t encodedVarDataEnd(const TableDef& def, size_t rowSize)
{
    const size_t nvar = def.varColumnCount();
    const size_t tail = maskLength(def.maxColumns()) + (nvar > 0 ? kWordSize * (nvar + 2) : 0);
    return rowSize >= tail ? rowSize - tail : 0;
}

Result<std::vector<uint8_t>> encodeInlineLongValue(std::span<const uint8_t> data)
{
    if (data.size() > longvalue::kMaxInline) return invalidArgument("a long value is too long to store in the row");
    std::vector<uint8_t> out(longvalue::kHeaderSize, 0);
    putU32(out.data(), longvalue::kLengthAndKind, uint32_t(data.size()) | longvalue::kKindInline);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Result<std::vector<uint8_t>> memoBytes(const ColumnDef& column, std::u16string_view text)
{
    return encodeColumnText(column, text, column.allowsCompression());
}

}  // namespace varnika::jet

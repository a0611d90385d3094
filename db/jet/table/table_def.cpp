#include "db/jet/table/table_def.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/text_codec.h"
#include "db/text.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace varnika::jet {

namespace {

constexpr size_t kNameLengthSize = 2;
constexpr size_t kLongValueMapEndSize = 2;
constexpr size_t kContinuationPayload = kPageSize - tdef::kPageHeaderSize;

std::string pageText(uint32_t page) { return "table definition at page " + std::to_string(page); }

// Reads a u16-length-prefixed name at `pos`, advancing it.
bool readName(ByteReader& r, size_t& pos, std::u16string& name, std::vector<uint8_t>& raw)
{
    size_t length = r.u16(pos);
    auto bytes = r.bytes(pos + kNameLengthSize, length);
    if (!r.ok() || length > tdef::kMaxNameCharacters * 2 + 2) return false;
    raw.assign(bytes.begin(), bytes.end());
    name = decodeName(bytes);
    pos += kNameLengthSize + length;
    return !name.empty();
}

void appendName(std::vector<uint8_t>& out, const std::u16string& name, const std::vector<uint8_t>& raw)
{
    std::vector<uint8_t> bytes = decodeName(raw) == name ? raw : encodeName(name);
    std::array<uint8_t, kNameLengthSize> length{};
    putU16(length.data(), 0, uint16_t(bytes.size()));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), bytes.begin(), bytes.end());
}

template <size_t N>
void appendRaw(std::vector<uint8_t>& out, const std::array<uint8_t, N>& raw)
{
    out.insert(out.end(), raw.begin(), raw.end());
}

std::vector<RealIndexColumn> keyColumnsOf(const std::array<uint8_t, tdef::kRealIndexSize>& raw)
{
    std::vector<RealIndexColumn> out;
    ByteReader d(raw.data(), raw.size());
    for (size_t s = 0; s < tdef::kRealIdxColumnSlots; ++s) {
        size_t at = tdef::kRealIdxColumns + s * tdef::kRealIdxColumnSlotSize;
        uint16_t number = d.u16(at);
        if (number == tdef::kRealIdxUnusedColumn) continue;
        out.push_back({number, d.u8(at + 2) == tdef::kRealIdxAscending});
    }
    return out;
}

}  // namespace

std::u16string decodeName(std::span<const uint8_t> bytes) { return decodeJetText(bytes); }

std::vector<uint8_t> encodeName(std::u16string_view name) { return encodeJetText(name, false); }

int ColumnDef::displaySize() const
{
    switch (type()) {
    case ColumnType::Text: return length / 2;
    case ColumnType::Binary:
    case ColumnType::Unknown0D: return length;
    case ColumnType::Memo:
    case ColumnType::OLE: return 0;
    case ColumnType::Boolean: return 1;
    default: return fixedSize(type());
    }
}

size_t ColumnDef::fixedWidth() const
{
    if (!isFixed() || isBoolean()) return 0;
    return isVariableType(type()) ? length : size_t(fixedSize(type()));
}

Result<TableDef> TableDef::read(Pager& pager, uint32_t firstPage, bool structureOnly)
{
    std::vector<uint8_t> buffer;
    std::vector<uint32_t> pages;
    std::set<uint32_t> seen;
    uint32_t page = firstPage;
    while (true) {
        if (!seen.insert(page).second) return corruption(pageText(firstPage) + " has a page chain that loops");
        if (page == 0 || page >= pager.pageCount())
            return corruption(pageText(firstPage) + " continues on page " + std::to_string(page) +
                              ", which is not in the file");
        VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(page));
        ByteReader r(ref->data(), ref->size());
        if (r.u8(page::kType) != uint8_t(PageType::TableDefinition))
            return corruption(pageText(firstPage) + ": page " + std::to_string(page) + " is not a table definition page");
        if (pages.empty()) buffer.assign(ref->begin(), ref->end());
        else buffer.insert(buffer.end(), ref->begin() + tdef::kPageHeaderSize, ref->end());
        pages.push_back(page);
        uint32_t next = r.u32(tdef::kNextPage);
        if (next == 0) break;
        ByteReader head(buffer.data(), buffer.size());
        // A sound chain is no longer than its stated length needs.
        if (pages.size() >= pagesNeeded(head.u32(tdef::kLength)))
            return corruption(pageText(firstPage) + " has more pages than its length needs");
        page = next;
    }
    return parse(buffer, std::move(pages), structureOnly);
}

Result<TableDef> TableDef::parse(std::span<const uint8_t> buffer, std::vector<uint32_t> pages, bool structureOnly)
{
    const uint32_t first = pages.empty() ? 0 : pages.front();
    const std::string where = pageText(first);
    ByteReader all(buffer);
    size_t length = all.u32(tdef::kLength);
    if (!all.ok() || length < tdef::kVariablePart + kLongValueMapEndSize || length > buffer.size())
        return corruption(where + " has an impossible length " + std::to_string(length));
    ByteReader r = all.sub(0, length);

    TableDef def;
    def.m_pages = std::move(pages);
    std::memcpy(def.m_rawHeader.data(), buffer.data(), tdef::kVariablePart);
    def.m_rowCount = r.u32(tdef::kRowCount);
    def.m_autoNumber = r.u32(tdef::kAutoNumber);
    def.m_tableType = r.u8(tdef::kTableType);
    def.m_maxColumns = r.u16(tdef::kMaxColumns);
    def.m_varColumnCount = r.u16(tdef::kVarColumnCount);
    size_t columnCount = r.u16(tdef::kColumnCount);
    size_t indexCount = r.u32(tdef::kIndexCount);
    size_t realIndexCount = r.u32(tdef::kRealIndexCount);
    def.m_ownedPages = RowPointer::fromWord(r.u32(tdef::kOwnedPagesMap));
    def.m_freePages = RowPointer::fromWord(r.u32(tdef::kFreePagesMap));

    // Counts are bounded by the bytes each entry needs, so a damaged count
    // cannot make us allocate or loop beyond the buffer.
    if (columnCount * tdef::kColumnSize > length || indexCount * tdef::kLogicalIndexSize > length ||
        realIndexCount * (tdef::kRealIndexSize + tdef::kRealIndexCounterSize) > length)
        return corruption(where + " has counts that do not fit its length");
    if (columnCount == 0) return corruption(where + " has no columns");
    if (columnCount > def.m_maxColumns) return corruption(where + " has more columns than its row layout");

    size_t pos = tdef::kVariablePart;
    def.m_realIndexes.resize(realIndexCount);
    for (RealIndexDef& ix : def.m_realIndexes) {
        auto bytes = r.bytes(pos, tdef::kRealIndexCounterSize);
        if (!r.ok()) return corruption(where + " is cut short in its index counters");
        std::copy(bytes.begin(), bytes.end(), ix.rawCounter.begin());
        ix.uniqueEntryCount = r.u32(pos + tdef::kRealIndexCounterUnique);
        pos += tdef::kRealIndexCounterSize;
    }

    def.m_columns.resize(columnCount);
    std::set<uint16_t> numbers;
    for (ColumnDef& c : def.m_columns) {
        ByteReader d = r.sub(pos, tdef::kColumnSize);
        if (!r.ok()) return corruption(where + " is cut short in its column descriptors");
        std::copy(d.data(), d.data() + tdef::kColumnSize, c.raw.begin());
        c.typeCode = d.u8(tdef::kColType);
        c.number = d.u16(tdef::kColNumber);
        c.varIndex = d.u16(tdef::kColVarIndex);
        c.ordinal = d.u16(tdef::kColOrdinal);
        c.flags = d.u8(tdef::kColFlags);
        c.extraFlags = d.u8(tdef::kColExtraFlags);
        c.fixedOffset = d.u16(tdef::kColFixedOffset);
        c.length = d.u16(tdef::kColLength);
        const bool known = isKnownColumnType(c.typeCode);
        if (!known && !structureOnly)
            return notSupported(where + " has a column of unknown type " + std::to_string(c.typeCode));
        if (c.number >= def.m_maxColumns || !numbers.insert(c.number).second)
            return corruption(where + " has an invalid column number " + std::to_string(c.number));
        // Text and Binary may be fixed-length columns, and numbers, dates
        // and GUIDs may be stored as variable-length values (later Access
        // versions and some imports do); Memo and OLE have one form.
        if (known && !structureOnly && c.isFixed() && isLongValueType(c.type()))
            return corruption(where + " has a Memo or OLE column marked fixed-length");
        if (c.isVariable() && c.varIndex >= def.m_varColumnCount)
            return corruption(where + " has a variable column outside its row layout");
        if (c.isFixed() && !c.isBoolean() && size_t(c.fixedOffset) + c.fixedWidth() > row::kMaxSize)
            return corruption(where + " has a fixed column past the end of a row");
        pos += tdef::kColumnSize;
    }
    for (ColumnDef& c : def.m_columns)
        if (!readName(r, pos, c.name, c.rawName)) return corruption(where + " has a damaged column name");

    for (RealIndexDef& ix : def.m_realIndexes) {
        ByteReader d = r.sub(pos, tdef::kRealIndexSize);
        if (!r.ok()) return corruption(where + " is cut short in its index descriptors");
        std::copy(d.data(), d.data() + tdef::kRealIndexSize, ix.raw.begin());
        ix.columns = keyColumnsOf(ix.raw);
        ix.usageMap = RowPointer::fromWord(d.u32(tdef::kRealIdxUsageMap));
        ix.rootPage = d.u32(tdef::kRealIdxRootPage);
        ix.flags = d.u8(tdef::kRealIdxFlags);
        pos += tdef::kRealIndexSize;
    }

    def.m_logicalIndexes.resize(indexCount);
    for (LogicalIndexDef& ix : def.m_logicalIndexes) {
        ByteReader d = r.sub(pos, tdef::kLogicalIndexSize);
        if (!r.ok()) return corruption(where + " is cut short in its logical indexes");
        std::copy(d.data(), d.data() + tdef::kLogicalIndexSize, ix.raw.begin());
        ix.number = d.u32(tdef::kLogIdxNumber);
        ix.realIndex = d.u32(tdef::kLogIdxRealIndex);
        ix.relationshipRole = d.u8(tdef::kLogIdxRelationshipRole);
        ix.relatedIndex = d.i32(tdef::kLogIdxRelatedIndex);
        ix.relatedTable = d.u32(tdef::kLogIdxRelatedTable);
        ix.cascadeUpdates = d.u8(tdef::kLogIdxCascadeUpdates);
        ix.cascadeDeletes = d.u8(tdef::kLogIdxCascadeDeletes);
        ix.indexType = d.u8(tdef::kLogIdxType);
        if (ix.realIndex >= realIndexCount) return corruption(where + " has an index that refers to no stored index");
        pos += tdef::kLogicalIndexSize;
    }
    for (LogicalIndexDef& ix : def.m_logicalIndexes)
        if (!readName(r, pos, ix.name, ix.rawName)) return corruption(where + " has a damaged index name");

    while (true) {
        uint16_t number = r.u16(pos);
        if (!r.ok()) return corruption(where + " has an unterminated long-value map list");
        if (number == tdef::kLongValueMapEnd) {
            pos += kLongValueMapEndSize;
            break;
        }
        LongValueMapDef m;
        m.columnNumber = number;
        m.ownedPages = RowPointer::fromWord(r.u32(pos + tdef::kLvMapOwned));
        m.freePages = RowPointer::fromWord(r.u32(pos + tdef::kLvMapFree));
        if (!r.ok()) return corruption(where + " has a damaged long-value map list");
        def.m_longValueMaps.push_back(m);
        pos += tdef::kLongValueMapRecordSize;
    }
    def.m_trailer.assign(buffer.begin() + long(pos), buffer.begin() + long(length));
    def.reindexColumns();
    return def;
}

void TableDef::reindexColumns()
{
    m_byNumber.resize(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i) m_byNumber[i] = int(i);
    std::stable_sort(m_byNumber.begin(), m_byNumber.end(),
                     [&](int a, int b) { return m_columns[size_t(a)].number < m_columns[size_t(b)].number; });
}

int TableDef::findColumn(std::u16string_view name) const
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (equalsIgnoreCase(m_columns[i].name, name)) return int(i);
    return -1;
}

int TableDef::findColumnByNumber(uint16_t number) const
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].number == number) return int(i);
    return -1;
}

const LongValueMapDef* TableDef::longValueMapFor(uint16_t columnNumber) const
{
    for (const LongValueMapDef& m : m_longValueMaps)
        if (m.columnNumber == columnNumber) return &m;
    return nullptr;
}

size_t TableDef::fixedAreaSize() const
{
    size_t size = 0;
    for (const ColumnDef& c : m_columns)
        if (c.isFixed() && !c.isBoolean()) size = std::max(size, size_t(c.fixedOffset) + c.fixedWidth());
    return size;
}

std::vector<uint8_t> TableDef::serialize() const
{
    std::array<uint8_t, tdef::kVariablePart> header = m_rawHeader;
    uint8_t* h = header.data();
    putU32(h, tdef::kRowCount, m_rowCount);
    putU32(h, tdef::kAutoNumber, m_autoNumber);
    putU8(h, tdef::kTableType, m_tableType);
    putU16(h, tdef::kMaxColumns, m_maxColumns);
    putU16(h, tdef::kVarColumnCount, m_varColumnCount);
    putU16(h, tdef::kColumnCount, uint16_t(m_columns.size()));
    putU32(h, tdef::kIndexCount, uint32_t(m_logicalIndexes.size()));
    putU32(h, tdef::kRealIndexCount, uint32_t(m_realIndexes.size()));
    putU32(h, tdef::kOwnedPagesMap, m_ownedPages.toWord());
    putU32(h, tdef::kFreePagesMap, m_freePages.toWord());
    std::vector<uint8_t> out;
    out.reserve(kPageSize);
    appendRaw(out, header);

    for (const RealIndexDef& ix : m_realIndexes) {
        std::array<uint8_t, tdef::kRealIndexCounterSize> c = ix.rawCounter;
        putU32(c.data(), tdef::kRealIndexCounterUnique, ix.uniqueEntryCount);
        appendRaw(out, c);
    }
    for (const ColumnDef& col : m_columns) {
        std::array<uint8_t, tdef::kColumnSize> d = col.raw;
        putU8(d.data(), tdef::kColType, col.typeCode);
        putU16(d.data(), tdef::kColNumber, col.number);
        putU16(d.data(), tdef::kColVarIndex, col.varIndex);
        putU16(d.data(), tdef::kColOrdinal, col.ordinal);
        putU8(d.data(), tdef::kColFlags, col.flags);
        putU8(d.data(), tdef::kColExtraFlags, col.extraFlags);
        putU16(d.data(), tdef::kColFixedOffset, col.fixedOffset);
        putU16(d.data(), tdef::kColLength, col.length);
        appendRaw(out, d);
    }
    for (const ColumnDef& col : m_columns) appendName(out, col.name, col.rawName);
    for (const RealIndexDef& ix : m_realIndexes) {
        std::array<uint8_t, tdef::kRealIndexSize> d = ix.raw;
        // Unused slots carry stray order bytes; keep the stored slots unless
        // the key columns were changed.
        if (ix.columns != keyColumnsOf(ix.raw)) {
            for (size_t s = 0; s < tdef::kRealIdxColumnSlots; ++s) {
                size_t at = tdef::kRealIdxColumns + s * tdef::kRealIdxColumnSlotSize;
                bool used = s < ix.columns.size();
                putU16(d.data(), at, used ? ix.columns[s].columnNumber : tdef::kRealIdxUnusedColumn);
                putU8(d.data(), at + 2, used && ix.columns[s].ascending ? tdef::kRealIdxAscending : 0);
            }
        }
        putU32(d.data(), tdef::kRealIdxUsageMap, ix.usageMap.toWord());
        putU32(d.data(), tdef::kRealIdxRootPage, ix.rootPage);
        putU8(d.data(), tdef::kRealIdxFlags, ix.flags);
        appendRaw(out, d);
    }
    for (const LogicalIndexDef& ix : m_logicalIndexes) {
        std::array<uint8_t, tdef::kLogicalIndexSize> d = ix.raw;
        putU32(d.data(), tdef::kLogIdxNumber, ix.number);
        putU32(d.data(), tdef::kLogIdxRealIndex, ix.realIndex);
        putU8(d.data(), tdef::kLogIdxRelationshipRole, ix.relationshipRole);
        putU32(d.data(), tdef::kLogIdxRelatedIndex, uint32_t(ix.relatedIndex));
        putU32(d.data(), tdef::kLogIdxRelatedTable, ix.relatedTable);
        putU8(d.data(), tdef::kLogIdxCascadeUpdates, ix.cascadeUpdates);
        putU8(d.data(), tdef::kLogIdxCascadeDeletes, ix.cascadeDeletes);
        putU8(d.data(), tdef::kLogIdxType, ix.indexType);
        appendRaw(out, d);
    }
    for (const LogicalIndexDef& ix : m_logicalIndexes) appendName(out, ix.name, ix.rawName);
    for (const LongValueMapDef& m : m_longValueMaps) {
        std::array<uint8_t, tdef::kLongValueMapRecordSize> d{};
        putU16(d.data(), tdef::kLvMapColumn, m.columnNumber);
        putU32(d.data(), tdef::kLvMapOwned, m.ownedPages.toWord());
        putU32(d.data(), tdef::kLvMapFree, m.freePages.toWord());
        appendRaw(out, d);
    }
    std::array<uint8_t, kLongValueMapEndSize> end{};
    putU16(end.data(), 0, tdef::kLongValueMapEnd);
    appendRaw(out, end);
    out.insert(out.end(), m_trailer.begin(), m_trailer.end());
    putU32(out.data(), tdef::kLength, uint32_t(out.size()));
    return out;
}

size_t TableDef::pagesNeeded(size_t bufferSize)
{
    if (bufferSize <= kPageSize) return 1;
    return 1 + (bufferSize - kPageSize + kContinuationPayload - 1) / kContinuationPayload;
}

Result<std::vector<PageBuffer>> TableDef::splitIntoPages(std::span<const uint8_t> buffer,
                                                         const std::vector<uint32_t>& pageNumbers)
{
    if (buffer.size() < tdef::kVariablePart) return invalidArgument("a table definition is too short");
    if (pageNumbers.size() != pagesNeeded(buffer.size()))
        return invalidArgument("a table definition of " + std::to_string(buffer.size()) + " bytes needs " +
                               std::to_string(pagesNeeded(buffer.size())) + " pages, not " +
                               std::to_string(pageNumbers.size()));
    std::vector<PageBuffer> pages(pageNumbers.size());
    size_t pos = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        PageBuffer& p = pages[i];
        p.fill(0);
        size_t start = i == 0 ? 0 : tdef::kPageHeaderSize;
        size_t take = std::min(buffer.size() - pos, kPageSize - start);
        std::memcpy(p.data() + start, buffer.data() + pos, take);
        pos += take;
        size_t unused = kPageSize - start - take;
        putU8(p.data(), page::kType, uint8_t(PageType::TableDefinition));
        putU8(p.data(), page::kMarker, page::kMarkerValue);
        putU16(p.data(), tdef::kFreeSpace, uint16_t(unused > tdef::kPageHeaderSize ? unused - tdef::kPageHeaderSize : 0));
        putU32(p.data(), tdef::kNextPage, i + 1 < pages.size() ? pageNumbers[i + 1] : 0);
    }
    return pages;
}

Result<std::vector<PageBuffer>> TableDef::toPages() const
{
    std::vector<uint8_t> buffer = serialize();
    return splitIntoPages(buffer, m_pages);
}

}  // namespace varnika::jet

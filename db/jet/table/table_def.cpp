#include "db/jet/table/table_def.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/text_codec.h"
#include "db/text.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace varnika::jet {

namespace {

constexpr size_t kLongValueMapEndSize = 2;
// Bytes a UCS-2 name may carry beyond its characters (an FF FE mark).
constexpr size_t kNameMarkBytes = 2;
// Jet 3 writes these two letters where Jet 4 keeps a definition page's free bytes.
constexpr uint8_t kJet3TdefMark[2] = {'V', 'C'};

std::string pageText(uint32_t page) { return "table definition at page " + std::to_string(page); }

size_t continuationPayload(size_t pageSize) { return pageSize - tdef::kPageHeaderSize; }

size_t nameLength(ByteReader& r, size_t pos, const JetFormat& f)
{
    return f.tdef.nameLengthSize == 1 ? r.u8(pos) : r.u16(pos);
}

// Reads a length-prefixed name at `pos`, advancing it.
bool readName(ByteReader& r, size_t& pos, std::u16string& name, std::vector<uint8_t>& raw, const JetFormat& f)
{
    size_t length = nameLength(r, pos, f);
    auto bytes = r.bytes(pos + f.tdef.nameLengthSize, length);
    const size_t longest = tdef::kMaxNameCharacters * f.textUnitSize() + (f.unicodeText() ? kNameMarkBytes : 0);
    if (!r.ok() || length > longest) return false;
    raw.assign(bytes.begin(), bytes.end());
    name = decodeName(bytes, f);
    pos += f.tdef.nameLengthSize + length;
    return !name.empty();
}

void appendName(std::vector<uint8_t>& out, const std::u16string& name, const std::vector<uint8_t>& raw, const JetFormat& f)
{
    std::vector<uint8_t> bytes = decodeName(raw, f) == name ? raw : encodeName(name, f);
    const size_t at = out.size();
    out.resize(at + f.tdef.nameLengthSize, 0);
    if (f.tdef.nameLengthSize == 1) putU8(out.data(), at, uint8_t(bytes.size()));
    else putU16(out.data(), at, uint16_t(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

template <size_t N>
void appendRaw(std::vector<uint8_t>& out, const std::array<uint8_t, N>& raw, size_t used = N)
{
    out.insert(out.end(), raw.begin(), raw.begin() + long(std::min(used, N)));
}

std::vector<RealIndexColumn> keyColumnsOf(const std::array<uint8_t, tdef::kRealIndexSize>& raw, const JetFormat& f)
{
    std::vector<RealIndexColumn> out;
    ByteReader d(raw.data(), f.tdef.realIndexSize);
    for (size_t s = 0; s < tdef::kRealIdxColumnSlots; ++s) {
        size_t at = f.tdef.realIdxColumns + s * tdef::kRealIdxColumnSlotSize;
        uint16_t number = d.u16(at);
        if (number == tdef::kRealIdxUnusedColumn) continue;
        out.push_back({number, d.u8(at + 2) == tdef::kRealIdxAscending});
    }
    return out;
}

}  // namespace

std::u16string decodeName(std::span<const uint8_t> bytes, const JetFormat& format)
{
    return decodeStoredText(bytes, format);
}

std::vector<uint8_t> encodeName(std::u16string_view name, const JetFormat& format)
{
    if (format.unicodeText()) return encodeJetText(name, false);
    // Callers check names with canStoreName() first; a character that still
    // does not fit is written as a question mark rather than dropped.
    std::vector<uint8_t> out;
    for (char16_t c : name) {
        auto b = encodeCodePageText(std::u16string_view(&c, 1), format.codePage);
        out.push_back(b.isOk() && b->size() == 1 ? (*b)[0] : uint8_t('?'));
    }
    return out;
}

bool canStoreName(std::u16string_view name, const JetFormat& format)
{
    return format.unicodeText() || fitsCodePage(name, format.codePage);
}

int ColumnDef::displaySize() const
{
    switch (type()) {
    case ColumnType::Text: return singleByteText() ? length : length / 2;
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
        const auto end = ref->begin() + long(pager.pageSize());
        if (pages.empty()) buffer.assign(ref->begin(), end);
        else buffer.insert(buffer.end(), ref->begin() + tdef::kPageHeaderSize, end);
        pages.push_back(page);
        uint32_t next = r.u32(tdef::kNextPage);
        if (next == 0) break;
        ByteReader head(buffer.data(), buffer.size());
        // A sound chain is no longer than its stated length needs.
        if (pages.size() >= pagesNeeded(head.u32(tdef::kLength), pager.pageSize()))
            return corruption(pageText(firstPage) + " has more pages than its length needs");
        page = next;
    }
    return parse(buffer, std::move(pages), structureOnly, pager.format());
}

Result<TableDef> TableDef::parse(std::span<const uint8_t> buffer, std::vector<uint32_t> pages, bool structureOnly,
                                 const JetFormat& format)
{
    const auto& t = format.tdef;
    const uint32_t first = pages.empty() ? 0 : pages.front();
    const std::string where = pageText(first);
    ByteReader all(buffer);
    size_t length = all.u32(tdef::kLength);
    if (!all.ok() || length < t.variablePart + kLongValueMapEndSize || length > buffer.size())
        return corruption(where + " has an impossible length " + std::to_string(length));
    ByteReader r = all.sub(0, length);

    TableDef def;
    def.m_format = format;
    def.m_pages = std::move(pages);
    std::memcpy(def.m_rawHeader.data(), buffer.data(), t.variablePart);
    def.m_rowCount = r.u32(t.rowCount);
    def.m_autoNumber = r.u32(t.autoNumber);
    def.m_tableType = r.u8(t.tableType);
    def.m_maxColumns = r.u16(t.maxColumns);
    def.m_varColumnCount = r.u16(t.varColumnCount);
    size_t columnCount = r.u16(t.columnCount);
    size_t indexCount = r.u32(t.indexCount);
    size_t realIndexCount = r.u32(t.realIndexCount);
    def.m_ownedPages = RowPointer::fromWord(r.u32(t.ownedPagesMap));
    def.m_freePages = RowPointer::fromWord(r.u32(t.freePagesMap));

    // Counts are bounded by the bytes each entry needs, so a damaged count
    // cannot make us allocate or loop beyond the buffer.
    if (columnCount * t.columnSize > length || indexCount * t.logicalIndexSize > length ||
        realIndexCount * (t.realIndexSize + t.realIndexCounterSize) > length)
        return corruption(where + " has counts that do not fit its length");
    if (columnCount == 0) return corruption(where + " has no columns");
    if (columnCount > def.m_maxColumns) return corruption(where + " has more columns than its row layout");

    size_t pos = t.variablePart;
    def.m_realIndexes.resize(realIndexCount);
    for (RealIndexDef& ix : def.m_realIndexes) {
        auto bytes = r.bytes(pos, t.realIndexCounterSize);
        if (!r.ok()) return corruption(where + " is cut short in its index counters");
        std::copy(bytes.begin(), bytes.end(), ix.rawCounter.begin());
        ix.uniqueEntryCount = r.u32(pos + tdef::kRealIndexCounterUnique);
        pos += t.realIndexCounterSize;
    }

    // Jet 3 text is in the code page each column names (the database's,
    // in every file seen), Jet 4 text in UTF-16.
    auto columnCodePage = [&](ByteReader& d) -> uint16_t {
        if (format.unicodeText()) return 0;
        const uint16_t own = d.u16(t.colCodePage);
        return isSupportedCodePage(own) ? own : format.codePage;
    };
    def.m_columns.resize(columnCount);
    std::set<uint16_t> numbers;
    for (ColumnDef& c : def.m_columns) {
        ByteReader d = r.sub(pos, t.columnSize);
        if (!r.ok()) return corruption(where + " is cut short in its column descriptors");
        std::copy(d.data(), d.data() + t.columnSize, c.raw.begin());
        c.typeCode = d.u8(tdef::kColType);
        c.number = d.u16(t.colNumber);
        c.varIndex = d.u16(t.colVarIndex);
        c.ordinal = d.u16(t.colOrdinal);
        c.flags = d.u8(t.colFlags);
        c.extraFlags = t.colExtraFlags == kAbsent ? 0 : d.u8(t.colExtraFlags);
        c.fixedOffset = d.u16(t.colFixedOffset);
        c.length = d.u16(t.colLength);
        c.codePage = columnCodePage(d);
        c.sortOrderLcid = d.u16(t.colSortOrder);
        c.sortOrderVersion = t.colSortVersion == kAbsent ? 0 : d.u8(t.colSortVersion);
        c.numericPrecision = d.u8(t.colPrecision);
        c.numericScale = d.u8(t.colPrecision + 1);
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
        if (c.isFixed() && !c.isBoolean() && size_t(c.fixedOffset) + c.fixedWidth() > format.row.maxSize)
            return corruption(where + " has a fixed column past the end of a row");
        pos += t.columnSize;
    }
    for (ColumnDef& c : def.m_columns)
        if (!readName(r, pos, c.name, c.rawName, format)) return corruption(where + " has a damaged column name");

    for (RealIndexDef& ix : def.m_realIndexes) {
        ByteReader d = r.sub(pos, t.realIndexSize);
        if (!r.ok()) return corruption(where + " is cut short in its index descriptors");
        std::copy(d.data(), d.data() + t.realIndexSize, ix.raw.begin());
        ix.columns = keyColumnsOf(ix.raw, format);
        ix.usageMap = RowPointer::fromWord(d.u32(t.realIdxUsageMap));
        ix.rootPage = d.u32(t.realIdxRootPage);
        ix.flags = d.u8(t.realIdxFlags);
        pos += t.realIndexSize;
    }

    def.m_logicalIndexes.resize(indexCount);
    for (LogicalIndexDef& ix : def.m_logicalIndexes) {
        ByteReader d = r.sub(pos, t.logicalIndexSize);
        if (!r.ok()) return corruption(where + " is cut short in its logical indexes");
        std::copy(d.data(), d.data() + t.logicalIndexSize, ix.raw.begin());
        ix.number = d.u32(t.logIdxNumber);
        ix.realIndex = d.u32(t.logIdxRealIndex);
        ix.relationshipRole = d.u8(t.logIdxRelationshipRole);
        ix.relatedIndex = d.i32(t.logIdxRelatedIndex);
        ix.relatedTable = d.u32(t.logIdxRelatedTable);
        ix.cascadeUpdates = d.u8(t.logIdxCascadeUpdates);
        ix.cascadeDeletes = d.u8(t.logIdxCascadeDeletes);
        ix.indexType = d.u8(t.logIdxType);
        if (ix.realIndex >= realIndexCount) return corruption(where + " has an index that refers to no stored index");
        pos += t.logicalIndexSize;
    }
    for (LogicalIndexDef& ix : def.m_logicalIndexes)
        if (!readName(r, pos, ix.name, ix.rawName, format)) return corruption(where + " has a damaged index name");

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
    const JetFormat& f = m_format;
    const auto& t = f.tdef;
    std::array<uint8_t, tdef::kVariablePart> header = m_rawHeader;
    uint8_t* h = header.data();
    putU32(h, t.rowCount, m_rowCount);
    putU32(h, t.autoNumber, m_autoNumber);
    putU8(h, t.tableType, m_tableType);
    putU16(h, t.maxColumns, m_maxColumns);
    putU16(h, t.varColumnCount, m_varColumnCount);
    putU16(h, t.columnCount, uint16_t(m_columns.size()));
    putU32(h, t.indexCount, uint32_t(m_logicalIndexes.size()));
    putU32(h, t.realIndexCount, uint32_t(m_realIndexes.size()));
    putU32(h, t.ownedPagesMap, m_ownedPages.toWord());
    putU32(h, t.freePagesMap, m_freePages.toWord());
    std::vector<uint8_t> out;
    out.reserve(f.pageSize);
    appendRaw(out, header, t.variablePart);

    for (const RealIndexDef& ix : m_realIndexes) {
        std::array<uint8_t, tdef::kRealIndexCounterSize> c = ix.rawCounter;
        putU32(c.data(), tdef::kRealIndexCounterUnique, ix.uniqueEntryCount);
        appendRaw(out, c, t.realIndexCounterSize);
    }
    for (const ColumnDef& col : m_columns) {
        std::array<uint8_t, tdef::kColumnSize> d = col.raw;
        putU8(d.data(), tdef::kColType, col.typeCode);
        putU16(d.data(), t.colNumber, col.number);
        putU16(d.data(), t.colVarIndex, col.varIndex);
        putU16(d.data(), t.colOrdinal, col.ordinal);
        putU8(d.data(), t.colFlags, col.flags);
        if (t.colExtraFlags != kAbsent) putU8(d.data(), t.colExtraFlags, col.extraFlags);
        putU16(d.data(), t.colFixedOffset, col.fixedOffset);
        putU16(d.data(), t.colLength, col.length);
        appendRaw(out, d, t.columnSize);
    }
    for (const ColumnDef& col : m_columns) appendName(out, col.name, col.rawName, f);
    for (const RealIndexDef& ix : m_realIndexes) {
        std::array<uint8_t, tdef::kRealIndexSize> d = ix.raw;
        // Unused slots carry stray order bytes; keep the stored slots unless
        // the key columns were changed.
        if (ix.columns != keyColumnsOf(ix.raw, f)) {
            for (size_t s = 0; s < tdef::kRealIdxColumnSlots; ++s) {
                size_t at = t.realIdxColumns + s * tdef::kRealIdxColumnSlotSize;
                bool used = s < ix.columns.size();
                putU16(d.data(), at, used ? ix.columns[s].columnNumber : tdef::kRealIdxUnusedColumn);
                putU8(d.data(), at + 2, used && ix.columns[s].ascending ? tdef::kRealIdxAscending : 0);
            }
        }
        putU32(d.data(), t.realIdxUsageMap, ix.usageMap.toWord());
        putU32(d.data(), t.realIdxRootPage, ix.rootPage);
        putU8(d.data(), t.realIdxFlags, ix.flags);
        appendRaw(out, d, t.realIndexSize);
    }
    for (const LogicalIndexDef& ix : m_logicalIndexes) {
        std::array<uint8_t, tdef::kLogicalIndexSize> d = ix.raw;
        putU32(d.data(), t.logIdxNumber, ix.number);
        putU32(d.data(), t.logIdxRealIndex, ix.realIndex);
        putU8(d.data(), t.logIdxRelationshipRole, ix.relationshipRole);
        putU32(d.data(), t.logIdxRelatedIndex, uint32_t(ix.relatedIndex));
        putU32(d.data(), t.logIdxRelatedTable, ix.relatedTable);
        putU8(d.data(), t.logIdxCascadeUpdates, ix.cascadeUpdates);
        putU8(d.data(), t.logIdxCascadeDeletes, ix.cascadeDeletes);
        putU8(d.data(), t.logIdxType, ix.indexType);
        appendRaw(out, d, t.logicalIndexSize);
    }
    for (const LogicalIndexDef& ix : m_logicalIndexes) appendName(out, ix.name, ix.rawName, f);
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

size_t TableDef::pagesNeeded(size_t bufferSize, size_t pageSize)
{
    if (bufferSize <= pageSize) return 1;
    const size_t payload = continuationPayload(pageSize);
    return 1 + (bufferSize - pageSize + payload - 1) / payload;
}

Result<std::vector<PageBuffer>> TableDef::splitIntoPages(std::span<const uint8_t> buffer,
                                                         const std::vector<uint32_t>& pageNumbers, const JetFormat& format)
{
    const size_t pageSize = format.pageSize;
    if (buffer.size() < format.tdef.variablePart) return invalidArgument("a table definition is too short");
    if (pageNumbers.size() != pagesNeeded(buffer.size(), pageSize))
        return invalidArgument("a table definition of " + std::to_string(buffer.size()) + " bytes needs " +
                               std::to_string(pagesNeeded(buffer.size(), pageSize)) + " pages, not " +
                               std::to_string(pageNumbers.size()));
    std::vector<PageBuffer> pages(pageNumbers.size());
    size_t pos = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        PageBuffer& p = pages[i];
        p.fill(0);
        size_t start = i == 0 ? 0 : tdef::kPageHeaderSize;
        size_t take = std::min(buffer.size() - pos, pageSize - start);
        std::memcpy(p.data() + start, buffer.data() + pos, take);
        pos += take;
        size_t unused = pageSize - start - take;
        putU8(p.data(), page::kType, uint8_t(PageType::TableDefinition));
        putU8(p.data(), page::kMarker, page::kMarkerValue);
        if (format.tdef.freeSpaceField)
            putU16(p.data(), tdef::kFreeSpace, uint16_t(unused > tdef::kPageHeaderSize ? unused - tdef::kPageHeaderSize : 0));
        else
            std::memcpy(p.data() + tdef::kFreeSpace, kJet3TdefMark, sizeof kJet3TdefMark);
        putU32(p.data(), tdef::kNextPage, i + 1 < pages.size() ? pageNumbers[i + 1] : 0);
    }
    return pages;
}

Result<std::vector<PageBuffer>> TableDef::toPages() const
{
    std::vector<uint8_t> buffer = serialize();
    return splitIntoPages(buffer, m_pages, m_format);
}

}  // namespace varnika::jet

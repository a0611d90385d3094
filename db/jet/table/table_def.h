#pragma once
// A table definition (TDEF): the header counters, the column descriptors, the
// indexes and the long-value maps of one table, as read from its chain of
// type-0x02 pages. Every structure keeps its raw bytes, so that a writer can
// change a few fields and put everything else back exactly as it was.

#include "db/column_type.h"
#include "db/jet/file/jet_format.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

struct ColumnDef {
    uint8_t typeCode = 0;
    uint16_t number = 0;    // bit in the null mask, number used by indexes
    uint16_t varIndex = 0;  // slot in the row's variable-offset table (variable columns)
    uint16_t ordinal = 0;
    uint8_t flags = 0;
    uint8_t extraFlags = 0;
    uint16_t fixedOffset = 0;  // within the fixed area (fixed, non-Boolean columns)
    uint16_t length = 0;       // bytes; Text: 2 x characters (Jet 3: characters)
    // Jet 3: the code page its text is stored in; 0 in Jet 4, whose text is UTF-16.
    uint16_t codePage = 0;
    uint16_t sortOrderLcid = 0;    // Text and Memo: the column's sort order
    uint8_t sortOrderVersion = 0;  // (Jet 3 keeps no version: 0)
    uint8_t numericPrecision = 0;  // Numeric columns
    uint8_t numericScale = 0;
    std::u16string name;
    std::array<uint8_t, tdef::kColumnSize> raw{};  // descriptor as stored (Jet 3: the first 18 bytes)
    std::vector<uint8_t> rawName;                  // name as stored (length word excluded)

    ColumnType type() const { return ColumnType(typeCode); }
    bool isBoolean() const { return type() == ColumnType::Boolean; }
    bool isFixed() const { return (flags & tdef::kColFlagFixed) != 0; }
    bool isVariable() const { return !isFixed(); }
    bool isAutoLong() const { return (flags & tdef::kColFlagAutoLong) != 0; }
    bool isAutoGuid() const { return (flags & tdef::kColFlagAutoGuid) != 0; }
    bool isHyperlink() const { return (flags & tdef::kColFlagHyperlink) != 0; }
    bool allowsCompression() const { return (extraFlags & tdef::kColExtraCompressedUnicode) != 0; }
    // Numeric columns: from the type-specific bytes.
    uint8_t precision() const { return numericPrecision; }
    uint8_t scale() const { return numericScale; }
    // Text and Memo: the column's sort order.
    uint16_t sortLcid() const { return sortOrderLcid; }
    uint8_t sortVersion() const { return sortOrderVersion; }
    // Text stored one byte a character in codePage (Jet 3).
    bool singleByteText() const { return codePage != 0; }
    // Text: maximum characters; Binary: bytes; fixed types: their size.
    int displaySize() const;
    // Bytes in the row's fixed area (fixed columns; fixed-length Text and
    // Binary columns use their descriptor length).
    size_t fixedWidth() const;
};

struct RealIndexColumn {
    uint16_t columnNumber = 0;
    bool ascending = true;
    friend bool operator==(const RealIndexColumn&, const RealIndexColumn&) = default;
};

struct RealIndexDef {
    std::array<uint8_t, tdef::kRealIndexCounterSize> rawCounter{};  // Jet 3: the first 8 bytes
    std::array<uint8_t, tdef::kRealIndexSize> raw{};                // Jet 3: the first 39 bytes
    std::vector<RealIndexColumn> columns;  // key columns in key order
    RowPointer usageMap;
    uint32_t rootPage = 0;
    uint8_t flags = 0;
    uint32_t uniqueEntryCount = 0;  // statistic from the counter block

    bool isUnique() const { return (flags & tdef::kIndexFlagUnique) != 0; }
    bool ignoresNulls() const { return (flags & tdef::kIndexFlagIgnoreNulls) != 0; }
    bool isRequired() const { return (flags & tdef::kIndexFlagRequired) != 0; }
};

struct LogicalIndexDef {
    std::array<uint8_t, tdef::kLogicalIndexSize> raw{};  // Jet 3: the first 20 bytes
    uint32_t number = 0;
    uint32_t realIndex = 0;
    uint8_t relationshipRole = 0;
    int32_t relatedIndex = -1;
    uint32_t relatedTable = 0;
    uint8_t cascadeUpdates = 0;
    uint8_t cascadeDeletes = 0;
    uint8_t indexType = 0;
    std::u16string name;
    std::vector<uint8_t> rawName;

    bool isPrimaryKey() const { return indexType == tdef::kLogIdxTypePrimaryKey; }
    bool isForeignKey() const { return indexType == tdef::kLogIdxTypeForeignKey; }
};

struct LongValueMapDef {
    uint16_t columnNumber = 0;
    RowPointer ownedPages;
    RowPointer freePages;
};

class TableDef {
public:
    // Reads the chain of TDEF pages starting at `firstPage`, in the pager's
    // format. With `structureOnly`, columns of types the engine does not
    // know are kept (for walking the table's maps, not its rows).
    static Result<TableDef> read(Pager& pager, uint32_t firstPage, bool structureOnly = false);
    // Parses a concatenated buffer (first page whole, then bytes 8.. of each
    // continuation page). `pages` are the page numbers the buffer came from.
    static Result<TableDef> parse(std::span<const uint8_t> buffer, std::vector<uint32_t> pages, bool structureOnly = false,
                                  const JetFormat& format = JetFormat::jet4());

    // The concatenated buffer for the current fields, `tdef_len` updated.
    std::vector<uint8_t> serialize() const;
    // Splits a concatenated buffer over pages numbered `pageNumbers` (as many
    // as pagesNeeded(buffer.size())), with the next-page links and the free
    // space fields set. Bytes after the buffer on the last page are zero.
    static Result<std::vector<PageBuffer>> splitIntoPages(std::span<const uint8_t> buffer,
                                                          const std::vector<uint32_t>& pageNumbers,
                                                          const JetFormat& format = JetFormat::jet4());
    static size_t pagesNeeded(size_t bufferSize, size_t pageSize = kPageSize);
    // serialize() then splitIntoPages() over pages().
    Result<std::vector<PageBuffer>> toPages() const;

    // The layout the definition was read in (and is written back in).
    const JetFormat& format() const { return m_format; }
    uint32_t firstPage() const { return m_pages.empty() ? 0 : m_pages.front(); }
    const std::vector<uint32_t>& pages() const { return m_pages; }

    uint32_t rowCount() const { return m_rowCount; }
    void setRowCount(uint32_t n) { m_rowCount = n; }
    uint32_t autoNumber() const { return m_autoNumber; }
    void setAutoNumber(uint32_t n) { m_autoNumber = n; }
    uint8_t tableType() const { return m_tableType; }
    bool isUserTable() const { return m_tableType == tdef::kTableTypeUser; }
    uint16_t maxColumns() const { return m_maxColumns; }
    void setMaxColumns(uint16_t n) { m_maxColumns = n; }
    uint16_t varColumnCount() const { return m_varColumnCount; }
    void setVarColumnCount(uint16_t n) { m_varColumnCount = n; }
    RowPointer ownedPagesMap() const { return m_ownedPages; }
    RowPointer freePagesMap() const { return m_freePages; }

    // Columns in stored descriptor order (the order to write them back in).
    const std::vector<ColumnDef>& columns() const { return m_columns; }
    std::vector<ColumnDef>& mutableColumns() { return m_columns; }
    // Indexes into columns(), sorted by column number: the order rows are
    // decoded in and the order Access shows the columns in.
    const std::vector<int>& columnsByNumber() const { return m_byNumber; }
    // Index into columns() of the column with that name (case-insensitive), or -1.
    int findColumn(std::u16string_view name) const;
    int findColumnByNumber(uint16_t number) const;
    // Recomputes columnsByNumber() after columns were changed.
    void reindexColumns();

    const std::vector<RealIndexDef>& realIndexes() const { return m_realIndexes; }
    std::vector<RealIndexDef>& mutableRealIndexes() { return m_realIndexes; }
    const std::vector<LogicalIndexDef>& logicalIndexes() const { return m_logicalIndexes; }
    std::vector<LogicalIndexDef>& mutableLogicalIndexes() { return m_logicalIndexes; }
    const std::vector<LongValueMapDef>& longValueMaps() const { return m_longValueMaps; }
    std::vector<LongValueMapDef>& mutableLongValueMaps() { return m_longValueMaps; }
    const LongValueMapDef* longValueMapFor(uint16_t columnNumber) const;

    // Size of the fixed area of a row in the current layout.
    size_t fixedAreaSize() const;

private:
    JetFormat m_format = JetFormat::jet4();
    std::vector<uint32_t> m_pages;
    std::array<uint8_t, tdef::kVariablePart> m_rawHeader{};
    std::vector<uint8_t> m_trailer;  // bytes after the long-value map list, if any
    uint32_t m_rowCount = 0;
    uint32_t m_autoNumber = 0;
    uint8_t m_tableType = 0;
    uint16_t m_maxColumns = 0;
    uint16_t m_varColumnCount = 0;
    RowPointer m_ownedPages;
    RowPointer m_freePages;
    std::vector<ColumnDef> m_columns;
    std::vector<int> m_byNumber;
    std::vector<RealIndexDef> m_realIndexes;
    std::vector<LogicalIndexDef> m_logicalIndexes;
    std::vector<LongValueMapDef> m_longValueMaps;
};

// Column and index names: plain UCS-2, or the FF FE compressed form (Jet 4);
// the file's code page (Jet 3).
std::u16string decodeName(std::span<const uint8_t> bytes, const JetFormat& format = JetFormat::jet4());
std::vector<uint8_t> encodeName(std::u16string_view name, const JetFormat& format = JetFormat::jet4());
// Whether a name can be stored in the format (Jet 3: every character in the
// file's code page).
bool canStoreName(std::u16string_view name, const JetFormat& format);

}  // namespace varnika::jet

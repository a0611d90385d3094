#pragma once
// The two on-disk layouts the engine reads and writes: Jet 4 (Access
// 2000-2003) and Jet 3 (Access 97). A JetFormat names every size and offset
// in which they differ; it belongs to the open file (the Pager holds it) and
// each layer asks it instead of using the Jet 4 numbers directly. The Jet 4
// values are those of page/page_layout.h; the format reference's Jet 3
// section describes the other column.

#include "db/jet/file/page_buffer.h"
#include "db/status.h"

#include <cstddef>
#include <cstdint>

namespace varnika::jet {

class PageFile;

enum class JetVersion : uint8_t { Jet3, Jet4 };

// An offset a layout does not have.
constexpr size_t kAbsent = SIZE_MAX;

struct JetFormat {
    JetVersion version = JetVersion::Jet4;
    size_t pageSize = kPageSize;
    // Text of the file: Jet 4 stores UTF-16 (possibly compressed); Jet 3
    // one byte a character in the file's code page, which the header names
    // (set when the database is opened; 1252 until then).
    uint16_t codePage = 1252;

    // Page 0.
    struct Header {
        size_t maskedLength;     // bytes from 0x18 masked with the RC4 stream
        size_t sortOrder;        // u16 LCID of the database's sort order
        size_t sortVersion;      // u8, kAbsent in Jet 3
        size_t passwordLength;   // bytes at 0x42
        bool datedPassword;      // the password bytes are masked with the creation date (Jet 4)
    } header;

    // Data pages (rows, long values, usage-map rows).
    struct DataPage {
        size_t slotCount;  // u16
        size_t slotTable;  // first slot word; also the header's size
        size_t reserved;   // u32 after the owner, kAbsent in Jet 3
    } data;

    // Table definitions: offsets into the concatenated definition buffer.
    struct TableDefinition {
        bool freeSpaceField;  // Jet 4 keeps free bytes at 0x02; Jet 3 the letters "VC"
        size_t constant;      // u32 0x659, kAbsent in Jet 3
        size_t rowCount, autoNumber, autoNumberFlag, tableType, maxColumns, varColumnCount, columnCount, indexCount,
            realIndexCount, ownedPagesMap, freePagesMap, variablePart;
        size_t realIndexCounterSize;
        // Column descriptor.
        size_t columnSize, colConstant, colNumber, colVarIndex, colOrdinal, colSortOrder, colSortVersion, colCodePage,
            colPrecision, colFlags, colExtraFlags, colFixedOffset, colLength;
        size_t nameLengthSize;  // u16 (Jet 4) or u8 (Jet 3) before each name
        // Real-index descriptor.
        size_t realIndexSize, realIdxConstant, realIdxColumns, realIdxUsageMap, realIdxRootPage, realIdxFlags;
        // Logical-index descriptor.
        size_t logicalIndexSize, logIdxConstant, logIdxNumber, logIdxRealIndex, logIdxRelationshipRole,
            logIdxRelatedIndex, logIdxRelatedTable, logIdxCascadeUpdates, logIdxCascadeDeletes, logIdxType;
    } tdef;

    // Rows.
    struct Row {
        size_t countSize;   // the column count and the variable count: 2 bytes (Jet 4) or 1
        size_t offsetSize;  // each variable offset and the end offset: 2 bytes or 1 (with a jump table)
        size_t fixedArea;   // where the fixed columns start
        size_t maxSize;     // the longest row written
    } row;

    // Memo and OLE data outside the row.
    struct LongValues {
        size_t maxSingleRow;   // data bytes of a value kept in one long-value row
        size_t maxChainPiece;  // data bytes of one piece of a chain (after its 4-byte link)
    } longValue;

    // Usage maps.
    struct UsageMaps {
        size_t standardRowSize;     // what Access writes: kind, start page and the bitmap
        uint32_t pagesPerMapPage;   // pages one bitmap page (type 0x05) covers
    } usageMap;

    // Index pages (node and leaf).
    struct IndexPage {
        size_t unknown08;  // u32 kept as found, kAbsent in Jet 3
        size_t prevPage, nextPage, tailPage, prefixLength;
        size_t prefixLengthSize;  // u16 (Jet 4) or u8 (Jet 3)
        size_t unknown1A;  // u8 kept as found (Jet 4 at 0x1A, Jet 3 at 0x15; 1 on some node pages)
        size_t bitmap, bitmapSize, entryData;
        size_t maxEntryData;
        uint8_t flagsAlwaysSet;  // added to every real index's flags by the Access of this format
    } index;

    bool isJet3() const { return version == JetVersion::Jet3; }
    // Jet 4 text is UTF-16; Jet 3 text is single-byte in codePage.
    bool unicodeText() const { return version == JetVersion::Jet4; }
    // Bytes one Text character takes in a column's stored length.
    size_t textUnitSize() const { return unicodeText() ? 2 : 1; }
    // The longest shared prefix an index page can record.
    size_t maxIndexPrefix() const { return index.prefixLengthSize == 1 ? UINT8_MAX : UINT16_MAX; }
    // Data bytes an empty data page offers rows and their slots.
    size_t dataPageRoom() const { return pageSize - data.slotTable; }

    static const JetFormat& jet4();
    static const JetFormat& jet3();
    static const JetFormat& of(JetVersion version) { return version == JetVersion::Jet3 ? jet3() : jet4(); }
};

// Which layout a file uses, from the clear-text start of page 0: a Jet
// database header with version byte 0 is Jet 3; everything else (Jet 4,
// other engines, a file too short to tell) is taken for Jet 4, whose checks
// then refuse what is not one.
Result<JetVersion> detectJetVersion(PageFile& file);

}  // namespace varnika::jet

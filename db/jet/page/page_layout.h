#pragma once
// Named offsets and constants of the Jet 4 file format (see the project's
// format reference). Page code uses these names, never bare numbers.

#include "db/jet/file/page_buffer.h"

#include <compare>
#include <cstddef>
#include <cstdint>

namespace varnika::jet {

enum class PageType : uint8_t {
    DatabaseHeader = 0x00,
    Data = 0x01,
    TableDefinition = 0x02,
    IndexNode = 0x03,
    IndexLeaf = 0x04,
    UsageMap = 0x05,
};

// Bytes 0 and 1 of every page but page 0.
namespace page {
constexpr size_t kType = 0x00;
constexpr size_t kMarker = 0x01;
constexpr uint8_t kMarkerValue = 0x01;
}  // namespace page

// Page 0, the database header.
namespace header {
constexpr size_t kMagic = 0x00;  // 00 01 00 00
constexpr size_t kEngineName = 0x04;
constexpr size_t kEngineNameLength = 15;
constexpr size_t kFormatVersion = 0x14;
constexpr uint8_t kVersionJet3 = 0x00;
constexpr uint8_t kVersionJet4 = 0x01;
constexpr size_t kMaskedRegion = 0x18;
constexpr size_t kMaskedLengthJet4 = 128;
constexpr size_t kMaskedLengthJet3 = 126;
constexpr size_t kCodePage = 0x3C;
constexpr size_t kEncodingKey = 0x3E;
constexpr size_t kPassword = 0x42;
constexpr size_t kPasswordLength = 40;
constexpr size_t kSortOrderLcid = 0x6E;
constexpr size_t kSortOrderVersion = 0x71;
constexpr size_t kCreationDate = 0x72;
constexpr uint32_t kRc4Key = 0x6B39DAC7;

}  // namespace header

// Data pages (table rows, long values, usage-map rows).
namespace datapage {
constexpr size_t kFreeSpace = 0x02;
constexpr size_t kOwner = 0x04;
constexpr size_t kReserved = 0x08;
constexpr size_t kSlotCount = 0x0C;
constexpr size_t kSlotTable = 0x0E;
constexpr size_t kHeaderSize = kSlotTable;
constexpr size_t kSlotSize = 2;
constexpr uint16_t kSlotOffsetMask = 0x1FFF;
constexpr uint16_t kSlotLookup = 0x4000;     // the slot holds a pointer to the row elsewhere
constexpr uint16_t kSlotNotBaseRow = 0x8000; // skipped by a table scan
constexpr uint16_t kSlotDeleted = kSlotLookup | kSlotNotBaseRow;
constexpr int kMaxSlots = 255;
constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"
constexpr size_t kOverflowPointerSize = 4;
constexpr uint16_t kSlotUnknownFlag = 0x2000;  // never set in Access files
}  // namespace datapage

// Table definition pages and the concatenated definition buffer.
namespace tdef {
constexpr size_t kFreeSpace = 0x02;
constexpr size_t kNextPage = 0x04;
constexpr size_t kPageHeaderSize = 0x08;  // bytes of every continuation page skipped
constexpr size_t kLength = 0x08;
constexpr size_t kConstant = 0x0C;
constexpr uint32_t kConstantValue = 0x659;
constexpr size_t kRowCount = 0x10;
constexpr size_t kAutoNumber = 0x14;
constexpr size_t kAutoNumberFlag = 0x18;
constexpr size_t kTableType = 0x28;
constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kTableTypeSystem = 0x53;
constexpr size_t kMaxColumns = 0x29;
constexpr size_t kVarColumnCount = 0x2B;
constexpr size_t kColumnCount = 0x2D;
constexpr size_t kIndexCount = 0x2F;
constexpr size_t kRealIndexCount = 0x33;
constexpr size_t kOwnedPagesMap = 0x37;
constexpr size_t kFreePagesMap = 0x3B;
constexpr size_t kVariablePart = 0x3F;

constexpr size_t kRealIndexCounterSize = 12;
constexpr size_t kRealIndexCounterUnique = 4;

constexpr size_t kColumnSize = 25;
constexpr size_t kColType = 0;
constexpr size_t kColConstant = 1;
constexpr size_t kColNumber = 5;
constexpr size_t kColVarIndex = 7;
constexpr size_t kColOrdinal = 9;
constexpr size_t kColTypeSpecific = 11;  // text: u16 LCID, 0, u8 version; numeric: precision, scale
constexpr size_t kColSortVersion = 14;
constexpr size_t kColFlags = 15;
constexpr size_t kColExtraFlags = 16;
constexpr size_t kColReserved = 17;
constexpr size_t kColFixedOffset = 21;
constexpr size_t kColLength = 23;

constexpr uint8_t kColFlagFixed = 0x01;
constexpr uint8_t kColFlagNullable = 0x02;
constexpr uint8_t kColFlagAutoLong = 0x04;
constexpr uint8_t kColFlagAutoGuid = 0x40;
constexpr uint8_t kColFlagHyperlink = 0x80;
constexpr uint8_t kColExtraCompressedUnicode = 0x01;

constexpr size_t kRealIndexSize = 52;
constexpr size_t kRealIdxConstant = 0;
constexpr uint32_t kRealIdxConstantValue = 0x783;
constexpr size_t kRealIdxColumns = 4;     // 10 × {u16 column number, u8 order}
constexpr size_t kRealIdxColumnSlots = 10;
constexpr size_t kRealIdxColumnSlotSize = 3;
constexpr uint16_t kRealIdxUnusedColumn = 0xFFFF;
constexpr uint8_t kRealIdxAscending = 0x01;
constexpr size_t kRealIdxUsageMap = 34;
constexpr size_t kRealIdxRootPage = 38;
constexpr size_t kRealIdxFlags = 46;
constexpr uint8_t kIndexFlagUnique = 0x01;
constexpr uint8_t kIndexFlagIgnoreNulls = 0x02;
constexpr uint8_t kIndexFlagRequired = 0x08;

constexpr size_t kLogicalIndexSize = 28;
constexpr size_t kLogIdxNumber = 4;
constexpr size_t kLogIdxRealIndex = 8;
constexpr size_t kLogIdxRelationshipRole = 12;
constexpr size_t kLogIdxRelatedIndex = 13;
constexpr size_t kLogIdxRelatedTable = 17;
constexpr size_t kLogIdxCascadeUpdates = 21;
constexpr size_t kLogIdxCascadeDeletes = 22;
constexpr size_t kLogIdxType = 23;
constexpr uint8_t kLogIdxTypePrimaryKey = 1;
constexpr uint8_t kLogIdxTypeForeignKey = 2;

constexpr size_t kLongValueMapRecordSize = 10;
constexpr size_t kLvMapColumn = 0;
constexpr size_t kLvMapOwned = 2;
constexpr size_t kLvMapFree = 6;
constexpr uint16_t kLongValueMapEnd = 0xFFFF;

constexpr size_t kMaxNameCharacters = 64;
}  // namespace tdef

// Rows on data pages.
namespace row {
constexpr size_t kColumnCount = 0;  // u16 at the start of the row
constexpr size_t kFixedArea = 2;
constexpr size_t kMaxSize = 4060;
}  // namespace row

// Memo and OLE values: the 12-byte header in the row.
namespace longvalue {
constexpr size_t kHeaderSize = 12;
constexpr size_t kLengthAndKind = 0;
constexpr size_t kPointer = 4;
constexpr size_t kReserved = 8;
constexpr uint32_t kLengthMask = 0x3FFFFFFF;
constexpr uint32_t kKindMask = 0xC0000000;
constexpr uint32_t kKindInline = 0x80000000;
constexpr uint32_t kKindSingleRow = 0x40000000;
constexpr uint32_t kKindChain = 0x00000000;
constexpr size_t kMaxInline = 64;
constexpr size_t kChainPointerSize = 4;
constexpr size_t kMaxSingleRow = 4076;  // data bytes of one LVAL row
constexpr size_t kMaxChainPiece = kMaxSingleRow - kChainPointerSize;
}  // namespace longvalue

// Usage-map rows and usage-map pages.
namespace usagemap {
constexpr size_t kKind = 0;
constexpr uint8_t kKindInline = 0x00;
constexpr uint8_t kKindReference = 0x01;
constexpr size_t kInlineStartPage = 1;
constexpr size_t kInlineBitmap = 5;
constexpr size_t kReferencePages = 1;
constexpr size_t kMapPageBitmap = 4;  // type-0x05 page: 05 01 00 00, then bits
constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageBitmap) * 8;
constexpr uint32_t kGlobalMapPage = 1;
constexpr uint8_t kGlobalMapRow = 0;
constexpr size_t kMapPageReserved = 2;    // the two zero bytes after type and marker
constexpr size_t kStandardRowSize = 69;   // what Access writes: 64 bitmap bytes or 17 pointers
constexpr size_t kReferencePointerSize = 4;
}  // namespace usagemap

// Pointer form of a row id: row number in the low byte, page above it.
struct RowPointer {
    uint32_t page = 0;
    uint8_t row = 0;
    static RowPointer fromWord(uint32_t word) { return {word >> 8, uint8_t(word & 0xFF)}; }
    uint32_t toWord() const { return (page << 8) | row; }
    friend bool operator==(const RowPointer&, const RowPointer&) = default;
    friend auto operator<=>(const RowPointer&, const RowPointer&) = default;
};

}  // namespace varnika::jet

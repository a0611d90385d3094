#include "db/jet/file/jet_format.h"

#include "db/jet/file/page_file.h"

#include <cstring>

namespace varnika::jet {

namespace {

constexpr JetFormat kJet4{
    .version = JetVersion::Jet4,
    .pageSize = 4096,
    .codePage = 1252,
    .header = {.maskedLength = 128, .sortOrder = 0x6E, .sortVersion = 0x71, .passwordLength = 40, .datedPassword = true},
    .data = {.slotCount = 0x0C, .slotTable = 0x0E, .reserved = 0x08},
    .tdef = {.freeSpaceField = true,
             .constant = 0x0C,
             .rowCount = 0x10,
             .autoNumber = 0x14,
             .autoNumberFlag = 0x18,
             .tableType = 0x28,
             .maxColumns = 0x29,
             .varColumnCount = 0x2B,
             .columnCount = 0x2D,
             .indexCount = 0x2F,
             .realIndexCount = 0x33,
             .ownedPagesMap = 0x37,
             .freePagesMap = 0x3B,
             .variablePart = 0x3F,
             .realIndexCounterSize = 12,
             .columnSize = 25,
             .colConstant = 1,
             .colNumber = 5,
             .colVarIndex = 7,
             .colOrdinal = 9,
             .colSortOrder = 11,
             .colSortVersion = 14,
             .colCodePage = kAbsent,
             .colPrecision = 11,
             .colFlags = 15,
             .colExtraFlags = 16,
             .colFixedOffset = 21,
             .colLength = 23,
             .nameLengthSize = 2,
             .realIndexSize = 52,
             .realIdxConstant = 0,
             .realIdxColumns = 4,
             .realIdxUsageMap = 34,
             .realIdxRootPage = 38,
             .realIdxFlags = 46,
             .logicalIndexSize = 28,
             .logIdxConstant = 0,
             .logIdxNumber = 4,
             .logIdxRealIndex = 8,
             .logIdxRelationshipRole = 12,
             .logIdxRelatedIndex = 13,
             .logIdxRelatedTable = 17,
             .logIdxCascadeUpdates = 21,
             .logIdxCascadeDeletes = 22,
             .logIdxType = 23},
    .row = {.countSize = 2, .offsetSize = 2, .fixedArea = 2, .maxSize = 4060},
    .longValue = {.maxSingleRow = 4076, .maxChainPiece = 4072},
    .usageMap = {.standardRowSize = 69, .pagesPerMapPage = (4096 - 4) * 8},
    .index = {.unknown08 = 0x08,
              .prevPage = 0x0C,
              .nextPage = 0x10,
              .tailPage = 0x14,
              .prefixLength = 0x18,
              .prefixLengthSize = 2,
              .unknown1A = 0x1A,
              .bitmap = 0x1B,
              .bitmapSize = 453,
              .entryData = 0x1E0,
              .maxEntryData = 4096 - 0x1E0,
              .flagsAlwaysSet = 0x80},
};

// Access 97 writes 2 KB pages, one-byte counts and offsets in rows, and
// shorter descriptors without the Jet 4 constants.
constexpr JetFormat kJet3{
    .version = JetVersion::Jet3,
    .pageSize = 2048,
    .codePage = 1252,
    .header = {.maskedLength = 126, .sortOrder = 0x3A, .sortVersion = kAbsent, .passwordLength = 20, .datedPassword = false},
    .data = {.slotCount = 0x08, .slotTable = 0x0A, .reserved = kAbsent},
    .tdef = {.freeSpaceField = false,
             .constant = kAbsent,
             .rowCount = 0x0C,
             .autoNumber = 0x10,
             .autoNumberFlag = kAbsent,
             .tableType = 0x14,
             .maxColumns = 0x15,
             .varColumnCount = 0x17,
             .columnCount = 0x19,
             .indexCount = 0x1B,
             .realIndexCount = 0x1F,
             .ownedPagesMap = 0x23,
             .freePagesMap = 0x27,
             .variablePart = 0x2B,
             .realIndexCounterSize = 8,
             .columnSize = 18,
             .colConstant = 7,
             .colNumber = 1,
             .colVarIndex = 3,
             .colOrdinal = 5,
             .colSortOrder = 9,
             .colSortVersion = kAbsent,
             .colCodePage = 11,
             .colPrecision = 11,
             .colFlags = 13,
             .colExtraFlags = kAbsent,
             .colFixedOffset = 14,
             .colLength = 16,
             .nameLengthSize = 1,
             .realIndexSize = 39,
             .realIdxConstant = kAbsent,
             .realIdxColumns = 0,
             .realIdxUsageMap = 30,
             .realIdxRootPage = 34,
             .realIdxFlags = 38,
             .logicalIndexSize = 20,
             .logIdxConstant = kAbsent,
             .logIdxNumber = 0,
             .logIdxRealIndex = 4,
             .logIdxRelationshipRole = 8,
             .logIdxRelatedIndex = 9,
             .logIdxRelatedTable = 13,
             .logIdxCascadeUpdates = 17,
             .logIdxCascadeDeletes = 18,
             .logIdxType = 19},
    .row = {.countSize = 1, .offsetSize = 1, .fixedArea = 1, .maxSize = 2012},
    .longValue = {.maxSingleRow = 2032, .maxChainPiece = 2028},
    .usageMap = {.standardRowSize = 133, .pagesPerMapPage = (2048 - 4) * 8},
    .index = {.unknown08 = kAbsent,
              .prevPage = 0x08,
              .nextPage = 0x0C,
              .tailPage = 0x10,
              .prefixLength = 0x14,
              .prefixLengthSize = 1,
              .unknown1A = 0x15,
              .bitmap = 0x16,
              .bitmapSize = 226,
              .entryData = 0xF8,
              .maxEntryData = 2048 - 0xF8,
              .flagsAlwaysSet = 0x00},
};

static_assert(kJet4.pageSize <= kPageSize && kJet3.pageSize <= kPageSize, "a page must fit a PageBuffer");
static_assert(kJet3.index.bitmap + kJet3.index.bitmapSize == kJet3.index.entryData);

constexpr uint8_t kHeaderMagic[4] = {0x00, 0x01, 0x00, 0x00};
constexpr char kJetEngine[] = "Standard Jet DB";
constexpr size_t kEngineName = 0x04;
constexpr size_t kVersionByte = 0x14;
constexpr uint8_t kVersionJet3 = 0x00;

}  // namespace

const JetFormat& JetFormat::jet4() { return kJet4; }
const JetFormat& JetFormat::jet3() { return kJet3; }

Result<JetVersion> detectJetVersion(PageFile& file)
{
    uint8_t start[kVersionByte + 1] = {};
    if (file.size() < sizeof start) return JetVersion::Jet4;
    VK_RETURN_IF_ERROR(file.read(0, sizeof start, start));
    const bool jet = std::memcmp(start, kHeaderMagic, sizeof kHeaderMagic) == 0 &&
                     std::memcmp(start + kEngineName, kJetEngine, sizeof kJetEngine - 1) == 0;
    return jet && start[kVersionByte] == kVersionJet3 ? JetVersion::Jet3 : JetVersion::Jet4;
}

}  // namespace varnika::jet

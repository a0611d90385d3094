#include "db/jet/new_database.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/rc4.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace varnika::jet {
namespace {

// Fields that every Access-made Jet 4 header carries with the same values.
constexpr uint8_t kMagicBytes[4] = {0x00, 0x01, 0x00, 0x00};
constexpr char kEngineName[] = "Standard Jet DB";
constexpr size_t kMaskedConstants = 0x18;
constexpr uint8_t kMaskedConstantBytes[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                            0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr size_t kEngineVersionText = 0x98;
constexpr uint8_t kEngineVersionBytes[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};

// Fields of an Access 97 header whose meaning is unknown, with the values
// Access 97 files carry: a byte 1 at 0x38 (after unmasking), a word at 0x56,
// and from 0x600 the bytes 01 01 09 followed by 01 00 pairs to the end of
// the page.
constexpr size_t kJet3Unknown38 = 0x38;
constexpr uint8_t kJet3Unknown38Value = 0x01;
constexpr size_t kJet3Unknown56 = 0x56;
constexpr uint16_t kJet3Unknown56Value = 0x251E;
constexpr size_t kJet3Table = 0x600;
constexpr uint8_t kJet3TableStart[] = {0x01, 0x01, 0x09};
constexpr uint8_t kJet3TablePair[] = {0x01, 0x00};

PageBuffer buildJet3HeaderPage(const NewDatabaseOptions& options)
{
    const JetFormat& f = JetFormat::jet3();
    PageBuffer p{};
    uint8_t* b = p.data();
    std::memcpy(b + header::kMagic, kMagicBytes, sizeof kMagicBytes);
    std::memcpy(b + header::kEngineName, kEngineName, header::kEngineNameLength);
    b[header::kFormatVersion] = header::kVersionJet3;
    std::memcpy(b + kMaskedConstants, kMaskedConstantBytes, sizeof kMaskedConstantBytes);
    b[kJet3Unknown38] = kJet3Unknown38Value;
    putU16(b, f.header.sortOrder, options.sortOrderLcid);
    putU16(b, header::kCodePage, options.codePage);
    putU32(b, header::kEncodingKey, 0);  // the password bytes after it stay zero: no password
    putU16(b, kJet3Unknown56, kJet3Unknown56Value);
    rc4Apply(header::kRc4Key, b + header::kMaskedRegion, f.header.maskedLength);
    std::memcpy(b + kJet3Table, kJet3TableStart, sizeof kJet3TableStart);
    for (size_t at = kJet3Table + sizeof kJet3TableStart; at + sizeof kJet3TablePair <= f.pageSize; at += sizeof kJet3TablePair)
        std::memcpy(b + at, kJet3TablePair, sizeof kJet3TablePair);
    return p;
}

}  // namespace

JetFormat NewDatabaseOptions::format() const
{
    JetFormat f = JetFormat::of(version);
    f.codePage = codePage;
    return f;
}

double oleDateNow()
{
    using namespace std::chrono;
    double unixSeconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return 25569.0 + unixSeconds / 86400.0;  // 1970-01-01 is day 25569 of the OLE calendar
}

PageBuffer buildHeaderPage(const NewDatabaseOptions& options)
{
    if (options.version == JetVersion::Jet3) return buildJet3HeaderPage(options);
    PageBuffer p{};
    uint8_t* b = p.data();
    std::memcpy(b + header::kMagic, kMagicBytes, sizeof kMagicBytes);
    std::memcpy(b + header::kEngineName, kEngineName, header::kEngineNameLength);
    b[header::kFormatVersion] = header::kVersionJet4;
    std::memcpy(b + kMaskedConstants, kMaskedConstantBytes, sizeof kMaskedConstantBytes);
    putU16(b, header::kCodePage, options.codePage);
    putU32(b, header::kEncodingKey, 0);
    double created = options.creationDate != 0 ? options.creationDate : oleDateNow();
    // No password: the password field holds only the mask derived from the
    // creation date, which decodes to all zeros.
    uint32_t mask = uint32_t(int32_t(std::floor(created)));
    for (size_t i = 0; i < header::kPasswordLength; i += 4) putU32(b, header::kPassword + i, mask);
    putU16(b, header::kSortOrderLcid, options.sortOrderLcid);
    b[header::kSortOrderLcid + 2] = 0;
    b[header::kSortOrderVersion] = options.sortOrderVersion;
    uint64_t bits;
    std::memcpy(&bits, &created, 8);
    putU64(b, header::kCreationDate, bits);
    std::memcpy(b + kEngineVersionText, kEngineVersionBytes, sizeof kEngineVersionBytes);
    rc4Apply(header::kRc4Key, b + header::kMaskedRegion, header::kMaskedLengthJet4);
    return p;
}

PageBuffer buildGlobalMapPage(uint32_t pagesInUse, const JetFormat& format)
{
    // Both rows have the length Access gives map rows (69 bytes, 133 in Jet 3).
    const size_t rowBytes = format.usageMap.standardRowSize;
    PageBuffer p{};
    uint8_t* b = p.data();
    b[page::kType] = uint8_t(PageType::Data);
    b[page::kMarker] = page::kMarkerValue;
    putU32(b, datapage::kOwner, usagemap::kGlobalMapPage);
    putU16(b, format.data.slotCount, 2);
    size_t row0 = format.pageSize - rowBytes;
    size_t row1 = row0 - rowBytes;
    putU16(b, format.data.slotTable, uint16_t(row0));
    putU16(b, format.data.slotTable + datapage::kSlotSize, uint16_t(row1));
    putU16(b, datapage::kFreeSpace,
           uint16_t(row1 - (format.data.slotTable + 2 * datapage::kSlotSize)));
    b[row0 + usagemap::kKind] = usagemap::kKindInline;
    putU32(b, row0 + usagemap::kInlineStartPage, 0);
    uint8_t* bitmap = b + row0 + usagemap::kInlineBitmap;
    size_t bitmapBytes = rowBytes - usagemap::kInlineBitmap;
    std::memset(bitmap, 0xFF, bitmapBytes);
    for (uint32_t page = 0; page < pagesInUse && page < bitmapBytes * 8; ++page)
        bitmap[page / 8] &= uint8_t(~(1u << (page % 8)));
    return p;
}

}  // namespace varnika::jet

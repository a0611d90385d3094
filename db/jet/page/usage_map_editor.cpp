#include "db/jet/page/usage_map_editor.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"

#include <algorithm>
#include <map>
#include <string>

namespace varnika::jet {

namespace {

constexpr RowPointer kGlobalMap{usagemap::kGlobalMapPage, usagemap::kGlobalMapRow};
// Growing bitmaps in steps keeps page 1 from being rewritten with a longer
// row for every single page appended.
constexpr size_t kGrowthStepBytes = 16;

std::string mapName(RowPointer where)
{
    return "the usage map at page " + std::to_string(where.page) + " row " + std::to_string(where.row);
}

size_t inlineBits(const std::vector<uint8_t>& row)
{
    return (row.size() - usagemap::kInlineBitmap) * 8;
}

uint32_t inlineStart(const std::vector<uint8_t>& row)
{
    ByteReader r(row.data(), row.size());
    return r.u32(usagemap::kInlineStartPage);
}

bool bitAt(const uint8_t* bitmap, size_t i) { return (bitmap[i / 8] >> (i % 8)) & 1; }
void putBit(uint8_t* bitmap, size_t i, bool v)
{
    if (v) bitmap[i / 8] = uint8_t(bitmap[i / 8] | (1 << (i % 8)));
    else bitmap[i / 8] = uint8_t(bitmap[i / 8] & ~(1 << (i % 8)));
}

std::vector<uint32_t> inlinePages(const std::vector<uint8_t>& row)
{
    std::vector<uint32_t> out;
    uint32_t start = inlineStart(row);
    for (size_t i = 0; i < inlineBits(row); ++i)
        if (bitAt(row.data() + usagemap::kInlineBitmap, i)) out.push_back(uint32_t(start + i));
    return out;
}

size_t roundUp(size_t v, size_t step) { return (v + step - 1) / step * step; }

}  // namespace

PageBuffer makeUsageMapPage()
{
    PageBuffer p{};
    putU8(p.data(), page::kType, uint8_t(PageType::UsageMap));
    putU8(p.data(), page::kMarker, page::kMarkerValue);
    return p;
}

Result<UsageMapEditor::MapRow> UsageMapEditor::readMapRow(RowPointer where)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(m_pager, where));
    if (!row.slot.isBaseRow() || row.slot.isOverflowPointer())
        return corruption(mapName(where) + " is not a live row");
    MapRow m;
    auto b = row.bytes();
    m.bytes.assign(b.begin(), b.end());
    if (m.bytes.empty()) return corruption(mapName(where) + " is empty");
    uint8_t kind = m.bytes[usagemap::kKind];
    if (kind == usagemap::kKindInline && m.bytes.size() < usagemap::kInlineBitmap)
        return corruption(mapName(where) + " is too short");
    if (kind != usagemap::kKindInline && kind != usagemap::kKindReference)
        return corruption(mapName(where) + " has unknown kind " + std::to_string(kind));
    return m;
}

Status UsageMapEditor::writeMapRow(RowPointer where, const std::vector<uint8_t>& bytes)
{
    VK_ASSIGN_OR_RETURN(PageRef page, m_pager.read(where.page));
    VK_ASSIGN_OR_RETURN(DataPageEditor editor, DataPageEditor::open(*page, where.page, m_pager.format()));
    if (!editor.canReplaceRow(where.row, bytes.size()))
        return notSupported("page " + std::to_string(where.page) + " has no room to lengthen " + mapName(where));
    VK_RETURN_IF_ERROR(editor.replaceRow(where.row, bytes));
    return m_pager.write(where.page, editor.page());
}

Status UsageMapEditor::changeOwnerBit(RowPointer map, uint32_t page, bool value)
{
    VK_ASSIGN_OR_RETURN(MapRow m, readMapRow(map));
    std::vector<uint8_t>& row = m.bytes;
    if (row[usagemap::kKind] == usagemap::kKindReference) return changeReferenceBit(map, row, page, value);

    uint32_t start = inlineStart(row);
    if (page >= start && page - start < inlineBits(row)) {
        uint8_t* bitmap = row.data() + usagemap::kInlineBitmap;
        if (bitAt(bitmap, page - start) == value) return Status::ok();
        putBit(bitmap, page - start, value);
        return writeMapRow(map, row);
    }
    if (!value) return Status::ok();
    return growInlineOwnerMap(map, row, page);
}

Status UsageMapEditor::growInlineOwnerMap(RowPointer map, const std::vector<uint8_t>& row, uint32_t page)
{
    std::vector<uint32_t> pages = inlinePages(row);
    pages.push_back(page);
    auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
    uint32_t newStart = *lo - *lo % 8;
    size_t span = size_t(*hi - newStart) + 1;
    size_t bitmapBytes = row.size() - usagemap::kInlineBitmap;
    if (span > bitmapBytes * 8) bitmapBytes = roundUp((span + 7) / 8, kGrowthStepBytes);

    if (bitmapBytes <= std::max(kMaxInlineBitmapBytes, row.size() - usagemap::kInlineBitmap)) {
        std::vector<uint8_t> grown(usagemap::kInlineBitmap + bitmapBytes, 0);
        grown[usagemap::kKind] = usagemap::kKindInline;
        putU32(grown.data(), usagemap::kInlineStartPage, newStart);
        for (uint32_t p : pages) putBit(grown.data() + usagemap::kInlineBitmap, p - newStart, true);
        Status s = writeMapRow(map, grown);
        if (s.code() != ErrorCode::NotSupported || grown.size() == row.size()) return s;
        // No room on the map's page for a longer row: fall back to a
        // reference map, which keeps the row's length.
    }
    return convertToReference(map, row, pages);
}

Status UsageMapEditor::convertToReference(RowPointer map, const std::vector<uint8_t>& row, const std::vector<uint32_t>& pages)
{
    const size_t perMapPage = m_pager.format().usageMap.pagesPerMapPage;
    size_t pointers = (row.size() - usagemap::kReferencePages) / usagemap::kReferencePointerSize;
    std::map<size_t, PageBuffer> bitmaps;
    for (uint32_t p : pages) {
        size_t j = p / perMapPage;
        if (j >= pointers)
            return notSupported(mapName(map) + " is too short to refer to the bitmap of page " + std::to_string(p));
        auto it = bitmaps.find(j);
        if (it == bitmaps.end()) it = bitmaps.emplace(j, makeUsageMapPage()).first;
        putBit(it->second.data() + usagemap::kMapPageBitmap, p % perMapPage, true);
    }
    if (!m_source) return notSupported(mapName(map) + " would need a bitmap page, and none can be added here");
    std::vector<uint8_t> reference(row.size(), 0);
    reference[usagemap::kKind] = usagemap::kKindReference;
    for (auto& [j, contents] : bitmaps) {
        VK_ASSIGN_OR_RETURN(uint32_t mapPage, m_source->addMapPage(contents));
        putU32(reference.data(), usagemap::kReferencePages + j * usagemap::kReferencePointerSize, mapPage);
    }
    return writeMapRow(map, reference);
}

Status UsageMapEditor::changeReferenceBit(RowPointer map, std::vector<uint8_t> row, uint32_t page, bool value)
{
    const size_t perMapPage = m_pager.format().usageMap.pagesPerMapPage;
    size_t pointers = (row.size() - usagemap::kReferencePages) / usagemap::kReferencePointerSize;
    size_t j = page / perMapPage;
    size_t pointerAt = usagemap::kReferencePages + j * usagemap::kReferencePointerSize;
    uint32_t mapPage = 0;
    if (j < pointers) {
        ByteReader r(row.data(), row.size());
        mapPage = r.u32(pointerAt);
    }
    if (mapPage == 0) {
        if (!value) return Status::ok();
        if (j >= pointers)
            return notSupported(mapName(map) + " is too short to refer to the bitmap of page " + std::to_string(page));
        if (!m_source) return notSupported(mapName(map) + " would need a bitmap page, and none can be added here");
        PageBuffer contents = makeUsageMapPage();
        putBit(contents.data() + usagemap::kMapPageBitmap, page % perMapPage, true);
        VK_ASSIGN_OR_RETURN(uint32_t added, m_source->addMapPage(contents));
        putU32(row.data(), pointerAt, added);
        return writeMapRow(map, row);
    }
    if (mapPage >= m_pager.pageCount())
        return corruption(mapName(map) + " refers to a page past the end of the file");
    VK_ASSIGN_OR_RETURN(PageRef current, m_pager.read(mapPage));
    if ((*current)[page::kType] != uint8_t(PageType::UsageMap))
        return corruption(mapName(map) + " refers to page " + std::to_string(mapPage) + ", which is not a usage-map page");
    const size_t bit = page % perMapPage;
    if (bitAt(current->data() + usagemap::kMapPageBitmap, bit) == value) return Status::ok();
    auto copy = std::make_shared<PageBuffer>(*current);
    putBit(copy->data() + usagemap::kMapPageBitmap, bit, value);
    return m_pager.write(mapPage, std::move(copy));
}

Status UsageMapEditor::changeGlobalBit(uint32_t page, bool free)
{
    VK_ASSIGN_OR_RETURN(MapRow m, readMapRow(kGlobalMap));
    std::vector<uint8_t>& row = m.bytes;
    if (row[usagemap::kKind] == usagemap::kKindReference) return changeGlobalReferenceBit(row, page, free);

    // Pages outside an inline map's window count as in use. A page freed
    // there simply stays unused until the file is compacted, so only a page
    // coming into use past the window's end needs the window to follow it.
    uint32_t start = inlineStart(row);
    if (page < start) return Status::ok();
    size_t bit = page - start;
    if (bit < inlineBits(row)) {
        uint8_t* bitmap = row.data() + usagemap::kInlineBitmap;
        if (bitAt(bitmap, bit) == free) return Status::ok();
        putBit(bitmap, bit, free);
        return writeMapRow(kGlobalMap, row);
    }
    if (free) return Status::ok();

    // Lengthen the row while page 1 has room: pages now in the file are in
    // use, pages beyond its end are free, as in the maps Access writes.
    size_t oldBits = inlineBits(row);
    size_t bitmapBytes = roundUp(bit / 8 + 1, kGrowthStepBytes);
    std::vector<uint8_t> longer = row;
    longer.resize(usagemap::kInlineBitmap + bitmapBytes, 0);
    uint8_t* bitmap = longer.data() + usagemap::kInlineBitmap;
    for (size_t i = oldBits; i < bitmapBytes * 8; ++i)
        putBit(bitmap, i, uint64_t(start) + i >= m_pager.pageCount());
    putBit(bitmap, bit, false);
    Status lengthened = writeMapRow(kGlobalMap, longer);
    if (lengthened.code() != ErrorCode::NotSupported) return lengthened;
    return moveGlobalWindow(row, page);
}

Status UsageMapEditor::moveGlobalWindow(std::vector<uint8_t> row, uint32_t page)
{
    // The window moves forward to start at the new page (a multiple of 8),
    // which leaves the most room for the pages appended after it. Bits the
    // old and new windows share are kept; pages the old window did not
    // cover are recorded as in use (they may be), pages past the end of
    // the file as free. Pages left behind count as in use from now on.
    const uint32_t oldStart = inlineStart(row);
    const size_t bits = inlineBits(row);
    const std::vector<uint8_t> old(row.begin() + usagemap::kInlineBitmap, row.end());
    const uint32_t newStart = page - page % 8;
    putU32(row.data(), usagemap::kInlineStartPage, newStart);
    uint8_t* bitmap = row.data() + usagemap::kInlineBitmap;
    for (size_t i = 0; i < bits; ++i) {
        uint64_t p = uint64_t(newStart) + i;
        bool isFree = p >= m_pager.pageCount();
        if (p >= oldStart && p - oldStart < bits) isFree = bitAt(old.data(), size_t(p - oldStart));
        putBit(bitmap, i, isFree && p != page);
    }
    return writeMapRow(kGlobalMap, row);
}

Status UsageMapEditor::changeGlobalReferenceBit(std::vector<uint8_t> row, uint32_t page, bool free)
{
    const size_t perMapPage = m_pager.format().usageMap.pagesPerMapPage;
    // A page whose range has no bitmap page counts as in use, like a page
    // outside an inline map's window.
    const size_t pointers = (row.size() - usagemap::kReferencePages) / usagemap::kReferencePointerSize;
    const size_t j = page / perMapPage;
    if (j >= pointers) return Status::ok();
    const size_t pointerAt = usagemap::kReferencePages + j * usagemap::kReferencePointerSize;
    ByteReader r(row.data(), row.size());
    if (const uint32_t mapPage = r.u32(pointerAt); mapPage != 0) {
        // A bitmap page that is not one leaves its range unrecorded.
        if (mapPage >= m_pager.pageCount()) return Status::ok();
        VK_ASSIGN_OR_RETURN(PageRef bitmap, m_pager.read(mapPage));
        if ((*bitmap)[page::kType] != uint8_t(PageType::UsageMap)) return Status::ok();
        return changeReferenceBit(kGlobalMap, std::move(row), page, free);
    }
    if (free || !m_source) return Status::ok();

    // The file grew into a range without a bitmap page: add one, so that
    // pages freed there later are recorded. Pages now in the file are in
    // use; the others are free until they are appended (the bitmap page
    // itself among them: marking it used goes through this map again).
    PageBuffer contents = makeUsageMapPage();
    const uint64_t first = uint64_t(j) * perMapPage;
    for (size_t i = 0; i < perMapPage; ++i)
        if (first + i >= m_pager.pageCount()) putBit(contents.data() + usagemap::kMapPageBitmap, i, true);
    const uint32_t mapPage = m_pager.pageCount();
    putU32(row.data(), pointerAt, mapPage);
    VK_RETURN_IF_ERROR(writeMapRow(kGlobalMap, row));
    VK_ASSIGN_OR_RETURN(uint32_t added, m_source->addMapPage(contents));
    if (added != mapPage) return corruption("the bitmap page of the global usage map was not appended where expected");
    return Status::ok();
}

}  // namespace varnika::jet

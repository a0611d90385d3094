#pragma once
// Setting and clearing page bits in usage maps. A map is a row on a data
// page (usage_map.h reads it); changing it rewrites that row through the
// data page editor, or a bitmap page (type 0x05) of a reference map.
//
// Two roles differ in meaning and in how a map may grow:
// - an owner map (a table's owned or free-space pages, an index's pages, a
//   long-value column's pages): bit set = page belongs to the owner. When an
//   inline map does not cover a page, its start moves, or the row is
//   lengthened (up to kMaxInlineBitmapBytes), or it becomes a reference map;
// - the global map (page 1 row 0): bit set = page is free. A page outside
//   an inline map's window, or in a range for which a reference map has no
//   bitmap page, counts as in use: freeing it is not recorded. A page that
//   comes into use past an inline window's end lengthens the row while
//   page 1 has room, and otherwise moves the window forward; a reference
//   map gets a bitmap page for a range the file grows into.

#include "db/jet/page/page_layout.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <vector>

namespace varnika::jet {

// Supplies fresh bitmap pages (type 0x05) for reference maps: the page is
// written at a new page number that the global map then records as used.
class MapPageSource {
public:
    virtual ~MapPageSource() = default;
    virtual Result<uint32_t> addMapPage(const PageBuffer& contents) = 0;
};

// A type-0x05 page with every bit clear.
PageBuffer makeUsageMapPage();

class UsageMapEditor {
public:
    // Longest bitmap an owner map row is lengthened to before it is turned
    // into a reference map. Access itself writes rows of up to 100 bitmap
    // bytes; 128 keeps to the size every reader has met (Jet 3 maps).
    static constexpr size_t kMaxInlineBitmapBytes = 128;

    // `source` may be null: growth that needs a bitmap page is then refused.
    UsageMapEditor(Pager& pager, MapPageSource* source) : m_pager(pager), m_source(source) {}

    // Owner maps: page `page` belongs (setBit) or no longer belongs
    // (clearBit) to the map's owner. Clearing a page the map does not cover
    // is a no-op.
    Status setBit(RowPointer map, uint32_t page) { return changeOwnerBit(map, page, true); }
    Status clearBit(RowPointer map, uint32_t page) { return changeOwnerBit(map, page, false); }

    // The global map: page `page` is used / free.
    Status markUsed(uint32_t page) { return changeGlobalBit(page, false); }
    Status markFree(uint32_t page) { return changeGlobalBit(page, true); }

private:
    struct MapRow {
        std::vector<uint8_t> bytes;
    };
    Result<MapRow> readMapRow(RowPointer where);
    Status writeMapRow(RowPointer where, const std::vector<uint8_t>& bytes);
    Status changeOwnerBit(RowPointer map, uint32_t page, bool value);
    Status changeGlobalBit(uint32_t page, bool value);
    Status moveGlobalWindow(std::vector<uint8_t> row, uint32_t page);
    Status changeGlobalReferenceBit(std::vector<uint8_t> row, uint32_t page, bool free);
    Status changeReferenceBit(RowPointer map, std::vector<uint8_t> row, uint32_t page, bool value);
    Status growInlineOwnerMap(RowPointer map, const std::vector<uint8_t>& row, uint32_t page);
    Status convertToReference(RowPointer map, const std::vector<uint8_t>& row, const std::vector<uint32_t>& pages);

    Pager& m_pager;
    MapPageSource* m_source;
};

}  // namespace varnika::jet

#pragma once
// Usage maps: bitmaps of page numbers, stored as one row on a data page.
// An inline map holds its bitmap in the row; a reference map lists bitmap
// pages (type 0x05), each covering a fixed run of page numbers.

#include "db/jet/page_layout.h"
#include "db/jet/pager.h"
#include "db/status.h"

#include <cstdint>
#include <vector>

namespace varnika::jet {

class UsageMap {
public:
    // Reads the map row `where` points at and the bitmap pages it refers to.
    // Pages at or beyond the end of the file are dropped from the set for
    // owner maps (`clipToFile`); the global map keeps them (they are "free").
    static Result<UsageMap> load(Pager& pager, RowPointer where, bool clipToFile = true);

    // Page numbers whose bit is set, ascending.
    std::vector<uint32_t> pages() const;
    bool contains(uint32_t page) const;
    size_t count() const;

    RowPointer location() const { return m_location; }
    bool isInline() const { return m_inline; }
    uint32_t startPage() const { return m_start; }
    // Pages covered by the bitmap (inline maps), for writers.
    uint32_t coveredPages() const { return uint32_t(m_bits.size()); }

private:
    RowPointer m_location;
    bool m_inline = true;
    uint32_t m_start = 0;
    std::vector<bool> m_bits;  // bit i = page m_start + i
};

}  // namespace varnika::jet

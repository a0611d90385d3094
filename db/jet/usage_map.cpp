#include "db/jet/usage_map.h"

#include "db/jet/bytes.h"
#include "db/jet/data_page.h"

#include <algorithm>
#include <string>

namespace varnika::jet {

Result<UsageMap> UsageMap::load(Pager& pager, RowPointer where, bool clipToFile)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(pager, where));
    const std::string what = "the usage map at page " + std::to_string(where.page) + " row " + std::to_string(where.row);
    if (row.slot.isDeleted()) return corruption(what + " is a deleted row");
    ByteReader r(row.bytes());
    UsageMap map;
    map.m_location = where;
    uint8_t kind = r.u8(usagemap::kKind);
    if (!r.ok()) return corruption(what + " is empty");

    if (kind == usagemap::kKindInline) {
        map.m_inline = true;
        map.m_start = r.u32(usagemap::kInlineStartPage);
        if (!r.ok()) return corruption(what + " is too short");
        size_t bitmapBytes = r.size() - usagemap::kInlineBitmap;
        map.m_bits.assign(bitmapBytes * 8, false);
        for (size_t i = 0; i < bitmapBytes; ++i) {
            uint8_t b = r.u8(usagemap::kInlineBitmap + i);
            for (int bit = 0; bit < 8; ++bit)
                if (b & (1 << bit)) map.m_bits[i * 8 + size_t(bit)] = true;
        }
    } else if (kind == usagemap::kKindReference) {
        map.m_inline = false;
        map.m_start = 0;
        size_t pointers = (r.size() - usagemap::kReferencePages) / 4;
        for (size_t j = 0; j < pointers; ++j) {
            uint32_t mapPage = r.u32(usagemap::kReferencePages + j * 4);
            if (mapPage == 0) continue;
            if (mapPage >= pager.pageCount()) return corruption(what + " refers to a page past the end of the file");
            VK_ASSIGN_OR_RETURN(PageRef page, pager.read(mapPage));
            if ((*page)[page::kType] != uint8_t(PageType::UsageMap))
                return corruption(what + " refers to page " + std::to_string(mapPage) + ", which is not a usage-map page");
            size_t base = j * usagemap::kPagesPerMapPage;
            if (map.m_bits.size() < base + usagemap::kPagesPerMapPage) map.m_bits.resize(base + usagemap::kPagesPerMapPage, false);
            for (size_t i = 0; i < kPageSize - usagemap::kMapPageBitmap; ++i) {
                uint8_t b = (*page)[usagemap::kMapPageBitmap + i];
                if (!b) continue;
                for (int bit = 0; bit < 8; ++bit)
                    if (b & (1 << bit)) map.m_bits[base + i * 8 + size_t(bit)] = true;
            }
        }
    } else {
        return corruption(what + " has unknown kind " + std::to_string(kind));
    }

    if (clipToFile) {
        uint32_t limit = pager.pageCount();
        for (size_t i = 0; i < map.m_bits.size(); ++i)
            if (map.m_bits[i] && uint64_t(map.m_start) + i >= limit) map.m_bits[i] = false;
    }
    return map;
}

std::vector<uint32_t> UsageMap::pages() const
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < m_bits.size(); ++i)
        if (m_bits[i]) out.push_back(uint32_t(m_start + i));
    return out;
}

bool UsageMap::contains(uint32_t page) const
{
    if (page < m_start) return false;
    size_t i = page - m_start;
    return i < m_bits.size() && m_bits[i];
}

size_t UsageMap::count() const
{
    return size_t(std::count(m_bits.begin(), m_bits.end(), true));
}

}  // namespace varnika::jet

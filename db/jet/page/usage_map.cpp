#include "db/jet/page/usage_map.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace varnika::jet {

Result<UsageMap> UsageMap::load(Pager& pager, RowPointer where, bool ownerMap)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(pager, where));
    auto what = [where] { return "the usage map at page " + std::to_string(where.page) + " row " + std::to_string(where.row); };
    if (row.slot.isDeleted()) return corruption(what() + " is a deleted row");
    ByteReader r(row.bytes());
    UsageMap map;
    map.m_location = where;
    uint8_t kind = r.u8(usagemap::kKind);
    if (!r.ok()) return corruption(what() + " is empty");

    if (kind == usagemap::kKindInline) {
        map.m_inline = true;
        map.m_start = r.u32(usagemap::kInlineStartPage);
        if (!r.ok()) return corruption(what() + " is too short");
        size_t bitmapBytes = r.size() - usagemap::kInlineBitmap;
        map.resizeBits(bitmapBytes * 8);
        for (size_t i = 0; i < bitmapBytes; ++i)
            map.m_words[i / 8] |= uint64_t(r.u8(usagemap::kInlineBitmap + i)) << (8 * (i % 8));
    } else if (kind == usagemap::kKindReference) {
        map.m_inline = false;
        map.m_start = 0;
        size_t pointers = (r.size() - usagemap::kReferencePages) / 4;
        for (size_t j = 0; j < pointers; ++j) {
            uint32_t mapPage = r.u32(usagemap::kReferencePages + j * 4);
            if (mapPage == 0) continue;
            // The global map is only a record of free pages: a bitmap page
            // it cannot use leaves its range unrecorded (in use), as if
            // the pointer were empty. An owner map must be whole.
            if (mapPage >= pager.pageCount()) {
                if (!ownerMap) {
                    ++map.m_unusablePointers;
                    continue;
                }
                return corruption(what() + " refers to a page past the end of the file");
            }
            VK_ASSIGN_OR_RETURN(PageRef page, pager.read(mapPage));
            if ((*page)[page::kType] != uint8_t(PageType::UsageMap)) {
                if (!ownerMap) {
                    ++map.m_unusablePointers;
                    continue;
                }
                return corruption(what() + " refers to page " + std::to_string(mapPage) + ", which is not a usage-map page");
            }
            map.m_bitmapPages.push_back(mapPage);
            const size_t covered = pager.format().usageMap.pagesPerMapPage;
            size_t base = j * covered;
            if (map.m_bitCount < base + covered) map.resizeBits(base + covered);
            // Each map page covers a whole number of bytes' worth of pages
            // starting at a multiple of 8, so a byte never straddles two words.
            static_assert(usagemap::kPagesPerMapPage % 8 == 0);  // and so for 2 KB pages
            const uint8_t* bits = page->data() + usagemap::kMapPageBitmap;
            const size_t bitmapBytes = pager.pageSize() - usagemap::kMapPageBitmap;
            auto addByte = [&](size_t i, uint8_t b) {
                const size_t first = base + i * 8;
                map.m_words[first / 64] |= uint64_t(b) << (first % 64);
            };
            // Most of a map is zero: eight bytes are looked at together,
            // and only those holding a set bit are taken one by one.
            size_t i = 0;
            for (; i + 8 <= bitmapBytes; i += 8) {
                uint64_t eight;
                std::memcpy(&eight, bits + i, sizeof eight);
                if (eight == 0) continue;
                for (size_t k = i; k < i + 8; ++k)
                    if (bits[k]) addByte(k, bits[k]);
            }
            for (; i < bitmapBytes; ++i)
                if (bits[i]) addByte(i, bits[i]);
        }
    } else {
        return corruption(what() + " has unknown kind " + std::to_string(kind));
    }

    if (ownerMap) {
        // An owner's page past the end of the file means the file was cut
        // short or damaged: reading on would show a smaller table.
        const uint32_t limit = pager.pageCount();
        if (std::optional<uint32_t> last = map.previousPage(UINT32_MAX); last && *last >= limit)
            return corruption("the file is damaged or cut short: " + what() + " lists page " + std::to_string(*last) +
                              ", past the end of the file (" + std::to_string(limit) + " pages)");
    }
    return map;
}

void UsageMap::resizeBits(size_t bits)
{
    m_bitCount = bits;
    m_words.resize((bits + 63) / 64, 0);
    if (bits % 64) m_words.back() &= (uint64_t(1) << (bits % 64)) - 1;
}

std::vector<uint32_t> UsageMap::pages() const
{
    std::vector<uint32_t> out;
    for (size_t w = 0; w < m_words.size(); ++w) {
        for (uint64_t word = m_words[w]; word; word &= word - 1)
            out.push_back(uint32_t(m_start + w * 64 + size_t(std::countr_zero(word))));
    }
    return out;
}

bool UsageMap::contains(uint32_t page) const
{
    if (page < m_start) return false;
    return bit(page - m_start);
}

std::optional<uint32_t> UsageMap::previousPage(uint32_t before) const
{
    if (before <= m_start || m_bitCount == 0) return std::nullopt;
    size_t end = std::min<size_t>(before - m_start, m_bitCount);  // bits [0, end) qualify
    size_t w = (end - 1) / 64;
    uint64_t word = m_words[w];
    if (end % 64) word &= (uint64_t(1) << (end % 64)) - 1;
    for (;;) {
        if (word) return uint32_t(m_start + w * 64 + 63 - size_t(std::countl_zero(word)));
        if (w == 0) return std::nullopt;
        word = m_words[--w];
    }
}

bool UsageMap::assignPage(uint32_t page, bool value)
{
    if (page < m_start || page - m_start >= m_bitCount) return false;
    const size_t i = page - m_start;
    const uint64_t mask = uint64_t(1) << (i % 64);
    if (value) m_words[i / 64] |= mask;
    else m_words[i / 64] &= ~mask;
    return true;
}

size_t UsageMap::count() const
{
    size_t n = 0;
    for (uint64_t word : m_words) n += size_t(std::popcount(word));
    return n;
}

}  // namespace varnika::jet

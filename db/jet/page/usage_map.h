#pragma once
// Usage maps: bitmaps of page numbers, stored as one row on a data page.
// An inline map holds its bitmap in the row; a reference map lists bitmap
// pages (type 0x05), each covering a fixed run of page numbers.

#include "db/jet/page/page_layout.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace varnika::jet {

class UsageMap {
public:
    // Reads the map row `where` points at and the bitmap pages it refers to.
    // An owner map (`ownerMap`) that lists a page at or beyond the end of
    // the file is a Corruption (the file was cut short); the global map
    // keeps such pages, which it records as free.
    static Result<UsageMap> load(Pager& pager, RowPointer where, bool ownerMap = true);

    // Page numbers whose bit is set, ascending.
    std::vector<uint32_t> pages() const;
    bool contains(uint32_t page) const;
    // The highest page with its bit set that is below `before`, if any: a
    // walk from the end without listing every page.
    std::optional<uint32_t> previousPage(uint32_t before) const;
    size_t count() const;
    // Sets or clears the bit of `page`, for a map kept in step with a change
    // made to its row or bitmap page; false (and nothing changed) when the
    // map does not cover `page`.
    bool assignPage(uint32_t page, bool value);

    RowPointer location() const { return m_location; }
    bool isInline() const { return m_inline; }
    uint32_t startPage() const { return m_start; }
    // Pages covered by the bitmap (inline maps), for writers.
    uint32_t coveredPages() const { return uint32_t(m_bitCount); }
    // The global map only: bitmap pages it names that are past the end of
    // the file or not bitmap pages (their ranges count as in use).
    size_t unusablePointers() const { return m_unusablePointers; }
    // Reference maps: the bitmap pages (type 0x05) the row names.
    const std::vector<uint32_t>& bitmapPages() const { return m_bitmapPages; }

private:
    RowPointer m_location;
    bool m_inline = true;
    uint32_t m_start = 0;
    // Bit i (word i / 64, bit i % 64) = page m_start + i.
    std::vector<uint64_t> m_words;
    size_t m_bitCount = 0;
    size_t m_unusablePointers = 0;
    std::vector<uint32_t> m_bitmapPages;

    void resizeBits(size_t bits);
    void setBit(size_t i) { m_words[i / 64] |= uint64_t(1) << (i % 64); }
    bool bit(size_t i) const { return i < m_bitCount && (m_words[i / 64] >> (i % 64)) & 1; }
};

}  // namespace varnika::jet

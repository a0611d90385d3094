#pragma once
// The pages the pager keeps for reading again: at most `limit` of them, the
// least recently used going first. A scan reads every page of a table once
// and a run reads a few pages again and again, so keeping a page costs no
// allocation once the cache is full: the pages sit in slots linked from the
// most to the least recently used and are found through an open-addressed
// table of slot numbers. A page pushed out whose bytes nobody else holds
// leaves its buffer for a page read next (a few are kept, for the pages a
// read ahead brings in at once).

#include "db/jet/file/page_buffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace varnika::jet {

class PageCache {
public:
    explicit PageCache(size_t limit);

    // The page's bytes, the page now the most recently used; null when the
    // page is not kept. Good until the cache next changes.
    const PageRef* find(uint32_t page);
    // Keeps `bytes` as the page's, the most recently used; when full, the
    // least recently used page goes.
    void put(uint32_t page, PageRef bytes);
    void erase(uint32_t page);
    // Lets go of every page from `first` on.
    void eraseFrom(uint32_t first);

    // A buffer a page pushed out left, which nobody else holds; null when
    // there is none.
    std::shared_ptr<PageBuffer> takeSpare();
    // Whether the page is kept, without making it the most recently used.
    bool contains(uint32_t page) const { return slotOf(page) != kNone; }

    size_t size() const { return m_count; }
    size_t limit() const { return m_limit; }

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr size_t kMaxLimit = size_t(1) << 24;  // more pages than any file has
    static constexpr size_t kMostSpares = 64;
    struct Slot {
        uint32_t page = 0;
        uint32_t prev = kNone;  // more recently used
        uint32_t next = kNone;  // less recently used; in the free list, the next free slot
        PageRef bytes;
    };

    size_t home(uint32_t page) const { return size_t((page * 0x9E3779B1u) >> m_shift); }
    // The place in the table that holds the page's slot, or the empty place
    // where it would go.
    size_t placeOf(uint32_t page) const;
    uint32_t slotOf(uint32_t page) const { return m_table[placeOf(page)]; }
    // Takes the page out of the table, moving later entries of its run back.
    void unindex(uint32_t page);
    void unlink(uint32_t slot);
    void linkFront(uint32_t slot);
    // Frees a slot that holds a page: out of the table, the list and the
    // bytes (kept as the spare when nobody else holds them).
    void release(uint32_t slot);

    size_t m_limit;
    unsigned m_shift = 0;            // 32 - log2(table size)
    std::vector<uint32_t> m_table;   // slot numbers, kNone where empty; at least twice the limit
    std::vector<Slot> m_slots;
    uint32_t m_front = kNone;        // most recently used
    uint32_t m_back = kNone;         // least recently used
    uint32_t m_free = kNone;         // slots released, linked by `next`
    size_t m_count = 0;
    std::vector<std::shared_ptr<PageBuffer>> m_spares;
};

}  // namespace varnika::jet

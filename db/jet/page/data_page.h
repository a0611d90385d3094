#pragma once
// Reading the slots of a data page. Rows are packed from the end of the page
// towards the slot table in slot order, so a row's length is the distance to
// its neighbour's offset.

#include "db/jet/page/page_layout.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <span>
#include <array>
#include <vector>

namespace varnika::jet {

struct Slot {
    uint16_t offset = 0;  // first byte of the row within the page
    uint16_t length = 0;
    uint16_t flags = 0;   // kSlotLookup / kSlotNotBaseRow bits
    bool isDeleted() const { return (flags & datapage::kSlotDeleted) == datapage::kSlotDeleted; }
    bool isOverflowPointer() const { return flags == datapage::kSlotLookup; }  // header slot of a moved row
    bool isOverflowTarget() const { return flags == datapage::kSlotNotBaseRow; }
    bool isBaseRow() const { return (flags & datapage::kSlotNotBaseRow) == 0; }  // counted by a table scan
};

// A validated view of a data page's header and slot table. The page bytes
// are shared with the pager's cache and stay alive with the view.
class DataPageView {
public:
    // Checks the page type, the slot count and every slot offset: offsets
    // never increase and every row lies between the slot table and the end
    // of the page. Anything else is a Corruption naming the page.
    static Result<DataPageView> parse(PageRef page, uint32_t pageNumber, const JetFormat& format = JetFormat::jet4());

    uint32_t pageNumber() const { return m_pageNumber; }
    uint32_t owner() const;
    uint16_t freeSpace() const;
    int slotCount() const { return int(m_slots.size()); }
    const Slot& slot(int index) const { return m_slots[size_t(index)]; }
    std::span<const uint8_t> rowBytes(int index) const;
    const PageRef& page() const { return m_page; }
    // Free space as the slot table and rows imply it.
    size_t computedFreeSpace() const;

private:
    PageRef m_page;
    uint32_t m_pageNumber = 0;
    const JetFormat* m_format = &JetFormat::jet4();
    std::vector<Slot> m_slots;
};

// The bytes of one row addressed by a row pointer, with the page kept alive.
struct RowBytes {
    PageRef page;
    Slot slot;
    std::span<const uint8_t> bytes() const { return {page->data() + slot.offset, slot.length}; }
};

// Reads the row `ptr` points at. A missing page or slot is a Corruption.
Result<RowBytes> readRowAt(Pager& pager, RowPointer ptr);

// The slot tables of the last few data pages read, as readRowAt checks
// them, kept with the very bytes they were checked in: a row of a page
// whose bytes are unchanged since is found without walking its slot table
// again. (A page's bytes are never changed in place while held, so equal
// references mean equal bytes.)
class SlotTableMemo {
public:
    // readRowAt(pager, ptr), with the same refusals.
    Result<RowBytes> read(Pager& pager, RowPointer ptr);
    // A page read through this memo before, now holding `bytes` whose slot
    // table is known without reading it (the editor that wrote the bytes
    // laid them out): kept as if read. A page not read before is left out,
    // as nothing will read it soon.
    void refresh(uint32_t page, PageRef bytes, std::span<const Slot> known)
    {
        for (Entry& entry : m_entries) {
            if (!entry.bytes || entry.page != page) continue;
            entry.slotTable.assign(known.begin(), known.end());
            entry.bytes = std::move(bytes);
            return;
        }
    }

private:
    struct Entry {
        uint32_t page = 0;
        PageRef bytes;
        std::vector<Slot> slotTable;
    };
    static constexpr size_t kPages = 4;
    std::array<Entry, kPages> m_entries;
    size_t m_next = 0;
};

// The place a moved row's header slot (`slot`, of the row at `header`)
// points at: its first 4 bytes. Access often leaves the slot its old length,
// the rest being stale bytes of the row before it moved; they are never
// read. A header shorter than its pointer, or one that points at itself, is
// a Corruption.
Result<RowPointer> overflowPointerOf(std::span<const uint8_t> slot, RowPointer header);

}  // namespace varnika::jet

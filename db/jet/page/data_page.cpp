#include "db/jet/page/data_page.h"

#include "db/jet/file/bytes.h"

#include <optional>
#include <string>

namespace varnika::jet {

namespace {

// Checks a data page's header and slot table as DataPageView::parse
// describes, handing each slot to `take` in order.
template <typename Take>
Status walkSlots(const PageBuffer& page, uint32_t pageNumber, const JetFormat& format, Take&& take)
{
    ByteReader r(page.data(), format.pageSize);
    auto where = [pageNumber] { return "data page " + std::to_string(pageNumber); };
    if (r.u8(page::kType) != uint8_t(PageType::Data)) return corruption(where() + " is not a data page");
    size_t count = r.u16(format.data.slotCount);
    if (count > datapage::kMaxSlots) return corruption(where() + " claims " + std::to_string(count) + " rows");
    size_t tableEnd = format.data.slotTable + count * datapage::kSlotSize;
    if (tableEnd > format.pageSize) return corruption(where() + " has a slot table past the end of the page");
    take.count(count);
    // The whole slot table lies within the page (checked above).
    const uint8_t* table = page.data() + format.data.slotTable;
    size_t previous = format.pageSize;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* at = table + i * datapage::kSlotSize;
        const uint16_t word = uint16_t(at[0] | (at[1] << 8));
        Slot s;
        s.flags = word & datapage::kSlotDeleted;
        size_t offset = word & datapage::kSlotOffsetMask;
        if (offset > previous || offset < tableEnd) {
            // A deleted slot carries no bytes; Access sometimes leaves its
            // offset stale. Treat it as empty at the previous row's start.
            if (s.isDeleted()) offset = previous;
            else return corruption(where() + " row " + std::to_string(i) + " lies outside the page's row area");
        }
        s.offset = uint16_t(offset);
        s.length = uint16_t(previous - offset);
        take.slot(i, s);
        previous = offset;
    }
    return Status::ok();
}

// Keeps every slot walkSlots hands over.
struct KeepSlots {
    std::vector<Slot>& slots;
    void count(size_t n) { slots.resize(n); }
    void slot(size_t i, const Slot& s) { slots[i] = s; }
};

}  // namespace

Result<DataPageView> DataPageView::parse(PageRef page, uint32_t pageNumber, const JetFormat& format)
{
    DataPageView view;
    VK_RETURN_IF_ERROR(walkSlots(*page, pageNumber, format, KeepSlots{view.m_slots}));
    view.m_page = std::move(page);
    view.m_pageNumber = pageNumber;
    view.m_format = &format;
    return view;
}

uint32_t DataPageView::owner() const
{
    ByteReader r(m_page->data(), m_page->size());
    return r.u32(datapage::kOwner);
}

uint16_t DataPageView::freeSpace() const
{
    ByteReader r(m_page->data(), m_page->size());
    return r.u16(datapage::kFreeSpace);
}

std::span<const uint8_t> DataPageView::rowBytes(int index) const
{
    const Slot& s = m_slots[size_t(index)];
    return {m_page->data() + s.offset, s.length};
}

size_t DataPageView::computedFreeSpace() const
{
    size_t used = m_format->data.slotTable + m_slots.size() * datapage::kSlotSize;
    for (const Slot& s : m_slots) used += s.length;
    return used <= m_format->pageSize ? m_format->pageSize - used : 0;
}

Result<RowBytes> readRowAt(Pager& pager, RowPointer ptr)
{
    // The whole slot table is checked, as by DataPageView::parse, but only
    // the one slot is kept.
    struct Pick {
        size_t wanted;
        std::optional<Slot> found;
        void count(size_t) {}
        void slot(size_t i, const Slot& s)
        {
            if (i == wanted) found = s;
        }
    };
    VK_ASSIGN_OR_RETURN(PageRef page, pager.read(ptr.page));
    Pick pick{ptr.row, std::nullopt};
    VK_RETURN_IF_ERROR(walkSlots(*page, ptr.page, pager.format(), pick));
    if (!pick.found)
        return corruption("row " + std::to_string(ptr.row) + " of page " + std::to_string(ptr.page) +
                          " does not exist");
    return RowBytes{std::move(page), *pick.found};
}

Result<RowBytes> SlotTableMemo::read(Pager& pager, RowPointer ptr)
{
    VK_ASSIGN_OR_RETURN(PageRef page, pager.read(ptr.page));
    Entry* entry = nullptr;
    for (Entry& e : m_entries)
        if (e.bytes == page && e.page == ptr.page) entry = &e;
    if (!entry) {
        entry = &m_entries[m_next];
        m_next = (m_next + 1) % kPages;
        entry->bytes.reset();
        entry->slotTable.clear();
        VK_RETURN_IF_ERROR(walkSlots(*page, ptr.page, pager.format(), KeepSlots{entry->slotTable}));
        entry->page = ptr.page;
        entry->bytes = page;
    }
    if (ptr.row >= entry->slotTable.size())
        return corruption("row " + std::to_string(ptr.row) + " of page " + std::to_string(ptr.page) + " does not exist");
    return RowBytes{std::move(page), entry->slotTable[ptr.row]};
}

Result<RowPointer> overflowPointerOf(std::span<const uint8_t> slot, RowPointer header)
{
    auto where = [header] { return "row " + std::to_string(header.row) + " of page " + std::to_string(header.page); };
    if (slot.size() < datapage::kOverflowPointerSize) return corruption(where() + " has a damaged overflow pointer");
    ByteReader r(slot.first(datapage::kOverflowPointerSize));
    RowPointer target = RowPointer::fromWord(r.u32(0));
    if (target == header) return corruption("the overflow pointer of " + where() + " points at itself");
    return target;
}

}  // namespace varnika::jet

#pragma once
// Changing the rows of one data page in memory. The editor works on its own
// copy of the page; the caller writes page() back through the Pager. Every
// change keeps the page readable by every reader: rows stay packed from the
// end of the page in slot order, slot numbers never change (index entries,
// overflow pointers and long-value pointers name them), and the free-space
// field always equals what the slot table implies.

#include "db/jet/file/jet_format.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace varnika::jet {

// A fresh, empty data page: no slots, full free space. `owner` is the TDEF
// page of the table, datapage::kLongValueOwner for long-value pages, or 0
// for pages holding usage-map rows.
PageBuffer makeDataPage(uint32_t owner, const JetFormat& format = JetFormat::jet4());

// Checks the data-page rules every reader relies on: type and marker bytes,
// slot count, non-increasing offsets inside the row area, no unknown flag
// bits, overflow headers long enough for their pointer, and a free-space
// field equal to the computed one. A deleted slot may carry a stale offset
// (Access leaves some); it then counts as empty. Any other departure is a
// Corruption naming the page and slot.
Status checkDataPage(std::span<const uint8_t> page, uint32_t pageNumber, const JetFormat& format = JetFormat::jet4());

// The page an editor changes, held on the heap: an editor handed back from
// open() moves without copying the page's bytes, and the pager takes them
// over as they are (one allocation, with their count of holders).
class EditedPage {
public:
    // Empty until bytes are assigned: every editor is made from a page.
    EditedPage() = default;
    EditedPage(const EditedPage& other)
        : m_bytes(other.m_bytes ? std::make_shared<PageBuffer>(*other.m_bytes) : nullptr) {}
    EditedPage(EditedPage&&) noexcept = default;
    EditedPage& operator=(const EditedPage& other)
    {
        if (!other.m_bytes) m_bytes.reset();
        else *this = *other.m_bytes;
        return *this;
    }
    EditedPage& operator=(EditedPage&&) noexcept = default;
    EditedPage& operator=(const PageBuffer& bytes)
    {
        if (m_bytes) *m_bytes = bytes;
        else m_bytes = std::make_shared<PageBuffer>(bytes);
        return *this;
    }

    const PageBuffer& bytes() const { return *m_bytes; }
    std::shared_ptr<PageBuffer> release() { return std::move(m_bytes); }
    uint8_t* data() { return m_bytes->data(); }
    const uint8_t* data() const { return m_bytes->data(); }
    static constexpr size_t size() { return kPageSize; }
    PageBuffer::iterator begin() { return m_bytes->begin(); }
    PageBuffer::iterator end() { return m_bytes->end(); }
    uint8_t& operator[](size_t i) { return (*m_bytes)[i]; }

private:
    std::shared_ptr<PageBuffer> m_bytes;  // held by nothing else until released
};

class DataPageEditor {
public:
    // Copies and parses `page`; a page that fails checkDataPage() is refused.
    static Result<DataPageEditor> open(const PageBuffer& page, uint32_t pageNumber,
                                       const JetFormat& format = JetFormat::jet4());
    // The same for bytes checkDataPage() has accepted as they are now: they
    // are not checked again.
    static Result<DataPageEditor> openAccepted(const PageBuffer& page, uint32_t pageNumber,
                                               const JetFormat& format = JetFormat::jet4());
    // An editor over a fresh page from makeDataPage(owner).
    static DataPageEditor create(uint32_t pageNumber, uint32_t owner, const JetFormat& format = JetFormat::jet4());

    // An editor's reading of the slots of the page it holds.
    using Slots = std::vector<Slot>;
    // An editor over bytes an editor handed over, with the slots it read:
    // neither checked nor parsed again. Only for those very bytes.
    static DataPageEditor reopen(const PageBuffer& page, uint32_t pageNumber, Slots known,
                                 const JetFormat& format = JetFormat::jet4());

    const PageBuffer& page() const { return m_page.bytes(); }
    // Hands the page's bytes over (to Pager::write); the editor is spent.
    std::shared_ptr<PageBuffer> takePage() && { return m_page.release(); }
    // The same, with the editor's slots, for reopen().
    std::pair<std::shared_ptr<PageBuffer>, Slots> handOver() && { return {m_page.release(), std::move(m_slots)}; }
    uint32_t pageNumber() const { return m_pageNumber; }
    uint32_t owner() const;
    int slotCount() const { return int(m_slots.size()); }
    uint16_t slotFlags(int slot) const { return m_slots[size_t(slot)].flags; }
    // The bytes of a slot; empty for an unknown slot number.
    std::span<const uint8_t> rowBytes(int slot) const;
    size_t freeSpace() const;

    // Whether a new slot of `length` bytes fits (room and slot count).
    bool canAddRow(size_t length) const;
    // Whether slot `slot` can take `length` bytes, compacting if needed.
    bool canReplaceRow(int slot, size_t length) const;

    // Adds a slot at the end of the slot table. `flags` is 0 for a base row
    // or kSlotNotBaseRow for an overflow target. A full page (no room or 255
    // slots) is InvalidArgument; callers test canAddRow() first.
    Result<int> addRow(std::span<const uint8_t> bytes, uint16_t flags = 0);
    Result<int> addOverflowTarget(std::span<const uint8_t> bytes)
    {
        return addRow(bytes, datapage::kSlotNotBaseRow);
    }

    // Replaces the bytes of a live base row or overflow target. Same length:
    // overwritten in place; otherwise the page is compacted around the new
    // bytes. Flags are kept.
    Status replaceRow(int slot, std::span<const uint8_t> bytes);
    // As replaceRow(), but a row not longer than the old one is padded with
    // zero bytes inserted at `padAt` (a position inside the new row where the
    // row format allows filler) so that no other row moves.
    Status replaceRowPadded(int slot, std::span<const uint8_t> bytes, size_t padAt);

    // Marks a slot deleted (both flag bits) and gives its bytes back.
    Status markDeleted(int slot);
    // Turns a base row (or an existing header) into an overflow header: the
    // slot keeps its number, gets the lookup flag only and holds the 4-byte
    // pointer to the row's new place.
    Status makeOverflowHeader(int slot, RowPointer target);

    // Rewrites the row area: deleted slots become empty, overflow headers
    // their 4 pointer bytes; every other row keeps its bytes and flags.
    void compact();

private:
    using Entry = Slot;
    DataPageEditor() = default;
    size_t slotTableEnd(size_t slots) const;
    size_t usedBytes() const;
    // Lays every row out again from the end of the page; `replacement`
    // (when slot >= 0) supplies the new bytes of that slot.
    void rebuild(int slot, std::span<const uint8_t> replacement, uint16_t newFlags);
    // rebuild() of a page already compact: the rows after `slot` move by
    // its change in length, the others stay. False (nothing changed) when
    // the page is not compact.
    bool shiftInPlace(int slot, std::span<const uint8_t> replacement, uint16_t newFlags);
    void writeSlotTable();

    EditedPage m_page;
    uint32_t m_pageNumber = 0;
    const JetFormat* m_format = &JetFormat::jet4();
    std::vector<Entry> m_slots;
};

}  // namespace varnika::jet

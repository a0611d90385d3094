#pragma once
// The rows of one table at the page level: adding, replacing and deleting
// encoded rows on the table's data pages. A row is always addressed by its
// header slot, the (page, slot) that index entries and record sets name;
// that address never changes. A row that outgrows its page moves to another
// page of the table as an overflow target (flag 0x8000 only) and its header
// slot becomes a 4-byte pointer (flag 0x4000 only); a moved row that moves
// again re-points the same header, so pointers never chain.
//
// Changes go to the Pager as dirty pages; one engine operation is one
// commit(), and the caller rolls back on any failure.

#include "db/jet/page/page_allocator.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace varnika::jet {

class DataPageEditor;

// Where a table's rows live: its TDEF page and its two usage maps.
struct TablePages {
    uint32_t tdefPage = 0;
    RowPointer ownedMap;
    RowPointer freeSpaceMap;
};

class RowStore {
public:
    RowStore(PageAllocator& allocator, TablePages table) : m_allocator(allocator), m_table(table) {}

    // Adds a base row on the highest page with room, or on a new page of
    // the table. Rows longer than 4060 bytes are InvalidArgument.
    Result<RowPointer> insert(std::span<const uint8_t> row);

    // The current bytes of the row whose header slot is `header`, following
    // an overflow pointer. A deleted or foreign slot is NotFound; a pointer
    // to something other than an overflow target of this table is a
    // Corruption.
    Result<std::vector<uint8_t>> read(RowPointer header);

    // Replaces the row's bytes. A row that is not longer is written over the
    // old bytes, padded with zeros at `padAt` when given (otherwise the page
    // is compacted); a longer one is fitted by compacting its page, or moved.
    Status update(RowPointer header, std::span<const uint8_t> row, std::optional<size_t> padAt = std::nullopt);

    // Deletes the row: its header slot and its overflow target (if any)
    // become deleted slots with no bytes.
    Status remove(RowPointer header);

    const TablePages& table() const { return m_table; }

private:
    struct Located {
        uint16_t headerFlags = 0;
        std::optional<RowPointer> target;  // set for a moved row
    };
    Result<Located> locate(RowPointer header);
    Result<RowPointer> addToTable(std::span<const uint8_t> row, uint16_t flags);
    Status writeInPlace(RowPointer at, std::span<const uint8_t> row, std::optional<size_t> padAt, bool& done);
    // Opens `page` (a data page of this table), applies `change` (a
    // Status(DataPageEditor&)), writes it. A template: a row is written
    // through it for every record a run changes.
    template <class Change>
    Status editPage(uint32_t page, Change&& change)
    {
        VK_ASSIGN_OR_RETURN(DataPageEditor editor, openOwnPage(page));
        const size_t freeBefore = editor.freeSpace();
        VK_RETURN_IF_ERROR(change(editor));
        return writeOwnPage(std::move(editor), freeBefore);
    }
    Result<DataPageEditor> openOwnPage(uint32_t page);
    // Hands an edited page back; the free-space map follows a change across
    // the nearly-full line.
    Status writeOwnPage(DataPageEditor&& editor, size_t freeBefore);

    PageAllocator& m_allocator;
    TablePages m_table;
};

// The TDEF's count of live rows (0x10) changed by `delta`. The count may
// differ from the rows (files copied while open); it then keeps its
// difference, and stops at zero and at 2^31 - 1 rather than wrapping.
Status adjustRowCount(Pager& pager, uint32_t tdefPage, int delta);
// The unique-entry count of real index `realIndex` (its counter block in
// the TDEF): a statistic of the distinct keys added to the index, which Jet
// raises when an entry with a new key goes in and does not lower.
// A record given its own AutoNumber value: the TDEF counter (0x14) is raised
// to it when it is higher, so that numbers taken later stay above it.
Status keepAutoNumberAbove(Pager& pager, uint32_t tdefPage, int32_t given);
Status addUniqueEntries(Pager& pager, uint32_t tdefPage, size_t realIndex, uint32_t added);
// Takes the next Long AutoNumber: the TDEF counter (0x14) plus one, which
// is stored back. A counter at its maximum is a Constraint error.
Result<int32_t> takeAutoNumber(Pager& pager, uint32_t tdefPage);

}  // namespace varnika::jet

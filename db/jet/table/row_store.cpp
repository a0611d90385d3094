#include "db/jet/table/row_store.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"

#include <algorithm>
#include <limits>
#include <string>

namespace varnika::jet {

namespace {

std::string rowName(RowPointer p)
{
    return "row " + std::to_string(p.row) + " of page " + std::to_string(p.page);
}

// The page as read, for a counter to be read from it or changed in a copy.
Result<PageRef> readTdefFirstPage(Pager& pager, uint32_t tdefPage)
{
    VK_ASSIGN_OR_RETURN(PageRef page, pager.read(tdefPage));
    if ((*page)[page::kType] != uint8_t(PageType::TableDefinition))
        return corruption("page " + std::to_string(tdefPage) + " is not a table definition");
    return page;
}

}  // namespace

Result<DataPageEditor> RowStore::openOwnPage(uint32_t page)
{
    VK_ASSIGN_OR_RETURN(DataPageEditor editor, m_allocator.openDataPage(page));
    if (editor.owner() != m_table.tdefPage)
        return corruption("data page " + std::to_string(page) + " does not belong to the table at page " +
                          std::to_string(m_table.tdefPage));
    return editor;
}

Status RowStore::writeOwnPage(DataPageEditor&& editor, size_t freeBefore)
{
    const uint32_t page = editor.pageNumber();
    const size_t freeAfter = editor.freeSpace();
    VK_RETURN_IF_ERROR(m_allocator.writeDataPage(std::move(editor)));
    // Only a change across the threshold touches the free-space map.
    bool wasFull = freeBefore < PageAllocator::kNearlyFullBytes;
    bool isFull = freeAfter < PageAllocator::kNearlyFullBytes;
    if (wasFull == isFull) return Status::ok();
    return m_allocator.noteFreeSpace(page, freeAfter, m_table.freeSpaceMap);
}

Result<RowStore::Located> RowStore::locate(RowPointer header)
{
    Pager& pager = m_allocator.pager();
    VK_ASSIGN_OR_RETURN(RowBytes row, m_allocator.slotTables().read(pager, header));
    ByteReader pr(row.page->data(), row.page->size());
    if (pr.u32(datapage::kOwner) != m_table.tdefPage) return notFound(rowName(header) + " is not a row of this table");
    Located where;
    where.headerFlags = row.slot.flags;
    if (row.slot.flags == 0) return where;
    if (row.slot.flags != datapage::kSlotLookup) return notFound(rowName(header) + " is deleted or not a base row");

    VK_ASSIGN_OR_RETURN(RowPointer target, overflowPointerOf(row.bytes(), header));
    VK_ASSIGN_OR_RETURN(RowBytes moved, m_allocator.slotTables().read(pager, target));
    ByteReader tr(moved.page->data(), moved.page->size());
    if (moved.slot.flags != datapage::kSlotNotBaseRow || tr.u32(datapage::kOwner) != m_table.tdefPage)
        return corruption(rowName(header) + " points at " + rowName(target) + ", which is not a moved row of this table");
    where.target = target;
    return where;
}

Result<RowPointer> RowStore::addToTable(std::span<const uint8_t> row, uint16_t flags)
{
    VK_ASSIGN_OR_RETURN(std::optional<uint32_t> page, m_allocator.findPageWithRoom(m_table.ownedMap, m_table.freeSpaceMap,
                                                                               m_table.tdefPage, row.size()));
    if (!page) {
        VK_ASSIGN_OR_RETURN(uint32_t added,
                            m_allocator.allocateDataPage(m_table.tdefPage, {m_table.ownedMap, m_table.freeSpaceMap}));
        page = added;
    }
    int slot = -1;
    VK_RETURN_IF_ERROR(editPage(*page, [&](DataPageEditor& e) -> Status {
        VK_ASSIGN_OR_RETURN(slot, e.addRow(row, flags));
        return Status::ok();
    }));
    return RowPointer{*page, uint8_t(slot)};
}

Result<RowPointer> RowStore::insert(std::span<const uint8_t> row)
{
    const size_t largest = m_allocator.pager().format().row.maxSize;
    if (row.size() > largest)
        return invalidArgument("the record needs " + std::to_string(row.size()) + " bytes; at most " +
                               std::to_string(largest) + " fit");
    if (row.empty()) return invalidArgument("an empty record cannot be stored");
    return addToTable(row, 0);
}

Result<std::vector<uint8_t>> RowStore::read(RowPointer header)
{
    VK_ASSIGN_OR_RETURN(Located where, locate(header));
    VK_ASSIGN_OR_RETURN(RowBytes row, m_allocator.slotTables().read(m_allocator.pager(), where.target ? *where.target : header));
    auto b = row.bytes();
    return std::vector<uint8_t>(b.begin(), b.end());
}

Status RowStore::writeInPlace(RowPointer at, std::span<const uint8_t> row, std::optional<size_t> padAt, bool& done)
{
    done = false;
    return editPage(at.page, [&](DataPageEditor& e) -> Status {
        if (!e.canReplaceRow(at.row, row.size())) return Status::ok();
        done = true;
        return padAt ? e.replaceRowPadded(at.row, row, *padAt) : e.replaceRow(at.row, row);
    });
}

Status RowStore::update(RowPointer header, std::span<const uint8_t> row, std::optional<size_t> padAt)
{
    const size_t largest = m_allocator.pager().format().row.maxSize;
    if (row.size() > largest)
        return invalidArgument("the record needs " + std::to_string(row.size()) + " bytes; at most " +
                               std::to_string(largest) + " fit");
    if (row.size() < datapage::kOverflowPointerSize) return invalidArgument("a record cannot be shorter than 4 bytes");
    VK_ASSIGN_OR_RETURN(Located where, locate(header));
    RowPointer current = where.target ? *where.target : header;
    bool done = false;
    VK_RETURN_IF_ERROR(writeInPlace(current, row, padAt, done));
    if (done) return Status::ok();

    // Move: the new place first, then the header names it, then the old
    // target (if any) goes. Every step re-reads its page from the pager.
    VK_ASSIGN_OR_RETURN(RowPointer moved, addToTable(row, datapage::kSlotNotBaseRow));
    VK_RETURN_IF_ERROR(editPage(header.page, [&](DataPageEditor& e) { return e.makeOverflowHeader(header.row, moved); }));
    if (where.target)
        VK_RETURN_IF_ERROR(editPage(where.target->page, [&](DataPageEditor& e) { return e.markDeleted(where.target->row); }));
    return Status::ok();
}

Status RowStore::remove(RowPointer header)
{
    VK_ASSIGN_OR_RETURN(Located where, locate(header));
    if (where.target)
        VK_RETURN_IF_ERROR(editPage(where.target->page, [&](DataPageEditor& e) { return e.markDeleted(where.target->row); }));
    return editPage(header.page, [&](DataPageEditor& e) { return e.markDeleted(header.row); });
}

Status adjustRowCount(Pager& pager, uint32_t tdefPage, int delta)
{
    VK_RETURN_IF_ERROR(readTdefFirstPage(pager, tdefPage).status());
    VK_ASSIGN_OR_RETURN(PageBuffer * page, pager.writable(tdefPage));
    ByteReader r(page->data(), page->size());
    // A file copied while it was open may carry a count that differs from
    // its rows; Jet keeps moving it by the rows added and removed, and so do
    // we, keeping it within the range a count can have.
    const size_t at = pager.format().tdef.rowCount;
    const int64_t count = std::clamp<int64_t>(int64_t(r.u32(at)) + delta, 0, std::numeric_limits<int32_t>::max());
    putU32(page->data(), at, uint32_t(count));
    return Status::ok();
}

Status addUniqueEntries(Pager& pager, uint32_t tdefPage, size_t realIndex, uint32_t added)
{
    VK_ASSIGN_OR_RETURN(PageRef read, readTdefFirstPage(pager, tdefPage));
    const auto& t = pager.format().tdef;
    const size_t at = t.variablePart + realIndex * t.realIndexCounterSize + tdef::kRealIndexCounterUnique;
    ByteReader r(read->data(), read->size());
    const uint32_t count = r.u32(at);
    if (!r.ok()) return corruption("the table at page " + std::to_string(tdefPage) + " has no counters for its index " + std::to_string(realIndex));
    read.reset();
    VK_ASSIGN_OR_RETURN(PageBuffer * page, pager.writable(tdefPage));
    // A statistic: it stops at its largest value rather than wrapping.
    putU32(page->data(), at, count > UINT32_MAX - added ? UINT32_MAX : count + added);
    return Status::ok();
}

Status keepAutoNumberAbove(Pager& pager, uint32_t tdefPage, int32_t given)
{
    VK_ASSIGN_OR_RETURN(PageRef read, readTdefFirstPage(pager, tdefPage));
    ByteReader r(read->data(), read->size());
    const size_t counter = pager.format().tdef.autoNumber;
    if (r.i32(counter) >= given) return Status::ok();
    read.reset();
    VK_ASSIGN_OR_RETURN(PageBuffer * page, pager.writable(tdefPage));
    putU32(page->data(), counter, uint32_t(given));
    return Status::ok();
}

Result<int32_t> takeAutoNumber(Pager& pager, uint32_t tdefPage)
{
    VK_ASSIGN_OR_RETURN(PageRef read, readTdefFirstPage(pager, tdefPage));
    ByteReader r(read->data(), read->size());
    const size_t counter = pager.format().tdef.autoNumber;
    int32_t last = r.i32(counter);
    if (last == std::numeric_limits<int32_t>::max())
        return Status(ErrorCode::Constraint, "the AutoNumber of the table has reached its largest value");
    int32_t next = last + 1;
    read.reset();
    VK_ASSIGN_OR_RETURN(PageBuffer * page, pager.writable(tdefPage));
    putU32(page->data(), counter, uint32_t(next));
    return next;
}

}  // namespace varnika::jet

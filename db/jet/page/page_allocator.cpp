#include "db/jet/page/page_allocator.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/page/usage_map.h"

#include <string>

namespace varnika::jet {

namespace {

constexpr size_t kFreedPageMarkBytes = 4;

}  // namespace

Result<uint32_t> PageAllocator::addMapPage(const PageBuffer& contents)
{
    VK_ASSIGN_OR_RETURN(uint32_t page, m_pager.append(contents));
    VK_RETURN_IF_ERROR(m_maps.markUsed(page));
    return page;
}

Result<uint32_t> PageAllocator::allocatePage(const PageBuffer& contents, const PageOwners& owners)
{
    VK_ASSIGN_OR_RETURN(uint32_t page, m_pager.append(contents));
    VK_RETURN_IF_ERROR(m_maps.markUsed(page));
    if (owners.owned) VK_RETURN_IF_ERROR(changeOwnerBit(*owners.owned, page, true));
    if (owners.freeSpace) VK_RETURN_IF_ERROR(changeOwnerBit(*owners.freeSpace, page, true));
    return page;
}

Result<uint32_t> PageAllocator::allocateDataPage(uint32_t owner, const PageOwners& owners)
{
    return allocatePage(makeDataPage(owner, m_pager.format()), owners);
}

Status PageAllocator::freePage(uint32_t page, const PageOwners& owners)
{
    if (page <= usagemap::kGlobalMapPage || page >= m_pager.pageCount())
        return invalidArgument("page " + std::to_string(page) + " cannot be freed");
    if (owners.freeSpace) VK_RETURN_IF_ERROR(changeOwnerBit(*owners.freeSpace, page, false));
    if (owners.owned) VK_RETURN_IF_ERROR(changeOwnerBit(*owners.owned, page, false));
    VK_RETURN_IF_ERROR(m_maps.markFree(page));
    VK_ASSIGN_OR_RETURN(PageRef current, m_pager.read(page));
    PageBuffer copy = *current;
    for (size_t i = 0; i < kFreedPageMarkBytes; ++i) copy[i] = 0;
    return m_pager.write(page, copy);
}

Status PageAllocator::noteFreeSpace(uint32_t page, size_t freeBytes, std::optional<RowPointer> freeSpaceMap)
{
    if (!freeSpaceMap) return Status::ok();
    return changeOwnerBit(*freeSpaceMap, page, freeBytes >= kNearlyFullBytes);
}

Status PageAllocator::changeOwnerBit(RowPointer map, uint32_t page, bool value)
{
    const bool kept = m_decoded.isCurrent(m_pager, map);
    VK_RETURN_IF_ERROR(value ? m_maps.setBit(map, page) : m_maps.clearBit(map, page));
    if (kept) m_decoded.followBit(m_pager, map, page, value);
    return Status::ok();
}

Result<std::optional<uint32_t>> PageAllocator::findPageWithRoom(RowPointer owned, std::optional<RowPointer> freeSpace,
                                                                uint32_t ownerPage, size_t rowLength)
{
    VK_ASSIGN_OR_RETURN(const UsageMap* ownedMap, ownerMap(owned));
    const UsageMap* freeMap = nullptr;
    if (freeSpace) {
        VK_ASSIGN_OR_RETURN(freeMap, ownerMap(*freeSpace));
    }
    // From the highest page down; with a free-space map, only its pages
    // (fewer than the owned ones) need a look.
    // Pages are looked at from the highest down, and only so many: when
    // none of them has room, a new page is cheaper than a walk over every
    // page of a large table for each row.
    const UsageMap& candidates = freeMap ? *freeMap : *ownedMap;
    size_t examined = 0;
    for (std::optional<uint32_t> next = candidates.previousPage(UINT32_MAX); next && examined < kMaxPagesExamined;
         next = candidates.previousPage(*next)) {
        uint32_t p = *next;
        if (freeMap && !ownedMap->contains(p)) continue;
        ++examined;
        VK_ASSIGN_OR_RETURN(PageRef page, m_pager.read(p));
        ByteReader r(page->data(), page->size());
        if (r.u8(page::kType) != uint8_t(PageType::Data) || r.u32(datapage::kOwner) != ownerPage) continue;
        // The recorded free space is exact on every page the editor accepts,
        // so a page it shows too full for the row is passed over unopened.
        if (r.u16(datapage::kFreeSpace) < rowLength + datapage::kSlotSize) continue;
        // A page that breaks the data-page rules is not written to; the
        // row goes to another page or a new one instead. On a sound page
        // the recorded free space is the computed one: only the slot count
        // is left to ask.
        if (!edited(p, page) && !checkDataPage(*page, p, m_pager.format()).isOk()) continue;
        if (r.u16(m_pager.format().data.slotCount) < size_t(datapage::kMaxSlots)) {
            m_chosenBytes = page;
            m_chosenPage = p;
            return std::optional<uint32_t>(p);
        }
    }
    return std::optional<uint32_t>();
}

Result<DataPageEditor> PageAllocator::openDataPage(uint32_t page)
{
    VK_ASSIGN_OR_RETURN(PageRef bytes, m_pager.read(page));
    const bool checked = m_chosenBytes && bytes == m_chosenBytes && page == m_chosenPage;
    m_chosenBytes.reset();
    if (Edited* seen = edited(page, bytes)) {
        seen->bytes.reset();
        return DataPageEditor::reopen(*bytes, page, std::move(seen->known), m_pager.format());
    }
    if (checked) return DataPageEditor::openAccepted(*bytes, page, m_pager.format());
    return DataPageEditor::open(*bytes, page, m_pager.format());
}

PageAllocator::Edited* PageAllocator::edited(uint32_t page, const PageRef& bytes)
{
    for (Edited& e : m_edited)
        if (e.bytes && e.bytes == bytes && e.page == page) return &e;
    return nullptr;
}

Status PageAllocator::writeDataPage(DataPageEditor&& editor)
{
    const uint32_t page = editor.pageNumber();
    auto [bytes, known] = std::move(editor).handOver();
    // The page's earlier bytes are no longer its own.
    for (Edited& e : m_edited)
        if (e.page == page) e.bytes.reset();
    PageRef kept = bytes;
    VK_RETURN_IF_ERROR(m_pager.write(page, std::move(bytes)));
    m_slotTables.refresh(page, kept, known);
    if (m_readerSlots) m_readerSlots->refresh(page, kept, known);
    Edited& entry = m_edited[m_nextEdited];
    m_nextEdited = (m_nextEdited + 1) % kEditedPages;
    entry.bytes = std::move(kept);
    entry.page = page;
    entry.known = std::move(known);
    return Status::ok();
}

}  // namespace varnika::jet

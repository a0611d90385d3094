#pragma once
// Adding pages to the file and giving them back. A new page is appended at
// the end of the file (pages the global map calls free are not reused: that
// would trust a map Access may have left stale), recorded as used in the
// global map and as owned in the owner's maps. All changes go to the Pager
// as dirty pages; the caller's commit() or rollback() decides.

#include "db/jet/page/page_layout.h"
#include "db/jet/file/pager.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/page/usage_map_cache.h"
#include "db/jet/page/usage_map_editor.h"
#include "db/status.h"

#include <array>
#include <cstdint>
#include <optional>

namespace varnika::jet {

// The maps that record who owns a page: a table's owned and free-space
// pages (TDEF 0x37 / 0x3B), a long-value column's two maps, or an index's
// map (owned only). An absent map is simply not changed.
struct PageOwners {
    std::optional<RowPointer> owned;
    std::optional<RowPointer> freeSpace;
};

class PageAllocator : public MapPageSource {
public:
    explicit PageAllocator(Pager& pager) : m_pager(pager), m_maps(pager, this) {}

    // Appends `contents` as a new page, marks it used in the global map and
    // sets its bit in each of `owners`' maps. Returns the page number.
    Result<uint32_t> allocatePage(const PageBuffer& contents, const PageOwners& owners);
    // A new empty data page (owner: a TDEF page, kLongValueOwner or 0).
    Result<uint32_t> allocateDataPage(uint32_t owner, const PageOwners& owners);

    // Gives a page back: clears its bit in `owners`' maps, marks it free in
    // the global map and zeroes its first four bytes so that a scan that
    // ignores the maps cannot take it for a live page.
    Status freePage(uint32_t page, const PageOwners& owners);

    // The highest page in `owned` (and in `freeSpace`, when given) that is a
    // data page of `ownerPage` with room for a new row of `rowLength` bytes,
    // or nothing when none of the kMaxPagesExamined highest candidates has room.
    Result<std::optional<uint32_t>> findPageWithRoom(RowPointer owned, std::optional<RowPointer> freeSpace,
                                                     uint32_t ownerPage, size_t rowLength);

    // Keeps the free-space map a useful hint: a page with fewer than
    // kNearlyFullBytes free leaves it, a page with more (after rows were
    // deleted or shrunk) comes back, so finding room does not visit full
    // pages again and again. Without a free-space map nothing happens.
    static constexpr size_t kNearlyFullBytes = 64;
    // Pages with a chance of room that findPageWithRoom looks at, at most.
    static constexpr size_t kMaxPagesExamined = 64;
    Status noteFreeSpace(uint32_t page, size_t freeBytes, std::optional<RowPointer> freeSpaceMap);

    UsageMapEditor& maps() { return m_maps; }
    // An owner map as it is now, decoded again only after it changed.
    Result<const UsageMap*> ownerMap(RowPointer where) { return m_decoded.load(m_pager, where); }
    Pager& pager() { return m_pager; }
    // The slot tables of the data pages whose rows were read last.
    SlotTableMemo& slotTables() { return m_slotTables; }
    // An editor over a data page (DataPageEditor::open). The page
    // findPageWithRoom has just chosen, its bytes unchanged since, is not
    // checked a second time.
    Result<DataPageEditor> openDataPage(uint32_t page);
    // Hands an editor's page to the Pager. The editor's reading of its
    // slots is kept while those bytes stay the page's: the next editor of
    // the page neither checks nor parses it again.
    Status writeDataPage(DataPageEditor&& editor);
    // Another reader's slot tables, kept up to date with the pages editors
    // hand over as this allocator's own are; it must outlive the allocator.
    void keepUpToDate(SlotTableMemo& readerSlots) { m_readerSlots = &readerSlots; }

    // MapPageSource: bitmap pages of reference maps are owned by no map but
    // the global one.
    Result<uint32_t> addMapPage(const PageBuffer& contents) override;

    // Owner maps decoded so far (UsageMapCache::decodeCount).
    size_t ownerMapDecodes() const { return m_decoded.decodeCount(); }

private:
    // An owner map's bit, through the editor; a map kept decoded follows.
    Status changeOwnerBit(RowPointer map, uint32_t page, bool value);

    Pager& m_pager;
    UsageMapEditor m_maps;
    UsageMapCache m_decoded;
    SlotTableMemo m_slotTables;
    SlotTableMemo* m_readerSlots = nullptr;
    // The bytes findPageWithRoom last checked and chose: held, so that they
    // cannot change or give their memory to other bytes meanwhile.
    PageRef m_chosenBytes;
    uint32_t m_chosenPage = 0;
    // The data pages editors handed over last (a record's row and its long
    // values go to different pages): their bytes (held, as above) and the
    // editors' slots.
    struct Edited {
        PageRef bytes;
        uint32_t page = 0;
        DataPageEditor::Slots known;
    };
    static constexpr size_t kEditedPages = 4;
    std::array<Edited, kEditedPages> m_edited;
    size_t m_nextEdited = 0;
    // The entry holding `page` with exactly `bytes`, if any.
    Edited* edited(uint32_t page, const PageRef& bytes);
};

}  // namespace varnika::jet

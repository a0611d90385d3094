#pragma once
// Building an index from scratch: every entry sorted, leaves filled left to
// right, node levels above them, the top page written at the index's root
// page (which never moves). Used for new indexes, for bulk loads and
// wherever many keys change at once.

#include "db/jet/index/index_tree.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/table/table_def.h"
#include "db/status.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace varnika::jet {

struct IndexKeyEntry {
    std::vector<uint8_t> key;  // flag byte and encoding of each key column
    RowPointer row;            // the row's header slot
    bool allNull = false;      // every key column is Null (does not count for uniqueness)
};

// key ‖ page (BE u24) ‖ row (u8): the stored form of a leaf entry.
std::vector<uint8_t> leafEntryBytes(const IndexKeyEntry& e);

// Every entry of the index in leaf-chain order (key and row id, prefix
// compression undone), reading from the leftmost leaf. A damaged page or a
// chain that loops is a Corruption.
Result<std::vector<std::vector<uint8_t>>> readIndexEntries(Pager& pager, uint32_t rootPage);
// The same, one entry at a time, holding one page in memory.
Status forEachIndexEntry(Pager& pager, uint32_t rootPage, const std::function<Status(std::span<const uint8_t>)>& visit);

// Sorts `entries`, refuses (Constraint) equal non-null keys in a unique
// index, and writes the tree over the index's pages: its current pages are
// reused, more are allocated through `allocator` (owned by the index's usage
// map) and those left over are freed. Everything goes to the Pager as dirty
// pages; the caller commits or rolls back.
Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index,
                    std::vector<IndexKeyEntry> entries);
// The same from entries packed in one list (see index_entry_list.h).
Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, IndexEntryList entries);
// The same from entries already sorted (see entry_sorter.h), read three
// times: to check them, to plan the leaves and to write them.
Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, SortedEntries& sorted);

// How many different keys the entries hold (row ids aside).
size_t distinctKeys(const IndexEntryList& entries);
// The same for entries already sorted, in as little memory as their sort.
Result<size_t> distinctKeys(SortedEntries& sorted);

// Index pages are owned by the index's own usage map, and each is recorded
// as used in the file's page map.
class OwnedIndexPages final : public IndexPageAllocator {
public:
    OwnedIndexPages(PageAllocator& allocator, RowPointer usageMap) : m_allocator(allocator) { m_owners.owned = usageMap; }
    Result<uint32_t> allocatePage() override { return m_allocator.allocatePage(PageBuffer{}, m_owners); }
    Status freePage(uint32_t page) override { return m_allocator.freePage(page, m_owners); }

private:
    PageAllocator& m_allocator;
    PageOwners m_owners;
};

}  // namespace varnika::jet

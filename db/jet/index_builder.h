#pragma once
// Building an index from scratch: every entry sorted, leaves filled left to
// right, node levels above them, the top page written at the index's root
// page (which never moves). Used for new indexes, for bulk loads and
// wherever many keys change at once.

#include "db/jet/page_allocator.h"
#include "db/jet/page_layout.h"
#include "db/jet/table_def.h"
#include "db/status.h"

#include <cstdint>
#include <vector>

namespace varnika::jet {

// Index page header fields (leaf 0x04 and node 0x03 pages).
namespace indexpage {
constexpr size_t kFreeSpace = 0x02;
constexpr size_t kTdefPage = 0x04;
constexpr size_t kPrevious = 0x0C;
constexpr size_t kNext = 0x10;
constexpr size_t kTailChild = 0x14;
constexpr size_t kPrefixLength = 0x18;
constexpr size_t kNodeMarker = 0x1A;
constexpr size_t kEntryBitmap = 0x1B;
constexpr size_t kEntryData = 0x1E0;
constexpr size_t kMaxEntryData = 4096 - kEntryData;
constexpr size_t kRowIdSize = 4;   // BE u24 page, u8 row
constexpr size_t kChildSize = 4;   // BE u32, node entries only
}  // namespace indexpage

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

// Sorts `entries`, refuses (Constraint) equal non-null keys in a unique
// index, and writes the tree over the index's pages: its current pages are
// reused, more are allocated through `allocator` (owned by the index's usage
// map) and those left over are freed. Everything goes to the Pager as dirty
// pages; the caller commits or rolls back.
Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index,
                    std::vector<IndexKeyEntry> entries);

}  // namespace varnika::jet

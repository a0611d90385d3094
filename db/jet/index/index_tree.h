#pragma once
// The B-tree of one Jet 4 index: walking, finding, inserting, removing and
// rebuilding entries. Its consistency check is check/index_check.h.
//
// Shape: leaves hold the entries in order and are linked by prev/next. A node
// lists each child but the last with an entry that is a copy of that child's
// last entry; the last child is named in the tail field only. A node with a
// single child lists it as an ordinary entry. The root page number never
// changes. Tree operations write pages into the Pager; the caller commits
// or rolls back, so a refused change leaves nothing behind.
#include "db/jet/index/index_page.h"
#include "db/jet/index/entry_sorter.h"
#include "db/jet/index/index_entry_list.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <span>
#include <vector>

namespace varnika::jet {

// Where index pages come from and go to. The writer's implementation works
// through the usage maps; tests and benchmarks append pages without them
// (tests/support/appending_page_allocator.h).
class IndexPageAllocator {
public:
    virtual ~IndexPageAllocator() = default;
    virtual Result<uint32_t> allocatePage() = 0;
    virtual Status freePage(uint32_t page) = 0;
};

// True when every column of the key is null (such keys never clash in a
// unique index). Works on the bytes alone: a value's flag is 0x7F / 0x80, so
// a key of only 0x00 / 0xFF bytes holds null flags only.
inline bool isAllNullIndexKey(std::span<const uint8_t> key)
{
    for (uint8_t b : key)
        if (b != 0x00 && b != 0xFF) return false;
    return true;
}

// The longest key an entry may carry, so that any page holds at least two
// node entries and every split has room (kMaxIndexKeySize on Jet 4 pages).
constexpr size_t maxIndexKeySize(size_t maxEntryData)
{
    return maxEntryData / 2 - indexlayout::kRowIdSize - indexlayout::kChildSize;
}
constexpr size_t kMaxIndexKeySize = maxIndexKeySize(indexlayout::kMaxEntryData);
inline size_t maxIndexKeySize(const JetFormat& format) { return maxIndexKeySize(format.index.maxEntryData); }

// Decoded index pages kept from one change to the next, so that a run of
// changes does not decode the same root and leaves again and again. An entry
// is used only while the page's bytes in the Pager are still exactly the
// bytes it was decoded from (or encoded to): a rollback, another writer or
// any other change of the page simply makes it miss. The Pager never changes
// a page's buffer in place, so the buffer it was kept with, handed out
// again, needs no comparing.
class IndexPageCache {
public:
    // A decoded leaf takes about as much memory as ten pages of its bytes:
    // a few dozen hold the nodes and the leaves a run comes back to, and
    // more cost more in fresh memory than decoding again saves.
    explicit IndexPageCache(size_t limit = 64) : m_limit(limit) {}
    // Takes the decoded page out of the cache when `current` are its bytes.
    std::optional<IndexPage> take(uint32_t page, const PageRef& current);
    // When full, the half used longest ago makes room.
    void put(uint32_t page, PageRef bytes, IndexPage decoded);
    size_t size() const { return m_pages.size(); }

private:
    struct Cached {
        PageRef bytes;
        IndexPage page;
        uint64_t used = 0;
    };
    std::unordered_map<uint32_t, Cached> m_pages;
    size_t m_limit;
    uint64_t m_clock = 0;
};

class IndexTree {
public:
    IndexTree(Pager& pager, uint32_t tdefPage, uint32_t rootPage, IndexPageCache* cache = nullptr)
        : m_pager(pager), m_tdefPage(tdefPage), m_rootPage(rootPage), m_cache(cache)
    {
    }

    uint32_t rootPage() const { return m_rootPage; }

    // Every leaf entry in order (follows the leaf chain from the leftmost
    // leaf). `visit` may stop the walk by returning an error.
    Status forEachEntry(const std::function<Status(const IndexEntry&)>& visit);
    Result<std::vector<IndexEntry>> entries();

    // Every leaf entry whose key starts with `prefix`, in order: a descent
    // to the first one, then along the leaf chain while the keys match.
    Status forEachWithKeyPrefix(std::span<const uint8_t> prefix, const std::function<Status(const IndexEntry&)>& visit);

    // The leaf entry with exactly this key and row, if any.
    Result<std::optional<IndexEntry>> find(std::span<const uint8_t> key, RowId row);
    // The leaf entry pointing at `row`, found by walking the leaves (for
    // removals that cannot re-encode the key).
    Result<std::optional<IndexEntry>> findByRowId(RowId row);

    // Inserts (key, row). With `unique`, an existing entry with equal key
    // bytes (unless the key is all null) → Constraint, nothing written.
    // The same (key, row) twice → InvalidArgument. `keyWasNew`, when given,
    // tells whether no other entry had equal key bytes.
    Status insert(std::span<const uint8_t> key, RowId row, bool unique, IndexPageAllocator& allocator,
                  bool* keyWasNew = nullptr);
    // Inserts `entries` (key ‖ row id, sorted, all different) as insert()
    // would one after another, reading and writing each leaf they go to
    // once. A clash in a unique index or an entry already there fails the
    // whole call with insert()'s codes. `newKeys`, when given, receives the
    // number of entries whose key bytes no entry before them had.
    Status insertSorted(std::span<const IndexEntry> entries, bool unique, IndexPageAllocator& allocator,
                        size_t* newKeys = nullptr);
    // Removes (key, row); no such entry → NotFound.
    Status remove(std::span<const uint8_t> key, RowId row, IndexPageAllocator& allocator);
    // Removes `entries` (key ‖ row id, sorted, all different) as remove()
    // would one after another, each leaf read and written once. An entry
    // the index lacks is NotFound; pages may have been written by then, for
    // the caller to take back.
    Status removeSorted(std::span<const IndexEntry> entries, IndexPageAllocator& allocator);

    // Replaces the whole tree by `sortedEntries` (strictly increasing), packed
    // into full leaves, reusing the tree's pages, allocating more or freeing
    // the rest. The root stays at rootPage().
    Status rebuild(std::span<const IndexEntry> sortedEntries, IndexPageAllocator& allocator);
    // The same from a packed list, sorted: the entries are copied out a
    // page at a time.
    Status rebuild(const IndexEntryList& sortedEntries, IndexPageAllocator& allocator);
    // The same from entries read in order: twice, once to plan the leaves
    // and once to write them.
    Status rebuild(SortedEntries& sortedEntries, IndexPageAllocator& allocator);

private:
    // Visits the leaves from `page` along the chain until `visitLeaf` says
    // false; loops, nodes in the chain and pages outside the file are faults.
    Status walkLeaves(uint32_t page, const std::function<Result<bool>(const IndexPage&)>& visitLeaf);

    Pager& m_pager;
    uint32_t m_tdefPage;
    uint32_t m_rootPage;
    IndexPageCache* m_cache;
};

}  // namespace varnika::jet

#include "db/jet/index/index_builder.h"

#include "db/jet/file/bytes.h"
#include "db/jet/index/index_entry_walk.h"

#include <algorithm>
#include <string>

namespace varnika::jet {

namespace {

// An entry's key: the entry without its row id.
std::span<const uint8_t> entryKey(std::span<const uint8_t> entry)
{
    return entry.first(entry.size() >= indexlayout::kRowIdSize ? entry.size() - indexlayout::kRowIdSize : 0);
}

}  // namespace

std::vector<uint8_t> leafEntryBytes(const IndexKeyEntry& e)
{
    std::vector<uint8_t> out = e.key;
    out.push_back(uint8_t(e.row.page >> 16));
    out.push_back(uint8_t(e.row.page >> 8));
    out.push_back(uint8_t(e.row.page));
    out.push_back(e.row.row);
    return out;
}

Status forEachIndexEntry(Pager& pager, uint32_t rootPage, const std::function<Status(std::span<const uint8_t>)>& visit)
{
    return forEachIndexEntryWith(pager, rootPage, visit);
}

Result<std::vector<std::vector<uint8_t>>> readIndexEntries(Pager& pager, uint32_t rootPage)
{
    std::vector<std::vector<uint8_t>> out;
    VK_RETURN_IF_ERROR(forEachIndexEntry(pager, rootPage, [&](std::span<const uint8_t> entry) {
        out.emplace_back(entry.begin(), entry.end());
        return Status::ok();
    }));
    return out;
}

Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, std::vector<IndexKeyEntry> entries)
{
    IndexEntryList list;
    for (const IndexKeyEntry& e : entries) list.add(e.key, RowId{e.row.page, e.row.row});
    entries = {};
    return rebuildIndex(allocator, tdefPage, index, std::move(list));
}

Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, IndexEntryList entries)
{
    if (!entries.complete()) return notSupported("an index of this many entries cannot be built");
    entries.sort();
    SortedListEntries sorted(entries);
    return rebuildIndex(allocator, tdefPage, index, sorted);
}

Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, SortedEntries& sorted)
{
    {
        VK_RETURN_IF_ERROR(sorted.rewind());
        EntryBytes previous;
        bool first = true;
        for (;;) {
            VK_ASSIGN_OR_RETURN(bool more, sorted.next());
            if (!more) break;
            const std::span<const uint8_t> e = sorted.entry();
            if (!first) {
                if (std::ranges::equal(previous, e))
                    return invalidArgument("the same record is named twice among the entries of an index");
                const std::span<const uint8_t> key = entryKey(e), before = entryKey(previous);
                if (index.isUnique() && !isAllNullIndexKey(key) && std::ranges::equal(before, key))
                    return Status(ErrorCode::Constraint, "the change would give two records the same value in a unique index");
            }
            previous = e;
            first = false;
        }
    }
    // A new index's root page is allocated blank: make it an empty leaf
    // that the tree can take over.
    {
        VK_ASSIGN_OR_RETURN(PageRef root, allocator.pager().read(index.rootPage));
        if (std::all_of(root->begin(), root->end(), [](uint8_t b) { return b == 0; })) {
            IndexPage empty;
            empty.tdefPage = tdefPage;
            VK_ASSIGN_OR_RETURN(PageBuffer leaf, encodeIndexPage(empty, allocator.pager().format()));
            VK_RETURN_IF_ERROR(allocator.pager().write(index.rootPage, leaf));
        }
    }
    IndexTree tree(allocator.pager(), tdefPage, index.rootPage);
    OwnedIndexPages pages(allocator, index.usageMap);
    return tree.rebuild(sorted, pages);
}

Result<size_t> distinctKeys(SortedEntries& sorted)
{
    // Where no key begins another, equal keys come together in the order
    // of the entries' bytes, and counting changes from one entry to the
    // next is exact. A key that begins another shows itself in that walk
    // (the entries between two such keys all begin with the shorter one);
    // then the keys alone are sorted and counted.
    VK_RETURN_IF_ERROR(sorted.rewind());
    EntryBytes previous;
    size_t distinct = 0;
    bool prefixed = false;
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool more, sorted.next());
        if (!more) break;
        const std::span<const uint8_t> key = entryKey(sorted.entry());
        const std::span<const uint8_t> before = previous;
        if (distinct == 0 || !std::ranges::equal(before, key)) {
            ++distinct;
            const size_t n = std::min(before.size(), key.size());
            if (distinct > 1 && std::equal(before.begin(), before.begin() + long(n), key.begin())) prefixed = true;
        }
        previous = key;
        if (prefixed) break;
    }
    if (!prefixed) return distinct;

    EntrySorter keys;
    VK_RETURN_IF_ERROR(sorted.rewind());
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool more, sorted.next());
        if (!more) break;
        // A key alone, with a byte after it so that an empty key is held too.
        EntryBytes k = entryKey(sorted.entry());
        k.push_back(0);
        VK_RETURN_IF_ERROR(keys.addBytes(k));
    }
    VK_ASSIGN_OR_RETURN(std::unique_ptr<SortedEntries> byKey, keys.finish());
    distinct = 0;
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool more, byKey->next());
        if (!more) break;
        if (distinct == 0 || !std::ranges::equal(std::span<const uint8_t>(previous), byKey->entry())) ++distinct;
        previous = byKey->entry();
    }
    return distinct;
}

size_t distinctKeys(const IndexEntryList& entries)
{
    // In the order of the keys alone: a key that begins a longer one can
    // sort among that one's entries once the row ids follow it.
    std::vector<uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return std::ranges::lexicographical_compare(entries.key(a), entries.key(b));
    });
    size_t distinct = order.empty() ? 0 : 1;
    for (size_t i = 1; i < order.size(); ++i)
        distinct += !std::ranges::equal(entries.key(order[i - 1]), entries.key(order[i]));
    return distinct;
}

}  // namespace varnika::jet

#include "db/jet/index/index_builder.h"

#include "db/jet/file/bytes.h"
#include "db/jet/index/index_entry_walk.h"

#include <algorithm>
#include <string>

namespace varnika::jet {

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
    entries.sort();
    for (size_t i = 1; i < entries.size(); ++i) {
        if (std::ranges::equal(entries[i - 1], entries[i]))
            return invalidArgument("the same record is named twice among the entries of an index");
        if (index.isUnique() && !isAllNullIndexKey(entries.key(i)) && std::ranges::equal(entries.key(i - 1), entries.key(i)))
            return Status(ErrorCode::Constraint, "the change would give two records the same value in a unique index");
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
    return tree.rebuild(entries, pages);
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

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
    std::vector<IndexEntry> sorted;
    sorted.reserve(entries.size());
    for (const IndexKeyEntry& e : entries) sorted.push_back(IndexEntry::make(e.key, RowId{e.row.page, e.row.row}));
    std::sort(sorted.begin(), sorted.end(), [](const IndexEntry& a, const IndexEntry& b) { return a.bytes < b.bytes; });
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i - 1].bytes == sorted[i].bytes)
            return invalidArgument("the same record is named twice among the entries of an index");
        if (index.isUnique() && !isAllNullIndexKey(sorted[i].key()) &&
            std::ranges::equal(sorted[i - 1].key(), sorted[i].key()))
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
    return tree.rebuild(sorted, pages);
}

}  // namespace varnika::jet

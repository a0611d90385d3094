#include "db/jet/index/index_builder.h"

#include "db/jet/file/bytes.h"

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

namespace {

// The page's first child: its first entry's, or the tail when a node lists
// no entry (as Access leaves nodes after appending).
uint32_t firstChild(const IndexPage& p) { return p.entries.empty() ? p.tail : p.entries.front().child; }

}  // namespace

Status forEachIndexEntry(Pager& pager, uint32_t rootPage, const std::function<Status(std::span<const uint8_t>)>& visit)
{
    const uint32_t limit = pager.pageCount();
    auto load = [&](uint32_t number) -> Result<IndexPage> {
        if (number == 0 || number >= limit)
            return corruption("an index of the page at " + std::to_string(rootPage) + " points outside the file");
        VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(number));
        Result<IndexPage> page = decodeIndexPage(std::span<const uint8_t>(ref->data(), ref->size()), pager.format());
        if (!page.isOk()) return corruption("index page " + std::to_string(number) + ": " + page.status().message());
        return page;
    };
    uint32_t number = rootPage;
    for (uint32_t depth = 0;; ++depth) {
        if (depth > 64) return corruption("the index at page " + std::to_string(rootPage) + " is too deep");
        VK_ASSIGN_OR_RETURN(IndexPage p, load(number));
        if (p.isLeaf()) break;
        number = firstChild(p);
    }
    // The leaves are walked without keeping their entries.
    IndexPage leaf;
    for (uint32_t steps = 0; number != 0; ++steps) {
        if (steps > limit) return corruption("the leaves of the index at page " + std::to_string(rootPage) + " loop");
        if (number >= limit) return corruption("an index of the page at " + std::to_string(rootPage) + " points outside the file");
        VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(number));
        const std::span<const uint8_t> bytes(ref->data(), ref->size());
        // A node met on the chain is refused before any of its entries is visited.
        if (bytes[indexlayout::kType] == indexlayout::kTypeNode)
            return corruption("the leaf chain of an index reaches a node page");
        Status stopped = Status::ok();  // the visitor's own error, passed on as it is
        Status walked = walkIndexPage(bytes, pager.format(), leaf, [&](std::span<const uint8_t> entry, uint32_t) {
            stopped = visit(entry);
            return stopped;
        });
        VK_RETURN_IF_ERROR(stopped);
        if (!walked.isOk()) return corruption("index page " + std::to_string(number) + ": " + walked.message());
        number = leaf.next;
    }
    return Status::ok();
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

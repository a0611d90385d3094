#pragma once
// Every entry of an index in leaf-chain order, for callers that know their
// visitor where they call (forEachIndexEntry without a std::function call
// per entry).

#include "db/jet/file/pager.h"
#include "db/jet/index/index_page.h"
#include "db/jet/index/index_page_walk.h"
#include "db/status.h"

#include <cstdint>
#include <span>
#include <string>

namespace varnika::jet {

// forEachIndexEntry with `visit(std::span<const uint8_t> entry)` returning
// a Status: the same walk and the same refusals. Without `kWholeEntries`
// each entry is visited as an empty span (see walkIndexPageWith).
template <bool kWholeEntries = true, typename Visit>
Status forEachIndexEntryWith(Pager& pager, uint32_t rootPage, Visit&& visit)
{
    // The page's first child: its first entry's, or the tail when a node
    // lists no entry (as Access leaves nodes after appending).
    auto firstChild = [](const IndexPage& p) { return p.entries.empty() ? p.tail : p.entries.front().child; };
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
        Status walked = walkIndexPageWith<kWholeEntries>(bytes, pager.format(), leaf, [&](std::span<const uint8_t> entry, uint32_t) {
            Status s = visit(entry);
            if (!s.isOk()) stopped = s;
            return s;
        });
        VK_RETURN_IF_ERROR(stopped);
        if (!walked.isOk()) return corruption("index page " + std::to_string(number) + ": " + walked.message());
        number = leaf.next;
    }
    return Status::ok();
}

}  // namespace varnika::jet

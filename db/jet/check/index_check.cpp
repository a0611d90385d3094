#include "db/jet/check/index_check.h"

#include <map>
#include <optional>
#include <set>
#include <string>

namespace varnika::jet {

using namespace indexlayout;

namespace {

constexpr size_t kMaxDepth = 32;

std::string pageName(uint32_t page) { return "index page " + std::to_string(page); }

}  // namespace

namespace {

class Checker {
public:
    Checker(Pager& pager, uint32_t tdef) : m_pager(pager), m_tdef(tdef) {}

    Status run(uint32_t root, IndexTreeStats& stats)
    {
        std::vector<uint32_t> leaves;
        std::map<size_t, std::vector<uint32_t>> nodesByDepth;
        std::optional<size_t> leafDepth;
        VK_RETURN_IF_ERROR(visit(root, 1, nullptr, leaves, nodesByDepth, leafDepth, stats));
        stats.depth = leafDepth.value_or(1);
        // The leaf chain: the in-order leaves, linked both ways, ends at 0.
        // Each leaf's entries were found in order when it was visited; here
        // each leaf's first entry must follow the last one before it.
        const EntryBytes* previous = nullptr;
        for (size_t i = 0; i < leaves.size(); ++i) {
            const Visited& p = m_pages.at(leaves[i]);
            const uint32_t wantPrev = i > 0 ? leaves[i - 1] : 0;
            const uint32_t wantNext = i + 1 < leaves.size() ? leaves[i + 1] : 0;
            if (p.prev != wantPrev || p.next != wantNext)
                return corruption(pageName(leaves[i]) + ": leaf links prev " + std::to_string(p.prev) + " / next " +
                                  std::to_string(p.next) + " do not follow the tree's leaf order (" +
                                  std::to_string(wantPrev) + " / " + std::to_string(wantNext) + ")");
            if (p.entries == 0) continue;
            if (previous && !(*previous < p.first))
                return corruption(pageName(leaves[i]) + ": leaf entries are not strictly increasing");
            previous = &p.last;
            stats.entries += p.entries;
        }
        // Node pages: links stay on their level and agree both ways.
        for (const auto& [depth, nodes] : nodesByDepth) {
            std::set<uint32_t> level(nodes.begin(), nodes.end());
            for (uint32_t page : nodes) {
                const Visited& p = m_pages.at(page);
                if (p.next && (!level.count(p.next) || m_pages.at(p.next).prev != page))
                    return corruption(pageName(page) + ": node link to page " + std::to_string(p.next) + " is not returned");
                if (p.prev && (!level.count(p.prev) || m_pages.at(p.prev).next != page))
                    return corruption(pageName(page) + ": node link to page " + std::to_string(p.prev) + " is not returned");
            }
        }
        return Status::ok();
    }

private:
    // Checks the subtree at `page`; `last` receives its last entry.
    Status visit(uint32_t page, size_t depth, std::vector<uint8_t>* last, std::vector<uint32_t>& leaves,
                 std::map<size_t, std::vector<uint32_t>>& nodes, std::optional<size_t>& leafDepth,
                 IndexTreeStats& stats)
    {
        if (depth > kMaxDepth) return corruption("index tree is deeper than any sound index");
        if (page == 0 || page >= m_pager.pageCount())
            return corruption("an index points at page " + std::to_string(page) + ", outside the file");
        if (m_pages.count(page)) return corruption(pageName(page) + " appears twice in one index tree");
        VK_ASSIGN_OR_RETURN(PageRef ref, m_pager.read(page));
        auto decoded = decodeIndexPage(*ref, m_pager.format());
        if (!decoded) return corruption(pageName(page) + ": " + decoded.status().message());
        const IndexPage& p = *decoded;
        Visited& seen = m_pages[page];
        seen.prev = p.prev;
        seen.next = p.next;
        seen.entries = p.entries.size();
        if (!p.entries.empty()) {
            seen.first = p.entries.front().bytes;
            seen.last = p.entries.back().bytes;
        }
        if ((*ref)[kConstant] != kConstantValue) return corruption(pageName(page) + ": byte 1 is not 0x01");
        if (p.tdefPage != m_tdef)
            return corruption(pageName(page) + " belongs to table definition " + std::to_string(p.tdefPage) +
                              ", not " + std::to_string(m_tdef));
        size_t stored = 0;
        for (size_t i = 0; i < p.entries.size(); ++i)
            stored += p.entries[i].bytes.size() + (p.isNode() ? kChildSize : 0) - (i ? p.prefixLength : 0);
        const size_t room = m_pager.format().index.maxEntryData;
        if (stored > room) return corruption(pageName(page) + " holds more entry data than a page has");
        if (p.freeSpace != room - stored)
            return corruption(pageName(page) + ": free space " + std::to_string(p.freeSpace) + " does not match " +
                              std::to_string(room - stored) + " bytes left");
        for (size_t i = 0; i < p.entries.size(); ++i) {
            if (p.entries[i].bytes.size() < kRowIdSize + 1)
                return corruption(pageName(page) + " has an entry without key bytes");
            if (p.prefixLength > p.entries[i].key().size())
                return corruption(pageName(page) + ": the shared prefix reaches into a row pointer");
            if (i > 0 && !(p.entries[i - 1].bytes < p.entries[i].bytes))
                return corruption(pageName(page) + ": entries are not strictly increasing");
        }
        if (p.isLeaf()) {
            ++stats.leafPages;
            if (leafDepth && *leafDepth != depth) return corruption(pageName(page) + ": leaves lie at different depths");
            leafDepth = depth;
            if (p.entries.empty() && depth > 1) return corruption(pageName(page) + " is an empty leaf below a node");
            leaves.push_back(page);
            if (last && !p.entries.empty()) *last = p.entries.back().bytes;
            return Status::ok();
        }
        ++stats.nodePages;
        nodes[depth].push_back(page);
        if (p.entries.empty() && p.tail == 0) return corruption(pageName(page) + " is a node without children");
        if (p.entries.size() >= 2 && p.tail == 0)
            return corruption(pageName(page) + ": a node with several children names no tail child");
        std::vector<uint8_t> childLast;
        for (const auto& e : p.entries) {
            childLast.clear();
            VK_RETURN_IF_ERROR(visit(e.child, depth + 1, &childLast, leaves, nodes, leafDepth, stats));
            if (childLast != e.bytes)
                return corruption(pageName(page) + ": the entry for child " + std::to_string(e.child) +
                                  " is not a copy of that child's last entry");
        }
        if (p.tail) {
            childLast.clear();
            VK_RETURN_IF_ERROR(visit(p.tail, depth + 1, &childLast, leaves, nodes, leafDepth, stats));
            if (!p.entries.empty() && !(p.entries.back().bytes < childLast))
                return corruption(pageName(page) + ": the tail child holds entries not above the node's entries");
        }
        if (last) *last = childLast;
        return Status::ok();
    }

    // What the checks after the walk need of a page: not its entries, which
    // for a large table would not fit in memory together.
    struct Visited {
        uint32_t prev = 0;
        uint32_t next = 0;
        size_t entries = 0;
        EntryBytes first, last;  // a leaf's first and last entries
    };

    Pager& m_pager;
    uint32_t m_tdef;
    std::map<uint32_t, Visited> m_pages;
};

}  // namespace

Status checkIndexTree(Pager& pager, uint32_t tdefPage, uint32_t rootPage, IndexTreeStats* stats)
{
    IndexTreeStats local;
    Checker checker(pager, tdefPage);
    VK_RETURN_IF_ERROR(checker.run(rootPage, stats ? *stats : local));
    return Status::ok();
}

}  // namespace varnika::jet

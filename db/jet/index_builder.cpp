#include "db/jet/index_builder.h"

#include "db/jet/bytes.h"
#include "db/jet/usage_map.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace varnika::jet {
namespace {

struct Stored {
    std::vector<uint8_t> bytes;  // full entry
    size_t keyLength = 0;        // bytes before the row id
};

struct BuiltPage {
    std::vector<const Stored*> entries;
    std::vector<uint32_t> children;  // node pages: one per child, the last is the tail
    std::vector<uint8_t> last;       // last leaf entry of the subtree (without child pointer)
    uint32_t page = 0;
};

size_t commonPrefix(const Stored& a, const Stored& b)
{
    size_t limit = std::min(a.keyLength, b.keyLength);
    size_t n = 0;
    while (n < limit && a.bytes[n] == b.bytes[n]) ++n;
    return n;
}

// Bytes the entries take on a page with prefix compression.
size_t pageBytes(const std::vector<const Stored*>& entries)
{
    if (entries.empty()) return 0;
    size_t p = commonPrefix(*entries.front(), *entries.back());
    size_t total = entries.front()->bytes.size();
    for (size_t i = 1; i < entries.size(); ++i) total += entries[i]->bytes.size() - p;
    return total;
}

PageBuffer renderPage(const BuiltPage& b, bool leaf, uint32_t tdefPage, uint32_t prev, uint32_t next)
{
    PageBuffer p{};
    p[page::kType] = uint8_t(leaf ? PageType::IndexLeaf : PageType::IndexNode);
    p[page::kMarker] = page::kMarkerValue;
    putU32(p.data(), indexpage::kTdefPage, tdefPage);
    putU32(p.data(), indexpage::kPrevious, prev);
    putU32(p.data(), indexpage::kNext, next);
    if (!leaf) {
        p[indexpage::kNodeMarker] = 1;
        if (b.children.size() >= 2) putU32(p.data(), indexpage::kTailChild, b.children.back());
    }
    size_t prefix = b.entries.empty() ? 0 : commonPrefix(*b.entries.front(), *b.entries.back());
    putU16(p.data(), indexpage::kPrefixLength, uint16_t(prefix));
    size_t used = 0;
    for (size_t i = 0; i < b.entries.size(); ++i) {
        const std::vector<uint8_t>& e = b.entries[i]->bytes;
        size_t skip = i == 0 ? 0 : prefix;
        std::memcpy(p.data() + indexpage::kEntryData + used, e.data() + skip, e.size() - skip);
        used += e.size() - skip;
        p[indexpage::kEntryBitmap + used / 8] |= uint8_t(1u << (used % 8));
    }
    putU16(p.data(), indexpage::kFreeSpace, uint16_t(indexpage::kMaxEntryData - used));
    return p;
}

}  // namespace

namespace {

struct IndexPageView {
    bool leaf = false;
    uint32_t next = 0;
    uint32_t tail = 0;
    std::vector<std::vector<uint8_t>> entries;
};

Result<IndexPageView> readIndexPage(Pager& pager, uint32_t pageNumber)
{
    VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(pageNumber));
    const PageBuffer& b = *ref;
    ByteReader r(b.data(), b.size());
    const std::string where = "index page " + std::to_string(pageNumber);
    uint8_t type = r.u8(page::kType);
    if (type != uint8_t(PageType::IndexLeaf) && type != uint8_t(PageType::IndexNode))
        return corruption(where + " is not an index page");
    IndexPageView v;
    v.leaf = type == uint8_t(PageType::IndexLeaf);
    v.next = r.u32(indexpage::kNext);
    v.tail = r.u32(indexpage::kTailChild);
    size_t prefix = r.u16(indexpage::kPrefixLength);
    size_t start = 0;
    for (size_t k = 1; k <= indexpage::kMaxEntryData; ++k) {
        if (!(r.u8(indexpage::kEntryBitmap + k / 8) & (1u << (k % 8)))) continue;
        std::span<const uint8_t> stored = r.bytes(indexpage::kEntryData + start, k - start);
        std::vector<uint8_t> e;
        if (!v.entries.empty()) {
            if (prefix > v.entries.front().size()) return corruption(where + " has a shared prefix longer than its first entry");
            e.assign(v.entries.front().begin(), v.entries.front().begin() + long(prefix));
        }
        e.insert(e.end(), stored.begin(), stored.end());
        if (e.size() < indexpage::kRowIdSize + (v.leaf ? 0 : indexpage::kChildSize))
            return corruption(where + " has an entry too short for its row pointer");
        v.entries.push_back(std::move(e));
        start = k;
    }
    if (!r.ok()) return corruption(where + " is damaged");
    return v;
}

}  // namespace

Result<std::vector<std::vector<uint8_t>>> readIndexEntries(Pager& pager, uint32_t rootPage)
{
    const uint32_t limit = pager.pageCount();
    uint32_t page = rootPage;
    for (uint32_t depth = 0;; ++depth) {
        if (depth > 64) return corruption("the index at page " + std::to_string(rootPage) + " is too deep");
        VK_ASSIGN_OR_RETURN(IndexPageView v, readIndexPage(pager, page));
        if (v.leaf) break;
        if (!v.entries.empty()) {
            const auto& e = v.entries.front();
            page = ByteReader(e.data(), e.size()).u32be(e.size() - indexpage::kChildSize);
        } else {
            page = v.tail;
        }
        if (page == 0 || page >= limit) return corruption("an index node points outside the file");
    }
    std::vector<std::vector<uint8_t>> out;
    for (uint32_t steps = 0; page != 0; ++steps) {
        if (steps > limit) return corruption("the leaves of the index at page " + std::to_string(rootPage) + " loop");
        VK_ASSIGN_OR_RETURN(IndexPageView v, readIndexPage(pager, page));
        if (!v.leaf) return corruption("the leaf chain of an index reaches a node page");
        for (auto& e : v.entries) out.push_back(std::move(e));
        page = v.next;
    }
    return out;
}

std::vector<uint8_t> leafEntryBytes(const IndexKeyEntry& e)
{
    std::vector<uint8_t> out = e.key;
    out.push_back(uint8_t(e.row.page >> 16));
    out.push_back(uint8_t(e.row.page >> 8));
    out.push_back(uint8_t(e.row.page));
    out.push_back(e.row.row);
    return out;
}

Status rebuildIndex(PageAllocator& allocator, uint32_t tdefPage, const RealIndexDef& index, std::vector<IndexKeyEntry> entries)
{
    std::vector<Stored> leafEntries(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        leafEntries[i].bytes = leafEntryBytes(entries[i]);
        leafEntries[i].keyLength = entries[i].key.size();
        if (leafEntries[i].bytes.size() > indexpage::kMaxEntryData / 2)
            return notSupported("an index key of " + std::to_string(entries[i].key.size()) + " bytes is too long");
    }
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return leafEntries[a].bytes < leafEntries[b].bytes; });
    if (index.isUnique()) {
        for (size_t i = 1; i < order.size(); ++i) {
            const IndexKeyEntry& a = entries[order[i - 1]];
            const IndexKeyEntry& b = entries[order[i]];
            if (!b.allNull && a.key == b.key)
                return Status(ErrorCode::Constraint, "the change would give two records the same value in a unique index");
        }
    }

    // Level 0: leaves.
    std::vector<std::vector<BuiltPage>> levels(1);
    {
        BuiltPage current;
        for (size_t i : order) {
            current.entries.push_back(&leafEntries[i]);
            if (current.entries.size() > 1 && pageBytes(current.entries) > indexpage::kMaxEntryData) {
                current.entries.pop_back();
                current.last = current.entries.back()->bytes;
                levels[0].push_back(std::move(current));
                current = BuiltPage();
                current.entries.push_back(&leafEntries[i]);
            }
        }
        if (!current.entries.empty()) current.last = current.entries.back()->bytes;
        levels[0].push_back(std::move(current));  // an empty index is one empty leaf
    }

    // Node levels until one page remains. Node entries are stored in a pool
    // that outlives the rendering.
    std::vector<std::vector<Stored>> pools;
    pools.reserve(64);
    while (levels.back().size() > 1) {
        std::vector<BuiltPage>& below = levels.back();
        pools.emplace_back();
        std::vector<Stored>& pool = pools.back();
        pool.reserve(below.size());
        for (size_t c = 0; c < below.size(); ++c) {
            Stored s;
            s.bytes = below[c].last;
            s.keyLength = s.bytes.size() - indexpage::kRowIdSize;
            s.bytes.resize(s.bytes.size() + indexpage::kChildSize);  // child page filled in below
            pool.push_back(std::move(s));
        }
        std::vector<BuiltPage> level;
        BuiltPage current;
        for (size_t c = 0; c < below.size(); ++c) {
            // Every child but the page's last gets an entry; try adding this
            // child as an entry and see whether the page would overflow.
            current.children.push_back(uint32_t(c));
            current.entries.push_back(&pool[c]);
            bool lastChild = c + 1 == below.size();
            if (!lastChild && pageBytes(current.entries) > indexpage::kMaxEntryData && current.children.size() > 2) {
                // Close the page with this child as its tail.
                current.entries.pop_back();
                current.last = below[c].last;
                level.push_back(std::move(current));
                current = BuiltPage();
            }
        }
        if (!current.children.empty()) {
            if (current.children.size() >= 2) current.entries.pop_back();  // the last child is the tail
            current.last = below[current.children.back()].last;
            level.push_back(std::move(current));
        }
        levels.push_back(std::move(level));
    }

    // Page numbers: the top page is the root; the rest reuse the index's
    // pages and then new ones.
    VK_ASSIGN_OR_RETURN(UsageMap map, UsageMap::load(allocator.pager(), index.usageMap));
    std::vector<uint32_t> spare;
    for (uint32_t p : map.pages())
        if (p != index.rootPage) spare.push_back(p);
    size_t spareUsed = 0;
    PageOwners owners;
    owners.owned = index.usageMap;
    PageBuffer blank{};
    for (size_t l = 0; l < levels.size(); ++l) {
        for (BuiltPage& b : levels[l]) {
            if (l + 1 == levels.size()) {
                b.page = index.rootPage;
            } else if (spareUsed < spare.size()) {
                b.page = spare[spareUsed++];
            } else {
                VK_ASSIGN_OR_RETURN(b.page, allocator.allocatePage(blank, owners));
            }
        }
    }
    // Child pointers of node entries, now that every page has its number.
    for (size_t l = 1; l < levels.size(); ++l) {
        std::vector<Stored>& pool = pools[l - 1];
        for (size_t c = 0; c < pool.size(); ++c) {
            putU32be(pool[c].bytes.data(), pool[c].bytes.size() - indexpage::kChildSize, levels[l - 1][c].page);
        }
        for (BuiltPage& b : levels[l])
            for (uint32_t& child : b.children) child = levels[l - 1][child].page;
    }
    for (size_t l = 0; l < levels.size(); ++l) {
        const std::vector<BuiltPage>& level = levels[l];
        for (size_t i = 0; i < level.size(); ++i) {
            uint32_t prev = i > 0 ? level[i - 1].page : 0;
            uint32_t next = i + 1 < level.size() ? level[i + 1].page : 0;
            VK_RETURN_IF_ERROR(allocator.pager().write(level[i].page, renderPage(level[i], l == 0, tdefPage, prev, next)));
        }
    }
    for (size_t i = spareUsed; i < spare.size(); ++i) VK_RETURN_IF_ERROR(allocator.freePage(spare[i], owners));
    return Status::ok();
}

}  // namespace varnika::jet

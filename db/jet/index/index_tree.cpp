#include "db/jet/index/index_tree.h"

#include "db/jet/file/bytes.h"


#include <algorithm>
#include <array>
#include <map>
#include <memory_resource>
#include <set>
#include <string>

namespace varnika::jet {

using namespace indexlayout;

namespace {

constexpr size_t kMaxDepth = 32;

std::string pageName(uint32_t page) { return "index page " + std::to_string(page); }

bool lessBytes(const IndexEntry& a, const EntryBytes& b) { return a.bytes < b; }

// Pages of one operation, decoded once and written back together at the end.
class WorkSet {
public:
    WorkSet(Pager& pager, uint32_t tdefPage, IndexPageCache* cache = nullptr)
        : m_pager(pager), m_tdefPage(tdefPage), m_cache(cache)
    {
    }
    // The sets below take their nodes from this object's own memory.
    WorkSet(const WorkSet&) = delete;
    WorkSet& operator=(const WorkSet&) = delete;

    Result<IndexPage*> load(uint32_t page)
    {
        auto it = m_pages.find(page);
        if (it != m_pages.end()) {
            m_prefix.erase(page);  // the caller may change it
            return &it->second;
        }
        if (page == 0 || page >= m_pager.pageCount())
            return corruption("an index points at page " + std::to_string(page) + ", outside the file");
        VK_ASSIGN_OR_RETURN(PageRef ref, m_pager.read(page));
        if (m_cache) {
            m_loadedBytes[page] = ref;
            if (std::optional<IndexPage> cached = m_cache->take(page, ref))
                return &m_pages.emplace(page, std::move(*cached)).first->second;
        }
        auto decoded = decodeIndexPage(*ref, m_pager.format());
        if (!decoded) return Status(decoded.status().code(), pageName(page) + ": " + decoded.status().message());
        return &m_pages.emplace(page, std::move(decoded).value()).first->second;
    }
    IndexPage& create(uint32_t page, uint8_t type)
    {
        IndexPage p;
        p.type = type;
        p.tdefPage = m_tdefPage;
        m_dirty.insert(page);
        m_freed.erase(page);
        m_prefix.erase(page);
        m_splices[page] = Splice{};
        return m_pages[page] = std::move(p);
    }
    void dirty(uint32_t page)
    {
        m_dirty.insert(page);
        m_prefix.erase(page);
        m_splices[page] = Splice{};
    }
    // A leaf changed by one entry added at `pos` (not the first) or taken
    // out from it, its prefix known to be `prefix` or to be chosen when the
    // page is next measured: flush() may then splice the page's bytes
    // instead of encoding every entry again.
    void dirtyBySplice(uint32_t page, size_t pos, size_t removedBytes, std::optional<size_t> prefix)
    {
        const bool first = !m_dirty.count(page);
        dirty(page);
        if (prefix) m_prefix[page] = *prefix;
        if (first && (pos > 0 || removedBytes > 0)) m_splices[page] = Splice{true, pos, removedBytes};
    }
    bool loaded(uint32_t page) const { return m_pages.count(page) != 0; }
    // A page already loaded, to read without changing it.
    const IndexPage& peek(uint32_t page) const { return m_pages.at(page); }
    // Whether a loaded page's entries take more than a page's room. The
    // prefix chosen is kept until the page is next handed out or changed,
    // so that flush() need not choose it again.
    bool overfull(uint32_t page)
    {
        const IndexPage& p = m_pages.at(page);
        auto it = m_prefix.find(page);
        if (std::optional<size_t> used = splicedSize(page, p)) return *used > room();
        if (it == m_prefix.end()) it = m_prefix.emplace(page, choosePrefixLength(p.entries, maxPrefix())).first;
        size_t total = 0;
        const size_t pointer = p.isNode() ? kChildSize : 0;
        for (size_t i = 0; i < p.entries.size(); ++i)
            total += p.entries[i].bytes.size() + pointer - (i == 0 ? 0 : it->second);
        return total > room();
    }
    // Bytes of entry data one page holds.
    size_t room() const { return m_pager.format().index.maxEntryData; }
    size_t maxPrefix() const { return m_pager.format().maxIndexPrefix(); }
    const std::pmr::set<uint32_t>& dirtyPages() const { return m_dirty; }
    void forget(uint32_t page)
    {
        m_dirty.erase(page);
        m_pages.erase(page);
        m_prefix.erase(page);
        m_loadedBytes.erase(page);
        m_freed.insert(page);
    }
    const std::pmr::set<uint32_t>& freed() const { return m_freed; }
    Status flush()
    {
        // Encode everything first so that a failure writes nothing.
        std::vector<std::pair<uint32_t, std::shared_ptr<PageBuffer>>> out;
        for (uint32_t page : m_dirty) {
            const IndexPage& p = m_pages.at(page);
            auto known = m_prefix.find(page);
            // Every byte is set below, by the splice or the encoding.
            auto buf = std::make_shared_for_overwrite<PageBuffer>();
            Status s = splice(page, p, *buf);
            if (s.code() == ErrorCode::NotFound) {
                Result<PageBuffer> encoded = known != m_prefix.end()
                                                 ? encodeIndexPageWithChosenPrefix(p, known->second, m_pager.format())
                                                 : encodeIndexPage(p, m_pager.format());
                s = encoded.status();
                if (encoded) *buf = *encoded;
            }
            if (!s.isOk()) return Status(s.code(), pageName(page) + ": " + s.message());
            out.emplace_back(page, std::move(buf));
        }
        for (auto& [page, buf] : out) VK_RETURN_IF_ERROR(m_pager.write(page, std::move(buf)));
        m_dirty.clear();
        if (m_cache) {
            // Every page goes back with the bytes the Pager now holds for it.
            for (auto& [page, unused] : out) {
                IndexPage& p = m_pages.at(page);
                VK_ASSIGN_OR_RETURN(PageRef now, m_pager.read(page));
                ByteReader r(now->data(), now->size());
                p.freeSpace = r.u16(indexlayout::kFreeSpace);
                const JetFormat::IndexPage& f = m_pager.format().index;
                p.prefixLength = f.prefixLengthSize == 1 ? r.u8(f.prefixLength) : r.u16(f.prefixLength);
                p.prefixChosen = true;
                m_loadedBytes[page] = std::move(now);
            }
            for (auto& [page, bytes] : m_loadedBytes) {
                auto it = m_pages.find(page);
                if (it != m_pages.end()) m_cache->put(page, bytes, std::move(it->second));
            }
            m_pages.clear();
            m_loadedBytes.clear();
        }
        m_prefix.clear();
        m_splices.clear();
        return Status::ok();
    }

private:
    struct Splice {
        bool usable = false;
        size_t pos = 0;           // the entry added, or the one after the entry taken out
        size_t removedBytes = 0;  // the entry taken out, whole; 0 for an added entry
    };

    // The page's one change recorded by dirtyBySplice, with the prefix it
    // keeps, when flush() can splice it: a leaf whose bytes in the Pager
    // are bytes this engine encoded with that prefix.
    std::optional<std::pair<Splice, size_t>> pendingSplice(uint32_t page, const IndexPage& p) const
    {
        auto it = m_splices.find(page);
        auto known = m_prefix.find(page);
        if (it == m_splices.end() || !it->second.usable || !p.isLeaf() || !p.prefixChosen || known == m_prefix.end() ||
            known->second != p.prefixLength || p.entries.empty() || p.freeSpace > room())
            return std::nullopt;
        const Splice& s = it->second;
        const size_t prefix = known->second;
        if (s.removedBytes > 0) {
            if (s.removedBytes < prefix || s.pos > p.entries.size()) return std::nullopt;
        } else if (s.pos == 0 || s.pos >= p.entries.size() || p.entries[s.pos].bytes.size() < prefix) {
            return std::nullopt;
        }
        return std::make_pair(s, prefix);
    }

    // The bytes of entry data a page changed by one entry takes, known
    // from its bytes before, when flush() will splice it.
    std::optional<size_t> splicedSize(uint32_t page, const IndexPage& p) const
    {
        const auto pending = pendingSplice(page, p);
        if (!pending) return std::nullopt;
        const auto& [s, prefix] = *pending;
        const size_t used = room() - p.freeSpace;
        // Out went the entry's bytes but the prefix, stored or (for the
        // first entry) now stored whole by the next one.
        if (s.removedBytes == 0) return used + p.entries[s.pos].bytes.size() - prefix;
        if (used < s.removedBytes - prefix) return std::nullopt;
        return used - (s.removedBytes - prefix);
    }

    // The page's new bytes spliced from its bytes in the Pager, into `out`;
    // NotFound when it cannot be spliced (it is then encoded whole).
    Status splice(uint32_t page, const IndexPage& p, PageBuffer& out)
    {
        const auto pending = pendingSplice(page, p);
        if (!pending) return notFound("no splice");
        const auto& [s, prefix] = *pending;
        VK_ASSIGN_OR_RETURN(PageRef before, m_pager.read(page));
        if (s.removedBytes > 0 && s.pos == 0) {
            // The first entry went: the next one, stored without the prefix,
            // is now stored whole in its place.
            const EntryBytes& next = p.entries.front().bytes;
            if (next.size() < prefix) return notFound("no splice");
            return spliceLeafEntry(*before, 0, s.removedBytes + next.size() - prefix, next, m_pager.format(), out);
        }
        // The entry data before the change is that of the page's bytes.
        std::optional<size_t> start = leafEntryStart(*before, s.pos, m_pager.format());
        if (!start) return notFound("no splice");
        const size_t offset = *start;
        if (s.removedBytes > 0) return spliceLeafEntry(*before, offset, s.removedBytes - prefix, {}, m_pager.format(), out);
        return spliceLeafEntry(*before, offset, 0, std::span(p.entries[s.pos].bytes).subspan(prefix), m_pager.format(), out);
    }

    Pager& m_pager;
    uint32_t m_tdefPage;
    IndexPageCache* m_cache;
    // One change touches a few pages: the nodes of the maps and sets of a
    // work set come from a buffer of its own, freed with it, instead of
    // one allocation each.
    std::array<std::byte, 2048> m_arena;
    std::pmr::monotonic_buffer_resource m_memory{m_arena.data(), m_arena.size()};
    std::pmr::map<uint32_t, IndexPage> m_pages{&m_memory};
    std::pmr::map<uint32_t, PageRef> m_loadedBytes{&m_memory};  // with a cache: the bytes each page came from
    std::pmr::set<uint32_t> m_dirty{&m_memory};
    std::pmr::set<uint32_t> m_freed{&m_memory};
    std::pmr::map<uint32_t, size_t> m_prefix{&m_memory};  // prefix lengths chosen by overfull()
    std::pmr::map<uint32_t, Splice> m_splices{&m_memory};
};

struct Step {
    uint32_t page;
    size_t child;  // index into the node's children; entries.size() = the tail
};

size_t childCount(const IndexPage& n) { return n.entries.size() + (n.tail ? 1 : 0); }
uint32_t childAt(const IndexPage& n, size_t i) { return i < n.entries.size() ? n.entries[i].child : n.tail; }
bool isLastChild(const IndexPage& n, size_t i) { return i + 1 == childCount(n); }

// Picks the child whose subtree holds `target`: the first entry not less than
// it, else the tail, else the last entry.
Result<size_t> chooseChild(const IndexPage& n, const EntryBytes& target, uint32_t page)
{
    auto it = std::lower_bound(n.entries.begin(), n.entries.end(), target, lessBytes);
    if (it != n.entries.end()) return size_t(it - n.entries.begin());
    if (n.tail) return n.entries.size();
    if (!n.entries.empty()) return n.entries.size() - 1;
    return corruption(pageName(page) + " is a node without children");
}

class TreeOps {
public:
    TreeOps(Pager& pager, uint32_t tdef, uint32_t root, IndexPageAllocator* alloc, IndexPageCache* cache = nullptr)
        : m_work(pager, tdef, cache), m_tdef(tdef), m_root(root), m_alloc(alloc)
    {
    }
    WorkSet& work() { return m_work; }

    // Descends to the leaf for `target`; `path` receives the nodes above it.
    Result<uint32_t> descend(const EntryBytes& target, std::vector<Step>& path)
    {
        uint32_t page = m_root;
        for (size_t depth = 0; depth < kMaxDepth; ++depth) {
            VK_ASSIGN_OR_RETURN(IndexPage * p, m_work.load(page));
            if (p->isLeaf()) return page;
            VK_ASSIGN_OR_RETURN(size_t i, chooseChild(*p, target, page));
            path.push_back({page, i});
            page = childAt(*p, i);
        }
        return corruption("index tree under page " + std::to_string(m_root) + " is deeper than any sound index");
    }

    // descend(), for a sorted batch: `bound` receives the parent entry of
    // the leaf (the last entry that belongs in it), or nothing when the
    // leaf is the rightmost and every entry after `target` belongs in it.
    Result<uint32_t> descendForBatch(const EntryBytes& target, std::vector<Step>& path, std::optional<EntryBytes>& bound)
    {
        path.clear();
        VK_ASSIGN_OR_RETURN(uint32_t leafPage, descend(target, path));
        bound.reset();
        for (const Step& step : path) {
            const IndexPage& n = m_work.peek(step.page);
            if (!isLastChild(n, step.child)) bound = n.entries[step.child].bytes;
        }
        return leafPage;
    }

    // Pages that grew past a page's room without an insert (a node entry
    // replaced by a longer copy, a tail turned into an entry) are split
    // here, after the operation's other changes.
    Status splitOverfull()
    {
        for (size_t round = 0; round < 4 * kMaxDepth; ++round) {
            std::optional<uint32_t> over;
            for (uint32_t page : m_work.dirtyPages()) {
                if (m_work.overfull(page)) {
                    over = page;
                    break;
                }
            }
            if (!over) return Status::ok();
            const IndexPage& p = *m_work.load(*over).value();
            if (p.entries.empty()) return corruption(pageName(*over) + " overflows without entries");
            std::vector<Step> path;
            VK_RETURN_IF_ERROR(descendTo(p.entries.front().bytes, *over, path));
            VK_RETURN_IF_ERROR(splitIfNeeded(path, *over));
        }
        return corruption("index pages keep overflowing after splits");
    }

    // The nodes above `stop`, found by searching for an entry inside it.
    Status descendTo(const EntryBytes& target, uint32_t stop, std::vector<Step>& path)
    {
        uint32_t page = m_root;
        for (size_t depth = 0; depth < kMaxDepth; ++depth) {
            if (page == stop) return Status::ok();
            VK_ASSIGN_OR_RETURN(IndexPage * p, m_work.load(page));
            if (p->isLeaf()) break;
            VK_ASSIGN_OR_RETURN(size_t i, chooseChild(*p, target, page));
            path.push_back({page, i});
            page = childAt(*p, i);
        }
        return corruption(pageName(stop) + " cannot be reached from the index root");
    }

    Result<EntryBytes> lastOfSubtree(uint32_t page)
    {
        for (size_t depth = 0; depth < kMaxDepth; ++depth) {
            VK_ASSIGN_OR_RETURN(IndexPage * p, m_work.load(page));
            if (p->isLeaf()) {
                if (p->entries.empty()) return corruption(pageName(page) + " is an empty leaf below a node");
                return p->entries.back().bytes;
            }
            if (childCount(*p) == 0) return corruption(pageName(page) + " is a node without children");
            page = childAt(*p, childCount(*p) - 1);
        }
        return corruption("index tree is deeper than any sound index");
    }

    // The last entry below path[depth-1]'s chosen child changed to `last`:
    // update the entries above while the change is in a last child.
    void updateParents(const std::vector<Step>& path, size_t depth, const EntryBytes& last)
    {
        for (size_t d = depth; d-- > 0;) {
            IndexPage& n = *m_work.load(path[d].page).value();
            const size_t i = path[d].child;
            if (i < n.entries.size() && n.entries[i].bytes != last) {
                n.entries[i].bytes = last;
                m_work.dirty(path[d].page);
            }
            if (!isLastChild(n, i)) return;
        }
    }

    // Two or more children: the last one is the tail. One child: an entry.
    Status normalize(uint32_t page)
    {
        IndexPage& n = *m_work.load(page).value();
        const size_t count = childCount(n);
        if (count >= 2 && n.tail == 0) {
            n.tail = n.entries.back().child;
            n.entries.pop_back();
            m_work.dirty(page);
        } else if (count == 1 && n.tail != 0) {
            const uint32_t child = n.tail;
            VK_ASSIGN_OR_RETURN(EntryBytes last, lastOfSubtree(child));
            IndexPage& again = *m_work.load(page).value();
            IndexEntry e;
            e.bytes = std::move(last);
            e.child = child;
            again.entries = {std::move(e)};
            again.tail = 0;
            m_work.dirty(page);
        }
        return Status::ok();
    }

    Status splitIfNeeded(std::vector<Step> path, uint32_t page)
    {
        while (true) {
            if (!m_work.loaded(page)) VK_RETURN_IF_ERROR(m_work.load(page).status());
            if (!m_work.overfull(page)) return Status::ok();
            if (path.empty()) {
                // The root keeps its page number: move its contents down one level.
                VK_ASSIGN_OR_RETURN(uint32_t c, m_alloc->allocatePage());
                IndexPage moved = std::move(*m_work.load(page).value());
                moved.prev = moved.next = 0;
                IndexPage& cp = m_work.create(c, moved.type);
                cp = std::move(moved);
                VK_ASSIGN_OR_RETURN(EntryBytes last, lastOfSubtree(c));
                IndexPage& root = *m_work.load(page).value();
                root = IndexPage{};
                root.type = kTypeNode;
                root.tdefPage = m_tdef;
                IndexEntry e;
                e.bytes = std::move(last);
                e.child = c;
                root.entries.push_back(std::move(e));
                m_work.dirty(page);
                path.push_back({page, 0});
                page = c;
            }
            VK_RETURN_IF_ERROR(splitOnce(path, page));
            page = path.back().page;
            path.pop_back();
        }
    }

    // Moves the first part of `page` to a new page linked before it and
    // adds its entry to the parent (path.back()).
    Status splitOnce(const std::vector<Step>& path, uint32_t page)
    {
        IndexPage* p = m_work.load(page).value();
        const bool node = p->isNode();
        const size_t n = p->entries.size();
        if (n < 2) return corruption(pageName(page) + " cannot be split");
        // Balance by bytes: the smallest first part holding half the data,
        // moved until both parts fit.
        size_t total = 0;
        for (const auto& e : p->entries) total += e.bytes.size();
        size_t k = 0, acc = 0;
        while (k < n - 1 && acc * 2 < total) acc += p->entries[k++].bytes.size();
        auto fits = [&](size_t from, size_t to) {
            return encodedEntrySize(std::span(p->entries).subspan(from, to - from), node, m_work.maxPrefix()) <= m_work.room();
        };
        k = std::max<size_t>(k, 1);
        while (k > 1 && !fits(0, k)) --k;
        while (k < n - 1 && !fits(k, n)) ++k;
        if (!fits(0, k) || !fits(k, n)) return corruption(pageName(page) + " holds entries too large to split");

        VK_ASSIGN_OR_RETURN(uint32_t np, m_alloc->allocatePage());
        p = m_work.load(page).value();
        IndexPage& fresh = m_work.create(np, p->type);
        p = m_work.load(page).value();
        fresh.entries.assign(std::make_move_iterator(p->entries.begin()),
                             std::make_move_iterator(p->entries.begin() + long(k)));
        p->entries.erase(p->entries.begin(), p->entries.begin() + long(k));
        EntryBytes freshLast = fresh.entries.back().bytes;
        if (node && fresh.entries.size() >= 2) {
            fresh.tail = fresh.entries.back().child;
            fresh.entries.pop_back();
        }
        fresh.prev = p->prev;
        fresh.next = page;
        const uint32_t oldPrev = p->prev;
        p->prev = np;
        m_work.dirty(page);
        if (oldPrev) {
            VK_ASSIGN_OR_RETURN(IndexPage * before, m_work.load(oldPrev));
            before->next = np;
            m_work.dirty(oldPrev);
        }
        if (node) VK_RETURN_IF_ERROR(normalize(page));

        const Step& up = path.back();
        IndexPage& parent = *m_work.load(up.page).value();
        IndexEntry e;
        e.bytes = std::move(freshLast);
        e.child = np;
        parent.entries.insert(parent.entries.begin() + long(up.child), std::move(e));
        m_work.dirty(up.page);
        return normalize(up.page);
    }

    // Unlinks and frees an emptied page, then fixes its parent.
    Status removePage(std::vector<Step> path, uint32_t page)
    {
        while (true) {
            IndexPage* p = m_work.load(page).value();
            const uint32_t prev = p->prev, next = p->next;
            if (prev) {
                VK_ASSIGN_OR_RETURN(IndexPage * b, m_work.load(prev));
                b->next = next;
                m_work.dirty(prev);
            }
            if (next) {
                VK_ASSIGN_OR_RETURN(IndexPage * a, m_work.load(next));
                a->prev = prev;
                m_work.dirty(next);
            }
            m_work.forget(page);
            VK_RETURN_IF_ERROR(m_alloc->freePage(page));

            const Step up = path.back();
            path.pop_back();
            IndexPage& parent = *m_work.load(up.page).value();
            const bool wasLast = isLastChild(parent, up.child);
            if (up.child < parent.entries.size())
                parent.entries.erase(parent.entries.begin() + long(up.child));
            else
                parent.tail = 0;
            m_work.dirty(up.page);
            if (childCount(parent) == 0) {
                if (path.empty()) {
                    // An empty root stays, as an empty leaf.
                    parent = IndexPage{};
                    parent.type = kTypeLeaf;
                    parent.tdefPage = m_tdef;
                    return Status::ok();
                }
                page = up.page;
                continue;
            }
            VK_RETURN_IF_ERROR(normalize(up.page));
            if (wasLast) {
                VK_ASSIGN_OR_RETURN(EntryBytes last, lastOfSubtree(up.page));
                updateParents(path, path.size(), last);
            }
            return Status::ok();
        }
    }

private:
    WorkSet m_work;
    uint32_t m_tdef;
    uint32_t m_root;
    IndexPageAllocator* m_alloc;
};

// Whether an entry with `key` stands next to position `pos` of the leaf
// (an entry put there would have it as a neighbour), along the leaf chain
// too.
Result<bool> keyAtPosition(WorkSet& work, uint32_t leafPage, size_t pos, std::span<const uint8_t> key)
{
    const IndexPage* leaf = work.load(leafPage).value();
    auto sameKey = [&](const IndexEntry& e) { return std::ranges::equal(e.key(), key); };
    if ((pos > 0 && sameKey(leaf->entries[pos - 1])) || (pos < leaf->entries.size() && sameKey(leaf->entries[pos])))
        return true;
    const uint32_t prev = leaf->prev, next = leaf->next;
    const bool last = pos == leaf->entries.size();
    if (pos == 0 && prev) {
        VK_ASSIGN_OR_RETURN(IndexPage * b, work.load(prev));
        if (!b->entries.empty() && sameKey(b->entries.back())) return true;
    }
    if (last && next) {
        VK_ASSIGN_OR_RETURN(IndexPage * a, work.load(next));
        if (!a->entries.empty() && sameKey(a->entries.front())) return true;
    }
    return false;
}

Result<uint32_t> leftmostLeaf(WorkSet& work, uint32_t root)
{
    uint32_t page = root;
    for (size_t depth = 0; depth < kMaxDepth; ++depth) {
        VK_ASSIGN_OR_RETURN(IndexPage * p, work.load(page));
        if (p->isLeaf()) return page;
        if (childCount(*p) == 0) return corruption(pageName(page) + " is a node without children");
        page = childAt(*p, 0);
    }
    return corruption("index tree is deeper than any sound index");
}

}  // namespace

Status IndexTree::walkLeaves(uint32_t page, const std::function<Result<bool>(const IndexPage&)>& visitLeaf)
{
    size_t pages = 0;
    while (page != 0) {
        if (++pages > m_pager.pageCount()) return corruption("the leaf chain of index " + std::to_string(m_rootPage) + " loops");
        // Decode leaf by leaf without keeping them all.
        VK_ASSIGN_OR_RETURN(PageRef ref, m_pager.read(page));
        auto leaf = decodeIndexPage(*ref, m_pager.format());
        if (!leaf) return Status(leaf.status().code(), pageName(page) + ": " + leaf.status().message());
        if (!leaf->isLeaf()) return corruption("the leaf chain reaches " + pageName(page) + ", which is a node");
        VK_ASSIGN_OR_RETURN(bool goOn, visitLeaf(*leaf));
        if (!goOn) return Status::ok();
        page = leaf->next;
        if (page >= m_pager.pageCount()) return corruption(pageName(page) + " lies outside the file");
    }
    return Status::ok();
}

Status IndexTree::forEachEntry(const std::function<Status(const IndexEntry&)>& visit)
{
    WorkSet work(m_pager, m_tdefPage);
    VK_ASSIGN_OR_RETURN(uint32_t page, leftmostLeaf(work, m_rootPage));
    return walkLeaves(page, [&](const IndexPage& leaf) -> Result<bool> {
        for (const auto& e : leaf.entries) VK_RETURN_IF_ERROR(visit(e));
        return true;
    });
}

Result<std::vector<IndexEntry>> IndexTree::entries()
{
    std::vector<IndexEntry> out;
    VK_RETURN_IF_ERROR(forEachEntry([&](const IndexEntry& e) {
        out.push_back(e);
        return Status::ok();
    }));
    return out;
}

Status IndexTree::forEachWithKeyPrefix(std::span<const uint8_t> prefix,
                                       const std::function<Status(const IndexEntry&)>& visit)
{
    const EntryBytes target(prefix);
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, nullptr);
    std::vector<Step> path;
    VK_ASSIGN_OR_RETURN(uint32_t page, ops.descend(target, path));
    bool first = true;
    return walkLeaves(page, [&](const IndexPage& leaf) -> Result<bool> {
        auto it = first ? std::lower_bound(leaf.entries.begin(), leaf.entries.end(), target, lessBytes)
                        : leaf.entries.begin();
        first = false;
        for (; it != leaf.entries.end(); ++it) {
            const auto key = it->key();
            if (key.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), key.begin())) return false;
            VK_RETURN_IF_ERROR(visit(*it));
        }
        return true;
    });
}

Result<std::optional<IndexEntry>> IndexTree::find(std::span<const uint8_t> key, RowId row)
{
    const IndexEntry target = IndexEntry::make(key, row);
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, nullptr);
    std::vector<Step> path;
    VK_ASSIGN_OR_RETURN(uint32_t leafPage, ops.descend(target.bytes, path));
    const IndexPage& leaf = *ops.work().load(leafPage).value();
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), target.bytes, lessBytes);
    if (it != leaf.entries.end() && it->bytes == target.bytes) return std::optional<IndexEntry>(*it);
    return std::optional<IndexEntry>();
}

Result<std::optional<IndexEntry>> IndexTree::findByRowId(RowId row)
{
    std::optional<IndexEntry> found;
    const Status s = forEachEntry([&](const IndexEntry& e) {
        if (e.rowId() == row) {
            found = e;
            return Status(ErrorCode::NotFound, "stop");
        }
        return Status::ok();
    });
    if (found) return found;
    if (!s.isOk()) return s;
    return found;
}

Status IndexTree::insert(std::span<const uint8_t> key, RowId row, bool unique, IndexPageAllocator& allocator,
                         bool* keyWasNew)
{
    if (key.empty()) return invalidArgument("an index key has at least one flag byte");
    if (key.size() > maxIndexKeySize(m_pager.format()))
        return notSupported("an index key of " + std::to_string(key.size()) + " bytes is longer than the " +
                            std::to_string(maxIndexKeySize(m_pager.format())) + " bytes this engine stores");
    if (row.page >= (1u << 24)) return invalidArgument("a row id page does not fit in 3 bytes");
    IndexEntry entry = IndexEntry::make(key, row);
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, &allocator, m_cache);
    std::vector<Step> path;
    VK_ASSIGN_OR_RETURN(uint32_t leafPage, ops.descend(entry.bytes, path));
    IndexPage* leaf = ops.work().load(leafPage).value();
    auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry.bytes, lessBytes);
    const size_t pos = size_t(it - leaf->entries.begin());
    if (it != leaf->entries.end() && it->bytes == entry.bytes)
        return invalidArgument("the index already has this entry for row " + std::to_string(row.page) + ":" +
                               std::to_string(row.row));
    if ((unique && !isAllNullIndexKey(key)) || keyWasNew) {
        VK_ASSIGN_OR_RETURN(bool clash, keyAtPosition(ops.work(), leafPage, pos, key));
        if (clash && unique && !isAllNullIndexKey(key)) return Status(ErrorCode::Constraint, "the value is already in a unique index");
        if (keyWasNew) *keyWasNew = !clash;
        leaf = ops.work().load(leafPage).value();
    }
    // An entry after the first lowers a known prefix at most to what it shares with the first.
    std::optional<size_t> prefix;
    if (leaf->prefixChosen && pos > 0 && leaf->entries.size() >= 2)
        prefix = std::min<size_t>(leaf->prefixLength, commonKeyPrefix(leaf->entries.front(), entry));
    const IndexEntry& added = *leaf->entries.insert(leaf->entries.begin() + long(pos), std::move(entry));
    ops.work().dirtyBySplice(leafPage, pos, 0, prefix);
    if (pos + 1 == leaf->entries.size()) ops.updateParents(path, path.size(), added.bytes);
    VK_RETURN_IF_ERROR(ops.splitIfNeeded(path, leafPage));
    VK_RETURN_IF_ERROR(ops.splitOverfull());
    return ops.work().flush();
}

Status IndexTree::insertSorted(std::span<const IndexEntry> entries, bool unique, IndexPageAllocator& allocator,
                               size_t* newKeys)
{
    const size_t maxKey = maxIndexKeySize(m_pager.format());
    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        if (e.bytes.size() <= kRowIdSize) return invalidArgument("an index key has at least one flag byte");
        if (e.key().size() > maxKey)
            return notSupported("an index key of " + std::to_string(e.key().size()) + " bytes is longer than the " +
                                std::to_string(maxKey) + " bytes this engine stores");
        if (i > 0 && !(entries[i - 1].bytes < e.bytes)) return invalidArgument("index entries to insert are not in order");
    }
    if (newKeys) *newKeys = 0;
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, &allocator, m_cache);
    WorkSet& work = ops.work();
    // A leaf takes at most half a page of entries before it is split, so
    // that one split always makes room.
    const size_t mostAdded = work.room() / 2;
    std::vector<Step> path;
    std::optional<EntryBytes> bound;
    size_t i = 0;
    while (i < entries.size()) {
        // The entries up to the last one below the leaf's parent entry go
        // where the first went; past the rightmost child every entry does.
        VK_ASSIGN_OR_RETURN(uint32_t leafPage, ops.descendForBatch(entries[i].bytes, path, bound));
        IndexPage* leaf = work.load(leafPage).value();
        size_t pos = 0, added = 0;
        bool lastChanged = false;
        do {
            const IndexEntry& e = entries[i];
            auto it = std::lower_bound(leaf->entries.begin() + long(pos), leaf->entries.end(), e.bytes, lessBytes);
            pos = size_t(it - leaf->entries.begin());
            if (it != leaf->entries.end() && it->bytes == e.bytes) {
                const RowId row = e.rowId();
                return invalidArgument("the index already has this entry for row " + std::to_string(row.page) + ":" +
                                       std::to_string(row.row));
            }
            const bool nullKey = isAllNullIndexKey(e.key());
            if ((unique && !nullKey) || newKeys) {
                VK_ASSIGN_OR_RETURN(bool clash, keyAtPosition(work, leafPage, pos, e.key()));
                if (clash && unique && !nullKey)
                    return Status(ErrorCode::Constraint, "the value is already in a unique index");
                if (!clash && newKeys) ++*newKeys;
                leaf = work.load(leafPage).value();
            }
            leaf->entries.insert(leaf->entries.begin() + long(pos), e);
            lastChanged = lastChanged || pos + 1 == leaf->entries.size();
            ++pos;
            added += e.bytes.size();
            ++i;
        } while (i < entries.size() && added < mostAdded && (!bound || !(*bound < entries[i].bytes)));
        work.dirty(leafPage);
        if (lastChanged) ops.updateParents(path, path.size(), leaf->entries.back().bytes);
        VK_RETURN_IF_ERROR(ops.splitIfNeeded(path, leafPage));
    }
    VK_RETURN_IF_ERROR(ops.splitOverfull());
    return work.flush();
}

Status IndexTree::removeSorted(std::span<const IndexEntry> entries, IndexPageAllocator& allocator)
{
    for (size_t i = 1; i < entries.size(); ++i)
        if (!(entries[i - 1].bytes < entries[i].bytes)) return invalidArgument("index entries to remove are not in order");
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, &allocator, m_cache);
    WorkSet& work = ops.work();
    std::vector<Step> path;
    std::optional<EntryBytes> bound;
    size_t i = 0;
    while (i < entries.size()) {
        // The entries up to the leaf's parent entry are in this leaf; past
        // the rightmost child, every entry is.
        VK_ASSIGN_OR_RETURN(uint32_t leafPage, ops.descendForBatch(entries[i].bytes, path, bound));
        IndexPage* leaf = work.load(leafPage).value();
        size_t pos = 0;
        bool lastChanged = false;
        do {
            const IndexEntry& e = entries[i];
            auto it = std::lower_bound(leaf->entries.begin() + long(pos), leaf->entries.end(), e.bytes, lessBytes);
            if (it == leaf->entries.end() || it->bytes != e.bytes) {
                const RowId row = e.rowId();
                return notFound("the index has no entry for row " + std::to_string(row.page) + ":" +
                                std::to_string(row.row));
            }
            pos = size_t(it - leaf->entries.begin());
            lastChanged = lastChanged || pos + 1 == leaf->entries.size();
            leaf->entries.erase(it);
            ++i;
        } while (i < entries.size() && !leaf->entries.empty() && (!bound || !(*bound < entries[i].bytes)));
        work.dirty(leafPage);
        if (!leaf->entries.empty()) {
            if (lastChanged) ops.updateParents(path, path.size(), leaf->entries.back().bytes);
        } else if (!path.empty()) {
            VK_RETURN_IF_ERROR(ops.removePage(path, leafPage));
        }
    }
    VK_RETURN_IF_ERROR(ops.splitOverfull());
    return work.flush();
}

Status IndexTree::remove(std::span<const uint8_t> key, RowId row, IndexPageAllocator& allocator)
{
    const IndexEntry entry = IndexEntry::make(key, row);
    TreeOps ops(m_pager, m_tdefPage, m_rootPage, &allocator, m_cache);
    std::vector<Step> path;
    VK_ASSIGN_OR_RETURN(uint32_t leafPage, ops.descend(entry.bytes, path));
    IndexPage* leaf = ops.work().load(leafPage).value();
    auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry.bytes, lessBytes);
    if (it == leaf->entries.end() || it->bytes != entry.bytes)
        return notFound("the index has no entry for row " + std::to_string(row.page) + ":" + std::to_string(row.row));
    const bool wasLast = it + 1 == leaf->entries.end();
    // The prefix is the least any entry after the first shares with the
    // first (at most the format's limit). Taking out one of those entries
    // leaves it where it was when the entry shared more than it, or when the
    // last entry left still shares no more than it.
    std::optional<size_t> prefix;
    if (leaf->prefixChosen && it != leaf->entries.begin() && leaf->entries.size() >= 3) {
        const IndexEntry& lastLeft = wasLast ? *(it - 1) : leaf->entries.back();
        if (commonKeyPrefix(leaf->entries.front(), *it) > leaf->prefixLength ||
            std::min(commonKeyPrefix(leaf->entries.front(), lastLeft), m_pager.format().maxIndexPrefix()) <=
                leaf->prefixLength)
            prefix = leaf->prefixLength;
    }
    // Taking out the first entry: any two entries left share at least what
    // each shares with the old first, so the new first shares at least the
    // old prefix with every entry; the last one sharing no more settles it.
    if (leaf->prefixChosen && it == leaf->entries.begin() && leaf->entries.size() >= 3 &&
        std::min(commonKeyPrefix(leaf->entries[1], leaf->entries.back()), m_pager.format().maxIndexPrefix()) ==
            leaf->prefixLength)
        prefix = leaf->prefixLength;
    const size_t pos = size_t(it - leaf->entries.begin());
    const size_t removedBytes = it->bytes.size();
    leaf->entries.erase(it);
    ops.work().dirtyBySplice(leafPage, pos, removedBytes, prefix);
    if (!leaf->entries.empty()) {
        if (wasLast) ops.updateParents(path, path.size(), leaf->entries.back().bytes);
    } else if (!path.empty()) {
        VK_RETURN_IF_ERROR(ops.removePage(path, leafPage));
    }
    VK_RETURN_IF_ERROR(ops.splitOverfull());
    return ops.work().flush();
}

namespace {

// The filling of one page with consecutive entries: the entries after the
// first are stored without what they all share with it (at most
// `maxPrefix` bytes); node entries carry a child pointer each.
class PageFill {
public:
    PageFill(size_t room, size_t maxPrefix, bool node)
        : m_room(room), m_maxPrefix(maxPrefix), m_pointer(node ? kChildSize : 0)
    {
    }
    // A new page, beginning with this entry.
    void start(std::span<const uint8_t> key, size_t bytes)
    {
        m_first = key;
        m_sum = bytes + m_pointer;
        m_count = 1;
    }
    // Adds the next entry when the page still holds it.
    bool add(std::span<const uint8_t> key, size_t bytes)
    {
        size_t p = 0;
        while (p < m_maxPrefix && p < m_first.size() && p < key.size() && m_first[p] == key[p]) ++p;
        const size_t next = m_sum + bytes + m_pointer;
        if (next - m_count * p > m_room) return false;
        m_sum = next;
        ++m_count;
        return true;
    }

private:
    size_t m_room, m_maxPrefix, m_pointer;
    EntryBytes m_first;
    size_t m_sum = 0, m_count = 0;
};

// Groups consecutive items (0 to `count`) into pages, each as full as it
// may be; `keyOf(i)` and `bytesOf(i)` give an item's key and its whole size.
template <typename KeyOf, typename BytesOf>
std::vector<std::pair<size_t, size_t>> packGroups(size_t count, bool node, KeyOf keyOf, BytesOf bytesOf, size_t room,
                                                  size_t maxPrefix)
{
    std::vector<std::pair<size_t, size_t>> groups;
    PageFill fill(room, maxPrefix, node);
    size_t i = 0;
    while (i < count) {
        fill.start(keyOf(i), bytesOf(i));
        size_t j = i + 1;
        while (j < count && fill.add(keyOf(j), bytesOf(j))) ++j;
        groups.emplace_back(i, j);
        i = j;
    }
    return groups;
}

struct Planned {
    uint8_t type = kTypeLeaf;
    std::vector<IndexEntry> entries;  // nodes: child = index into the plan
    size_t from = 0, to = 0;          // leaves: their entries in the sorted list
    size_t tail = SIZE_MAX;           // index into the plan
    EntryBytes last;
};

}  // namespace

Status IndexTree::rebuild(std::span<const IndexEntry> sortedEntries, IndexPageAllocator& allocator)
{
    IndexEntryList list;
    for (const IndexEntry& e : sortedEntries) list.addBytes(e.bytes);
    return rebuild(list, allocator);
}

Status IndexTree::rebuild(const IndexEntryList& sorted, IndexPageAllocator& allocator)
{
    if (!sorted.complete()) return notSupported("an index of this many entries cannot be built");
    SortedListEntries entries(sorted);
    return rebuild(entries, allocator);
}

Status IndexTree::rebuild(SortedEntries& sorted, IndexPageAllocator& allocator)
{
    const size_t room = m_pager.format().index.maxEntryData;
    const size_t maxPrefix = m_pager.format().maxIndexPrefix();
    // The leaves, planned in one pass over the entries: each as full as it
    // may be, its entries counted and its last one kept for the level above.
    std::vector<Planned> plan;
    std::vector<std::vector<size_t>> levels(1);
    {
        VK_RETURN_IF_ERROR(sorted.rewind());
        EntryBytes previous;
        PageFill fill(room, maxPrefix, false);
        size_t count = 0, inLeaf = 0;
        auto closeLeaf = [&] {
            Planned leaf;
            leaf.from = count - inLeaf;
            leaf.to = count;
            leaf.last = previous;
            levels[0].push_back(plan.size());
            plan.push_back(std::move(leaf));
        };
        for (;;) {
            VK_ASSIGN_OR_RETURN(bool more, sorted.next());
            if (!more) break;
            const std::span<const uint8_t> e = sorted.entry();
            if (e.size() < kRowIdSize + 1) return invalidArgument("an index entry has no key bytes");
            const std::span<const uint8_t> key = e.first(e.size() - kRowIdSize);
            if (key.size() > maxIndexKeySize(m_pager.format()))
                return notSupported("an index key of " + std::to_string(key.size()) + " bytes is too long");
            if (count > 0 && !std::ranges::lexicographical_compare(std::span<const uint8_t>(previous), e))
                return invalidArgument("index entries to rebuild from are not strictly increasing");
            if (inLeaf == 0 || !fill.add(key, e.size())) {
                if (inLeaf > 0) closeLeaf();
                fill.start(key, e.size());
                inLeaf = 0;
            }
            ++inLeaf;
            ++count;
            previous = e;
        }
        if (inLeaf > 0) closeLeaf();
    }
    // The pages the tree has now, to reuse.
    std::vector<uint32_t> reuse;
    {
        WorkSet work(m_pager, m_tdefPage);
        std::vector<uint32_t> todo{m_rootPage};
        std::set<uint32_t> seen{m_rootPage};
        while (!todo.empty()) {
            const uint32_t page = todo.back();
            todo.pop_back();
            VK_ASSIGN_OR_RETURN(IndexPage * p, work.load(page));
            if (page != m_rootPage) reuse.push_back(page);
            if (!p->isNode()) continue;
            for (size_t i = 0; i < childCount(*p); ++i) {
                const uint32_t c = childAt(*p, i);
                if (!seen.insert(c).second) return corruption(pageName(page) + " names a child twice in the tree");
                todo.push_back(c);
            }
        }
        std::sort(reuse.begin(), reuse.end());
    }

    // The levels above; page numbers are known only when the top is.
    if (plan.empty()) {
        plan.push_back(Planned{});
        levels[0].push_back(0);
    }
    while (levels.back().size() > 1) {
        std::vector<IndexEntry> items;
        for (size_t id : levels.back()) {
            IndexEntry e;
            e.bytes = plan[id].last;
            e.child = uint32_t(id);
            items.push_back(std::move(e));
        }
        std::vector<size_t> level;
        auto itemKey = [&](size_t i) { return items[i].key(); };
        auto itemSize = [&](size_t i) { return items[i].bytes.size(); };
        for (auto [from, to] : packGroups(items.size(), true, itemKey, itemSize, room, maxPrefix)) {
            Planned n;
            n.type = kTypeNode;
            n.entries.assign(items.begin() + long(from), items.begin() + long(to));
            n.last = n.entries.back().bytes;
            if (n.entries.size() >= 2) {
                n.tail = n.entries.back().child;
                n.entries.pop_back();
            }
            level.push_back(plan.size());
            plan.push_back(std::move(n));
        }
        levels.push_back(std::move(level));
    }

    // A page gets its number when it is written or linked to, the old
    // tree's pages first; the pages of a large new tree go to the file as
    // they are made (Pager::writeAppendedAheadIfMany), and each page goes
    // to the pager as it is made (a failure halfway is the caller's to roll
    // back, as for any tree change).
    constexpr uint32_t kUnnumbered = 0;
    std::vector<uint32_t> number(plan.size(), kUnnumbered);
    number[levels.back().front()] = m_rootPage;
    size_t reused = 0;
    auto numberOf = [&](size_t id) -> Result<uint32_t> {
        if (number[id] == kUnnumbered) {
            if (reused < reuse.size()) {
                number[id] = reuse[reused++];
            } else {
                VK_ASSIGN_OR_RETURN(number[id], allocator.allocatePage());
            }
        }
        return number[id];
    };
    VK_RETURN_IF_ERROR(sorted.rewind());
    for (const auto& level : levels) {
        for (size_t k = 0; k < level.size(); ++k) {
            Planned& pl = plan[level[k]];
            IndexPage page;
            page.type = pl.type;
            page.tdefPage = m_tdefPage;
            VK_ASSIGN_OR_RETURN(const uint32_t self, numberOf(level[k]));
            if (k > 0) {
                VK_ASSIGN_OR_RETURN(page.prev, numberOf(level[k - 1]));
            }
            if (k + 1 < level.size()) {
                VK_ASSIGN_OR_RETURN(page.next, numberOf(level[k + 1]));
            }
            if (pl.type == kTypeNode) {
                page.entries = std::move(pl.entries);
                for (auto& e : page.entries) {
                    VK_ASSIGN_OR_RETURN(e.child, numberOf(e.child));
                }
            } else {
                // The leaves are written in the order they were planned in,
                // so the second pass takes their entries as they come.
                page.entries.resize(pl.to - pl.from);
                for (IndexEntry& e : page.entries) {
                    VK_ASSIGN_OR_RETURN(bool more, sorted.next());
                    if (!more) return ioError("the entries of the index ran out while it was written");
                    e.bytes = sorted.entry();
                }
            }
            if (pl.tail != SIZE_MAX) {
                VK_ASSIGN_OR_RETURN(page.tail, numberOf(pl.tail));
            }
            VK_ASSIGN_OR_RETURN(PageBuffer buf, encodeIndexPage(page, m_pager.format()));
            VK_RETURN_IF_ERROR(m_pager.write(self, buf));
            VK_RETURN_IF_ERROR(m_pager.writeAppendedAheadIfMany());
            pl = Planned();
        }
    }
    for (size_t i = reused; i < reuse.size(); ++i) VK_RETURN_IF_ERROR(allocator.freePage(reuse[i]));
    return Status::ok();
}

std::optional<IndexPage> IndexPageCache::take(uint32_t page, const PageRef& current)
{
    auto it = m_pages.find(page);
    if (it == m_pages.end() || !it->second.bytes) return std::nullopt;
    std::optional<IndexPage> out;
    if (it->second.bytes == current || *it->second.bytes == *current) out = std::move(it->second.page);
    // The entry stays, empty, for the page to come back to.
    it->second.bytes.reset();
    it->second.page = IndexPage();
    return out;
}

void IndexPageCache::put(uint32_t page, PageRef bytes, IndexPage decoded)
{
    if (!m_pages.empty() && m_pages.size() >= m_limit && !m_pages.count(page)) {
        std::vector<uint64_t> used;
        used.reserve(m_pages.size());
        for (const auto& [unused, c] : m_pages) used.push_back(c.used);
        auto middle = used.begin() + long(used.size() / 2);
        std::nth_element(used.begin(), middle, used.end());
        std::erase_if(m_pages, [&](const auto& p) { return p.second.used <= *middle; });
    }
    Cached& c = m_pages[page];
    c.bytes = std::move(bytes);
    c.page = std::move(decoded);
    c.used = ++m_clock;
}

}  // namespace varnika::jet

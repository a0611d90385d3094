#pragma once
// Owner maps decoded once and used again while they stay as they were. A
// writer looks at a table's maps for every row it places or frees; decoding
// a map each time costs more than the rest of a small insert. A map is used
// again while every page it was read from is the very buffer the pager
// hands out for that page: the pager never changes a page's buffer in
// place, so the same buffer means the same bytes.

#include "db/jet/file/pager.h"
#include "db/jet/page/usage_map.h"
#include "db/status.h"

#include <map>
#include <utility>
#include <vector>

namespace varnika::jet {

class UsageMapCache {
public:
    // UsageMap::load(pager, where) for an owner map, decoded again only when
    // one of its pages changed. The map stays valid until the next load()
    // of the same location (followBit changes it in place, or marks it to
    // be decoded again at that load).
    Result<const UsageMap*> load(Pager& pager, RowPointer where);

    // Whether the map at `where` is kept decoded and is still what its
    // pages say.
    bool isCurrent(Pager& pager, RowPointer where);
    // After a writer set the bit of `page` in the map at `where` to `value`
    // (the map current just before, and nothing else of it changed), the
    // decoded map follows: a large table's map is not decoded again for
    // each page it gains or that fills up. Anything else found changed (a
    // moved or longer inline window, a new bitmap page) marks it to be
    // decoded again at the next load().
    void followBit(Pager& pager, RowPointer where, uint32_t page, bool value);

    // Maps decoded from their pages so far.
    size_t decodeCount() const { return m_decodes; }

private:
    struct Entry {
        UsageMap map;
        std::vector<std::pair<uint32_t, PageRef>> sources;  // the map's row page and bitmap pages
        std::vector<uint8_t> row;  // the map's row as it was decoded
        uint32_t pageCount = 0;  // the file's length it was checked against
        bool stale = false;      // found changed by followBit: decoded again at the next load
    };
    // Whether the map is still what its pages say. The page holding the
    // map's row holds other rows too (the table's other map, other
    // tables' maps): a change to those leaves the map as it was.
    bool current(Pager& pager, RowPointer where, Entry& e);
    bool follow(Pager& pager, RowPointer where, uint32_t page, bool value, Entry& e);
    std::map<std::pair<uint32_t, uint8_t>, Entry> m_maps;
    size_t m_decodes = 0;
};

}  // namespace varnika::jet

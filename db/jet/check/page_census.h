#pragma once
// Which structure holds each page of the file: the census behind the
// check's notes on pages that no map holds and on the reach of the global
// page map. A page is held when it is the header or page 1, a table
// definition page, a page listed in an owner map (a table's, an index's, a
// long-value column's), the page a map row lives on, or a bitmap page of a
// reference map; any other page is in use only because the global map does
// not call it free.

#include "db/jet/table/catalog.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika::jet {

struct PageCensus {
    uint32_t pages = 0;
    // Pages neither held nor free in the global map: left unused (by
    // another writer, or freed where the global map does not reach) until
    // the file is compacted.
    std::vector<uint32_t> heldByNoMap;
    // The global map's reach: an inline map covers [windowStart,
    // windowEnd); pages outside count as in use.
    bool globalInline = true;
    uint32_t windowStart = 0;
    uint32_t windowEnd = 0;
    uint32_t outsideWindow = 0;  // pages of the file outside the window
    size_t unusableGlobalPointers = 0;
    // Held pages that the global map calls free: a writer that trusts the
    // map would overwrite them.
    std::vector<std::string> problems;
};

// Reads every table definition the catalog names, every map they name and
// the global map. Fails only when the global map cannot be read; a table
// whose structures cannot be read is left out (the check reports it).
Result<PageCensus> takePageCensus(Pager& pager, const Catalog& catalog);

}  // namespace varnika::jet

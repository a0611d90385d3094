#include "db/jet/page/usage_map_cache.h"

#include "db/jet/page/data_page.h"

#include <algorithm>

namespace varnika::jet {

bool UsageMapCache::current(Pager& pager, RowPointer where, Entry& e)
{
    // A file that shrank (a rolled-back append) may no longer hold every
    // page the map lists: check it again.
    if (pager.pageCount() < e.pageCount) return false;
    for (size_t i = 0; i < e.sources.size(); ++i) {
        auto& [page, ref] = e.sources[i];
        auto now = pager.read(page);
        if (!now.isOk()) return false;
        if (*now == ref) continue;
        if (i != 0) return false;
        // The row's page changed: the map stands while its row is the same.
        auto row = readRowAt(pager, where);
        if (!row.isOk() || row->slot.isDeleted()) return false;
        const std::span<const uint8_t> bytes = row->bytes();
        if (!std::equal(bytes.begin(), bytes.end(), e.row.begin(), e.row.end())) return false;
        ref = std::move(*now);
    }
    return true;
}

Result<const UsageMap*> UsageMapCache::load(Pager& pager, RowPointer where)
{
    const auto key = std::make_pair(where.page, where.row);
    auto it = m_maps.find(key);
    if (it != m_maps.end() && current(pager, where, it->second)) return &it->second.map;
    if (it != m_maps.end()) m_maps.erase(it);

    Entry e;
    VK_ASSIGN_OR_RETURN(PageRef rowPage, pager.read(where.page));
    e.sources.emplace_back(where.page, std::move(rowPage));
    VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(pager, where));
    e.row.assign(row.bytes().begin(), row.bytes().end());
    VK_ASSIGN_OR_RETURN(e.map, UsageMap::load(pager, where));
    for (uint32_t page : e.map.bitmapPages()) {
        VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(page));
        e.sources.emplace_back(page, std::move(ref));
    }
    e.pageCount = pager.pageCount();
    return &m_maps.emplace(key, std::move(e)).first->second.map;
}

}  // namespace varnika::jet

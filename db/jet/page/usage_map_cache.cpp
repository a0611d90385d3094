#include "db/jet/page/usage_map_cache.h"

namespace varnika::jet {

bool UsageMapCache::current(Pager& pager, const Entry& e)
{
    // A file that shrank (a rolled-back append) may no longer hold every
    // page the map lists: check it again.
    if (pager.pageCount() < e.pageCount) return false;
    for (const auto& [page, ref] : e.sources) {
        auto now = pager.read(page);
        if (!now.isOk() || *now != ref) return false;
    }
    return true;
}

Result<const UsageMap*> UsageMapCache::load(Pager& pager, RowPointer where)
{
    const auto key = std::make_pair(where.page, where.row);
    auto it = m_maps.find(key);
    if (it != m_maps.end() && current(pager, it->second)) return &it->second.map;
    if (it != m_maps.end()) m_maps.erase(it);

    Entry e;
    VK_ASSIGN_OR_RETURN(PageRef rowPage, pager.read(where.page));
    e.sources.emplace_back(where.page, std::move(rowPage));
    VK_ASSIGN_OR_RETURN(e.map, UsageMap::load(pager, where));
    for (uint32_t page : e.map.bitmapPages()) {
        VK_ASSIGN_OR_RETURN(PageRef ref, pager.read(page));
        e.sources.emplace_back(page, std::move(ref));
    }
    e.pageCount = pager.pageCount();
    return &m_maps.emplace(key, std::move(e)).first->second.map;
}

}  // namespace varnika::jet

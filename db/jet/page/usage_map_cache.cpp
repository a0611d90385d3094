#include "db/jet/page/usage_map_cache.h"

#include "db/jet/page/data_page.h"

#include "db/jet/file/bytes.h"

#include <algorithm>
#include <cstring>

namespace varnika::jet {

bool UsageMapCache::current(Pager& pager, RowPointer where, Entry& e)
{
    // A file that shrank (a rolled-back append) may no longer hold every
    // page the map lists: check it again.
    if (e.stale || pager.pageCount() < e.pageCount) return false;
    for (size_t i = 0; i < e.sources.size(); ++i) {
        auto& [page, ref] = e.sources[i];
        auto now = pager.read(page);
        if (!now.isOk()) return false;
        if (*now == ref) continue;
        if (i != 0) {
            // A bitmap page read again (let go by the pager's cache, or
            // written back as it was) with the same bytes is the same map.
            if (**now != *ref) return false;
            ref = std::move(*now);
            continue;
        }
        // The row's page changed: the map stands while its row is the same.
        auto row = readRowAt(pager, where);
        if (!row.isOk() || row->slot.isDeleted()) return false;
        const std::span<const uint8_t> bytes = row->bytes();
        if (!std::equal(bytes.begin(), bytes.end(), e.row.begin(), e.row.end())) return false;
        ref = std::move(*now);
    }
    return true;
}

namespace {

// Whether `now` is `before` with the bit of byte `at`, position `bit`
// (lowest first, as maps store pages) set to `value`, and nothing else.
bool oneBitApart(std::span<const uint8_t> before, std::span<const uint8_t> now, size_t at, unsigned bit, bool value)
{
    if (before.size() != now.size() || at >= now.size()) return false;
    if (std::memcmp(before.data(), now.data(), at) != 0) return false;
    if (std::memcmp(before.data() + at + 1, now.data() + at + 1, now.size() - at - 1) != 0) return false;
    const uint8_t mask = uint8_t(1u << bit);
    return now[at] == uint8_t(value ? before[at] | mask : before[at] & ~mask);
}

}  // namespace

bool UsageMapCache::isCurrent(Pager& pager, RowPointer where)
{
    auto it = m_maps.find(std::make_pair(where.page, where.row));
    return it != m_maps.end() && current(pager, where, it->second);
}

void UsageMapCache::followBit(Pager& pager, RowPointer where, uint32_t page, bool value)
{
    auto it = m_maps.find(std::make_pair(where.page, where.row));
    if (it == m_maps.end()) return;
    // Not erased: a caller may still hold the map.
    if (!follow(pager, where, page, value, it->second)) it->second.stale = true;
}

bool UsageMapCache::follow(Pager& pager, RowPointer where, uint32_t page, bool value, Entry& e)
{
    if (e.stale || pager.pageCount() < e.pageCount || (value && page >= pager.pageCount())) return false;
    auto row = readRowAt(pager, where);
    if (!row.isOk() || row->slot.isDeleted()) return false;
    const std::span<const uint8_t> now = row->bytes();
    if (e.map.isInline()) {
        if (page < e.map.startPage() || page - e.map.startPage() >= e.map.coveredPages()) return false;
        const uint32_t i = page - e.map.startPage();
        if (!oneBitApart(e.row, now, usagemap::kInlineBitmap + i / 8, i % 8, value)) return false;
    } else {
        // The row, naming the bitmap pages, stays; the bit is on the
        // bitmap page that covers `page`.
        if (!std::equal(now.begin(), now.end(), e.row.begin(), e.row.end())) return false;
        const size_t perMapPage = pager.format().usageMap.pagesPerMapPage;
        ByteReader r(now);
        const uint32_t mapPage = r.u32(usagemap::kReferencePages + page / perMapPage * usagemap::kReferencePointerSize);
        if (!r.ok() || mapPage == 0) return false;
        auto source = std::find_if(e.sources.begin() + 1, e.sources.end(), [&](const auto& s) { return s.first == mapPage; });
        if (source == e.sources.end()) return false;
        auto bitmap = pager.read(mapPage);
        if (!bitmap.isOk()) return false;
        const size_t bit = page % perMapPage;
        if (!oneBitApart(*source->second, **bitmap, usagemap::kMapPageBitmap + bit / 8, bit % 8, value)) return false;
        source->second = std::move(*bitmap);
    }
    if (!e.map.assignPage(page, value)) return false;
    auto rowPage = pager.read(where.page);
    if (!rowPage.isOk()) return false;
    e.sources.front().second = std::move(*rowPage);
    e.row.assign(now.begin(), now.end());
    e.pageCount = pager.pageCount();
    return true;
}

Result<const UsageMap*> UsageMapCache::load(Pager& pager, RowPointer where)
{
    const auto key = std::make_pair(where.page, where.row);
    auto it = m_maps.find(key);
    if (it != m_maps.end() && current(pager, where, it->second)) return &it->second.map;
    if (it != m_maps.end()) m_maps.erase(it);

    Entry e;
    ++m_decodes;
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

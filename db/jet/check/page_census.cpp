#include "db/jet/check/page_census.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/table/table_def.h"
#include "db/jet/page/usage_map.h"

#include <string>

namespace varnika::jet {

namespace {

constexpr uint32_t kCatalogTdefPage = 2;

class Census {
public:
    Census(Pager& pager, const UsageMap& global) : m_pager(pager), m_global(global), m_held(pager.pageCount(), false) {}

    void hold(uint32_t page, const std::string& what)
    {
        if (page >= m_held.size()) return;
        if (!m_held[page] && m_global.contains(page))
            m_problems.push_back(what + " holds page " + std::to_string(page) + ", which the file lists as free");
        m_held[page] = true;
    }

    void holdMap(RowPointer where, const std::string& what)
    {
        hold(where.page, what);
        auto map = UsageMap::load(m_pager, where);
        if (!map.isOk()) return;
        for (uint32_t p : map->pages()) hold(p, what);
        for (uint32_t p : map->bitmapPages()) hold(p, what);
    }

    void holdTable(uint32_t tdefPage)
    {
        auto def = TableDef::read(m_pager, tdefPage, true);
        if (!def.isOk()) return;
        const std::string what = "the table at page " + std::to_string(tdefPage);
        for (uint32_t p : def->pages()) hold(p, what);
        holdMap(def->ownedPagesMap(), what);
        holdMap(def->freePagesMap(), what);
        for (const RealIndexDef& ix : def->realIndexes()) {
            holdMap(ix.usageMap, "an index of " + what);
            hold(ix.rootPage, "an index of " + what);
        }
        for (const LongValueMapDef& lv : def->longValueMaps()) {
            holdMap(lv.ownedPages, "a Memo or OLE field of " + what);
            holdMap(lv.freePages, "a Memo or OLE field of " + what);
        }
    }

    std::vector<bool>& held() { return m_held; }
    std::vector<std::string>& problems() { return m_problems; }

private:
    Pager& m_pager;
    const UsageMap& m_global;
    std::vector<bool> m_held;
    std::vector<std::string> m_problems;
};

}  // namespace

Result<PageCensus> takePageCensus(Pager& pager, const Catalog& catalog)
{
    VK_ASSIGN_OR_RETURN(UsageMap global, UsageMap::load(pager, {usagemap::kGlobalMapPage, usagemap::kGlobalMapRow}, false));
    PageCensus census;
    census.pages = pager.pageCount();
    census.globalInline = global.isInline();
    census.unusableGlobalPointers = global.unusablePointers();
    if (global.isInline()) {
        census.windowStart = global.startPage();
        census.windowEnd = global.startPage() + global.coveredPages();
        for (uint32_t p = 0; p < census.pages; ++p)
            census.outsideWindow += p < census.windowStart || p >= census.windowEnd;
    }

    Census c(pager, global);
    c.hold(0, "the database header");
    c.hold(usagemap::kGlobalMapPage, "the global page map");
    for (uint32_t p : global.bitmapPages()) c.hold(p, "the global page map");
    c.holdTable(kCatalogTdefPage);
    for (uint32_t tdef : catalog.allTablePages())
        if (tdef != kCatalogTdefPage) c.holdTable(tdef);

    for (uint32_t p = 0; p < census.pages; ++p)
        if (!c.held()[p] && !global.contains(p)) census.heldByNoMap.push_back(p);
    census.problems = std::move(c.problems());
    return census;
}

}  // namespace varnika::jet

#include "db/jet/check/table_pages_check.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/page/usage_map.h"

#include <map>
#include <string>

namespace varnika::jet {

namespace {

std::string rowName(RowPointer p)
{
    return "row " + std::to_string(p.row) + " of page " + std::to_string(p.page);
}

}  // namespace

Result<TablePagesSummary> checkTablePages(Pager& pager, uint32_t tdefPage)
{
    const std::string table = "the table at page " + std::to_string(tdefPage);
    VK_ASSIGN_OR_RETURN(PageRef def, pager.read(tdefPage));
    ByteReader r(def->data(), def->size());
    if (r.u8(page::kType) != uint8_t(PageType::TableDefinition))
        return corruption("page " + std::to_string(tdefPage) + " is not a table definition");
    const auto& t = pager.format().tdef;
    uint32_t rowCount = r.u32(t.rowCount);
    RowPointer ownedAt = RowPointer::fromWord(r.u32(t.ownedPagesMap));
    RowPointer freeAt = RowPointer::fromWord(r.u32(t.freePagesMap));

    VK_ASSIGN_OR_RETURN(UsageMap owned, UsageMap::load(pager, ownedAt));
    VK_ASSIGN_OR_RETURN(UsageMap freeSpace, UsageMap::load(pager, freeAt));
    VK_ASSIGN_OR_RETURN(UsageMap global, UsageMap::load(pager, {usagemap::kGlobalMapPage, usagemap::kGlobalMapRow}, false));
    for (uint32_t p : freeSpace.pages())
        if (!owned.contains(p)) return corruption(table + " lists page " + std::to_string(p) + " as having room but does not own it");

    TablePagesSummary summary;
    std::map<RowPointer, int> targets;   // target -> times pointed at
    std::map<RowPointer, RowPointer> headers;
    for (uint32_t p : owned.pages()) {
        if (global.contains(p)) return corruption(table + " owns page " + std::to_string(p) + ", which the file lists as free");
        VK_ASSIGN_OR_RETURN(PageRef page, pager.read(p));
        VK_RETURN_IF_ERROR(checkDataPage(*page, p, pager.format()));
        VK_ASSIGN_OR_RETURN(DataPageView view, DataPageView::parse(page, p, pager.format()));
        if (view.owner() != tdefPage)
            return corruption(table + " owns page " + std::to_string(p) + ", which belongs to page " + std::to_string(view.owner()));
        ++summary.dataPages;
        for (int s = 0; s < view.slotCount(); ++s) {
            const Slot& slot = view.slot(s);
            RowPointer here{p, uint8_t(s)};
            if (slot.isBaseRow()) ++summary.baseRows;
            if (slot.isOverflowTarget()) targets.emplace(here, 0);
            if (slot.isOverflowPointer()) {
                VK_ASSIGN_OR_RETURN(headers[here], overflowPointerOf(view.rowBytes(s), here));
            }
        }
    }
    for (const auto& [header, target] : headers) {
        auto it = targets.find(target);
        if (it == targets.end())
            return corruption(rowName(header) + " points at " + rowName(target) + ", which is not a moved row of " + table);
        if (++it->second > 1) return corruption(rowName(target) + " is the moved row of two headers");
        ++summary.movedRows;
    }
    for (const auto& [target, count] : targets)
        if (count == 0) summary.unreferencedMovedRows.push_back(target);
    summary.recordedRows = rowCount;
    return summary;
}

}  // namespace varnika::jet

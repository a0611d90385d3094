#include "db/jet/table/table.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/usage_map.h"
#include "db/text.h"

#include <algorithm>

namespace varnika::jet {

namespace {

constexpr size_t kMaxReservedRows = 1 << 20;

// A page the definition names must lie in the file and be of the kind it
// is named as; anything else means the file was cut short or damaged.
Status checkNamedPage(Pager& pager, uint32_t page, std::initializer_list<PageType> kinds, const std::string& what)
{
    if (page >= pager.pageCount())
        return corruption("the file is damaged or cut short: " + what + " is page " + std::to_string(page) +
                          ", past the end of the file (" + std::to_string(pager.pageCount()) + " pages)");
    VK_ASSIGN_OR_RETURN(PageRef bytes, pager.read(page));
    const uint8_t type = (*bytes)[page::kType];
    for (PageType k : kinds)
        if (type == uint8_t(k)) return Status::ok();
    return corruption("the file is damaged: " + what + " is page " + std::to_string(page) + ", which is a page of another kind");
}

Status checkMap(Pager& pager, RowPointer map, const std::string& what)
{
    VK_RETURN_IF_ERROR(checkNamedPage(pager, map.page, {PageType::Data}, "the page map of " + what));
    return UsageMap::load(pager, map).status();
}

// Everything the definition points at, so that a damaged file is refused
// when the table is opened instead of being read as a smaller table.
Status checkStructure(Pager& pager, const TableDef& def, const std::string& table)
{
    VK_RETURN_IF_ERROR(checkMap(pager, def.ownedPagesMap(), table));
    VK_RETURN_IF_ERROR(checkMap(pager, def.freePagesMap(), table));
    for (size_t i = 0; i < def.realIndexes().size(); ++i) {
        const RealIndexDef& ix = def.realIndexes()[i];
        const std::string what = "index " + std::to_string(i) + " of " + table;
        VK_RETURN_IF_ERROR(checkNamedPage(pager, ix.rootPage, {PageType::IndexNode, PageType::IndexLeaf}, "the root of " + what));
        VK_RETURN_IF_ERROR(checkMap(pager, ix.usageMap, what));
    }
    for (const LongValueMapDef& lv : def.longValueMaps()) {
        const std::string what = "a Memo or OLE field of " + table;
        VK_RETURN_IF_ERROR(checkMap(pager, lv.ownedPages, what));
        VK_RETURN_IF_ERROR(checkMap(pager, lv.freePages, what));
    }
    return Status::ok();
}

}  // namespace

Result<std::shared_ptr<Table>> Table::open(Pager& pager, uint32_t tdefPage, std::u16string name)
{
    VK_ASSIGN_OR_RETURN(TableDef def, TableDef::read(pager, tdefPage));
    VK_RETURN_IF_ERROR(checkStructure(pager, def, "table \"" + toUtf8(name) + "\""));
    return std::shared_ptr<Table>(new Table(pager, std::move(def), std::move(name)));
}

Status Table::reload()
{
    VK_ASSIGN_OR_RETURN(m_def, TableDef::read(*m_pager, m_def.firstPage()));
    ++m_generation;
    return Status::ok();
}

Result<std::vector<uint32_t>> Table::ownedPages()
{
    VK_ASSIGN_OR_RETURN(UsageMap map, UsageMap::load(*m_pager, m_def.ownedPagesMap()));
    return map.pages();
}

bool Table::holdsRowsOf(const PageBuffer& page) const
{
    // Owned pages include index pages and pages that belong to nobody
    // any more; only this table's data pages hold its rows.
    ByteReader r(page.data(), page.size());
    return r.u8(page::kType) == uint8_t(PageType::Data) && r.u32(datapage::kOwner) == m_def.firstPage();
}

Result<std::vector<uint32_t>> Table::dataPages()
{
    VK_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ownedPages());
    std::vector<uint32_t> out;
    for (uint32_t p : owned) {
        VK_ASSIGN_OR_RETURN(PageRef page, m_pager->read(p));
        if (holdsRowsOf(*page)) out.push_back(p);
    }
    return out;
}

Result<Table::Scanner> Table::scan()
{
    VK_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ownedPages());
    return scanPages(std::move(owned));
}

Table::Scanner Table::scanPages(std::vector<uint32_t> pages)
{
    Scanner s;
    s.m_table = this;
    s.m_pages = std::move(pages);
    return s;
}

Result<bool> Table::Scanner::next()
{
    while (true) {
        if (m_view) {
            while (++m_slot < m_view->slotCount()) {
                const Slot& slot = m_view->slot(m_slot);
                if (!slot.isBaseRow()) continue;
                m_current = RowPointer{m_view->pageNumber(), uint8_t(m_slot)};
                RowBytes header{m_view->page(), slot};
                if (slot.isOverflowPointer()) {
                    VK_ASSIGN_OR_RETURN(m_row, m_table->followOverflow(header, m_current));
                } else {
                    m_row = header;
                }
                return true;
            }
            m_view.reset();
        }
        if (m_pageIndex >= m_pages.size()) return false;
        uint32_t p = m_pages[m_pageIndex++];
        VK_ASSIGN_OR_RETURN(PageRef page, m_table->m_pager->read(p));
        if (!m_table->holdsRowsOf(*page)) continue;
        VK_ASSIGN_OR_RETURN(DataPageView view, DataPageView::parse(page, p, m_table->m_pager->format()));
        m_view = std::move(view);
        m_slot = -1;
    }
}

Result<std::vector<Variant>> Table::Scanner::values() { return m_table->decode(m_row.bytes()); }

namespace {

Status decodeColumnsInto(const TableDef& def, std::span<const uint8_t> row, const std::vector<int>& columns,
                         LongValueSource& longValues, const std::vector<int>& checked, std::vector<Variant>& out)
{
    // A list kept from the last row keeps its values' storage: only a
    // value this row does not decode is cleared.
    const size_t count = def.columns().size();
    if (out.size() != count) {
        out.assign(count, Variant());
    } else {
        uint64_t decoded = 0;  // of the first 64 columns
        for (int c : columns)
            if (c >= 0 && c < 64) decoded |= uint64_t(1) << c;
        for (size_t i = 0; i < count; ++i) {
            if (out[i].isNull()) continue;
            const bool kept = i < 64 ? (decoded >> i) & 1
                                     : std::find(columns.begin(), columns.end(), int(i)) != columns.end();
            if (!kept) out[i] = Variant();
        }
    }
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(def, row));
    for (int c : columns) {
        if (c < 0 || size_t(c) >= out.size()) return invalidArgument("no column " + std::to_string(c) + " to decode");
        VK_RETURN_IF_ERROR(decodeColumnInto(def, layout, row, c, &longValues, out[size_t(c)]));
    }
    for (int c : checked) {
        if (c < 0 || size_t(c) >= out.size()) return invalidArgument("no column " + std::to_string(c) + " to check");
        VK_RETURN_IF_ERROR(checkColumn(def, layout, row, c));
    }
    return Status::ok();
}

Result<std::vector<Variant>> decodeColumns(const TableDef& def, std::span<const uint8_t> row,
                                           const std::vector<int>& columns, LongValueSource& longValues,
                                           const std::vector<int>& checked = {})
{
    std::vector<Variant> out;
    VK_RETURN_IF_ERROR(decodeColumnsInto(def, row, columns, longValues, checked, out));
    return out;
}

}  // namespace

Result<std::vector<Variant>> Table::Scanner::values(const std::vector<int>& columns)
{
    return decodeColumns(m_table->def(), m_row.bytes(), columns, m_table->longValues());
}

Result<std::vector<Variant>> Table::Scanner::values(const std::vector<int>& columns, const std::vector<int>& checked)
{
    return decodeColumns(m_table->def(), m_row.bytes(), columns, m_table->longValues(), checked);
}

Status Table::Scanner::valuesInto(const std::vector<int>& columns, std::vector<Variant>& out)
{
    return decodeColumnsInto(m_table->def(), m_row.bytes(), columns, m_table->longValues(), {}, out);
}

Result<std::vector<Variant>> Table::readColumns(RowPointer ptr, const std::vector<int>& columns)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, rowBytes(ptr));
    return decodeColumns(m_def, row.bytes(), columns, m_longValues);
}

Result<RowBytes> Table::followOverflow(const RowBytes& header, RowPointer ptr)
{
    VK_ASSIGN_OR_RETURN(RowPointer target, overflowPointerOf(header.bytes(), ptr));
    VK_ASSIGN_OR_RETURN(RowBytes row, m_slotTables.read(*m_pager, target));
    ByteReader owner(row.page->data(), row.page->size());
    if (!row.slot.isOverflowTarget() || owner.u32(datapage::kOwner) != m_def.firstPage())
        return corruption("table \"" + toUtf8(m_name) + "\": the overflow pointer of row " + std::to_string(ptr.row) +
                          " of page " + std::to_string(ptr.page) + " points at a row that is not a moved row of the table");
    return row;
}

Result<RowBytes> Table::rowBytes(RowPointer ptr)
{
    VK_ASSIGN_OR_RETURN(RowBytes header, m_slotTables.read(*m_pager, ptr));
    ByteReader owner(header.page->data(), header.page->size());
    if (owner.u32(datapage::kOwner) != m_def.firstPage())
        return corruption("page " + std::to_string(ptr.page) + " does not belong to table \"" + toUtf8(m_name) + "\"");
    if (header.slot.isDeleted()) return notFound("the record was deleted");
    if (!header.slot.isBaseRow()) return invalidArgument("the row pointer names a moved row, not a record");
    if (header.slot.isOverflowPointer()) return followOverflow(header, ptr);
    return header;
}

Result<std::vector<Variant>> Table::readRow(RowPointer ptr)
{
    VK_ASSIGN_OR_RETURN(RowBytes row, rowBytes(ptr));
    return decode(row.bytes());
}

Result<std::vector<Variant>> Table::decode(std::span<const uint8_t> row)
{
    return decodeRow(m_def, row, &m_longValues);
}

Result<std::vector<RowPointer>> Table::rowPointers()
{
    std::vector<RowPointer> out;
    // The stored count is only a hint: a file copied while open may carry
    // any number there.
    out.reserve(std::min<size_t>(m_def.rowCount(), kMaxReservedRows));
    VK_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, ownedPages());
    for (uint32_t p : pages) {
        VK_ASSIGN_OR_RETURN(PageRef page, m_pager->read(p));
        if (!holdsRowsOf(*page)) continue;
        VK_ASSIGN_OR_RETURN(DataPageView view, DataPageView::parse(page, p, m_pager->format()));
        for (int s = 0; s < view.slotCount(); ++s)
            if (view.slot(s).isBaseRow()) out.push_back(RowPointer{p, uint8_t(s)});
    }
    return out;
}

}  // namespace varnika::jet

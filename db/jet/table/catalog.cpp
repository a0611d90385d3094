#include "db/jet/table/catalog.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/table/table.h"
#include "db/text.h"

namespace varnika::jet {

namespace {

constexpr uint32_t kCatalogPage = 2;
constexpr int16_t kTypeLocalTable = 1;
constexpr uint32_t kFlagSystem = 0x80000000;
constexpr uint32_t kFlagSystemToo = 0x00000002;
constexpr uint32_t kFlagHidden = 0x00000008;
constexpr uint32_t kIdPageMask = 0x00FFFFFF;
constexpr std::u16string_view kSystemPrefix = u"MSys";

bool isSystemName(std::u16string_view name)
{
    return name.size() >= kSystemPrefix.size() && equalsIgnoreCase(name.substr(0, kSystemPrefix.size()), kSystemPrefix);
}

}  // namespace

Result<Catalog> Catalog::load(Pager& pager)
{
    auto opened = Table::open(pager, kCatalogPage, u"MSysObjects");
    if (!opened.isOk())
        return corruption("the table list (MSysObjects) cannot be read: " + opened.status().message());
    std::shared_ptr<Table> objects = *opened;
    const TableDef& def = objects->def();
    int idCol = def.findColumn(u"Id"), nameCol = def.findColumn(u"Name"), typeCol = def.findColumn(u"Type"),
        flagsCol = def.findColumn(u"Flags");
    if (idCol < 0 || nameCol < 0 || typeCol < 0 || flagsCol < 0)
        return corruption("the table list (MSysObjects) lacks one of its columns Id, Name, Type, Flags");

    Catalog catalog;
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, objects->scan());
    while (true) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) break;
        VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(def, scanner.row().bytes()));
        // Only the four small columns are decoded: the others hold long
        // property blobs a table list does not need.
        auto column = [&](int c) { return decodeColumn(def, layout, scanner.row().bytes(), c, nullptr); };
        VK_ASSIGN_OR_RETURN(Variant type, column(typeCol));
        if (type.type() != VariantType::Integer || type.asInteger() != kTypeLocalTable) continue;
        VK_ASSIGN_OR_RETURN(Variant id, column(idCol));
        VK_ASSIGN_OR_RETURN(Variant name, column(nameCol));
        VK_ASSIGN_OR_RETURN(Variant flags, column(flagsCol));
        if (id.type() != VariantType::Long || name.type() != VariantType::Text) continue;
        catalog.m_allTablePages.push_back(uint32_t(id.asLong()) & kIdPageMask);
        uint32_t f = flags.type() == VariantType::Long ? uint32_t(flags.asLong()) : 0;
        if ((f & (kFlagSystem | kFlagSystemToo | kFlagHidden)) != 0 || isSystemName(name.asText())) continue;
        CatalogEntry e;
        e.name = name.asText();
        e.id = id.asLong();
        e.flags = f;
        e.tdefPage = uint32_t(id.asLong()) & kIdPageMask;
        if (e.tdefPage == 0 || e.tdefPage >= pager.pageCount())
            return corruption("table \"" + toUtf8(e.name) + "\" names page " + std::to_string(e.tdefPage) +
                              ", which is not in the file");
        VK_ASSIGN_OR_RETURN(PageRef page, pager.read(e.tdefPage));
        ByteReader r(page->data(), page->size());
        if (r.u8(page::kType) != uint8_t(PageType::TableDefinition) || r.u8(pager.format().tdef.tableType) != tdef::kTableTypeUser)
            return corruption("table \"" + toUtf8(e.name) + "\" has no table definition at page " +
                              std::to_string(e.tdefPage));
        catalog.m_tables.push_back(std::move(e));
    }
    return catalog;
}

const CatalogEntry* Catalog::find(std::u16string_view name) const
{
    for (const CatalogEntry& e : m_tables)
        if (equalsIgnoreCase(e.name, name)) return &e;
    return nullptr;
}

}  // namespace varnika::jet

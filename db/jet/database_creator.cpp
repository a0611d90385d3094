#include "db/jet/database_creator.h"

#include "db/jet/file/bytes.h"
#include "db/jet/file/file_system.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/index/key_codec.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/system_tables.h"
#include "db/jet/table/table_builder.h"
#include "db/jet/table/table_def.h"

#include <algorithm>

namespace varnika::jet {
namespace {

constexpr size_t kMapRowBytes = 69;  // kind, start page, 64 bitmap bytes

// Access rights that Access records for the built-in identities on the
// objects of a new database.
struct Ace {
    int32_t object;
    uint8_t sid;  // second byte of the two-byte built-in SID (A6 33, A7 33, A7 36)
    uint8_t sidFirst;
    int32_t rights;
    bool inheritable;
};

std::vector<uint8_t> mapRow(const std::vector<uint32_t>& pages)
{
    std::vector<uint8_t> row(kMapRowBytes, 0);
    row[usagemap::kKind] = usagemap::kKindInline;
    for (uint32_t p : pages) row[usagemap::kInlineBitmap + p / 8] |= uint8_t(1u << (p % 8));
    return row;
}

Variant owner(uint8_t first, uint8_t second) { return Variant::binary({first, second}); }

}  // namespace

Result<std::vector<uint8_t>> buildEmptyDatabase(const NewDatabaseOptions& optionsIn)
{
    NewDatabaseOptions options = optionsIn;
    if (options.creationDate == 0) options.creationDate = oleDateNow();
    VK_ASSIGN_OR_RETURN(TextCollation collation, collationFor(options.sortOrderLcid, options.sortOrderVersion));

    std::vector<SystemTable> tables = systemTables(options.sortOrderLcid, options.sortOrderVersion);
    // Page plan: 0 header, 1 global map, 2..5 the definitions (MSysObjects
    // must be page 2), then the page of usage-map rows, the index roots, and
    // one data page each for the catalog and the permissions.
    const uint32_t firstTdef = 2;
    const uint32_t mapPage = firstTdef + uint32_t(tables.size());
    uint32_t next = mapPage + 1;
    std::vector<std::vector<uint32_t>> roots(tables.size());
    for (size_t t = 0; t < tables.size(); ++t)
        for (size_t i = 0; i < tables[t].definition.indexes.size(); ++i) roots[t].push_back(next++);
    const uint32_t catalogData = next++;
    const uint32_t aceData = next++;
    const uint32_t pageCount = next;

    // Usage-map rows, in the order they are added to the map page.
    std::vector<std::vector<uint8_t>> mapRows;
    std::vector<NewTableStorage> storage(tables.size());
    auto addMap = [&](const std::vector<uint32_t>& pages) {
        mapRows.push_back(mapRow(pages));
        return RowPointer{mapPage, uint8_t(mapRows.size() - 1)};
    };
    for (size_t t = 0; t < tables.size(); ++t) {
        std::vector<uint32_t> data;
        if (t == 0) data = {catalogData};
        if (t == 1) data = {aceData};
        storage[t].ownedPagesMap = addMap(data);
        storage[t].freePagesMap = addMap(data);
        for (uint32_t root : roots[t]) {
            storage[t].indexMaps.push_back(addMap({root}));
            storage[t].indexRoots.push_back(root);
        }
        for (const NewColumn& c : tables[t].definition.columns)
            if (isLongValueType(c.type)) {
                RowPointer owned = addMap({});
                RowPointer free = addMap({});
                storage[t].longValueMaps.push_back({owned, free});
            }
    }

    std::vector<TableDef> defs;
    for (size_t t = 0; t < tables.size(); ++t) {
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> buffer, buildTableDefinition(tables[t].definition, storage[t]));
        if (TableDef::pagesNeeded(buffer.size()) != 1) return notSupported("a system table definition outgrew its page");
        VK_ASSIGN_OR_RETURN(TableDef def, TableDef::parse(buffer, {firstTdef + uint32_t(t)}));
        defs.push_back(std::move(def));
    }

    // Catalog rows.
    const double now = options.creationDate;
    auto catalogRow = [&](int32_t id, int32_t parent, const std::u16string& name, int16_t type, Variant own,
                          uint32_t flags) {
        const TableDef& d = defs[0];
        std::vector<Variant> v(d.columns().size());
        auto set = [&](const char16_t* col, Variant value) { v[size_t(d.findColumn(col))] = std::move(value); };
        set(u"Id", Variant::longValue(id));
        set(u"ParentId", Variant::longValue(parent));
        set(u"Name", Variant::text(name));
        set(u"Type", Variant::integer(type));
        set(u"DateCreate", Variant::date(now));
        set(u"DateUpdate", Variant::date(now));
        set(u"Owner", std::move(own));
        set(u"Flags", Variant::longValue(int32_t(flags)));
        return v;
    };
    using namespace catalog;
    std::vector<std::vector<Variant>> catalogRows = {
        catalogRow(kTablesContainer, kRootContainer, u"Tables", kTypeContainer, owner(0xA7, 0x31), kFlagSystem),
        catalogRow(kDatabasesContainer, kRootContainer, u"Databases", kTypeContainer, owner(0xA7, 0x31), kFlagSystem),
        catalogRow(kRelationshipsContainer, kRootContainer, u"Relationships", kTypeContainer, owner(0xA7, 0x31), kFlagSystem),
        catalogRow(kDatabaseObject, kDatabasesContainer, u"MSysDb", kTypeDatabase, owner(0xA6, 0x33), kFlagSystem),
    };
    for (size_t t = 0; t < tables.size(); ++t)
        catalogRows.push_back(catalogRow(int32_t(firstTdef + t), kTablesContainer, tables[t].name, kTypeTable,
                                         owner(0xA7, 0x31), kFlagSystem));
    const char16_t* documentContainers[] = {u"DataAccessPages", u"Forms", u"Modules", u"Reports", u"Scripts", u"SysRel"};
    for (int i = 0; i < 6; ++i)
        catalogRows.push_back(catalogRow(int32_t(0x80000000u + uint32_t(i)), kRootContainer, documentContainers[i],
                                         kTypeContainer, owner(0xA6, 0x33), 0));

    std::vector<Ace> aces;
    auto containerAces = [&](int32_t object) {
        aces.push_back({object, 0x33, 0xA7, 1048575, true});
        aces.push_back({object, 0x33, 0xA6, 1048575, true});
        aces.push_back({object, 0x36, 0xA7, 1048575, true});
    };
    aces.push_back({kTablesContainer, 0x36, 0xA7, 983294, true});
    aces.push_back({kTablesContainer, 0x33, 0xA6, 1048319, true});
    aces.push_back({kTablesContainer, 0x33, 0xA7, 1048319, true});
    aces.push_back({kDatabasesContainer, 0x33, 0xA6, 393216, false});
    aces.push_back({kRelationshipsContainer, 0x36, 0xA7, 983294, true});
    aces.push_back({kRelationshipsContainer, 0x33, 0xA6, 393217, false});
    aces.push_back({kRelationshipsContainer, 0x33, 0xA7, 1048575, true});
    aces.push_back({kDatabaseObject, 0x33, 0xA6, 393230, false});
    aces.push_back({kDatabaseObject, 0x33, 0xA7, 14, false});
    for (size_t t = 0; t < tables.size(); ++t) {
        aces.push_back({int32_t(firstTdef + t), 0x33, 0xA6, t == 3 ? 917504 : 393216, false});
        if (t != 1) aces.push_back({int32_t(firstTdef + t), 0x33, 0xA7, 20, false});
    }
    for (int i = 0; i < 6; ++i) containerAces(int32_t(0x80000000u + uint32_t(i)));

    std::vector<std::vector<Variant>> aceRows;
    for (const Ace& a : aces) {
        const TableDef& d = defs[1];
        std::vector<Variant> v(d.columns().size());
        v[size_t(d.findColumn(u"ObjectId"))] = Variant::longValue(a.object);
        v[size_t(d.findColumn(u"SID"))] = Variant::binary({a.sidFirst, a.sid});
        v[size_t(d.findColumn(u"ACM"))] = Variant::longValue(a.rights);
        v[size_t(d.findColumn(u"FInheritable"))] = Variant::boolean(a.inheritable);
        aceRows.push_back(std::move(v));
    }

    std::vector<PageBuffer> pages(pageCount);
    pages[0] = buildHeaderPage(options);
    pages[1] = buildGlobalMapPage(pageCount);

    DataPageEditor maps = DataPageEditor::create(mapPage, 0);
    for (const auto& row : mapRows) VK_RETURN_IF_ERROR(maps.addRow(row).status());
    pages[mapPage] = maps.page();

    // Rows, and the index entries pointing at them.
    std::vector<std::vector<std::vector<IndexKeyEntry>>> indexEntries(tables.size());
    auto fill = [&](size_t t, uint32_t dataPage, const std::vector<std::vector<Variant>>& rows) -> Status {
        DataPageEditor editor = DataPageEditor::create(dataPage, firstTdef + uint32_t(t));
        const TableDef& def = defs[t];
        for (const auto& values : rows) {
            VK_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, encodeRow(def, values));
            VK_ASSIGN_OR_RETURN(int slot, editor.addRow(bytes));
            for (size_t i = 0; i < def.realIndexes().size(); ++i) {
                IndexKeyEntry e;
                e.row = {dataPage, uint8_t(slot)};
                for (const RealIndexColumn& kc : def.realIndexes()[i].columns) {
                    int col = def.findColumnByNumber(kc.columnNumber);
                    VK_RETURN_IF_ERROR(appendColumnKey(e.key, values[size_t(col)], def.columns()[size_t(col)].type(),
                                                       kc.ascending, collation));
                }
                indexEntries[t][i].push_back(std::move(e));
            }
        }
        pages[dataPage] = editor.page();
        defs[t].setRowCount(uint32_t(rows.size()));
        return Status::ok();
    };
    for (size_t t = 0; t < tables.size(); ++t) indexEntries[t].resize(defs[t].realIndexes().size());
    VK_RETURN_IF_ERROR(fill(0, catalogData, catalogRows));
    VK_RETURN_IF_ERROR(fill(1, aceData, aceRows));

    for (size_t t = 0; t < tables.size(); ++t) {
        VK_ASSIGN_OR_RETURN(std::vector<PageBuffer> tdefPages, defs[t].toPages());
        pages[firstTdef + t] = tdefPages.front();
    }

    std::vector<uint8_t> image;
    image.reserve(pageCount * kPageSize);
    for (const PageBuffer& p : pages) image.insert(image.end(), p.begin(), p.end());
    auto memory = std::make_unique<MemoryPageFile>(std::move(image));
    MemoryPageFile* file = memory.get();
    Pager pager(std::move(memory));
    PageAllocator allocator(pager);
    for (size_t t = 0; t < tables.size(); ++t)
        for (size_t i = 0; i < defs[t].realIndexes().size(); ++i)
            VK_RETURN_IF_ERROR(rebuildIndex(allocator, firstTdef + uint32_t(t), defs[t].realIndexes()[i],
                                            std::move(indexEntries[t][i])));
    VK_RETURN_IF_ERROR(pager.commit());
    return file->bytes();
}
Status createDatabaseFile(FileSystem& files, const std::string& path, const NewDatabaseOptions& options)
{
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, buildEmptyDatabase(options));
    VK_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> file, files.createNew(path));
    Status s = file->write(0, bytes.data(), bytes.size());
    if (s.isOk()) s = file->sync();
    file.reset();
    if (!s.isOk()) (void)files.remove(path);
    return s;
}

Status createDatabaseFile(const std::string& path, const NewDatabaseOptions& options)
{
    return createDatabaseFile(*posixFileSystem(), path, options);
}

}  // namespace varnika::jet

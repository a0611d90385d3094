#include "db/jet/database_creator.h"

#include "db/jet/file/bytes.h"
#include "db/jet/file/file_system.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/index/key_codec.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/text_codec.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/system_tables.h"
#include "db/jet/table/table_builder.h"
#include "db/jet/table/table_def.h"

#include <algorithm>
#include <array>

namespace varnika::jet {
namespace {

// The built-in identities of a new database, by their two-byte SIDs,
// named after what a new file gives them: the owner of the system objects,
// the owner of the database (who may change its permissions), the
// administrators (who may open and administer it) and the users (who may
// read and change the data of every table).
using Sid = std::array<uint8_t, 2>;
constexpr Sid kSystemOwner = {0xA7, 0x31};
constexpr Sid kDatabaseOwner = {0xA6, 0x33};
constexpr Sid kAdministrators = {0xA7, 0x33};
constexpr Sid kUsers = {0xA7, 0x36};

// Rights (MSysACEs.ACM), bit by bit as DAO's permission constants name
// them; a bit below 0x100 means one thing on a database and another on a
// table.
constexpr int32_t kRightCreate = 0x1;             // dbSecCreate, dbSecDBCreate
constexpr int32_t kRightOpenDatabase = 0x2;       // dbSecDBOpen
constexpr int32_t kRightOpenExclusive = 0x4;      // dbSecDBExclusive; dbSecReadDef on a table
constexpr int32_t kRightAdminister = 0x8;         // dbSecDBAdmin; part of dbSecWriteDef on a table
constexpr int32_t kRightReadData = 0x14;          // dbSecRetrieveData (reading the definition included)
constexpr int32_t kRightInsertData = 0x20;        // dbSecInsertData
constexpr int32_t kRightReplaceData = 0x40;       // dbSecReplaceData
constexpr int32_t kRightDeleteData = 0x80;        // dbSecDeleteData
constexpr int32_t kRightDelete = 0x10000;         // dbSecDelete
constexpr int32_t kRightReadSecurity = 0x20000;   // dbSecReadSec
constexpr int32_t kRightWriteSecurity = 0x40000;  // dbSecWriteSec
constexpr int32_t kRightWriteOwner = 0x80000;     // dbSecWriteOwner
constexpr int32_t kRightsAll = 0xFFFFF;           // dbSecFullAccess

// The sets of rights Access grants in a new database.
constexpr int32_t kSecurityRights = kRightReadSecurity | kRightWriteSecurity;
constexpr int32_t kOwnerRights = kSecurityRights | kRightWriteOwner;
constexpr int32_t kDatabaseRights = kRightOpenDatabase | kRightOpenExclusive | kRightAdminister;
// On the Tables and Relationships containers: the users may do everything
// to the data and the definitions but create objects (and the rights
// 0x100 to 0x800, which no constant names).
constexpr int32_t kUserContainerRights = kRightDelete | kOwnerRights | kRightOpenDatabase | kRightOpenExclusive |
                                         kRightAdminister | kRightReadData | kRightInsertData | kRightReplaceData |
                                         kRightDeleteData;
// On the Tables container for its owners: everything but the right 0x100.
constexpr int32_t kTablesContainerRights = kRightsAll & ~0x100;
static_assert(kUserContainerRights == 983294 && kTablesContainerRights == 1048319 && kDatabaseRights == 14);

// One entry of MSysACEs: the rights of an identity on an object.
struct Ace {
    int32_t object;
    Sid sid;
    int32_t rights;
    bool inheritable;
};

std::vector<uint8_t> mapRow(const std::vector<uint32_t>& pages, const JetFormat& format)
{
    // The length Access gives map rows: kind, start page, 64 bitmap bytes (128 in Jet 3).
    std::vector<uint8_t> row(format.usageMap.standardRowSize, 0);
    row[usagemap::kKind] = usagemap::kKindInline;
    for (uint32_t p : pages) row[usagemap::kInlineBitmap + p / 8] |= uint8_t(1u << (p % 8));
    return row;
}

Variant owner(const Sid& sid) { return Variant::binary({sid[0], sid[1]}); }

}  // namespace

Result<std::vector<uint8_t>> buildEmptyDatabase(const NewDatabaseOptions& optionsIn)
{
    NewDatabaseOptions options = optionsIn;
    if (options.creationDate == 0) options.creationDate = oleDateNow();
    const JetFormat format = options.format();
    if (format.isJet3() && !isSupportedCodePage(options.codePage))
        return notSupported("code page " + std::to_string(options.codePage) + " cannot be written");
    VK_ASSIGN_OR_RETURN(TextCollation collation, collationFor(options.sortOrderLcid, options.sortOrderVersion, format));

    std::vector<SystemTable> tables = systemTables(options.sortOrderLcid, options.sortOrderVersion, format.version);
    // Page plan: 0 header, 1 global map, 2..5 the definitions (MSysObjects
    // must be page 2), then the pages of usage-map rows (one in Jet 4; 2 KB
    // pages take fewer rows), the index roots, and one data page each for the
    // catalog and the permissions.
    const uint32_t firstTdef = 2;
    size_t mapRowCount = 0;
    for (const SystemTable& t : tables) {
        mapRowCount += 2 + t.definition.indexes.size();
        for (const NewColumn& c : t.definition.columns) mapRowCount += isLongValueType(c.type) ? 2 : 0;
    }
    const size_t rowsPerMapPage =
        std::min<size_t>(datapage::kMaxSlots, format.dataPageRoom() / (format.usageMap.standardRowSize + datapage::kSlotSize));
    const uint32_t mapPages = uint32_t((mapRowCount + rowsPerMapPage - 1) / rowsPerMapPage);
    const uint32_t mapPage = firstTdef + uint32_t(tables.size());
    uint32_t next = mapPage + mapPages;
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
        const size_t index = mapRows.size();
        mapRows.push_back(mapRow(pages, format));
        return RowPointer{mapPage + uint32_t(index / rowsPerMapPage), uint8_t(index % rowsPerMapPage)};
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
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> buffer, buildTableDefinition(tables[t].definition, storage[t], format));
        if (TableDef::pagesNeeded(buffer.size(), format.pageSize) != 1)
            return notSupported("a system table definition outgrew its page");
        VK_ASSIGN_OR_RETURN(TableDef def, TableDef::parse(buffer, {firstTdef + uint32_t(t)}, false, format));
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
        catalogRow(kTablesContainer, kRootContainer, u"Tables", kTypeContainer, owner(kSystemOwner), kFlagSystem),
        catalogRow(kDatabasesContainer, kRootContainer, u"Databases", kTypeContainer, owner(kSystemOwner), kFlagSystem),
        catalogRow(kRelationshipsContainer, kRootContainer, u"Relationships", kTypeContainer, owner(kSystemOwner), kFlagSystem),
        catalogRow(kDatabaseObject, kDatabasesContainer, u"MSysDb", kTypeDatabase, owner(kDatabaseOwner), kFlagSystem),
    };
    for (size_t t = 0; t < tables.size(); ++t)
        catalogRows.push_back(catalogRow(int32_t(firstTdef + t), kTablesContainer, tables[t].name, kTypeTable,
                                         owner(kSystemOwner), kFlagSystem));
    // Access 97 has no data access pages.
    std::vector<const char16_t*> documentContainers = {u"DataAccessPages", u"Forms", u"Modules", u"Reports", u"Scripts", u"SysRel"};
    if (format.isJet3()) documentContainers.erase(documentContainers.begin());
    for (size_t i = 0; i < documentContainers.size(); ++i)
        catalogRows.push_back(catalogRow(int32_t(0x80000000u + uint32_t(i)), kRootContainer, documentContainers[i],
                                         kTypeContainer, owner(kDatabaseOwner), 0));

    std::vector<Ace> aces;
    auto containerAces = [&](int32_t object) {
        aces.push_back({object, kAdministrators, kRightsAll, true});
        aces.push_back({object, kDatabaseOwner, kRightsAll, true});
        aces.push_back({object, kUsers, kRightsAll, true});
    };
    aces.push_back({kTablesContainer, kUsers, kUserContainerRights, true});
    aces.push_back({kTablesContainer, kDatabaseOwner, kTablesContainerRights, true});
    aces.push_back({kTablesContainer, kAdministrators, kTablesContainerRights, true});
    aces.push_back({kDatabasesContainer, kDatabaseOwner, kSecurityRights, false});
    aces.push_back({kRelationshipsContainer, kUsers, kUserContainerRights, true});
    aces.push_back({kRelationshipsContainer, kDatabaseOwner, kSecurityRights | kRightCreate, false});
    aces.push_back({kRelationshipsContainer, kAdministrators, kRightsAll, true});
    aces.push_back({kDatabaseObject, kDatabaseOwner, kSecurityRights | kDatabaseRights, false});
    aces.push_back({kDatabaseObject, kAdministrators, kDatabaseRights, false});
    // The system tables: their permissions belong to the database's owner
    // (MSysRelationships' owner to it as well); the administrators may read
    // all but MSysACEs.
    for (size_t t = 0; t < tables.size(); ++t) {
        aces.push_back({int32_t(firstTdef + t), kDatabaseOwner, t == 3 ? kOwnerRights : kSecurityRights, false});
        if (t != 1) aces.push_back({int32_t(firstTdef + t), kAdministrators, kRightReadData, false});
    }
    for (size_t i = 0; i < documentContainers.size(); ++i) containerAces(int32_t(0x80000000u + uint32_t(i)));

    std::vector<std::vector<Variant>> aceRows;
    for (const Ace& a : aces) {
        const TableDef& d = defs[1];
        std::vector<Variant> v(d.columns().size());
        v[size_t(d.findColumn(u"ObjectId"))] = Variant::longValue(a.object);
        v[size_t(d.findColumn(u"SID"))] = owner(a.sid);
        v[size_t(d.findColumn(u"ACM"))] = Variant::longValue(a.rights);
        v[size_t(d.findColumn(u"FInheritable"))] = Variant::boolean(a.inheritable);
        aceRows.push_back(std::move(v));
    }

    std::vector<PageBuffer> pages(pageCount);
    pages[0] = buildHeaderPage(options);
    pages[1] = buildGlobalMapPage(pageCount, format);

    for (uint32_t m = 0; m < mapPages; ++m) {
        DataPageEditor maps = DataPageEditor::create(mapPage + m, 0, format);
        for (size_t r = m * rowsPerMapPage; r < std::min(mapRows.size(), (m + 1) * rowsPerMapPage); ++r)
            VK_RETURN_IF_ERROR(maps.addRow(mapRows[r]).status());
        pages[mapPage + m] = maps.page();
    }

    // Rows, and the index entries pointing at them.
    std::vector<std::vector<std::vector<IndexKeyEntry>>> indexEntries(tables.size());
    auto fill = [&](size_t t, uint32_t dataPage, const std::vector<std::vector<Variant>>& rows) -> Status {
        DataPageEditor editor = DataPageEditor::create(dataPage, firstTdef + uint32_t(t), format);
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
    image.reserve(pageCount * format.pageSize);
    for (const PageBuffer& p : pages) image.insert(image.end(), p.begin(), p.begin() + long(format.pageSize));
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

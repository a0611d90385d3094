#include "db/jet/ddl_executor.h"

#include <set>

#include "db/convert.h"
#include "db/jet/column_defaults.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/new_database.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/table/row_store.h"
#include "db/jet/system_tables.h"
#include "db/jet/table/table_builder.h"
#include "db/jet/table/table_row_format.h"
#include "db/jet/table/table_writer.h"
#include "db/text.h"

#include <algorithm>

namespace varnika::jet {

namespace {

constexpr uint32_t kCatalogPage = 2;
// The owner Access records for objects a user creates in a database without
// a workgroup: the built-in Admin identity.
const std::vector<uint8_t> kUserObjectOwner = {0xA6, 0x33};

std::string quoted(std::u16string_view name) { return "\"" + toUtf8(name) + "\""; }

// An empty inline owner map of the length Access gives it (kind, start
// page and 64 bitmap bytes; 128 in Jet 3).
std::vector<uint8_t> emptyMapRow(const JetFormat& format)
{
    std::vector<uint8_t> row(format.usageMap.standardRowSize, 0);
    row[usagemap::kKind] = usagemap::kKindInline;
    return row;
}

// Adds `count` empty map rows on new pages owned by no table: one page, or
// as many as the rows need (a table with many Memo fields has more map rows
// than one 2 KB page holds).
Result<std::vector<RowPointer>> addMapRows(PageAllocator& allocator, size_t count)
{
    std::vector<RowPointer> rows;
    const JetFormat& format = allocator.pager().format();
    const std::vector<uint8_t> row = emptyMapRow(format);
    while (rows.size() < count) {
        VK_ASSIGN_OR_RETURN(uint32_t page, allocator.allocateDataPage(0, {}));
        DataPageEditor editor = DataPageEditor::create(page, 0, format);
        do {
            VK_ASSIGN_OR_RETURN(int slot, editor.addRow(row));
            rows.push_back({page, uint8_t(slot)});
        } while (rows.size() < count && editor.canAddRow(row.size()));
        VK_RETURN_IF_ERROR(allocator.pager().write(page, editor.page()));
    }
    return rows;
}

// Writes a definition buffer over `pages`, appending pages when it grew.
Result<TableDef> writeDefinition(PageAllocator& allocator, const std::vector<uint8_t>& buffer,
                                 std::vector<uint32_t> pages)
{
    const JetFormat& format = allocator.pager().format();
    size_t needed = TableDef::pagesNeeded(buffer.size(), format.pageSize);
    if (needed < pages.size()) return notSupported("a table definition cannot shrink onto fewer pages");
    PageBuffer blank{};
    while (pages.size() < needed) {
        VK_ASSIGN_OR_RETURN(uint32_t p, allocator.allocatePage(blank, {}));
        pages.push_back(p);
    }
    VK_ASSIGN_OR_RETURN(std::vector<PageBuffer> laid, TableDef::splitIntoPages(buffer, pages, format));
    for (size_t i = 0; i < pages.size(); ++i) VK_RETURN_IF_ERROR(allocator.pager().write(pages[i], laid[i]));
    return TableDef::parse(buffer, pages, false, format);
}

Result<NewColumn> newColumnFor(const ColumnSpec& spec, const DatabaseHeader& header)
{
    if (!isValidObjectName(spec.name)) return invalidArgument("the field name " + quoted(spec.name) + " is not valid");
    NewColumn c;
    c.name = spec.name;
    c.type = spec.type;
    c.flags = spec.notNull ? 0 : tdef::kColFlagNullable;
    switch (spec.type) {
    case ColumnType::Text: {
        int chars = spec.size > 0 ? spec.size : 255;
        if (chars > 255) return invalidArgument("a Text field holds at most 255 characters");
        c.length = uint16_t(2 * chars);
        c.extraFlags = tdef::kColExtraCompressedUnicode;
        break;
    }
    case ColumnType::Memo:
        c.extraFlags = tdef::kColExtraCompressedUnicode;
        break;
    case ColumnType::Binary: {
        int bytes = spec.size > 0 ? spec.size : 255;
        if (bytes > 255) return invalidArgument("a Binary field holds at most 255 bytes");
        c.length = uint16_t(bytes);
        break;
    }
    default:
        break;
    }
    if (spec.type == ColumnType::Text || spec.type == ColumnType::Memo) {
        c.sortLcid = header.sortLcid;
        c.sortVersion = header.sortVersion;
    }
    if (spec.autoNumber) {
        if (spec.type != ColumnType::Long) return invalidArgument("an AutoNumber field must be a Long");
        c.flags |= tdef::kColFlagAutoLong;
    }
    return c;
}

uint8_t indexFlagsFor(const IndexSpec& spec)
{
    if (spec.primaryKey) return tdef::kIndexFlagUnique | tdef::kIndexFlagRequired;
    return spec.unique ? tdef::kIndexFlagUnique : 0;
}

// Adds a row to MSysObjects and keeps its indexes right, inside the
// caller's commit.
Status addCatalogRow(Database& db, PageAllocator& allocator, uint32_t tdefPage, const std::u16string& name,
                     const std::vector<uint8_t>& properties = {})
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> objects, Table::open(db.pager(), kCatalogPage, u"MSysObjects"));
    const TableDef& def = objects->def();
    std::vector<Variant> values(def.columns().size());
    const double now = oleDateNow();
    auto set = [&](const char16_t* column, Variant v) -> Status {
        int c = def.findColumn(column);
        if (c < 0) return corruption("the table list (MSysObjects) lacks its column " + toUtf8(column));
        values[size_t(c)] = std::move(v);
        return Status::ok();
    };
    VK_RETURN_IF_ERROR(set(u"Id", Variant::longValue(int32_t(tdefPage))));
    VK_RETURN_IF_ERROR(set(u"ParentId", Variant::longValue(catalog::kTablesContainer)));
    VK_RETURN_IF_ERROR(set(u"Name", Variant::text(name)));
    VK_RETURN_IF_ERROR(set(u"Type", Variant::integer(catalog::kTypeTable)));
    VK_RETURN_IF_ERROR(set(u"DateCreate", Variant::date(now)));
    VK_RETURN_IF_ERROR(set(u"DateUpdate", Variant::date(now)));
    VK_RETURN_IF_ERROR(set(u"Owner", Variant::binary(kUserObjectOwner)));
    VK_RETURN_IF_ERROR(set(u"Flags", Variant::longValue(0)));

    std::map<int, std::vector<uint8_t>> longValues;
    if (!properties.empty()) {
        int c = def.findColumn(u"LvProp");
        if (c < 0) return notSupported("the table list (MSysObjects) has no column for properties");
        for (const LongValueColumn& lv : tableLayoutFor(def).longValueColumns) {
            if (lv.column != c) continue;
            LongValueWriter writer(allocator);
            VK_ASSIGN_OR_RETURN(longValues[c], writer.write(properties, lv.maps, 0));
        }
        if (!longValues.count(c)) return notSupported("the table list (MSysObjects) has no column for properties");
    }
    JetRowFormat format(def, objects->longValues());
    VK_ASSIGN_OR_RETURN(EncodedRow encoded, format.encode(values, longValues));
    RowStore store(allocator, tableLayoutFor(def).pages);
    VK_ASSIGN_OR_RETURN(RowPointer placed, store.insert(encoded.bytes));
    VK_RETURN_IF_ERROR(adjustRowCount(db.pager(), kCatalogPage, +1));
    std::set<uint32_t> verified;
    JetIndexMaintainer indexes(*objects, db.header().sortLcid, db.header().sortVersion, verified);
    return indexes.apply(allocator, {RowChangeKind::Insert, kCatalogPage, placed, nullptr, &values});
}

// Whether any object of the Tables container (user or system table, query)
// has that name.
Result<bool> tableNameTaken(Database& db, std::u16string_view name)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> objects, Table::open(db.pager(), kCatalogPage, u"MSysObjects"));
    const TableDef& def = objects->def();
    int nameCol = def.findColumn(u"Name"), parentCol = def.findColumn(u"ParentId");
    if (nameCol < 0 || parentCol < 0) return corruption("the table list (MSysObjects) lacks its columns Name, ParentId");
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, objects->scan());
    while (true) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) return false;
        VK_ASSIGN_OR_RETURN(std::vector<Variant> v, scanner.values());
        const Variant& n = v[size_t(nameCol)];
        const Variant& p = v[size_t(parentCol)];
        if (n.type() == VariantType::Text && p.type() == VariantType::Long && p.asLong() == catalog::kTablesContainer &&
            equalsIgnoreCase(n.asText(), name))
            return true;
    }
}

// A real and a logical index shaped as the table builder makes them, for
// copying into an existing definition.
Result<std::pair<RealIndexDef, LogicalIndexDef>> indexTemplate(const TableDef& def, const IndexSpec& spec,
                                                             std::vector<RealIndexColumn>& keyColumns)
{
    NewTable scratch;
    NewIndex ix;
    ix.name = spec.name;
    ix.flags = indexFlagsFor(spec);
    ix.primaryKey = spec.primaryKey;
    for (const IndexColumnSpec& ic : spec.columns) {
        int c = def.findColumn(ic.name);
        if (c < 0) return Status(ErrorCode::NotFound, "the table has no field " + quoted(ic.name));
        const ColumnDef& col = def.columns()[size_t(c)];
        if (isLongValueType(col.type())) return notSupported("a Memo or OLE Object field cannot be indexed");
        for (const RealIndexColumn& k : keyColumns)
            if (k.columnNumber == col.number) return invalidArgument("the field " + quoted(ic.name) + " is in the index twice");
        keyColumns.push_back({col.number, ic.ascending});
        NewColumn nc;
        nc.name = col.name;
        nc.type = col.type();
        // A new column's Text length counts bytes of UTF-16; Jet 3 keeps characters.
        nc.length = col.type() == ColumnType::Text && col.singleByteText() ? uint16_t(col.length * 2) : col.length;
        nc.flags = col.flags & tdef::kColFlagNullable;
        nc.extraFlags = col.extraFlags;
        ix.columns.push_back({int(scratch.columns.size()), ic.ascending});
        scratch.columns.push_back(std::move(nc));
    }
    scratch.indexes.push_back(std::move(ix));
    NewTableStorage storage;
    storage.indexMaps.push_back({});
    storage.indexRoots.push_back(0);
    for (const NewColumn& c : scratch.columns)
        if (isLongValueType(c.type)) storage.longValueMaps.push_back({});
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> buffer, buildTableDefinition(scratch, storage, def.format()));
    std::vector<uint32_t> pages(TableDef::pagesNeeded(buffer.size(), def.format().pageSize), def.firstPage());
    VK_ASSIGN_OR_RETURN(TableDef built, TableDef::parse(buffer, pages, false, def.format()));
    if (built.realIndexes().size() != 1 || built.logicalIndexes().size() != 1)
        return notSupported("the index could not be laid out");
    return std::make_pair(built.realIndexes().front(), built.logicalIndexes().front());
}

}  // namespace

template <typename F>
Status DdlExecutor::inOneCommit(F&& change)
{
    Pager& pager = m_db->pager();
    VK_RETURN_IF_ERROR(m_db->checkWritable());
    if (pager.hasPendingWrites()) return invalidArgument("another change to the database has not been saved or undone yet");
    Status s = change();
    if (s.isOk()) s = pager.commit();
    if (!s.isOk()) pager.rollback();
    return s;
}

Status DdlExecutor::execute(std::u16string_view statement)
{
    VK_ASSIGN_OR_RETURN(DdlStatement parsed, m_parser.parse(statement));
    return execute(parsed);
}

Status DdlExecutor::execute(const DdlStatement& statement)
{
    return std::visit(
        [this](const auto& s) -> Status {
            using T = std::decay_t<decltype(s)>;
            if constexpr (!std::is_same_v<T, InsertInto>) m_insertDefaults.reset();
            if constexpr (std::is_same_v<T, CreateTable>) return createTable(s);
            else if constexpr (std::is_same_v<T, CreateIndex>) return createIndex(s);
            else if constexpr (std::is_same_v<T, InsertInto>) return insertInto(s);
            else return addColumn(s);
        },
        statement);
}

Status DdlExecutor::createTable(const CreateTable& statement)
{
    if (!isValidObjectName(statement.table)) return invalidArgument("the table name " + quoted(statement.table) + " is not valid");
    if (statement.table.size() >= 4 && equalsIgnoreCase(statement.table.substr(0, 4), u"MSys"))
        return invalidArgument("names starting with MSys belong to the system tables");
    if (statement.columns.empty()) return invalidArgument("a table needs at least one field");
    const JetFormat& format = m_db->pager().format();
    if (!canStoreName(statement.table, format))
        return invalidArgument("the table name " + quoted(statement.table) + " has a character this Access 97 database's code page " +
                               std::to_string(format.codePage) + " cannot hold");
    VK_ASSIGN_OR_RETURN(bool taken, tableNameTaken(*m_db, statement.table));
    if (taken) return invalidArgument("a table named " + quoted(statement.table) + " already exists");

    NewTable table;
    std::vector<NewColumnProperties> properties;
    for (const ColumnSpec& spec : statement.columns) {
        for (const NewColumn& c : table.columns)
            if (equalsIgnoreCase(c.name, spec.name)) return invalidArgument("the field " + quoted(spec.name) + " is named twice");
        VK_ASSIGN_OR_RETURN(NewColumn c, newColumnFor(spec, m_db->header()));
        if (spec.defaultText) VK_RETURN_IF_ERROR(checkDefaultValue(*spec.defaultText, c, m_settings));
        // NOT NULL is also the Required property, which is what Access shows
        // and other readers report; a primary key's fields need no property.
        if (spec.defaultText || (spec.notNull && !spec.primaryKey))
            properties.push_back({spec.name, spec.defaultText, spec.notNull && !spec.primaryKey});
        table.columns.push_back(std::move(c));
    }
    for (const IndexSpec& spec : statement.indexes) {
        if (!isValidObjectName(spec.name)) return invalidArgument("the index name " + quoted(spec.name) + " is not valid");
        for (const NewIndex& other : table.indexes)
            if (equalsIgnoreCase(other.name, spec.name)) return invalidArgument("the index " + quoted(spec.name) + " is named twice");
        NewIndex ix;
        ix.name = spec.name;
        ix.flags = indexFlagsFor(spec);
        ix.primaryKey = spec.primaryKey;
        for (const IndexColumnSpec& ic : spec.columns) {
            auto it = std::find_if(table.columns.begin(), table.columns.end(),
                                   [&](const NewColumn& c) { return equalsIgnoreCase(c.name, ic.name); });
            if (it == table.columns.end()) return Status(ErrorCode::NotFound, "the table has no field " + quoted(ic.name));
            if (isLongValueType(it->type)) return notSupported("a Memo or OLE Object field cannot be indexed");
            // A primary key's fields are required.
            if (spec.primaryKey) it->flags &= uint8_t(~tdef::kColFlagNullable);
            ix.columns.push_back({int(it - table.columns.begin()), ic.ascending});
        }
        table.indexes.push_back(std::move(ix));
    }
    VK_RETURN_IF_ERROR(validateNewTable(table, format));
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> propertyBlock, newTableProperties(properties, format));

    VK_RETURN_IF_ERROR(inOneCommit([&]() -> Status {
        PageAllocator allocator(m_db->pager());
        size_t longValues = size_t(std::count_if(table.columns.begin(), table.columns.end(),
                                                 [](const NewColumn& c) { return isLongValueType(c.type); }));
        VK_ASSIGN_OR_RETURN(std::vector<RowPointer> maps, addMapRows(allocator, 2 + table.indexes.size() + 2 * longValues));
        NewTableStorage storage;
        size_t next = 0;
        storage.ownedPagesMap = maps[next++];
        storage.freePagesMap = maps[next++];
        PageBuffer blank{};
        for (size_t i = 0; i < table.indexes.size(); ++i) {
            RowPointer map = maps[next++];
            VK_ASSIGN_OR_RETURN(uint32_t root, allocator.allocatePage(blank, {map, std::nullopt}));
            storage.indexMaps.push_back(map);
            storage.indexRoots.push_back(root);
        }
        for (size_t i = 0; i < longValues; ++i) {
            storage.longValueMaps.push_back({maps[next], maps[next + 1]});
            next += 2;
        }
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> buffer, buildTableDefinition(table, storage, format));
        VK_ASSIGN_OR_RETURN(TableDef def, writeDefinition(allocator, buffer, {}));
        for (const RealIndexDef& ix : def.realIndexes())
            VK_RETURN_IF_ERROR(rebuildIndex(allocator, def.firstPage(), ix, IndexEntryList()));
        return addCatalogRow(*m_db, allocator, def.firstPage(), statement.table, propertyBlock);
    }));
    return m_db->reloadCatalog();
}

Status DdlExecutor::createIndex(const CreateIndex& statement)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, m_db->table(statement.table));
    // Inserts changed the stored counters since the definition was read.
    VK_RETURN_IF_ERROR(table->reload());
    const TableDef& old = table->def();
    const IndexSpec& spec = statement.index;
    if (!isValidObjectName(spec.name)) return invalidArgument("the index name " + quoted(spec.name) + " is not valid");
    for (const LogicalIndexDef& ix : old.logicalIndexes()) {
        if (equalsIgnoreCase(ix.name, spec.name)) return invalidArgument("the table already has an index " + quoted(spec.name));
        if (spec.primaryKey && ix.isPrimaryKey()) return invalidArgument("the table already has a primary key");
    }
    if (spec.columns.empty()) return invalidArgument("an index needs at least one field");
    std::vector<RealIndexColumn> keyColumns;
    VK_ASSIGN_OR_RETURN(auto shapes, indexTemplate(old, spec, keyColumns));
    if (spec.primaryKey)
        for (const RealIndexColumn& k : keyColumns) {
            int c = old.findColumnByNumber(k.columnNumber);
            if (c >= 0 && (old.columns()[size_t(c)].flags & tdef::kColFlagNullable))
                return notSupported("a primary key can only be made over required fields");
        }

    // The statements before it are saved first: a large index's pages then
    // go to the file as they are made, not into memory.
    VK_RETURN_IF_ERROR(m_db->pager().saveGroup());
    Status s = inOneCommit([&]() -> Status {
        PageAllocator allocator(m_db->pager());
        TableDef def = old;
        VK_ASSIGN_OR_RETURN(std::vector<RowPointer> maps, addMapRows(allocator, 1));
        PageBuffer blank{};
        VK_ASSIGN_OR_RETURN(uint32_t root, allocator.allocatePage(blank, {maps[0], std::nullopt}));
        RealIndexDef real = shapes.first;
        real.columns = keyColumns;
        real.usageMap = maps[0];
        real.rootPage = root;
        real.uniqueEntryCount = 0;
        LogicalIndexDef logical = shapes.second;
        logical.number = uint32_t(def.logicalIndexes().size());
        logical.realIndex = uint32_t(def.realIndexes().size());
        logical.relatedIndex = -1;
        logical.relatedTable = 0;
        def.mutableRealIndexes().push_back(real);
        def.mutableLogicalIndexes().push_back(logical);
        VK_ASSIGN_OR_RETURN(TableDef written, writeDefinition(allocator, def.serialize(), def.pages()));

        // The new index from every row already in the table.
        const RealIndexDef& added = written.realIndexes().back();
        // Sorted within a bounded memory: on a large table, in runs through
        // a temporary file.
        EntrySorter entries;
        // Only the columns the index keys on are read from each record.
        std::vector<int> keyColumns;
        for (const RealIndexColumn& kc : added.columns)
            if (const int col = written.findColumnByNumber(kc.columnNumber); col >= 0) keyColumns.push_back(col);
        std::vector<Variant> values;
        VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table->scan());
        while (true) {
            VK_ASSIGN_OR_RETURN(bool more, scanner.next());
            if (!more) break;
            VK_RETURN_IF_ERROR(scanner.valuesInto(keyColumns, values));
            VK_ASSIGN_OR_RETURN(std::optional<IndexKeyEntry> e,
                                indexEntryFor(written, added, values, m_db->header().sortLcid, m_db->header().sortVersion));
            if (!e) continue;
            VK_RETURN_IF_ERROR(entries.add(e->key, RowId{scanner.pointer().page, scanner.pointer().row}));
        }
        VK_ASSIGN_OR_RETURN(std::unique_ptr<SortedEntries> sorted, entries.finish());
        // The index's unique-entry count starts at its distinct keys.
        VK_ASSIGN_OR_RETURN(size_t distinct, distinctKeys(*sorted));
        VK_RETURN_IF_ERROR(addUniqueEntries(m_db->pager(), written.firstPage(), written.realIndexes().size() - 1,
                                            uint32_t(distinct)));
        return rebuildIndex(allocator, written.firstPage(), added, *sorted);
    });
    VK_RETURN_IF_ERROR(table->reload());
    return s;
}

Result<DdlExecutor::NewRecord> DdlExecutor::newRecord(const InsertInto& statement)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, m_db->table(statement.table));
    const TableDef& def = table->def();
    std::vector<int> targets;
    if (statement.columns.empty()) {
        targets = def.columnsByNumber();
    } else {
        for (const std::u16string& name : statement.columns) {
            int c = def.findColumn(name);
            if (c < 0) return Status(ErrorCode::NotFound, "the table " + quoted(statement.table) + " has no field " + quoted(name));
            if (std::find(targets.begin(), targets.end(), c) != targets.end())
                return invalidArgument("the field " + quoted(name) + " is named twice");
            targets.push_back(c);
        }
    }
    if (statement.values.size() > targets.size()) return invalidArgument("more values than fields");
    if (statement.values.size() < targets.size()) return invalidArgument("fewer values than fields");

    std::vector<Variant> values(def.columns().size());
    // The fields left out take their default values, as Jet gives them.
    std::vector<int> omitted;
    for (int c : def.columnsByNumber())
        if (std::find(targets.begin(), targets.end(), c) == targets.end()) omitted.push_back(c);
    if (!omitted.empty()) {
        if (!m_insertDefaults || m_defaultsTable != table || m_defaultsGeneration != table->definitionGeneration()) {
            m_insertDefaults.reset();
            VK_ASSIGN_OR_RETURN(auto texts, tableDefaultTexts(*m_db, *table));
            m_insertDefaults = std::move(texts);
            m_defaultsTable = table;
            m_defaultsGeneration = table->definitionGeneration();
        }
        VK_ASSIGN_OR_RETURN(auto defaults, columnDefaultsFrom(*m_insertDefaults, *table, omitted, m_settings));
        for (auto& [c, v] : defaults) values[size_t(c)] = std::move(v);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        const ColumnDef& col = def.columns()[size_t(targets[i])];
        const Variant& given = statement.values[i];
        Result<Variant> converted = Variant();
        if (i < statement.dateLiteral.size() && statement.dateLiteral[i] && given.type() == VariantType::Text) {
            Result<double> date = parseDateLiteral(given.asText());
            converted = date.isOk() ? convertForColumn(Variant::date(*date), col.type(), col.displaySize(), m_settings)
                                    : Result<Variant>(date.status());
        } else {
            converted = convertForColumn(given, col.type(), col.displaySize(), m_settings);
        }
        if (!converted.isOk())
            return Status(converted.status().code(), "field " + quoted(col.name) + ": " + converted.status().message());
        values[size_t(targets[i])] = std::move(*converted);
    }
    for (const ColumnDef& col : def.columns()) {
        size_t c = size_t(&col - def.columns().data());
        if (values[c].isNull() && !(col.flags & tdef::kColFlagNullable) && !col.isAutoLong() && !col.isAutoGuid())
            return Status(ErrorCode::Constraint, "the field " + quoted(col.name) + " is required");
    }
    return NewRecord{std::move(table), std::move(values)};
}

Result<TableWriter*> DdlExecutor::insertWriter(const std::shared_ptr<Table>& table)
{
    // A run of INSERTs into one table shares its writer.
    if (!m_insertWriter || m_insertTable != table || m_insertGeneration != table->definitionGeneration()) {
        VK_ASSIGN_OR_RETURN(m_insertWriter, m_db->changeTable(*table));
        m_insertTable = table;
        m_insertGeneration = table->definitionGeneration();
    }
    return m_insertWriter->writer.get();
}

Status DdlExecutor::insertInto(const InsertInto& statement)
{
    VK_ASSIGN_OR_RETURN(NewRecord record, newRecord(statement));
    VK_ASSIGN_OR_RETURN(TableWriter * writer, insertWriter(record.table));
    return writer->insertRow(std::move(record.values)).status();
}

Status DdlExecutor::insertAll(std::span<const InsertInto> statements, size_t& done)
{
    done = 0;
    // Every record is made before any is written: a statement that makes
    // none ends the run there.
    std::vector<NewRecord> records;
    records.reserve(statements.size());
    Status refused = Status::ok();
    for (const InsertInto& statement : statements) {
        Result<NewRecord> record = newRecord(statement);
        if (!record.isOk()) {
            refused = record.status();
            break;
        }
        records.push_back(std::move(*record));
    }
    for (size_t from = 0; from < records.size();) {
        size_t to = from + 1;
        while (to < records.size() && records[to].table == records[from].table) ++to;
        VK_ASSIGN_OR_RETURN(TableWriter * writer, insertWriter(records[from].table));
        bool written = false;
        if (to - from > 1) {
            // A copy: should the run fail, its records are written again.
            std::vector<std::vector<Variant>> rows;
            rows.reserve(to - from);
            for (size_t k = from; k < to; ++k) rows.push_back(records[k].values);
            const size_t lostBefore = m_db->pager().unitsLost();
            Status together = writer->insertRows(std::move(rows)).status();
            // A group commit that lost finished statements is reported as it
            // stands: writing the run again would hide the loss.
            if (!together.isOk() && m_db->pager().unitsLost() != lostBefore) return together;
            written = together.isOk();
        }
        if (!written) {
            for (size_t k = from; k < to; ++k) {
                VK_RETURN_IF_ERROR(writer->insertRow(std::move(records[k].values)).status());
                done = k + 1;
            }
        }
        done = to;
        from = to;
    }
    return refused;
}

Status DdlExecutor::addColumn(const AlterTableAddColumn& statement)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, m_db->table(statement.table));
    // Inserts changed the stored counters since the definition was read.
    VK_RETURN_IF_ERROR(table->reload());
    const TableDef& old = table->def();
    const ColumnSpec& spec = statement.column;
    if (!isValidObjectName(spec.name)) return invalidArgument("the field name " + quoted(spec.name) + " is not valid");
    if (old.findColumn(spec.name) >= 0)
        return invalidArgument("the table " + quoted(statement.table) + " already has a field " + quoted(spec.name));
    if (spec.primaryKey || spec.unique)
        return notSupported("an index cannot be made while adding a field; use CREATE INDEX afterwards");
    VK_ASSIGN_OR_RETURN(NewColumn nc, newColumnFor(spec, m_db->header()));
    if (spec.defaultText) {
        Result<Variant> converted = convertForColumn(Variant::text(*spec.defaultText), spec.type, spec.size, m_settings);
        if (!converted.isOk()) return invalidArgument("the default value does not fit the field: " + converted.status().message());
        // Default values live in the table's property blob, which is not
        // written; refusing is better than dropping the value silently.
        return notSupported("default values are not supported");
    }
    // The stored count of a file copied while open may be off: a row on
    // the pages counts even when the count says none.
    bool hasRows = old.rowCount() > 0;
    if (!hasRows) {
        VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table->scan());
        VK_ASSIGN_OR_RETURN(hasRows, scanner.next());
    }
    if (spec.notNull && hasRows) return notSupported("a required field can only be added to a table without records");
    if (spec.autoNumber) {
        if (hasRows) return notSupported("an AutoNumber field can only be added to a table without records");
        for (const ColumnDef& c : old.columns())
            if (c.isAutoLong()) return invalidArgument("the table already has an AutoNumber field");
    }
    const bool variable = isVariableType(spec.type);
    if (variable && hasRows && old.varColumnCount() == 0)
        return notSupported("the first variable-length field cannot be added to a table that has records: its records "
                            "have no room for it");
    if (old.maxColumns() >= 255 || old.columns().size() >= 255) return notSupported("the table has the most fields it can have");

    // The new descriptor as the table builder shapes it.
    NewTable scratch;
    scratch.columns.push_back(nc);
    NewTableStorage scratchStorage;
    if (isLongValueType(nc.type)) scratchStorage.longValueMaps.push_back({});
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> scratchBuffer, buildTableDefinition(scratch, scratchStorage, old.format()));
    std::vector<uint32_t> scratchPages(TableDef::pagesNeeded(scratchBuffer.size(), old.format().pageSize), old.firstPage());
    VK_ASSIGN_OR_RETURN(TableDef shaped, TableDef::parse(scratchBuffer, scratchPages, false, old.format()));
    if (shaped.columns().size() != 1) return notSupported("the field could not be laid out");
    ColumnDef column = shaped.columns().front();
    if (column.isVariable() != variable) return notSupported("the field could not be laid out");

    column.number = old.maxColumns();
    column.ordinal = column.number;
    column.varIndex = variable ? old.varColumnCount() : 0;
    column.fixedOffset = 0;
    if (!variable && !column.isBoolean()) {
        size_t end = 0;
        for (const ColumnDef& c : old.columns())
            if (c.isFixed() && !c.isBoolean()) end = std::max(end, size_t(c.fixedOffset) + c.fixedWidth());
        if (end + column.fixedWidth() > 0xFFFF) return notSupported("the table's fixed-length fields are full");
        column.fixedOffset = uint16_t(end);
    }

    Status s = inOneCommit([&]() -> Status {
        PageAllocator allocator(m_db->pager());
        TableDef def = old;
        def.mutableColumns().push_back(column);
        def.setMaxColumns(uint16_t(old.maxColumns() + 1));
        if (variable) def.setVarColumnCount(uint16_t(old.varColumnCount() + 1));
        def.reindexColumns();
        if (isLongValueType(column.type())) {
            VK_ASSIGN_OR_RETURN(std::vector<RowPointer> maps, addMapRows(allocator, 2));
            def.mutableLongValueMaps().push_back({column.number, maps[0], maps[1]});
        }
        return writeDefinition(allocator, def.serialize(), def.pages()).status();
    });
    VK_RETURN_IF_ERROR(table->reload());
    return s;
}

Status executeDdl(std::shared_ptr<Database> db, std::u16string_view statement, const RegionalSettings& settings)
{
    DdlExecutor executor(std::move(db), settings);
    return executor.execute(statement);
}

}  // namespace varnika::jet

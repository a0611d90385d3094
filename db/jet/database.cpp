#include "db/jet/database.h"

#include "db/jet/bytes.h"
#include "db/jet/database_header.h"
#include "db/jet/journal.h"
#include "db/jet/jet_index_maintainer.h"
#include "db/jet/table_row_format.h"
#include "db/jet/table_writer.h"
#include "db/jet/page_layout.h"
#include "db/text.h"

#include <filesystem>

namespace varnika::jet {

Result<std::shared_ptr<Database>> Database::open(const std::string& path, OpenMode mode, const PageFileLayer& layer)
{
    // Refuse a file that is not a Jet 4 database before the pager takes a
    // lock or makes a journal beside it. With a journal present the header
    // page may be the one a crash left half written: let the pager roll
    // back first and check the header afterwards.
    if (!std::filesystem::exists(journalPathFor(path))) {
        VK_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> probe, openPosixFile(path, OpenMode::ReadOnly));
        VK_RETURN_IF_ERROR(DatabaseHeader::read(*probe).status());
    }
    VK_ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::open(path, mode, kDefaultCachePages, layer));
    return open(std::move(pager));
}

Result<std::shared_ptr<Database>> Database::open(std::unique_ptr<PageFile> file)
{
    VK_RETURN_IF_ERROR(DatabaseHeader::read(*file).status());
    return open(std::make_unique<Pager>(std::move(file)));
}

Result<std::shared_ptr<Database>> Database::open(std::unique_ptr<Pager> pager)
{
    VK_ASSIGN_OR_RETURN(DatabaseHeader header, DatabaseHeader::read(pager->file()));
    std::shared_ptr<Database> db(new Database());
    db->m_header = header;
    db->m_pager = std::move(pager);
    // A clear file's page 1 is the data page of the global usage map; an
    // encrypted file shows noise there.
    if (db->m_pager->pageCount() <= usagemap::kGlobalMapPage)
        return corruption("the database file is truncated: it has no page map");
    VK_ASSIGN_OR_RETURN(PageRef first, db->m_pager->read(usagemap::kGlobalMapPage));
    if ((*first)[page::kType] != uint8_t(PageType::Data) || (*first)[page::kMarker] != page::kMarkerValue)
        return notSupported("encrypted database: its pages are not readable");
    VK_ASSIGN_OR_RETURN(db->m_catalog, Catalog::load(*db->m_pager));
    return db;
}

Result<std::shared_ptr<Table>> Database::table(std::u16string_view name)
{
    const CatalogEntry* e = m_catalog.find(name);
    if (!e) return notFound("there is no table \"" + toUtf8(name) + "\" in the database");
    auto it = m_tables.find(e->tdefPage);
    if (it != m_tables.end()) return it->second;
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> t, Table::open(*m_pager, e->tdefPage, e->name));
    m_tables.emplace(e->tdefPage, t);
    return t;
}

Result<TableChange> Database::changeTable(Table& table)
{
    if (!m_pager->isWritable()) {
        const std::string& why = m_pager->readOnlyReason();
        return Status(ErrorCode::ReadOnly, why.empty() ? "the database is open for reading only" : "cannot change the database: " + why);
    }
    TableChange c;
    c.format = std::make_shared<JetRowFormat>(table.def(), table.longValues());
    c.indexes = std::make_shared<JetIndexMaintainer>(table, m_header.sortLcid, m_header.sortVersion, m_verifiedIndexes,
                                                     &m_indexPages);
    c.writer = std::make_shared<TableWriter>(*m_pager, tableLayoutFor(table.def()), *c.format, c.indexes.get());
    return c;
}

Status Database::reloadCatalog()
{
    VK_ASSIGN_OR_RETURN(Catalog catalog, Catalog::load(*m_pager));
    m_catalog = std::move(catalog);
    return Status::ok();
}

}  // namespace varnika::jet

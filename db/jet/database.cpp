#include "db/jet/database.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/database_header.h"
#include "db/jet/file/journal.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/table/table_row_format.h"
#include "db/jet/table/table_writer.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/text_codec.h"
#include "db/text.h"

#include <algorithm>

namespace varnika::jet {

Result<std::shared_ptr<Database>> Database::open(const std::string& path, OpenMode mode, const PageFileLayer& layer)
{
    return open(posixFileSystem(), path, mode, layer);
}

Result<std::shared_ptr<Database>> Database::open(std::shared_ptr<FileSystem> files, const std::string& path, OpenMode mode,
                                                 const PageFileLayer& layer)
{
    // Refuse a file that is not a Jet database before the pager takes a
    // lock or makes a journal beside it. With a journal present the header
    // page may be the one a crash left half written: let the pager roll
    // back first and check the header afterwards.
    if (!files->exists(journalPathFor(path))) {
        VK_ASSIGN_OR_RETURN(std::unique_ptr<PageFile> probe, files->open(path, OpenMode::ReadOnly));
        VK_RETURN_IF_ERROR(DatabaseHeader::read(*probe).status());
    }
    VK_ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::open(std::move(files), path, mode, kDefaultCachePages, layer));
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
    if (header.version != pager->format().version)
        return corruption("the database header changed while the file was being opened");
    if (header.version == JetVersion::Jet3) {
        // Access 97 text is one byte a character in the code page the
        // header names.
        if (!isSupportedCodePage(header.codePage))
            return notSupported("this Access 97 database keeps its text in code page " + std::to_string(header.codePage) +
                                ", which cannot be read; code pages 874 and 1250 to 1258 can");
        pager->setCodePage(header.codePage);
    }
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

Status Database::checkWritable() const { return m_pager->checkWritable(); }

Status Database::prepareRun(Table& table, const RunPlan& plan)
{
    VK_RETURN_IF_ERROR(checkWritable());
    VK_RETURN_IF_ERROR(m_pager->saveHeldBack());
    const TableDef& def = table.def();
    std::vector<size_t> touched;
    for (size_t i = 0; i < def.realIndexes().size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[i];
        bool touches = plan.kind == RunPlan::Kind::Delete;
        for (const RealIndexColumn& kc : index.columns) {
            const int col = def.findColumnByNumber(kc.columnNumber);
            touches = touches || std::find(plan.changedColumns.begin(), plan.changedColumns.end(), col) != plan.changedColumns.end();
        }
        if (touches && !m_verifiedIndexes.count(index.rootPage)) touched.push_back(i);
    }
    // The first run on a table also reads every row and counts every index,
    // touched or not: a table that lost an index entry or a readable row
    // (a file copied while open) is left for Access to repair.
    const bool firstRun = !m_soundTables.count(def.firstPage());
    if (!touched.empty() || firstRun)
        VK_RETURN_IF_ERROR(
            verifyIndexes(table, touched, m_header.sortLcid, m_header.sortVersion, m_verifiedIndexes, firstRun));
    m_soundTables.insert(def.firstPage());

    // Room a data page gives rows in practice, for the forecast.
    const uint64_t forecastBytesPerPage = m_pager->pageSize() * 3 / 4;
    const uint64_t pages = (uint64_t(plan.records) * plan.growthPerRecord + forecastBytesPerPage - 1) / forecastBytesPerPage;
    if (uint64_t(m_pager->pageCount()) + pages > m_pager->maxPages())
        return Status(ErrorCode::Full, "changing " + std::to_string(plan.records) + " records of table \"" + toUtf8(table.name()) +
                                           "\" would make the file larger than an Access database can be (" + m_pager->largestSizeText() + "); "
                                           "nothing was changed");
    return Status::ok();
}

Result<TableChange> Database::changeTable(Table& table)
{
    VK_RETURN_IF_ERROR(checkWritable());
    TableChange c;
    c.format = std::make_shared<JetRowFormat>(table.def(), table.longValues());
    c.indexes = std::make_shared<JetIndexMaintainer>(table, m_header.sortLcid, m_header.sortVersion, m_verifiedIndexes,
                                                     &m_indexPages);
    c.writer = std::make_shared<TableWriter>(*m_pager, tableLayoutFor(table.def()), *c.format, c.indexes.get());
    c.writer->keepUpToDate(table.slotTables());
    return c;
}

Status Database::reloadCatalog()
{
    VK_ASSIGN_OR_RETURN(Catalog catalog, Catalog::load(*m_pager));
    m_catalog = std::move(catalog);
    return Status::ok();
}

}  // namespace varnika::jet

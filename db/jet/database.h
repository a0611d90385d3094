#pragma once
// An open Jet 4 database: the file, its page cache, the header and the
// table list. Shared (shared_ptr) by the record sets and connections that
// use it.

#include "db/jet/catalog.h"
#include "db/jet/index_tree.h"
#include "db/jet/database_header.h"
#include "db/jet/page_file.h"
#include "db/jet/pager.h"
#include "db/jet/table.h"
#include "db/status.h"

#include <map>
#include <set>
#include <memory>
#include <string>

namespace varnika::jet {

class JetIndexMaintainer;
class JetRowFormat;
class TableWriter;

// What changing one table's records needs, bound to that table.
struct TableChange {
    std::shared_ptr<JetRowFormat> format;
    std::shared_ptr<JetIndexMaintainer> indexes;
    std::shared_ptr<TableWriter> writer;
};

class Database {
public:
    // Opens a file on disk; `path` is UTF-8. The header is checked before
    // anything is created next to the file; then the pager opens it with its
    // rollback journal and lock (Pager::open). A file that cannot be written
    // opens read-only and pager().readOnlyReason() says why.
    static Result<std::shared_ptr<Database>> open(const std::string& path, OpenMode mode, const PageFileLayer& layer = {});
    // Opens an already opened file (tests use a MemoryPageFile).
    static Result<std::shared_ptr<Database>> open(std::unique_ptr<PageFile> file);
    // Opens over a pager the caller set up.
    static Result<std::shared_ptr<Database>> open(std::unique_ptr<Pager> pager);

    Pager& pager() { return *m_pager; }
    const DatabaseHeader& header() const { return m_header; }
    const Catalog& catalog() const { return m_catalog; }
    bool isWritable() const { return m_pager->isWritable(); }
    const std::string& path() const { return m_pager->file().path(); }

    // A user table by name, without regard to case. Unknown names are
    // NotFound. The same Table object for the life of the database.
    Result<std::shared_ptr<Table>> table(std::u16string_view name);

    // A writer for the records of `table`, keeping its indexes right. Fails
    // with ReadOnly (and the reason) when the file cannot be written.
    Result<TableChange> changeTable(Table& table);

    // Reads the table list again (after a table was created).
    Status reloadCatalog();

private:
    Database() = default;
    std::unique_ptr<Pager> m_pager;
    DatabaseHeader m_header;
    Catalog m_catalog;
    std::map<uint32_t, std::shared_ptr<Table>> m_tables;
    std::set<uint32_t> m_verifiedIndexes;  // roots of indexes whose keys were checked against their rows
    IndexPageCache m_indexPages;           // decoded index pages, reused while their bytes are unchanged
};

}  // namespace varnika::jet

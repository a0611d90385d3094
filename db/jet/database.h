#pragma once
// An open Jet database (Jet 4, or Jet 3 of Access 97): the file, its page
// cache, the header and the table list. Shared (shared_ptr) by the record
// sets and connections that use it.

#include "db/jet/table/catalog.h"
#include "db/jet/index/index_tree.h"
#include "db/jet/page/database_header.h"
#include "db/jet/file/page_file.h"
#include "db/jet/file/pager.h"
#include "db/jet/table/table.h"
#include "db/status.h"

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

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

// What a run over a table's records is about to do: Database::prepareRun
// checks it before the first record is written.
struct RunPlan {
    enum class Kind { Update, Delete };
    Kind kind = Kind::Update;
    // Records the run may still change, the first included.
    size_t records = 0;
    // Update: the columns it changes (positions in the column list); the
    // indexes over them are the ones the run touches. A delete touches all.
    std::vector<int> changedColumns;
    // A forecast of the bytes each record adds to the file.
    size_t growthPerRecord = 0;
};

class Database {
public:
    // Opens a file in `files`; `path` is UTF-8. The header is checked before
    // anything is created next to the file; then the pager opens it with its
    // rollback journal and lock (Pager::open). A file that cannot be written
    // opens read-only and pager().readOnlyReason() says why.
    static Result<std::shared_ptr<Database>> open(std::shared_ptr<FileSystem> files, const std::string& path, OpenMode mode,
                                                  const PageFileLayer& layer = {});
    // The same on the system's own files.
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

    // Fails with ReadOnly, and the reason, when the file cannot be written
    // (Pager::checkWritable, the one place that says so).
    Status checkWritable() const;

    // Checks, before the first record of a run is written, what would
    // otherwise stop the run partway: the file can be written; every index
    // the run touches holds exactly the keys of the rows, under a sort
    // order this engine encodes, and every row of the table can be read;
    // on the first run over a table, every other index of it holds as many
    // entries as its rows make (else the table is damaged or keyed under
    // other rules: Corruption or NotSupported, naming the table); the
    // forecast growth keeps the file within its largest size (Full). A
    // stored row count that differs from the rows is no reason to refuse.
    // Nothing is written.
    Status prepareRun(Table& table, const RunPlan& plan);

    // Reads the table list again (after a table was created).
    Status reloadCatalog();

private:
    Database() = default;
    std::unique_ptr<Pager> m_pager;
    DatabaseHeader m_header;
    Catalog m_catalog;
    std::map<uint32_t, std::shared_ptr<Table>> m_tables;
    std::set<uint32_t> m_verifiedIndexes;  // roots of indexes whose keys were checked against their rows
    std::set<uint32_t> m_soundTables;      // tables whose rows all read and whose indexes all count right
    IndexPageCache m_indexPages;           // decoded index pages, reused while their bytes are unchanged
};

}  // namespace varnika::jet

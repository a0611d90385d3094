#pragma once
// Carries out data-definition and insert statements (ddl_statement.h) on an
// open Jet database (Jet 4 or Jet 3). Every statement is one Pager commit:
// the pages it changes are written together, or, on any failure, rolled back
// so that the file is exactly as it was.

#include "db/jet/database.h"
#include "db/sql/ddl_statement.h"
#include "db/regional_settings.h"
#include "db/status.h"

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace varnika::jet {

class DdlExecutor {
public:
    // `settings` reads text literals given for number and date fields.
    DdlExecutor(std::shared_ptr<Database> db, RegionalSettings settings)
        : m_db(std::move(db)), m_settings(std::move(settings))
    {
    }

    // Parses and carries out one statement.
    Status execute(std::u16string_view statement);
    Status execute(const DdlStatement& statement);
    // Parses one statement as execute() does, to carry it out later.
    Result<DdlStatement> parse(std::u16string_view statement) { return m_parser.parse(statement); }
    // Carries out INSERT statements in order, as execute() would one after
    // another: on a failure, the statements before it are carried out, and
    // `done` tells how many. The records of a run of statements into one
    // table are written in one commit, their index entries together; should
    // that fail, they are written again one at a time, so that the failure
    // reported is that of its own statement.
    Status insertAll(std::span<const InsertInto> statements, size_t& done);

    Status createTable(const CreateTable& statement);
    Status createIndex(const CreateIndex& statement);
    Status insertInto(const InsertInto& statement);
    Status addColumn(const AlterTableAddColumn& statement);

private:
    // Runs `change` as one commit; rolls back on failure.
    template <typename F>
    Status inOneCommit(F&& change);
    // The table an INSERT names and the record it makes: the values given,
    // converted to the fields' types, and the defaults of the fields left
    // out.
    struct NewRecord {
        std::shared_ptr<Table> table;
        std::vector<Variant> values;
    };
    Result<NewRecord> newRecord(const InsertInto& statement);
    // The writer of the table inserted into, kept for the next INSERT.
    Result<TableWriter*> insertWriter(const std::shared_ptr<Table>& table);

    std::shared_ptr<Database> m_db;
    RegionalSettings m_settings;
    DdlStatementParser m_parser;
    // The writer of the table the last INSERT wrote to, for the definition
    // it was built for.
    std::optional<TableChange> m_insertWriter;
    std::shared_ptr<Table> m_insertTable;
    uint64_t m_insertGeneration = 0;
    // The default value texts of the table inserted into, read once per run
    // of inserts (any other statement forgets them).
    std::optional<std::map<std::u16string, std::u16string>> m_insertDefaults;
    std::shared_ptr<Table> m_defaultsTable;
    uint64_t m_defaultsGeneration = 0;
};

// One statement on `db`.
Status executeDdl(std::shared_ptr<Database> db, std::u16string_view statement, const RegionalSettings& settings);

}  // namespace varnika::jet

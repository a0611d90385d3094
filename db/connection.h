#pragma once
// The connection-oriented access path: schema listing and data definition.
// The connection string is a list of key=value pairs separated by ';'; the
// provider must be Microsoft.Jet.OLEDB.4.0 and the file is its Data Source.

#include "db/record_set.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <memory>
#include <string>
#include <vector>

namespace varnika {

namespace jet { class Database; }

enum SchemaKind {
    adSchemaColumns = 4,  // restrictions: catalog, schema, table name, column name
    adSchemaTables = 20,  // restrictions: catalog, schema, table name, table type
};

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SetConnectionString(std::u16string s) { m_connectionString = std::move(s); }
    const std::u16string& ConnectionString() const { return m_connectionString; }

    // Opens the database named by the connection string (the argument, when
    // not empty, replaces ConnectionString first).
    Status Open(std::u16string_view connectionString = {}, std::u16string_view user = {},
                std::u16string_view password = {}, int options = -1);

    // A read-only record set over the schema. Empty restriction entries (Null
    // or empty text) restrict nothing. Tables rows carry TABLE_NAME and
    // TABLE_TYPE; columns rows carry TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION
    // and DATA_TYPE.
    Result<std::unique_ptr<RecordSet>> OpenSchema(int schema, const std::vector<Variant>& restrictions);

    // Runs one data-definition or insert statement (ALTER TABLE ... ADD
    // COLUMN, CREATE TABLE, CREATE INDEX, INSERT INTO) as one commit; the
    // database is opened for writing at the first call.
    Status Execute(std::u16string_view commandText, int options = -1);

    Status Close();
    bool isOpen() const { return m_database != nullptr; }

private:
    std::u16string m_connectionString;
    std::shared_ptr<jet::Database> m_database;
};

// Splits "key=value;key=value" into pairs; keys are matched without regard to
// case by the callers. Exposed for tests.
std::vector<std::pair<std::u16string, std::u16string>> parseConnectionString(std::u16string_view s);

}  // namespace varnika

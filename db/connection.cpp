#include "db/connection.h"

#include "db/jet/ddl_executor.h"

#include "db/jet/database.h"
#include "db/jet/record_sets.h"
#include "db/text.h"

namespace varnika {

namespace {

constexpr std::u16string_view kProvider = u"Microsoft.Jet.OLEDB.4.0";
constexpr std::u16string_view kTableType = u"TABLE";
constexpr size_t kTablesNameRestriction = 2;
constexpr size_t kTablesTypeRestriction = 3;
constexpr size_t kColumnsTableRestriction = 2;
constexpr size_t kColumnsColumnRestriction = 3;
constexpr int kNameFieldSize = 64;

// The OLE DB type word of a column, as the columns rowset reports it.
int16_t oleDbType(ColumnType t)
{
    switch (t) {
    case ColumnType::Boolean: return 11;   // DBTYPE_BOOL
    case ColumnType::Byte: return 17;      // DBTYPE_UI1
    case ColumnType::Integer: return 2;    // DBTYPE_I2
    case ColumnType::Long: return 3;       // DBTYPE_I4
    case ColumnType::Currency: return 6;   // DBTYPE_CY
    case ColumnType::Single: return 4;     // DBTYPE_R4
    case ColumnType::Double: return 5;     // DBTYPE_R8
    case ColumnType::DateTime: return 7;   // DBTYPE_DATE
    case ColumnType::Text:
    case ColumnType::Memo: return 130;     // DBTYPE_WSTR
    case ColumnType::Guid: return 72;      // DBTYPE_GUID
    case ColumnType::Numeric: return 131;  // DBTYPE_NUMERIC
    default: return 128;                   // DBTYPE_BYTES
    }
}

// The restriction text at `index`, or empty when absent, Null or empty.
std::u16string restriction(const std::vector<Variant>& r, size_t index)
{
    if (index >= r.size() || r[index].type() != VariantType::Text) return {};
    return r[index].asText();
}

bool passes(const std::u16string& restrictionText, std::u16string_view value)
{
    return restrictionText.empty() || equalsIgnoreCase(restrictionText, value);
}

Status notOpen() { return Status(ErrorCode::Closed, "the connection is not open"); }

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

std::vector<std::pair<std::u16string, std::u16string>> parseConnectionString(std::u16string_view s)
{
    std::vector<std::pair<std::u16string, std::u16string>> out;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t end = s.find(u';', pos);
        if (end == std::u16string_view::npos) end = s.size();
        std::u16string_view part = s.substr(pos, end - pos);
        size_t eq = part.find(u'=');
        if (eq != std::u16string_view::npos) {
            auto trim = [](std::u16string_view v) {
                while (!v.empty() && v.front() == u' ') v.remove_prefix(1);
                while (!v.empty() && v.back() == u' ') v.remove_suffix(1);
                return std::u16string(v);
            };
            out.emplace_back(trim(part.substr(0, eq)), std::u16string(part.substr(eq + 1)));
        }
        pos = end + 1;
    }
    return out;
}

Status Connection::Open(std::u16string_view connectionString, std::u16string_view, std::u16string_view, int)
{
    if (m_database) return invalidArgument("the connection is already open");
    if (!connectionString.empty()) m_connectionString = std::u16string(connectionString);
    std::u16string provider, source;
    bool haveSource = false;
    for (const auto& [key, value] : parseConnectionString(m_connectionString)) {
        if (equalsIgnoreCase(key, u"Provider")) provider = value;
        else if (equalsIgnoreCase(key, u"Data Source")) {
            source = value;
            haveSource = true;
        }
    }
    if (!equalsIgnoreCase(provider, kProvider))
        return invalidArgument(provider.empty() ? "the connection string names no provider"
                                                : "the provider \"" + toUtf8(provider) + "\" is not supported; use " +
                                                      toUtf8(kProvider));
    if (!haveSource || source.empty()) return invalidArgument("the connection string names no Data Source");
    VK_ASSIGN_OR_RETURN(m_database, jet::Database::open(toUtf8(source), jet::OpenMode::ReadOnly));
    return Status::ok();
}

Result<std::unique_ptr<RecordSet>> Connection::OpenSchema(int schema, const std::vector<Variant>& restrictions)
{
    if (!m_database) return notOpen();
    const auto& tables = m_database->catalog().tables();
    if (schema == adSchemaTables) {
        std::u16string name = restriction(restrictions, kTablesNameRestriction);
        std::u16string type = restriction(restrictions, kTablesTypeRestriction);
        std::vector<std::vector<Variant>> rows;
        if (passes(type, kTableType))
            for (const jet::CatalogEntry& e : tables)
                if (passes(name, e.name)) rows.push_back({Variant::text(e.name), Variant::text(std::u16string(kTableType))});
        std::vector<jet::FieldInfo> fields = {{u"TABLE_NAME", ColumnType::Text, kNameFieldSize},
                                              {u"TABLE_TYPE", ColumnType::Text, kNameFieldSize}};
        return std::unique_ptr<RecordSet>(std::make_unique<jet::ValueRecordSet>(fields, std::move(rows)));
    }
    if (schema == adSchemaColumns) {
        std::u16string tableName = restriction(restrictions, kColumnsTableRestriction);
        std::u16string columnName = restriction(restrictions, kColumnsColumnRestriction);
        std::vector<std::vector<Variant>> rows;
        for (const jet::CatalogEntry& e : tables) {
            if (!passes(tableName, e.name)) continue;
            VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Table> table, m_database->table(e.name));
            const jet::TableDef& def = table->def();
            int32_t ordinal = 0;
            for (int i : def.columnsByNumber()) {
                const jet::ColumnDef& c = def.columns()[size_t(i)];
                ++ordinal;
                if (!passes(columnName, c.name)) continue;
                rows.push_back({Variant::text(e.name), Variant::text(c.name), Variant::longValue(ordinal),
                                Variant::integer(oleDbType(c.type()))});
            }
        }
        std::vector<jet::FieldInfo> fields = {{u"TABLE_NAME", ColumnType::Text, kNameFieldSize},
                                              {u"COLUMN_NAME", ColumnType::Text, kNameFieldSize},
                                              {u"ORDINAL_POSITION", ColumnType::Long, 4},
                                              {u"DATA_TYPE", ColumnType::Integer, 2}};
        return std::unique_ptr<RecordSet>(std::make_unique<jet::ValueRecordSet>(fields, std::move(rows)));
    }
    return notSupported("schema rowset " + std::to_string(schema) + " is not supported");
}

Status Connection::Execute(std::u16string_view commandText, int)
{
    if (!m_database) return notOpen();
    // The connection reads until the first statement that changes the file;
    // it is then opened again for writing (and left as it was if that fails).
    if (!m_database->isWritable()) {
        std::string path = m_database->path();
        m_database.reset();
        auto writable = jet::Database::open(path, jet::OpenMode::ReadWrite);
        if (!writable.isOk()) {
            VK_ASSIGN_OR_RETURN(m_database, jet::Database::open(path, jet::OpenMode::ReadOnly));
            return writable.status();
        }
        m_database = *writable;
        VK_RETURN_IF_ERROR(m_database->checkWritable());
    }
    return jet::executeDdl(m_database, commandText, RegionalSettings::unitedStates());
}

Status Connection::Close()
{
    m_database.reset();
    return Status::ok();
}

}  // namespace varnika

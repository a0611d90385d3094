// schema: the statements that make a table's shape again, in the form
// "varnika-db exec" reads (one statement a line).

#include "db/jet/column_defaults.h"
#include "db/jet/database.h"
#include "db/sql/ddl_statement.h"
#include "db/text.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/options.h"

#include <algorithm>
#include <map>

namespace varnika::tool {

namespace {

std::string bracketed(std::u16string_view name) { return "[" + toUtf8(name) + "]"; }

std::string typeText(const jet::ColumnDef& c)
{
    if (c.isAutoLong()) return "COUNTER";
    switch (c.type()) {
    case ColumnType::Text: return "TEXT(" + std::to_string(c.displaySize()) + ")";
    case ColumnType::Binary:
    case ColumnType::Unknown0D: return "BINARY(" + std::to_string(c.displaySize()) + ")";
    case ColumnType::Numeric:
        return "DECIMAL(" + std::to_string(c.precision()) + ", " + std::to_string(c.scale()) + ")";
    default: return std::string(columnTypeName(c.type()));
    }
}

// Whether the DEFAULT clause of CREATE TABLE can carry the text: one
// literal ('text', "text", a number, #date#, a word such as Yes) or a
// function without arguments (Date(), GenGUID()).
bool isLiteralDefault(std::u16string_view text)
{
    auto r = jet::parseDdlStatement(u"CREATE TABLE T (C TEXT DEFAULT " + std::u16string(text) + u")");
    return r.isOk();
}

Status printTable(jet::Database& db, const jet::CatalogEntry& entry, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Table> table, db.table(entry.name));
    const jet::TableDef& def = table->def();
    VK_ASSIGN_OR_RETURN(jet::PropertyBlock properties, jet::readTableProperties(db, entry.name));
    const std::map<std::u16string, std::u16string> defaults = jet::defaultValueTexts(properties);
    auto columnName = [&](uint16_t number) -> std::u16string {
        const int c = def.findColumnByNumber(number);
        return c < 0 ? std::u16string() : def.columns()[size_t(c)].name;
    };
    auto keyList = [&](const jet::RealIndexDef& real) {
        std::string s = "(";
        for (size_t k = 0; k < real.columns.size(); ++k) {
            if (k > 0) s += ", ";
            s += bracketed(columnName(real.columns[k].columnNumber));
            if (!real.columns[k].ascending) s += " DESC";
        }
        return s + ")";
    };

    std::vector<uint16_t> keyColumns;
    for (const jet::LogicalIndexDef& ix : def.logicalIndexes())
        if (ix.isPrimaryKey() && ix.realIndex < def.realIndexes().size())
            for (const jet::RealIndexColumn& k : def.realIndexes()[ix.realIndex].columns) keyColumns.push_back(k.columnNumber);
    std::vector<std::string> notes;
    std::string create = "CREATE TABLE " + bracketed(entry.name) + " (";
    bool first = true;
    for (int i : def.columnsByNumber()) {
        const jet::ColumnDef& c = def.columns()[size_t(i)];
        if (!first) create += ", ";
        first = false;
        create += bracketed(c.name) + " " + typeText(c);
        // Required is Access's own word for NOT NULL; a primary key's fields
        // are required by the key (CREATE TABLE marks them so).
        const jet::PropertySet* props = properties.find(c.name);
        const jet::Property* required = props ? props->find(u"Required") : nullptr;
        const bool inKey = std::find(keyColumns.begin(), keyColumns.end(), c.number) != keyColumns.end();
        const bool notNull = (required && required->value.type() == VariantType::Boolean && required->value.asBoolean()) ||
                             (!(c.flags & jet::tdef::kColFlagNullable) && !inKey);
        if (notNull && !c.isAutoLong()) create += " NOT NULL";
        for (const auto& [name, text] : defaults) {
            if (!equalsIgnoreCase(name, c.name)) continue;
            // Access may keep an expression's "=" in front; the value is the same without it.
            std::u16string_view value = text;
            while (!value.empty() && (value.front() == u'=' || value.front() == u' ')) value.remove_prefix(1);
            if (isLiteralDefault(value)) create += " DEFAULT " + toUtf8(value);
            else notes.push_back("-- " + bracketed(entry.name) + "." + bracketed(c.name) + " has the default value " +
                                 toUtf8(text) + ", which CREATE TABLE does not take");
        }
    }
    std::vector<std::string> indexes;
    for (const jet::LogicalIndexDef& ix : def.logicalIndexes()) {
        // A relationship's index belongs to the relationship, which is not
        // written here.
        if (ix.isForeignKey() || ix.realIndex >= def.realIndexes().size()) continue;
        const jet::RealIndexDef& real = def.realIndexes()[ix.realIndex];
        if (real.columns.empty()) continue;
        if (ix.isPrimaryKey()) {
            create += ", CONSTRAINT " + bracketed(ix.name) + " PRIMARY KEY " + keyList(real);
            continue;
        }
        indexes.push_back(std::string("CREATE ") + (real.isUnique() ? "UNIQUE " : "") + "INDEX " + bracketed(ix.name) +
                          " ON " + bracketed(entry.name) + " " + keyList(real) + ";");
    }
    create += ");";
    for (const std::string& n : notes) std::fprintf(out, "%s\n", n.c_str());
    std::fprintf(out, "%s\n", create.c_str());
    for (const std::string& s : indexes) std::fprintf(out, "%s\n", s.c_str());
    return Status::ok();
}

}  // namespace

Outcome runSchema(const std::vector<std::string>& args, std::FILE* out)
{
    Result<ParsedArgs> a = parseArgs(args, {}, 1, 2, "FILE [TABLE]");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    VK_ASSIGN_OR_RETURN(auto db, jet::Database::open(a->positional[0], jet::OpenMode::ReadOnly));
    if (a->positional.size() == 2) {
        const std::u16string name = fromUtf8(a->positional[1]);
        const jet::CatalogEntry* entry = db->catalog().find(name);
        if (!entry) return notFound("there is no table \"" + a->positional[1] + "\"");
        return printTable(*db, *entry, out);
    }
    bool firstTable = true;
    for (const jet::CatalogEntry& e : db->catalog().tables()) {
        if (!firstTable) std::fputc('\n', out);
        firstTable = false;
        VK_RETURN_IF_ERROR(printTable(*db, e, out));
    }
    return Status::ok();
}

}  // namespace varnika::tool

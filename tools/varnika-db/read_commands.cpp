// tables, columns, export: reading a database from the command line.

#include "db/jet/database.h"
#include "db/text.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/value_text.h"

namespace varnika::tool {

namespace {

Result<std::shared_ptr<jet::Database>> openDatabase(const std::string& path)
{
    return jet::Database::open(path, jet::OpenMode::ReadOnly);
}

void writeLine(std::FILE* out, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
}

}  // namespace

Status runTables(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(auto db, openDatabase(args[0]));
    for (const jet::CatalogEntry& e : db->catalog().tables()) writeLine(out, toUtf8(e.name));
    return Status::ok();
}

Status runColumns(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(auto db, openDatabase(args[0]));
    VK_ASSIGN_OR_RETURN(auto table, db->table(fromUtf8(args[1])));
    const jet::TableDef& def = table->def();
    for (int i : def.columnsByNumber()) {
        const jet::ColumnDef& c = def.columns()[size_t(i)];
        writeLine(out, toUtf8(c.name) + "\t" + std::string(columnTypeName(c.type())) + "\t" +
                           std::to_string(c.displaySize()));
    }
    return Status::ok();
}

Status runExport(const std::vector<std::string>& args, std::FILE* out)
{
    VK_ASSIGN_OR_RETURN(auto db, openDatabase(args[0]));
    VK_ASSIGN_OR_RETURN(auto table, db->table(fromUtf8(args[1])));
    const jet::TableDef& def = table->def();
    std::string line;
    for (int i : def.columnsByNumber()) {
        if (!line.empty()) line += ',';
        line += csvField(toUtf8(def.columns()[size_t(i)].name));
    }
    writeLine(out, line);
    VK_ASSIGN_OR_RETURN(jet::Table::Scanner scanner, table->scan());
    while (true) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) break;
        VK_ASSIGN_OR_RETURN(std::vector<Variant> values, scanner.values());
        line.clear();
        bool first = true;
        for (int i : def.columnsByNumber()) {
            if (!first) line += ',';
            first = false;
            line += csvField(valueText(values[size_t(i)]));
        }
        writeLine(out, line);
    }
    return Status::ok();
}

}  // namespace varnika::tool

// tables, columns, export: reading a database from the command line.

#include "db/jet/database.h"
#include "db/text.h"
#include "tools/varnika-db/commands.h"
#include "tools/varnika-db/options.h"
#include "tools/varnika-db/value_text.h"

#include <cmath>
#include <numeric>

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

// How export writes a table.
struct ExportFormat {
    std::string delimiter = ",";
    bool header = true;
    bool quote = true;
    bool json = false;
    std::string dateFormat;  // empty: 2024-12-31 23:59:59
};

// The types mdb-export quotes: the ones whose text could be read as
// something else (a number, a second field).
bool isQuotedType(ColumnType t)
{
    switch (t) {
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::DateTime:
    case ColumnType::Binary:
    case ColumnType::OLE:
    case ColumnType::Unknown0D:
    case ColumnType::Guid: return true;
    default: return false;
    }
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string fieldText(const Variant& v, const ExportFormat& f)
{
    if (v.type() == VariantType::Date) return dateText(v.asDate().serial, f.dateFormat);
    return valueText(v);
}

// Adds a field's text to the line being written: text is turned into
// UTF-8 in place, the quotes doubled where it is quoted.
void appendCsvValue(std::string& line, const Variant& v, ColumnType type, const ExportFormat& f)
{
    if (v.isNull()) return;
    const bool quote = f.quote && isQuotedType(type);
    if (quote) line += '"';
    const size_t textStart = line.size();
    if (v.type() == VariantType::Text) {
        appendUtf8(line, v.asText());
    } else {
        line += fieldText(v, f);
    }
    if (!quote) return;
    for (size_t q = line.find('"', textStart); q != std::string::npos; q = line.find('"', q + 2)) line.insert(q, 1, '"');
    line += '"';
}

std::string jsonValue(const Variant& v, const ExportFormat& f)
{
    switch (v.type()) {
    case VariantType::Null: return "null";
    case VariantType::Boolean: return v.asBoolean() ? "true" : "false";
    case VariantType::Byte:
    case VariantType::Integer:
    case VariantType::Long:
    case VariantType::Currency:
    case VariantType::Decimal: return valueText(v);
    case VariantType::Single: return std::isfinite(v.asSingle()) ? valueText(v) : "null";
    case VariantType::Double: return std::isfinite(v.asDouble()) ? valueText(v) : "null";
    default: return jsonString(fieldText(v, f));
    }
}

// "\t", "\n", "\r" and "\\" in a delimiter stand for those characters, as
// mdb-export reads them.
std::string unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += s[i]; break;
        }
    }
    return out;
}

Result<ExportFormat> exportFormat(const ParsedArgs& a)
{
    ExportFormat f;
    f.json = a.has("json");
    if (f.json && (a.has("delimiter") || a.has("no-header") || a.has("no-quote")))
        return invalidArgument("--json cannot be combined with -d, -H or -Q");
    if (a.has("delimiter")) {
        f.delimiter = unescape(a.value("delimiter"));
        if (f.delimiter.empty()) return invalidArgument("the delimiter is empty");
    }
    f.header = !a.has("no-header");
    f.quote = !a.has("no-quote");
    if (a.has("date-format")) {
        f.dateFormat = a.value("date-format");
        if (f.dateFormat.empty()) return invalidArgument("the date format is empty");
    }
    return f;
}

}  // namespace

Outcome runTables(const std::vector<std::string>& args, std::FILE* out)
{
    Result<ParsedArgs> a = parseArgs(args, {}, 1, 1, "FILE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    VK_ASSIGN_OR_RETURN(auto db, openDatabase(a->positional[0]));
    for (const jet::CatalogEntry& e : db->catalog().tables()) writeLine(out, toUtf8(e.name));
    return Status::ok();
}

Outcome runColumns(const std::vector<std::string>& args, std::FILE* out)
{
    Result<ParsedArgs> a = parseArgs(args, {}, 2, 2, "FILE TABLE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    VK_ASSIGN_OR_RETURN(auto db, openDatabase(a->positional[0]));
    VK_ASSIGN_OR_RETURN(auto table, db->table(fromUtf8(a->positional[1])));
    const jet::TableDef& def = table->def();
    for (int i : def.columnsByNumber()) {
        const jet::ColumnDef& c = def.columns()[size_t(i)];
        writeLine(out, toUtf8(c.name) + "\t" + std::string(columnTypeName(c.type())) + "\t" +
                           std::to_string(c.displaySize()));
    }
    return Status::ok();
}

Outcome runExport(const std::vector<std::string>& args, std::FILE* out)
{
    static const std::vector<OptionSpec> kSpecs = {
        {"delimiter", 'd', true}, {"no-header", 'H', false}, {"no-quote", 'Q', false},
        {"date-format", 'D', true}, {"json", 0, false},
    };
    Result<ParsedArgs> a = parseArgs(args, kSpecs, 2, 2, "FILE TABLE");
    if (!a.isOk()) return Outcome::usage(a.status().message());
    Result<ExportFormat> format = exportFormat(*a);
    if (!format.isOk()) return Outcome::usage(format.status().message());
    const ExportFormat& f = *format;

    VK_ASSIGN_OR_RETURN(auto db, openDatabase(a->positional[0]));
    VK_ASSIGN_OR_RETURN(auto table, db->table(fromUtf8(a->positional[1])));
    const jet::TableDef& def = table->def();
    std::vector<std::string> names;
    for (int i : def.columnsByNumber()) names.push_back(toUtf8(def.columns()[size_t(i)].name));

    std::string line;
    if (f.header && !f.json) {
        for (size_t k = 0; k < names.size(); ++k) {
            if (k > 0) line += f.delimiter;
            // A name is printed as it is, as mdb-export does, unless it could
            // be taken for two fields.
            const bool ambiguous = names[k].find(f.delimiter) != std::string::npos ||
                                   names[k].find_first_of("\"\r\n") != std::string::npos;
            line += f.quote && ambiguous ? quoted(names[k]) : names[k];
        }
        writeLine(out, line);
    }
    VK_ASSIGN_OR_RETURN(jet::Table::Scanner scanner, table->scan());
    // One value list for every record, keeping its texts' storage.
    std::vector<int> every(def.columns().size());
    std::iota(every.begin(), every.end(), 0);
    std::vector<Variant> values;
    while (true) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) break;
        VK_RETURN_IF_ERROR(scanner.valuesInto(every, values));
        line.clear();
        size_t k = 0;
        for (int i : def.columnsByNumber()) {
            const Variant& v = values[size_t(i)];
            if (f.json) {
                line += k == 0 ? "{" : ",";
                line += jsonString(names[k]) + ":" + jsonValue(v, f);
            } else {
                if (k > 0) line += f.delimiter;
                appendCsvValue(line, v, def.columns()[size_t(i)].type(), f);
            }
            ++k;
        }
        if (f.json) line += k == 0 ? "{}" : "}";
        writeLine(out, line);
    }
    return Status::ok();
}

}  // namespace varnika::tool

#include "db/jet/column_defaults.h"

#include "db/convert.h"
#include "db/jet/database.h"
#include "db/jet/new_database.h"
#include "db/jet/system_tables.h"
#include "db/jet/table/table_builder.h"
#include "db/jet/table/table.h"
#include "db/text.h"

#include <charconv>
#include <cmath>
#include <random>

namespace varnika::jet {

namespace {

constexpr uint32_t kCatalogPage = 2;

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view trimmed(std::u16string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A number written the way Jet SQL writes it: sign, digits, one point,
// exponent; nothing for anything else.
std::optional<Variant> numberLiteral(std::u16string_view text)
{
    std::string s;
    for (char16_t c : text) {
        if (c > 0x7F) return std::nullopt;
        s.push_back(char(c));
    }
    if (s.empty() || s.find_first_not_of("+-0123456789.eE") != std::string::npos) return std::nullopt;
    const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
    const char* end = s.data() + s.size();
    int32_t whole = 0;
    auto r = std::from_chars(begin, end, whole);
    if (r.ec == std::errc() && r.ptr == end) return Variant::longValue(whole);
    double d = 0;
    auto rd = std::from_chars(begin, end, d);
    if (rd.ec == std::errc() && rd.ptr == end && std::isfinite(d)) return Variant::doubleValue(d);
    return std::nullopt;
}

// The text between matching quotes, doubled quotes undone.
std::optional<std::u16string> quotedText(std::u16string_view text)
{
    if (text.size() < 2) return std::nullopt;
    const char16_t q = text.front();
    if ((q != u'"' && q != u'\'') || text.back() != q) return std::nullopt;
    std::u16string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == q) {
            if (i + 2 < text.size() && text[i + 1] == q) ++i;
            else return std::nullopt;  // a lone quote inside: an expression, not one text
        }
        out.push_back(text[i]);
    }
    return out;
}

// A random (version 4) GUID in stored byte order, as GenGUID() makes one.
Guid randomGuid()
{
    std::random_device source;
    Guid g{};
    for (size_t i = 0; i < g.size(); i += 4) {
        const uint32_t r = source();
        for (size_t k = 0; k < 4; ++k) g[i + k] = uint8_t(r >> (8 * k));
    }
    constexpr size_t kVersionByte = 7;  // high byte of the third group, stored little-endian
    constexpr size_t kVariantByte = 8;
    g[kVersionByte] = uint8_t((g[kVersionByte] & 0x0F) | 0x40);
    g[kVariantByte] = uint8_t((g[kVariantByte] & 0x3F) | 0x80);
    return g;
}

// "Date ( )" -> "date()"
std::u16string callName(std::u16string_view text)
{
    std::u16string out;
    for (char16_t c : text)
        if (!isBlank(c)) out.push_back(c);
    return out;
}

}  // namespace

Result<PropertyBlock> readTableProperties(Database& db, std::u16string_view tableName)
{
    const CatalogEntry* entry = db.catalog().find(tableName);
    if (!entry) return notFound("there is no table \"" + toUtf8(tableName) + "\"");
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> objects, Table::open(db.pager(), kCatalogPage, u"MSysObjects"));
    const TableDef& def = objects->def();
    const int idCol = def.findColumn(u"Id");
    const int propCol = def.findColumn(u"LvProp");
    if (idCol < 0) return corruption("the table list (MSysObjects) lacks its column Id");
    if (propCol < 0) return PropertyBlock{};
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, objects->scan());
    while (true) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) return PropertyBlock{};
        VK_ASSIGN_OR_RETURN(std::vector<Variant> id, scanner.values({idCol}));
        const Variant& v = id[size_t(idCol)];
        if (v.type() != VariantType::Long || v.asLong() != entry->id) continue;
        VK_ASSIGN_OR_RETURN(std::vector<Variant> row, scanner.values({propCol}));
        const Variant& blob = row[size_t(propCol)];
        if (blob.type() != VariantType::Binary) return PropertyBlock{};
        Result<PropertyBlock> block = parsePropertyBlock(blob.asBinary(), objects->def().format().codePage);
        if (!block.isOk())
            return Status(block.status().code(), "the properties of the table \"" + toUtf8(tableName) +
                                                     "\": " + block.status().message());
        return block;
    }
}

std::map<std::u16string, std::u16string> defaultValueTexts(const PropertyBlock& block)
{
    std::map<std::u16string, std::u16string> out;
    for (const PropertySet& set : block.sets) {
        if (set.objectName.empty()) continue;
        const Property* p = set.find(u"DefaultValue");
        if (p && p->value.type() == VariantType::Text && !trimmed(p->value.asText()).empty())
            out[set.objectName] = p->value.asText();
    }
    return out;
}

Result<std::optional<Variant>> evaluateDefaultValue(std::u16string_view text, const ColumnDef& column, double now,
                                                    const RegionalSettings& settings)
{
    std::u16string_view t = trimmed(text);
    if (!t.empty() && t.front() == u'=') t = trimmed(t.substr(1));
    if (t.empty()) return std::optional<Variant>();
    const std::string where = "the default value " + toUtf8(text) + " of the field \"" + toUtf8(column.name) + "\"";

    Variant value;
    const std::u16string call = callName(t);
    if (auto q = quotedText(t)) {
        value = Variant::text(*q);
    } else if (t.size() >= 2 && t.front() == u'#' && t.back() == u'#') {
        Result<double> date = parseDateLiteral(t.substr(1, t.size() - 2));
        if (!date.isOk()) return Status(date.status().code(), where + ": " + date.status().message());
        value = Variant::date(*date);
    } else if (auto n = numberLiteral(t)) {
        value = *n;
    } else if (equalsIgnoreCase(t, u"Null")) {
        return std::optional<Variant>(Variant());
    } else if (equalsIgnoreCase(t, u"True") || equalsIgnoreCase(t, u"Yes") || equalsIgnoreCase(t, u"On")) {
        value = Variant::boolean(true);
    } else if (equalsIgnoreCase(t, u"False") || equalsIgnoreCase(t, u"No") || equalsIgnoreCase(t, u"Off")) {
        value = Variant::boolean(false);
    } else if (equalsIgnoreCase(call, u"Now()")) {
        value = Variant::date(now);
    } else if (equalsIgnoreCase(call, u"Date()")) {
        value = Variant::date(std::floor(now));
    } else if (equalsIgnoreCase(call, u"Time()")) {
        value = Variant::date(now - std::floor(now));
    } else if (equalsIgnoreCase(call, u"GenGUID()")) {
        if (column.isAutoGuid()) return std::optional<Variant>();  // the table writer numbers it
        value = Variant::guid(randomGuid());
    } else {
        return notSupported(where + " is an expression this engine does not evaluate; give the field a value");
    }
    Result<Variant> converted = convertForColumn(value, column.type(), column.displaySize(), settings);
    if (!converted.isOk()) return Status(converted.status().code(), where + ": " + converted.status().message());
    return std::optional<Variant>(std::move(*converted));
}

Result<std::map<std::u16string, std::u16string>> tableDefaultTexts(Database& db, const Table& table)
{
    VK_ASSIGN_OR_RETURN(PropertyBlock block, readTableProperties(db, table.name()));
    return defaultValueTexts(block);
}

Result<std::map<int, Variant>> columnDefaultsFrom(const std::map<std::u16string, std::u16string>& texts,
                                                  const Table& table, const std::vector<int>& columns,
                                                  const RegionalSettings& settings)
{
    std::map<int, Variant> out;
    if (texts.empty()) return out;
    const double now = oleDateNow();
    const TableDef& def = table.def();
    for (int c : columns) {
        auto it = texts.end();
        for (auto i = texts.begin(); i != texts.end(); ++i)
            if (equalsIgnoreCase(i->first, def.columns()[size_t(c)].name)) it = i;
        if (it == texts.end()) continue;
        const std::u16string& text = it->second;
        VK_ASSIGN_OR_RETURN(std::optional<Variant> v, evaluateDefaultValue(text, def.columns()[size_t(c)], now, settings));
        if (v) out[c] = std::move(*v);
    }
    return out;
}

Result<std::map<int, Variant>> columnDefaults(Database& db, const Table& table, const std::vector<int>& columns,
                                              const RegionalSettings& settings)
{
    VK_ASSIGN_OR_RETURN(auto texts, tableDefaultTexts(db, table));
    return columnDefaultsFrom(texts, table, columns, settings);
}

Status checkDefaultValue(std::u16string_view text, const NewColumn& column, const RegionalSettings& settings)
{
    ColumnDef c;
    c.name = column.name;
    c.typeCode = uint8_t(column.type);
    c.flags = column.flags;
    c.length = column.length;
    return evaluateDefaultValue(text, c, oleDateNow(), settings).status();
}

Result<std::vector<uint8_t>> newTableProperties(const std::vector<NewColumnProperties>& columns, const JetFormat& format)
{
    PropertyBlock block;
    block.sets.push_back({});  // the table's own set, empty
    for (const NewColumnProperties& c : columns) {
        PropertySet set{c.column, {}};
        if (c.defaultValue) {
            Property p;
            p.name = u"DefaultValue";
            p.typeCode = uint8_t(ColumnType::Memo);
            p.value = Variant::text(*c.defaultValue);
            set.properties.push_back(std::move(p));
        }
        if (c.required) {
            Property p;
            p.name = u"Required";
            p.typeCode = uint8_t(ColumnType::Boolean);
            p.value = Variant::boolean(true);
            set.properties.push_back(std::move(p));
        }
        if (!set.properties.empty()) block.sets.push_back(std::move(set));
    }
    if (block.sets.size() == 1) return std::vector<uint8_t>();
    return buildPropertyBlock(block, format);
}

}  // namespace varnika::jet

#include "db/jet/system_tables.h"

namespace varnika::jet {
namespace {

constexpr uint8_t kSystemColumn = 0x10;       // set on the columns of system tables
constexpr uint8_t kOwnerColumnFlag = 0x20;    // MSysObjects.Owner and MSysACEs.SID

NewColumn col(const char16_t* name, ColumnType type, uint16_t length, uint8_t extra, uint16_t lcid, uint8_t version)
{
    NewColumn c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.flags = tdef::kColFlagNullable | kSystemColumn | extra;
    c.sortLcid = lcid;
    c.sortVersion = version;
    return c;
}

}  // namespace

std::vector<SystemTable> systemTables(uint16_t lcid, uint8_t ver, JetVersion version)
{
    auto c = [&](const char16_t* n, ColumnType t, uint16_t len = 0, uint8_t extra = 0) {
        return col(n, t, len, extra, lcid, ver);
    };
    // Access 97 gives its binary system columns 255 bytes.
    const uint16_t binary = version == JetVersion::Jet3 ? 255 : 510;
    const uint8_t unique = tdef::kIndexFlagUnique;
    const uint8_t ignoreNulls = tdef::kIndexFlagIgnoreNulls;
    std::vector<SystemTable> out;

    NewTable objects;
    objects.systemTable = true;
    objects.columns = {
        c(u"Id", ColumnType::Long),           c(u"ParentId", ColumnType::Long),
        c(u"Name", ColumnType::Text, 510),    c(u"Type", ColumnType::Integer),
        c(u"DateCreate", ColumnType::DateTime), c(u"DateUpdate", ColumnType::DateTime),
        c(u"Owner", ColumnType::Binary, binary, kOwnerColumnFlag), c(u"Flags", ColumnType::Long),
        c(u"Database", ColumnType::Memo),     c(u"Connect", ColumnType::Memo),
        c(u"ForeignName", ColumnType::Text, 510), c(u"RmtInfoShort", ColumnType::Binary, binary),
        c(u"RmtInfoLong", ColumnType::OLE),   c(u"Lv", ColumnType::OLE),
        c(u"LvProp", ColumnType::OLE),        c(u"LvModule", ColumnType::OLE),
        c(u"LvExtra", ColumnType::OLE),
    };
    objects.indexes = {{u"ParentIdName", {{1, true}, {2, true}}, unique, false},
                       {u"Id", {{0, true}}, unique, true}};
    out.push_back({u"MSysObjects", objects});

    NewTable aces;
    aces.systemTable = true;
    aces.columns = {c(u"ObjectId", ColumnType::Long), c(u"SID", ColumnType::Binary, binary, kOwnerColumnFlag),
                    c(u"ACM", ColumnType::Long), c(u"FInheritable", ColumnType::Boolean)};
    // Access 97 leaves FInheritable nullable.
    if (version != JetVersion::Jet3) aces.columns[3].flags &= uint8_t(~tdef::kColFlagNullable);
    aces.indexes = {{u"ObjectId", {{0, true}}, uint8_t(tdef::kIndexFlagRequired), false}};
    out.push_back({u"MSysACEs", aces});

    NewTable queries;
    queries.systemTable = true;
    queries.columns = {c(u"ObjectId", ColumnType::Long),   c(u"Attribute", ColumnType::Byte),
                       c(u"Order", ColumnType::Binary, binary), c(u"Name1", ColumnType::Text, 510),
                       c(u"Name2", ColumnType::Text, 510), c(u"Expression", ColumnType::Memo),
                       c(u"Flag", ColumnType::Integer),    c(u"LvExtra", ColumnType::Long)};
    if (version == JetVersion::Jet3) queries.columns.pop_back();
    queries.indexes = {{u"ObjectIdAttribute", {{0, true}, {1, true}, {2, true}}, unique, true}};
    out.push_back({u"MSysQueries", queries});

    NewTable rel;
    rel.systemTable = true;
    rel.columns = {c(u"szRelationship", ColumnType::Text, 510), c(u"grbit", ColumnType::Long),
                   c(u"ccolumn", ColumnType::Long),             c(u"icolumn", ColumnType::Long),
                   c(u"szObject", ColumnType::Text, 510),       c(u"szColumn", ColumnType::Text, 510),
                   c(u"szReferencedObject", ColumnType::Text, 510), c(u"szReferencedColumn", ColumnType::Text, 510)};
    rel.indexes = {{u"szRelationship", {{0, true}}, ignoreNulls, false},
                   {u"szObject", {{4, true}}, ignoreNulls, false},
                   {u"szReferencedObject", {{6, true}}, ignoreNulls, false}};
    out.push_back({u"MSysRelationships", rel});
    return out;
}

std::vector<uint8_t> engineOwnerSid() { return {0xA7, 0x31}; }
std::vector<uint8_t> adminOwnerSid() { return {0xA6, 0x33}; }

}  // namespace varnika::jet

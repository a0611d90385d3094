#include "db/jet/table/table_builder.h"

#include "db/object_name.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/text_codec.h"
#include "db/jet/table/table_def.h"
#include "db/text.h"

#include <algorithm>
#include <cstring>

namespace varnika::jet {
namespace {

constexpr uint8_t kNonForeignKeyCascade = 0x04;  // what Access writes where no relationship applies
// Access 97 writes 1 in the two bytes after a column's ordinal.
constexpr uint16_t kJet3ColumnConstant = 1;

void appendName(std::vector<uint8_t>& out, const std::u16string& name, const JetFormat& f)
{
    size_t at = out.size();
    if (f.unicodeText()) {
        out.resize(at + 2 + name.size() * 2);
        putU16(out.data(), at, uint16_t(name.size() * 2));
        for (size_t i = 0; i < name.size(); ++i) putU16(out.data(), at + 2 + 2 * i, name[i]);
        return;
    }
    std::vector<uint8_t> bytes = encodeName(name, f);
    out.push_back(uint8_t(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

uint16_t storedLength(const NewColumn& c)
{
    if (c.type == ColumnType::Boolean) return 1;
    if (isLongValueType(c.type)) return 0;
    int fixed = fixedSize(c.type);
    return fixed ? uint16_t(fixed) : c.length;
}

}  // namespace

Status validateNewTable(const NewTable& t, const JetFormat& format)
{
    if (t.columns.empty()) return invalidArgument("a table needs at least one column");
    if (t.columns.size() > 255) return invalidArgument("a table can have at most 255 columns");
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const NewColumn& c = t.columns[i];
        if (!isValidObjectName(c.name)) return invalidArgument("\"" + toUtf8(c.name) + "\" is not a valid column name");
        if (!canStoreName(c.name, format))
            return invalidArgument("the column name \"" + toUtf8(c.name) + "\" has a character this Access 97 database's code page " +
                                   std::to_string(format.codePage) + " cannot hold");
        for (size_t k = 0; k < i; ++k)
            if (equalsIgnoreCase(t.columns[k].name, c.name))
                return invalidArgument("the column name \"" + toUtf8(c.name) + "\" is used twice");
        if (c.type == ColumnType::Text && (c.length < 2 || c.length > 510 || c.length % 2))
            return invalidArgument("the Text column \"" + toUtf8(c.name) + "\" must hold 1 to 255 characters");
        if (c.type == ColumnType::Binary && (c.length < 1 || c.length > 510))
            return invalidArgument("the Binary column \"" + toUtf8(c.name) + "\" must hold 1 to 510 bytes");
    }
    for (const NewIndex& ix : t.indexes) {
        if (ix.columns.empty() || ix.columns.size() > tdef::kRealIdxColumnSlots)
            return invalidArgument("an index has 1 to 10 columns");
        if (!canStoreName(ix.name, format))
            return invalidArgument("the index name \"" + toUtf8(ix.name) + "\" has a character this Access 97 database's code page " +
                                   std::to_string(format.codePage) + " cannot hold");
        for (const NewIndexColumn& ic : ix.columns)
            if (ic.column < 0 || size_t(ic.column) >= t.columns.size()) return invalidArgument("an index names a missing column");
    }
    return Status::ok();
}

Result<std::vector<uint8_t>> buildTableDefinition(const NewTable& t, const NewTableStorage& s, const JetFormat& f)
{
    VK_RETURN_IF_ERROR(validateNewTable(t, f));
    const auto& td = f.tdef;
    if (s.indexMaps.size() != t.indexes.size() || s.indexRoots.size() != t.indexes.size())
        return invalidArgument("every index needs its usage map and root page");
    size_t lvColumns = size_t(std::count_if(t.columns.begin(), t.columns.end(),
                                            [](const NewColumn& c) { return isLongValueType(c.type); }));
    if (s.longValueMaps.size() != lvColumns) return invalidArgument("every Memo/OLE column needs its usage maps");

    const size_t n = t.columns.size();
    const size_t ni = t.indexes.size();
    std::vector<uint8_t> b(td.variablePart, 0);
    b[page::kType] = uint8_t(PageType::TableDefinition);
    b[page::kMarker] = page::kMarkerValue;
    if (td.constant != kAbsent) putU32(b.data(), td.constant, tdef::kConstantValue);
    if (td.autoNumberFlag != kAbsent) b[td.autoNumberFlag] = 1;
    b[td.tableType] = t.systemTable ? tdef::kTableTypeSystem : tdef::kTableTypeUser;
    uint16_t varCount = 0;
    for (const NewColumn& c : t.columns)
        if (isVariableType(c.type)) ++varCount;
    putU16(b.data(), td.maxColumns, uint16_t(n));
    putU16(b.data(), td.varColumnCount, varCount);
    putU16(b.data(), td.columnCount, uint16_t(n));
    putU32(b.data(), td.indexCount, uint32_t(ni));
    putU32(b.data(), td.realIndexCount, uint32_t(ni));
    putU32(b.data(), td.ownedPagesMap, s.ownedPagesMap.toWord());
    putU32(b.data(), td.freePagesMap, s.freePagesMap.toWord());

    b.resize(b.size() + ni * td.realIndexCounterSize, 0);

    uint16_t varIndex = 0;
    uint16_t fixedOffset = 0;
    for (size_t i = 0; i < n; ++i) {
        const NewColumn& c = t.columns[i];
        size_t at = b.size();
        b.resize(at + td.columnSize, 0);
        uint8_t* d = b.data() + at;
        d[tdef::kColType] = uint8_t(c.type);
        if (f.isJet3()) putU16(d, td.colConstant, kJet3ColumnConstant);
        else putU32(d, td.colConstant, tdef::kConstantValue);
        putU16(d, td.colNumber, uint16_t(i));
        putU16(d, td.colOrdinal, uint16_t(i));
        if (c.type == ColumnType::Numeric && !f.isJet3()) {
            d[td.colPrecision] = c.precision;
            d[td.colPrecision + 1] = c.scale;
        } else {
            putU16(d, td.colSortOrder, c.sortLcid);
            if (td.colSortVersion != kAbsent) d[td.colSortVersion] = c.sortVersion;
            if (td.colCodePage != kAbsent) putU16(d, td.colCodePage, f.codePage);
        }
        uint8_t flags = c.flags;
        bool variable = isVariableType(c.type);
        if (!variable) flags |= tdef::kColFlagFixed;
        d[td.colFlags] = flags;
        if (td.colExtraFlags != kAbsent) d[td.colExtraFlags] = c.extraFlags;
        uint16_t len = storedLength(c);
        // Jet 3 keeps a Text column's length in characters, one byte each.
        if (c.type == ColumnType::Text && !f.unicodeText()) len = uint16_t(len / 2);
        if (variable) {
            putU16(d, td.colVarIndex, varIndex++);
        } else if (c.type != ColumnType::Boolean) {
            putU16(d, td.colFixedOffset, fixedOffset);
            fixedOffset = uint16_t(fixedOffset + len);
        }
        putU16(d, td.colLength, len);
    }
    for (const NewColumn& c : t.columns) appendName(b, c.name, f);

    for (size_t k = 0; k < ni; ++k) {
        const NewIndex& ix = t.indexes[k];
        size_t at = b.size();
        b.resize(at + td.realIndexSize, 0);
        uint8_t* d = b.data() + at;
        if (td.realIdxConstant != kAbsent) putU32(d, td.realIdxConstant, tdef::kRealIdxConstantValue);
        for (size_t slot = 0; slot < tdef::kRealIdxColumnSlots; ++slot) {
            size_t o = td.realIdxColumns + slot * tdef::kRealIdxColumnSlotSize;
            if (slot < ix.columns.size()) {
                putU16(d, o, uint16_t(ix.columns[slot].column));
                d[o + 2] = ix.columns[slot].ascending ? tdef::kRealIdxAscending : 0;
            } else {
                putU16(d, o, tdef::kRealIdxUnusedColumn);
            }
        }
        putU32(d, td.realIdxUsageMap, s.indexMaps[k].toWord());
        putU32(d, td.realIdxRootPage, s.indexRoots[k]);
        d[td.realIdxFlags] = ix.flags | f.index.flagsAlwaysSet;
    }
    for (size_t k = 0; k < ni; ++k) {
        size_t at = b.size();
        b.resize(at + td.logicalIndexSize, 0);
        uint8_t* d = b.data() + at;
        if (td.logIdxConstant != kAbsent) putU32(d, td.logIdxConstant, tdef::kConstantValue);
        putU32(d, td.logIdxNumber, uint32_t(k));
        putU32(d, td.logIdxRealIndex, uint32_t(k));
        putU32(d, td.logIdxRelatedIndex, 0xFFFFFFFF);
        d[td.logIdxCascadeUpdates] = kNonForeignKeyCascade;
        d[td.logIdxCascadeDeletes] = kNonForeignKeyCascade;
        d[td.logIdxType] = t.indexes[k].primaryKey ? tdef::kLogIdxTypePrimaryKey : 0;
    }
    for (const NewIndex& ix : t.indexes) appendName(b, ix.name, f);

    size_t lv = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!isLongValueType(t.columns[i].type)) continue;
        size_t at = b.size();
        b.resize(at + tdef::kLongValueMapRecordSize, 0);
        putU16(b.data(), at + tdef::kLvMapColumn, uint16_t(i));
        putU32(b.data(), at + tdef::kLvMapOwned, s.longValueMaps[lv].first.toWord());
        putU32(b.data(), at + tdef::kLvMapFree, s.longValueMaps[lv].second.toWord());
        ++lv;
    }
    b.push_back(0xFF);
    b.push_back(0xFF);
    putU32(b.data(), tdef::kLength, uint32_t(b.size()));
    return b;
}

}  // namespace varnika::jet

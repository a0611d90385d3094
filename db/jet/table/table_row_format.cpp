#include "db/jet/table/table_row_format.h"

#include "db/jet/page/text_codec.h"

#include <algorithm>

namespace varnika::jet {

TableLayout tableLayoutFor(const TableDef& def)
{
    TableLayout layout;
    layout.pages = {def.firstPage(), def.ownedPagesMap(), def.freePagesMap()};
    const auto& columns = def.columns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const ColumnDef& c = columns[i];
        if (isLongValueType(c.type())) {
            LongValueColumn lv;
            lv.column = int(i);
            lv.isMemo = c.type() == ColumnType::Memo;
            lv.compressible = c.allowsCompression();
            lv.codePage = c.codePage;
            if (const LongValueMapDef* maps = def.longValueMapFor(c.number)) lv.maps = {maps->ownedPages, maps->freePages};
            lv.indexed = std::any_of(def.realIndexes().begin(), def.realIndexes().end(), [&](const RealIndexDef& index) {
                return std::any_of(index.columns.begin(), index.columns.end(),
                                   [&](const RealIndexColumn& k) { return k.columnNumber == c.number; });
            });
            layout.longValueColumns.push_back(lv);
        }
        if (c.isAutoLong() && c.type() == ColumnType::Long) layout.autoNumberColumn = int(i);
        if (c.isAutoGuid() && c.type() == ColumnType::Guid) layout.guidAutoColumns.push_back(int(i));
    }
    layout.hasIndexes = !def.realIndexes().empty();
    // An index naming a column the table lacks leaves the key columns
    // unknown: every update then reads the record whole, and the index
    // refuses it.
    for (const RealIndexDef& index : def.realIndexes()) {
        std::vector<int> keyColumns;
        for (const RealIndexColumn& k : index.columns)
            if (int col = def.findColumnByNumber(k.columnNumber); col >= 0) keyColumns.push_back(col);
        if (keyColumns.size() != index.columns.size()) {
            layout.indexColumns.clear();
            break;
        }
        layout.indexColumns.push_back(std::move(keyColumns));
    }
    layout.maxRowSize = def.format().row.maxSize;
    return layout;
}

Status JetRowFormat::decode(std::span<const uint8_t> row, std::vector<Variant>& values,
                            std::map<int, std::vector<uint8_t>>& longValueBytes)
{
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(m_def, row));
    const auto& columns = m_def.columns();
    values.assign(columns.size(), Variant());
    longValueBytes.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (isLongValueType(columns[i].type())) {
            VK_ASSIGN_OR_RETURN(FieldBytes field, fieldBytes(m_def, layout, row, int(i)));
            if (field.present) longValueBytes[int(i)] = {field.bytes.begin(), field.bytes.end()};
            continue;
        }
        VK_ASSIGN_OR_RETURN(values[i], decodeColumn(m_def, layout, row, int(i), nullptr));
    }
    return Status::ok();
}

Status JetRowFormat::longValueFields(std::span<const uint8_t> row, std::map<int, std::vector<uint8_t>>& longValueBytes)
{
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(m_def, row));
    const auto& columns = m_def.columns();
    longValueBytes.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (!isLongValueType(columns[i].type())) continue;
        VK_ASSIGN_OR_RETURN(FieldBytes field, fieldBytes(m_def, layout, row, int(i)));
        if (field.present) longValueBytes[int(i)] = {field.bytes.begin(), field.bytes.end()};
    }
    return Status::ok();
}

Result<EncodedRow> JetRowFormat::encode(const std::vector<Variant>& values,
                                        const std::map<int, std::vector<uint8_t>>& longValueBytes)
{
    EncodedRow out;
    VK_ASSIGN_OR_RETURN(out.bytes, encodeRow(m_def, values, longValueBytes));
    // Filler goes after the variable data (before eod and the offsets), or
    // before the null mask when the row has no variable part. A Jet 3 row
    // is not padded: its one-byte offsets and jump table depend on the
    // row's length, so a shorter row is written as it is.
    if (m_def.format().row.offsetSize == 1) return out;
    out.padAt = encodedVarDataEnd(m_def, out.bytes.size());
    return out;
}

Result<EncodedRow> JetRowFormat::encodeChanged(std::span<const uint8_t> row,
                                               std::span<const std::pair<int, Variant>> changes)
{
    EncodedRow out;
    VK_ASSIGN_OR_RETURN(out.bytes, encodeRowChanged(m_def, row, changes));
    if (m_def.format().row.offsetSize == 1) return out;  // not padded, as encode()
    out.padAt = encodedVarDataEnd(m_def, out.bytes.size());
    return out;
}

Status JetRowFormat::decodeColumns(std::span<const uint8_t> row, const std::vector<int>& columns,
                                   std::vector<Variant>& values)
{
    VK_ASSIGN_OR_RETURN(RowLayout layout, parseRowLayout(m_def, row));
    values.assign(m_def.columns().size(), Variant());
    for (int c : columns) {
        if (c < 0 || size_t(c) >= values.size()) return invalidArgument("no column " + std::to_string(c) + " to decode");
        VK_ASSIGN_OR_RETURN(values[size_t(c)], decodeColumn(m_def, layout, row, c, &m_longValues));
    }
    return Status::ok();
}

Result<Variant> JetRowFormat::readLongValue(int column, std::span<const uint8_t> stored)
{
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> data, m_longValues.readLongValue(stored));
    const ColumnDef& c = m_def.columns()[size_t(column)];
    if (c.type() == ColumnType::Memo)
        return Variant::text(c.singleByteText() ? decodeCodePageText(data, c.codePage) : decodeJetText(data));
    return Variant::binary(std::move(data));
}

}  // namespace varnika::jet

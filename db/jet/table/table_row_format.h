#pragma once
// The table writer's view of a table's rows, backed by the table definition
// and the row codec: which columns hold long values, and how values become
// row bytes and back.

#include "db/jet/table/row_codec.h"
#include "db/jet/table/table_def.h"
#include "db/jet/table/table_writer.h"

namespace varnika::jet {

// The pages, long-value columns (with their maps), AutoNumber column and
// index presence of the table `def` describes.
TableLayout tableLayoutFor(const TableDef& def);

class JetRowFormat final : public TableRowFormat {
public:
    // `longValues` reads stored Memo/OLE values; both must outlive the format.
    JetRowFormat(const TableDef& def, LongValueSource& longValues) : m_def(def), m_longValues(longValues) {}

    Status decode(std::span<const uint8_t> row, std::vector<Variant>& values,
                  std::map<int, std::vector<uint8_t>>& longValueBytes) override;
    Result<EncodedRow> encode(const std::vector<Variant>& values,
                              const std::map<int, std::vector<uint8_t>>& longValueBytes) override;
    Result<Variant> readLongValue(int column, std::span<const uint8_t> stored) override;
    Status longValueFields(std::span<const uint8_t> row, std::map<int, std::vector<uint8_t>>& longValueBytes) override;
    bool encodesChangedColumns() const override { return true; }
    Result<EncodedRow> encodeChanged(std::span<const uint8_t> row,
                                     std::span<const std::pair<int, Variant>> changes) override;
    Status decodeColumns(std::span<const uint8_t> row, const std::vector<int>& columns,
                         std::vector<Variant>& values) override;

private:
    const TableDef& m_def;
    LongValueSource& m_longValues;
};

}  // namespace varnika::jet

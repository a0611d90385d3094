#pragma once
// Rows on data pages: decoding the stored bytes of one row into values and
// encoding values into the canonical full layout of the table.
//
// Values are parallel to TableDef::columns() (stored descriptor order).
// A number, date or GUID column whose descriptor says variable-length keeps
// its value in the variable part, in the bytes of its fixed form.
// Memo and OLE columns are resolved through a LongValueSource when decoding;
// when encoding, their value must already be the bytes of the row's field (a
// 12-byte long-value header, plus inline data for inline values) given as a
// Binary variant, or Null. The writer produces those bytes with its own
// long-value code; encodeInlineLongValue() covers small values.

#include "db/jet/table/table_def.h"
#include "db/status.h"
#include "db/variant.h"

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace varnika::jet {

// Turns the field bytes of a Memo/OLE column (the 12-byte header and any
// inline data) into the stored value bytes.
class LongValueSource {
public:
    virtual ~LongValueSource() = default;
    virtual Result<std::vector<uint8_t>> readLongValue(std::span<const uint8_t> field) = 0;
};

// `size()` elements held in place when there are at most N, on the heap
// otherwise: the buffers a row needs each time it is read or written
// (variable-column offsets, a null mask) without an allocation for most
// tables. Elements are value-initialized when made, and when resize()
// takes them to the heap.
template <class T, size_t N>
class InPlaceOrHeap {
public:
    InPlaceOrHeap() = default;
    explicit InPlaceOrHeap(size_t n) { resize(n); }

    void resize(size_t n)
    {
        if (n > N) m_heap.assign(n, T{});
        else m_heap.clear();
        m_size = n;
    }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T* begin() { return m_size > N ? m_heap.data() : m_inline.data(); }
    T* end() { return begin() + m_size; }
    const T* begin() const { return m_size > N ? m_heap.data() : m_inline.data(); }
    const T* end() const { return begin() + m_size; }
    T& operator[](size_t i) { return begin()[i]; }
    const T& operator[](size_t i) const { return begin()[i]; }
    const T& back() const { return begin()[m_size - 1]; }

private:
    size_t m_size = 0;
    std::array<T, N> m_inline{};
    std::vector<T> m_heap;
};

// The variable-column offsets of a row. A row is parsed for every record a
// run reads, and most tables have few variable columns.
using VarOffsets = InPlaceOrHeap<uint16_t, 32>;

// Where the parts of a stored row are; computed once per row.
struct RowLayout {
    uint16_t columnCount = 0;  // ncols the row was written with
    uint16_t varCount = 0;     // nvar of the row (0 when the table had no variable columns)
    size_t maskOffset = 0;
    size_t varTableStart = 0;  // first byte of eod/var offsets; end of the var data
    size_t fixedEnd = 0;       // where the fixed area ends: the first live variable column's data
    VarOffsets varOffsets;     // varCount + 1 entries, the last is eod
};

// Checks the framing of a row (count, mask, variable-offset table).
Result<RowLayout> parseRowLayout(const TableDef& def, std::span<const uint8_t> row);

// Decodes every live column. `longValues` may be null: Memo/OLE columns with
// non-inline data then fail with NotSupported.
Result<std::vector<Variant>> decodeRow(const TableDef& def, std::span<const uint8_t> row,
                                       LongValueSource* longValues);

// Decodes one column (index into def.columns()).
Result<Variant> decodeColumn(const TableDef& def, const RowLayout& layout, std::span<const uint8_t> row,
                             int columnIndex, LongValueSource* longValues);

// decodeColumn into `out`: a text value is decoded into the text `out`
// holds, keeping its storage. On an error `out` is left unspecified.
Status decodeColumnInto(const TableDef& def, const RowLayout& layout, std::span<const uint8_t> row, int columnIndex,
                        LongValueSource* longValues, Variant& out);

// Whether decodeColumn would read a column that is not a long value,
// without making its value: the same refusals, none of the work.
Status checkColumn(const TableDef& def, const RowLayout& layout, std::span<const uint8_t> row, int columnIndex);

// The raw field bytes of a variable column, or an empty span with
// present=false when it is null or absent (for writers that keep a field).
struct FieldBytes {
    bool present = false;
    std::span<const uint8_t> bytes;
};
Result<FieldBytes> fieldBytes(const TableDef& def, const RowLayout& layout, std::span<const uint8_t> row,
                              int columnIndex);

// Encodes a full row in the table's current layout: ncols = max_cols, the
// fixed area of every fixed column, num_var_cols var offsets (reserved and
// deleted slots empty), and a mask of (max_cols+7)/8 bytes. `values` is
// parallel to def.columns(). Each value must have the column's type (or be
// Null); Text is checked against the column's length and compressed when
// allowed (Jet 3: encoded in the column's code page, a character it cannot
// hold refused). A row over 4060 bytes (Jet 3: 2012) is refused.
Result<std::vector<uint8_t>> encodeRow(const TableDef& def, std::span<const Variant> values);
// The same with the field bytes of the Memo and OLE columns taken from
// `longValueBytes` (a column not there is Null) instead of from `values`.
Result<std::vector<uint8_t>> encodeRow(const TableDef& def, std::span<const Variant> values,
                                       const std::map<int, std::vector<uint8_t>>& longValueBytes);
// The row `row` with the columns of `changes` (indexes into def.columns())
// set to their new values and every other column kept as stored, byte for
// byte, in the table's current layout. A kept column must read as
// decodeColumn would read it (long values are kept unread). Long-value
// columns cannot be changed here: such a record is encoded whole.
Result<std::vector<uint8_t>> encodeRowChanged(const TableDef& def, std::span<const uint8_t> row,
                                              std::span<const std::pair<int, Variant>> changes);
// Where the variable data of a Jet 4 row encodeRow made ends, `rowSize`
// bytes long: the start of its offset table, or of its null mask when the
// table has no variable columns.
size_t encodedVarDataEnd(const TableDef& def, size_t rowSize);

// `value` as a Numeric column stores it: at the column's scale (rounded
// half away from zero when it has more places), refused (InvalidArgument)
// when it has more digits than the column's precision. Index keys are made
// from the value so stored.
Result<Decimal> decimalForColumn(const ColumnDef& column, Decimal value);

// Field bytes of a Memo/OLE value stored inline in the row (at most 64 bytes
// of data): the 12-byte header followed by the data.
Result<std::vector<uint8_t>> encodeInlineLongValue(std::span<const uint8_t> data);
// The bytes a Memo column stores for `text` (compressed per the column's
// flag; in its code page for Jet 3, where a character the code page cannot
// hold is InvalidArgument).
Result<std::vector<uint8_t>> memoBytes(const ColumnDef& column, std::u16string_view text);

}  // namespace varnika::jet

#pragma once
// Inserting, updating and deleting the records of one table. Each call is
// one engine operation: data pages, long values, TDEF counters and (through
// the IndexMaintainer) index pages change together in one Pager commit, or
// the Pager is rolled back and nothing is written.
//
// The row format itself (which bytes a row of this table holds) comes from
// a TableRowFormat, the adapter over the table definition and row codec.
// Memo and OLE values are stored by this writer: the format receives their
// finished column bytes (a long-value header, possibly with inline data)
// and hands them back when decoding, so replaced values can be freed.

#include "db/jet/table/index_maintainer.h"
#include "db/jet/table/long_value_writer.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/table/row_store.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace varnika::jet {

// A Memo or OLE column of the table.
struct LongValueColumn {
    int column = 0;           // position in the column list
    bool isMemo = true;       // Memo: Text values; OLE: Binary values
    bool compressible = false;  // the column allows compressed text
    PageOwners maps;          // from the TDEF's long-value list; empty when absent
    uint16_t codePage = 0;    // Jet 3 Memo: the code page of its text (0: UTF-16)
    bool indexed = true;      // a real index keys on it: a delete needs its value
};

struct TableLayout {
    TablePages pages;
    std::vector<LongValueColumn> longValueColumns;
    std::optional<int> autoNumberColumn;  // a Long AutoNumber column
    bool hasIndexes = false;              // any real index
    std::vector<int> guidAutoColumns;     // Replication ID AutoNumber columns
    size_t maxRowSize = row::kMaxSize;    // the longest row of the format
    // The key columns (positions in the column list) of each real index;
    // empty when not known, and every column is then read for the keys.
    std::vector<std::vector<int>> indexColumns = {};
};

struct EncodedRow {
    std::vector<uint8_t> bytes;
    // Where zero filler may go when the row is padded to an old length
    // (between the variable data and the end-of-data offset).
    std::optional<size_t> padAt;
};

class TableRowFormat {
public:
    virtual ~TableRowFormat() = default;
    // Every column's value in column-list order. Long-value columns are
    // not resolved: their entry is Null, and their stored bytes are given
    // in `longValueBytes` (absent for a Null value).
    virtual Status decode(std::span<const uint8_t> row, std::vector<Variant>& values,
                          std::map<int, std::vector<uint8_t>>& longValueBytes) = 0;
    // The row for `values` in the table's current layout; long-value
    // columns take their bytes from `longValueBytes` (absent = Null).
    virtual Result<EncodedRow> encode(const std::vector<Variant>& values,
                                      const std::map<int, std::vector<uint8_t>>& longValueBytes) = 0;
    // Resolves a stored long value to its Variant (Text or Binary).
    virtual Result<Variant> readLongValue(int column, std::span<const uint8_t> stored) = 0;
    // The stored bytes of the long-value columns alone, as decode() gives
    // them, the row's framing checked. It serves a caller that has read the
    // other columns of these very bytes: they are not checked again.
    virtual Status longValueFields(std::span<const uint8_t> row, std::map<int, std::vector<uint8_t>>& longValueBytes)
    {
        std::vector<Variant> values;
        return decode(row, values, longValueBytes);
    }
    // The row `row` with the columns of `changes` (none a long value) set
    // and every other column kept as stored; NotSupported where the format
    // has no such encoding (the record is then encoded whole).
    virtual bool encodesChangedColumns() const { return false; }
    virtual Result<EncodedRow> encodeChanged(std::span<const uint8_t> /*row*/,
                                             std::span<const std::pair<int, Variant>> /*changes*/)
    {
        return notSupported("no encoding of changed columns alone");
    }
    // The values of `columns` (long values resolved) as the row stores
    // them, in a list of every column (the others may be left Null).
    virtual Status decodeColumns(std::span<const uint8_t> row, const std::vector<int>& columns,
                                 std::vector<Variant>& values)
    {
        std::map<int, std::vector<uint8_t>> longValueBytes;
        VK_RETURN_IF_ERROR(decode(row, values, longValueBytes));
        for (int c : columns) {
            if (c < 0 || size_t(c) >= values.size()) return invalidArgument("no column " + std::to_string(c) + " to decode");
            auto it = longValueBytes.find(c);
            if (it == longValueBytes.end()) continue;
            VK_ASSIGN_OR_RETURN(values[size_t(c)], readLongValue(c, it->second));
        }
        return Status::ok();
    }
};

class TableWriter {
public:
    // `indexes` may be null only for a table without real indexes.
    TableWriter(Pager& pager, TableLayout layout, TableRowFormat& format, IndexMaintainer* indexes);
    ~TableWriter();
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    // While on, and the pager groups its commits, the index changes of the
    // records updated and deleted are held back and made together, in key
    // order, just before the pager writes the group (see Pager's
    // HeldBackWork). A change that adds a key to a unique index is made at
    // once, so a clash is refused at its own record; an insert, or a writer
    // of another table, has the group written first. Turned off (and at the
    // writer's end), what is still held back is written with the group's
    // records, which are saved then.
    void holdBackIndexEntries(bool on);

    // Adds a record. A Null in the AutoNumber column takes the next number;
    // a Null in a Replication ID AutoNumber column takes a new random GUID.
    // Returns the new row's header slot.
    Result<RowPointer> insertRow(std::vector<Variant> values);
    // Adds the records, in order, as insertRow() would one after another,
    // but in one commit: every index gains their entries at once. On a
    // failure none of them is added. Returns the rows' header slots.
    Result<std::vector<RowPointer>> insertRows(std::vector<std::vector<Variant>> rows);
    // Replaces the record whose header slot is `row` with `values` (all
    // columns). The header slot stays, whether the row fits in place or moves.
    // `stored`, when given, are the record's values as the file holds them
    // now (long values resolved), known to the caller: they are not read
    // and decoded again.
    Status updateRow(RowPointer row, const std::vector<Variant>& values, const std::vector<Variant>* stored = nullptr);
    // Sets the columns of `changes` (indexes into the column list) and
    // keeps every other column as stored, byte for byte: only the changed
    // columns and those of the indexes are read. A long-value column among
    // the changes, or a format without encodeChanged, takes updateRow.
    Status updateColumns(RowPointer row, std::span<const std::pair<int, Variant>> changes);
    // Deletes the record, its moved bytes and its long values.
    Status deleteRow(RowPointer row);

    // Every column's value of the record, long values resolved.
    Result<std::vector<Variant>> readRow(RowPointer row)
    {
        std::map<int, std::vector<uint8_t>> stored;
        return readRow(row, stored);
    }
    // The same; `stored` gets the long values' headers as the row holds them.
    Result<std::vector<Variant>> readRow(RowPointer row, std::map<int, std::vector<uint8_t>>& stored);

    // A reader's slot tables (those of the table written) to keep up to date
    // with every data page written; it must outlive the writer.
    void keepUpToDate(SlotTableMemo& readerSlots) { m_allocator.keepUpToDate(readerSlots); }

private:
    // What begin() is for: an insert has whatever is held back written
    // first; so has an update while a removal from a unique index is.
    enum class Operation { Insert, Update, Delete };
    Status begin(Operation operation);
    // Stores one new record's row and long values (taking its AutoNumbers),
    // within the operation in hand; its index entries are the caller's.
    Result<RowPointer> storeNewRow(std::vector<Variant>& values);
    // Commits the operation (`records` records, for a group's count) or,
    // on a failure, rolls it back.
    Status finish(Status result, size_t records = 1);
    // Every column's value of the record whose row is `bytes`, long values
    // resolved; `stored` gets the long values' headers.
    Status decodeRecord(std::span<const uint8_t> bytes, std::vector<Variant>& values,
                        std::map<int, std::vector<uint8_t>>& stored);
    // Stores the long values of `values` (keeping `kept` where the value did
    // not change) and fills `bytes` for the encoder.
    Status storeLongValues(LongValueWriter& lv, const std::vector<Variant>& values,
                           const std::map<int, std::vector<uint8_t>>& kept, std::map<int, std::vector<uint8_t>>& bytes);
    Result<std::vector<uint8_t>> longValueData(const LongValueColumn& c, const Variant& v) const;

    Pager& m_pager;
    TableLayout m_layout;
    TableRowFormat& m_format;
    IndexMaintainer* m_indexes;
    PageAllocator m_allocator;

    // The held-back index changes, as the pager sees them.
    class HeldBackEntries final : public HeldBackWork {
    public:
        explicit HeldBackEntries(TableWriter& writer) : m_writer(writer) {}
        bool pending() const override { return m_writer.m_indexes->holdsBack(); }
        Status complete() override { return m_writer.m_indexes->writeHeldBack(m_writer.m_allocator); }
        void unitFinished() override { m_writer.m_indexes->heldBackFinished(); }
        void unitUndone() override { m_writer.m_indexes->heldBackUndone(); }
        void forget() override { m_writer.m_indexes->forgetHeldBack(); }

    private:
        TableWriter& m_writer;
    };
    HeldBackEntries m_heldBack{*this};
    bool m_holdingBack = false;
};

}  // namespace varnika::jet

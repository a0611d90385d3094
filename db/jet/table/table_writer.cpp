#include "db/jet/table/table_writer.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/text_codec.h"

#include <algorithm>
#include <random>
#include <string>

namespace varnika::jet {

namespace {

// A random (version 4) GUID, in stored byte order.
Guid newGuid()
{
    std::random_device source;
    Guid g{};
    for (size_t i = 0; i < g.size(); i += 4) {
        uint32_t r = source();
        for (size_t k = 0; k < 4; ++k) g[i + k] = uint8_t(r >> (8 * k));
    }
    constexpr size_t kVersionByte = 7;  // high byte of the third group, stored little-endian
    constexpr size_t kVariantByte = 8;
    g[kVersionByte] = uint8_t((g[kVersionByte] & 0x0F) | 0x40);
    g[kVariantByte] = uint8_t((g[kVariantByte] & 0x3F) | 0x80);
    return g;
}

// Column bytes of a long value before its data is known: an inline header
// of length 0. Used to learn how much room the rest of the row leaves.
std::vector<uint8_t> placeholderHeader()
{
    std::vector<uint8_t> h(longvalue::kHeaderSize, 0);
    putU32(h.data(), longvalue::kLengthAndKind, longvalue::kKindInline);
    return h;
}

// The key columns of the indexes `chosen` picks from their key columns,
// each once.
template <class Choose>
std::vector<int> keyColumnsOf(const TableLayout& layout, Choose chosen)
{
    std::vector<int> keyColumns;
    for (const std::vector<int>& columns : layout.indexColumns)
        if (chosen(columns))
            for (int col : columns)
                if (std::find(keyColumns.begin(), keyColumns.end(), col) == keyColumns.end()) keyColumns.push_back(col);
    return keyColumns;
}

}  // namespace

TableWriter::TableWriter(Pager& pager, TableLayout layout, TableRowFormat& format, IndexMaintainer* indexes)
    : m_pager(pager), m_layout(std::move(layout)), m_format(format), m_indexes(indexes), m_allocator(pager)
{
}

TableWriter::~TableWriter() { holdBackIndexEntries(false); }

void TableWriter::holdBackIndexEntries(bool on)
{
    if (!m_indexes || on == m_holdingBack) return;
    if (on && m_pager.heldBackWork()) return;  // another writer holds back: this one makes its changes at once
    if (!on && m_indexes->holdsBack()) {
        // Written with the group by now, as a rule; if not, written now
        // (without an operation left in hand), or lost with the group's
        // records (the pager counts them).
        if (m_pager.inGroup()) {
            if (m_pager.hasPendingWrites()) m_pager.rollback();
            (void)m_pager.saveGroup();
        } else {
            (void)m_pager.commit();
        }
    }
    m_holdingBack = on;
    m_indexes->holdBack(on);
    m_indexes->forgetHeldBack();
    m_pager.setHeldBackWork(on ? &m_heldBack : nullptr);
}

Status TableWriter::begin(Operation operation)
{
    VK_RETURN_IF_ERROR(m_pager.checkWritable());
    if (m_pager.hasPendingWrites())
        return invalidArgument("another change to the database has not been saved or undone yet");
    // Held-back index changes reach the file before a change that could
    // meet them half made.
    if (HeldBackWork* held = m_pager.heldBackWork(); held && held->pending()) {
        const bool mine = held == &m_heldBack;
        if (!mine || operation == Operation::Insert ||
            (operation == Operation::Update && m_indexes->holdsBackUniqueRemovals()))
            VK_RETURN_IF_ERROR(m_pager.saveGroup());
    }
    if (m_layout.hasIndexes && !m_indexes)
        return notSupported("the table has indexes, and no index maintenance is available for it");
    return Status::ok();
}

Status TableWriter::finish(Status result, size_t records)
{
    if (result.isOk()) {
        Status committed = m_pager.commit(records);
        if (committed.isOk()) return committed;
        result = committed;
    }
    m_pager.rollback();
    return result;
}

Result<std::vector<uint8_t>> TableWriter::longValueData(const LongValueColumn& c, const Variant& v) const
{
    if (c.isMemo) {
        if (v.type() != VariantType::Text) return Status(ErrorCode::TypeMismatch, "a Memo field takes text");
        if (c.codePage) return encodeCodePageText(v.asText(), c.codePage);
        return encodeMemoText(v.asText(), c.compressible);
    }
    if (v.type() != VariantType::Binary) return Status(ErrorCode::TypeMismatch, "an OLE Object field takes binary data");
    return v.asBinary();
}

Status TableWriter::storeLongValues(LongValueWriter& lv, const std::vector<Variant>& values,
                                    const std::map<int, std::vector<uint8_t>>& kept,
                                    std::map<int, std::vector<uint8_t>>& bytes)
{
    // The data of each value to store, made first: the room left in the row
    // matters only to a value short enough to be stored in it.
    std::map<int, std::vector<uint8_t>> data;
    bool couldBeInline = false;
    for (const LongValueColumn& c : m_layout.longValueColumns) {
        if (size_t(c.column) >= values.size()) return invalidArgument("a record needs a value for every field");
        const Variant& v = values[size_t(c.column)];
        if (kept.count(c.column) || v.isNull()) continue;
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> d, longValueData(c, v));
        couldBeInline = couldBeInline || d.size() <= longvalue::kMaxInline;
        data[c.column] = std::move(d);
    }
    // Learn the row's size with every present long value as a bare header;
    // inline data may then use what is left up to the row limit.
    size_t room = 0;
    if (couldBeInline) {
        std::map<int, std::vector<uint8_t>> placeholders;
        for (const LongValueColumn& c : m_layout.longValueColumns)
            if (kept.count(c.column) || !values[size_t(c.column)].isNull()) placeholders[c.column] = placeholderHeader();
        VK_ASSIGN_OR_RETURN(EncodedRow base, m_format.encode(values, placeholders));
        room = base.bytes.size() < m_layout.maxRowSize ? m_layout.maxRowSize - base.bytes.size() : 0;
    }

    for (const LongValueColumn& c : m_layout.longValueColumns) {
        if (auto it = kept.find(c.column); it != kept.end()) {
            bytes[c.column] = it->second;
            size_t extra = it->second.size() - std::min(it->second.size(), longvalue::kHeaderSize);
            room -= std::min(room, extra);
            continue;
        }
        auto d = data.find(c.column);
        if (d == data.end()) continue;
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> stored, lv.write(d->second, c.maps, room));
        room -= std::min(room, stored.size() - longvalue::kHeaderSize);
        bytes[c.column] = std::move(stored);
    }
    return Status::ok();
}

Status TableWriter::decodeRecord(std::span<const uint8_t> bytes, std::vector<Variant>& values,
                                 std::map<int, std::vector<uint8_t>>& stored)
{
    VK_RETURN_IF_ERROR(m_format.decode(bytes, values, stored));
    for (auto& [column, b] : stored) {
        if (size_t(column) >= values.size()) return corruption("a long value belongs to a field the record lacks");
        VK_ASSIGN_OR_RETURN(values[size_t(column)], m_format.readLongValue(column, b));
    }
    return Status::ok();
}

Result<std::vector<Variant>> TableWriter::readRow(RowPointer row, std::map<int, std::vector<uint8_t>>& stored)
{
    RowStore store(m_allocator, m_layout.pages);
    VK_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, store.read(row));
    std::vector<Variant> values;
    VK_RETURN_IF_ERROR(decodeRecord(bytes, values, stored));
    return values;
}

Result<RowPointer> TableWriter::storeNewRow(std::vector<Variant>& values)
{
    if (m_layout.autoNumberColumn) {
        size_t c = size_t(*m_layout.autoNumberColumn);
        if (c >= values.size()) return invalidArgument("a record needs a value for every field");
        if (values[c].isNull()) {
            VK_ASSIGN_OR_RETURN(int32_t next, takeAutoNumber(m_pager, m_layout.pages.tdefPage));
            values[c] = Variant::longValue(next);
        } else if (values[c].type() == VariantType::Long) {
            VK_RETURN_IF_ERROR(keepAutoNumberAbove(m_pager, m_layout.pages.tdefPage, values[c].asLong()));
        }
    }
    for (int c : m_layout.guidAutoColumns) {
        if (size_t(c) >= values.size()) return invalidArgument("a record needs a value for every field");
        if (values[size_t(c)].isNull()) values[size_t(c)] = Variant::guid(newGuid());
    }
    LongValueWriter lv(m_allocator);
    std::map<int, std::vector<uint8_t>> longBytes;
    VK_RETURN_IF_ERROR(storeLongValues(lv, values, {}, longBytes));
    VK_ASSIGN_OR_RETURN(EncodedRow encoded, m_format.encode(values, longBytes));
    RowStore store(m_allocator, m_layout.pages);
    VK_ASSIGN_OR_RETURN(RowPointer placed, store.insert(encoded.bytes));
    VK_RETURN_IF_ERROR(adjustRowCount(m_pager, m_layout.pages.tdefPage, +1));
    return placed;
}

Result<RowPointer> TableWriter::insertRow(std::vector<Variant> values)
{
    VK_RETURN_IF_ERROR(begin(Operation::Insert));
    RowPointer placed;
    Status s = [&]() -> Status {
        VK_ASSIGN_OR_RETURN(placed, storeNewRow(values));
        if (m_indexes)
            VK_RETURN_IF_ERROR(m_indexes->apply(m_allocator, {RowChangeKind::Insert, m_layout.pages.tdefPage, placed, nullptr, &values}));
        return Status::ok();
    }();
    VK_RETURN_IF_ERROR(finish(s));
    return placed;
}

Result<std::vector<RowPointer>> TableWriter::insertRows(std::vector<std::vector<Variant>> rows)
{
    VK_RETURN_IF_ERROR(begin(Operation::Insert));
    std::vector<RowPointer> pointers;
    Status s = [&]() -> Status {
        std::vector<InsertedRow> placed;
        placed.reserve(rows.size());
        for (std::vector<Variant>& v : rows) {
            VK_ASSIGN_OR_RETURN(RowPointer row, storeNewRow(v));
            placed.push_back({row, &v});
        }
        if (m_indexes) VK_RETURN_IF_ERROR(m_indexes->applyInserts(m_allocator, m_layout.pages.tdefPage, placed));
        for (const InsertedRow& r : placed) pointers.push_back(r.row);
        return Status::ok();
    }();
    VK_RETURN_IF_ERROR(finish(s, rows.size()));
    return pointers;
}

Status TableWriter::updateRow(RowPointer row, const std::vector<Variant>& values, const std::vector<Variant>* stored)
{
    VK_RETURN_IF_ERROR(begin(Operation::Update));
    Status s = [&]() -> Status {
        RowStore store(m_allocator, m_layout.pages);
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> oldBytes, store.read(row));
        std::vector<Variant> decoded;
        std::map<int, std::vector<uint8_t>> oldLong;
        const bool known = stored && stored->size() == values.size();
        if (known) {
            VK_RETURN_IF_ERROR(m_format.longValueFields(oldBytes, oldLong));
        } else {
            VK_RETURN_IF_ERROR(m_format.decode(oldBytes, decoded, oldLong));
        }
        // The record as stored: the caller's when it knows it, else the one
        // just decoded (its long values read below).
        const std::vector<Variant>& oldValues = known ? *stored : decoded;
        if (values.size() != oldValues.size()) return invalidArgument("a record needs a value for every field");

        // Unchanged long values keep their stored rows; changed ones are
        // given back before the new ones are stored, so they can reuse the
        // space.
        LongValueWriter lv(m_allocator);
        std::map<int, std::vector<uint8_t>> kept;
        for (const LongValueColumn& c : m_layout.longValueColumns) {
            auto it = oldLong.find(c.column);
            if (it == oldLong.end()) continue;
            if (!known) {
                VK_ASSIGN_OR_RETURN(decoded[size_t(c.column)], m_format.readLongValue(c.column, it->second));
            }
            if (oldValues[size_t(c.column)] == values[size_t(c.column)]) kept[c.column] = it->second;
            else VK_RETURN_IF_ERROR(lv.release(it->second, c.maps));
        }
        std::map<int, std::vector<uint8_t>> longBytes;
        VK_RETURN_IF_ERROR(storeLongValues(lv, values, kept, longBytes));
        VK_ASSIGN_OR_RETURN(EncodedRow encoded, m_format.encode(values, longBytes));
        VK_RETURN_IF_ERROR(store.update(row, encoded.bytes, encoded.padAt));
        if (m_indexes)
            VK_RETURN_IF_ERROR(m_indexes->apply(m_allocator, {RowChangeKind::Update, m_layout.pages.tdefPage, row, &oldValues, &values}));
        return Status::ok();
    }();
    return finish(s);
}

Status TableWriter::updateColumns(RowPointer row, std::span<const std::pair<int, Variant>> changes)
{
    const bool longValueChanged = std::any_of(changes.begin(), changes.end(), [&](const auto& change) {
        return std::any_of(m_layout.longValueColumns.begin(), m_layout.longValueColumns.end(),
                           [&](const LongValueColumn& c) { return c.column == change.first; });
    });
    if (longValueChanged || !m_format.encodesChangedColumns()) {
        // The whole record: as stored, with the changes put in.
        VK_ASSIGN_OR_RETURN(std::vector<Variant> values, readRow(row));
        for (const auto& [col, value] : changes) {
            if (col < 0 || size_t(col) >= values.size()) return invalidArgument("no column " + std::to_string(col) + " to change");
            values[size_t(col)] = value;
        }
        return updateRow(row, values);
    }
    VK_RETURN_IF_ERROR(begin(Operation::Update));
    Status s = [&]() -> Status {
        RowStore store(m_allocator, m_layout.pages);
        VK_ASSIGN_OR_RETURN(std::vector<uint8_t> oldBytes, store.read(row));
        // The keys before and after need the columns of the indexes a
        // changed column is in; the other indexes see equal (unread) values.
        std::vector<Variant> oldValues;
        // Whether an index may hold a changed column: when none does, every
        // index keeps its entry for the record as it is.
        bool keysMayChange = false;
        if (m_indexes && m_layout.indexColumns.empty() && m_layout.hasIndexes) {
            // The key columns are not known: every column is read.
            std::map<int, std::vector<uint8_t>> longValueBytes;
            VK_RETURN_IF_ERROR(decodeRecord(oldBytes, oldValues, longValueBytes));
            keysMayChange = true;
        } else if (m_indexes) {
            auto changed = [&](int col) {
                return std::any_of(changes.begin(), changes.end(), [col](const auto& c) { return c.first == col; });
            };
            const std::vector<int> keyColumns = keyColumnsOf(
                m_layout, [&](const std::vector<int>& columns) { return std::any_of(columns.begin(), columns.end(), changed); });
            keysMayChange = !keyColumns.empty();
            if (keysMayChange) VK_RETURN_IF_ERROR(m_format.decodeColumns(oldBytes, keyColumns, oldValues));
        }
        VK_ASSIGN_OR_RETURN(EncodedRow encoded, m_format.encodeChanged(oldBytes, changes));
        VK_RETURN_IF_ERROR(store.update(row, encoded.bytes, encoded.padAt));
        if (keysMayChange) {
            std::vector<Variant> newValues = oldValues;
            for (const auto& [col, value] : changes) {
                if (col < 0 || size_t(col) >= newValues.size()) return invalidArgument("no column " + std::to_string(col) + " to change");
                newValues[size_t(col)] = value;
            }
            VK_RETURN_IF_ERROR(m_indexes->apply(m_allocator, {RowChangeKind::Update, m_layout.pages.tdefPage, row, &oldValues, &newValues}));
        }
        return Status::ok();
    }();
    return finish(s);
}

Status TableWriter::deleteRow(RowPointer row)
{
    VK_RETURN_IF_ERROR(begin(Operation::Delete));
    Status s = [&]() -> Status {
        std::map<int, std::vector<uint8_t>> oldLong;
        std::vector<Variant> oldValues;
        // The index keys need the key columns alone, when they are known;
        // long values are given back below without being read.
        const bool keyColumnsKnown = !m_layout.indexColumns.empty() || !m_layout.hasIndexes;
        {
            RowStore store(m_allocator, m_layout.pages);
            VK_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes, store.read(row));
            if (keyColumnsKnown) {
                const std::vector<int> keyColumns = keyColumnsOf(m_layout, [](const std::vector<int>&) { return true; });
                VK_RETURN_IF_ERROR(m_format.decodeColumns(bytes, keyColumns, oldValues));
                VK_RETURN_IF_ERROR(m_format.longValueFields(bytes, oldLong));
            } else {
                VK_RETURN_IF_ERROR(m_format.decode(bytes, oldValues, oldLong));
            }
        }
        // Otherwise the long values an index holds are read for its keys.
        for (const LongValueColumn& c : m_layout.longValueColumns) {
            auto it = oldLong.find(c.column);
            if (keyColumnsKnown || !c.indexed || it == oldLong.end()) continue;
            if (size_t(c.column) >= oldValues.size()) return corruption("a long value belongs to a field the record lacks");
            VK_ASSIGN_OR_RETURN(oldValues[size_t(c.column)], m_format.readLongValue(c.column, it->second));
        }
        // Index entries go first, while the row is still there to be found.
        if (m_indexes)
            VK_RETURN_IF_ERROR(m_indexes->apply(m_allocator, {RowChangeKind::Delete, m_layout.pages.tdefPage, row, &oldValues, nullptr}));
        RowStore store(m_allocator, m_layout.pages);
        LongValueWriter lv(m_allocator);
        for (const LongValueColumn& c : m_layout.longValueColumns)
            if (auto it = oldLong.find(c.column); it != oldLong.end()) VK_RETURN_IF_ERROR(lv.release(it->second, c.maps));
        VK_RETURN_IF_ERROR(store.remove(row));
        return adjustRowCount(m_pager, m_layout.pages.tdefPage, -1);
    }();
    return finish(s);
}

}  // namespace varnika::jet

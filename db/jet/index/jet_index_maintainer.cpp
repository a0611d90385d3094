#include "db/jet/index/jet_index_maintainer.h"

#include "db/jet/index/entry_digest.h"
#include "db/jet/index/index_entry_walk.h"
#include "db/jet/index/index_tree.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/row_store.h"
#include "db/text.h"

#include <algorithm>
#include <unordered_map>

namespace varnika::jet {

Result<TextCollation> columnCollation(const ColumnDef& column, uint16_t databaseLcid, uint8_t databaseVersion,
                                      const JetFormat& format)
{
    uint16_t lcid = column.sortLcid();
    uint8_t version = column.sortVersion();
    if (lcid == 0) {
        lcid = databaseLcid;
        version = databaseVersion;
    }
    JetFormat text = format;
    if (column.singleByteText()) text.codePage = column.codePage;
    auto c = collationFor(lcid, version, text);
    if (!c.isOk())
        return Status(c.status().code(), "the index on column \"" + toUtf8(column.name) + "\" cannot be kept: " +
                                             c.status().message());
    return c;
}

namespace {

// The key of `values` appended to `key`; whether every key column is Null.
Result<bool> appendKeyColumns(std::vector<uint8_t>& key, const TableDef& def, const RealIndexDef& index,
                              const std::vector<Variant>& values, uint16_t lcid, uint8_t version)
{
    bool allNull = true;
    for (const RealIndexColumn& kc : index.columns) {
        int col = def.findColumnByNumber(kc.columnNumber);
        if (col < 0 || size_t(col) >= values.size())
            return corruption("an index names column number " + std::to_string(kc.columnNumber) + ", which the table lacks");
        const ColumnDef& c = def.columns()[size_t(col)];
        const Variant& v = values[size_t(col)];
        if (!v.isNull() || c.isBoolean()) allNull = false;
        TextCollation collation = TextCollation::GeneralLegacy;
        if (isTextType(c.type())) {
            VK_ASSIGN_OR_RETURN(collation, columnCollation(c, lcid, version, def.format()));
        }
        if (c.type() == ColumnType::Numeric && v.type() == VariantType::Decimal) {
            VK_ASSIGN_OR_RETURN(Decimal stored, decimalForColumn(c, v.asDecimal()));
            VK_RETURN_IF_ERROR(appendColumnKey(key, Variant::decimal(stored), c.type(), kc.ascending, collation));
            continue;
        }
        VK_RETURN_IF_ERROR(appendColumnKey(key, v, c.type(), kc.ascending, collation));
    }
    return allNull;
}

}  // namespace

Result<bool> appendIndexKey(std::vector<uint8_t>& key, const TableDef& def, const RealIndexDef& index,
                            const std::vector<Variant>& values, uint16_t lcid, uint8_t version)
{
    VK_ASSIGN_OR_RETURN(bool allNull, appendKeyColumns(key, def, index, values, lcid, version));
    return !(allNull && index.ignoresNulls());
}

Result<std::optional<IndexKeyEntry>> indexEntryFor(const TableDef& def, const RealIndexDef& index,
                                                const std::vector<Variant>& values, uint16_t lcid, uint8_t version)
{
    IndexKeyEntry e;
    VK_ASSIGN_OR_RETURN(e.allNull, appendKeyColumns(e.key, def, index, values, lcid, version));
    if (e.allNull && index.ignoresNulls()) return std::optional<IndexKeyEntry>();
    return std::optional<IndexKeyEntry>(std::move(e));
}

bool indexHoldsRow(const TableDef& def, const RealIndexDef& index, const std::vector<Variant>& values)
{
    if (!index.ignoresNulls()) return true;
    for (const RealIndexColumn& kc : index.columns) {
        const int col = def.findColumnByNumber(kc.columnNumber);
        if (col < 0 || size_t(col) >= values.size()) return true;
        if (!values[size_t(col)].isNull() || def.columns()[size_t(col)].isBoolean()) return true;
    }
    return false;
}

Result<std::vector<std::vector<uint8_t>>> expectedIndexEntries(Table& table, const RealIndexDef& index, uint16_t lcid,
                                                               uint8_t version, std::optional<RowOverride> replaced)
{
    const TableDef& def = table.def();
    std::vector<std::vector<uint8_t>> expected;
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table.scan());
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) break;
        std::vector<Variant> values;
        if (replaced && scanner.pointer() == replaced->row) {
            if (!replaced->values) continue;
            values = *replaced->values;
        } else {
            VK_ASSIGN_OR_RETURN(values, scanner.values());
        }
        VK_ASSIGN_OR_RETURN(std::optional<IndexKeyEntry> e, indexEntryFor(def, index, values, lcid, version));
        if (!e) continue;
        e->row = scanner.pointer();
        expected.push_back(leafEntryBytes(*e));
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}


namespace {

// The most text values whose keys one check keeps.
constexpr size_t kKeyMemoEntries = 4096;

std::string compactAndRepair(const std::string& table)
{
    return "table \"" + table + "\" is damaged and is not changed; Access's \"Compact and Repair\" mends it";
}

Status differentKeys(const std::string& table)
{
    return notSupported("an index of table \"" + table +
                        "\" holds keys that this engine does not make the same way; to keep the index right "
                        "for Access, the table is not changed");
}

}  // namespace

Status verifyIndexes(Table& table, const std::vector<size_t>& indexes, uint16_t lcid, uint8_t version,
                     std::set<uint32_t>& verified, bool countOthers)
{
    const TableDef& def = table.def();
    const std::string name = toUtf8(table.name());
    std::vector<size_t> counted;  // indexes whose entries are only counted
    if (countOthers)
        for (size_t i = 0; i < def.realIndexes().size(); ++i)
            if (std::find(indexes.begin(), indexes.end(), i) == indexes.end()) counted.push_back(i);
    std::vector<uint64_t> rowsWithEntry(counted.size(), 0);
    std::vector<EntryDigest> expected(indexes.size());
    // An index of one text column (a unit, a branch, a customer) meets the
    // same few values over many records: the key of each stored form of a
    // value is made once, without decoding the value again.
    struct KeyMemo {
        int column = -1;
        std::unordered_map<std::string, std::optional<IndexKeyEntry>> keys;
    };
    std::vector<KeyMemo> memos(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[indexes[i]];
        if (index.columns.size() != 1) continue;
        const int col = def.findColumnByNumber(index.columns.front().columnNumber);
        if (col >= 0 && def.columns()[size_t(col)].type() == ColumnType::Text) memos[i].column = col;
    }
    // Decoded for every row: the key columns of the other indexes compared,
    // and the long values of the indexes counted. A memo's column is read
    // as stored bytes for every row and decoded only for a value not met
    // before. Every other column but the long values (which stay unread) is
    // only checked to be readable, as decoding it would: an index counted
    // needs no more of its key columns than whether they are null.
    std::vector<int> decoded, checked;
    auto addOnce = [](std::vector<int>& to, int col) {
        if (col >= 0 && std::find(to.begin(), to.end(), col) == to.end()) to.push_back(col);
    };
    for (size_t i = 0; i < indexes.size(); ++i)
        if (memos[i].column < 0)
            for (const RealIndexColumn& kc : def.realIndexes()[indexes[i]].columns)
                addOnce(decoded, def.findColumnByNumber(kc.columnNumber));
    for (size_t i : counted)
        for (const RealIndexColumn& kc : def.realIndexes()[i].columns) {
            const int col = def.findColumnByNumber(kc.columnNumber);
            if (col >= 0 && isLongValueType(def.columns()[size_t(col)].type())) addOnce(decoded, col);
        }
    auto memoColumn = [&](int c) {
        return std::any_of(memos.begin(), memos.end(), [c](const KeyMemo& m) { return m.column == c; });
    };
    // A fixed column can only fail by reaching past the row's fixed area:
    // when the area reaches past every one of them, none is checked alone.
    std::vector<int> checkedFixed;
    size_t fixedReach = 0;
    for (size_t c = 0; c < def.columns().size(); ++c) {
        const ColumnDef& column = def.columns()[c];
        if (isLongValueType(column.type()) || memoColumn(int(c)) ||
            std::find(decoded.begin(), decoded.end(), int(c)) != decoded.end() || column.isBoolean())
            continue;
        if (column.isVariable()) {
            checked.push_back(int(c));
        } else {
            checkedFixed.push_back(int(c));
            fixedReach = std::max(fixedReach, def.format().row.fixedArea + column.fixedOffset + column.fixedWidth());
        }
    }
    std::vector<Variant> values(def.columns().size());
    std::string stored;
    std::vector<uint8_t> entry;
    auto notChanged = [&](const Status& s) {
        return Status(s.code(), "table \"" + name + "\" is not changed: " + s.message());
    };
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, table.scan());
    for (;;) {
        auto more = scanner.next();
        if (!more.isOk()) return corruption(compactAndRepair(name) + " (" + more.status().message() + ")");
        if (!*more) break;
        const std::span<const uint8_t> row = scanner.row().bytes();
        auto unreadable = [&](const Status& s) {
            return corruption(compactAndRepair(name) + " (the record at page " + std::to_string(scanner.pointer().page) +
                              " row " + std::to_string(scanner.pointer().row) + " cannot be read: " + s.message() + ")");
        };
        auto layout = parseRowLayout(def, row);
        if (!layout.isOk()) return unreadable(layout.status());
        for (int col : checked)
            if (Status s = checkColumn(def, *layout, row, col); !s.isOk()) return unreadable(s);
        if (layout->fixedEnd < fixedReach)
            for (int col : checkedFixed)
                if (Status s = checkColumn(def, *layout, row, col); !s.isOk()) return unreadable(s);
        for (int col : decoded) {
            auto v = decodeColumn(def, *layout, row, col, &table.longValues());
            if (!v.isOk()) return unreadable(v.status());
            values[size_t(col)] = std::move(*v);
        }
        for (size_t i = 0; i < indexes.size(); ++i) {
            KeyMemo& memo = memos[i];
            const RealIndexDef& index = def.realIndexes()[indexes[i]];
            const std::optional<IndexKeyEntry>* known = nullptr;  // the memo's key for this stored value
            if (memo.column >= 0) {
                auto f = fieldBytes(def, *layout, row, memo.column);
                if (!f.isOk()) return unreadable(f.status());
                // A null field is told from any stored text by its first byte.
                stored.assign(1, f->present ? '\1' : '\0');
                stored.append(f->bytes.begin(), f->bytes.end());
                if (auto hit = memo.keys.find(stored); hit != memo.keys.end()) {
                    known = &hit->second;
                } else {
                    auto v = decodeColumn(def, *layout, row, memo.column, &table.longValues());
                    if (!v.isOk()) return unreadable(v.status());
                    values[size_t(memo.column)] = std::move(*v);
                    if (memo.keys.size() < kKeyMemoEntries) {
                        auto e = indexEntryFor(def, index, values, lcid, version);
                        if (!e.isOk()) return notChanged(e.status());
                        known = &memo.keys.emplace(stored, std::move(*e)).first->second;
                    }
                }
            }
            if (known) {
                if (!*known) continue;
                entry.assign((*known)->key.begin(), (*known)->key.end());
            } else {
                // A key made for this row alone, in the entry's own buffer.
                entry.clear();
                auto held = appendIndexKey(entry, def, index, values, lcid, version);
                if (!held.isOk()) return notChanged(held.status());
                if (!*held) continue;
            }
            const RowPointer at = scanner.pointer();
            entry.insert(entry.end(), {uint8_t(at.page >> 16), uint8_t(at.page >> 8), uint8_t(at.page), at.row});
            expected[i].add(entry);
        }
        for (size_t i = 0; i < counted.size(); ++i) {
            // An entry for every row, but where the index leaves out rows
            // whose key columns are all null.
            const RealIndexDef& index = def.realIndexes()[counted[i]];
            bool holds = !index.ignoresNulls();
            for (const RealIndexColumn& kc : index.columns) {
                if (holds) break;
                const int col = def.findColumnByNumber(kc.columnNumber);
                if (col < 0 || def.columns()[size_t(col)].isBoolean()) {
                    holds = true;
                    continue;
                }
                if (isLongValueType(def.columns()[size_t(col)].type())) {
                    holds = !values[size_t(col)].isNull();  // decoded above: an empty old-style value is null
                    continue;
                }
                auto f = fieldBytes(def, *layout, row, col);
                if (!f.isOk()) return unreadable(f.status());
                holds = f->present;
            }
            rowsWithEntry[i] += holds;
        }
    }
    for (size_t i = 0; i < counted.size(); ++i) {
        uint64_t stored = 0;
        // Counted, with every check of the walk, without putting the
        // entries' bytes together.
        Status walked = forEachIndexEntryWith<false>(table.pager(), def.realIndexes()[counted[i]].rootPage, [&](std::span<const uint8_t>) {
            ++stored;
            return Status::ok();
        });
        if (!walked.isOk()) return corruption(compactAndRepair(name) + " (an index: " + walked.message() + ")");
        if (stored != rowsWithEntry[i])
            return corruption(compactAndRepair(name) + " (an index holds " + std::to_string(stored) +
                              " entries where its records make " + std::to_string(rowsWithEntry[i]) + ")");
    }
    for (size_t i = 0; i < indexes.size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[indexes[i]];
        EntryDigest stored;
        Status walked = forEachIndexEntryWith(table.pager(), index.rootPage, [&](std::span<const uint8_t> entry) {
            stored.add(entry);
            return Status::ok();
        });
        if (!walked.isOk()) return corruption(compactAndRepair(name) + " (an index: " + walked.message() + ")");
        if (stored.count != expected[i].count)
            return corruption(compactAndRepair(name) + " (an index holds " + std::to_string(stored.count) +
                              " entries where its records make " + std::to_string(expected[i].count) + ")");
        if (!(stored == expected[i])) return differentKeys(name);
        verified.insert(index.rootPage);
    }
    return Status::ok();
}

Status JetIndexMaintainer::verify(const RealIndexDef& index, const RowChange& change)
{
    // The index as it was before the change: the changed row with its old
    // values, an inserted row not at all.
    const TableDef& def = m_table.def();
    std::vector<int> keyColumns;
    for (const RealIndexColumn& kc : index.columns) {
        int col = def.findColumnByNumber(kc.columnNumber);
        if (col >= 0) keyColumns.push_back(col);
    }
    EntryDigest expected;
    VK_ASSIGN_OR_RETURN(Table::Scanner scanner, m_table.scan());
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool more, scanner.next());
        if (!more) break;
        std::optional<IndexKeyEntry> e;
        if (scanner.pointer() == change.row) {
            if (change.kind == RowChangeKind::Insert || !change.oldValues) continue;
            VK_ASSIGN_OR_RETURN(e, indexEntryFor(def, index, *change.oldValues, m_lcid, m_version));
        } else {
            VK_ASSIGN_OR_RETURN(std::vector<Variant> values, scanner.values(keyColumns));
            VK_ASSIGN_OR_RETURN(e, indexEntryFor(def, index, values, m_lcid, m_version));
        }
        if (!e) continue;
        e->row = scanner.pointer();
        expected.add(leafEntryBytes(*e));
    }
    EntryDigest stored;
    VK_RETURN_IF_ERROR(forEachIndexEntryWith(m_table.pager(), index.rootPage, [&](std::span<const uint8_t> entry) {
        stored.add(entry);
        return Status::ok();
    }));
    if (stored.count != expected.count)
        return corruption(compactAndRepair(toUtf8(m_table.name())) + " (an index holds " + std::to_string(stored.count) +
                          " entries where its records make " + std::to_string(expected.count) + ")");
    if (!(stored == expected)) return differentKeys(toUtf8(m_table.name()));
    m_verified.insert(index.rootPage);
    return Status::ok();
}

namespace {

RowId rowIdOf(RowPointer row) { return RowId{row.page, row.row}; }

}  // namespace

Status JetIndexMaintainer::apply(PageAllocator& allocator, const RowChange& change)
{
    const TableDef& def = m_table.def();
    for (size_t i = 0; i < def.realIndexes().size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[i];
        // An update that leaves every key column as it was leaves the index
        // alone, without making its keys: an index under a sort order this
        // engine does not encode stays untouched.
        if (change.kind == RowChangeKind::Update && change.oldValues && change.newValues &&
            std::all_of(index.columns.begin(), index.columns.end(), [&](const RealIndexColumn& kc) {
                const int col = def.findColumnByNumber(kc.columnNumber);
                return col >= 0 && size_t(col) < change.oldValues->size() && size_t(col) < change.newValues->size() &&
                       (*change.oldValues)[size_t(col)] == (*change.newValues)[size_t(col)];
            }))
            continue;
        std::optional<IndexKeyEntry> before, after;
        if (change.oldValues) {
            VK_ASSIGN_OR_RETURN(before, indexEntryFor(def, index, *change.oldValues, m_lcid, m_version));
        }
        if (change.newValues) {
            VK_ASSIGN_OR_RETURN(after, indexEntryFor(def, index, *change.newValues, m_lcid, m_version));
        }
        bool same = before.has_value() == after.has_value() && (!before || before->key == after->key);
        if (change.kind == RowChangeKind::Update && same) continue;
        if (!m_verified.count(index.rootPage)) VK_RETURN_IF_ERROR(verify(index, change));

        // The index is known to hold exactly the entries of the rows as they
        // were, so one entry out and one in keeps it exact.
        IndexTree tree(m_table.pager(), def.firstPage(), index.rootPage, m_pages);
        OwnedIndexPages pages(allocator, index.usageMap);
        if (before) {
            Status removed = tree.remove(before->key, rowIdOf(change.row), pages);
            if (removed.code() == ErrorCode::NotFound)
                return corruption("an index of table \"" + toUtf8(m_table.name()) +
                                  "\" lacks the entry of the record being changed");
            VK_RETURN_IF_ERROR(removed);
        }
        if (after) {
            bool keyWasNew = false;
            Status inserted = tree.insert(after->key, rowIdOf(change.row), index.isUnique(), pages, &keyWasNew);
            if (inserted.code() == ErrorCode::Constraint)
                return Status(ErrorCode::Constraint, "the change would give two records of table \"" +
                                                         toUtf8(m_table.name()) +
                                                         "\" the same value in a unique index");
            VK_RETURN_IF_ERROR(inserted);
            if (keyWasNew) VK_RETURN_IF_ERROR(addUniqueEntries(m_table.pager(), def.firstPage(), i, 1));
        }
    }
    return Status::ok();
}

}  // namespace varnika::jet

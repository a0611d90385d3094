#include "db/jet/index/jet_index_maintainer.h"

#include "db/jet/index/entry_digest.h"
#include "db/jet/index/index_entry_walk.h"
#include "db/jet/index/index_tree.h"
#include "db/jet/table/row_runs.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/row_store.h"
#include "db/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
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

// The most text values whose keys one pass over rows keeps.
constexpr size_t kKeyMemoEntries = 4096;
// The most text values of one index whose keys a run's changes keep: the
// few a replace or a delete meets again and again, not the many different
// texts a title case goes through, kept as long as the run.
constexpr size_t kChangeKeyMemoEntries = 256;

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

// What a pass over rows reads of each row: the same for every part of the
// table's rows.
struct RowPassPlan {
    std::vector<size_t> indexes;  // compared
    std::vector<size_t> counted;  // only counted
    // Per compared index: its one text column, whose keys are made once for
    // each stored form of a value, or -1.
    std::vector<int> memoColumns;
    std::vector<int> decoded, checked, checkedFixed;
    size_t fixedReach = 0;
};

RowPassPlan planRowPass(const TableDef& def, const std::vector<size_t>& indexes, bool countOthers)
{
    RowPassPlan plan;
    plan.indexes = indexes;
    if (countOthers)
        for (size_t i = 0; i < def.realIndexes().size(); ++i)
            if (std::find(indexes.begin(), indexes.end(), i) == indexes.end()) plan.counted.push_back(i);
    // An index of one text column (a unit, a branch, a customer) meets the
    // same few values over many records: the key of each stored form of a
    // value is made once, without decoding the value again.
    plan.memoColumns.assign(indexes.size(), -1);
    for (size_t i = 0; i < indexes.size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[indexes[i]];
        if (index.columns.size() != 1) continue;
        const int col = def.findColumnByNumber(index.columns.front().columnNumber);
        if (col >= 0 && def.columns()[size_t(col)].type() == ColumnType::Text) plan.memoColumns[i] = col;
    }
    // Decoded for every row: the key columns of the other indexes compared,
    // and the long values of the indexes counted. A memo's column is read
    // as stored bytes for every row and decoded only for a value not met
    // before. Every other column but the long values (which stay unread) is
    // only checked to be readable, as decoding it would: an index counted
    // needs no more of its key columns than whether they are null.
    auto addOnce = [](std::vector<int>& to, int col) {
        if (col >= 0 && std::find(to.begin(), to.end(), col) == to.end()) to.push_back(col);
    };
    for (size_t i = 0; i < indexes.size(); ++i)
        if (plan.memoColumns[i] < 0)
            for (const RealIndexColumn& kc : def.realIndexes()[indexes[i]].columns)
                addOnce(plan.decoded, def.findColumnByNumber(kc.columnNumber));
    for (size_t i : plan.counted)
        for (const RealIndexColumn& kc : def.realIndexes()[i].columns) {
            const int col = def.findColumnByNumber(kc.columnNumber);
            if (col >= 0 && isLongValueType(def.columns()[size_t(col)].type())) addOnce(plan.decoded, col);
        }
    auto memoColumn = [&](int c) { return std::find(plan.memoColumns.begin(), plan.memoColumns.end(), c) != plan.memoColumns.end(); };
    // A fixed column can only fail by reaching past the row's fixed area:
    // when the area reaches past every one of them, none is checked alone.
    for (size_t c = 0; c < def.columns().size(); ++c) {
        const ColumnDef& column = def.columns()[c];
        if (isLongValueType(column.type()) || memoColumn(int(c)) ||
            std::find(plan.decoded.begin(), plan.decoded.end(), int(c)) != plan.decoded.end() || column.isBoolean())
            continue;
        if (column.isVariable()) {
            plan.checked.push_back(int(c));
        } else {
            plan.checkedFixed.push_back(int(c));
            plan.fixedReach =
                std::max(plan.fixedReach, def.format().row.fixedArea + column.fixedOffset + column.fixedWidth());
        }
    }
    return plan;
}

// The rows one thread reads, and what they make: the digest of the entries
// each compared index should hold for them, and how many of them each
// counted index should hold an entry for. The memo of keys is kept from
// one part of the rows to the next.
class RowPass {
public:
    RowPass(Table& table, const RowPassPlan& plan, uint16_t lcid, uint8_t version)
        : m_table(table), m_plan(plan), m_lcid(lcid), m_version(version), m_name(toUtf8(table.name())),
          m_memos(plan.indexes.size()), m_values(table.def().columns().size())
    {
        expected.resize(plan.indexes.size());
        rowsWithEntry.assign(plan.counted.size(), 0);
    }

    // Reads the rows `scanner` walks (of this pass's table, whose pager the
    // calling thread alone uses); the first row refused, in scan order, is
    // the error.
    Status read(Table::Scanner scanner)
    {
        const TableDef& def = m_table.def();
        const RowPassPlan& plan = m_plan;
        auto notChanged = [&](const Status& s) {
            return Status(s.code(), "table \"" + m_name + "\" is not changed: " + s.message());
        };
        for (;;) {
            auto more = scanner.next();
            if (!more.isOk()) return corruption(compactAndRepair(m_name) + " (" + more.status().message() + ")");
            if (!*more) break;
            const std::span<const uint8_t> row = scanner.row().bytes();
            auto unreadable = [&](const Status& s) {
                return corruption(compactAndRepair(m_name) + " (the record at page " + std::to_string(scanner.pointer().page) +
                                  " row " + std::to_string(scanner.pointer().row) + " cannot be read: " + s.message() + ")");
            };
            auto layout = parseRowLayout(def, row);
            if (!layout.isOk()) return unreadable(layout.status());
            for (int col : plan.checked)
                if (Status s = checkColumn(def, *layout, row, col); !s.isOk()) return unreadable(s);
            if (layout->fixedEnd < plan.fixedReach)
                for (int col : plan.checkedFixed)
                    if (Status s = checkColumn(def, *layout, row, col); !s.isOk()) return unreadable(s);
            for (int col : plan.decoded) {
                auto v = decodeColumn(def, *layout, row, col, &m_table.longValues());
                if (!v.isOk()) return unreadable(v.status());
                m_values[size_t(col)] = std::move(*v);
            }
            for (size_t i = 0; i < plan.indexes.size(); ++i) {
                const int memoColumn = plan.memoColumns[i];
                const RealIndexDef& index = def.realIndexes()[plan.indexes[i]];
                const std::optional<IndexKeyEntry>* known = nullptr;  // the memo's key for this stored value
                if (memoColumn >= 0) {
                    auto f = fieldBytes(def, *layout, row, memoColumn);
                    if (!f.isOk()) return unreadable(f.status());
                    // Null fields and stored texts are remembered apart.
                    const std::string_view stored(reinterpret_cast<const char*>(f->bytes.data()), f->bytes.size());
                    auto& memo = m_memos[i][f->present ? 1 : 0];
                    if (auto hit = memo.find(stored); hit != memo.end()) {
                        known = &hit->second;
                    } else {
                        auto v = decodeColumn(def, *layout, row, memoColumn, &m_table.longValues());
                        if (!v.isOk()) return unreadable(v.status());
                        m_values[size_t(memoColumn)] = std::move(*v);
                        if (memo.size() < kKeyMemoEntries) {
                            auto e = indexEntryFor(def, index, m_values, m_lcid, m_version);
                            if (!e.isOk()) return notChanged(e.status());
                            known = &memo.emplace(std::string(stored), std::move(*e)).first->second;
                        }
                    }
                }
                std::span<const uint8_t> key;
                if (known) {
                    if (!*known) continue;
                    key = (*known)->key;
                } else {
                    // A key made for this row alone, in a buffer kept for it.
                    m_key.clear();
                    auto held = appendIndexKey(m_key, def, index, m_values, m_lcid, m_version);
                    if (!held.isOk()) return notChanged(held.status());
                    if (!*held) continue;
                    key = m_key;
                }
                const RowPointer at = scanner.pointer();
                addEntry(expected[i], key, {uint8_t(at.page >> 16), uint8_t(at.page >> 8), uint8_t(at.page), at.row});
            }
            for (size_t i = 0; i < plan.counted.size(); ++i) {
                // An entry for every row, but where the index leaves out rows
                // whose key columns are all null.
                const RealIndexDef& index = def.realIndexes()[plan.counted[i]];
                bool holds = !index.ignoresNulls();
                for (const RealIndexColumn& kc : index.columns) {
                    if (holds) break;
                    const int col = def.findColumnByNumber(kc.columnNumber);
                    if (col < 0 || def.columns()[size_t(col)].isBoolean()) {
                        holds = true;
                        continue;
                    }
                    if (isLongValueType(def.columns()[size_t(col)].type())) {
                        holds = !m_values[size_t(col)].isNull();  // decoded above: an empty old-style value is null
                        continue;
                    }
                    auto f = fieldBytes(def, *layout, row, col);
                    if (!f.isOk()) return unreadable(f.status());
                    holds = f->present;
                }
                rowsWithEntry[i] += holds;
            }
        }
        return Status::ok();
    }

    // What the rows read make, the other pass's added.
    void add(const RowPass& other)
    {
        for (size_t i = 0; i < expected.size(); ++i) expected[i] += other.expected[i];
        for (size_t i = 0; i < rowsWithEntry.size(); ++i) rowsWithEntry[i] += other.rowsWithEntry[i];
    }

    std::vector<EntryDigest> expected;
    std::vector<uint64_t> rowsWithEntry;

private:
    Table& m_table;
    const RowPassPlan& m_plan;
    uint16_t m_lcid;
    uint8_t m_version;
    std::string m_name;
    // Stored bytes looked up as they lie in the row, without a copy.
    struct StoredHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using KeyMemo = std::unordered_map<std::string, std::optional<IndexKeyEntry>, StoredHash, std::equal_to<>>;
    std::vector<std::array<KeyMemo, 2>> m_memos;  // null fields, stored values
    // Adds the entry the index holds for `key` and the row: key ‖ row id.
    void addEntry(EntryDigest& digest, std::span<const uint8_t> key, std::array<uint8_t, indexlayout::kRowIdSize> rowId)
    {
        uint8_t* entry = m_entry.data();
        if (m_entry.size() < key.size() + rowId.size()) {
            m_long.assign(key.begin(), key.end());
            m_long.insert(m_long.end(), rowId.begin(), rowId.end());
            digest.add(m_long);
            return;
        }
        std::memcpy(entry, key.data(), key.size());
        std::memcpy(entry + key.size(), rowId.data(), rowId.size());
        digest.add({entry, key.size() + rowId.size()});
    }

    std::vector<Variant> m_values;
    std::vector<uint8_t> m_key;
    // Room for an entry of a key of usual length; a longer one goes to m_long.
    std::array<uint8_t, 128> m_entry;
    std::vector<uint8_t> m_long;
};

// What an index holds: its entries' digest (or their count alone), or why
// it could not be walked.
struct WalkResult {
    Status status = Status::ok();
    EntryDigest stored;
};

WalkResult walkIndex(Pager& pager, uint32_t rootPage, bool countOnly)
{
    WalkResult r;
    if (countOnly) {
        // Counted, with every check of the walk, without putting the
        // entries' bytes together.
        r.status = forEachIndexEntryWith<false>(pager, rootPage, [&](std::span<const uint8_t>) {
            ++r.stored.count;
            return Status::ok();
        });
    } else {
        r.status = forEachIndexEntryWith(pager, rootPage, [&](std::span<const uint8_t> entry) {
            r.stored.add(entry);
            return Status::ok();
        });
    }
    return r;
}

}  // namespace

Status verifyIndexes(Table& table, const std::vector<size_t>& indexes, uint16_t lcid, uint8_t version,
                     std::set<uint32_t>& verified, bool countOthers)
{
    const TableDef& def = table.def();
    const std::string name = toUtf8(table.name());
    const RowPassPlan plan = planRowPass(def, indexes, countOthers);
    VK_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, table.ownedPages());

    std::vector<WalkResult> countedWalks, comparedWalks;
    auto walkIndexes = [&] {
        for (size_t i : plan.counted) countedWalks.push_back(walkIndex(table.pager(), def.realIndexes()[i].rootPage, true));
        for (size_t i : plan.indexes) comparedWalks.push_back(walkIndex(table.pager(), def.realIndexes()[i].rootPage, false));
    };

    // A large table's rows are read by two threads, while this one walks
    // the indexes first. The digests of the two parts add up to the
    // digests of the whole.
    RowPass rows(table, plan, lcid, version);
    std::optional<RowPass> otherRows;  // the second thread's
    VK_RETURN_IF_ERROR(readRowsInRuns(
        table, pages,
        [&](Table& t, int thread, std::span<const uint32_t> run) {
            RowPass* pass = &rows;
            if (thread != 0) {
                if (!otherRows) otherRows.emplace(t, plan, lcid, version);
                pass = &*otherRows;
            }
            return pass->read(t.scanPages(std::vector<uint32_t>(run.begin(), run.end())));
        },
        walkIndexes));
    if (otherRows) rows.add(*otherRows);

    for (size_t i = 0; i < plan.counted.size(); ++i) {
        const WalkResult& walked = countedWalks[i];
        if (!walked.status.isOk()) return corruption(compactAndRepair(name) + " (an index: " + walked.status.message() + ")");
        if (walked.stored.count != rows.rowsWithEntry[i])
            return corruption(compactAndRepair(name) + " (an index holds " + std::to_string(walked.stored.count) +
                              " entries where its records make " + std::to_string(rows.rowsWithEntry[i]) + ")");
    }
    for (size_t i = 0; i < plan.indexes.size(); ++i) {
        const WalkResult& walked = comparedWalks[i];
        const EntryDigest& expected = rows.expected[i];
        if (!walked.status.isOk()) return corruption(compactAndRepair(name) + " (an index: " + walked.status.message() + ")");
        if (walked.stored.count != expected.count)
            return corruption(compactAndRepair(name) + " (an index holds " + std::to_string(walked.stored.count) +
                              " entries where its records make " + std::to_string(expected.count) + ")");
        if (!(walked.stored == expected)) return differentKeys(name);
        verified.insert(def.realIndexes()[plan.indexes[i]].rootPage);
    }
    return Status::ok();
}

Status JetIndexMaintainer::verify(const RealIndexDef& index, const RowChange& change)
{
    return verifyWithout(index, change, {});
}

Status JetIndexMaintainer::verifyWithout(const RealIndexDef& index, const RowChange& change,
                                         std::span<const RowPointer> added)
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
        if (!added.empty() && std::binary_search(added.begin(), added.end(), scanner.pointer())) continue;
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

// Puts `entries` (sorted) into the index, the `position`-th real index of
// `table`, and counts the keys it had not held.
Status insertSortedEntries(Table& table, const RealIndexDef& index, size_t position, IndexPageCache* cache,
                           PageAllocator& allocator, std::span<const IndexEntry> entries)
{
    const TableDef& def = table.def();
    IndexTree tree(table.pager(), def.firstPage(), index.rootPage, cache);
    OwnedIndexPages pages(allocator, index.usageMap);
    size_t newKeys = 0;
    Status inserted = tree.insertSorted(entries, index.isUnique(), pages, &newKeys);
    if (inserted.code() == ErrorCode::Constraint)
        return Status(ErrorCode::Constraint, "the change would give two records of table \"" + toUtf8(table.name()) +
                                                 "\" the same value in a unique index");
    VK_RETURN_IF_ERROR(inserted);
    if (newKeys) VK_RETURN_IF_ERROR(addUniqueEntries(table.pager(), def.firstPage(), position, uint32_t(newKeys)));
    return Status::ok();
}

}  // namespace

Result<std::optional<IndexKeyEntry>> JetIndexMaintainer::entryFor(size_t position, const std::vector<Variant>& values)
{
    const TableDef& def = m_table.def();
    const RealIndexDef& index = def.realIndexes()[position];
    const int col = index.columns.size() == 1 ? def.findColumnByNumber(index.columns.front().columnNumber) : -1;
    if (col < 0 || size_t(col) >= values.size() || def.columns()[size_t(col)].type() != ColumnType::Text ||
        values[size_t(col)].type() != VariantType::Text)
        return indexEntryFor(def, index, values, m_lcid, m_version);
    if (m_textKeys.size() < def.realIndexes().size()) m_textKeys.resize(def.realIndexes().size());
    auto& known = m_textKeys[position];
    const std::u16string& text = values[size_t(col)].asText();
    if (auto hit = known.find(text); hit != known.end()) return hit->second;
    VK_ASSIGN_OR_RETURN(std::optional<IndexKeyEntry> e, indexEntryFor(def, index, values, m_lcid, m_version));
    if (known.size() < kChangeKeyMemoEntries) known.emplace(text, e);
    return e;
}

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
            VK_ASSIGN_OR_RETURN(before, entryFor(i, *change.oldValues));
        }
        if (change.newValues) {
            VK_ASSIGN_OR_RETURN(after, entryFor(i, *change.newValues));
        }
        bool same = before.has_value() == after.has_value() && (!before || before->key == after->key);
        if (change.kind == RowChangeKind::Update && same) continue;
        if (!m_verified.count(index.rootPage)) VK_RETURN_IF_ERROR(verify(index, change));
        if (m_holdBack && change.kind != RowChangeKind::Insert && (!index.isUnique() || !after)) {
            if (change.row.page >= (1u << 24)) return invalidArgument("a row id page does not fit in 3 bytes");
            if (m_heldBack.size() < def.realIndexes().size()) m_heldBack.resize(def.realIndexes().size());
            HeldBack& held = m_heldBack[i];
            if (before) held.removed.push_back(IndexEntry::make(before->key, rowIdOf(change.row)));
            if (after) held.added.push_back(IndexEntry::make(after->key, rowIdOf(change.row)));
            continue;
        }

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

bool JetIndexMaintainer::holdsBack() const
{
    return std::any_of(m_heldBack.begin(), m_heldBack.end(),
                       [](const HeldBack& h) { return !h.removed.empty() || !h.added.empty(); });
}

bool JetIndexMaintainer::holdsBackUniqueRemovals() const
{
    const TableDef& def = m_table.def();
    for (size_t i = 0; i < m_heldBack.size() && i < def.realIndexes().size(); ++i)
        if (def.realIndexes()[i].isUnique() && !m_heldBack[i].removed.empty()) return true;
    return false;
}

Status JetIndexMaintainer::writeHeldBack(PageAllocator& allocator)
{
    const TableDef& def = m_table.def();
    auto byBytes = [](const IndexEntry& a, const IndexEntry& b) { return a.bytes < b.bytes; };
    for (size_t i = 0; i < m_heldBack.size() && i < def.realIndexes().size(); ++i) {
        const HeldBack& held = m_heldBack[i];
        if (held.removed.empty() && held.added.empty()) continue;
        const RealIndexDef& index = def.realIndexes()[i];
        // A record changed more than once: an entry taken out and put back
        // (or put in and taken out again) is left as it is.
        std::vector<IndexEntry> removed = held.removed, added = held.added, out, in;
        std::sort(removed.begin(), removed.end(), byBytes);
        std::sort(added.begin(), added.end(), byBytes);
        std::set_difference(removed.begin(), removed.end(), added.begin(), added.end(), std::back_inserter(out), byBytes);
        std::set_difference(added.begin(), added.end(), removed.begin(), removed.end(), std::back_inserter(in), byBytes);
        if (!out.empty()) {
            IndexTree tree(m_table.pager(), def.firstPage(), index.rootPage, m_pages);
            OwnedIndexPages pages(allocator, index.usageMap);
            Status s = tree.removeSorted(out, pages);
            if (s.code() == ErrorCode::NotFound)
                return corruption("an index of table \"" + toUtf8(m_table.name()) +
                                  "\" lacks the entry of a record being changed");
            VK_RETURN_IF_ERROR(s);
        }
        if (!in.empty()) VK_RETURN_IF_ERROR(insertSortedEntries(m_table, index, i, m_pages, allocator, in));
    }
    return Status::ok();
}

void JetIndexMaintainer::heldBackFinished()
{
    for (HeldBack& h : m_heldBack) {
        h.removedMark = h.removed.size();
        h.addedMark = h.added.size();
    }
}

void JetIndexMaintainer::heldBackUndone()
{
    for (HeldBack& h : m_heldBack) {
        h.removed.resize(h.removedMark);
        h.added.resize(h.addedMark);
    }
}

void JetIndexMaintainer::forgetHeldBack()
{
    for (HeldBack& h : m_heldBack) h = HeldBack();
}

Status JetIndexMaintainer::applyInserts(PageAllocator& allocator, uint32_t tdefPage, std::span<const InsertedRow> rows)
{
    if (rows.empty()) return Status::ok();
    const TableDef& def = m_table.def();
    std::vector<RowPointer> added;
    std::vector<IndexEntry> entries;
    entries.reserve(rows.size());
    for (size_t i = 0; i < def.realIndexes().size(); ++i) {
        const RealIndexDef& index = def.realIndexes()[i];
        entries.clear();
        for (const InsertedRow& r : rows) {
            VK_ASSIGN_OR_RETURN(std::optional<IndexKeyEntry> e, entryFor(i, *r.values));
            if (!e) continue;
            if (r.row.page >= (1u << 24)) return invalidArgument("a row id page does not fit in 3 bytes");
            entries.push_back(IndexEntry::make(e->key, rowIdOf(r.row)));
        }
        if (entries.empty()) continue;
        if (!m_verified.count(index.rootPage)) {
            // The index as it was before the rows came.
            if (added.empty()) {
                for (const InsertedRow& r : rows) added.push_back(r.row);
                std::sort(added.begin(), added.end());
            }
            VK_RETURN_IF_ERROR(verifyWithout(index, {RowChangeKind::Insert, tdefPage, rows.front().row, nullptr, nullptr}, added));
        }
        std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) { return a.bytes < b.bytes; });
        VK_RETURN_IF_ERROR(insertSortedEntries(m_table, index, i, m_pages, allocator, entries));
    }
    return Status::ok();
}

}  // namespace varnika::jet

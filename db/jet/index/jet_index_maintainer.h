#pragma once
// Keeps every real index of one table in line with its rows. Keys are built
// from the column values under each column's own sort order; an index whose
// key for the row did not change is left alone (a title-cased text usually
// keeps its key). An index that must change loses the row's old entry and
// gains its new one; before its first change in a session its stored entries
// are compared with the keys of the rows, so that one entry out and one in
// keeps it exact.

#include "db/jet/index/index_builder.h"
#include "db/jet/table/index_maintainer.h"
#include "db/jet/index/key_codec.h"
#include "db/jet/table/table.h"

#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnika::jet {

// The collation of a text column: its own sort order, or the database's when
// the column carries none.
Result<TextCollation> columnCollation(const ColumnDef& column, uint16_t databaseLcid, uint8_t databaseVersion,
                                      const JetFormat& format = JetFormat::jet4());

// The key of `values` (in column-list order) for a real index, or nothing
// when the index leaves out rows whose key columns are all Null.
Result<std::optional<IndexKeyEntry>> indexEntryFor(const TableDef& def, const RealIndexDef& index,
                                                const std::vector<Variant>& values, uint16_t databaseLcid,
                                                uint8_t databaseVersion);

// indexEntryFor into `key` (appended to): whether the row has an entry, and
// its key when it has. A caller making keys for many rows keeps one buffer.
Result<bool> appendIndexKey(std::vector<uint8_t>& key, const TableDef& def, const RealIndexDef& index,
                            const std::vector<Variant>& values, uint16_t databaseLcid, uint8_t databaseVersion);

// Whether the index holds an entry for a row with `values`: every row but
// those whose key columns are all Null in an index that leaves them out.
// Needs no key encoding, so it holds for indexes under any sort order.
bool indexHoldsRow(const TableDef& def, const RealIndexDef& index, const std::vector<Variant>& values);

// The leaf entries (key and row id) the index should hold for the table's
// rows as they stand, sorted. `replaced` gives, for one row, the values to
// use instead of the stored ones (nullptr: leave that row out).
struct RowOverride {
    RowPointer row;
    const std::vector<Variant>* values = nullptr;
};
Result<std::vector<std::vector<uint8_t>>> expectedIndexEntries(Table& table, const RealIndexDef& index,
                                                               uint16_t databaseLcid, uint8_t databaseVersion,
                                                               std::optional<RowOverride> replaced = std::nullopt);

// Compares the stored entries of each of `indexes` (positions in the
// table's real-index list) with the keys of the table's rows, in one pass
// over the rows, and adds the roots of those found exact to `verified`.
// Every row is decoded whole (long values left unread), so a row that
// cannot be read is found here too. With `countOthers`, every other real
// index of the table is counted in the same pass: it must hold one entry
// for each row that makes one (its keys are not compared, so an index
// under a sort order this engine does not encode is counted too). A
// damaged table (an index with more or fewer entries than rows, a row that
// cannot be read) is a Corruption, an index whose keys were made under
// other rules, or under a sort order this engine does not encode,
// NotSupported; both name the table and change nothing.
Status verifyIndexes(Table& table, const std::vector<size_t>& indexes, uint16_t databaseLcid, uint8_t databaseVersion,
                     std::set<uint32_t>& verified, bool countOthers = false);

class JetIndexMaintainer final : public IndexMaintainer {
public:
    // `verified` holds the root pages of the indexes already found to hold
    // exactly the keys this engine makes for their rows; it outlives the
    // maintainer (the database keeps it), so each index is checked once.
    // `pages` (optional, owned by the database like `verified`) keeps decoded
    // index pages from one change to the next.
    JetIndexMaintainer(Table& table, uint16_t databaseLcid, uint8_t databaseVersion, std::set<uint32_t>& verified,
                       IndexPageCache* pages = nullptr)
        : m_table(table), m_lcid(databaseLcid), m_version(databaseVersion), m_verified(verified), m_pages(pages) {}

    Status apply(PageAllocator& allocator, const RowChange& change) override;
    // Each index gains the entries of all the rows at once, in key order.
    Status applyInserts(PageAllocator& allocator, uint32_t tdefPage, std::span<const InsertedRow> rows) override;

    // Compares the stored entries of the index with the keys of the rows as
    // they were before `change` (NotSupported when they differ: the file's
    // keys were made under rules this engine does not reproduce, and
    // rewriting them would move entries Access expects elsewhere).
    Status verify(const RealIndexDef& index, const RowChange& change);

    // Holding back: an update's changes to an index that is not unique, and
    // a delete's removals from any index, are kept and made by
    // writeHeldBack(), each index's removals and then its additions in key
    // order, each leaf read and written once. A change to a unique index
    // that adds a key is made at once, so that a clash is refused where it
    // arises.
    void holdBack(bool on) override { m_holdBack = on; }
    bool holdsBack() const override;
    bool holdsBackUniqueRemovals() const override;
    Status writeHeldBack(PageAllocator& allocator) override;
    void heldBackFinished() override;
    void heldBackUndone() override;
    void forgetHeldBack() override;

private:
    // indexEntryFor() for the `position`-th real index. The key of a value
    // of an index of one text column is made once and remembered: a run
    // meets the same few units or branches over and over.
    Result<std::optional<IndexKeyEntry>> entryFor(size_t position, const std::vector<Variant>& values);
    // verify() with the rows at `added` (sorted) left out as well.
    Status verifyWithout(const RealIndexDef& index, const RowChange& change, std::span<const RowPointer> added);

    Table& m_table;
    uint16_t m_lcid;
    uint8_t m_version;
    std::set<uint32_t>& m_verified;
    IndexPageCache* m_pages;
    // Held-back changes, by position in the real-index list; the entries
    // before the marks are the finished operations', those after the
    // operation's in hand.
    struct HeldBack {
        std::vector<IndexEntry> removed, added;
        size_t removedMark = 0, addedMark = 0;
    };
    bool m_holdBack = false;
    std::vector<HeldBack> m_heldBack;
    // The keys entryFor() made, by position in the real-index list.
    std::vector<std::unordered_map<std::u16string, std::optional<IndexKeyEntry>>> m_textKeys;
};

}  // namespace varnika::jet

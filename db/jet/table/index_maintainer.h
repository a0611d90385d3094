#pragma once
// The seam between writing rows and keeping a table's indexes right. The
// table writer changes the data pages of one row, then hands the change to
// the maintainer before the operation's commit; an error from the
// maintainer makes the writer roll the whole operation back, so data and
// indexes are written together or not at all.

#include "db/jet/page/page_allocator.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <span>
#include <vector>

namespace varnika::jet {

enum class RowChangeKind { Insert, Update, Delete };

struct RowChange {
    RowChangeKind kind = RowChangeKind::Update;
    uint32_t tdefPage = 0;
    // The row's header slot: what index entries name. It is the same before
    // and after an update, also when the row's bytes moved to another page.
    RowPointer row;
    // Every column's value in the order of the table definition's column
    // list; oldValues is null for an insert, newValues null for a delete.
    // A delete's old values hold the long values only of indexed columns.
    const std::vector<Variant>* oldValues = nullptr;
    const std::vector<Variant>* newValues = nullptr;
};

// A row just added: its header slot and every column's value.
struct InsertedRow {
    RowPointer row;
    const std::vector<Variant>* values = nullptr;
};

class IndexMaintainer {
public:
    virtual ~IndexMaintainer() = default;
    // Brings every real index of the table in line with `change`, allocating
    // or freeing index pages through `allocator`. Must refuse (and change
    // nothing it cannot have rolled back) when a key cannot be encoded for
    // this file or a unique index would get a duplicate.
    virtual Status apply(PageAllocator& allocator, const RowChange& change) = 0;
    // The same for rows added together, all of them already stored; a
    // maintainer may add their entries to each index at once.
    virtual Status applyInserts(PageAllocator& allocator, uint32_t tdefPage, std::span<const InsertedRow> rows)
    {
        for (const InsertedRow& r : rows)
            VK_RETURN_IF_ERROR(apply(allocator, {RowChangeKind::Insert, tdefPage, r.row, nullptr, r.values}));
        return Status::ok();
    }

    // Holding back (see TableWriter::holdBackIndexEntries): from holdBack(true)
    // on, apply() may keep an index's changes for writeHeldBack() instead of
    // making them, where that cannot change what apply() refuses.
    virtual void holdBack(bool /*on*/) {}
    // Whether anything is held back; whether any of it is a removal from a
    // unique index (a key that must be gone before it can come back).
    virtual bool holdsBack() const { return false; }
    virtual bool holdsBackUniqueRemovals() const { return false; }
    // Makes the held-back changes (and holds on to them until forgotten).
    virtual Status writeHeldBack(PageAllocator& /*allocator*/) { return Status::ok(); }
    // What the operation in hand held back joins the finished ones', or is
    // forgotten; or everything held back is forgotten.
    virtual void heldBackFinished() {}
    virtual void heldBackUndone() {}
    virtual void forgetHeldBack() {}
};

// For tables without real indexes. The table writer refuses to change a
// table that has indexes unless a real maintainer is given.
class NoIndexes final : public IndexMaintainer {
public:
    Status apply(PageAllocator&, const RowChange&) override { return Status::ok(); }
};

}  // namespace varnika::jet

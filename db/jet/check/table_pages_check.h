#pragma once
// Consistency checks of a table's data pages after writing, as the
// post-write checklist asks: the maps agree with the pages, every page is a
// sound data page of the table, moved rows are reachable exactly once, and
// the TDEF's row count matches the rows. Used by tests after every write and
// by the command-line check.
//
// Damage that leaves every record readable (Access leaves it in files
// copied while open) is reported, not refused: a row count that differs
// from the rows, and a moved row whose record was deleted.

#include "db/jet/file/pager.h"
#include "db/jet/page/page_layout.h"
#include "db/status.h"

#include <cstdint>
#include <vector>

namespace varnika::jet {

struct TablePagesSummary {
    uint32_t dataPages = 0;
    uint32_t baseRows = 0;    // slots a table scan counts (header slots included)
    uint32_t movedRows = 0;   // overflow headers, each with its target
    uint32_t recordedRows = 0;  // the TDEF's row count
    // Access itself leaves the count of some system tables off (MSysObjects
    // in several sample files), so a difference is reported, not refused.
    bool rowCountMatches() const { return baseRows == recordedRows; }
    // Moved rows (0x8000 only) that no header points at: what is left when
    // a record's header slot was deleted and its moved bytes were not. No
    // table scan reads them, and every record stays readable.
    std::vector<RowPointer> unreferencedMovedRows;
};

// Checks the table whose TDEF starts at `tdefPage`:
// - the free-space map is a subset of the owned-pages map, and no owned
//   page is free in the global map;
// - every owned page passes checkDataPage() and has this TDEF as owner;
// - every overflow header points at an overflow target (0x8000 only) on an
//   owned page, and no target is pointed at by two headers,
// and counts the rows (see rowCountMatches()) and the moved rows no header
// points at. The first other departure is a Corruption naming what is
// wrong.
Result<TablePagesSummary> checkTablePages(Pager& pager, uint32_t tdefPage);

}  // namespace varnika::jet

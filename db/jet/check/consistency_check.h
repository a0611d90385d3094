#pragma once
// A full consistency check of a database, reading only: for the catalog and
// every user table, its pages against its usage maps and the file's page
// map, moved rows, the row count, every row decoded with its Memo and OLE
// chains read whole, and every index against the table's rows (a sound
// tree, in key order, whose entries are exactly the keys of the rows).

#include "db/jet/database.h"
#include "db/status.h"

#include <string>
#include <vector>

namespace varnika::jet {

struct CheckReport {
    size_t tables = 0;
    size_t rows = 0;
    size_t indexes = 0;
    std::vector<std::string> problems;  // the file is not sound
    std::vector<std::string> notes;     // worth knowing, not wrong (e.g. Access's own stale counts)
    bool ok() const { return problems.empty(); }
};

// Fails only when the check itself cannot run (the catalog is unreadable);
// everything found wrong goes into the report.
Result<CheckReport> checkDatabase(Database& db);

}  // namespace varnika::jet

#include "db/jet/check/consistency_check.h"

#include "db/jet/index/entry_digest.h"
#include "db/jet/index/index_entry_walk.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/check/index_check.h"
#include "db/jet/index/jet_index_maintainer.h"
#include "db/jet/check/page_census.h"
#include "db/jet/check/table_pages_check.h"
#include "db/jet/index/index_page.h"
#include "db/text.h"

#include <optional>

namespace varnika::jet {
namespace {

constexpr uint32_t kCatalogTdefPage = 2;

// How the report names a real index: by the names of the indexes Access
// shows that use it ("PrimaryKey"), or by its number when none does.
std::string indexName(const TableDef& def, size_t realIndex)
{
    std::string names;
    for (const LogicalIndexDef& logical : def.logicalIndexes()) {
        if (logical.realIndex != realIndex) continue;
        names += (names.empty() ? "\"" : ", \"") + toUtf8(logical.name) + "\"";
    }
    return names.empty() ? std::to_string(realIndex) : names;
}

// One pass over the rows: every row decodes with its long values read whole
// (so every Memo and OLE chain is followed), and each sound index tree holds
// exactly the entries its rows make. The trees themselves are checked for
// order, so sets of entries are compared, through digests that need no
// memory for the entries. An index whose keys this engine cannot make (a
// sort order it does not encode) is compared by the rows it points at.
void compareRowsWithIndexes(Database& db, Table& table, const std::string& name, CheckReport& report)
{
    const TableDef& def = table.def();
    const auto& indexes = def.realIndexes();
    struct Compared {
        bool treeSound = false;
        std::optional<std::string> cannot;  // why the rows make no keys for it
        EntryDigest expected;
        EntryDigest expectedRows;  // the row ids alone
    };
    std::vector<Compared> compared(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
        ++report.indexes;
        Status tree = checkIndexTree(db.pager(), def.firstPage(), indexes[i].rootPage);
        if (!tree.isOk())
            report.problems.push_back(name + " index " + indexName(def, i) + ": " + tree.message());
        compared[i].treeSound = tree.isOk();
    }

    auto scanner = table.scan();
    if (!scanner.isOk()) {
        report.problems.push_back(name + ": " + scanner.status().message());
        return;
    }
    for (;;) {
        auto more = scanner->next();
        if (!more.isOk()) {
            report.problems.push_back(name + ": " + more.status().message());
            return;
        }
        if (!*more) break;
        auto values = scanner->values();
        if (!values.isOk()) {
            report.problems.push_back(name + ": the row at page " + std::to_string(scanner->pointer().page) + " row " +
                                      std::to_string(scanner->pointer().row) + " cannot be read: " +
                                      values.status().message());
            return;
        }
        for (size_t i = 0; i < indexes.size(); ++i) {
            Compared& c = compared[i];
            if (!c.treeSound) continue;
            if (indexHoldsRow(def, indexes[i], *values)) {
                const std::vector<uint8_t> rowId = leafEntryBytes(IndexKeyEntry{{}, scanner->pointer(), false});
                c.expectedRows.add(rowId);
            }
            if (c.cannot) continue;
            auto e = indexEntryFor(def, indexes[i], *values, db.header().sortLcid, db.header().sortVersion);
            if (!e.isOk()) {
                c.cannot = e.status().message();
                continue;
            }
            if (!*e) continue;
            (*e)->row = scanner->pointer();
            c.expected.add(leafEntryBytes(**e));
        }
    }

    for (size_t i = 0; i < indexes.size(); ++i) {
        const Compared& c = compared[i];
        const std::string what = name + " index " + indexName(def, i);
        if (!c.treeSound) continue;
        EntryDigest stored, storedRows;
        Status walked = forEachIndexEntryWith(db.pager(), indexes[i].rootPage, [&](std::span<const uint8_t> entry) {
            stored.add(entry);
            if (entry.size() >= indexlayout::kRowIdSize) storedRows.add(entry.last(indexlayout::kRowIdSize));
            return Status::ok();
        });
        if (!walked.isOk()) {
            report.problems.push_back(what + ": " + walked.message());
            continue;
        }
        const EntryDigest& want = c.cannot ? c.expectedRows : c.expected;
        const EntryDigest& have = c.cannot ? storedRows : stored;
        if (c.cannot)
            report.notes.push_back(what + ": its keys were not compared with its rows, only the rows it points at (" +
                                   *c.cannot + ")");
        if (have == want) continue;
        std::string problem = what + ": holds " + std::to_string(have.count) + " entries where its rows make " +
                              std::to_string(want.count);
        if (have.count == want.count) problem += c.cannot ? ", for other rows" : ", with different keys";
        report.problems.push_back(problem + "; Access's \"Compact and Repair\" rebuilds it");
    }
}

void checkTable(Database& db, Table& table, bool systemTable, CheckReport& report)
{
    const std::string name = toUtf8(table.name());
    ++report.tables;
    auto pages = checkTablePages(db.pager(), table.tdefPage());
    if (!pages.isOk()) {
        report.problems.push_back(name + ": " + pages.status().message());
        return;
    }
    report.rows += pages->baseRows;
    if (!pages->rowCountMatches()) {
        // Access keeps some system tables' counts loosely; in a user table
        // the difference is what a copy made while the file was open leaves.
        std::string msg = name + ": the table records " + std::to_string(pages->recordedRows) + " rows but holds " +
                          std::to_string(pages->baseRows);
        if (systemTable) report.notes.push_back(msg);
        else report.problems.push_back(msg + "; Access's \"Compact and Repair\" corrects the count");
    }
    for (RowPointer moved : pages->unreferencedMovedRows)
        report.problems.push_back(name + ": row " + std::to_string(moved.row) + " of page " + std::to_string(moved.page) +
                                  " is a moved row whose record was deleted (no record points at it); Access's "
                                  "\"Compact and Repair\" removes it");
    compareRowsWithIndexes(db, table, name, report);
}

// Every page against the structures that hold it and the global map.
// Pages another writer (or a map's reach) left unused are notes: they cost
// room, not soundness.
void checkPageMaps(Database& db, CheckReport& report)
{
    auto census = takePageCensus(db.pager(), db.catalog());
    if (!census.isOk()) {
        report.problems.push_back("the global page map: " + census.status().message());
        return;
    }
    for (const std::string& p : census->problems) report.problems.push_back(p);
    if (!census->heldByNoMap.empty()) {
        std::string first = std::to_string(census->heldByNoMap.front());
        report.notes.push_back(std::to_string(census->heldByNoMap.size()) +
                               " page(s) are held by no table, index or map and stay unused until the file is "
                               "compacted (the first is page " + first + ")");
    }
    if (census->globalInline && census->outsideWindow > 0)
        report.notes.push_back("the global page map covers pages " + std::to_string(census->windowStart) + " to " +
                               std::to_string(census->windowEnd - 1) + "; the " + std::to_string(census->outsideWindow) +
                               " page(s) of the file outside it count as in use");
    if (census->unusableGlobalPointers > 0)
        report.notes.push_back("the global page map names " + std::to_string(census->unusableGlobalPointers) +
                               " bitmap page(s) that are not in the file or not bitmap pages; their pages count as in use");
}

}  // namespace

Result<CheckReport> checkDatabase(Database& db)
{
    CheckReport report;
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> catalog, Table::open(db.pager(), kCatalogTdefPage, u"MSysObjects"));
    checkTable(db, *catalog, true, report);
    for (const CatalogEntry& e : db.catalog().tables()) {
        auto table = db.table(e.name);
        if (!table.isOk()) {
            report.problems.push_back(toUtf8(e.name) + ": " + table.status().message());
            continue;
        }
        checkTable(db, **table, false, report);
    }
    checkPageMaps(db, report);
    return report;
}

}  // namespace varnika::jet

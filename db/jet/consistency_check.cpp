#include "db/jet/consistency_check.h"

#include "db/jet/index_builder.h"
#include "db/jet/index_check.h"
#include "db/jet/jet_index_maintainer.h"
#include "db/jet/table_pages_check.h"
#include "db/text.h"

namespace varnika::jet {
namespace {

constexpr uint32_t kCatalogTdefPage = 2;

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
        std::string msg = name + ": the definition counts " + std::to_string(pages->recordedRows) +
                          " rows, the pages hold " + std::to_string(pages->baseRows);
        (systemTable ? report.notes : report.problems).push_back(msg);
    }
    const TableDef& def = table.def();
    for (size_t i = 0; i < def.realIndexes().size(); ++i) {
        const RealIndexDef& ix = def.realIndexes()[i];
        ++report.indexes;
        const std::string what = name + " index " + std::to_string(i);
        Status tree = checkIndexTree(db.pager(), def.firstPage(), ix.rootPage);
        if (!tree.isOk()) {
            report.problems.push_back(what + ": " + tree.message());
            continue;
        }
        auto stored = readIndexEntries(db.pager(), ix.rootPage);
        if (!stored.isOk()) {
            report.problems.push_back(what + ": " + stored.status().message());
            continue;
        }
        auto expected = expectedIndexEntries(table, ix, db.header().sortLcid, db.header().sortVersion);
        if (!expected.isOk()) {
            report.notes.push_back(what + " was not compared with its rows: " + expected.status().message());
            continue;
        }
        if (*stored == *expected) continue;
        size_t same = 0;
        while (same < stored->size() && same < expected->size() && (*stored)[same] == (*expected)[same]) ++same;
        report.problems.push_back(what + ": holds " + std::to_string(stored->size()) + " entries where its rows make " +
                                  std::to_string(expected->size()) + "; they differ from entry " + std::to_string(same));
    }
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
    return report;
}

}  // namespace varnika::jet

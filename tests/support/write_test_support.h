#pragma once
// Shared pieces of the writer tests: small in-memory databases, opening
// copies of real files, and reading tables back with mdbtools.

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page_editor.h"
#include "db/jet/file/page_file.h"
#include "db/jet/page/page_allocator.h"
#include "db/jet/file/pager.h"
#include "db/jet/table/row_store.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace varnika::test {

// Page 0 (blank), page 1 with a 69-byte inline global map (pages 0..2 used,
// everything after free) and the unknown second row, page 2 an empty data
// page for usage-map rows.
inline std::unique_ptr<jet::Pager> makeMemoryDatabase()
{
    using namespace jet;
    std::vector<uint8_t> bytes(3 * kPageSize, 0);
    DataPageEditor page1 = DataPageEditor::create(1, 1);
    std::vector<uint8_t> global(usagemap::kStandardRowSize, 0xFF);
    global[usagemap::kKind] = usagemap::kKindInline;
    putU32(global.data(), usagemap::kInlineStartPage, 0);
    global[usagemap::kInlineBitmap] = 0xF8;  // pages 0, 1, 2 used
    EXPECT_TRUE(page1.addRow(global).isOk());
    EXPECT_TRUE(page1.addRow(std::vector<uint8_t>(usagemap::kStandardRowSize, 0)).isOk());
    std::copy(page1.page().begin(), page1.page().end(), bytes.begin() + kPageSize);
    PageBuffer page2 = makeDataPage(0);
    std::copy(page2.begin(), page2.end(), bytes.begin() + 2 * kPageSize);
    return std::make_unique<Pager>(std::make_unique<MemoryPageFile>(std::move(bytes)));
}

// An empty inline owner map (69 bytes, start `start`), added to page 2 of a
// memory database or to any map page.
inline jet::RowPointer addEmptyOwnerMap(jet::Pager& pager, uint32_t mapPage, uint32_t start = 0)
{
    using namespace jet;
    auto page = pager.read(mapPage);
    EXPECT_TRUE(page.isOk());
    auto editor = DataPageEditor::open(**page, mapPage);
    EXPECT_TRUE(editor.isOk()) << editor.status().toString();
    std::vector<uint8_t> row(usagemap::kStandardRowSize, 0);
    putU32(row.data(), usagemap::kInlineStartPage, start);
    auto slot = editor->addRow(row);
    EXPECT_TRUE(slot.isOk());
    EXPECT_TRUE(pager.write(mapPage, editor->page()).isOk());
    return RowPointer{mapPage, uint8_t(*slot)};
}

// A memory database with one table: its TDEF (last AutoNumber 8) on page 3,
// its owned and free-space maps on page 2.
struct MemoryTable {
    std::unique_ptr<jet::Pager> pager;
    std::unique_ptr<jet::PageAllocator> alloc;
    jet::TablePages table;
};

inline MemoryTable makeTable()
{
    using namespace jet;
    MemoryTable t;
    t.pager = makeMemoryDatabase();
    t.alloc = std::make_unique<PageAllocator>(*t.pager);
    PageBuffer tdefPage{};
    tdefPage[page::kType] = uint8_t(PageType::TableDefinition);
    tdefPage[page::kMarker] = page::kMarkerValue;
    putU32(tdefPage.data(), tdef::kAutoNumber, 8);
    auto tdef = t.alloc->allocatePage(tdefPage, {});
    EXPECT_TRUE(tdef.isOk());
    t.table = {*tdef, addEmptyOwnerMap(*t.pager, 2), addEmptyOwnerMap(*t.pager, 2)};
    putU32(tdefPage.data(), tdef::kOwnedPagesMap, t.table.ownedMap.toWord());
    putU32(tdefPage.data(), tdef::kFreePagesMap, t.table.freeSpaceMap.toWord());
    EXPECT_TRUE(t.pager->write(*tdef, tdefPage).isOk());
    EXPECT_TRUE(t.pager->commit().isOk());
    return t;
}

inline std::unique_ptr<jet::Pager> openCopy(const std::filesystem::path& file)
{
    auto f = jet::openPosixFile(file.string(), jet::OpenMode::ReadWrite);
    EXPECT_TRUE(f.isOk()) << f.status().toString();
    return std::make_unique<jet::Pager>(std::move(*f));
}

// Every table mdbtools lists (user tables), exported as CSV, and the
// schema under the key "(schema)".
inline std::map<std::string, std::string> exportAllTables(const std::filesystem::path& file)
{
    std::map<std::string, std::string> out;
    CommandResult list = runCommand({"mdb-tables", "-1", file.string()});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    std::istringstream names(list.out);
    std::string name;
    while (std::getline(names, name)) {
        if (name.empty()) continue;
        CommandResult csv = runCommand({"mdb-export", file.string(), name});
        EXPECT_EQ(csv.exitCode, 0) << name << ": " << csv.err;
        out[name] = csv.out;
    }
    CommandResult schema = runCommand({"mdb-schema", file.string()});
    EXPECT_EQ(schema.exitCode, 0) << schema.err;
    out["(schema)"] = schema.out;
    return out;
}

}  // namespace varnika::test

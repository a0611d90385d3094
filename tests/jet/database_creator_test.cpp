#include "db/jet/page/data_page_editor.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/file/memory_file_system.h"
#include "db/jet/file/pager.h"
#include "db/jet/table/table_def.h"
#include "db/jet/page/usage_map.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace varnika::jet {
namespace {

std::vector<std::string> lines(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) out.push_back(l);
    return out;
}

TEST(DatabaseCreator, ANewFileIsMadeWholeOrNotAtAll)
{
    MemoryFileSystem files;
    const NewDatabaseOptions options;
    ASSERT_TRUE(createDatabaseFile(files, "/veri/yeni.mdb", options).isOk());
    auto made = files.bytes("/veri/yeni.mdb");
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(made->size() % kPageSize, 0u);
    EXPECT_TRUE(Database::open(std::make_unique<MemoryPageFile>(*made)).isOk());
    EXPECT_EQ(createDatabaseFile(files, "/veri/yeni.mdb", options).code(), ErrorCode::InvalidArgument);
    EXPECT_EQ(files.bytes("/veri/yeni.mdb"), made);

    files.setFolderWritable("/veri", false);
    EXPECT_EQ(createDatabaseFile(files, "/veri/ikinci.mdb", options).code(), ErrorCode::IOError);
    EXPECT_FALSE(files.exists("/veri/ikinci.mdb"));
}

TEST(DatabaseCreator, NewDatabaseIsSoundAndMdbtoolsReadsIt)
{
    for (uint16_t lcid : {uint16_t(0x0409), uint16_t(0x041F)}) {
        test::TempDir dir;
        auto path = dir.file("yeni.mdb").string();
        NewDatabaseOptions o;
        o.sortOrderLcid = lcid;
        ASSERT_TRUE(createDatabaseFile(path, o).isOk());
        EXPECT_EQ(createDatabaseFile(path, o).code(), ErrorCode::InvalidArgument);  // never replaces a file

        auto pager = Pager::open(path, OpenMode::ReadOnly);
        ASSERT_TRUE(pager.isOk());
        Pager& p = **pager;
        for (uint32_t tdef : {2u, 3u, 4u, 5u}) {
            auto def = TableDef::read(p, tdef);
            ASSERT_TRUE(def.isOk()) << def.status().toString();
            for (const auto& c : def->columns()) {
                if (isTextType(c.type())) {
                    EXPECT_EQ(c.sortLcid(), lcid);
                }
            }
            auto owned = UsageMap::load(p, def->ownedPagesMap());
            ASSERT_TRUE(owned.isOk());
            for (uint32_t page : owned->pages()) {
                auto bytes = p.read(page);
                ASSERT_TRUE(bytes.isOk());
                EXPECT_TRUE(checkDataPage(std::span<const uint8_t>((*bytes)->data(), kPageSize), page).isOk());
            }
            for (const auto& ix : def->realIndexes()) {
                auto m = UsageMap::load(p, ix.usageMap);
                ASSERT_TRUE(m.isOk());
                EXPECT_TRUE(m->contains(ix.rootPage));
            }
        }
        auto global = UsageMap::load(p, {usagemap::kGlobalMapPage, usagemap::kGlobalMapRow}, false);
        ASSERT_TRUE(global.isOk());
        for (uint32_t page = 0; page < p.pageCount(); ++page) EXPECT_FALSE(global->contains(page)) << page;
        EXPECT_TRUE(global->contains(p.pageCount()));

        if (!test::haveProgram("mdb-tables")) continue;
        auto tables = test::runCommand({"mdb-tables", "-S", "-1", path});
        EXPECT_EQ(lines(tables.out), (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}));
        auto catalog = test::runCommand({"mdb-export", path, "MSysObjects"});
        EXPECT_EQ(catalog.exitCode, 0);
        EXPECT_EQ(lines(catalog.out).size(), 15u);  // header + 14 objects
        EXPECT_EQ(lines(test::runCommand({"mdb-tables", "-1", path}).out).size(), 0u);  // no user tables yet
    }
}

}  // namespace
}  // namespace varnika::jet

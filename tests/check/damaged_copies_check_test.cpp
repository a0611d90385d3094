// What a copy made while the file was open leaves, and text indexes under
// sort orders the engine does not encode: the check reads every live row,
// reports each kind of damage plainly and names what it could not compare.

#include "db/jet/check/consistency_check.h"
#include "support/layout_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace varnika::jet {
namespace {

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST(DamagedCopiesCheck, EachKindIsReportedPlainly)
{
    struct Case {
        const char* what;
        std::function<Status(layouts::MovedRows&)> damage;
        std::vector<std::string> problems;  // one expected problem each, by its words
    };
    const std::vector<Case> cases = {
        {"stale row count",
         [](layouts::MovedRows& m) { return layouts::setStoredRowCount(*m.db, u"Kitap", 63); },
         {"Kitap: the table records 63 rows but holds 60; Access's \"Compact and Repair\" corrects the count"}},
        {"moved row without its record",
         [](layouts::MovedRows& m) { return layouts::orphanMovedRow(m).status(); },
         {"is a moved row whose record was deleted"}},
        {"index entry missing",
         [](layouts::MovedRows& m) { return layouts::dropIndexEntry(*m.db, u"Kitap", u"ixYazar", m.headers.front()); },
         {"Kitap index \"ixYazar\": holds 59 entries where its rows make 60; Access's \"Compact and Repair\" rebuilds it"}},
        {"moved bytes lost",
         [](layouts::MovedRows& m) { return layouts::loseMovedBytes(m).status(); },
         {"which is not a moved row of the table"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        auto moved = layouts::makeMovedRows(dir.file("t.mdb").string());
        ASSERT_TRUE(moved.isOk()) << moved.status().toString();
        Status damaged = c.damage(*moved);
        ASSERT_TRUE(damaged.isOk()) << c.what << ": " << damaged.toString();
        auto report = checkDatabase(*moved->db);
        ASSERT_TRUE(report.isOk()) << c.what;
        ASSERT_EQ(report->problems.size(), c.problems.size()) << c.what << ":\n" << joined(report->problems);
        for (size_t i = 0; i < c.problems.size(); ++i)
            EXPECT_NE(report->problems[i].find(c.problems[i]), std::string::npos) << c.what << ": " << report->problems[i];
    }
}

// Ukrainian, Croatian and Chinese (PRC) keys are not made here: such an
// index is compared by the rows it points at, and named in a note.
TEST(DamagedCopiesCheck, NamesTheIndexesItCouldNotCompare)
{
    for (uint16_t lcid : {uint16_t(1058), uint16_t(1050), uint16_t(2052)}) {
        test::TempDir dir;
        auto db = layouts::makeForeignSortOrder(dir.file("t.mdb").string(), lcid);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        auto report = checkDatabase(**db);
        ASSERT_TRUE(report.isOk());
        EXPECT_TRUE(report->problems.empty()) << joined(report->problems);
        const std::string notes = joined(report->notes);
        for (const char* index : {"Uye index \"PrimaryKey\"", "Uye index \"ixAd\""})
            EXPECT_NE(notes.find(std::string(index) + ": its keys were not compared with its rows"), std::string::npos)
                << lcid << ":\n" << notes;
        EXPECT_NE(notes.find(std::to_string(lcid)), std::string::npos) << notes;
        EXPECT_EQ(notes.find("ixPuan"), std::string::npos) << notes;  // a Long key: compared in full

        // A missing entry is still found through the rows it points at.
        auto rows = (*(*db)->table(u"Uye"))->rowPointers();
        ASSERT_TRUE(rows.isOk());
        ASSERT_TRUE(layouts::dropIndexEntry(**db, u"Uye", u"ixAd", rows->at(3)).isOk());
        report = checkDatabase(**db);
        ASSERT_TRUE(report.isOk());
        ASSERT_EQ(report->problems.size(), 1u) << joined(report->problems);
        EXPECT_NE(report->problems[0].find("Uye index \"ixAd\": holds 11 entries where its rows make 12"), std::string::npos)
            << report->problems[0];
    }
}

// Its text primary key holds Ğ, İ and Ü under the Turkish order: the keys
// are compared in full, and agree.
TEST(DamagedCopiesCheck, TurkishNicknamesAreCompared)
{
    VK_REQUIRE_FIXTURES(fixtures);
    auto db = Database::open((fixtures / "turkish" / "member-nicknames.mdb").string(), OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto report = checkDatabase(**db);
    ASSERT_TRUE(report.isOk());
    EXPECT_TRUE(report->problems.empty()) << joined(report->problems);
    EXPECT_EQ(joined(report->notes).find("not compared"), std::string::npos) << joined(report->notes);
    EXPECT_GE(report->indexes, 2u);
}

}  // namespace
}  // namespace varnika::jet

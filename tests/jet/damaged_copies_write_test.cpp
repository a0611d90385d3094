// Writing to files a copy made while they were open left damaged, and to
// tables whose text indexes are under a sort order the engine does not
// encode: through the data control, as the window writes. Each kind of
// damage is refused before the first record of a run, with a message that
// names the table and Access's repair, or not refused at all.

#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "support/layout_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

namespace varnika {
namespace {

using namespace jet;

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

enum class RunKind { UpdateUnindexed, UpdateIndexed, Delete };

// The first record of `table` changed (or deleted) as a run's first record.
Status firstRecordOfRun(const std::filesystem::path& file, const std::u16string& table, RunKind run,
                        const std::u16string& unindexed, const std::u16string& indexed)
{
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(table);
    VK_RETURN_IF_ERROR(data.Refresh());
    RecordSet* rs = data.Recordset();
    Status s;
    if (run == RunKind::Delete) {
        s = rs->Delete();
    } else {
        VK_RETURN_IF_ERROR(rs->Edit());
        const std::u16string& field = run == RunKind::UpdateIndexed ? indexed : unindexed;
        VK_ASSIGN_OR_RETURN(Field* f, rs->Fields(field));
        VK_RETURN_IF_ERROR(f->SetValue(run == RunKind::UpdateIndexed ? Variant::text(u"Yeni") : Variant::longValue(5)));
        s = rs->Update();
    }
    (void)rs->Close();
    return s;
}

struct Expect {
    ErrorCode code;
    const char* words;  // in the message; empty when the change goes through
};

void expectRuns(const std::filesystem::path& file, const std::u16string& table, const std::u16string& unindexed,
                const std::u16string& indexed, const char* what, const std::vector<std::pair<RunKind, Expect>>& runs)
{
    for (const auto& [run, expect] : runs) {
        const std::vector<uint8_t> before = fileBytes(file);
        Status s = firstRecordOfRun(file, table, run, unindexed, indexed);
        EXPECT_EQ(s.code(), expect.code) << what << " run " << int(run) << ": " << s.toString();
        if (expect.code == ErrorCode::Ok) continue;
        EXPECT_NE(s.message().find(expect.words), std::string::npos) << what << ": " << s.message();
        EXPECT_EQ(fileBytes(file), before) << what << ": a refused run wrote to the file";
    }
}

TEST(DamagedCopiesWrite, EachKindOfDamageIsDecidedBeforeTheFirstRecord)
{
    const Expect ok{ErrorCode::Ok, ""};
    const Expect repair{ErrorCode::Corruption, "table \"Kitap\" is damaged and is not changed; Access's \"Compact and Repair\" mends it"};
    struct Case {
        const char* what;
        std::function<Status(layouts::MovedRows&)> damage;
        std::vector<std::pair<RunKind, Expect>> runs;
    };
    const std::vector<Case> cases = {
        {"stale row count", [](layouts::MovedRows& m) { return layouts::setStoredRowCount(*m.db, u"Kitap", 63); },
         {{RunKind::UpdateUnindexed, ok}, {RunKind::UpdateIndexed, ok}, {RunKind::Delete, ok}}},
        {"moved row without its record", [](layouts::MovedRows& m) { return layouts::orphanMovedRow(m).status(); },
         {{RunKind::UpdateUnindexed, ok}, {RunKind::Delete, ok}}},
        {"index entry missing",
         [](layouts::MovedRows& m) { return layouts::dropIndexEntry(*m.db, u"Kitap", u"ixYazar", m.headers.at(1)); },
         {{RunKind::UpdateUnindexed, repair}, {RunKind::UpdateIndexed, repair}, {RunKind::Delete, repair}}},
        {"moved bytes lost", [](layouts::MovedRows& m) { return layouts::loseMovedBytes(m).status(); },
         {{RunKind::UpdateUnindexed, repair}, {RunKind::Delete, repair}}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const auto file = dir.file("t.mdb");
        {
            auto moved = layouts::makeMovedRows(file.string());
            ASSERT_TRUE(moved.isOk()) << moved.status().toString();
            ASSERT_TRUE(c.damage(*moved).isOk()) << c.what;
        }
        expectRuns(file, u"Kitap", u"Sayfa", u"Yazar", c.what, c.runs);
    }
}

// A stored count that is off stays off by as much: it moves with the
// records deleted and added.
TEST(DamagedCopiesWrite, AStaleRowCountKeepsItsDifference)
{
    test::TempDir dir;
    const auto file = dir.file("t.mdb");
    {
        auto moved = layouts::makeMovedRows(file.string());
        ASSERT_TRUE(moved.isOk());
        ASSERT_TRUE(layouts::setStoredRowCount(*moved->db, u"Kitap", 63).isOk());
    }
    ASSERT_TRUE(firstRecordOfRun(file, u"Kitap", RunKind::Delete, u"Sayfa", u"Yazar").isOk());
    auto db = Database::open(file.string(), OpenMode::ReadWrite);
    ASSERT_TRUE(db.isOk());
    ASSERT_TRUE(layouts::runStatements(*db, {u"INSERT INTO Kitap (Ad, Sayfa) VALUES ('Yeni', 1)",
                                             u"INSERT INTO Kitap (Ad, Sayfa) VALUES ('Yeni', 2)"})
                    .isOk());
    auto table = (*db)->table(u"Kitap");
    ASSERT_TRUE((*table)->reload().isOk());
    EXPECT_EQ((*table)->def().rowCount(), 64u);  // 63 - 1 + 2, over 61 records
    EXPECT_EQ((*table)->rowPointers()->size(), 61u);

    // A count of none does not make a table with records look empty: a
    // required field is not added to it.
    ASSERT_TRUE(layouts::setStoredRowCount(**db, u"Kitap", 0).isOk());
    Status required = layouts::runStatements(*db, {u"ALTER TABLE Kitap ADD COLUMN Zorunlu LONG NOT NULL"});
    EXPECT_EQ(required.code(), ErrorCode::NotSupported) << required.toString();
}

// 1058 Ukrainian, 1050 Croatian, 2052 Chinese (PRC): a change that would
// touch a text index under such an order is refused before the first
// record; other changes go through.
TEST(DamagedCopiesWrite, SortOrdersWeDoNotEncode)
{
    const Expect refused{ErrorCode::NotSupported, "table \"Uye\" is not changed"};
    for (uint16_t lcid : {uint16_t(1058), uint16_t(1050), uint16_t(2052)}) {
        test::TempDir dir;
        const auto file = dir.file("t.mdb");
        ASSERT_TRUE(layouts::makeForeignSortOrder(file.string(), lcid).isOk());
        const std::string what = "sort order " + std::to_string(lcid);
        expectRuns(file, u"Uye", u"Puan", u"Ad", what.c_str(),
                   {{RunKind::UpdateIndexed, refused}, {RunKind::Delete, refused}, {RunKind::UpdateUnindexed, {ErrorCode::Ok, ""}}});
        auto db = Database::open(file.string(), OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk());
        auto report = checkDatabase(**db);
        ASSERT_TRUE(report.isOk());
        EXPECT_TRUE(report->problems.empty()) << what;
    }
}

}  // namespace
}  // namespace varnika

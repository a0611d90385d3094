// A run through a record set writes its records in groups. A failure the run
// reports keeps every record before it, in the file at once, even if the
// process is killed right after; the failing record is undone alone, amid
// the group, and the run can go on.

#include "db/data_statement.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/file/journal.h"
#include "db/jet/index/index_seek.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/long_value.h"
#include "db/jet/table/table_writer.h"
#include "db/jet/table/row_codec.h"
#include "support/ddl_test_support.h"
#include "support/fault_file.h"

#include <fstream>
#include <map>

namespace varnika::jet {
namespace {

using Bytes = std::shared_ptr<std::vector<uint8_t>>;
constexpr int kRecords = 200;

std::vector<uint8_t> codedTable()
{
    ddltest::NewDb t;
    EXPECT_TRUE(t.run("CREATE TABLE T (Id COUNTER PRIMARY KEY, Kod LONG, Ad TEXT(50))").isOk());
    EXPECT_TRUE(t.run("CREATE UNIQUE INDEX ixKod ON T (Kod)").isOk());
    EXPECT_TRUE(t.run("CREATE INDEX ixAd ON T (Ad)").isOk());
    for (int i = 0; i < kRecords; ++i)
        EXPECT_TRUE(t.run("INSERT INTO T (Kod, Ad) VALUES (" + std::to_string(i * 10) + ", 'eski " + std::to_string(i) + "')").isOk());
    t.db.reset();
    t.executor.reset();
    return ddltest::fileBytes(t.path);
}

std::shared_ptr<Database> openOver(Bytes db, Bytes journal)
{
    auto plan = std::make_shared<test::FaultPlan>();
    auto pager = std::make_unique<Pager>(std::make_unique<test::FaultFile>(db, plan), 64);
    pager->setJournal(std::make_unique<Journal>(std::make_unique<test::FaultFile>(journal, plan)));
    auto opened = Database::open(std::move(pager));
    EXPECT_TRUE(opened.isOk()) << opened.status().toString();
    return opened.isOk() ? *opened : nullptr;
}

// The Ad of every record, in Kod order of the original rows, as the next
// open finds the file (its journal rolled back), after a full check.
std::vector<std::u16string> namesOnReopening(const std::vector<uint8_t>& db, const std::vector<uint8_t>& journal)
{
    auto file = std::make_shared<std::vector<uint8_t>>(db);
    auto calm = std::make_shared<test::FaultPlan>();
    {
        test::FaultFile f(file, calm);
        Journal j(std::make_unique<test::FaultFile>(std::make_shared<std::vector<uint8_t>>(journal), calm));
        EXPECT_TRUE(rollBackPendingJournal(f, j).isOk());
    }
    auto opened = Database::open(std::make_unique<test::FaultFile>(file, calm));
    EXPECT_TRUE(opened.isOk());
    if (!opened.isOk()) return {};
    auto report = checkDatabase(**opened);
    EXPECT_TRUE(report.isOk());
    if (report.isOk())
        for (const std::string& p : report->problems) ADD_FAILURE() << p;
    std::vector<std::u16string> names(kRecords);
    auto table = (*opened)->table(u"T");
    auto rows = (*table)->rowPointers();
    EXPECT_EQ(rows->size(), size_t(kRecords));
    for (RowPointer p : *rows) {
        auto v = (*table)->readRow(p);
        EXPECT_TRUE(v.isOk());
        if (v.isOk()) names.at(size_t((*v)[0].asLong() - 1)) = (*v)[2].asText();
    }
    return names;
}

std::u16string name(const char* prefix, int i) { return fromUtf8(prefix + std::to_string(i)); }

TEST(GroupedRun, AFailureMidRunKeepsEveryRecordBeforeItAndUndoesItsOwnRecordAlone)
{
    const std::vector<uint8_t> original = codedTable();
    auto db = std::make_shared<std::vector<uint8_t>>(original);
    auto journal = std::make_shared<std::vector<uint8_t>>();
    auto database = openOver(db, journal);
    ASSERT_TRUE(database);
    // No group commit falls in the run by itself: only the failure saves.
    database->pager().setGroupLimits({100000, 100000});
    auto rs = TableRecordSet::openTable(database, u"T");
    ASSERT_TRUE(rs.isOk());
    RecordSet& records = **rs;
    constexpr int kFailing = 120;
    auto change = [&](int i, int32_t kod) -> Status {
        VK_RETURN_IF_ERROR(records.Edit());
        VK_RETURN_IF_ERROR((*records.Fields(u"Ad"))->SetValue(Variant::text(name("yeni ", i))));
        VK_RETURN_IF_ERROR((*records.Fields(u"Kod"))->SetValue(Variant::longValue(kod)));
        return records.Update();
    };
    ASSERT_TRUE(records.MoveFirst().isOk());
    for (int i = 0; i < kFailing; ++i) {
        ASSERT_TRUE(change(i, i * 10 + 1).isOk()) << i;
        ASSERT_TRUE(records.MoveNext().isOk());
    }
    EXPECT_EQ(*db, original);  // all held in memory so far
    // Kod 1 is record 0's by now: the unique index refuses it, after the row
    // and the other index were already written in memory.
    Status refused = change(kFailing, 1);
    ASSERT_EQ(refused.code(), ErrorCode::Constraint) << refused.toString();

    // Killed at this instant: every record before the failure is in the file.
    std::vector<std::u16string> expected(kRecords);
    for (int i = 0; i < kRecords; ++i) expected[size_t(i)] = name(i < kFailing ? "yeni " : "eski ", i);
    EXPECT_EQ(namesOnReopening(*db, *journal), expected);

    // The run goes on past the refused record.
    for (int i = kFailing + 1; i < kRecords; ++i) {
        ASSERT_TRUE(records.MoveNext().isOk());
        ASSERT_TRUE(change(i, i * 10 + 1).isOk()) << i;
        expected[size_t(i)] = name("yeni ", i);
    }
    ASSERT_TRUE(records.Close().isOk());
    EXPECT_EQ(namesOnReopening(*db, *journal), expected);
}

// The Ad of every record left, by Kod, as the next open finds the file (its
// journal rolled back), after a full check of its rows and indexes.
std::map<int32_t, std::u16string> recordsOnReopening(const std::vector<uint8_t>& db, const std::vector<uint8_t>& journal)
{
    auto file = std::make_shared<std::vector<uint8_t>>(db);
    auto calm = std::make_shared<test::FaultPlan>();
    {
        test::FaultFile f(file, calm);
        Journal j(std::make_unique<test::FaultFile>(std::make_shared<std::vector<uint8_t>>(journal), calm));
        EXPECT_TRUE(rollBackPendingJournal(f, j).isOk());
    }
    std::map<int32_t, std::u16string> records;
    auto opened = Database::open(std::make_unique<test::FaultFile>(file, calm));
    EXPECT_TRUE(opened.isOk());
    if (!opened.isOk()) return records;
    auto report = checkDatabase(**opened);
    EXPECT_TRUE(report.isOk());
    if (report.isOk())
        for (const std::string& p : report->problems) ADD_FAILURE() << p;
    auto table = (*opened)->table(u"T");
    auto rows = (*table)->rowPointers();
    for (RowPointer p : *rows) {
        auto v = (*table)->readRow(p);
        EXPECT_TRUE(v.isOk());
        if (v.isOk()) records[(*v)[1].asLong()] = (*v)[2].asText();
    }
    return records;
}

// A run's index changes wait for its group to be written, and are made
// then, together. Wherever a write fails (the group's, the journal's, the
// file's, in any group of the run), and whether or not the process dies at
// that instant, the file opened again has every index right for its rows,
// and every record entirely old, entirely new, or deleted; the records
// changed are those before the failure (all of them, when the process
// lived on and nothing was said to be lost).
TEST(GroupedRun, AWriteThatFailsAnywhereLeavesEveryIndexRightAndEveryRecordWhole)
{
    const std::vector<uint8_t> original = codedTable();
    // The first records' Ad changes (an index that waits); then every third
    // record is deleted (every index waits for its removal, the unique one
    // too). The groups end amid both.
    constexpr int kUpdated = 120;
    auto changes = [](int i) { return i < kUpdated || i % 3 == 0; };
    auto run = [&](Bytes db, Bytes journal, std::shared_ptr<test::FaultPlan> plan, int& failedAt) -> Status {
        failedAt = kRecords;
        auto pager = std::make_unique<Pager>(std::make_unique<test::FaultFile>(db, plan), 64);
        pager->setJournal(std::make_unique<Journal>(std::make_unique<test::FaultFile>(journal, plan)));
        auto opened = Database::open(std::move(pager));
        if (!opened.isOk()) return opened.status();
        (*opened)->pager().setGroupLimits({100000, 25});
        auto rs = TableRecordSet::openTable(*opened, u"T");
        if (!rs.isOk()) return rs.status();
        RecordSet& records = **rs;
        VK_RETURN_IF_ERROR(records.MoveFirst());
        for (int i = 0; i < kRecords; ++i) {
            failedAt = i;
            if (i >= kUpdated && changes(i)) {
                VK_RETURN_IF_ERROR(records.Delete());
            } else if (changes(i)) {
                VK_RETURN_IF_ERROR(records.Edit());
                VK_RETURN_IF_ERROR((*records.Fields(u"Ad"))->SetValue(Variant::text(name("yeni ", i))));
                VK_RETURN_IF_ERROR(records.Update());
            }
            VK_RETURN_IF_ERROR(records.MoveNext());
        }
        failedAt = kRecords;
        return records.Close();
    };
    auto isNew = [&](const std::map<int32_t, std::u16string>& records, int i) {
        auto r = records.find(i * 10);
        if (i >= kUpdated) return r == records.end();
        return r != records.end() && r->second == name("yeni ", i);
    };
    long writes = 0;
    {
        auto plan = std::make_shared<test::FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(original);
        int failedAt = 0;
        ASSERT_TRUE(run(db, std::make_shared<std::vector<uint8_t>>(), plan, failedAt).isOk());
        writes = plan->writes;
        const auto records = recordsOnReopening(*db, {});
        for (int i = 0; i < kRecords; ++i) EXPECT_EQ(changes(i), isNew(records, i)) << i;
    }
    ASSERT_GT(writes, 20);
    size_t failures = 0;
    for (bool crash : {false, true})
        for (long n = 1; n <= writes; ++n) {
            SCOPED_TRACE((crash ? "dying at write " : "failing write ") + std::to_string(n));
            auto plan = std::make_shared<test::FaultPlan>();
            plan->failWriteAt = n;
            plan->crash = crash;
            auto db = std::make_shared<std::vector<uint8_t>>(original);
            auto journal = std::make_shared<std::vector<uint8_t>>();
            int failedAt = 0;
            Status s = run(db, journal, plan, failedAt);
            if (s.isOk()) continue;  // the write that failed was tried again
            ++failures;
            const bool lost = s.message().find("lost") != std::string::npos;
            const auto records = recordsOnReopening(*db, *journal);
            // The records changed: the first ones the run changes, and no
            // further than the failure.
            int upTo = 0;
            while (upTo < kRecords && (!changes(upTo) || isNew(records, upTo))) ++upTo;
            for (int i = upTo; i < kRecords; ++i) {
                auto r = records.find(i * 10);
                ASSERT_NE(r, records.end()) << i;
                EXPECT_EQ(r->second, name("eski ", i)) << i;
            }
            EXPECT_LE(upTo, failedAt) << s.toString();
            if (!crash && !lost) {
                // Every record before the failing one is saved.
                int expected = failedAt;
                while (expected < kRecords && !changes(expected)) ++expected;
                EXPECT_EQ(upTo, expected) << s.toString();
            }
        }
    EXPECT_GE(failures, size_t(writes));
}

// Statements run in a group the caller began (as varnika-db exec runs a
// list of them) hold their index changes back as well, and each writes them
// with the group as it ends. Wherever a write fails, a statement that says
// it is done has its records in the file, unless a later failure says
// records were lost; every record is whole and every index right.
TEST(GroupedRun, StatementsInTheCallersGroupSaveWhatTheyHeldBackOrSayTheyFailed)
{
    const std::vector<uint8_t> original = codedTable();
    const char* statements[] = {
        "UPDATE T SET Ad = 'yeni' WHERE Kod < 1200",  // records 0 to 119: an index that waits
        "DELETE FROM T WHERE Kod >= 1500",            // records 150 to 199: every index waits
        "UPDATE T SET Ad = 'son' WHERE Kod = 1300",   // record 130
    };
    constexpr int kStatements = 3;
    auto changedBy = [](int statement, int i) {
        return statement == 0 ? i < 120 : statement == 1 ? i >= 150 : i == 130;
    };
    auto isNew = [&](const std::map<int32_t, std::u16string>& records, int statement, int i) {
        auto r = records.find(i * 10);
        if (statement == 1) return r == records.end();
        return r != records.end() && r->second == (statement == 0 ? u"yeni" : u"son");
    };
    auto run = [&](Bytes db, Bytes journal, std::shared_ptr<test::FaultPlan> plan, int& done) -> Status {
        done = 0;
        auto pager = std::make_unique<Pager>(std::make_unique<test::FaultFile>(db, plan), 64);
        pager->setJournal(std::make_unique<Journal>(std::make_unique<test::FaultFile>(journal, plan)));
        auto opened = Database::open(std::move(pager));
        if (!opened.isOk()) return opened.status();
        std::shared_ptr<Database> database = *opened;
        database->pager().setGroupLimits({100000, 25});
        database->pager().beginGroup();
        for (; done < kStatements; ++done) {
            Result<DataStatement> statement = parseDataStatement(fromUtf8(statements[done]));
            if (!statement.isOk()) return statement.status();
            Result<int64_t> changed = executeDataStatement(database, *statement, RegionalSettings::unitedStates());
            if (!changed.isOk()) {
                (void)database->pager().endGroup();
                return changed.status();
            }
        }
        return database->pager().endGroup();
    };
    long writes = 0;
    {
        auto plan = std::make_shared<test::FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(original);
        int done = 0;
        Status s = run(db, std::make_shared<std::vector<uint8_t>>(), plan, done);
        ASSERT_TRUE(s.isOk()) << s.toString();
        writes = plan->writes;
    }
    ASSERT_GT(writes, 20);
    size_t failures = 0;
    // A write that fails once (tried again), three in a row (the group is
    // lost), or the process dying at it.
    for (int mode = 0; mode < 3; ++mode)
        for (long n = 1; n <= writes; ++n) {
            const bool crash = mode == 2;
            SCOPED_TRACE((crash ? "dying at write " : "failing write ") + std::to_string(n) + " mode " + std::to_string(mode));
            auto plan = std::make_shared<test::FaultPlan>();
            plan->failWriteAt = n;
            plan->failWrites = mode == 1 ? 3 : 1;
            plan->crash = crash;
            auto db = std::make_shared<std::vector<uint8_t>>(original);
            auto journal = std::make_shared<std::vector<uint8_t>>();
            int done = 0;
            Status s = run(db, journal, plan, done);
            if (!s.isOk()) ++failures;
            const bool lost = s.message().find("lost") != std::string::npos ||
                              s.message().find("could not be saved") != std::string::npos;
            // A message that tells of lost records does not say the
            // statement's records stay.
            if (lost) {
                EXPECT_EQ(s.message().find("stay"), std::string::npos) << s.toString();
            }
            const auto records = recordsOnReopening(*db, *journal);
            for (int i = 0; i < kRecords; ++i) {
                int statement = -1;
                for (int k = kStatements - 1; k >= 0 && statement < 0; --k)
                    if (changedBy(k, i)) statement = k;
                if (statement < 0) {
                    auto r = records.find(i * 10);
                    ASSERT_NE(r, records.end()) << i;
                    EXPECT_EQ(r->second, name("eski ", i)) << i;
                    continue;
                }
                // A statement that said it was done, with no loss told
                // after it, is in the file (when the process lived on).
                if (!crash && !lost && statement < done) {
                    EXPECT_TRUE(isNew(records, statement, i)) << i << " " << s.toString();
                }
                if (statement > done) {
                    EXPECT_FALSE(isNew(records, statement, i)) << i;
                }
            }
        }
    EXPECT_GE(failures, size_t(writes));
}

// While a run holds back index changes, a change or a search that could
// meet them half made has them written first: a search finds the deleted
// records gone, a key a deleted record gave up is taken by another record
// at once, and records another writer adds (into the room the deleted ones
// left) get index entries of their own.
TEST(GroupedRun, HeldBackIndexChangesAreWrittenBeforeAChangeThatCouldMeetThem)
{
    const std::vector<uint8_t> original = codedTable();
    auto db = std::make_shared<std::vector<uint8_t>>(original);
    auto journal = std::make_shared<std::vector<uint8_t>>();
    auto database = openOver(db, journal);
    ASSERT_TRUE(database);
    database->pager().setGroupLimits({100000, 100000});
    auto rs = TableRecordSet::openTable(database, u"T");
    ASSERT_TRUE(rs.isOk());
    RecordSet& records = **rs;
    ASSERT_TRUE(records.MoveFirst().isOk());
    auto deleteUpTo = [&](int& i, int end) {
        for (; i < end; ++i) {
            ASSERT_TRUE(records.Delete().isOk()) << i;
            ASSERT_TRUE(records.MoveNext().isOk());
        }
    };
    int i = 0;
    deleteUpTo(i, 10);  // Kod 0 to 90
    {
        // A search through the index finds them gone.
        auto table = database->table(u"T");
        ASSERT_TRUE(table.isOk());
        auto found = seekEqualRows(**table, 1, Variant::longValue(20));
        ASSERT_TRUE(found.isOk()) << found.status().toString();
        ASSERT_TRUE(found->has_value());
        EXPECT_TRUE((*found)->empty());
    }
    // Another writer adds records, with Kod 10 to 14 (record 1 gave up 10,
    // in a unique index), into the room the deleted records left.
    {
        auto table = database->table(u"T");
        ASSERT_TRUE(table.isOk());
        auto other = database->changeTable(**table);
        ASSERT_TRUE(other.isOk());
        for (int k = 0; k < 5; ++k) {
            auto added = other->writer->insertRow({Variant(), Variant::longValue(10 + k), Variant::text(name("ek ", k))});
            ASSERT_TRUE(added.isOk()) << added.status().toString();
        }
    }
    deleteUpTo(i, 15);  // Kod 100 to 140
    // Record 15 takes Kod 100, which record 10 gave up.
    ASSERT_TRUE(records.Edit().isOk());
    ASSERT_TRUE((*records.Fields(u"Kod"))->SetValue(Variant::longValue(100)).isOk());
    Status taken = records.Update();
    ASSERT_TRUE(taken.isOk()) << taken.toString();
    ASSERT_TRUE(records.MoveNext().isOk());
    ++i;
    deleteUpTo(i, 20);
    ASSERT_TRUE(records.Close().isOk());

    std::map<int32_t, std::u16string> expected;
    for (int r = 20; r < kRecords; ++r) expected[r * 10] = name("eski ", r);
    expected[100] = name("eski ", 15);
    for (int k = 0; k < 5; ++k) expected[10 + k] = name("ek ", k);
    EXPECT_EQ(recordsOnReopening(*db, *journal), expected);
}

// A record shown (its field read) and then edited is written from what the
// file holds at the Edit: a change another record set made in between
// stays, and so does one this record set made to the same record.
// A record changed by another record set between this one's Edit and its
// Update: the Update writes what this record set holds, and keeps the
// indexes and long values right for the record as the file held it then,
// not as it was read at the Edit.
TEST(GroupedRun, AnUpdateAfterAnotherChangedTheRecordKeepsIndexesAndLongValuesRight)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE N (Id COUNTER PRIMARY KEY, Kod LONG, Ad TEXT(50), Notlar MEMO)").isOk());
    ASSERT_TRUE(t.run("CREATE INDEX ixAd ON N (Ad)").isOk());
    const std::string memo(120, 'm');
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(t.run("INSERT INTO N (Kod, Ad, Notlar) VALUES (" + std::to_string(i) + ", 'ad " + std::to_string(i) +
                          "', '" + memo + "')")
                        .isOk());
    auto shown = TableRecordSet::openTable(t.db, u"N");
    ASSERT_TRUE(shown.isOk());
    RecordSet& first = **shown;
    ASSERT_TRUE(first.MoveFirst().isOk());
    ASSERT_TRUE(first.Edit().isOk());
    {
        auto other = TableRecordSet::openTable(t.db, u"N");
        ASSERT_TRUE(other.isOk());
        RecordSet& second = **other;
        ASSERT_TRUE(second.MoveFirst().isOk());
        ASSERT_TRUE(second.Edit().isOk());
        ASSERT_TRUE((*second.Fields(u"Ad"))->SetValue(Variant::text(u"başkası")).isOk());
        ASSERT_TRUE((*second.Fields(u"Notlar"))->SetValue(Variant::text(std::u16string(150, u'x'))).isOk());
        ASSERT_TRUE(second.Update().isOk());
        ASSERT_TRUE(second.Close().isOk());
    }
    ASSERT_TRUE((*first.Fields(u"Kod"))->SetValue(Variant::longValue(77)).isOk());
    ASSERT_TRUE(first.Update().isOk());
    ASSERT_TRUE(first.Close().isOk());

    auto report = checkDatabase(*t.db);
    ASSERT_TRUE(report.isOk());
    for (const std::string& p : report->problems) ADD_FAILURE() << p;
    auto table = t.db->table(u"N");
    ASSERT_TRUE(table.isOk());
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    auto record = (*table)->readRow(rows->front());
    ASSERT_TRUE(record.isOk());
    EXPECT_EQ((*record)[1].asLong(), 77);
    EXPECT_EQ((*record)[2].asText(), u"ad 0");
    EXPECT_EQ((*record)[3].asText(), fromUtf8(memo));
}

// A record whose long value cannot be read: an update of its other fields
// writes them and keeps the long value's bytes as stored; an update that
// writes the whole record (the long value set, or the database changed
// since the Edit) is refused and writes nothing of the record.
TEST(GroupedRun, ALongValueThatCannotBeReadIsKeptAsStoredByAnUpdateOfOtherFields)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE N (Id COUNTER PRIMARY KEY, Kod LONG, Notlar MEMO)").isOk());
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(t.run("INSERT INTO N (Kod, Notlar) VALUES (" + std::to_string(i) + ", '" + std::string(300, 'm') + "')").isOk());
    auto memoField = [&]() -> std::vector<uint8_t> {
        auto table = t.db->table(u"N");
        auto rows = (*table)->rowPointers();
        auto row = (*table)->rowBytes(rows->front());
        auto layout = parseRowLayout((*table)->def(), row->bytes());
        auto field = fieldBytes((*table)->def(), *layout, row->bytes(), 2);
        EXPECT_TRUE(field.isOk() && field->present);
        return field.isOk() ? std::vector<uint8_t>(field->bytes.begin(), field->bytes.end()) : std::vector<uint8_t>();
    };
    const std::vector<uint8_t> stored = memoField();
    ASSERT_GE(stored.size(), longvalue::kHeaderSize);
    auto header = LongValueHeader::parse(stored);
    ASSERT_TRUE(header.isOk());
    ASSERT_NE(header->kind, longvalue::kKindInline);
    // Its page no longer says it holds long values.
    const size_t pageSize = t.db->pager().pageSize();
    t.executor.reset();
    t.db.reset();
    std::vector<uint8_t> bytes = ddltest::fileBytes(t.path);
    putU32(bytes.data(), size_t(header->first.page) * pageSize + datapage::kOwner, 0x00FFFFFF);
    std::ofstream(t.path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    t.reopen();

    auto opened = TableRecordSet::openTable(t.db, u"N");
    ASSERT_TRUE(opened.isOk());
    RecordSet& first = **opened;
    ASSERT_TRUE(first.MoveFirst().isOk());
    ASSERT_TRUE(first.Edit().isOk());
    ASSERT_TRUE((*first.Fields(u"Kod"))->SetValue(Variant::longValue(77)).isOk());
    ASSERT_TRUE(first.Update().isOk());
    EXPECT_EQ(memoField(), stored);

    ASSERT_TRUE(first.Edit().isOk());
    EXPECT_EQ((*first.Fields(u"Notlar"))->SetValue(Variant::text(u"yeni")).code(), ErrorCode::Corruption);
    ASSERT_TRUE(first.Edit().isOk());
    ASSERT_TRUE((*first.Fields(u"Kod"))->SetValue(Variant::longValue(78)).isOk());
    {
        auto other = TableRecordSet::openTable(t.db, u"N");
        ASSERT_TRUE(other.isOk());
        RecordSet& second = **other;
        ASSERT_TRUE(second.MoveLast().isOk());
        ASSERT_TRUE(second.Edit().isOk());
        ASSERT_TRUE((*second.Fields(u"Kod"))->SetValue(Variant::longValue(5)).isOk());
        ASSERT_TRUE(second.Update().isOk());
        ASSERT_TRUE(second.Close().isOk());
    }
    EXPECT_EQ(first.Update().code(), ErrorCode::Corruption);
    ASSERT_TRUE(first.Close().isOk());
    auto table = t.db->table(u"N");
    auto rows = (*table)->rowPointers();
    auto row = (*table)->rowBytes(rows->front());
    auto layout = parseRowLayout((*table)->def(), row->bytes());
    auto kod = decodeColumn((*table)->def(), *layout, row->bytes(), 1, nullptr);
    ASSERT_TRUE(kod.isOk());
    EXPECT_EQ(kod->asLong(), 77);
    EXPECT_EQ(memoField(), stored);
}

TEST(GroupedRun, EditTakesTheRecordAsTheDatabaseHoldsItThen)
{
    auto db = std::make_shared<std::vector<uint8_t>>(codedTable());
    auto journal = std::make_shared<std::vector<uint8_t>>();
    auto database = openOver(db, journal);
    ASSERT_TRUE(database);
    auto shown = TableRecordSet::openTable(database, u"T");
    ASSERT_TRUE(shown.isOk());
    RecordSet& first = **shown;
    ASSERT_TRUE(first.MoveFirst().isOk());
    EXPECT_EQ((*first.Fields(u"Ad"))->Value()->asText(), u"eski 0");
    {
        auto other = TableRecordSet::openTable(database, u"T");
        ASSERT_TRUE(other.isOk());
        RecordSet& second = **other;
        ASSERT_TRUE(second.MoveFirst().isOk());
        ASSERT_TRUE(second.Edit().isOk());
        ASSERT_TRUE((*second.Fields(u"Ad"))->SetValue(Variant::text(u"başkası yazdı")).isOk());
        ASSERT_TRUE(second.Update().isOk());
        ASSERT_TRUE(second.Close().isOk());
    }
    ASSERT_TRUE(first.Edit().isOk());
    EXPECT_EQ((*first.Fields(u"Ad"))->Value()->asText(), u"başkası yazdı");
    ASSERT_TRUE((*first.Fields(u"Kod"))->SetValue(Variant::longValue(7)).isOk());
    ASSERT_TRUE(first.Update().isOk());
    // Shown again, then edited again without moving.
    EXPECT_EQ((*first.Fields(u"Kod"))->Value()->asLong(), 7);
    ASSERT_TRUE(first.Edit().isOk());
    EXPECT_EQ((*first.Fields(u"Kod"))->Value()->asLong(), 7);
    ASSERT_TRUE((*first.Fields(u"Ad"))->SetValue(Variant::text(u"son")).isOk());
    ASSERT_TRUE(first.Update().isOk());
    ASSERT_TRUE(first.Close().isOk());
    database.reset();

    std::vector<std::u16string> expected;
    for (int i = 0; i < kRecords; ++i) expected.push_back(name("eski ", i));
    expected[0] = u"son";
    EXPECT_EQ(namesOnReopening(*db, *journal), expected);
    auto reopened = Database::open(std::make_unique<test::FaultFile>(db, std::make_shared<test::FaultPlan>()));
    ASSERT_TRUE(reopened.isOk());
    auto table = (*reopened)->table(u"T");
    ASSERT_TRUE(table.isOk());
    auto rows = (*table)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    bool seen = false;
    for (RowPointer p : *rows) {
        auto v = (*table)->readRow(p);
        ASSERT_TRUE(v.isOk());
        if ((*v)[0].asLong() == 1) {
            EXPECT_EQ((*v)[1].asLong(), 7);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace varnika::jet

// A database that can only be read refuses every kind of change in the same
// words, which say why, and its file stays as it was.

#include "db/data_control.h"
#include "db/data_statement.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/jet/file/journal.h"
#include "db/jet/file/memory_file_system.h"
#include "db/jet/record_sets.h"
#include "db/jet/table/table_row_format.h"
#include "db/jet/table/table_writer.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

const std::string kPath = "/veri/stok.mdb";

// A Stok table with an index and three records, in a file system in memory.
std::shared_ptr<MemoryFileSystem> stokFiles()
{
    auto files = std::make_shared<MemoryFileSystem>();
    EXPECT_TRUE(createDatabaseFile(*files, kPath, NewDatabaseOptions()).isOk());
    auto db = Database::open(files, kPath, OpenMode::ReadWrite);
    EXPECT_TRUE(db.isOk()) << db.status().toString();
    if (!db.isOk()) return files;
    DdlExecutor ddl(*db, RegionalSettings::unitedStates());
    for (const char16_t* s : {u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Depo LONG)",
                              u"CREATE INDEX ixBirim ON Stok (Birim)", u"INSERT INTO Stok (Birim, Depo) VALUES ('Adet', 1)",
                              u"INSERT INTO Stok (Birim, Depo) VALUES ('Kutu', 2)",
                              u"INSERT INTO Stok (Birim, Depo) VALUES ('Adet', 3)"}) {
        Status st = ddl.execute(s);
        EXPECT_TRUE(st.isOk()) << st.toString();
    }
    return files;
}

// Tries every way of changing the Stok records and the tables; each must
// be refused with `refusal`.
void expectEveryChangeRefused(const std::shared_ptr<Database>& db, const std::string& refusal)
{
    auto expectRefused = [&](const Status& s, const char* how) {
        EXPECT_EQ(s.code(), ErrorCode::ReadOnly) << how << ": " << s.toString();
        EXPECT_EQ(s.message(), refusal) << how;
    };
    expectRefused(db->checkWritable(), "checkWritable");
    auto table = db->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    expectRefused(db->changeTable(**table).status(), "changeTable");
    expectRefused(db->prepareRun(**table, RunPlan()), "prepareRun");

    DdlExecutor ddl(db, RegionalSettings::unitedStates());
    expectRefused(ddl.execute(u"INSERT INTO Stok (Birim, Depo) VALUES ('Koli', 4)"), "INSERT");
    expectRefused(ddl.execute(u"CREATE INDEX ixDepo ON Stok (Depo)"), "CREATE INDEX");
    expectRefused(ddl.execute(u"ALTER TABLE Stok ADD COLUMN Notu TEXT(10)"), "ALTER TABLE");
    expectRefused(ddl.execute(u"CREATE TABLE Yeni (A LONG)"), "CREATE TABLE");
    for (const char16_t* text : {u"UPDATE Stok SET Birim = 'Koli' WHERE Birim = 'Adet'", u"DELETE FROM Stok"}) {
        auto statement = parseDataStatement(text);
        ASSERT_TRUE(statement.isOk());
        expectRefused(executeDataStatement(db, *statement, RegionalSettings::unitedStates()).status(), "statement");
    }

    // The window's path: a record set of the record source.
    DataControl data;
    data.SetDatabaseName(u"/veri/stok.mdb");
    data.SetRecordSource(u"Select * From Stok where Birim='Adet'");
    data.setDatabaseOpener([&](const std::string&) -> Result<std::shared_ptr<Database>> { return db; });
    ASSERT_TRUE(data.Refresh().isOk());
    RecordSet& records = *data.Recordset();
    EXPECT_EQ(*records.RecordCount(), 2);
    ASSERT_TRUE(records.Edit().isOk());
    ASSERT_TRUE((*records.Fields(u"Birim"))->SetValue(Variant::text(u"Koli")).isOk());
    expectRefused(records.Update(), "Update");
    expectRefused(records.Delete(), "Delete");

    // A writer made over the pager without the database says the same.
    JetRowFormat format((*table)->def(), (*table)->longValues());
    TableWriter writer(db->pager(), tableLayoutFor((*table)->def()), format, nullptr);
    expectRefused(writer.insertRow(std::vector<Variant>((*table)->def().columns().size())).status(), "TableWriter");
}

TEST(ReadOnlyDatabase, EveryChangeIsRefusedWithTheReason)
{
    struct Case {
        const char* what;
        std::function<void(MemoryFileSystem&)> make;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"read-only file", [](MemoryFileSystem& f) { f.setMode(kPath, 0444); }, "the file " + kPath + " is read-only"},
        {"read-only folder", [](MemoryFileSystem& f) { f.setFolderWritable("/veri", false); },
         "its folder cannot be written, so changes could not be made safely"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto files = stokFiles();
        c.make(*files);
        const auto before = files->bytes(kPath);
        {
            auto db = Database::open(files, kPath, OpenMode::ReadWrite);
            ASSERT_TRUE(db.isOk()) << db.status().toString();
            expectEveryChangeRefused(*db, "cannot change the database: " + c.reason);
        }
        EXPECT_EQ(files->bytes(kPath), before);
        EXPECT_FALSE(files->exists(journalPathFor(kPath)));
    }
}

}  // namespace
}  // namespace varnika::jet

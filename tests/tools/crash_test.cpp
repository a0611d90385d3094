// A killed process never leaves a half-written record. A child process runs
// the window's find and replace over a 10,000-record table with indexes (a
// longer indexed text, so index pages split, and a memo long enough for a
// page chain in the second field) and is killed with SIGKILL at a chosen
// write to the file or its journals, a last write longer than a page torn
// in half. After each
// kill the file opens (the journal rolls back), `varnika-db check` passes,
// mdb-export reads every record, and every record is entirely old or
// entirely new. The same holds for an Access 97 (Jet 3) file.
//
// A second program that wants to write a file one of ours is writing is
// refused with a clear message, and nothing is lost.

#include "db/data_control.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"
#include "ops/fakes.h"
#include "ops/find_replace.h"
#include "support/jackcess.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace varnika {
namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 10000;
const std::u16string kOldUnit = u"Adet";
const std::u16string kNewUnit = u"\u0130\u015eLEM KUTUSU " + std::u16string(60, u'\u00c7');
const std::u16string kNewNote = std::u16string(3000, u'\u011f');  // two pages of long value

// What a run writes, and over how many records: the Jet 4 file takes
// Turkish text; an Access 97 file in code page 1252 takes Western letters.
struct Scenario {
    int records = kRecords;
    std::u16string newUnit = kNewUnit;
    std::u16string newNote = kNewNote;
    std::u16string notePrefix = u"kay\u0131t ";
};

std::u16string oldNote(int id, const Scenario& s = {}) { return s.notePrefix + fromUtf8(std::to_string(id)); }

// Counts the writes through it (to the database and its journal alike) and
// kills the process at the chosen one, after writing half of it.
class KillingFile : public jet::PageFile {
public:
    KillingFile(std::unique_ptr<jet::PageFile> inner, long* writes, long killAt)
        : m_inner(std::move(inner)), m_writes(writes), m_killAt(killAt) {}
    Status read(uint64_t offset, size_t length, uint8_t* out) override { return m_inner->read(offset, length, out); }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        if (++*m_writes == m_killAt) {
            // The system copies one page whole; a longer write may be cut short.
            if (length > jet::kPageSize) (void)m_inner->write(offset, data, length / 2);
            ::raise(SIGKILL);
        }
        return m_inner->write(offset, data, length);
    }
    Status sync() override { return m_inner->sync(); }
    Status truncate(uint64_t size) override
    {
        if (++*m_writes == m_killAt) ::raise(SIGKILL);
        return m_inner->truncate(size);
    }
    uint64_t size() const override { return m_inner->size(); }
    bool isWritable() const override { return m_inner->isWritable(); }
    const std::string& path() const override { return m_inner->path(); }

private:
    std::unique_ptr<jet::PageFile> m_inner;
    long* m_writes;
    long m_killAt;
};

// The replace the window would run: Birim "Adet" becomes the new unit, and
// the second field Aciklama the long note. Returns the writes it made.
long runReplace(const fs::path& file, long killAt, Status* result = nullptr, const Scenario& scenario = {})
{
    long writes = 0;
    test::FakeWindow window;
    window.texts[TextBox::Text1] = fromUtf8(file.string());
    window.texts[TextBox::Text5] = u"Stok";
    window.texts[TextBox::Text2] = u"Birim";
    window.texts[TextBox::Text3] = kOldUnit;
    window.texts[TextBox::Text4] = scenario.newUnit;
    window.texts[TextBox::Text7] = u"Aciklama";
    window.texts[TextBox::Text8] = scenario.newNote;
    DataControl data;
    data.setFileLayer([&](std::unique_ptr<jet::PageFile> f) -> std::unique_ptr<jet::PageFile> {
        return std::make_unique<KillingFile>(std::move(f), &writes, killAt);
    });
    Status s = Command1_Click(window, data);
    if (result) *result = s;
    return writes;
}

struct Record {
    int32_t id = 0;
    std::u16string unit, note;
    int32_t depot = 0;
};

// Every record through the engine's record set, in scan order.
std::vector<Record> readRecords(const fs::path& file)
{
    std::vector<Record> out;
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"Stok");
    Status s = data.Refresh();
    EXPECT_TRUE(s.isOk()) << s.toString();
    if (!s.isOk()) return out;
    RecordSet& rs = *data.Recordset();
    auto text = [&](const char16_t* name) {
        auto v = rs.Fields(name).value()->Value();
        return v.isOk() && !v->isNull() ? v->asText() : std::u16string(u"<null>");
    };
    while (!rs.Eof().value()) {
        Record r;
        r.id = rs.Fields(u"Id").value()->Value()->asLong();
        r.depot = rs.Fields(u"Depo").value()->Value()->asLong();
        r.unit = text(u"Birim");
        r.note = text(u"Aciklama");
        out.push_back(std::move(r));
        if (!rs.MoveNext().isOk()) break;
    }
    EXPECT_TRUE(rs.Close().isOk());
    return out;
}

class CrashTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new test::TempDir();
        s_original = new fs::path(s_dir->file("original.mdb"));
        jet::NewDatabaseOptions o;
        o.sortOrderLcid = 0x041F;
        ASSERT_TRUE(jet::createDatabaseFile(s_original->string(), o).isOk());
        auto db = jet::Database::open(s_original->string(), jet::OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        jet::DdlExecutor ddl(*db, RegionalSettings::unitedStates());
        ASSERT_TRUE(ddl.execute(u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(100), Depo LONG, "
                                u"Tarih DATETIME, Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY)")
                        .isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixBirim ON Stok (Birim)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixDepo ON Stok (Depo DESC, Birim)").isOk());
        const char16_t* units[] = {u"Kutu", u"Metre", u"Kilo", u"\u00c7uval", u"\u0130\u011fne", u"Paket", u"Litre",
                                   u"Top", u"Koli"};
        for (int i = 1; i <= kRecords; ++i) {
            std::u16string unit = i % 10 == 3 ? kOldUnit : units[i % 9];
            std::u16string sql = u"INSERT INTO Stok (Birim, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('" + unit +
                                 u"', " + fromUtf8(std::to_string(i % 7)) + u", #12/31/2010 14:30:05#, '" +
                                 oldNote(i) + u"', " + fromUtf8(std::to_string(i % 500)) + u", 0)";
            ASSERT_TRUE(ddl.execute(sql).isOk());
        }
    }
    static void TearDownTestSuite()
    {
        delete s_original;
        delete s_dir;
    }

    static test::TempDir* s_dir;
    static fs::path* s_original;
};

test::TempDir* CrashTest::s_dir = nullptr;
fs::path* CrashTest::s_original = nullptr;

// Sanitizer builds run far slower; they take a smaller sample of kill points.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSpreadPoints = 30, kRunOfPoints = 20;
#else
constexpr int kSpreadPoints = 150, kRunOfPoints = 60;
#endif

// The kill points are shared out over shards, run as separate tests so
// that they can run side by side.
constexpr int kShards = 2;
class CrashShard : public CrashTest, public ::testing::WithParamInterface<int> {};

// Kills a run over a copy of `original` at sampled writes (this shard's
// share of them) and checks the file after each kill.
void killAtSampledWrites(const fs::path& original, const test::TempDir& dir, int shard, int shards, int spreadPoints,
                         int runOfPoints, const Scenario& scenario = {})
{
    const std::vector<Record> before = readRecords(original);
    ASSERT_EQ(before.size(), size_t(scenario.records));
    const size_t toChange = size_t(std::count_if(before.begin(), before.end(), [](const Record& r) { return r.unit == kOldUnit; }));
    ASSERT_EQ(toChange, size_t(scenario.records / 10));

    // The writes of a whole run, and its result, without a kill.
    const fs::path whole = dir.file("whole.mdb");
    test::copyWritable(original, whole);
    Status ran;
    const long total = runReplace(whole, -1, &ran, scenario);
    ASSERT_TRUE(ran.isOk()) << ran.toString();
    // A run long enough to sample: more writes than records changed (the
    // safe-point journal's entries go out together, one write a commit).
    ASSERT_GT(total, long(toChange)) << total;
    for (const Record& r : readRecords(whole)) ASSERT_NE(r.unit, kOldUnit);

    // Kill points spread over the whole run, and a run of consecutive ones
    // (every write of several records, index splits among them).
    std::vector<long> points;
    for (int i = 0; i < spreadPoints; ++i)
        points.push_back(std::min(total, 1 + (total - 1) * i / (spreadPoints - 1) + (i % 3)));
    for (int i = 0; i < runOfPoints; ++i) points.push_back(total / 2 + i);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    const size_t allPoints = points.size();
    std::vector<long> mine;
    for (size_t i = size_t(shard); i < points.size(); i += size_t(shards)) mine.push_back(points[i]);
    points = mine;

    const fs::path file = dir.file("killed.mdb");
    const std::string journal = file.string() + "-journal";
    size_t killed = 0;
    const long endSlack = std::max(8L, total / 50);
    const size_t mustKill = size_t(std::count_if(points.begin(), points.end(), [&](long n) { return n <= total - endSlack; }));
    for (long n : points) {
        SCOPED_TRACE("killed at write " + std::to_string(n) + " of " + std::to_string(total));
        fs::remove(journal);
        test::copyWritable(original, file);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Status s;
            runReplace(file, n, &s, scenario);
            ::_exit(s.isOk() ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            ++killed;
        } else {
            // Safe points are taken by the clock, so a run's count of writes
            // varies a little: a point at the very end may find it finished.
            ASSERT_GT(n, total - endSlack) << "the child was not killed";
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with status " << status;
        }

        // Opening rolls the interrupted record back; a clean close leaves no journal.
        {
            auto db = jet::Database::open(file.string(), jet::OpenMode::ReadWrite);
            ASSERT_TRUE(db.isOk()) << db.status().toString();
        }
        EXPECT_FALSE(fs::exists(journal));
        test::CommandResult check = test::runCommand({test::varnikaDb(), "check", file.string()});
        ASSERT_EQ(check.exitCode, 0) << check.out << check.err;

        const std::vector<Record> after = readRecords(file);
        ASSERT_EQ(after.size(), before.size());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            const Record& was = before[i];
            const Record& is = after[i];
            ASSERT_EQ(is.id, was.id);
            ASSERT_EQ(is.depot, was.depot);
            if (was.unit != kOldUnit) {
                ASSERT_EQ(is.unit, was.unit) << "record " << was.id;
                ASSERT_EQ(is.note, was.note) << "record " << was.id;
            } else if (is.unit == scenario.newUnit) {
                ASSERT_EQ(is.note, scenario.newNote) << "record " << was.id << " is half new";
                ++changed;
            } else {
                ASSERT_EQ(is.unit, kOldUnit) << "record " << was.id;
                ASSERT_EQ(is.note, was.note) << "record " << was.id << " is half new";
            }
        }
        EXPECT_LE(changed, toChange);

        if (test::haveProgram("mdb-export")) {
            test::CommandResult exported = test::runCommand({"mdb-export", file.string(), "Stok"});
            ASSERT_EQ(exported.exitCode, 0) << exported.err;
            EXPECT_EQ(size_t(std::count(exported.out.begin(), exported.out.end(), '\n')), before.size() + 1);
        }
    }
    EXPECT_GE(allPoints, size_t(spreadPoints + runOfPoints) - 5);
    EXPECT_GE(killed, mustKill);
}

TEST_P(CrashShard, KilledAtAnyWriteEveryRecordIsEntirelyOldOrEntirelyNew)
{
    killAtSampledWrites(*s_original, *s_dir, GetParam(), kShards, kSpreadPoints, kRunOfPoints);
}

INSTANTIATE_TEST_SUITE_P(Shards, CrashShard, ::testing::Range(0, kShards));

// The same run over the same records in a file Jackcess laid out (its own
// global map window and map sizes, General sort order), with a filler
// column that takes the file past the first window.
TEST(CrashOnJackcessLayout, KilledAtAnyWriteEveryRecordIsEntirelyOldOrEntirelyNew)
{
    if (!test::jcheckPath()) GTEST_SKIP() << "jcheck (Java, Jackcess) is not available; Jackcess-layout test skipped";
    std::string layout = R"json({"format":"V2000","tables":[{"name":"Stok","columns":[
      {"name":"Id","type":"LONG","autonumber":true},{"name":"Birim","type":"TEXT(100)"},{"name":"Depo","type":"LONG"},
      {"name":"Tarih","type":"DATETIME"},{"name":"Aciklama","type":"MEMO"},{"name":"Alacak","type":"CURRENCY"},
      {"name":"Borc","type":"CURRENCY"},{"name":"Dolgu","type":"TEXT(255)"}],
      "indexes":[{"name":"PrimaryKey","columns":["Id"],"primary":true},{"name":"ixBirim","columns":["Birim"]},
                 {"name":"ixDepo","columns":["Depo DESC","Birim"]}],
      "rows":[)json";
    const char16_t* units[] = {u"Kutu", u"Metre", u"Kilo", u"\u00c7uval", u"\u0130\u011fne", u"Paket", u"Litre", u"Top", u"Koli"};
    for (int i = 1; i <= kRecords; ++i) {
        std::u16string unit = i % 10 == 3 ? kOldUnit : units[i % 9];
        layout += (i > 1 ? "," : "") + std::string("[") + std::to_string(i) + ",\"" + toUtf8(unit) + "\"," +
                std::to_string(i % 7) + ",\"2010-12-31T14:30:05\",\"" + toUtf8(oldNote(i)) + "\"," + std::to_string(i % 500) +
                ",0,\"" + std::string(150, 'x') + "\"]";
    }
    layout += "]}]}";
    std::string error;
    auto made = test::jackcessDatabase(layout, &error);
    ASSERT_TRUE(made) << error;
    test::TempDir dir;
    const fs::path original = test::copyWritable(*made, dir.file("jackcess.mdb"));
#if defined(__SANITIZE_ADDRESS__)
    killAtSampledWrites(original, dir, 0, 1, 12, 8);
#else
    killAtSampledWrites(original, dir, 0, 1, 60, 20);
#endif
}

// The same run over an Access 97 file: 2 KB pages, keys under the Access 97
// General order, text in code page 1252, journals of 2 KB pages.
TEST(CrashOnAccess97, KilledAtAnyWriteEveryRecordIsEntirelyOldOrEntirelyNew)
{
    Scenario jet3;
    jet3.records = 2000;
    jet3.newUnit = u"\u00dcBERKARTON " + std::u16string(60, u'\u00c7');
    jet3.newNote = std::u16string(3000, u'\u00e9');  // a chain over two long-value pages
    jet3.notePrefix = u"kayit ";
    test::TempDir dir;
    const fs::path original = dir.file("access97.mdb");
    jet::NewDatabaseOptions o;
    o.version = jet::JetVersion::Jet3;
    ASSERT_TRUE(jet::createDatabaseFile(original.string(), o).isOk());
    {
        auto db = jet::Database::open(original.string(), jet::OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        jet::DdlExecutor ddl(*db, RegionalSettings::unitedStates());
        ASSERT_TRUE(ddl.execute(u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(100), Depo LONG, "
                                u"Tarih DATETIME, Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY)")
                        .isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixBirim ON Stok (Birim)").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixDepo ON Stok (Depo DESC, Birim)").isOk());
        const char16_t* units[] = {u"Kutu", u"Metre", u"Kilo", u"\u00c7uval", u"\u00d6l\u00e7\u00fc", u"Paket", u"Litre",
                                   u"Top", u"Koli"};
        for (int i = 1; i <= jet3.records; ++i) {
            std::u16string unit = i % 10 == 3 ? kOldUnit : units[i % 9];
            std::u16string sql = u"INSERT INTO Stok (Birim, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('" + unit +
                                 u"', " + fromUtf8(std::to_string(i % 7)) + u", #12/31/2010 14:30:05#, '" +
                                 oldNote(i, jet3) + u"', " + fromUtf8(std::to_string(i % 500)) + u", 0)";
            ASSERT_TRUE(ddl.execute(sql).isOk());
        }
    }
#if defined(__SANITIZE_ADDRESS__)
    killAtSampledWrites(original, dir, 0, 1, 12, 8, jet3);
#else
    killAtSampledWrites(original, dir, 0, 1, 40, 20, jet3);
#endif
}

TEST_F(CrashTest, ASecondWriterIsRefusedAndNothingIsLost)
{
    const fs::path file = s_dir->file("shared.mdb");
    test::copyWritable(*s_original, file);
    const std::string bytesBefore = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();

    // This process has the file open for writing, as the window has during a run.
    DataControl data;
    data.SetDatabaseName(fromUtf8(file.string()));
    data.SetRecordSource(u"Select * From Stok where Birim='Adet'");
    ASSERT_TRUE(data.Refresh().isOk());

    // Another program: varnika-db in its own process.
    test::CommandResult other = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Stok", "--field",
                                                  "Birim", "--old", "Kutu", "--new", "Koli"});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE(other.err.find("being changed by another program"), std::string::npos) << other.err;
    {
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytesBefore);
    }

    // Our own writes go on; the other program may write once we are done.
    RecordSet& rs = *data.Recordset();
    ASSERT_TRUE(rs.Edit().isOk());
    ASSERT_TRUE(rs.Fields(u"Birim").value()->SetValue(Variant::text(u"Koli")).isOk());
    ASSERT_TRUE(rs.Update().isOk());
    EXPECT_TRUE(rs.Close().isOk());
    other = test::runCommand({test::varnikaDb(), "replace", file.string(), "--table", "Stok", "--field", "Birim", "--old",
                              "Kutu", "--new", "Koli"});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "check", file.string()}).exitCode, 0);
    size_t expected = 1, koli = 0;
    for (const Record& r : readRecords(*s_original)) expected += r.unit == u"Koli" || r.unit == u"Kutu";
    for (const Record& r : readRecords(file)) koli += r.unit == u"Koli";
    EXPECT_EQ(koli, expected);
}

}  // namespace
}  // namespace varnika

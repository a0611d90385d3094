// I/O faults under the whole engine: a run of record changes (indexed text
// that splits index pages, memos over page chains, a delete, an insert, a
// new column) over a file layer that fails its N-th write or read, for every
// N the run makes. After each failure the file, once opened again (its
// journal rolled back), passes the consistency check and holds exactly the
// records of the last finished change, or of the one in hand when it had
// already been made durable; the failed change is refused with an I/O error.
// The run goes over a file our engine made, one Jackcess laid out, and an
// Access 97 (Jet 3) file of 2 KB pages.

#include "db/jet/check/consistency_check.h"
#include "db/jet/file/journal.h"
#include "db/jet/file/safe_point_journal.h"
#include "support/change_run.h"
#include "support/jackcess.h"
#include "support/fault_file.h"

#include <fstream>
#include <optional>

namespace varnika::jet {
namespace {

using test::FaultFile;
using test::FaultPlan;

using Bytes = std::shared_ptr<std::vector<uint8_t>>;
using namespace changerun;

struct RunResult {
    std::vector<Rows> states;  // before the first change, and after each one
    size_t stepsDone = 0;
    Status failure;
};

Result<std::shared_ptr<Database>> openOver(Bytes db, Bytes journal, std::shared_ptr<FaultPlan> plan)
{
    auto pager = std::make_unique<Pager>(std::make_unique<FaultFile>(db, plan), 64);
    pager->setJournal(std::make_unique<Journal>(std::make_unique<FaultFile>(journal, plan)));
    // The safe-point journal's writes fail as well; it starts again every
    // few pages, so safe points fall inside the run.
    auto safePoints = std::make_shared<std::vector<uint8_t>>();
    pager->setSafePointJournal(std::make_unique<SafePointJournal>(std::make_unique<FaultFile>(safePoints, plan), "boot"));
    pager->setSafePointInterval(1e9, 5);
    return Database::open(std::move(pager));
}

// What the next open of the file sees: the journal rolled back, the file
// checked, its records.
Rows reopenAndCheck(Bytes db, Bytes journal, const std::string& when)
{
    auto calm = std::make_shared<FaultPlan>();
    {
        FaultFile dbFile(db, calm);
        Journal j(std::make_unique<FaultFile>(journal, calm));
        auto rolled = rollBackPendingJournal(dbFile, j);
        EXPECT_TRUE(rolled.isOk()) << when << ": " << rolled.status().toString();
    }
    auto opened = Database::open(std::make_unique<FaultFile>(db, calm));
    EXPECT_TRUE(opened.isOk()) << when << ": " << opened.status().toString();
    if (!opened.isOk()) return {};
    auto report = checkDatabase(**opened);
    EXPECT_TRUE(report.isOk()) << when;
    if (report.isOk())
        for (const std::string& p : report->problems) ADD_FAILURE() << when << ": " << p;
    return recordsOf(**opened);
}

// The same Stok table (the same rows, General sort order) as Jackcess lays
// it out, beside a filler table that moves the global map's window.
std::optional<std::vector<uint8_t>> stokInJackcessLayout()
{
    std::string spec = R"json({"format":"V2000","tables":[{"name":"Stok","columns":[
      {"name":"Id","type":"LONG","autonumber":true},{"name":"Birim","type":"TEXT(255)"},{"name":"Depo","type":"LONG"},
      {"name":"Aciklama","type":"MEMO"}],
      "indexes":[{"name":"PrimaryKey","columns":["Id"],"primary":true},{"name":"ixBirim","columns":["Birim"]},
                 {"name":"ixDepo","columns":["Depo DESC"]}],
      "rows":[)json";
    const char* units[] = {"Adet", "Kutu", "Metre", "Kilo", "\u00c7uval", "\u0130\u011fne"};
    for (int i = 0; i < 300; ++i) {
        std::string memoText = i % 25 == 0 ? std::string(4500, 'm') : "not " + std::to_string(i);
        spec += (i ? "," : "") + std::string("[") + std::to_string(i + 1) + ",\"" + units[i % 6] + " " + std::to_string(i % 37) +
                "\"," + std::to_string(i % 5) + ",\"" + memoText + "\"]";
    }
    spec += R"json(]},{"name":"Dolgu","columns":[{"name":"Metin","type":"TEXT(255)"}],
      "generate":{"count":6000,"seed":5,"columns":{"Metin":{"text":[200,250]}}}}]})json";
    auto file = test::jackcessDatabase(spec);
    if (!file) return std::nullopt;
    std::ifstream in(*file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

enum class Layout { Engine, Jackcess, Jet3 };

class FaultInjection : public ::testing::TestWithParam<Layout> {
protected:
    void SetUp() override
    {
        if (GetParam() == Layout::Engine) {
            m_original = buildStok();
            return;
        }
        if (GetParam() == Layout::Jet3) {
            m_original = buildStok(JetVersion::Jet3);
            s_texts = westernTexts();
            return;
        }
        if (!test::jcheckPath()) GTEST_SKIP() << "jcheck (Java, Jackcess) is not available; Jackcess-layout test skipped";
        auto bytes = stokInJackcessLayout();
        ASSERT_TRUE(bytes) << "jcheck make failed";
        m_original = std::move(*bytes);
    }

    // Runs every change over a file that fails as `plan` says; stops at the
    // first refused change.
    static RunResult runWith(Bytes db, Bytes journal, std::shared_ptr<FaultPlan> plan, bool recordStates)
    {
        RunResult run;
        auto opened = openOver(db, journal, plan);
        if (!opened.isOk()) {
            run.failure = opened.status();
            return run;
        }
        DdlExecutor executor(*opened, RegionalSettings::unitedStates());
        if (recordStates) run.states.push_back(recordsOf(**opened));
        for (const Step& step : theRun()) {
            Status s = step(**opened, executor);
            if (!s.isOk()) {
                run.failure = s;
                return run;
            }
            ++run.stepsDone;
            if (recordStates) run.states.push_back(recordsOf(**opened));
        }
        return run;
    }

    static std::vector<Step> theRun() { return changerun::theRun(s_texts); }

    void TearDown() override { s_texts = turkishTexts(); }

    std::vector<uint8_t> m_original;
    const std::vector<uint8_t>* s_original = &m_original;
    static RunTexts s_texts;
};

RunTexts FaultInjection::s_texts = turkishTexts();


TEST_P(FaultInjection, EveryFailingWriteLeavesASoundFileWithWholeRecords)
{
    auto calm = std::make_shared<FaultPlan>();
    auto cleanDb = std::make_shared<std::vector<uint8_t>>(*s_original);
    RunResult clean = runWith(cleanDb, std::make_shared<std::vector<uint8_t>>(), calm, true);
    ASSERT_TRUE(clean.failure.isOk()) << clean.failure.toString();
    ASSERT_EQ(clean.stepsDone, theRun().size());
    const long totalWrites = calm->writes;
    ASSERT_GT(totalWrites, 40);

    // Every write; the far slower sanitizer build takes every third one,
    // the two ways of failing on different writes.
#if defined(__SANITIZE_ADDRESS__)
    const long stride = 3;
#else
    const long stride = 1;
#endif
    for (bool crash : {false, true}) {
        for (long n = crash && stride > 1 ? 2 : 1; n <= totalWrites; n += stride) {
            const std::string when = std::string(crash ? "dying" : "failing") + " at write " + std::to_string(n);
            auto plan = std::make_shared<FaultPlan>();
            plan->failWriteAt = n;
            plan->crash = crash;
            auto db = std::make_shared<std::vector<uint8_t>>(*s_original);
            auto journal = std::make_shared<std::vector<uint8_t>>();
            RunResult run = runWith(db, journal, plan, false);
            if (run.failure.isOk()) {
                // Only a safe point, taken after a commit stood, may fail
                // unseen; the next commit takes it again.
                EXPECT_EQ(run.stepsDone, theRun().size()) << when;
                EXPECT_EQ(reopenAndCheck(db, journal, when), clean.states.back()) << when;
                continue;
            }
            ASSERT_FALSE(run.failure.isOk()) << when << " went unnoticed";
            EXPECT_EQ(run.failure.code(), ErrorCode::IOError) << when << ": " << run.failure.toString();
            Rows after = reopenAndCheck(db, journal, when);
            // The change in hand is entirely undone, or (when the fault hit
            // after it was complete on disk) entirely done.
            const size_t k = run.stepsDone;
            bool asBefore = after == clean.states[k];
            bool asAfter = k + 1 < clean.states.size() && after == clean.states[k + 1];
            EXPECT_TRUE(asBefore || asAfter) << when << ": records are neither as before change " << k + 1
                                             << " nor as after it";
        }
    }
}

TEST_P(FaultInjection, EveryFailingReadIsAClearErrorAndChangesNothingOfTheRecordInHand)
{
    auto calm = std::make_shared<FaultPlan>();
    auto cleanDb = std::make_shared<std::vector<uint8_t>>(*s_original);
    RunResult clean = runWith(cleanDb, std::make_shared<std::vector<uint8_t>>(), calm, true);
    ASSERT_TRUE(clean.failure.isOk());
    const long totalReads = calm->reads;
    ASSERT_GT(totalReads, 10);
    for (long n = 1; n <= totalReads; ++n) {
        const std::string when = "failing at read " + std::to_string(n);
        auto plan = std::make_shared<FaultPlan>();
        plan->failReadAt = n;
        auto db = std::make_shared<std::vector<uint8_t>>(*s_original);
        auto journal = std::make_shared<std::vector<uint8_t>>();
        RunResult run = runWith(db, journal, plan, false);
        if (run.failure.isOk()) {
            // Reads the run no longer needs (a page already in the cache).
            EXPECT_EQ(run.stepsDone, theRun().size());
            continue;
        }
        EXPECT_NE(run.failure.message(), "") << when;
        Rows after = reopenAndCheck(db, journal, when);
        EXPECT_EQ(after, clean.states[run.stepsDone]) << when;
    }
}

TEST_P(FaultInjection, AfterAFailedWriteTheSameOpenDatabaseGoesOn)
{
    // Fail one write in each change in turn; the change is refused, then
    // tried again on the same open database, and the whole run ends as a
    // clean one does.
    auto calm = std::make_shared<FaultPlan>();
    auto cleanDb = std::make_shared<std::vector<uint8_t>>(*s_original);
    RunResult clean = runWith(cleanDb, std::make_shared<std::vector<uint8_t>>(), calm, true);
    ASSERT_TRUE(clean.failure.isOk());
    for (long every : {3L, 7L, 11L}) {
        const std::string when = "failing every " + std::to_string(every) + "th write";
        auto db = std::make_shared<std::vector<uint8_t>>(*s_original);
        auto journal = std::make_shared<std::vector<uint8_t>>();
        auto plan = std::make_shared<FaultPlan>();
        auto opened = openOver(db, journal, plan);
        ASSERT_TRUE(opened.isOk());
        DdlExecutor executor(*opened, RegionalSettings::unitedStates());
        size_t refused = 0;
        for (const Step& step : theRun()) {
            plan->failWriteAt = plan->writes + every;
            Status s = step(**opened, executor);
            if (!s.isOk()) {
                ++refused;
                plan->failWriteAt = -1;
                s = step(**opened, executor);
            }
            ASSERT_TRUE(s.isOk()) << when << ": " << s.toString();
        }
        EXPECT_GT(refused, 0u) << when;
        EXPECT_EQ(recordsOf(**opened), clean.states.back()) << when;
        opened->reset();
        EXPECT_EQ(reopenAndCheck(db, journal, when), clean.states.back()) << when;
    }
}

// Records added together in a group: whatever run of writes fails, a run
// that ends without a failure holds every record, and one that fails holds
// the statements it says were done, unless it says that some were lost.
TEST(FaultInjectionInserts, ARunOfInsertsNeverHidesALostStatement)
{
    const std::vector<uint8_t> original = buildStok();
    std::vector<InsertInto> statements;
    for (int i = 0; i < 40; ++i) {
        auto parsed = parseDdlStatement(u"INSERT INTO Stok (Birim, Depo) VALUES ('yeni " + fromUtf8(std::to_string(i)) + u"', " +
                                        fromUtf8(std::to_string(i % 5)) + u")");
        ASSERT_TRUE(parsed.isOk());
        statements.push_back(std::get<InsertInto>(*parsed));
    }
    struct Outcome {
        size_t done = 0;
        bool failed = false;
        bool saysLost = false;
    };
    auto run = [&](Bytes db, Bytes journal, std::shared_ptr<FaultPlan> plan) {
        Outcome o;
        auto opened = openOver(db, journal, plan);
        if (!opened.isOk()) {
            o.failed = true;
            return o;
        }
        (*opened)->pager().setGroupLimits({1000, 30});
        (*opened)->pager().beginGroup();
        DdlExecutor executor(*opened, RegionalSettings::unitedStates());
        auto noteFailure = [&](const Status& s) {
            o.failed = true;
            o.saysLost = s.message().find("lost") != std::string::npos ||
                         s.message().find("could not be saved") != std::string::npos;
        };
        for (size_t from = 0; from < statements.size() && !o.failed; from += 20) {
            size_t done = 0;
            Status s = executor.insertAll(std::span(statements).subspan(from, 20), done);
            o.done += done;
            if (!s.isOk()) noteFailure(s);
        }
        Status saved = (*opened)->pager().endGroup();
        if (!saved.isOk()) {
            noteFailure(saved);
            o.saysLost = true;
        }
        return o;
    };
    long total = 0;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(original);
        auto journal = std::make_shared<std::vector<uint8_t>>();
        const Outcome clean = run(db, journal, plan);
        ASSERT_FALSE(clean.failed);
        ASSERT_EQ(reopenAndCheck(db, journal, "clean").size(), 340u);
        total = plan->writes;
    }
    ASSERT_GT(total, 10);
    for (long failing : {2L, 3L}) {
        for (long n = 1; n <= total; ++n) {
            const std::string when = std::to_string(failing) + " writes failing from write " + std::to_string(n);
            auto plan = std::make_shared<FaultPlan>();
            plan->failWriteAt = n;
            plan->failWrites = failing;
            auto db = std::make_shared<std::vector<uint8_t>>(original);
            auto journal = std::make_shared<std::vector<uint8_t>>();
            const Outcome o = run(db, journal, plan);
            const size_t records = reopenAndCheck(db, journal, when).size();
            if (!o.failed) {
                EXPECT_EQ(records, 340u) << when;
            } else if (!o.saysLost) {
                EXPECT_EQ(records, 300u + o.done) << when;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FaultInjection, ::testing::Values(Layout::Engine, Layout::Jackcess, Layout::Jet3),
                         [](const auto& info) {
                             return info.param == Layout::Engine ? "EngineBuilt"
                                    : info.param == Layout::Jet3 ? "Access97"
                                                                 : "JackcessBuilt";
                         });

}  // namespace
}  // namespace varnika::jet

// A power cut in the middle of a run of changes. The files model the
// operating system's cache: a write is seen at once by the process but
// reaches the disk only at the next sync of its file, unless the cache
// happens to write it out earlier; when the power fails, any subset of the
// writes since the last sync has reached the disk, in any order, the last
// one perhaps torn. After the machine starts again (another boot id), the
// safe-point journal puts the file back: it passes the consistency check and
// holds the records as they were after one of the changes, never a mixture.
// Without that journal the same cuts leave broken files. An Access 97 file
// (2 KB pages, both journals holding pages of that size) comes back alike.

#include "support/change_run.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/file/journal.h"
#include "db/jet/file/safe_point_journal.h"
#include "db/jet/record_sets.h"

#include <random>

namespace varnika::jet {
namespace {

using namespace changerun;

struct Disk {
    long writes = 0;
    long cutAt = -1;  // the write at which the power fails
    bool off = false;
};

class CachedFile : public PageFile {
public:
    CachedFile(std::vector<uint8_t> bytes, std::shared_ptr<Disk> disk)
        : m_seen(bytes), m_durable(std::move(bytes)), m_disk(std::move(disk)) {}

    Status read(uint64_t offset, size_t length, uint8_t* out) override
    {
        if (offset > m_seen.size() || length > m_seen.size() - offset) return corruption("read past the end");
        std::copy_n(m_seen.begin() + long(offset), length, out);
        return Status::ok();
    }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        if (m_disk->off || ++m_disk->writes == m_disk->cutAt) {
            m_disk->off = true;
            return ioError("the power has failed");
        }
        if (++m_writes == failWriteAt) return ioError("the disk refused the write");
        if (offset + length > m_seen.size()) m_seen.resize(offset + length);
        std::copy_n(data, length, m_seen.begin() + long(offset));
        m_pending.push_back({offset, std::vector<uint8_t>(data, data + length), false, 0});
        return Status::ok();
    }
    Status sync() override
    {
        if (m_disk->off) return ioError("the power has failed");
        if (++m_syncs == failSyncAt) return ioError("the disk refused the sync");
        m_durable = m_seen;
        m_pending.clear();
        return Status::ok();
    }
    Status truncate(uint64_t size) override
    {
        if (m_disk->off || ++m_disk->writes == m_disk->cutAt) {
            m_disk->off = true;
            return ioError("the power has failed");
        }
        m_seen.resize(size);
        m_pending.push_back({0, {}, true, size});
        return Status::ok();
    }
    uint64_t size() const override { return m_seen.size(); }
    bool isWritable() const override { return true; }
    const std::string& path() const override { return m_path; }

    // This file's own write and sync to fail (1-based), the power staying on.
    long failWriteAt = -1;
    long failSyncAt = -1;
    const std::vector<uint8_t>& seen() const { return m_seen; }
    const std::vector<uint8_t>& durable() const { return m_durable; }

    // What the disk holds after the power failed: some of the writes since
    // the last sync, in a random order, one perhaps only half.
    std::vector<uint8_t> afterPowerCut(std::mt19937& rng) const
    {
        std::vector<uint8_t> disk = m_durable;
        std::vector<size_t> order(m_pending.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        for (size_t i : order) {
            if (rng() % 2) continue;
            const Pending& p = m_pending[i];
            if (p.truncate) {
                disk.resize(p.size);
                continue;
            }
            size_t n = rng() % 8 == 0 ? p.data.size() / 2 : p.data.size();
            if (p.offset + n > disk.size()) disk.resize(p.offset + n);
            std::copy_n(p.data.begin(), n, disk.begin() + long(p.offset));
        }
        return disk;
    }

private:
    struct Pending {
        uint64_t offset;
        std::vector<uint8_t> data;
        bool truncate;
        uint64_t size;
    };
    std::vector<uint8_t> m_seen, m_durable;
    std::vector<Pending> m_pending;
    std::shared_ptr<Disk> m_disk;
    long m_writes = 0;
    long m_syncs = 0;
    std::string m_path;
};

struct Machine {
    CachedFile* db = nullptr;
    CachedFile* journal = nullptr;
    CachedFile* safePoints = nullptr;
};

// Runs the changes until the power fails (or to the end); the states seen
// after each finished change go to `states`.
std::shared_ptr<Database> runUntilThePowerFails(const std::vector<uint8_t>& original, std::shared_ptr<Disk> disk,
                                                bool withSafePoints, Machine& m, std::vector<Rows>* states,
                                                const RunTexts& texts = turkishTexts())
{
    auto dbFile = std::make_unique<CachedFile>(original, disk);
    auto journalFile = std::make_unique<CachedFile>(std::vector<uint8_t>(), disk);
    auto spFile = std::make_unique<CachedFile>(std::vector<uint8_t>(), disk);
    m = {dbFile.get(), journalFile.get(), withSafePoints ? spFile.get() : nullptr};
    auto pager = std::make_unique<Pager>(std::move(dbFile), 64);
    pager->setJournal(std::make_unique<Journal>(std::move(journalFile)));
    if (withSafePoints) {
        pager->setSafePointJournal(std::make_unique<SafePointJournal>(std::move(spFile), "boot-1"));
        pager->setSafePointInterval(1e9, 7);  // a safe point every few changes
    }
    auto db = Database::open(std::move(pager));
    EXPECT_TRUE(db.isOk());
    if (!db.isOk()) return nullptr;
    DdlExecutor executor(*db, RegionalSettings::unitedStates());
    if (states) states->push_back(recordsOf(**db));
    for (const Step& step : theRun(texts)) {
        if (!step(**db, executor).isOk()) break;
        if (states) states->push_back(recordsOf(**db));
    }
    return *db;
}

// The next start of the machine: the files as the disk has them, opened
// as Pager::open does under a new boot id.
struct Recovered {
    bool opened = false;
    bool sound = false;
    Rows records;
};
Recovered recover(const Machine& m, std::mt19937& rng)
{
    auto calm = std::make_shared<Disk>();
    CachedFile db(m.db->afterPowerCut(rng), calm);
    CachedFile journal(m.journal->afterPowerCut(rng), calm);
    CachedFile safePoints(m.safePoints ? m.safePoints->afterPowerCut(rng) : std::vector<uint8_t>(), calm);
    Recovered r;
    auto lost = rollBackAfterPowerLoss(db, safePoints, "boot-2");
    if (!lost.isOk()) return r;
    Journal j(std::make_unique<CachedFile>(journal));
    if (!*lost && !rollBackPendingJournal(db, j).isOk()) return r;
    auto opened = Database::open(std::make_unique<CachedFile>(db));
    if (!opened.isOk()) return r;
    r.opened = true;
    auto report = checkDatabase(**opened);
    r.sound = report.isOk() && report->ok();
    if (r.sound) r.records = recordsOf(**opened);
    return r;
}

// Cuts the power at every `step`-th write of the run (`trials` times each,
// the disk keeping a different share of the unsynced writes each time) and
// checks that the file comes back whole at one of the changes.
void cutThePowerDuringTheRun(const std::vector<uint8_t>& original, const RunTexts& texts, long step, int trials)
{
    std::vector<Rows> states;
    Machine m;
    auto clean = std::make_shared<Disk>();
    ASSERT_TRUE(runUntilThePowerFails(original, clean, true, m, &states, texts));
    ASSERT_EQ(states.size(), theRun(texts).size() + 1);
    const long total = clean->writes;

    std::mt19937 rng(7);
    size_t cuts = 0, notAtTheStart = 0;
    for (long cut = 1; cut <= total; cut += step) {
        for (int trial = 0; trial < trials; ++trial) {
            SCOPED_TRACE("power cut at write " + std::to_string(cut) + ", trial " + std::to_string(trial));
            auto disk = std::make_shared<Disk>();
            disk->cutAt = cut;
            auto db = runUntilThePowerFails(original, disk, true, m, nullptr, texts);
            Recovered r = recover(m, rng);
            ASSERT_TRUE(r.opened);
            ASSERT_TRUE(r.sound);
            auto at = std::find(states.begin(), states.end(), r.records);
            ASSERT_NE(at, states.end()) << "the records are a mixture of changes";
            if (at != states.begin()) ++notAtTheStart;
            ++cuts;
        }
    }
    // Safe points inside the run keep the changes before them.
    EXPECT_GT(notAtTheStart, cuts / size_t(trials));
}

TEST(PowerLoss, TheFileComesBackWholeAtOneOfItsChanges)
{
    cutThePowerDuringTheRun(buildStok(), turkishTexts(), 1, 3);
}

TEST(PowerLoss, AnAccess97FileComesBackWholeAtOneOfItsChanges)
{
    cutThePowerDuringTheRun(buildStok(JetVersion::Jet3), westernTexts(), 2, 2);
}

// A commit refused because the safe-point journal could not be written or
// synced leaves the page unchanged in the file; the next change of that
// page must still find its safe-point bytes on the disk before the file is
// written. The worst cut is checked: every write to the database reached
// the disk, none of the journal's since its last sync.
TEST(PowerLoss, AChangeAfterAFailedSafePointJournalStillComesBack)
{
    for (const bool failTheSync : {true, false}) {
        SCOPED_TRACE(failTheSync ? "the journal's sync fails" : "the journal's write fails");
        auto disk = std::make_shared<Disk>();
        std::vector<uint8_t> original(3 * kPageSize);
        for (size_t page = 0; page < 3; ++page)
            std::fill_n(original.begin() + long(page * kPageSize), kPageSize, uint8_t(0xA0 + page));
        auto dbFile = std::make_unique<CachedFile>(original, disk);
        auto spFile = std::make_unique<CachedFile>(std::vector<uint8_t>(), disk);
        CachedFile* db = dbFile.get();
        CachedFile* sp = spFile.get();
        // The journal's first write and sync are its header's.
        (failTheSync ? sp->failSyncAt : sp->failWriteAt) = 2;
        Pager pager(std::move(dbFile), 8);
        pager.setSafePointJournal(std::make_unique<SafePointJournal>(std::move(spFile), "boot-1"));
        pager.setSafePointInterval(1e9, 1000);

        PageBuffer changed;
        changed.fill(0xB1);
        ASSERT_TRUE(pager.write(1, changed).isOk());
        ASSERT_FALSE(pager.commit().isOk());
        EXPECT_EQ(db->seen(), original);
        changed.fill(0xC1);
        ASSERT_TRUE(pager.write(1, changed).isOk());
        ASSERT_TRUE(pager.commit().isOk());

        CachedFile dbAfter(db->seen(), disk), spAfter(sp->durable(), disk);
        auto restored = rollBackAfterPowerLoss(dbAfter, spAfter, "boot-2");
        ASSERT_TRUE(restored.isOk()) << restored.status().toString();
        EXPECT_TRUE(*restored);
        EXPECT_EQ(dbAfter.seen(), original);
    }
}

// A Stok table of many data pages (a few records each), for a run over
// its records.
std::vector<uint8_t> buildLongStok()
{
    ddltest::NewDb t(0x041F);
    EXPECT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(255), Depo LONG, Aciklama TEXT(255), "
                      "Yer TEXT(255))")
                    .isOk());
    EXPECT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
    t.db->pager().beginGroup();
    for (int i = 0; i < 600; ++i) {
        const std::string filler(240, char('a' + i % 26));
        EXPECT_TRUE(t.run("INSERT INTO Stok (Birim, Depo, Aciklama, Yer) VALUES ('" +
                          std::string(i % 7 == 0 ? "Kutu " : "Adet ") + std::to_string(i % 37) + "', " + std::to_string(i) +
                          ", '" + filler + "', '" + filler + "')")
                        .isOk());
    }
    EXPECT_TRUE(t.db->pager().endGroup().isOk());
    t.db.reset();
    t.executor.reset();
    return ddltest::fileBytes(t.path);
}

// Gives every record's Birim a mark, in groups of 25 records, as a replace
// does, until the power fails. The database is returned open, as the
// machine's files are its pager's.
std::shared_ptr<Database> markEveryRecord(const std::vector<uint8_t>& original, std::shared_ptr<Disk> disk, Machine& m)
{
    auto dbFile = std::make_unique<CachedFile>(original, disk);
    auto journalFile = std::make_unique<CachedFile>(std::vector<uint8_t>(), disk);
    auto spFile = std::make_unique<CachedFile>(std::vector<uint8_t>(), disk);
    m = {dbFile.get(), journalFile.get(), spFile.get()};
    auto pager = std::make_unique<Pager>(std::move(dbFile), 64);
    pager->setJournal(std::make_unique<Journal>(std::move(journalFile)));
    pager->setSafePointJournal(std::make_unique<SafePointJournal>(std::move(spFile), "boot-1"));
    pager->setSafePointInterval(1e9, 30);
    pager->setGroupLimits({2048, 25});
    auto db = Database::open(std::move(pager));
    EXPECT_TRUE(db.isOk());
    if (!db.isOk()) return nullptr;
    auto records = TableRecordSet::openTable(*db, u"Stok");
    EXPECT_TRUE(records.isOk());
    if (!records.isOk()) return *db;
    TableRecordSet& rs = **records;
    if (!rs.MoveFirst().isOk()) return *db;
    for (;;) {
        auto eof = rs.Eof();
        if (!eof.isOk() || *eof || !rs.Edit().isOk()) break;
        auto field = rs.Fields(u"Birim");
        if (!field.isOk()) break;
        auto now = (*field)->Value();
        if (!now.isOk() || !(*field)->SetValue(Variant::text(now->asText() + u" \u015f")).isOk()) break;
        if (!rs.Update().isOk() || !rs.MoveNext().isOk()) break;
    }
    (void)rs.Close();
    return *db;
}

// A run over a table's records in groups journals the pages it goes on
// to ahead of each group, and syncs them only with the next group: a power
// cut anywhere in it brings the file back sound, with the records marked
// up to one of them and none after it.
TEST(PowerLoss, ARunInGroupsComesBackWholeUpToOneOfItsRecords)
{
    const std::vector<uint8_t> original = buildLongStok();
    Machine m;
    auto clean = std::make_shared<Disk>();
    auto cleanDb = markEveryRecord(original, clean, m);
    ASSERT_TRUE(cleanDb);
    const long total = clean->writes;
    const Rows before = [&] {
        auto db = Database::open(std::make_unique<CachedFile>(original, std::make_shared<Disk>()));
        return db.isOk() ? recordsOf(**db) : Rows{};
    }();
    ASSERT_EQ(before.size(), 600u);
    const size_t birim = 1;

    std::mt19937 rng(11);
    size_t cuts = 0, midway = 0;
    for (long cut = 1; cut <= total; cut += std::max(1L, total / 150)) {
        SCOPED_TRACE("power cut at write " + std::to_string(cut) + " of " + std::to_string(total));
        auto disk = std::make_shared<Disk>();
        disk->cutAt = cut;
        auto db = markEveryRecord(original, disk, m);
        Recovered r = recover(m, rng);
        ASSERT_TRUE(r.opened);
        ASSERT_TRUE(r.sound);
        ASSERT_EQ(r.records.size(), before.size());
        size_t marked = 0;
        while (marked < before.size() && r.records[marked][birim].asText() == before[marked][birim].asText() + u" \u015f")
            ++marked;
        for (size_t i = marked; i < before.size(); ++i) ASSERT_EQ(r.records[i], before[i]) << "record " << i;
        midway += marked > 0 && marked < before.size();
        ++cuts;
    }
    EXPECT_GT(cuts, 100u);
    EXPECT_GT(midway, cuts / 2);
}

TEST(PowerLoss, WithoutSafePointsTheSameCutsBreakTheFile)
{
    // The model is sharp enough to matter: the rollback journal alone,
    // never synced, does not survive these cuts.
    const std::vector<uint8_t> original = buildStok();
    Machine m;
    auto clean = std::make_shared<Disk>();
    ASSERT_TRUE(runUntilThePowerFails(original, clean, false, m, nullptr));
    std::mt19937 rng(7);
    size_t broken = 0;
    for (long cut = 1; cut <= clean->writes; ++cut) {
        auto disk = std::make_shared<Disk>();
        disk->cutAt = cut;
        auto db = runUntilThePowerFails(original, disk, false, m, nullptr);
        Recovered r = recover(m, rng);
        broken += !r.opened || !r.sound;
    }
    EXPECT_GT(broken, 0u);
}

}  // namespace
}  // namespace varnika::jet

#include "db/jet/file/journal.h"
#include "db/jet/file/pager.h"
#include "db/jet/file/safe_point_journal.h"
#include "support/fault_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <span>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnika {
namespace {

using jet::Journal;
using jet::kPageSize;
using jet::PageBuffer;
using jet::Pager;
using test::FaultFile;
using test::FaultPlan;

using Bytes = std::shared_ptr<std::vector<uint8_t>>;

PageBuffer filled(uint8_t v)
{
    PageBuffer b;
    b.fill(v);
    return b;
}

std::unique_ptr<Pager> pagerOver(Bytes db, Bytes journal, std::shared_ptr<FaultPlan> plan)
{
    auto pager = std::make_unique<Pager>(std::make_unique<FaultFile>(db, plan), 2);
    pager->setJournal(std::make_unique<Journal>(std::make_unique<FaultFile>(journal, plan)));
    return pager;
}

// The change every crash test makes: rewrite pages 1 and 3 and append two.
Status applyChange(Pager& p)
{
    VK_RETURN_IF_ERROR(p.write(1, filled(0xB1)));
    VK_RETURN_IF_ERROR(p.write(3, filled(0xB3)));
    VK_RETURN_IF_ERROR(p.append(filled(0xB4)).status());
    VK_RETURN_IF_ERROR(p.append(filled(0xB5)).status());
    return p.commit();
}

std::vector<uint8_t> oldImage()
{
    std::vector<uint8_t> v;
    for (uint8_t i = 0; i < 4; ++i) v.insert(v.end(), kPageSize, uint8_t(0xA0 + i));
    return v;
}

std::vector<uint8_t> newImage()
{
    std::vector<uint8_t> v = oldImage();
    std::fill(v.begin() + kPageSize, v.begin() + 2 * kPageSize, 0xB1);
    std::fill(v.begin() + 3 * kPageSize, v.end(), 0xB3);
    v.insert(v.end(), kPageSize, 0xB4);
    v.insert(v.end(), kPageSize, 0xB5);
    return v;
}

TEST(Pager, ReadsSeeDirtyPagesUntilRollback)
{
    auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
    auto plan = std::make_shared<FaultPlan>();
    Pager p(std::make_unique<FaultFile>(db, plan), 2);
    ASSERT_TRUE(p.write(2, filled(7)).isOk());
    EXPECT_EQ((*p.read(2).value())[0], 7);
    EXPECT_EQ((*db)[2 * kPageSize], 0xA2);  // nothing reached the file yet
    p.rollback();
    EXPECT_EQ((*p.read(2).value())[0], 0xA2);
    EXPECT_FALSE(p.read(4).isOk());          // past the end
    EXPECT_FALSE(p.write(9, filled(1)).isOk());  // not adjacent to the end
}

// A file that lets the pager read ahead: it counts the pager's calls
// (a run of pages is one) and fails every read of one page.
class ReadAheadFile final : public FaultFile {
public:
    ReadAheadFile(Bytes bytes, uint32_t badPage) : FaultFile(std::move(bytes), std::make_shared<FaultPlan>()), m_badPage(badPage) {}
    bool readsAhead() const override { return true; }
    Status read(uint64_t offset, size_t length, uint8_t* out) override
    {
        if (!m_inRun) ++calls;
        if (offset / kPageSize == m_badPage) return ioError("page " + std::to_string(m_badPage) + " cannot be read");
        return FaultFile::read(offset, length, out);
    }
    Status readPages(uint64_t offset, size_t pageSize, std::span<uint8_t* const> pages) override
    {
        ++calls;
        m_inRun = true;
        Status s = PageFile::readPages(offset, pageSize, pages);
        m_inRun = false;
        return s;
    }
    int calls = 0;

private:
    uint32_t m_badPage;
    bool m_inRun = false;
};

// Pages read in order, or a few pages apart, come from the file in runs.
// What the pager holds is newer than the file and stays what is read; the
// file's end bounds a run; a run that cannot be read leaves each page to
// be read alone, so that only the page that cannot be read fails.
TEST(Pager, PagesReadInOrderComeInRunsAndEachStillReadsAsItsOwn)
{
    constexpr uint32_t kPages = 200, kBad = 151, kChanged = 40;
    auto db = std::make_shared<std::vector<uint8_t>>();
    for (uint32_t i = 0; i < kPages; ++i) db->insert(db->end(), kPageSize, uint8_t(i));
    auto file = std::make_unique<ReadAheadFile>(db, kBad);
    ReadAheadFile& counted = *file;
    Pager p(std::move(file), 64);
    ASSERT_TRUE(p.write(kChanged, filled(0xEE)).isOk());
    ASSERT_TRUE(p.read(kChanged + 1).isOk());  // a run may not start at the changed page either

    size_t read = 0;
    for (uint32_t page = 1; page < kPages; page += page < 100 ? 1 : 3) {
        Result<jet::PageRef> r = p.read(page);
        ++read;
        if (page == kBad) {
            ASSERT_FALSE(r.isOk());
            EXPECT_EQ(r.status().message(), "page 151 cannot be read");
            continue;
        }
        ASSERT_TRUE(r.isOk()) << page << ": " << r.status().message();
        EXPECT_EQ((*r.value())[0], page == kChanged ? 0xEE : uint8_t(page)) << page;
    }
    EXPECT_TRUE(p.read(kPages - 1).isOk());
    EXPECT_FALSE(p.read(kPages).isOk());  // past the end
    EXPECT_LT(counted.calls, int(read / 3));

    // Committed, the page reads as written; undone, as the file has it.
    ASSERT_TRUE(p.commit().isOk());
    EXPECT_EQ((*p.read(kChanged).value())[0], 0xEE);
    ASSERT_TRUE(p.write(kChanged + 2, filled(0xDD)).isOk());
    p.rollback();
    for (uint32_t page = kChanged - 1; page < kChanged + 20; ++page)
        EXPECT_EQ((*p.read(page).value())[0], page == kChanged ? 0xEE : uint8_t(page)) << page;
}

// A commit writes each run of consecutive pages in one call to the system.
// On a real file, a run longer than one call takes, pages alone, the last
// page and pages appended past the end each land in their own place.
TEST(Pager, PagesCommittedInRunsLandInTheirPlacesInARealFile)
{
    constexpr uint32_t kPages = 300;
    test::TempDir dir;
    const std::string path = dir.file("runs.mdb").string();
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < kPages; ++i) expected.insert(expected.end(), kPageSize, uint8_t(i));
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(expected.data()), std::streamsize(expected.size()));
    }
    auto change = [&](uint32_t page) {
        if (expected.size() < size_t(page + 1) * kPageSize) expected.resize(size_t(page + 1) * kPageSize);
        std::fill_n(expected.begin() + long(size_t(page) * kPageSize), kPageSize, uint8_t(0x80 ^ page));
        return filled(uint8_t(0x80 ^ page));
    };
    {
        auto file = jet::openPosixFile(path, jet::OpenMode::ReadWrite);
        ASSERT_TRUE(file.isOk()) << file.status().toString();
        Pager p(std::move(*file), 16);
        for (uint32_t page = 10; page < 160; ++page) ASSERT_TRUE(p.write(page, change(page)).isOk());
        for (uint32_t page : {200u, 202u, kPages - 1}) ASSERT_TRUE(p.write(page, change(page)).isOk());
        for (uint32_t page : {kPages, kPages + 1}) {
            auto appended = p.append(change(page));
            ASSERT_TRUE(appended.isOk());
            EXPECT_EQ(*appended, page);
        }
        ASSERT_TRUE(p.commit().isOk());
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(written.size(), expected.size());
    for (uint32_t page = 0; page < kPages + 2; ++page)
        ASSERT_TRUE(std::equal(written.begin() + long(size_t(page) * kPageSize), written.begin() + long(size_t(page + 1) * kPageSize),
                               expected.begin() + long(size_t(page) * kPageSize)))
            << "page " << page;
}

// A watch sees the pages as they are before the change that runs it, and
// runs once: before a write in place, a write of new bytes, and the undoing
// of a unit's writes; not for reads or commits, and not once it is dropped.
TEST(Pager, AWatchRunsOnceBeforeTheNextChangeWithThePagesAsTheyWere)
{
    auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
    auto plan = std::make_shared<FaultPlan>();
    Pager p(std::make_unique<FaultFile>(db, plan), 2);
    std::vector<int> seen;  // page 2's first byte, at each run
    auto watch = [&] { return p.watchNextChange([&] { seen.push_back((*p.read(2).value())[0]); }); };

    Pager::ChangeWatch w = watch();
    ASSERT_TRUE(p.read(2).isOk());
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(p.write(2, filled(7)).isOk());
    ASSERT_TRUE(p.write(2, filled(8)).isOk());
    EXPECT_EQ(seen, std::vector<int>{0xA2});

    // In place: bytes the watch keeps are not changed under it.
    jet::PageRef kept;
    w = p.watchNextChange([&] {
        kept = p.read(2).value();
        seen.push_back((*kept)[0]);
    });
    auto inPlace = p.writable(2);
    ASSERT_TRUE(inPlace.isOk());
    (**inPlace)[0] = 9;
    EXPECT_EQ(seen, (std::vector<int>{0xA2, 8}));
    EXPECT_EQ((*kept)[0], 8);
    ASSERT_TRUE(p.commit().isOk());
    EXPECT_EQ(seen.size(), 2u);

    // The undoing of a unit's writes is a change too.
    p.beginGroup();
    ASSERT_TRUE(p.write(2, filled(10)).isOk());
    w = watch();
    p.rollback();
    EXPECT_EQ(seen, (std::vector<int>{0xA2, 8, 10}));
    EXPECT_EQ((*p.read(2).value())[0], 9);
    ASSERT_TRUE(p.endGroup().isOk());

    // Dropped: by its object going, or by another watch while it runs.
    { Pager::ChangeWatch gone = watch(); }
    Pager::ChangeWatch second;
    Pager::ChangeWatch first = p.watchNextChange([&] { second.reset(); seen.push_back(-1); });
    second = watch();
    ASSERT_TRUE(p.write(1, filled(11)).isOk());
    EXPECT_EQ(seen, (std::vector<int>{0xA2, 8, 10, -1}));
}

// Kills the process at each of the `total` writes of `change` in turn, on a
// file that holds `before`: the next open rolls back whatever the journal
// says, and the file is then `before` or `after`, never a mixture.
void expectAllOrNothingAtEveryWrite(long total, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                                    const std::function<Status(Pager&)>& change)
{
    for (long n = 1; n <= total; ++n) {
        auto plan = std::make_shared<FaultPlan>();
        plan->failWriteAt = n;
        plan->crash = true;
        auto db = std::make_shared<std::vector<uint8_t>>(before);
        auto j = std::make_shared<std::vector<uint8_t>>();
        {
            auto p = pagerOver(db, j, plan);
            EXPECT_FALSE(change(*p).isOk()) << "write " << n;
        }
        auto calm = std::make_shared<FaultPlan>();
        FaultFile dbFile(db, calm);
        Journal journal(std::make_unique<FaultFile>(j, calm));
        ASSERT_TRUE(jet::rollBackPendingJournal(dbFile, journal).isOk());
        ASSERT_TRUE(*db == before || *db == after) << "torn state after dying at write " << n;
    }
}

TEST(Pager, CommitIsAllOrNothingWhateverWriteTheProcessDiesAt)
{
    // Count the writes of one clean commit, then die at each of them.
    long total;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
        auto j = std::make_shared<std::vector<uint8_t>>();
        auto p = pagerOver(db, j, plan);
        ASSERT_TRUE(applyChange(*p).isOk());
        EXPECT_EQ(*db, newImage());
        // Disarmed: what is left in it describes no rollback.
        Journal left(std::make_unique<FaultFile>(j, plan));
        EXPECT_FALSE(*left.isArmed());
        auto pending = left.readPending();
        ASSERT_TRUE(pending.isOk());
        EXPECT_FALSE(pending->has_value());
        total = plan->writes;
    }
    ASSERT_GT(total, 4);
    expectAllOrNothingAtEveryWrite(total, oldImage(), newImage(), applyChange);
}

TEST(Pager, ACommitOfManyPagesIsAllOrNothingWhateverWriteTheProcessDiesAt)
{
    // The journal of a commit this large is written in several runs (the
    // last one shorter): the header's checksum must cover them all.
    constexpr uint32_t kPages = 240;
    constexpr uint32_t kChanged = 151;
    auto image = [&](bool changed) {
        std::vector<uint8_t> v;
        for (uint32_t i = 0; i < kPages; ++i)
            v.insert(v.end(), kPageSize, uint8_t(changed && i >= 1 && i <= kChanged ? 0x80 ^ i : i));
        if (changed) v.insert(v.end(), kPageSize, 0xEE);
        return v;
    };
    auto change = [&](Pager& p) {
        for (uint32_t i = 1; i <= kChanged; ++i) VK_RETURN_IF_ERROR(p.write(i, filled(uint8_t(0x80 ^ i))));
        VK_RETURN_IF_ERROR(p.append(filled(0xEE)).status());
        return p.commit();
    };
    long total;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(image(false));
        auto p = pagerOver(db, std::make_shared<std::vector<uint8_t>>(), plan);
        ASSERT_TRUE(change(*p).isOk());
        ASSERT_EQ(*db, image(true));
        total = plan->writes;
    }
    expectAllOrNothingAtEveryWrite(total, image(false), image(true), change);
}

// A pager over `db` with a safe-point journal in memory (its file's writes
// and syncs counted in `journalPlan`), whose one safe point is taken at the
// first commit.
struct PagerWithSafePoints {
    PagerWithSafePoints(Bytes db, std::shared_ptr<FaultPlan> journalPlan)
        : pager(std::make_unique<FaultFile>(std::move(db), std::make_shared<FaultPlan>()), 64)
    {
        auto journal =
            std::make_unique<jet::SafePointJournal>(std::make_unique<FaultFile>(journalBytes, std::move(journalPlan)), "boot-1");
        points = journal.get();
        pager.setSafePointJournal(std::move(journal));
        pager.setSafePointInterval(1e9, 100000);
    }
    Bytes journalBytes = std::make_shared<std::vector<uint8_t>>();
    Pager pager;
    const jet::SafePointJournal* points = nullptr;
};

// Before a commit changes a page that the safe-point journal does not hold,
// the journal takes the page's bytes and is synced. A run in page order, of
// thirty pages a commit as a run over a table's rows, finds most of its
// pages taken along by a commit before it; changes here and there take
// along only a few pages each, not whole stretches of the file.
TEST(Pager, ARunInPageOrderSyncsTheSafePointJournalNowAndThen)
{
    constexpr uint32_t kRunPages = 600, kPerCommit = 30, kScatteredStep = 40;
    constexpr uint32_t kPages = 1 + 3 * kRunPages;
    auto journalPlan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<std::vector<uint8_t>>(size_t(kPages) * kPageSize, uint8_t(0xA0));
    PagerWithSafePoints files(db, journalPlan);
    Pager& pager = files.pager;
    const jet::SafePointJournal& points = *files.points;

    size_t commits = 0;
    for (uint32_t first = 1; first <= kRunPages; first += kPerCommit, ++commits) {
        for (uint32_t page = first; page < first + kPerCommit; ++page) ASSERT_TRUE(pager.write(page, filled(0xB0)).isOk());
        ASSERT_TRUE(pager.commit().isOk());
    }
    // One sync is the journal's header.
    EXPECT_LE(journalPlan->syncs, long(commits / 3) + 1);

    const size_t held = points.entries();
    size_t changes = 0;
    for (uint32_t page = kRunPages + kScatteredStep; page < 2 * kRunPages; page += kScatteredStep, ++changes) {
        ASSERT_TRUE(pager.write(page, filled(0xC0)).isOk());
        ASSERT_TRUE(pager.commit().isOk());
    }
    EXPECT_LE(points.entries() - held, changes * 8);
}

// A table's pages with pages of its long values between them, as files
// grown record by record lay them out: a run in order over the table's
// pages takes along only pages of the table; a long-value page changed
// later is journaled when it is, and a power cut after both puts the whole
// file back.
TEST(Pager, ARunTakesAlongOnlyPagesOfItsOwnKind)
{
    constexpr uint32_t kPages = 801, kRunEnd = 600, kPerCommit = 15;
    auto page = [](uint32_t n) {
        PageBuffer b = filled(uint8_t(n));
        b[0] = 0x01;  // a data page
        const uint32_t owner = n % 2 ? 17 : 0x4C41564C;  // the table's TDEF page, or "LVAL"
        std::memcpy(b.data() + 4, &owner, sizeof owner);
        return b;
    };
    auto db = std::make_shared<std::vector<uint8_t>>(size_t(kPages) * kPageSize);
    for (uint32_t n = 0; n < kPages; ++n) {
        const PageBuffer b = page(n);
        std::copy(b.begin(), b.end(), db->begin() + long(n) * long(kPageSize));
    }
    const std::vector<uint8_t> before = *db;
    PagerWithSafePoints files(db, std::make_shared<FaultPlan>());
    Pager& pager = files.pager;
    const jet::SafePointJournal& points = *files.points;

    uint32_t changed = 0;
    for (uint32_t n = 1; n < kRunEnd; n += 2) {
        PageBuffer b = page(n);
        b[100] = 0xEE;
        ASSERT_TRUE(pager.write(n, b).isOk());
        if (++changed % kPerCommit == 0) {
            ASSERT_TRUE(pager.commit().isOk());
        }
    }
    ASSERT_TRUE(pager.commit().isOk());
    for (uint32_t n = 2; n < kPages; n += 2) EXPECT_TRUE(points.needs(n)) << "long-value page " << n << " taken along";
    EXPECT_FALSE(points.needs(kRunEnd + 1));  // the table's next pages are

    PageBuffer lv = page(300);
    lv[200] = 0xEE;
    ASSERT_TRUE(pager.write(300, lv).isOk());
    ASSERT_TRUE(pager.commit().isOk());
    EXPECT_FALSE(points.needs(300));

    FaultFile dbAfterCut(db, std::make_shared<FaultPlan>());
    FaultFile journalAfterCut(files.journalBytes, std::make_shared<FaultPlan>());
    Result<bool> rolledBack = jet::rollBackAfterPowerLoss(dbAfterCut, journalAfterCut, "boot-2");
    ASSERT_TRUE(rolledBack.isOk()) << rolledBack.status().message();
    EXPECT_TRUE(*rolledBack);
    EXPECT_TRUE(*db == before);
}

// The safe-point journal's file, telling the syncs a commit waits for (of
// entries written since the last sync begun in the background) from those
// that only take the outcome of one.
class JournalSyncedAhead : public FaultFile {
public:
    using FaultFile::FaultFile;
    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        m_writtenSinceStart = true;
        return FaultFile::write(offset, data, length);
    }
    void startSync() override
    {
        ++started;
        m_writtenSinceStart = false;
    }
    Status sync() override
    {
        if (m_writtenSinceStart) ++waited;
        m_writtenSinceStart = false;
        return FaultFile::sync();
    }
    long started = 0;
    long waited = 0;

private:
    bool m_writtenSinceStart = false;
};

// A table's data pages 1 to `dataPages` (its records), then index leaves,
// under a pager in groups of `perGroup` units whose safe-point journal is a
// JournalSyncedAhead, with one safe point, at the first commit.
struct GroupedRunOverPages {
    GroupedRunOverPages(uint32_t dataPages, uint32_t indexPages, uint32_t perGroup) : dataPages(dataPages)
    {
        for (uint32_t n = 0; n <= dataPages + indexPages; ++n) {
            const PageBuffer b = page(n, uint8_t(n));
            db->insert(db->end(), b.begin(), b.end());
        }
        before = *db;
        pager = std::make_unique<Pager>(std::make_unique<FaultFile>(db, std::make_shared<FaultPlan>()), 64);
        auto file = std::make_unique<JournalSyncedAhead>(journalBytes, std::make_shared<FaultPlan>());
        journal = file.get();
        pager->setSafePointJournal(std::make_unique<jet::SafePointJournal>(std::move(file), "boot-1"));
        pager->setSafePointInterval(1e9, 100000);
        pager->setGroupLimits({2048, perGroup});
        pager->beginGroup();
    }
    PageBuffer page(uint32_t n, uint8_t fill) const
    {
        PageBuffer b = filled(fill);
        b[0] = n <= dataPages ? 0x01 : 0x04;  // a data page, or an index leaf
        const uint32_t table = 17;
        std::memcpy(b.data() + 4, &table, sizeof table);
        return b;
    }
    Status change(uint32_t n, uint8_t fill) { return pager->write(n, page(n, fill)); }

    uint32_t dataPages;
    Bytes db = std::make_shared<std::vector<uint8_t>>();
    std::vector<uint8_t> before;
    Bytes journalBytes = std::make_shared<std::vector<uint8_t>>();
    JournalSyncedAhead* journal = nullptr;
    std::unique_ptr<Pager> pager;
};

// A run over a table's records in groups, in page order, its index's pages
// changed too at the end of the file: once a group is written, the table's
// pages the next group will change are journaled, and their sync started, so
// that the next group's commit does not wait for one. A power cut after the
// run still puts back every page as it was at the safe point.
TEST(Pager, AGroupOfARunJournalsTheNextGroupsPagesAndStartsTheirSync)
{
    constexpr uint32_t kDataPages = 1200, kPerGroup = 60;
    GroupedRunOverPages run(kDataPages, 100, kPerGroup);
    for (uint32_t n = 1; n <= kDataPages; ++n) {
        ASSERT_TRUE(run.change(n, 0xEE).isOk());
        if (n % 20 == 0) {
            ASSERT_TRUE(run.change(kDataPages + n / 20, 0xDD).isOk());
        }
        // A record moved to a page the run comes to later: journaled as it
        // was, not as it is when the run's journal gets that far.
        if (n == 5) {
            ASSERT_TRUE(run.change(200, 0xCC).isOk());
        }
        ASSERT_TRUE(run.pager->commit().isOk());
    }
    ASSERT_TRUE(run.pager->endGroup().isOk());

    // The first group's commit syncs the journal's start and its entries,
    // the second the entries the first wrote ahead; from then on each
    // group's pages are journaled, and their sync started, a group ahead.
    EXPECT_GE(run.journal->started, long(kDataPages / kPerGroup) / 2);
    EXPECT_LE(run.journal->waited, 3);

    FaultFile dbAfterCut(run.db, std::make_shared<FaultPlan>());
    FaultFile journalAfterCut(run.journalBytes, std::make_shared<FaultPlan>());
    Result<bool> rolledBack = jet::rollBackAfterPowerLoss(dbAfterCut, journalAfterCut, "boot-2");
    ASSERT_TRUE(rolledBack.isOk()) << rolledBack.status().message();
    EXPECT_TRUE(*rolledBack);
    EXPECT_TRUE(*run.db == run.before);
}

// A run whose every group also changes a page of no run that the journal
// lacks (an index leaf here and there) syncs for that page anyway: nothing
// is synced in the background, which would only make that sync wait.
TEST(Pager, AGroupThatSyncsForPagesElsewhereStartsNoSyncOfItsOwn)
{
    constexpr uint32_t kDataPages = 600, kPerGroup = 30, kIndexPages = 3200;
    GroupedRunOverPages run(kDataPages, kIndexPages, kPerGroup);
    for (uint32_t n = 1; n <= kDataPages; ++n) {
        ASSERT_TRUE(run.change(n, 0xEE).isOk());
        if (n % kPerGroup == 0) {
            ASSERT_TRUE(run.change(kDataPages + 1 + (n / kPerGroup) * 112 % kIndexPages, 0xDD).isOk());
        }
        ASSERT_TRUE(run.pager->commit().isOk());
    }
    ASSERT_TRUE(run.pager->endGroup().isOk());
    EXPECT_EQ(run.journal->started, 0);
}

TEST(Pager, FailedWriteWithoutCrashPutsTheFileBack)
{
    for (long n = 1; n <= 8; ++n) {
        auto plan = std::make_shared<FaultPlan>();
        plan->failWriteAt = n;
        auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
        auto j = std::make_shared<std::vector<uint8_t>>();
        auto p = pagerOver(db, j, plan);
        Status s = applyChange(*p);
        if (s.isOk()) {
            EXPECT_EQ(*db, newImage());
            continue;
        }
        EXPECT_EQ(s.code(), ErrorCode::IOError);
        EXPECT_EQ(*db, oldImage()) << "write " << n;
        EXPECT_FALSE(p->hasPendingWrites());
        EXPECT_EQ(p->pageCount(), 4u);
    }
}

// Pages appended by a change that makes many (a new index) go to the file
// ahead of its commit. Whatever write the process dies at, the next opening
// finds the file old or new; a failure the pager reports, or a rollback,
// cuts the file back to its size; a commit keeps them.
Status applyChangeWritingAhead(Pager& p, bool commit = true)
{
    VK_RETURN_IF_ERROR(p.write(1, filled(0xB1)));
    for (uint8_t v = 0xC0; v < 0xC6; ++v) {
        VK_RETURN_IF_ERROR(p.append(filled(v)).status());
        if (v == 0xC2 || v == 0xC5) VK_RETURN_IF_ERROR(p.writeAppendedAhead());
    }
    VK_RETURN_IF_ERROR(p.write(3, filled(0xB3)));
    return commit ? p.commit() : Status::ok();
}

std::vector<uint8_t> aheadImage()
{
    std::vector<uint8_t> v = oldImage();
    std::fill(v.begin() + kPageSize, v.begin() + 2 * kPageSize, 0xB1);
    std::fill(v.begin() + 3 * kPageSize, v.end(), 0xB3);
    for (uint8_t c = 0xC0; c < 0xC6; ++c) v.insert(v.end(), kPageSize, c);
    return v;
}

TEST(Pager, PagesWrittenAheadOfACommitAreAllOrNothing)
{
    long total;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
        auto j = std::make_shared<std::vector<uint8_t>>();
        auto p = pagerOver(db, j, plan);
        ASSERT_TRUE(applyChangeWritingAhead(*p, false).isOk());
        EXPECT_EQ(db->size(), 10 * kPageSize) << "the appended pages are on the file before the commit";
        EXPECT_EQ((*p->read(6).value())[0], 0xC2) << "and read back from it";
        EXPECT_TRUE(p->hasPendingWrites());
        ASSERT_TRUE(p->commit().isOk());
        EXPECT_EQ(*db, aheadImage());
        EXPECT_FALSE(*Journal(std::make_unique<FaultFile>(j, plan)).isArmed());
        total = plan->writes;
    }
    for (long n = 1; n <= total; ++n) {
        for (bool crash : {true, false}) {
            SCOPED_TRACE("write " + std::to_string(n) + (crash ? ", killed" : ", failed"));
            auto plan = std::make_shared<FaultPlan>();
            plan->failWriteAt = n;
            plan->crash = crash;
            auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
            auto j = std::make_shared<std::vector<uint8_t>>();
            {
                auto p = pagerOver(db, j, plan);
                Status s = applyChangeWritingAhead(*p);
                EXPECT_FALSE(s.isOk());
                if (p->pageCount() > 6) (void)p->read(6);  // read back from the file, if it got there
                if (!crash) {
                    // As a caller does with a change that failed.
                    p->rollback();
                    EXPECT_EQ(*db, oldImage());
                    EXPECT_EQ(p->pageCount(), 4u);
                    EXPECT_FALSE(p->hasPendingWrites());
                    EXPECT_FALSE(p->read(4).isOk());
                    EXPECT_FALSE(p->read(6).isOk()) << "a page read back from past the end is forgotten too";
                }
            }
            auto calm = std::make_shared<FaultPlan>();
            FaultFile dbFile(db, calm);
            Journal journal(std::make_unique<FaultFile>(j, calm));
            ASSERT_TRUE(jet::rollBackPendingJournal(dbFile, journal).isOk());
            EXPECT_TRUE(*db == oldImage() || *db == aheadImage());
        }
    }
}

// In a group: nothing goes ahead while a finished unit waits (a later
// failure would cut it off); once saved, the unit that wrote ahead is
// committed as it ends, and undoing it cuts its pages off.
TEST(Pager, PagesWrittenAheadInAGroupAreTheUnitsOwn)
{
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<std::vector<uint8_t>>(oldImage());
    auto j = std::make_shared<std::vector<uint8_t>>();
    auto p = pagerOver(db, j, plan);
    p->beginGroup();
    ASSERT_TRUE(p->append(filled(0xD0)).isOk());
    ASSERT_TRUE(p->commit().isOk());  // a finished unit, waiting
    ASSERT_TRUE(p->append(filled(0xD1)).isOk());
    ASSERT_TRUE(p->writeAppendedAhead().isOk());
    EXPECT_EQ(db->size(), 4 * kPageSize) << "nothing ahead while a finished unit waits";
    p->rollback();
    ASSERT_TRUE(p->saveGroup().isOk());
    EXPECT_EQ(db->size(), 5 * kPageSize);

    ASSERT_TRUE(p->append(filled(0xD2)).isOk());
    ASSERT_TRUE(p->writeAppendedAhead().isOk());
    EXPECT_EQ(db->size(), 6 * kPageSize);
    p->rollback();
    EXPECT_EQ(db->size(), 5 * kPageSize) << "undoing the unit cuts its pages off";
    EXPECT_EQ(p->pageCount(), 5u);

    ASSERT_TRUE(p->write(0, filled(0xE0)).isOk());
    ASSERT_TRUE(p->append(filled(0xD3)).isOk());
    ASSERT_TRUE(p->writeAppendedAhead().isOk());
    ASSERT_TRUE(p->commit().isOk());
    EXPECT_EQ((*db)[0], 0xE0) << "the unit was committed as it ended";
    EXPECT_EQ((*db)[5 * kPageSize], 0xD3);
    EXPECT_FALSE(p->hasPendingWrites());
    ASSERT_TRUE(p->endGroup().isOk());
}

TEST(Pager, OpenRefusesASecondWriterAndFallsBackToReadingWhereItCannotWrite)
{
    test::TempDir dir;
    auto path = dir.file("a.mdb");
    std::ofstream(path) << std::string(kPageSize, 'x');
    auto first = Pager::open(path.string(), jet::OpenMode::ReadWrite);
    ASSERT_TRUE(first.isOk()) << first.status().toString();
    EXPECT_TRUE((*first)->isWritable());
    auto second = Pager::open(path.string(), jet::OpenMode::ReadWrite);
    ASSERT_FALSE(second.isOk());
    EXPECT_EQ(second.status().code(), ErrorCode::Locked);
    auto reader = Pager::open(path.string(), jet::OpenMode::ReadOnly);
    EXPECT_TRUE(reader.isOk());
    first->reset();

    // A read-only file stays read-only for the superuser too.
    chmod(path.c_str(), 0444);
    auto ro = Pager::open(path.string(), jet::OpenMode::ReadWrite);
    ASSERT_TRUE(ro.isOk());
    EXPECT_FALSE((*ro)->isWritable());
    EXPECT_NE((*ro)->readOnlyReason().find("read-only"), std::string::npos);
    EXPECT_EQ((*ro)->write(0, filled(1)).code(), ErrorCode::ReadOnly);
}

}  // namespace
}  // namespace varnika

namespace varnika {
namespace {

TEST(Pager, ALockFileThatAccessHoldsRefusesWritingButAStaleOneDoesNot)
{
    test::TempDir dir;
    auto path = dir.file("Stok.mdb");
    std::ofstream(path) << std::string(jet::kPageSize, 'x');
    auto ldb = dir.file("STOK.LDB");
    std::ofstream(ldb) << std::string(64, ' ');

    // Left over from an earlier session: nobody holds a lock on it.
    EXPECT_TRUE(jet::Pager::open(path.string(), jet::OpenMode::ReadWrite).isOk());

    // A live lock beyond the end of the file, where Jet puts its user locks.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = ::open(ldb.c_str(), O_RDWR);
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        l.l_start = 0x10000001;
        l.l_len = 1;
        fcntl(fd, F_SETLK, &l);
        char c = 1;
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    auto refused = jet::Pager::open(path.string(), jet::OpenMode::ReadWrite);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_FALSE(refused.isOk());
    EXPECT_EQ(refused.status().code(), ErrorCode::Locked);
    EXPECT_NE(refused.status().message().find("Microsoft Access"), std::string::npos);
    EXPECT_TRUE(jet::Pager::open(path.string(), jet::OpenMode::ReadOnly).isOk());
}

}  // namespace
}  // namespace varnika

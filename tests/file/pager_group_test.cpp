// Grouped commits: each operation of a run is a unit that rollback() undoes
// alone, the finished units reach the file together, and neither a kill nor
// a failed commit ever leaves part of a unit.

#include "db/jet/file/journal.h"
#include "db/jet/file/pager.h"
#include "support/fault_file.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

using jet::Journal;
using jet::kPageSize;
using jet::PageBuffer;
using jet::Pager;
using test::FaultFile;
using test::FaultPlan;

using Bytes = std::shared_ptr<std::vector<uint8_t>>;
using Image = std::vector<uint8_t>;

PageBuffer filled(uint8_t v)
{
    PageBuffer b;
    b.fill(v);
    return b;
}

Image image(std::initializer_list<uint8_t> pages)
{
    Image v;
    for (uint8_t p : pages) v.insert(v.end(), kPageSize, p);
    return v;
}

std::unique_ptr<Pager> pagerOver(Bytes db, Bytes journal, std::shared_ptr<FaultPlan> plan)
{
    auto pager = std::make_unique<Pager>(std::make_unique<FaultFile>(db, plan), 2);
    pager->setJournal(std::make_unique<Journal>(std::make_unique<FaultFile>(journal, plan)));
    return pager;
}

// What the next open finds: the file with its journal rolled back.
Image reopened(Bytes db, Bytes journal)
{
    auto calm = std::make_shared<FaultPlan>();
    FaultFile file(db, calm);
    Journal j(std::make_unique<FaultFile>(journal, calm));
    EXPECT_TRUE(jet::rollBackPendingJournal(file, j).isOk());
    return *db;
}

uint8_t firstByte(Pager& p, uint32_t page)
{
    auto r = p.read(page);
    return r.isOk() ? (**r)[0] : 0;
}

TEST(PagerGroup, RollbackAmidAGroupUndoesTheUnitInHandAloneAndReadsSeeTheUnitsBefore)
{
    auto db = std::make_shared<Image>(image({0xA0, 0xA1, 0xA2, 0xA3}));
    auto plan = std::make_shared<FaultPlan>();
    auto p = pagerOver(db, std::make_shared<Image>(), plan);
    p->setGroupLimits({1000, 1000});
    p->beginGroup();

    // A finished unit: a page changed and one appended, all in memory.
    ASSERT_TRUE(p->write(1, filled(0xB1)).isOk());
    ASSERT_EQ(*p->append(filled(0xB4)), 4u);
    ASSERT_TRUE(p->commit().isOk());
    EXPECT_EQ(*db, image({0xA0, 0xA1, 0xA2, 0xA3}));
    EXPECT_FALSE(p->hasPendingWrites());

    // A unit that changes the same pages again, a clean one, and appends
    // two more; it is undone.
    ASSERT_TRUE(p->write(1, filled(0xC1)).isOk());
    ASSERT_TRUE(p->write(2, filled(0xC2)).isOk());
    ASSERT_TRUE(p->write(4, filled(0xC4)).isOk());
    ASSERT_EQ(*p->append(filled(0xC5)), 5u);
    ASSERT_EQ(*p->append(filled(0xC6)), 6u);
    EXPECT_TRUE(p->hasPendingWrites());
    EXPECT_EQ(firstByte(*p, 1), 0xC1);
    EXPECT_EQ(firstByte(*p, 6), 0xC6);
    p->rollback();
    EXPECT_FALSE(p->hasPendingWrites());
    EXPECT_EQ(p->pageCount(), 5u);
    EXPECT_EQ(firstByte(*p, 1), 0xB1);
    EXPECT_EQ(firstByte(*p, 2), 0xA2);
    EXPECT_EQ(firstByte(*p, 4), 0xB4);
    EXPECT_FALSE(p->read(5).isOk());

    // The next append takes the place of the undone one.
    ASSERT_TRUE(p->write(3, filled(0xD3)).isOk());
    ASSERT_EQ(*p->append(filled(0xD5)), 5u);
    ASSERT_TRUE(p->commit().isOk());
    EXPECT_EQ(*db, image({0xA0, 0xA1, 0xA2, 0xA3}));
    ASSERT_TRUE(p->endGroup().isOk());
    EXPECT_EQ(*db, image({0xA0, 0xB1, 0xA2, 0xD3, 0xB4, 0xD5}));

    // Out of the group, each commit reaches the file at once.
    ASSERT_TRUE(p->write(0, filled(0xE0)).isOk());
    ASSERT_TRUE(p->commit().isOk());
    EXPECT_EQ((*db)[0], 0xE0);
}

// A unit may write many pages (an index built, a long value): each goes
// back to what it was before the unit, however often the unit wrote it, and
// the next unit's pages are told apart from the last one's.
TEST(PagerGroup, AUnitOfManyPagesIsUndoneWhole)
{
    Image start;
    for (uint8_t i = 0; i < 40; ++i) start.insert(start.end(), kPageSize, i);
    auto db = std::make_shared<Image>(start);
    auto plan = std::make_shared<FaultPlan>();
    auto p = pagerOver(db, std::make_shared<Image>(), plan);
    p->setGroupLimits({1000, 1000});
    p->beginGroup();
    for (uint32_t page = 1; page <= 30; ++page) ASSERT_TRUE(p->write(page, filled(0xB0)).isOk());
    ASSERT_TRUE(p->commit().isOk());

    for (uint32_t page = 1; page <= 35; ++page) ASSERT_TRUE(p->write(page, filled(0xC0)).isOk());
    ASSERT_TRUE(p->write(20, filled(0xC1)).isOk());
    ASSERT_TRUE(p->write(3, filled(0xC1)).isOk());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(p->append(filled(0xC2)).isOk());
    p->rollback();
    EXPECT_EQ(p->pageCount(), 40u);
    for (uint32_t page = 1; page < 40; ++page) EXPECT_EQ(firstByte(*p, page), page <= 30 ? 0xB0 : page) << page;

    // A second long unit over other pages, then a short one: undone alike.
    for (uint32_t page = 10; page < 40; ++page) ASSERT_TRUE(p->write(page, filled(0xD0)).isOk());
    p->rollback();
    ASSERT_TRUE(p->write(35, filled(0xE0)).isOk());
    ASSERT_TRUE(p->write(2, filled(0xE0)).isOk());
    p->rollback();
    for (uint32_t page = 1; page < 40; ++page) EXPECT_EQ(firstByte(*p, page), page <= 30 ? 0xB0 : page) << page;
    ASSERT_TRUE(p->endGroup().isOk());
    EXPECT_EQ((*db)[30 * kPageSize], 0xB0);
    EXPECT_EQ((*db)[31 * kPageSize], 31);
}

// A page changed in place is changed as a write would change it: bytes a
// reader still holds, a unit finished before, and the file before a
// rollback all keep what they had.
TEST(PagerGroup, ChangingAPageInPlaceLeavesEveryEarlierStateOfItAsItWas)
{
    auto db = std::make_shared<Image>(image({0xA0, 0xA1, 0xA2}));
    auto plan = std::make_shared<FaultPlan>();
    auto p = pagerOver(db, std::make_shared<Image>(), plan);
    auto setFirst = [&](uint32_t page, uint8_t v) {
        auto bytes = p->writable(page);
        ASSERT_TRUE(bytes.isOk());
        (**bytes)[0] = v;
    };

    // Outside a group: a reader's bytes stay; the change is rolled back.
    auto held = p->read(1);
    ASSERT_TRUE(held.isOk());
    const uint64_t before = p->changeCount();
    setFirst(1, 0xB1);
    EXPECT_GT(p->changeCount(), before);
    EXPECT_EQ((**held)[0], 0xA1);
    EXPECT_EQ(firstByte(*p, 1), 0xB1);
    auto heldDirty = p->read(1);
    ASSERT_TRUE(heldDirty.isOk());
    setFirst(1, 0xC1);
    EXPECT_EQ((**heldDirty)[0], 0xB1);
    heldDirty = p->read(0);
    setFirst(1, 0xD1);  // the pager's own dirty copy now
    EXPECT_EQ(firstByte(*p, 1), 0xD1);
    p->rollback();
    EXPECT_EQ(firstByte(*p, 1), 0xA1);

    // In a group: a later unit's change in place is undone alone.
    p->setGroupLimits({1000, 1000});
    p->beginGroup();
    setFirst(2, 0xB2);
    setFirst(2, 0xC2);
    ASSERT_TRUE(p->commit().isOk());
    setFirst(2, 0xD2);
    setFirst(2, 0xE2);
    EXPECT_EQ(firstByte(*p, 2), 0xE2);
    p->rollback();
    EXPECT_EQ(firstByte(*p, 2), 0xC2);
    ASSERT_TRUE(p->endGroup().isOk());
    Image expected = image({0xA0, 0xA1, 0xA2});
    expected[2 * kPageSize] = 0xC2;
    EXPECT_EQ(*db, expected);
}

// Unit k writes k into pages 1 and 2 and appends a page holding k; the
// group is committed whenever four pages are dirty: after units 2, 4, 6.
Status unit(Pager& p, uint8_t k)
{
    VK_RETURN_IF_ERROR(p.write(1, filled(k)));
    VK_RETURN_IF_ERROR(p.write(2, filled(k)));
    VK_RETURN_IF_ERROR(p.append(filled(k)).status());
    return p.commit();
}

Image afterUnits(uint8_t k)
{
    Image v = image({0xA0, k ? k : uint8_t(0xA1), k ? k : uint8_t(0xA2), 0xA3});
    for (uint8_t i = 1; i <= k; ++i) v.insert(v.end(), kPageSize, i);
    return v;
}

// A unit that stands for several operations counts as that many toward the
// group's limit: a run adding records together reaches the file after as
// many records as one adding them one at a time.
TEST(PagerGroup, AUnitOfSeveralOperationsCountsAsThatMany)
{
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<Image>(afterUnits(0));
    auto p = pagerOver(db, std::make_shared<Image>(), plan);
    p->setGroupLimits({1000, 6});
    p->beginGroup();
    const size_t operations[] = {4, 3, 1};
    for (uint8_t k = 1; k <= 3; ++k) {
        ASSERT_TRUE(p->write(1, filled(k)).isOk());
        ASSERT_TRUE(p->write(2, filled(k)).isOk());
        ASSERT_TRUE(p->append(filled(k)).isOk());
        ASSERT_TRUE(p->commit(operations[k - 1]).isOk());
        // Four operations, then seven: the second unit takes the group to
        // the file; the third begins a new group.
        EXPECT_EQ(*db, afterUnits(k == 1 ? 0 : 2)) << "after unit " << int(k);
    }
    ASSERT_TRUE(p->endGroup().isOk());
}

TEST(PagerGroup, AKilledRunLosesOnlyWholeUnitsFinishedSinceTheGroupsLastCommit)
{
    const Pager::GroupLimits everyFourPages{4, 1000};
    long total = 0;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<Image>(afterUnits(0));
        auto j = std::make_shared<Image>();
        auto p = pagerOver(db, j, plan);
        p->setGroupLimits(everyFourPages);
        p->beginGroup();
        for (uint8_t k = 1; k <= 5; ++k) {
            ASSERT_TRUE(unit(*p, k).isOk());
            // Killed now: the file holds the units up to the last group commit.
            EXPECT_EQ(reopened(std::make_shared<Image>(*db), std::make_shared<Image>(*j)), afterUnits(uint8_t(k / 2 * 2)))
                << "after unit " << int(k);
        }
        ASSERT_TRUE(unit(*p, 6).isOk());
        total = plan->writes;
        ASSERT_TRUE(p->endGroup().isOk());
        EXPECT_EQ(*db, afterUnits(6));
    }
    // Killed at each write of the run: back to a group's commit, never part of one.
    for (long n = 1; n <= total; ++n) {
        auto plan = std::make_shared<FaultPlan>();
        plan->failWriteAt = n;
        plan->crash = true;
        auto db = std::make_shared<Image>(afterUnits(0));
        auto j = std::make_shared<Image>();
        {
            auto p = pagerOver(db, j, plan);
            p->setGroupLimits(everyFourPages);
        p->beginGroup();
            for (uint8_t k = 1; k <= 6; ++k)
                if (!unit(*p, k).isOk()) break;
        }
        const Image after = reopened(db, j);
        EXPECT_TRUE(after == afterUnits(0) || after == afterUnits(2) || after == afterUnits(4) || after == afterUnits(6))
            << "dying at write " << n;
    }
}

TEST(PagerGroup, AFailedGroupCommitLosesTheUnitInHandAloneOrSaysWhatElseWasLost)
{
    // Units 1 and 2; unit 2 takes the group to the file, and one of that
    // commit's writes fails.
    long writes = 0;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto p = pagerOver(std::make_shared<Image>(afterUnits(0)), std::make_shared<Image>(), plan);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(unit(*p, 1).isOk());
        ASSERT_TRUE(unit(*p, 2).isOk());
        writes = plan->writes;
    }
    ASSERT_GT(writes, 3);
    for (long n = 1; n <= writes; ++n) {
        SCOPED_TRACE("failing write " + std::to_string(n));
        auto plan = std::make_shared<FaultPlan>();
        plan->failWriteAt = n;
        auto db = std::make_shared<Image>(afterUnits(0));
        auto j = std::make_shared<Image>();
        auto p = pagerOver(db, j, plan);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(unit(*p, 1).isOk());
        Status s = unit(*p, 2);
        ASSERT_FALSE(s.isOk());
        EXPECT_EQ(s.code(), ErrorCode::IOError);
        EXPECT_FALSE(p->hasPendingWrites());
        EXPECT_EQ(p->unitsLost(), 0u);
        // Unit 1 is in the file; unit 2 is nowhere, and the group goes on.
        EXPECT_EQ(reopened(std::make_shared<Image>(*db), std::make_shared<Image>(*j)), afterUnits(1));
        EXPECT_EQ(p->pageCount(), 5u);
        ASSERT_TRUE(unit(*p, 2).isOk());
        ASSERT_TRUE(p->endGroup().isOk());
        EXPECT_EQ(*db, afterUnits(2));
    }

    // A disk that fails for good: the finished unit is lost too, and said so.
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<Image>(afterUnits(0));
    auto p = pagerOver(db, std::make_shared<Image>(), plan);
    p->setGroupLimits({4, 1000});
        p->beginGroup();
    ASSERT_TRUE(unit(*p, 1).isOk());
    plan->failWriteAt = plan->writes + 1;
    plan->crash = true;
    Status s = unit(*p, 2);
    ASSERT_FALSE(s.isOk());
    EXPECT_NE(s.message().find("the change finished before it could not be saved either"), std::string::npos)
        << s.message();
    EXPECT_EQ(p->unitsLost(), 1u);
    EXPECT_EQ(p->pageCount(), 4u);
    EXPECT_FALSE(p->hasPendingWrites());
    EXPECT_EQ(*db, afterUnits(0));
}

// Work the units hold back (as a run's index entries are): each unit holds
// back its number, and the work, done as the group is written, writes page 3
// with the count of numbers held back.
class CountingWork final : public jet::HeldBackWork {
public:
    explicit CountingWork(Pager& pager) : m_pager(pager) { pager.setHeldBackWork(this); }
    ~CountingWork() override { m_pager.setHeldBackWork(nullptr); }
    bool pending() const override { return !m_held.empty(); }
    Status complete() override
    {
        ++completions;
        VK_RETURN_IF_ERROR(m_pager.write(3, filled(uint8_t(0x10 + m_held.size()))));
        if (failures > 0) {
            --failures;
            return Status(ErrorCode::IOError, "the held-back work failed");
        }
        return Status::ok();
    }
    void unitFinished() override { m_finished = m_held.size(); }
    void unitUndone() override { m_held.resize(m_finished); }
    void forget() override
    {
        m_held.clear();
        m_finished = 0;
    }
    Status unit(uint8_t k)
    {
        m_held.push_back(k);
        return ::varnika::unit(m_pager, k);
    }
    int failures = 0;
    int completions = 0;

private:
    Pager& m_pager;
    std::vector<uint8_t> m_held;
    size_t m_finished = 0;
};

Image withWork(Image v, size_t count)
{
    std::fill(v.begin() + 3 * long(kPageSize), v.begin() + 4 * long(kPageSize), uint8_t(0x10 + count));
    return v;
}

TEST(PagerGroup, WorkTheUnitsHeldBackIsDoneAsTheyAreWrittenAndTakenBackWithTheUnitThatFails)
{
    {
        // Done once, for the units finished; an undone unit's is forgotten.
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<Image>(afterUnits(0));
        auto p = pagerOver(db, std::make_shared<Image>(), plan);
        CountingWork work(*p);
        p->setGroupLimits({1000, 1000});
        p->beginGroup();
        ASSERT_TRUE(work.unit(1).isOk());
        ASSERT_TRUE(work.unit(2).isOk());
        ASSERT_TRUE(p->write(1, filled(3)).isOk());
        p->rollback();
        EXPECT_EQ(work.completions, 0);
        ASSERT_TRUE(p->endGroup().isOk());
        EXPECT_EQ(work.completions, 1);
        EXPECT_FALSE(work.pending());
        EXPECT_EQ(*db, withWork(afterUnits(2), 2));
    }
    {
        // The work fails as unit 2 takes the group to the file: unit 2 is
        // undone, unit 1 is written with its work done again, and the
        // group goes on.
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<Image>(afterUnits(0));
        auto p = pagerOver(db, std::make_shared<Image>(), plan);
        CountingWork work(*p);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(work.unit(1).isOk());
        work.failures = 1;
        Status s = work.unit(2);
        EXPECT_EQ(s.message(), "the held-back work failed");
        EXPECT_EQ(p->unitsLost(), 0u);
        EXPECT_FALSE(p->hasPendingWrites());
        EXPECT_EQ(*db, withWork(afterUnits(1), 1));
        ASSERT_TRUE(work.unit(2).isOk());
        ASSERT_TRUE(p->endGroup().isOk());
        EXPECT_EQ(*db, withWork(afterUnits(2), 1));
    }
    long writes = 0;
    {
        auto plan = std::make_shared<FaultPlan>();
        auto p = pagerOver(std::make_shared<Image>(afterUnits(0)), std::make_shared<Image>(), plan);
        CountingWork work(*p);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(work.unit(1).isOk());
        ASSERT_TRUE(work.unit(2).isOk());
        writes = plan->writes;
    }
    ASSERT_GT(writes, 3);
    for (long n = 1; n <= writes; ++n) {
        // A write of the group fails: the work's page goes back with unit 2.
        SCOPED_TRACE("failing write " + std::to_string(n));
        auto plan = std::make_shared<FaultPlan>();
        plan->failWriteAt = n;
        auto db = std::make_shared<Image>(afterUnits(0));
        auto j = std::make_shared<Image>();
        auto p = pagerOver(db, j, plan);
        CountingWork work(*p);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(work.unit(1).isOk());
        ASSERT_FALSE(work.unit(2).isOk());
        EXPECT_EQ(p->unitsLost(), 0u);
        EXPECT_EQ(reopened(std::make_shared<Image>(*db), std::make_shared<Image>(*j)), withWork(afterUnits(1), 1));
        ASSERT_TRUE(work.unit(2).isOk());
        ASSERT_TRUE(p->endGroup().isOk());
        EXPECT_EQ(*db, withWork(afterUnits(2), 1));
    }
    {
        // Work that fails every time: the finished unit is lost with it,
        // and said so; nothing is held back any longer.
        auto plan = std::make_shared<FaultPlan>();
        auto db = std::make_shared<Image>(afterUnits(0));
        auto p = pagerOver(db, std::make_shared<Image>(), plan);
        CountingWork work(*p);
        p->setGroupLimits({4, 1000});
        p->beginGroup();
        ASSERT_TRUE(work.unit(1).isOk());
        work.failures = 100;
        Status s = work.unit(2);
        EXPECT_NE(s.message().find("the change finished before it could not be saved either"), std::string::npos)
            << s.message();
        EXPECT_EQ(p->unitsLost(), 1u);
        EXPECT_FALSE(work.pending());
        EXPECT_FALSE(p->hasPendingWrites());
        EXPECT_EQ(*db, afterUnits(0));
    }
}

}  // namespace
}  // namespace varnika

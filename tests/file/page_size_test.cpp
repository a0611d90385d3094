// Files of 2 KB pages (Access 97): the pager learns the size from the header
// and reads, writes, appends and journals pages of that size; a journal of
// 2 KB pages left by a killed commit or a power cut puts the file back.

#include "db/jet/file/journal.h"
#include "db/jet/file/pager.h"
#include "db/jet/file/safe_point_journal.h"
#include "support/fault_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace varnika {
namespace {

using jet::JetVersion;
using jet::Journal;
using jet::PageBuffer;
using jet::Pager;
using test::FaultFile;
using test::FaultPlan;

using Bytes = std::shared_ptr<std::vector<uint8_t>>;
constexpr size_t kSmallPage = 2048;

// Four 2 KB pages: a header that names Jet 3 (page 0), then pages filled
// with 0xA1, 0xA2, 0xA3.
std::vector<uint8_t> jet3Image()
{
    std::vector<uint8_t> v(4 * kSmallPage, 0);
    const uint8_t start[] = {0x00, 0x01, 0x00, 0x00};
    std::memcpy(v.data(), start, sizeof start);
    std::memcpy(v.data() + 4, "Standard Jet DB", 15);
    v[0x14] = 0x00;  // Jet 3
    for (size_t p = 1; p < 4; ++p) std::fill_n(v.begin() + long(p * kSmallPage), kSmallPage, uint8_t(0xA0 + p));
    return v;
}

PageBuffer filled(uint8_t v)
{
    PageBuffer b{};
    std::fill_n(b.begin(), kSmallPage, v);
    return b;
}

TEST(SmallPages, ThePagerReadsWritesAndAppendsPagesOfTheHeadersSize)
{
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<std::vector<uint8_t>>(jet3Image());
    Pager pager(std::make_unique<FaultFile>(db, plan));
    EXPECT_EQ(pager.format().version, JetVersion::Jet3);
    EXPECT_EQ(pager.pageSize(), kSmallPage);
    EXPECT_EQ(pager.pageCount(), 4u);
    EXPECT_EQ(pager.largestSizeText(), "1 GB");
    auto page = pager.read(2);
    ASSERT_TRUE(page.isOk());
    EXPECT_EQ((**page)[kSmallPage - 1], 0xA2);
    EXPECT_EQ((**page)[kSmallPage], 0x00);  // the rest of the buffer
    EXPECT_FALSE(pager.read(4).isOk());

    // What lies past the page in the buffer never reaches the file.
    PageBuffer changed = filled(0xB2);
    changed[kSmallPage + 5] = 0xEE;
    ASSERT_TRUE(pager.write(2, changed).isOk());
    ASSERT_TRUE(pager.append(filled(0xB4)).isOk());
    ASSERT_TRUE(pager.commit().isOk());
    ASSERT_EQ(db->size(), 5 * kSmallPage);
    EXPECT_EQ((*db)[2 * kSmallPage], 0xB2);
    EXPECT_EQ((*db)[3 * kSmallPage], 0xA3);
    EXPECT_EQ((*db)[4 * kSmallPage + kSmallPage - 1], 0xB4);
    EXPECT_EQ((**pager.read(2))[kSmallPage + 5], 0x00);

    // Anything but a Jet 3 header is taken for Jet 4.
    auto zeros = std::make_shared<std::vector<uint8_t>>(8192, 0);
    EXPECT_EQ(Pager(std::make_unique<FaultFile>(zeros, plan)).pageSize(), jet::kPageSize);
}

TEST(SmallPages, AJournalOfSmallPagesPutsAnInterruptedCommitBack)
{
    // The commit writes its journal, then dies at its second page write.
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<std::vector<uint8_t>>(jet3Image());
    auto journal = std::make_shared<std::vector<uint8_t>>();
    {
        Pager pager(std::make_unique<FaultFile>(db, plan));
        pager.setJournal(std::make_unique<Journal>(std::make_unique<FaultFile>(journal, plan)));
        ASSERT_TRUE(pager.write(1, filled(0xB1)).isOk());
        ASSERT_TRUE(pager.write(3, filled(0xB3)).isOk());
        ASSERT_TRUE(pager.append(filled(0xB4)).isOk());
        plan->failWriteAt = plan->writes + 3;
        plan->crash = true;
        EXPECT_FALSE(pager.commit().isOk());
    }
    // The journal holds two original pages of 2 KB each after its header.
    Journal reader(std::make_unique<FaultFile>(journal, std::make_shared<FaultPlan>()));
    auto pending = reader.readPending();
    ASSERT_TRUE(pending.isOk() && *pending);
    EXPECT_EQ((*pending)->pageSize, kSmallPage);
    EXPECT_EQ((*pending)->entries.size(), 2u);
    EXPECT_EQ((*pending)->originalPageCount, 4u);

    auto calm = std::make_shared<FaultPlan>();
    FaultFile file(db, calm);
    Journal j(std::make_unique<FaultFile>(journal, calm));
    auto rolled = jet::rollBackPendingJournal(file, j);
    ASSERT_TRUE(rolled.isOk() && *rolled) << rolled.status().toString();
    EXPECT_EQ(*db, jet3Image());
}

TEST(SmallPages, AfterAPowerCutTheSafePointJournalPutsSmallPagesBack)
{
    auto plan = std::make_shared<FaultPlan>();
    auto db = std::make_shared<std::vector<uint8_t>>(jet3Image());
    auto safePoints = std::make_shared<std::vector<uint8_t>>();
    {
        Pager pager(std::make_unique<FaultFile>(db, plan));
        pager.setSafePointJournal(
            std::make_unique<jet::SafePointJournal>(std::make_unique<FaultFile>(safePoints, plan), "boot-1"));
        pager.setSafePointInterval(1e9, 1000);
        ASSERT_TRUE(pager.write(2, filled(0xC2)).isOk());
        ASSERT_TRUE(pager.commit().isOk());
        ASSERT_TRUE(pager.write(1, filled(0xC1)).isOk());
        ASSERT_TRUE(pager.append(filled(0xC4)).isOk());
        ASSERT_TRUE(pager.commit().isOk());
        ASSERT_EQ(db->size(), 5 * kSmallPage);
        // The power fails here: the next boot puts the safe point back.
        plan->failWriteAt = plan->writes + 1;
        plan->crash = true;
        (void)pager.takeSafePoint();
    }
    auto calm = std::make_shared<FaultPlan>();
    FaultFile file(db, calm);
    FaultFile journal(safePoints, calm);
    auto back = jet::rollBackAfterPowerLoss(file, journal, "boot-2");
    ASSERT_TRUE(back.isOk() && *back) << back.status().toString();
    EXPECT_EQ(*db, jet3Image());
}

}  // namespace
}  // namespace varnika

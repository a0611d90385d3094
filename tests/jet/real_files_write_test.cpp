// Every record of every table of every Access-made file written to: texts
// grown and cut, memos, numbers and dates changed, every third record
// deleted. Each file is as sound afterwards as the consistency check found
// it before, whatever was refused on the way.

#include "db/jet/check/consistency_check.h"
#include "support/test_support.h"
#include "support/write_every_record.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace varnika {
namespace {

using namespace jet;

TEST(RealFilesWrite, EveryFileStaysSoundWhenEveryRecordOfEveryTableIsWritten)
{
    auto dir = test::fixturesDir();
    if (!dir) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
    size_t files = 0, changedFiles = 0;
    test::RecordWrites total;
    for (const char* sub : {"jet4", "turkish", "odd", "jet3", "jet3-turkish", "blank"})
        for (const auto& path : test::mdbFilesIn(*dir / sub)) {
            SCOPED_TRACE(path.string());
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> original{std::istreambuf_iterator<char>(in), {}};
            auto file = std::make_unique<MemoryPageFile>(original);
            const MemoryPageFile* bytes = file.get();
            auto db = Database::open(std::move(file));
            ASSERT_TRUE(db.isOk()) << db.status().toString();
            auto before = checkDatabase(**db);
            ASSERT_TRUE(before.isOk() && before->ok());
            for (const CatalogEntry& e : (*db)->catalog().tables()) {
                const test::RecordWrites w = test::writeEveryRecord(*db, e.name, 1 << 30);
                total.updated += w.updated;
                total.deleted += w.deleted;
                total.refused += w.refused;
            }
            ++files;
            changedFiles += bytes->bytes() != original;
            auto written = Database::open(std::make_unique<MemoryPageFile>(bytes->bytes()));
            ASSERT_TRUE(written.isOk()) << written.status().toString();
            auto after = checkDatabase(**written);
            ASSERT_TRUE(after.isOk()) << after.status().toString();
            for (const std::string& problem : after->problems) ADD_FAILURE() << problem;
        }
    EXPECT_GT(files, 40u);
    // Most files have records, and most of their changes are taken (the
    // rest are refused by unique indexes, or hold characters a sort order
    // has no code for).
    EXPECT_GT(changedFiles, 30u) << total.updated << " updated, " << total.deleted << " deleted, " << total.refused << " refused";
    EXPECT_GT(total.updated, 2 * total.refused);
    EXPECT_GT(total.deleted, 1000u);
}

}  // namespace
}  // namespace varnika

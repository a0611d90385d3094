#include "db/jet/database_creator.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace varnika {
namespace {

TEST(CheckCommand, SoundFilesPassAndADamagedIndexFails)
{
    test::TempDir dir;
    auto fresh = dir.file("yeni.mdb").string();
    ASSERT_TRUE(jet::createDatabaseFile(fresh, {}).isOk());
    auto ok = test::runCommand({test::varnikaDb(), "check", fresh});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("sound"), std::string::npos) << ok.out;

    auto missing = test::runCommand({test::varnikaDb(), "check", dir.file("none.mdb").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;

    auto fixtures = test::fixturesDir();
    if (!fixtures) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file part skipped";
    auto copy = test::copyWritable(*fixtures / "jet4" / "testV2000.mdb", dir.file("t.mdb"));
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "check", copy.string()}).exitCode, 0);
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(26 * 4096 + 0x1E1);  // a stored key of Table1's index on B
        f.put(char(0x4D));
    }
    auto bad = test::runCommand({test::varnikaDb(), "check", copy.string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.out.find("problem: Table1 index"), std::string::npos) << bad.out;
}

}  // namespace
}  // namespace varnika

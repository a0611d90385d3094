// varnika-db create and exec, checked through mdbtools and our reader.

#include "db/jet/database.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace varnika {
namespace {

TEST(VarnikaDbWrite, CreateThenExecManyInsertsOnOneOpen)
{
    test::TempDir dir;
    const std::string file = dir.file("yeni.mdb").string();
    test::CommandResult created = test::runCommand({test::varnikaDb(), "create", file, "--sort", "turkish"});
    ASSERT_EQ(created.exitCode, 0) << created.err;

    std::string script = "-- a comment line\n\nCREATE TABLE Satir (Id COUNTER PRIMARY KEY, Ad TEXT(30), Sayi LONG)\r\n"
                         "CREATE INDEX ixAd ON Satir (Ad)\n";
    for (int i = 0; i < 1000; ++i)
        script += "INSERT INTO Satir (Ad, Sayi) VALUES ('Şağ " + std::to_string(i % 37) + "', " + std::to_string(i) + ")\n";
    test::CommandResult ran = test::runCommand({test::varnikaDb(), "exec", file}, script);
    ASSERT_EQ(ran.exitCode, 0) << ran.err;

    auto db = jet::Database::open(file, jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    EXPECT_EQ((*db)->header().sortLcid, 0x041F);
    auto table = (*db)->table(u"Satir");
    ASSERT_TRUE(table.isOk());
    EXPECT_EQ((*table)->def().rowCount(), 1000u);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::CommandResult exported = test::runCommand({"mdb-export", file, "Satir"});
    ASSERT_EQ(exported.exitCode, 0);
    EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), 1001);
    EXPECT_NE(exported.out.find("1000,\"Şağ 0\",999\n"), std::string::npos);
}

TEST(VarnikaDbWrite, FailuresNameTheLineAndKeepEarlierStatements)
{
    test::TempDir dir;
    const std::string file = dir.file("a.mdb").string();
    ASSERT_EQ(test::runCommand({test::varnikaDb(), "create", file}).exitCode, 0);
    test::CommandResult again = test::runCommand({test::varnikaDb(), "create", file});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    EXPECT_EQ(test::runCommand({test::varnikaDb(), "create", dir.file("b.mdb").string(), "--sort", "klingon"}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.mdb")));

    test::CommandResult ran = test::runCommand(
        {test::varnikaDb(), "exec", file}, "CREATE TABLE T (A LONG)\nINSERT INTO T VALUES (1)\n\nINSERT INTO T VALUES ('x')\nINSERT INTO T VALUES (3)\n");
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_EQ(ran.err.rfind("line 4: ", 0), 0u) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    auto db = jet::Database::open(file, jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto table = (*db)->table(u"T");
    ASSERT_TRUE(table.isOk());
    EXPECT_EQ((*table)->def().rowCount(), 1u);

    EXPECT_EQ(test::runCommand({test::varnikaDb(), "exec", dir.file("missing.mdb").string()}, "CREATE TABLE X (A LONG)\n").exitCode, 1);
}

TEST(VarnikaDbWrite, TheBuildWritesTheSampleDatabase)
{
    std::filesystem::path sample = test::binaryDir() / "examples" / "ornek.mdb";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "the sample database is not built";
    auto db = jet::Database::open(sample.string(), jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto table = (*db)->table(u"Stok");
    ASSERT_TRUE(table.isOk());
    EXPECT_EQ((*table)->def().rowCount(), 300u);
    EXPECT_EQ((*table)->def().realIndexes().size(), 2u);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools not installed";
    test::CommandResult exported = test::runCommand({"mdb-export", sample.string(), "Stok"});
    EXPECT_EQ(std::count(exported.out.begin(), exported.out.end(), '\n'), 301);
    EXPECT_NE(exported.out.find(",\"Adet\","), std::string::npos);
}

}  // namespace
}  // namespace varnika

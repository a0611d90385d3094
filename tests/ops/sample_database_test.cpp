// The window's operations on a database built by our own engine, the way the
// sample database is built: no Access-made file needed.
#include "db/data_control.h"
#include "db/jet/check/consistency_check.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"
#include "fakes.h"
#include "ops/case_conversion.h"
#include "ops/delete_all.h"
#include "ops/find_replace.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

class SampleDatabase : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.file("stok.mdb").string();
        jet::NewDatabaseOptions o;
        o.sortOrderLcid = 0x041F;  // a Turkish file, as our users have
        ASSERT_TRUE(jet::createDatabaseFile(path, o).isOk());
        auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk()) << db.status().toString();
        jet::DdlExecutor ddl(*db, RegionalSettings::turkish());
        const char16_t* statements[] = {
            u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Miktar LONG, Depo SHORT, Tarih DATETIME, "
            u"Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY)",
            u"CREATE INDEX ixBirim ON Stok (Birim)",
        };
        for (const char16_t* s : statements) ASSERT_TRUE(ddl.execute(s).isOk()) << toUtf8(s);
        for (int i = 0; i < 100; ++i) {
            std::u16string birim = i % 4 == 0 ? u"Adet" : i % 4 == 1 ? u"KUTU" : i % 4 == 2 ? u"ırmak suyu" : u"İSTANBUL ŞUBESİ";
            std::string rest = ", " + std::to_string(i) + ", " + std::to_string(i % 3 + 1) + ", #12/" +
                               std::to_string(i % 28 + 1) + "/2010 14:30:05#, 'not " + std::to_string(i) + "', " +
                               (i % 2 ? "0, 150" : "80, 0") + ")";
            std::u16string sql = u"INSERT INTO Stok (Birim, Miktar, Depo, Tarih, Aciklama, Alacak, Borc) VALUES ('" +
                                 birim + u"'" + fromUtf8(rest);
            ASSERT_TRUE(ddl.execute(sql).isOk()) << toUtf8(sql);
        }
        window.texts[TextBox::Text1] = fromUtf8(path);
        window.texts[TextBox::Text5] = u"Stok";
    }

    void expectSound()
    {
        auto db = jet::Database::open(path, jet::OpenMode::ReadOnly);
        ASSERT_TRUE(db.isOk());
        auto report = jet::checkDatabase(**db);
        ASSERT_TRUE(report.isOk());
        for (const auto& p : report->problems) ADD_FAILURE() << p;
    }

    std::string exported() { return test::runCommand({"mdb-export", path, "Stok"}).out; }

    test::TempDir dir;
    std::string path;
    test::FakeWindow window;
    DataControl data;
};

TEST_F(SampleDatabase, ReplaceOnAnIndexedTextColumn)
{
    window.texts[TextBox::Text2] = u"Birim";
    window.texts[TextBox::Text3] = u"Adet";
    window.texts[TextBox::Text4] = u"Koli";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    EXPECT_EQ(window.counter, u" Kay\u0131t: 25");
    expectSound();
    if (test::haveProgram("mdb-export")) {
        std::string out = exported();
        EXPECT_EQ(out.find("\"Adet\""), std::string::npos);
        size_t koli = 0;
        for (size_t at = out.find("\"Koli\""); at != std::string::npos; at = out.find("\"Koli\"", at + 1)) ++koli;
        EXPECT_EQ(koli, 25u);
    }
}

TEST_F(SampleDatabase, LedgerSwapDateModesAndTitleCase)
{
    window.checks[CheckBox::Check2] = true;  // debit to credit
    window.texts[TextBox::Text3] = u"";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    window.checks[CheckBox::Check2] = false;

    window.checks[CheckBox::Check6] = true;  // date and time: keep each record's time
    window.texts[TextBox::Text2] = u"Tarih";
    window.texts[TextBox::Text3] = u"12/5/2010";
    window.texts[TextBox::Text4] = u"06.01.2011";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    EXPECT_EQ(window.counter, u" Kay\u0131t: 100");  // every record walked
    window.checks[CheckBox::Check6] = false;

    window.checks[CheckBox::Check4] = true;  // title case of Birim
    window.texts[TextBox::Text2] = u"Birim";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    expectSound();
    if (!test::haveProgram("mdb-export")) return;
    std::string out = exported();
    EXPECT_EQ(out.find(",0.0000,150.0000"), std::string::npos);  // every debit with no credit moved over
    EXPECT_NE(out.find(",150.0000,0.0000"), std::string::npos);
    EXPECT_NE(out.find(",80.0000,0.0000"), std::string::npos);   // records with a credit kept theirs
    EXPECT_NE(out.find("01/06/11 14:30:05"), std::string::npos);  // 5 Dec moved to 6 Jan, time kept
    EXPECT_NE(out.find("\"Irmak Suyu\""), std::string::npos);
    EXPECT_NE(out.find("\"İstanbul Şubesi\""), std::string::npos);
    EXPECT_NE(out.find("\"Kutu\""), std::string::npos);
}

TEST_F(SampleDatabase, DeleteAllAfterAReplace)
{
    window.checks[CheckBox::Check1] = true;
    window.texts[TextBox::Text2] = u"Depo";
    window.texts[TextBox::Text3] = u"2";
    window.texts[TextBox::Text4] = u"2";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    ASSERT_TRUE(Command3_Click(window, data).isOk());
    expectSound();
    auto db = jet::Database::open(path, jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk());
    auto t = (*db)->table(u"Stok");
    ASSERT_TRUE(t.isOk());
    auto rows = (*t)->rowPointers();
    ASSERT_TRUE(rows.isOk());
    EXPECT_EQ(rows->size(), 67u);  // 33 of the 100 were in Depo 2
}

}  // namespace
}  // namespace varnika

// The whole road through the real window on the offscreen platform, on a
// copy of a Turkish Access database: type the file, choose a table and a
// field in the lists, type the values, press "Değiştir".
#include "app/form1.h"
#include "app/qt_test_app.h"
#include "schema/schema_browser.h"
#include "support/jackcess.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace varnika {
namespace {

TEST(Form1EndToEnd, ReplaceFromTheWindowChangesTheFile)
{
    VK_REQUIRE_FIXTURES(fixtures);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdb-export is not installed";
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "turkish" / "hospital-appointments.mdb", dir.file("randevu.mdb"));

    test::qtApp();
    Form1 form;
    form.Form_Load();
    form.show();
    auto box = [&](const char* name) { return form.findChild<QLineEdit*>(QString::fromLatin1(name)); };
    auto list = [&](const char* name) { return form.findChild<QListWidget*>(QString::fromLatin1(name)); };

    // Typing the path and listing the tables as the dialog's choice would.
    box("Text1")->setText(QString::fromStdString(file.string()));
    ASSERT_TRUE(LoadTableList(form, box("Text1")->text().toStdU16String()).isOk());
    auto tables = list("lstTables")->findItems(QStringLiteral("doktor"), Qt::MatchExactly);
    ASSERT_EQ(tables.size(), 1);
    list("lstTables")->setCurrentItem(tables.front());  // raises lstTables_Click
    EXPECT_EQ(box("Text5")->text(), QStringLiteral("doktor"));
    auto fields = list("lstFields")->findItems(QStringLiteral("DoktorAdi"), Qt::MatchExactly);
    ASSERT_EQ(fields.size(), 1);
    list("lstFields")->setCurrentItem(fields.front());  // raises lstFields_Click
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("DoktorAdi"));

    box("Text3")->setText(QStringLiteral("volkan şen"));
    box("Text4")->setText(QStringLiteral("Volkan Şen"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 1"));
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("Command1"))->isEnabled());

    std::string after = test::runCommand({"mdb-export", file.string(), "doktor"}).out;
    EXPECT_NE(after.find("\"Volkan Şen\""), std::string::npos);
    EXPECT_EQ(after.find("volkan şen"), std::string::npos);
}

// The same road on an Access 97 file made on Turkish Windows, its text in
// code page 1254: a replace, the case conversion, "Hepsini Sil".
TEST(Form1EndToEnd, TheWindowChangesAnAccess97File)
{
    VK_REQUIRE_FIXTURES(fixtures);
    if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdb-export is not installed";
    test::TempDir dir;
    auto file = test::copyWritable(fixtures / "jet3-turkish" / "turkish-codepage.mdb", dir.file("personel.mdb"));

    test::qtApp();
    Form1 form;
    form.Form_Load();
    form.show();
    auto box = [&](const char* name) { return form.findChild<QLineEdit*>(QString::fromLatin1(name)); };
    auto list = [&](const char* name) { return form.findChild<QListWidget*>(QString::fromLatin1(name)); };
    box("Text1")->setText(QString::fromStdString(file.string()));
    ASSERT_TRUE(LoadTableList(form, box("Text1")->text().toStdU16String()).isOk());
    auto tables = list("lstTables")->findItems(QStringLiteral("Unvan"), Qt::MatchExactly);
    ASSERT_EQ(tables.size(), 1);
    list("lstTables")->setCurrentItem(tables.front());
    auto fields = list("lstFields")->findItems(QStringLiteral("AD"), Qt::MatchExactly);
    ASSERT_EQ(fields.size(), 1);
    list("lstFields")->setCurrentItem(fields.front());

    box("Text3")->setText(QStringLiteral("AŞÇI"));
    box("Text4")->setText(QStringLiteral("AŞÇIBAŞI"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 1"));

    std::string after = test::runCommand({"mdb-export", file.string(), "Unvan"}).out;
    EXPECT_NE(after.find("\"AŞÇIBAŞI\""), std::string::npos) << after;
    EXPECT_EQ(after.find("\"AŞÇI\""), std::string::npos);

    // Title case of Kisi's SOYAD under the Turkish rules.
    auto check = [&](const char* name) { return form.findChild<QCheckBox*>(QString::fromLatin1(name)); };
    box("Text5")->setText(QStringLiteral("Kisi"));
    box("Text2")->setText(QStringLiteral("SOYAD"));
    check("Check4")->setChecked(true);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    check("Check4")->setChecked(false);
    after = test::runCommand({"mdb-export", file.string(), "Kisi"}).out;
    EXPECT_NE(after.find("\"AZMİ\",\"Şahin\""), std::string::npos) << after;
    EXPECT_NE(after.find("\"GÜNEŞ\",\"Varmış\""), std::string::npos) << after;

    // "Hepsini Sil" deletes the selection of the run before it.
    box("Text5")->setText(QStringLiteral("Unvan"));
    box("Text2")->setText(QStringLiteral("AD"));
    box("Text3")->setText(QStringLiteral("BEKÇİ"));
    box("Text4")->setText(QStringLiteral("BEKÇİ"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 1"));
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
    after = test::runCommand({"mdb-export", file.string(), "Unvan"}).out;
    EXPECT_EQ(after.find("BEKÇİ"), std::string::npos) << after;
    EXPECT_NE(after.find("\"AŞÇIBAŞI\""), std::string::npos) << after;
    if (auto problems = test::jcheckProblems(file); test::jcheckPath() && problems) ADD_FAILURE() << *problems;
}

}  // namespace
}  // namespace varnika

#include "db/jet/check/consistency_check.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"

#include <QApplication>
#include <QCheckBox>

namespace varnika {
namespace {

// Rows of `table` as text, in scan order, columns as the table lists them.
std::vector<std::vector<std::u16string>> readRows(const std::string& path, const char16_t* table)
{
    std::vector<std::vector<std::u16string>> out;
    auto db = jet::Database::open(path, jet::OpenMode::ReadOnly);
    EXPECT_TRUE(db.isOk());
    if (!db.isOk()) return out;
    auto t = (*db)->table(table);
    EXPECT_TRUE(t.isOk());
    auto scanner = (*t)->scan();
    while (scanner.isOk() && *scanner->next()) {
        std::vector<std::u16string> row;
        auto values = scanner->values();
        EXPECT_TRUE(values.isOk());
        if (!values.isOk()) break;
        for (const Variant& v : *values) row.push_back(v.isNull() ? u"<null>" : v.type() == VariantType::Text ? v.asText()
                                      : v.type() == VariantType::Long ? fromUtf8(std::to_string(v.asLong()))
                                                                      : fromUtf8(variantTypeName(v.type())));
        out.push_back(row);
    }
    auto report = jet::checkDatabase(**db);
    EXPECT_TRUE(report.isOk() && report->ok());
    return out;
}

// The whole window on a Turkish-sorted file built by our engine: a numeric
// replace narrowed by the "And" box, a replace on the indexed text, the case
// conversion, then "Hepsini Sil" on the last selection.
TEST(Form1EndToEnd, OperationsOnAnEngineBuiltFile)
{
    test::TempDir dir;
    const std::string path = dir.file("stok.mdb").string();
    jet::NewDatabaseOptions o;
    o.sortOrderLcid = 0x041F;
    ASSERT_TRUE(jet::createDatabaseFile(path, o).isOk());
    {
        auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
        ASSERT_TRUE(db.isOk());
        jet::DdlExecutor ddl(*db, RegionalSettings::turkish());
        ASSERT_TRUE(ddl.execute(u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Miktar LONG, Depo SHORT, Aciklama TEXT(60))").isOk());
        ASSERT_TRUE(ddl.execute(u"CREATE INDEX ixBirim ON Stok (Birim)").isOk());
        for (int i = 0; i < 100; ++i) {
            std::string s = "INSERT INTO Stok (Birim, Miktar, Depo, Aciklama) VALUES ('" +
                            std::string(i % 2 ? "Adet" : "Kutu") + "', " + std::to_string(i % 5) + ", " +
                            std::to_string(i % 3) + ", 'iğdır IŞIK şubesi')";
            ASSERT_TRUE(ddl.execute(fromUtf8(s)).isOk()) << s;
        }
    }

    test::qtApp();
    Form1 form;
    form.Form_Load();
    form.show();
    auto box = [&](const char* name) { return form.findChild<QLineEdit*>(QString::fromLatin1(name)); };
    auto check = [&](const char* name) { return form.findChild<QCheckBox*>(QString::fromLatin1(name)); };
    auto button = [&](const char* name) { return form.findChild<QPushButton*>(QString::fromLatin1(name)); };
    auto idle = [&] {
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(button("Command1")->isEnabled());
        EXPECT_TRUE(button("Command2")->isEnabled());
    };

    box("Text1")->setText(QString::fromStdString(path));
    ASSERT_TRUE(LoadTableList(form, box("Text1")->text().toStdU16String()).isOk());
    box("Text5")->setText(QStringLiteral("Stok"));

    // Numerik: Miktar 3 → 30 where Depo = 1 (i % 5 == 3 and i % 3 == 1: 6 records).
    check("Check1")->setChecked(true);
    box("Text2")->setText(QStringLiteral("Miktar"));
    box("Text3")->setText(QStringLiteral("3"));
    box("Text4")->setText(QStringLiteral("30"));
    box("Text6")->setText(QStringLiteral("and Depo = 1"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 6"));
    idle();
    check("Check1")->setChecked(false);
    box("Text6")->clear();

    // The indexed text: Kutu → Paket, 50 records.
    box("Text2")->setText(QStringLiteral("Birim"));
    box("Text3")->setText(QStringLiteral("Kutu"));
    box("Text4")->setText(QStringLiteral("Paket"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 50"));
    idle();

    // Title case of Aciklama under the Turkish rules.
    check("Check4")->setChecked(true);
    box("Text2")->setText(QStringLiteral("Aciklama"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    idle();
    check("Check4")->setChecked(false);

    auto rows = readRows(path, u"Stok");
    ASSERT_EQ(rows.size(), 100u);
    int paket = 0, thirty = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i][1] == u"Paket") ++paket;
        EXPECT_EQ(rows[i][4], u"İğdır Işık Şubesi") << i;
    }
    EXPECT_EQ(paket, 50);
    // The window still holds the file (the case conversion leaves its
    // record set open until the next run), so read it without writing.
    for (const auto& r : rows)
        if (r[2] == u"30") ++thirty;
    EXPECT_EQ(thirty, 6);

    // Hepsini Sil after a run deletes the records of the run's selection
    // (the record set is closed by then, so it is opened again).
    box("Text2")->setText(QStringLiteral("Birim"));
    box("Text3")->setText(QStringLiteral("Adet"));
    box("Text4")->setText(QStringLiteral("Adet"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 50"));
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    idle();
    rows = readRows(path, u"Stok");
    ASSERT_EQ(rows.size(), 50u);
    for (const auto& r : rows) EXPECT_EQ(r[1], u"Paket");
    if (test::haveProgram("mdb-export")) {
        test::CommandResult r = test::runCommand({"mdb-export", path, "Stok"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 51);
        EXPECT_NE(r.out.find("İğdır Işık Şubesi"), std::string::npos);
    }
}

}  // namespace
}  // namespace varnika

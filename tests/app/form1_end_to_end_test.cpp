// The whole road through the real window on the offscreen platform, on a
// copy of a Turkish Access database: type the file, choose a table and a
// field in the lists, type the values, press "Değiştir".
#include "app/form1.h"
#include "app/qt_test_app.h"
#include "schema/schema_browser.h"
#include "support/test_support.h"

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

}  // namespace
}  // namespace varnika

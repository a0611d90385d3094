// The Qt layers beside the window: icon, dialogs, regional settings, and the
// single-instance rule of the built program.

#include "app/app_look.h"
#include "app/form1.h"
#include "app/input_box.h"
#include "app/qt_dialogs.h"
#include "app/qt_regional_settings.h"
#include "app/qt_test_app.h"
#include "app/single_instance.h"
#include "db/text.h"
#include "schema/schema_browser.h"
#include "support/test_support.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace varnika {
namespace {

TEST(ProgramIcon, SixteenBySixteenInTheVgaColours)
{
    test::qtApp();
    const QImage image = programIconImage();
    ASSERT_EQ(image.size(), QSize(16, 16));
    const QSet<QRgb> vga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                            0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    QSet<QRgb> used;
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 0) continue;
            ++opaque;
            EXPECT_EQ(qAlpha(p), 255);
            used.insert(p & 0xFFFFFF);
        }
    EXPECT_GT(opaque, 100);
    EXPECT_LE(used.size(), 16);
    for (QRgb c : used) EXPECT_TRUE(vga.contains(c)) << std::hex << c;
    EXPECT_FALSE(QApplication::windowIcon().isNull());
}

TEST(FileDialog, SettingsAndAnyCaseFilter)
{
    test::qtApp();
    std::unique_ptr<QFileDialog> d(makeFileDialog(nullptr, mdbFileDialogRequest()));
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Mdb Dosya Seçimi"));
    EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
    ASSERT_EQ(d->nameFilters().size(), 1);
    EXPECT_TRUE(d->nameFilters().front().startsWith(QStringLiteral("Mdb Dosyaları")));

    const QString glob = anyCaseGlob(QStringLiteral("*.Mdb"));
    EXPECT_EQ(glob, QStringLiteral("*.[mM][dD][bB]"));
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(glob));
    for (const char* yes : {"a.mdb", "B.MDB", "c.Mdb", "d.mDb", "çarşı.MdB"})
        EXPECT_TRUE(re.match(QString::fromUtf8(yes)).hasMatch()) << yes;
    for (const char* no : {"a.mdbx", "a.accdb", "mdb", "a.txt"}) EXPECT_FALSE(re.match(QString::fromUtf8(no)).hasMatch()) << no;
}

// A dialog that did not take the answer must not hang the test.
void closeIfStillOpen()
{
    QTimer::singleShot(3000, [] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "the dialog did not close: " << qPrintable(d->windowTitle());
            d->reject();
        }
    });
}

// Drives the modal dialog that a press of "Dosya Seç" opens.
void whenDialogOpens(std::function<void(QFileDialog*)> act)
{
    QTimer::singleShot(50, [act] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d) {
            whenDialogOpens(act);
            return;
        }
        act(d);
    });
}

TEST(FileDialog, CancelAndChoiceThroughTheWindow)
{
    test::qtApp();
    test::TempDir dir;
    for (const char* name : {"bir.MDB", "iki.mdb"}) std::ofstream(dir.file(name)) << "not a database";
    const QString folder = QString::fromStdString(dir.path().string());

    Form1 form;
    form.Form_Load();
    form.show();
    form.addListItem(ListBox::Tables, u"Eski");
    form.textBox(TextBox::Text1)->setText(QStringLiteral("/onceki.mdb"));
    auto* choose = form.findChild<QPushButton*>(QStringLiteral("Command4"));

    whenDialogOpens([](QFileDialog* d) { d->reject(); });
    QTest::mouseClick(choose, Qt::LeftButton);
    EXPECT_EQ(form.textBox(TextBox::Text1)->text(), QStringLiteral("/onceki.mdb"));
    EXPECT_EQ(form.listCount(ListBox::Tables), 1);

    whenDialogOpens([folder](QFileDialog* d) {
        d->setDirectory(folder);
        // Typed, as the user would; the view may not have read the folder yet.
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("bir.MDB"));
        static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        closeIfStillOpen();
    });
    QTest::mouseClick(choose, Qt::LeftButton);
    EXPECT_EQ(form.textBox(TextBox::Text1)->text(), QDir(folder).filePath(QStringLiteral("bir.MDB")));
    EXPECT_EQ(form.listCount(ListBox::Tables), 1) << "not a database: the lists stay";
    EXPECT_EQ(form.counterLabel()->text(), QStringLiteral(" Kayıt: 0"));

    // Several files: the name is the folder and the file names, which the
    // listing cannot open.
    whenDialogOpens([folder](QFileDialog* d) {
        d->setDirectory(folder);
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("\"bir.MDB\" \"iki.mdb\""));
        static_cast<QDialog*>(d)->accept();
        closeIfStillOpen();
    });
    QTest::mouseClick(choose, Qt::LeftButton);
    const QString several = form.textBox(TextBox::Text1)->text();
    EXPECT_EQ(several, folder + QChar(0) + QStringLiteral("bir.MDB") + QChar(0) + QStringLiteral("iki.mdb"));
    EXPECT_EQ(form.listCount(ListBox::Tables), 1);
}

TEST(MessageBox, PlainTextOkOnlyNoIcon)
{
    test::qtApp();
    std::unique_ptr<QMessageBox> box(
        makeMessageBox(nullptr, QStringLiteral("ALTER TABLE Stok ADD COLUMN Adet Long\r\nOk")));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Varnika"));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->text(), QStringLiteral("ALTER TABLE Stok ADD COLUMN Adet Long\nOk"));
}

// Qt's own texts come from its Turkish catalogue, which the test run, like
// the program, loads whatever the system's language (CI runs in English).
TEST(QtTexts, TurkishWhateverTheSystemLanguage)
{
    test::qtApp();
    std::unique_ptr<QFileDialog> d(makeFileDialog(nullptr, mdbFileDialogRequest()));
    auto* buttons = d->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Open), nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text().remove(QLatin1Char('&')), QStringLiteral("Aç"));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("İptal"));
    auto* lookIn = d->findChild<QLabel*>(QStringLiteral("lookInLabel"));
    ASSERT_NE(lookIn, nullptr);
    EXPECT_FALSE(lookIn->text().contains(QStringLiteral("Look in")));

    std::unique_ptr<QMessageBox> box(makeMessageBox(nullptr, QStringLiteral("x")));
    EXPECT_EQ(box->button(QMessageBox::Ok)->text().remove(QLatin1Char('&')), QStringLiteral("Tamam"));

    QLineEdit edit;
    edit.setText(QStringLiteral("abc"));
    edit.selectAll();
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) texts << a->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(texts.contains(QStringLiteral("Kopyala"))) << qPrintable(texts.join(QStringLiteral(", ")));
    EXPECT_FALSE(texts.contains(QStringLiteral("Copy")));
}

TEST(RegionalSettingsFromLocale, CommonLocales)
{
    const RegionalSettings c = regionalSettingsFrom(QLocale::c());
    const RegionalSettings tr = RegionalSettings::turkish();
    EXPECT_EQ(c.dateSeparator, tr.dateSeparator);
    EXPECT_EQ(c.shortDateFormat, tr.shortDateFormat);

    const RegionalSettings turkish = regionalSettingsFrom(QLocale(QLocale::Turkish, QLocale::Turkey));
    EXPECT_EQ(turkish.dateOrder, RegionalSettings::DateOrder::DayMonthYear);
    EXPECT_EQ(turkish.dateSeparator, u'.');
    EXPECT_EQ(turkish.timeSeparator, u':');
    EXPECT_EQ(turkish.decimalSeparator, u',');
    EXPECT_TRUE(turkish.amDesignator.empty());

    const RegionalSettings us = regionalSettingsFrom(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(us.dateOrder, RegionalSettings::DateOrder::MonthDayYear);
    EXPECT_EQ(us.dateSeparator, u'/');
    EXPECT_EQ(us.decimalSeparator, u'.');
    EXPECT_FALSE(us.pmDesignator.empty());
    EXPECT_EQ(us.longTimeFormat.find(u't'), std::u16string::npos) << "no time zone in a stored time";

    const RegionalSettings iso = regionalSettingsFrom(QLocale(QLocale::Swedish, QLocale::Sweden));
    EXPECT_EQ(iso.dateOrder, RegionalSettings::DateOrder::YearMonthDay);
    EXPECT_EQ(iso.dateSeparator, u'-');
}

TEST(SingleInstance, SecondLockFails)
{
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    SingleInstance first(folder);
    ASSERT_TRUE(first.acquire());
    SingleInstance second(folder);
    EXPECT_FALSE(second.acquire());
}

TEST(SingleInstance, SecondStartOfTheProgramEndsAtOnce)
{
    test::qtApp();
    const std::filesystem::path program = test::binaryDir() / "app" / "varnika";
    if (!std::filesystem::exists(program)) GTEST_SKIP() << "the program is not built: " << program;
    // A home of its own, so that a copy the user runs does not count.
    test::TempDir home, runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The copies are started from different environments: with and without
    // a runtime folder.
    QProcessEnvironment withRuntime = env, withoutRuntime = env;
    withRuntime.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.path().string()));
    withoutRuntime.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString exe = QString::fromStdString(program.string());
    const QDir lockDir(QString::fromStdString((home.path() / ".cache" / "varnika").string()));
    auto locked = [&lockDir] {
        return !lockDir.entryList({QStringLiteral("instance-*.lock")}, QDir::Files | QDir::Hidden).isEmpty();
    };

    QProcess first;
    first.setProcessEnvironment(withRuntime);
    first.start(exe, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    for (int i = 0; i < 200 && !locked(); ++i) QTest::qWait(50);
    ASSERT_TRUE(locked());

    QProcess second;
    second.setProcessEnvironment(withoutRuntime);
    second.start(exe, {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second start ends at once";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running) << "the running copy is unaffected";

    // A copy that died leaves its lock behind; the next start takes it over.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess third;
    third.setProcessEnvironment(withoutRuntime);
    third.start(exe, {});
    ASSERT_TRUE(third.waitForStarted(10000));
    EXPECT_FALSE(third.waitForFinished(1500)) << "the third start runs";
    third.kill();
    third.waitForFinished(10000);
}

}  // namespace
}  // namespace varnika

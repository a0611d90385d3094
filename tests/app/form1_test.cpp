// The main window on the offscreen platform: its design state, focus and
// keys, the box behaviours, the lists, and the window side of the runs with
// an engine that opens nothing.

#include "app/form1.h"
#include "app/input_box.h"
#include "app/qt_test_app.h"
#include "db/text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace varnika {
namespace {

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApp();
        form = std::make_unique<Form1>();
        form->Form_Load();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override { form.reset(); }

    template <typename T>
    T* child(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    QString counter() const { return form->counterLabel()->text(); }

    std::unique_ptr<Form1> form;
};

TEST_F(Form1Test, DesignState)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Varnika"));
    EXPECT_EQ(form->size(), QSize(697, 363));
    EXPECT_FALSE(form->windowIcon().isNull());

    struct Box { const char* name; const char* text; QRect geometry; };
    const Box boxes[] = {
        {"Text1", "", QRect(40, 136, 303, 19)},  {"Text5", "", QRect(40, 158, 303, 19)},
        {"Text2", "", QRect(40, 180, 303, 19)},  {"Text3", "0", QRect(54, 230, 289, 19)},
        {"Text4", "1", QRect(54, 252, 289, 19)}, {"Text6", "", QRect(40, 202, 303, 19)},
        {"Text7", "", QRect(54, 280, 289, 19)},  {"Text8", "", QRect(54, 302, 289, 19)},
        {"Text9", "Yeni Fiield ismi girin", QRect(498, 306, 165, 25)},
        {"Text10", "50", QRect(598, 334, 67, 19)},
    };
    for (const Box& b : boxes) {
        auto* t = child<InputBox>(b.name);
        ASSERT_NE(t, nullptr) << b.name;
        EXPECT_EQ(t->text(), QString::fromUtf8(b.text)) << b.name;
        EXPECT_EQ(t->geometry(), b.geometry) << b.name;
        EXPECT_FALSE(t->isReadOnly()) << b.name;
        EXPECT_EQ(t->maxLength(), std::numeric_limits<int>::max()) << b.name;
    }

    struct Caption { const char* name; const char* text; };
    const Caption labels[] = {
        {"Label1_0", "Dosya"},   {"Label1_1", "Yeni Veri"}, {"Label1_2", "Eski Veri"},
        {"Label1_3", "Yeni Veri"}, {"Label1_4", "2.Field"}, {"Label1_5", "Fields"},
        {"Label1_6", "Tables"},  {"Labe1_0", "Tablo"},      {"Labe1_1", "Field"},
        {"Labe1_2", "And"},      {"Label2", "Kayıt : "},     {"Label3", "Fatura ve İrsaliye İçin"},
        {"Label4", "Size"},
    };
    for (const Caption& c : labels) {
        auto* l = child<QLabel>(c.name);
        ASSERT_NE(l, nullptr) << c.name;
        EXPECT_EQ(l->text(), QString::fromUtf8(c.text)) << c.name;
    }
    EXPECT_TRUE(child<QLabel>("Label1_5")->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(child<QLabel>("Label1_6")->alignment() & Qt::AlignHCenter);

    const Caption checks[] = {{"Check1", "Numerik"},           {"Check2", "Borçları Alacak Yap"},
                              {"Check3", "Alacakları Borç Yap"}, {"Check4", "Büyü Harf Küçük harf"},
                              {"Check5", "Tarih 12/31/2010"},   {"Check6", "Tarih Saatli"}};
    for (const Caption& c : checks) {
        auto* b = child<QCheckBox>(c.name);
        ASSERT_NE(b, nullptr) << c.name;
        EXPECT_EQ(b->text(), QString::fromUtf8(c.text)) << c.name;
        EXPECT_FALSE(b->isChecked()) << c.name;
    }
    const Caption buttons[] = {{"Command1", "Değiştir"}, {"Command2", "Kapat"}, {"Command3", "Hepsini Sil"},
                               {"Command4", "Dosya Seç"}, {"AddField", "Add Field"}};
    for (const Caption& c : buttons) {
        auto* b = child<QPushButton>(c.name);
        ASSERT_NE(b, nullptr) << c.name;
        EXPECT_EQ(b->text(), QString::fromUtf8(c.text)) << c.name;
        EXPECT_TRUE(b->isEnabled()) << c.name;
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << c.name;
    }
    EXPECT_EQ(child<QPushButton>("Command4")->geometry(), QRect(378, 10, 285, 47));
    EXPECT_EQ(child<QListWidget>("lstTables")->geometry(), QRect(382, 84, 137, 212));
    EXPECT_EQ(child<QListWidget>("lstTables")->count(), 0);
    EXPECT_EQ(child<QListWidget>("lstFields")->count(), 0);

    for (const char* hidden : {"AddField", "Text9", "cboFieldType", "Text10", "Label4"}) {
        QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(hidden));
        ASSERT_NE(w, nullptr) << hidden;
        EXPECT_FALSE(w->isVisible()) << hidden;
    }
    EXPECT_EQ(QApplication::focusWidget(), child<QCheckBox>("Check1"));
}

TEST_F(Form1Test, FieldTypeListFilledAtLoad)
{
    QComboBox* combo = form->fieldTypeList();
    const std::pair<const char*, int> expected[] = {{"Boolean", 1}, {"Byte", 2},       {"Integer", 3}, {"Long", 4},
                                                    {"Currency", 5}, {"Single", 6},   {"Double", 7},  {"Date/Time", 8},
                                                    {"Text", 10},    {"Binary", 11}, {"Memo", 12}};
    ASSERT_EQ(combo->count(), 11);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(combo->itemText(i), QString::fromLatin1(expected[i].first));
        EXPECT_EQ(combo->itemData(i).toInt(), expected[i].second);
    }
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(toUtf8(form->fieldTypeText()), "Boolean");
}

TEST_F(Form1Test, EveryCaptionFitsItsControl)
{
    const QFontInfo info(QApplication::font());
    if (info.family() != QStringLiteral("DejaVu Sans")) GTEST_SKIP() << "DejaVu Sans is not installed";
    for (QLabel* l : form->findChildren<QLabel*>()) {
        const QSize need = l->sizeHint();
        EXPECT_LE(need.width(), l->width()) << qPrintable(l->objectName());
        EXPECT_LE(need.height(), l->height()) << qPrintable(l->objectName());
    }
    for (QCheckBox* c : form->findChildren<QCheckBox*>()) {
        EXPECT_LE(c->sizeHint().width(), c->width()) << qPrintable(c->objectName());
        EXPECT_LE(c->fontMetrics().height(), c->height()) << qPrintable(c->objectName());
    }
}

TEST_F(Form1Test, EveryCheckBoxIndicatorIsDrawnWhole)
{
    for (QCheckBox* c : form->findChildren<QCheckBox*>()) {
        QStyleOptionButton option;
        option.initFrom(c);
        const QRect indicator = c->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, c);
        EXPECT_TRUE(c->rect().contains(indicator))
            << qPrintable(c->objectName()) << " " << indicator.y() << "+" << indicator.height() << " in " << c->height();
        EXPECT_GE(indicator.height(), 11) << qPrintable(c->objectName());
    }
    for (QPushButton* b : form->findChildren<QPushButton*>())
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + 12, b->width()) << qPrintable(b->objectName());
}

TEST_F(Form1Test, TabOrder)
{
    const QStringList expected = {"Text1",    "Text5",  "Text2",    "Text3",     "Text4",     "Command1", "Command2",
                                  "Text6",    "Check2", "Check3",   "Text7",     "Text8",     "Command3", "Check4",
                                  "Check5",   "Check6", "Command4", "lstFields", "lstTables", "Check1"};
    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(Form1Test, EnterAndEscapePressNoButton)
{
    int clicks = 0;
    for (QPushButton* b : form->findChildren<QPushButton*>())
        QObject::connect(b, &QPushButton::clicked, [&clicks] { ++clicks; });
    QWidget* start = QApplication::focusWidget();
    QWidget* w = start;
    do {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(w, key);
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
    } while (w != start && w);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Form1Test, TypingResetsTheCounter)
{
    struct Case { const char* box; const char* counterAfter; };
    const Case cases[] = {{"Text3", "Kayıt : "}, {"Text4", "Kayıt : "}, {"Text7", "Kayıt : "}, {"Text8", "Kayıt : "},
                          {"Text1", " Kayıt: 0"}, {"Text2", " Kayıt: 5"}, {"Text5", " Kayıt: 5"},
                          {"Text6", " Kayıt: 5"}};
    for (const Case& c : cases) {
        form->setCounterText(u" Kay\u0131t: 5");
        QTest::keyClick(child<InputBox>(c.box), Qt::Key_A);
        EXPECT_EQ(counter(), QString::fromUtf8(c.counterAfter)) << c.box;
    }
}

TEST_F(Form1Test, EnteringSelectsAllAndLeavingTrims)
{
    // Tab from Text2 into Text3 selects its "0".
    child<InputBox>("Text2")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(child<InputBox>("Text2"), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), child<InputBox>("Text3"));
    EXPECT_EQ(child<InputBox>("Text3")->selectedText(), QStringLiteral("0"));
    QTest::keyClicks(child<InputBox>("Text3"), QStringLiteral("7"));
    EXPECT_EQ(child<InputBox>("Text3")->text(), QStringLiteral("7"));

    // Entering by the program selects too.
    child<InputBox>("Text4")->setText(QStringLiteral("abc"));
    form->focusOldValue();
    form->setFocus();
    child<InputBox>("Text4")->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(child<InputBox>("Text4")->selectedText(), QStringLiteral("abc"));

    struct Case { const char* box; const char* before; const char* after; };
    const Case cases[] = {{"Text3", "  12 ", "12"},     {"Text1", "   ", ""},          {"Text2", "\ta b  \t", "\ta b  \t"},
                          {"Text5", " a  b ", "a  b"}, {"Text6", " \tx", "\tx"},        {"Text7", "x ", "x"},
                          {"Text8", " y", "y"},        {"Text4", "", ""}};
    for (const Case& c : cases) {
        InputBox* box = child<InputBox>(c.box);
        box->setFocus(Qt::TabFocusReason);
        box->setText(QString::fromUtf8(c.before));
        form->setCounterText(u" Kay\u0131t: 5");
        child<QCheckBox>("Check1")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(box->text(), QString::fromUtf8(c.after)) << c.box;
    }
    // A trim that changed Text3 ran its change behaviour.
    InputBox* t3 = child<InputBox>("Text3");
    t3->setFocus(Qt::TabFocusReason);
    t3->setText(QStringLiteral("  12 "));
    form->setCounterText(u" Kay\u0131t: 5");
    child<QCheckBox>("Check1")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(counter(), QStringLiteral("Kayıt : "));
}

TEST_F(Form1Test, CounterGrowsToTheRight)
{
    QLabel* l = form->counterLabel();
    const QPoint at = l->pos();
    form->setCounterText(u" Kay\u0131t: 12345678901234");
    EXPECT_EQ(l->pos(), at);
    EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text()));
}

TEST_F(Form1Test, LedgerOptionsExcludeEachOther)
{
    auto* c2 = child<QCheckBox>("Check2");
    auto* c3 = child<QCheckBox>("Check3");
    QTest::mouseClick(c2, Qt::LeftButton);
    EXPECT_TRUE(c2->isChecked());
    QTest::mouseClick(c3, Qt::LeftButton);
    EXPECT_TRUE(c3->isChecked());
    EXPECT_FALSE(c2->isChecked());
    QTest::mouseClick(c2, Qt::LeftButton);
    EXPECT_TRUE(c2->isChecked());
    EXPECT_FALSE(c3->isChecked());
}

TEST_F(Form1Test, FailedRunsRestorePointerAndButtons)
{
    for (bool caseOption : {false, true}) {
        child<InputBox>("Text1")->setText(QStringLiteral("/nonexistent/x.mdb"));
        child<InputBox>("Text5")->setText(QStringLiteral("Stok"));
        child<QCheckBox>("Check4")->setChecked(caseOption);
        QTest::mouseClick(child<QPushButton>("Command1"), Qt::LeftButton);
        EXPECT_TRUE(child<QPushButton>("Command1")->isEnabled()) << caseOption;
        EXPECT_TRUE(child<QPushButton>("Command2")->isEnabled()) << caseOption;
        EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor) << caseOption;
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << caseOption;
        EXPECT_FALSE(form->isRunning());
        EXPECT_EQ(toUtf8(form->data().RecordSource()), caseOption ? "Stok" : "Select * From Stok where ='0'");
    }
    // Delete all on the closed (here: never opened) record set fails quietly.
    QTest::mouseClick(child<QPushButton>("Command3"), Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Form1Test, BusyPointerScopes)
{
    form->setBusy(BusyScope::Window, true);
    EXPECT_EQ(form->cursor().shape(), Qt::WaitCursor);
    form->setBusy(BusyScope::Application, true);
    form->setBusy(BusyScope::Application, true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    form->setBusy(BusyScope::Application, false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "balanced per scope";
    form->setBusy(BusyScope::Window, false);
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Form1Test, ListClicks)
{
    QListWidget* tables = child<QListWidget>("lstTables");
    QListWidget* fields = child<QListWidget>("lstFields");
    form->addListItem(ListBox::Tables, u"Stok");
    form->addListItem(ListBox::Tables, u"Cari Hesap");
    form->addListItem(ListBox::Fields, u"Birim");
    form->addListItem(ListBox::Fields, u"Miktar");
    child<InputBox>("Text1")->setText(QStringLiteral("/nonexistent/x.mdb"));

    auto click = [](QListWidget* list, int row) {
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    };
    click(tables, 1);
    EXPECT_EQ(child<InputBox>("Text5")->text(), QStringLiteral("Cari Hesap"));
    EXPECT_EQ(fields->count(), 2) << "a failed field listing leaves the list";
    child<InputBox>("Text5")->setText(QStringLiteral("x"));
    click(tables, 1);
    EXPECT_EQ(child<InputBox>("Text5")->text(), QStringLiteral("Cari Hesap")) << "a click on the chosen entry counts";

    child<InputBox>("Text3")->setText(QStringLiteral("0"));
    click(fields, 1);
    EXPECT_EQ(child<InputBox>("Text2")->text(), QStringLiteral("Miktar"));
    EXPECT_EQ(QApplication::focusWidget(), child<InputBox>("Text3"));
    EXPECT_EQ(child<InputBox>("Text3")->selectedText(), QStringLiteral("0"));

    // Emptying the lists, as a new listing does, is no click.
    form->clearList(ListBox::Fields);
    form->clearList(ListBox::Tables);
    EXPECT_EQ(child<InputBox>("Text2")->text(), QStringLiteral("Miktar"));
    EXPECT_EQ(child<InputBox>("Text5")->text(), QStringLiteral("Cari Hesap"));
    EXPECT_EQ(form->listIndex(ListBox::Tables), -1);
}

TEST_F(Form1Test, KapatClosesWithoutAQuestion)
{
    child<InputBox>("Text1")->setText(QStringLiteral("/d/x.mdb"));
    child<InputBox>("Text5")->setText(QStringLiteral("Stok"));
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace varnika

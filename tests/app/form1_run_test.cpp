// The window while "Değiştir" runs, on the offscreen platform, over a file
// whose writes are slowed down so that a run lasts a few frames: what the
// window draws during the run, and which input it takes.

#include "app/form1.h"
#include "app/input_box.h"
#include "app/qt_test_app.h"
#include "db/jet/database.h"
#include "db/jet/database_creator.h"
#include "db/jet/ddl_executor.h"
#include "db/text.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace varnika {
namespace {

// Stok (Id, Ad TEXT) with `rows` records whose Ad is "ALİ VELİ " and the
// record's number.
std::string makeStok(test::TempDir& dir, int rows)
{
    const std::string path = dir.file("stok.mdb").string();
    EXPECT_TRUE(jet::createDatabaseFile(path, {}).isOk());
    auto db = jet::Database::open(path, jet::OpenMode::ReadWrite);
    EXPECT_TRUE(db.isOk());
    if (!db.isOk()) return path;
    jet::DdlExecutor ddl(*db, RegionalSettings::turkish());
    EXPECT_TRUE(ddl.execute(u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Ad TEXT(40))").isOk());
    for (int i = 1; i <= rows; ++i)
        EXPECT_TRUE(ddl.execute(u"INSERT INTO Stok (Ad) VALUES ('AL\u0130 VEL\u0130 " + toU16(std::to_string(i)) + u"')").isOk());
    return path;
}

// Every Ad of Stok, in scan order.
std::vector<std::u16string> names(const std::string& path)
{
    std::vector<std::u16string> out;
    auto db = jet::Database::open(path, jet::OpenMode::ReadOnly);
    EXPECT_TRUE(db.isOk());
    if (!db.isOk()) return out;
    auto t = (*db)->table(u"Stok");
    EXPECT_TRUE(t.isOk());
    auto scanner = (*t)->scan();
    while (scanner.isOk() && *scanner->next()) out.push_back((*scanner->values())[1].asText());
    return out;
}

// A file whose every write takes a millisecond longer; counts the reads.
class SlowFile : public jet::PageFile {
public:
    SlowFile(std::unique_ptr<jet::PageFile> inner, int* reads) : m_inner(std::move(inner)), m_reads(reads) {}
    Status read(uint64_t offset, size_t length, uint8_t* out) override
    {
        ++*m_reads;
        return m_inner->read(offset, length, out);
    }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_inner->write(offset, data, length);
    }
    Status sync() override { return m_inner->sync(); }
    Status truncate(uint64_t size) override { return m_inner->truncate(size); }
    uint64_t size() const override { return m_inner->size(); }
    bool isWritable() const override { return m_inner->isWritable(); }
    const std::string& path() const override { return m_inner->path(); }

private:
    std::unique_ptr<jet::PageFile> m_inner;
    int* m_reads;
};

// Counts the paints a widget receives while the window runs.
class PaintWatch : public QObject {
public:
    PaintWatch(Form1& form, QWidget* widget, const int* reads = nullptr) : m_form(form), m_reads(reads)
    {
        widget->installEventFilter(this);
    }
    int paints = 0;
    int paintsWhileDisabled = 0;
    int readsAtFirstDisabledPaint = -1;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_form.isRunning()) {
            ++paints;
            if (!static_cast<QWidget*>(watched)->isEnabled() && ++paintsWhileDisabled == 1 && m_reads)
                readsAtFirstDisabledPaint = *m_reads;
        }
        return false;
    }

private:
    Form1& m_form;
    const int* m_reads;
};

// Posts a click at the middle of `widget`, as the window system queues one.
void postClick(QWidget* widget)
{
    const QPointF at = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(at);
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

void postKey(QWidget* widget, Qt::Key key, const QString& text)
{
    QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

class Form1Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApp();
        form = std::make_unique<Form1>();
        form->Form_Load();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        // Each record is written on its own (runs write records in groups),
        // so that the slowed writes fall all through the run.
        form->data().setDatabaseOpener([this](const std::string& path) -> Result<std::shared_ptr<jet::Database>> {
            auto db = jet::Database::open(path, jet::OpenMode::ReadWrite, [this](std::unique_ptr<jet::PageFile> f) {
                return std::unique_ptr<jet::PageFile>(std::make_unique<SlowFile>(std::move(f), &reads));
            });
            if (db.isOk()) (*db)->pager().setGroupLimits({2048, 1});
            return db;
        });
    }
    void TearDown() override { form.reset(); }

    void fill(TextBox box, const char16_t* text) { form->setText(box, text); }
    QPushButton* button(Button b) { return form->button(b); }

    test::TempDir dir;
    std::unique_ptr<Form1> form;
    int reads = 0;
};

TEST_F(Form1Run, ReplaceDrawsTheDisabledButtonsAtOnceAndTheCounterOnceAFrame)
{
    const std::string path = makeStok(dir, 150);
    fill(TextBox::Text1, fromUtf8(path).c_str());
    fill(TextBox::Text5, u"Stok");
    fill(TextBox::Text2, u"Ad");
    fill(TextBox::Text3, u"");
    fill(TextBox::Text4, u"Yeni");
    QCoreApplication::processEvents();

    PaintWatch counter(*form, form->counterLabel());
    PaintWatch command1(*form, button(Button::Command1), &reads);
    PaintWatch command2(*form, button(Button::Command2));
    QElapsedTimer clock;
    clock.start();
    button(Button::Command1)->click();
    const qint64 ms = clock.elapsed();

    ASSERT_EQ(form->counterLabel()->text(), QStringLiteral(" Kayıt: 150"));
    ASSERT_GT(ms, 3 * Form1::kFrameMilliseconds) << "the slowed writes make the run last several frames";
    EXPECT_EQ(command1.readsAtFirstDisabledPaint, 0) << "drawn disabled before the file is opened";
    EXPECT_GE(command2.paintsWhileDisabled, 1);
    EXPECT_GE(counter.paints, 2) << "the counter moves during the run";
    EXPECT_LE(counter.paints, ms / Form1::kFrameMilliseconds + 2) << "at most once a frame";
    EXPECT_TRUE(button(Button::Command1)->isEnabled());
    for (const std::u16string& n : names(path)) EXPECT_EQ(n, u"Yeni");
}

TEST_F(Form1Run, InputQueuedDuringAReplaceIsDropped)
{
    const std::string path = makeStok(dir, 20);
    fill(TextBox::Text1, fromUtf8(path).c_str());
    fill(TextBox::Text5, u"Stok");
    fill(TextBox::Text2, u"Ad");
    fill(TextBox::Text3, u"");
    fill(TextBox::Text4, u"Yeni");
    fill(TextBox::Text6, u"and Id > 0");
    QCoreApplication::processEvents();

    // What the user does while the buttons are shown disabled reaches the
    // window only after the walk: a second "Değiştir", "Kapat", a key typed
    // into a box, a click on a check box.
    postClick(button(Button::Command1));
    postClick(button(Button::Command2));
    postKey(form->textBox(TextBox::Text4), Qt::Key_X, QStringLiteral("x"));
    postClick(form->checkBox(CheckBox::Check1));
    button(Button::Command1)->click();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    EXPECT_EQ(form->text(TextBox::Text6), u" and Id > 0") << "one run: each run adds a space";
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->text(TextBox::Text4), u"Yeni");
    EXPECT_FALSE(form->checkBox(CheckBox::Check1)->isChecked());
    EXPECT_TRUE(button(Button::Command1)->isEnabled());
    EXPECT_TRUE(button(Button::Command2)->isEnabled());

    // Input after the run is taken as usual.
    QTest::mouseClick(form->checkBox(CheckBox::Check1), Qt::LeftButton);
    EXPECT_TRUE(form->checkBox(CheckBox::Check1)->isChecked());
}

TEST_F(Form1Run, CaseConversionTakesInputAfterTheRecordInHandAndDrawsOnceAFrame)
{
    const std::string path = makeStok(dir, 150);
    fill(TextBox::Text1, fromUtf8(path).c_str());
    fill(TextBox::Text5, u"Stok");
    fill(TextBox::Text2, u"Ad");
    form->checkBox(CheckBox::Check4)->setChecked(true);
    QCoreApplication::processEvents();

    PaintWatch box(*form, form->textBox(TextBox::Text3));
    PaintWatch counter(*form, form->counterLabel());
    QElapsedTimer clock;
    clock.start();
    button(Button::Command1)->click();
    const qint64 ms = clock.elapsed();
    ASSERT_GT(ms, 3 * Form1::kFrameMilliseconds);
    EXPECT_GE(box.paints, 2) << "the box shows the value in hand now and then";
    EXPECT_LE(box.paints, ms / Form1::kFrameMilliseconds + 2) << "at most once a frame, not for every record";
    EXPECT_LE(counter.paints, ms / Form1::kFrameMilliseconds + 2);
    EXPECT_EQ(form->textBox(TextBox::Text3)->text(), QStringLiteral("Ali Veli 150")) << "the last value, shown";
    const std::vector<std::u16string> converted = names(path);
    ASSERT_EQ(converted.size(), 150u);
    for (size_t i = 0; i < converted.size(); ++i) EXPECT_EQ(converted[i], u"Ali Veli " + toU16(std::to_string(i + 1)));

    // A click and a close that arrive during the conversion act after the
    // record in hand: the first record is converted, then the window closes.
    test::TempDir other;
    const std::string second = makeStok(other, 5);
    fill(TextBox::Text1, fromUtf8(second).c_str());
    postClick(form->checkBox(CheckBox::Check1));
    postClick(button(Button::Command2));
    button(Button::Command1)->click();
    EXPECT_TRUE(form->checkBox(CheckBox::Check1)->isChecked());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->isRunning());
    form.reset();  // lets go of the file
    const std::vector<std::u16string> after = names(second);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[0], u"Ali Veli 1");
    for (size_t i = 1; i < after.size(); ++i) EXPECT_EQ(after[i], u"AL\u0130 VEL\u0130 " + toU16(std::to_string(i + 1)));
}

}  // namespace
}  // namespace varnika

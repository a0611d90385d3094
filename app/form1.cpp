#include "app/form1.h"

#include "app/app_look.h"
#include "app/input_box.h"
#include "app/qt_dialogs.h"
#include "app/qt_regional_settings.h"
#include "ops/case_conversion.h"
#include "ops/delete_all.h"
#include "ops/find_replace.h"
#include "ops/window_design.h"
#include "schema/schema_browser.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <limits>

namespace varnika {

namespace {

// The layout is given in twips; 15 twips make a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
int px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }
QRect twips(int left, int top, int width, int height) { return QRect(px(left), px(top), px(width), px(height)); }

QString qs(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove: return true;
    default: return false;
    }
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Varnika"));
    setWindowIcon(programIcon());
    setFixedSize(px(10455), px(5445));
    buildControls();
    buildTabOrder();
    connectHandlers();
    m_data1.setRegionalSettings(systemRegionalSettings());
}

Form1::~Form1()
{
    setBusy(BusyScope::Application, false);
}

void Form1::buildControls()
{
    auto label = [this](const QString& name, const QString& caption, QRect geometry) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setGeometry(geometry);
        l->setWordWrap(false);
        return l;
    };
    auto check = [this](CheckBox which, const QString& name, const QString& caption, QRect geometry) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(name);
        c->setGeometry(geometry);
        m_check[static_cast<size_t>(which)] = c;
    };
    auto box = [this](TextBox which, const QString& name, QRect geometry) {
        auto* t = new InputBox(qs(initialText(which)), this);
        t->setObjectName(name);
        // No length limit: a long memo value read into a box stays whole.
        t->setMaxLength(std::numeric_limits<int>::max());
        t->setGeometry(geometry);
        m_text[static_cast<size_t>(which)] = t;
    };
    auto push = [this](Button which, const QString& name, const QString& caption, QRect geometry) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(geometry);
        // Enter and Escape press no button.
        b->setAutoDefault(false);
        b->setDefault(false);
        m_button[static_cast<size_t>(which)] = b;
    };
    auto list = [this](const QString& name, QRect geometry) {
        auto* l = new QListWidget(this);
        l->setObjectName(name);
        l->setGeometry(geometry);
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        l->setSortingEnabled(false);
        l->viewport()->installEventFilter(this);
        return l;
    };

    check(CheckBox::Check1, QStringLiteral("Check1"), QStringLiteral("Numerik"), twips(600, 570, 1035, 225));
    box(TextBox::Text1, QStringLiteral("Text1"), twips(600, 2040, 4545, 285));
    box(TextBox::Text5, QStringLiteral("Text5"), twips(600, 2370, 4545, 285));
    box(TextBox::Text2, QStringLiteral("Text2"), twips(600, 2700, 4545, 285));
    box(TextBox::Text3, QStringLiteral("Text3"), twips(810, 3450, 4335, 285));
    box(TextBox::Text4, QStringLiteral("Text4"), twips(810, 3780, 4335, 285));
    push(Button::Command1, QStringLiteral("Command1"), QStringLiteral("De\u011fi\u015ftir"), twips(2040, 5010, 1155, 345));
    push(Button::Command2, QStringLiteral("Command2"), QStringLiteral("Kapat"), twips(3315, 5010, 1155, 345));
    m_label1[0] = label(QStringLiteral("Label1_0"), QStringLiteral("Dosya"), twips(90, 2100, 510, 195));
    m_labe1[1] = label(QStringLiteral("Labe1_1"), QStringLiteral("Field"), twips(60, 2730, 495, 225));
    m_label1[2] = label(QStringLiteral("Label1_2"), QStringLiteral("Eski Veri"), twips(90, 3510, 645, 225));
    m_label1[1] = label(QStringLiteral("Label1_1"), QStringLiteral("Yeni Veri"), twips(90, 3840, 645, 225));
    m_labe1[0] = label(QStringLiteral("Labe1_0"), QStringLiteral("Tablo"), twips(60, 2400, 495, 225));
    m_counterText = kCounterDesignCaption;
    m_label2 = label(QStringLiteral("Label2"), qs(m_counterText), twips(105, 210, 480, 195));
    m_label2->adjustSize();
    m_labe1[2] = label(QStringLiteral("Labe1_2"), QStringLiteral("And"), twips(60, 3060, 495, 225));
    box(TextBox::Text6, QStringLiteral("Text6"), twips(600, 3030, 4545, 285));
    check(CheckBox::Check2, QStringLiteral("Check2"), QStringLiteral("Bor\u00e7lar\u0131 Alacak Yap"),
          twips(600, 930, 1755, 195));
    check(CheckBox::Check3, QStringLiteral("Check3"), QStringLiteral("Alacaklar\u0131 Bor\u00e7 Yap"),
          twips(600, 1260, 1755, 195));
    m_label1[3] = label(QStringLiteral("Label1_3"), QStringLiteral("Yeni Veri"), twips(90, 4560, 645, 225));
    m_label1[4] = label(QStringLiteral("Label1_4"), QStringLiteral("2.Field"), twips(90, 4230, 645, 225));
    box(TextBox::Text7, QStringLiteral("Text7"), twips(810, 4200, 4335, 285));
    box(TextBox::Text8, QStringLiteral("Text8"), twips(810, 4530, 4335, 285));
    push(Button::Command3, QStringLiteral("Command3"), QStringLiteral("Hepsini Sil"), twips(825, 5010, 1005, 345));
    check(CheckBox::Check4, QStringLiteral("Check4"), QStringLiteral("B\u00fcy\u00fc Harf K\u00fc\u00e7\u00fck harf"),
          twips(630, 1620, 1875, 225));
    check(CheckBox::Check5, QStringLiteral("Check5"), QStringLiteral("Tarih 12/31/2010"), twips(3090, 1290, 1755, 255));
    check(CheckBox::Check6, QStringLiteral("Check6"), QStringLiteral("Tarih Saatli"), twips(3090, 1620, 1815, 225));
    m_label3 = label(QStringLiteral("Label3"), QStringLiteral("Fatura ve \u0130rsaliye \u0130\u00e7in"),
                     twips(3090, 990, 1785, 255));
    push(Button::Command4, QStringLiteral("Command4"), QStringLiteral("Dosya Se\u00e7"), twips(5670, 150, 4275, 705));
    m_lstFields = list(QStringLiteral("lstFields"), twips(7860, 1260, 2055, 3180));
    m_lstTables = list(QStringLiteral("lstTables"), twips(5730, 1260, 2055, 3180));
    m_label1[5] = label(QStringLiteral("Label1_5"), QStringLiteral("Fields"), twips(7860, 1020, 2055, 255));
    m_label1[5]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_label1[6] = label(QStringLiteral("Label1_6"), QStringLiteral("Tables"), twips(5700, 1020, 2055, 255));
    m_label1[6]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    // The add-field group exists and works but is never shown.
    push(Button::AddField, QStringLiteral("AddField"), QStringLiteral("Add Field"), twips(5790, 4590, 1485, 375));
    box(TextBox::Text9, QStringLiteral("Text9"), twips(7470, 4590, 2475, 375));
    m_cboFieldType = new QComboBox(this);
    m_cboFieldType->setObjectName(QStringLiteral("cboFieldType"));
    m_cboFieldType->setEditable(false);
    m_cboFieldType->setGeometry(twips(5790, 5040, 2385, 315));
    box(TextBox::Text10, QStringLiteral("Text10"), twips(8970, 5010, 1005, 285));
    m_label4 = label(QStringLiteral("Label4"), QStringLiteral("Size"), twips(8550, 5070, 300, 195));
    m_label4->adjustSize();
    for (QWidget* w : {static_cast<QWidget*>(button(Button::AddField)), static_cast<QWidget*>(textBox(TextBox::Text9)),
                       static_cast<QWidget*>(m_cboFieldType), static_cast<QWidget*>(textBox(TextBox::Text10)),
                       static_cast<QWidget*>(m_label4)})
        w->hide();
}

void Form1::buildTabOrder()
{
    const QList<QWidget*> order = {
        checkBox(CheckBox::Check1), textBox(TextBox::Text1), textBox(TextBox::Text5), textBox(TextBox::Text2),
        textBox(TextBox::Text3),    textBox(TextBox::Text4), button(Button::Command1), button(Button::Command2),
        textBox(TextBox::Text6),    checkBox(CheckBox::Check2), checkBox(CheckBox::Check3), textBox(TextBox::Text7),
        textBox(TextBox::Text8),    button(Button::Command3), checkBox(CheckBox::Check4), checkBox(CheckBox::Check5),
        checkBox(CheckBox::Check6), button(Button::Command4), m_lstFields, m_lstTables,
        button(Button::AddField),   textBox(TextBox::Text9), m_cboFieldType, textBox(TextBox::Text10),
    };
    for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    // Labels never take the focus.
    for (QLabel* l : findChildren<QLabel*>()) l->setFocusPolicy(Qt::NoFocus);
    checkBox(CheckBox::Check1)->setFocus(Qt::OtherFocusReason);
}

void Form1::connectHandlers()
{
    for (TextBox which : kBoxesWithBehaviour) {
        const BoxBehaviour b = boxBehaviour(which);
        InputBox* t = textBox(which);
        if (!b.changeSetsCounterTo.empty()) {
            const std::u16string reset(b.changeSetsCounterTo);
            connect(t, &QLineEdit::textChanged, this, [this, reset] { setCounterText(reset); });
        }
        if (b.selectAllOnEntry)
            connect(t, &InputBox::gotFocus, this, [t] { t->setSelection(0, static_cast<int>(t->text().size())); });
        if (b.trimOnLeave) {
            connect(t, &InputBox::lostFocus, this, [t] {
                const QString trimmed = QString::fromStdU16String(trimSpaces(t->text().toStdU16String()));
                if (trimmed != t->text()) t->setText(trimmed);
            });
        }
    }

    connect(button(Button::Command1), &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(button(Button::Command2), &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(button(Button::Command3), &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(button(Button::Command4), &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(button(Button::AddField), &QPushButton::clicked, this, &Form1::AddField_Click);
    connect(checkBox(CheckBox::Check2), &QCheckBox::clicked, this, [this] { Check2_Click(*this); });
    connect(checkBox(CheckBox::Check3), &QCheckBox::clicked, this, [this] { Check3_Click(*this); });

    for (ListBox which : {ListBox::Tables, ListBox::Fields}) {
        QListWidget* l = listBox(which);
        connect(l, &QListWidget::itemSelectionChanged, this, [this, which] {
            if (!m_fillingList) listClicked(which);
        });
        // A click on the entry already chosen changes no selection but is a
        // click all the same.
        connect(l, &QListWidget::itemClicked, this, [this, which] {
            if (listIndex(which) == m_rowAtPress[static_cast<size_t>(which)]) listClicked(which);
        });
    }
}

void Form1::Form_Load()
{
    m_cboFieldType->clear();
    for (const FieldType& t : kFieldTypes) {
        m_cboFieldType->addItem(qs(t.name));
        m_cboFieldType->setItemData(m_cboFieldType->count() - 1, t.code);
    }
    m_cboFieldType->setCurrentIndex(0);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (m_discardingInput && isUserInput(event->type())) return true;
    if (event->type() == QEvent::MouseButtonPress) {
        for (ListBox which : {ListBox::Tables, ListBox::Fields})
            if (watched == listBox(which)->viewport()) m_rowAtPress[static_cast<size_t>(which)] = listIndex(which);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::listClicked(ListBox list)
{
    if (list == ListBox::Tables) (void)lstTables_Click(*this);
    else lstFields_Click(*this);
}

void Form1::Command1_Click()
{
    if (m_run != Run::None) return;
    m_run = isChecked(CheckBox::Check4) ? Run::CaseConversion : Run::Replace;
    m_frameClock.start();
    m_lastFrame = -kFrameMilliseconds;
    (void)varnika::Command1_Click(*this, m_data1);
    m_run = Run::None;
    showHeldText();
    // A close asked for while the run was in hand.
    if (m_closeRequested) close();
}

bool Form1::frameDue()
{
    const qint64 now = m_frameClock.elapsed();
    if (now - m_lastFrame < kFrameMilliseconds) return false;
    m_lastFrame = now;
    return true;
}

// The case conversion writes its working buffer Text3 twice for every
// record. Laying out and drawing the box each time would cost several times
// the run's own work, so the box holds its text back and shows it once a
// frame and at the end of the run.
void Form1::showHeldText()
{
    if (!m_heldText3) return;
    const QString text = QString::fromStdU16String(*m_heldText3);
    m_heldText3.reset();
    textBox(TextBox::Text3)->setText(text);
}

// The replace takes no input until it ends, but the window system keeps what
// the user did meanwhile: clicks on the buttons shown disabled, keys typed
// into boxes. None of it was meant for the window as it will be once the
// buttons are enabled again, so it is read and dropped here.
void Form1::discardQueuedInput()
{
    m_discardingInput = true;
    qApp->installEventFilter(this);
    // Input read from the window system is delivered by the second round at
    // the latest.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qApp->removeEventFilter(this);
    m_discardingInput = false;
}

void Form1::Command2_Click()
{
    close();
}

void Form1::Command3_Click()
{
    // Deleting under a running case conversion would pull its records away.
    if (m_run != Run::None) return;
    (void)varnika::Command3_Click(*this, m_data1);
}

void Form1::Command4_Click()
{
    (void)varnika::Command4_Click(*this);
}

void Form1::AddField_Click()
{
    (void)varnika::AddField_Click(*this);
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_run != Run::None) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}

// ---- WindowPort -------------------------------------------------------------

std::u16string Form1::text(TextBox box) const
{
    if (box == TextBox::Text3 && m_heldText3) return *m_heldText3;
    return textBox(box)->text().toStdU16String();
}

void Form1::setText(TextBox box, const std::u16string& text)
{
    if (m_run == Run::CaseConversion && box == TextBox::Text3) {
        if (text == this->text(box)) return;
        m_heldText3 = text;
        // The change behaviour runs now, as the box would run it.
        setCounterText(std::u16string(boxBehaviour(box).changeSetsCounterTo));
        return;
    }
    textBox(box)->setText(QString::fromStdU16String(text));
}

bool Form1::isChecked(CheckBox box) const
{
    return checkBox(box)->isChecked();
}

void Form1::setChecked(CheckBox box, bool checked)
{
    checkBox(box)->setChecked(checked);
}

std::u16string Form1::counterText() const
{
    return m_counterText;
}

void Form1::setCounterText(const std::u16string& text)
{
    if (text == m_counterText) return;
    m_counterText = text;
    // The replace sets the counter for every record and keeps the event loop
    // away: the label takes the text once a frame and is drawn at once.
    if (m_run == Run::Replace) {
        if (frameDue()) {
            showCounter();
            m_label2->repaint();
        }
        return;
    }
    showCounter();
}

void Form1::showCounter()
{
    const QString caption = QString::fromStdU16String(m_counterText);
    if (caption == m_label2->text()) return;
    m_label2->setText(caption);
    // The counter grows to the right with its text.
    m_label2->adjustSize();
}

void Form1::clearList(ListBox list)
{
    m_fillingList = true;
    listBox(list)->clear();
    m_fillingList = false;
}

void Form1::addListItem(ListBox list, const std::u16string& item)
{
    m_fillingList = true;
    listBox(list)->addItem(QString::fromStdU16String(item));
    m_fillingList = false;
}

int Form1::listCount(ListBox list) const
{
    return listBox(list)->count();
}

int Form1::listIndex(ListBox list) const
{
    const QList<QListWidgetItem*> selected = listBox(list)->selectedItems();
    return selected.isEmpty() ? -1 : listBox(list)->row(selected.front());
}

std::u16string Form1::listItem(ListBox list, int index) const
{
    QListWidgetItem* item = listBox(list)->item(index);
    return item ? item->text().toStdU16String() : std::u16string();
}

std::u16string Form1::fieldTypeText() const
{
    return m_cboFieldType->currentText().toStdU16String();
}

void Form1::setButtonEnabled(Button b, bool enabled)
{
    button(b)->setEnabled(enabled);
}

bool Form1::isButtonEnabled(Button b) const
{
    return button(b)->isEnabled();
}

void Form1::setBusy(BusyScope scope, bool busy)
{
    if (scope == BusyScope::Window) {
        // The window is busy for the replace, which keeps the event loop away
        // until it ends: the disabled buttons and the pointer are drawn now,
        // and what the user did meanwhile is dropped before it ends.
        if (busy == m_windowBusy) return;
        m_windowBusy = busy;
        if (busy) {
            setCursor(Qt::WaitCursor);
            if (m_run == Run::Replace) {
                repaint();
                m_lastFrame = m_frameClock.elapsed();
            }
        } else {
            if (m_run == Run::Replace) {
                showCounter();
                discardQueuedInput();
            }
            unsetCursor();
        }
        return;
    }
    if (busy == m_applicationBusy) return;
    m_applicationBusy = busy;
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

void Form1::processEvents()
{
    // Once per record of the case conversion: input is taken every time, the
    // working buffer is shown once a frame.
    if (m_run == Run::CaseConversion && frameDue()) showHeldText();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Form1::focusOldValue()
{
    textBox(TextBox::Text3)->setFocus(Qt::OtherFocusReason);
}

FileDialogResult Form1::chooseFile(const FileDialogRequest& request)
{
    return runFileDialog(this, request);
}

void Form1::showMessage(const std::u16string& text)
{
    showMessageBox(this, QString::fromStdU16String(text));
}

}  // namespace varnika

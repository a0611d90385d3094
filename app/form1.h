#pragma once
// The main window: every control of the tool, their small behaviours, and
// the Qt side of the window port through which the operations reach it.

#include "db/data_control.h"
#include "ops/window_port.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace varnika {

class InputBox;

class Form1 : public QWidget, public WindowPort {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Fills the field-type list and selects its first entry.
    void Form_Load();

    DataControl& data() { return m_data1; }

    // Widgets by name, for the tests and the port.
    InputBox* textBox(TextBox box) const { return m_text[static_cast<size_t>(box)]; }
    QCheckBox* checkBox(CheckBox box) const { return m_check[static_cast<size_t>(box)]; }
    QPushButton* button(Button b) const { return m_button[static_cast<size_t>(b)]; }
    QListWidget* listBox(ListBox list) const { return list == ListBox::Tables ? m_lstTables : m_lstFields; }
    QLabel* counterLabel() const { return m_label2; }
    QComboBox* fieldTypeList() const { return m_cboFieldType; }
    // True while "Değiştir" runs.
    bool isRunning() const { return m_run != Run::None; }

    // While a run is in hand the window is drawn at most once a frame: the
    // counter of the replace, and the box the case conversion rewrites for
    // every record.
    static constexpr qint64 kFrameMilliseconds = 50;

    // WindowPort
    std::u16string text(TextBox box) const override;
    void setText(TextBox box, const std::u16string& text) override;
    bool isChecked(CheckBox box) const override;
    void setChecked(CheckBox box, bool checked) override;
    std::u16string counterText() const override;
    void setCounterText(const std::u16string& text) override;
    void clearList(ListBox list) override;
    void addListItem(ListBox list, const std::u16string& item) override;
    int listCount(ListBox list) const override;
    int listIndex(ListBox list) const override;
    std::u16string listItem(ListBox list, int index) const override;
    std::u16string fieldTypeText() const override;
    void setButtonEnabled(Button button, bool enabled) override;
    bool isButtonEnabled(Button button) const override;
    void setBusy(BusyScope scope, bool busy) override;
    void processEvents() override;
    void focusOldValue() override;
    FileDialogResult chooseFile(const FileDialogRequest& request) override;
    void showMessage(const std::u16string& text) override;
    bool closeRequested() const override { return m_closeRequested; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    void buildTabOrder();
    void listClicked(ListBox list);
    bool frameDue();
    void showCounter();
    void showHeldText();
    void discardQueuedInput();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void AddField_Click();

    std::array<InputBox*, 10> m_text{};
    std::array<QCheckBox*, 6> m_check{};
    std::array<QPushButton*, 5> m_button{};
    std::array<QLabel*, 7> m_label1{};
    std::array<QLabel*, 3> m_labe1{};
    QLabel* m_label2 = nullptr;
    // The counter's text; during a replace the label takes it once a frame.
    std::u16string m_counterText;
    QLabel* m_label3 = nullptr;
    QLabel* m_label4 = nullptr;
    QListWidget* m_lstTables = nullptr;
    QListWidget* m_lstFields = nullptr;
    QComboBox* m_cboFieldType = nullptr;

    DataControl m_data1;

    enum class Run { None, Replace, CaseConversion };
    Run m_run = Run::None;
    QElapsedTimer m_frameClock;
    qint64 m_lastFrame = 0;
    bool m_discardingInput = false;
    // Text3 as the case conversion last wrote it, until the box shows it.
    std::optional<std::u16string> m_heldText3;
    bool m_closeRequested = false;
    bool m_windowBusy = false;
    bool m_applicationBusy = false;
    // List changes made by the operations are no clicks.
    bool m_fillingList = false;
    // The selected row when a mouse press reached a list, to tell a click on
    // the entry already chosen (which still counts) from a change of choice.
    std::array<int, 2> m_rowAtPress{-1, -1};
};

}  // namespace varnika

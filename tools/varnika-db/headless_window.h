#pragma once
// The main window without a screen, for running the window's operations from
// the command line. The boxes and check boxes hold what the caller filled in
// (the rest keep their design state); the change behaviour of the boxes
// resets the counter as in the window, and each record a walk reaches can be
// reported to a progress meter.

#include "db/data_control.h"
#include "ops/window_design.h"
#include "ops/window_port.h"

#include <array>
#include <cstdint>

namespace varnika::tool {

class ProgressMeter;

class HeadlessWindow : public WindowPort {
public:
    HeadlessWindow();

    // What the user types before pressing a button: the box's change
    // behaviour does not run, as it would not matter before the run.
    void fill(TextBox box, const std::u16string& text);

    // Reports each record a walk reaches to `meter`, with the total taken from
    // the record set that `data` holds. Both must outlive the window's use.
    void reportProgress(ProgressMeter* meter, DataControl* data);
    // Records the walks of this window have reached so far.
    int64_t recordsReached() const { return m_done; }

    std::u16string text(TextBox box) const override;
    void setText(TextBox box, const std::u16string& text) override;
    bool isChecked(CheckBox box) const override;
    void setChecked(CheckBox box, bool checked) override;
    std::u16string counterText() const override { return m_counter; }
    void setCounterText(const std::u16string& text) override;
    void clearList(ListBox list) override;
    void addListItem(ListBox list, const std::u16string& item) override;
    int listCount(ListBox list) const override;
    int listIndex(ListBox) const override { return -1; }
    std::u16string listItem(ListBox list, int index) const override;
    // The list is never shown: its first entry stays selected.
    std::u16string fieldTypeText() const override { return std::u16string(kFieldTypes.front().name); }
    void setButtonEnabled(Button button, bool enabled) override;
    bool isButtonEnabled(Button button) const override;
    void setBusy(BusyScope, bool) override {}
    // The find and replace shows each record in the counter, the case
    // conversion lets events through once per record: either is one record.
    void processEvents() override;
    void focusOldValue() override {}
    // There is no one to ask: a dialog is always cancelled.
    FileDialogResult chooseFile(const FileDialogRequest&) override { return {}; }
    // Nothing is shown; the command reports the outcome itself.
    void showMessage(const std::u16string&) override {}
    bool closeRequested() const override { return false; }
    void recordDeleted() override { recordReached(); }

private:
    void recordReached();

    std::array<std::u16string, 10> m_texts;
    std::array<bool, 6> m_checks{};
    std::array<bool, 5> m_enabled;
    std::array<std::vector<std::u16string>, 2> m_lists;
    std::u16string m_counter;
    ProgressMeter* m_meter = nullptr;
    DataControl* m_data = nullptr;
    int64_t m_done = 0;
    int64_t m_total = -1;
};

}  // namespace varnika::tool

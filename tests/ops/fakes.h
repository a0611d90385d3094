#pragma once
// Stand-ins for the window and for an open record set, so that the
// operations can be driven and watched without Qt or a database file. The
// window starts in the design state and runs the boxes' change behaviour.

#include "db/record_set.h"
#include "ops/window_port.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnika::test {

class FakeWindow : public WindowPort {
public:
    FakeWindow();

    std::map<TextBox, std::u16string> texts;
    std::map<CheckBox, bool> checks;
    std::u16string counter;  // the design caption at first
    std::vector<std::u16string> lists[2];
    int selected[2] = {-1, -1};
    std::u16string fieldType;  // the first entry of the list at first
    std::map<Button, bool> enabled;
    bool windowBusy = false;
    bool applicationBusy = false;
    int processEventsCalls = 0;
    std::function<void()> onProcessEvents;
    int focusOldValueCalls = 0;
    FileDialogResult dialogResult;
    std::optional<FileDialogRequest> lastRequest;
    std::vector<std::u16string> messages;
    bool closeFlag = false;
    // Every change of the window, in order, e.g. "disable Command1", "busy Window".
    std::vector<std::string> log;

    std::vector<std::u16string>& list(ListBox l) { return lists[static_cast<int>(l)]; }

    std::u16string text(TextBox box) const override;
    void setText(TextBox box, const std::u16string& text) override;
    bool isChecked(CheckBox box) const override;
    void setChecked(CheckBox box, bool checked) override;
    std::u16string counterText() const override { return counter; }
    void setCounterText(const std::u16string& text) override;
    void clearList(ListBox l) override;
    void addListItem(ListBox l, const std::u16string& item) override;
    int listCount(ListBox l) const override { return static_cast<int>(lists[static_cast<int>(l)].size()); }
    int listIndex(ListBox l) const override { return selected[static_cast<int>(l)]; }
    std::u16string listItem(ListBox l, int index) const override;
    std::u16string fieldTypeText() const override { return fieldType; }
    void setButtonEnabled(Button button, bool on) override;
    bool isButtonEnabled(Button button) const override;
    void setBusy(BusyScope scope, bool busy) override;
    void processEvents() override;
    void focusOldValue() override { ++focusOldValueCalls; }
    FileDialogResult chooseFile(const FileDialogRequest& request) override;
    void showMessage(const std::u16string& text) override { messages.push_back(text); }
    bool closeRequested() const override { return closeFlag; }
};

// An open record set over rows held in memory. Values are stored as given
// (no conversion to a column type). Failures can be planted.
class FakeRecordSet : public RecordSet {
public:
    FakeRecordSet(std::vector<std::u16string> columns, std::vector<std::vector<Variant>> rows);
    ~FakeRecordSet() override;

    std::vector<std::u16string> columns;
    std::vector<std::vector<Variant>> rows;
    std::vector<bool> deleted;
    int failUpdateAtRow = -1;  // Update of this row fails
    int failValueAtRow = -1;   // Value of any field of this row fails
    int updates = 0;
    int edits = 0;
    int moveLastCalls = 0;
    int moveFirstCalls = 0;

    const Variant& at(size_t row, std::u16string_view column) const;

    Result<bool> BOF() const override;
    Result<bool> Eof() const override;
    Status MoveFirst() override;
    Status MoveLast(int options) override;
    Status MoveNext() override;
    Result<int64_t> AbsolutePosition() const override;
    Result<int64_t> RecordCount() const override;
    int fieldCount() const override { return static_cast<int>(columns.size()); }
    Result<Field*> Fields(int index) override;
    Result<Field*> Fields(std::u16string_view name) override;
    Status Edit() override;
    Status Update() override;
    Status Delete() override;
    Status Close() override;
    bool isOpen() const override { return m_open; }

private:
    friend class FakeField;
    Status current() const;
    int column(std::u16string_view name) const;

    bool m_open = true;
    size_t m_position = 0;
    bool m_editing = false;
    std::vector<Variant> m_buffer;
    std::vector<std::unique_ptr<Field>> m_fields;
};

}  // namespace varnika::test

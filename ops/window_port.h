#pragma once
// What the operations of schema/ and ops/ need from the main window. The Qt
// window implements it; the command-line tool and the tests implement it
// without any window. Nothing here knows a widget.

#include <string>
#include <vector>

namespace varnika {

enum class TextBox { Text1, Text2, Text3, Text4, Text5, Text6, Text7, Text8, Text9, Text10 };
enum class CheckBox { Check1, Check2, Check3, Check4, Check5, Check6 };
enum class Button { Command1, Command2, Command3, Command4, AddField };
enum class ListBox { Tables, Fields };  // lstTables, lstFields

// The replace shows the busy pointer over its window; the case conversion,
// which lets events through, over the whole application.
enum class BusyScope { Window, Application };

// Settings of the file-open dialog, set on every use.
struct FileDialogRequest {
    std::u16string title;
    std::u16string filterName;  // the one filter entry's description
    std::u16string pattern;     // matched without regard to letter case
    bool multipleSelection = false;
};

// What the dialog gave back. A cancel is reported apart from a choice.
struct FileDialogResult {
    bool cancelled = true;
    std::vector<std::u16string> paths;  // one or (multiple selection) several
};

class WindowPort {
public:
    virtual ~WindowPort() = default;

    // Writing a box raises its change behaviour, as typing does.
    virtual std::u16string text(TextBox box) const = 0;
    virtual void setText(TextBox box, const std::u16string& text) = 0;

    virtual bool isChecked(CheckBox box) const = 0;
    virtual void setChecked(CheckBox box, bool checked) = 0;

    // The record counter (Label2).
    virtual std::u16string counterText() const = 0;
    virtual void setCounterText(const std::u16string& text) = 0;

    virtual void clearList(ListBox list) = 0;
    virtual void addListItem(ListBox list, const std::u16string& item) = 0;
    virtual int listCount(ListBox list) const = 0;
    // -1 when no entry is selected.
    virtual int listIndex(ListBox list) const = 0;
    virtual std::u16string listItem(ListBox list, int index) const = 0;

    // Display text of the selected entry of the field-type list (empty when none).
    virtual std::u16string fieldTypeText() const = 0;

    virtual void setButtonEnabled(Button button, bool enabled) = 0;
    virtual bool isButtonEnabled(Button button) const = 0;

    // Balanced per scope: setBusy(scope, false) when not busy does nothing.
    virtual void setBusy(BusyScope scope, bool busy) = 0;

    // Lets the window repaint and take the input that is waiting.
    virtual void processEvents() = 0;

    // Moves the keyboard focus to the old-value box (Text3).
    virtual void focusOldValue() = 0;

    // Modal file-open dialog.
    virtual FileDialogResult chooseFile(const FileDialogRequest& request) = 0;

    // Modal message with a single OK button, no icon, captioned with the
    // program's title; returns when the user closes it.
    virtual void showMessage(const std::u16string& text) = 0;

    // True once the user asked to close the window while an operation that
    // lets events through was running; that operation stops after the
    // record in hand.
    virtual bool closeRequested() const = 0;

    // Told after delete all has removed a record. That walk shows nothing in
    // the window, so the window ignores it; a port without a window can
    // report progress from it.
    virtual void recordDeleted() {}
};

}  // namespace varnika

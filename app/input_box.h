#pragma once
// A single-line text box that reports gaining and losing the keyboard focus,
// after its own handling, so that the window can select or trim its text.

#include <QLineEdit>

namespace varnika {

class InputBox : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void gotFocus();
    void lostFocus();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// Focus that moves because another window or a menu popped up is not the
// user entering or leaving a box.
bool isUserFocusChange(Qt::FocusReason reason);

}  // namespace varnika

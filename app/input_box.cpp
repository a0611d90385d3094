#include "app/input_box.h"

#include <QFocusEvent>

namespace varnika {

bool isUserFocusChange(Qt::FocusReason reason)
{
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

void InputBox::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (isUserFocusChange(event->reason())) emit gotFocus();
}

void InputBox::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (isUserFocusChange(event->reason())) emit lostFocus();
}

}  // namespace varnika

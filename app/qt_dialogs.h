#pragma once
// The platform dialogs the operations ask for: the file-open dialog and the
// plain message box.

#include "ops/window_port.h"

#include <QString>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace varnika {

// A glob that matches `pattern` in any letter case: "*.Mdb" -> "*.[mM][dD][bB]".
QString anyCaseGlob(const QString& pattern);

// The dialog as the request describes it, not yet shown; the caller owns it.
QFileDialog* makeFileDialog(QWidget* parent, const FileDialogRequest& request);
// Shows it modally; a cancel comes back as cancelled.
FileDialogResult runFileDialog(QWidget* parent, const FileDialogRequest& request);

// Text with a single OK button and no icon, captioned "Varnika"; the caller owns it.
QMessageBox* makeMessageBox(QWidget* parent, const QString& text);
void showMessageBox(QWidget* parent, const QString& text);

}  // namespace varnika

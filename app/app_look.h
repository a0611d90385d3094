#pragma once
// The program's look: its icon, the one font every caption is drawn in, and
// Qt's own texts in Turkish.

#include <QFont>
#include <QIcon>
#include <QImage>

class QApplication;

namespace varnika {

// 16 × 16, drawn in the 16 VGA colours over a transparent background.
QImage programIconImage();
QIcon programIcon();

// DejaVu Sans at the pixel size for which every caption fits its control.
QFont defaultFont();

// Sets the style, font, icon and Qt's Turkish texts on the application;
// called before the window is made.
void applyProgramLook(QApplication& app);

}  // namespace varnika

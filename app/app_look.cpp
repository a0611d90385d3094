#include "app/app_look.h"

#include "app/qt_translations.h"

#include <QApplication>
#include <QPixmap>
#include <QStyleFactory>

#include "app/varnika.xpm"

namespace varnika {

namespace {
// The layout is in pixels at 96 dots per inch. DejaVu Sans is wide: at 10 px
// the check box captions ("Büyü Harf Küçük harf", "Borçları Alacak Yap")
// already overrun their boxes, at 9 px every caption fits.
constexpr int kFontPixelSize = 9;
}  // namespace

QImage programIconImage()
{
    return QImage(varnika_xpm);
}

QIcon programIcon()
{
    return QIcon(QPixmap::fromImage(programIconImage()));
}

QFont defaultFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void applyProgramLook(QApplication& app)
{
    // One style everywhere, so that the layout measured here is the one shown.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setFont(defaultFont());
    app.setWindowIcon(programIcon());
    (void)installQtTurkish(app);
}

}  // namespace varnika

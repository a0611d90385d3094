#include "app/app_look.h"

#include "app/qt_translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>

#include <algorithm>

#include "app/varnika.xpm"

namespace varnika {

namespace {
// The layout is in pixels at 96 dots per inch. DejaVu Sans is wide: at 10 px
// the check box captions ("Büyü Harf Küçük harf", "Borçları Alacak Yap")
// already overrun their boxes, at 9 px every caption fits.
constexpr int kFontPixelSize = 9;

// Fusion draws a check box's indicator 14 px square, but two check boxes of
// the layout ("Borçları Alacak Yap", "Alacakları Borç Yap") are 13 px high,
// which would cut off the indicator's bottom edge. An indicator is made no
// higher than its check box, so that it is drawn whole.
class ProgramStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int size = QProxyStyle::pixelMetric(metric, option, widget);
        if ((metric == PM_IndicatorWidth || metric == PM_IndicatorHeight) && qobject_cast<const QCheckBox*>(widget))
            return std::max(1, std::min(size, widget->height()));
        return size;
    }
};

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
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(new ProgramStyle(fusion));
    app.setFont(defaultFont());
    app.setWindowIcon(programIcon());
    (void)installQtTurkish(app);
}

}  // namespace varnika

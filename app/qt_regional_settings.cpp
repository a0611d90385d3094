#include "app/qt_regional_settings.h"

namespace varnika {

namespace {

char16_t firstSeparator(const QString& format, char16_t fallback)
{
    for (QChar c : format)
        if (!c.isLetter() && c != QLatin1Char(' ') && c != QLatin1Char('\'')) return c.unicode();
    return fallback;
}

RegionalSettings::DateOrder dateOrderOf(const QString& format)
{
    const qsizetype d = format.indexOf(QLatin1Char('d'));
    const qsizetype m = format.indexOf(QLatin1Char('M'));
    const qsizetype y = format.indexOf(QLatin1Char('y'));
    if (y >= 0 && (d < 0 || y < d) && (m < 0 || y < m)) return RegionalSettings::DateOrder::YearMonthDay;
    if (m >= 0 && d >= 0 && m < d) return RegionalSettings::DateOrder::MonthDayYear;
    return RegionalSettings::DateOrder::DayMonthYear;
}

// Qt's long time formats carry the time zone ("t"), which a stored time has not.
QString withoutTimeZone(QString format)
{
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

char16_t singleChar(const QString& s, char16_t fallback)
{
    return s.size() == 1 ? s.at(0).unicode() : fallback;
}

}  // namespace

RegionalSettings regionalSettingsFrom(const QLocale& locale)
{
    if (locale.language() == QLocale::C) return RegionalSettings::turkish();
    RegionalSettings s;
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const QString longTime = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    s.dateOrder = dateOrderOf(shortDate);
    s.dateSeparator = firstSeparator(shortDate, u'/');
    s.timeSeparator = firstSeparator(longTime, u':');
    s.decimalSeparator = singleChar(locale.decimalPoint(), u'.');
    s.groupSeparator = singleChar(locale.groupSeparator(), u',');
    s.shortDateFormat = shortDate.toStdU16String();
    s.longTimeFormat = longTime.toStdU16String();
    if (longTime.contains(QLatin1String("AP"), Qt::CaseInsensitive) || longTime.contains(QLatin1Char('A')) ||
        longTime.contains(QLatin1Char('a'))) {
        s.amDesignator = locale.amText().toStdU16String();
        s.pmDesignator = locale.pmText().toStdU16String();
    }
    return s;
}

RegionalSettings systemRegionalSettings()
{
    return regionalSettingsFrom(QLocale::system());
}

}  // namespace varnika

#include "db/regional_settings.h"

namespace varnika {

RegionalSettings RegionalSettings::turkish()
{
    return RegionalSettings();
}

RegionalSettings RegionalSettings::unitedStates()
{
    RegionalSettings s;
    s.dateOrder = DateOrder::MonthDayYear;
    s.dateSeparator = u'/';
    s.timeSeparator = u':';
    s.decimalSeparator = u'.';
    s.groupSeparator = u',';
    s.shortDateFormat = u"M/d/yyyy";
    s.longTimeFormat = u"h:mm:ss AP";
    s.amDesignator = u"AM";
    s.pmDesignator = u"PM";
    return s;
}

}  // namespace varnika

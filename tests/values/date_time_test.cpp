// Serials, their parts and the two pattern languages.

#include "db/date_time.h"
#include "db/text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnika {
namespace {

TEST(DateTime, SerialsOfKnownDates)
{
    struct Case {
        DateParts parts;
        double serial;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0}, 0},
        {{1899, 12, 31, 0, 0, 0}, 1},
        {{1900, 1, 1, 0, 0, 0}, 2},
        {{2010, 12, 31, 0, 0, 0}, 40543},
        {{2010, 12, 31, 12, 0, 0}, 40543.5},
        {{1899, 12, 29, 6, 0, 0}, -1.25},
        {{100, 1, 1, 0, 0, 0}, kMinDateSerial},
        {{2000, 2, 29, 18, 0, 0}, 36585.75},
    };
    for (const Case& c : cases) {
        auto s = dateSerial(c.parts);
        ASSERT_TRUE(s.isOk());
        EXPECT_DOUBLE_EQ(*s, c.serial) << c.parts.year << "-" << c.parts.month << "-" << c.parts.day;
        auto back = dateParts(c.serial);
        ASSERT_TRUE(back.isOk());
        EXPECT_EQ(*back, c.parts) << c.serial;
    }
    auto last = dateParts(kMaxDateSerial);
    ASSERT_TRUE(last.isOk());
    EXPECT_EQ(*last, (DateParts{9999, 12, 31, 23, 59, 59}));
}

TEST(DateTime, RoundTripsOverTheWholeRange)
{
    for (double day = kMinDateSerial; day <= 2958465; day += 997) {
        for (double frac : {0.0, 0.25, 0.999988}) {
            const double serial = day >= 0 ? day + frac : day - frac;
            auto parts = dateParts(serial);
            ASSERT_TRUE(parts.isOk()) << serial;
            auto again = dateSerial(*parts);
            ASSERT_TRUE(again.isOk());
            EXPECT_NEAR(*again, serial, 1.0 / 86400) << serial;
        }
    }
}

TEST(DateTime, RefusesOutOfRange)
{
    EXPECT_FALSE(dateSerial({99, 12, 31, 0, 0, 0}).isOk());
    EXPECT_FALSE(dateSerial({10000, 1, 1, 0, 0, 0}).isOk());
    EXPECT_FALSE(dateSerial({2011, 2, 29, 0, 0, 0}).isOk());
    EXPECT_FALSE(dateSerial({2010, 1, 1, 24, 0, 0}).isOk());
    EXPECT_FALSE(dateParts(1e12).isOk());
    EXPECT_FALSE(dateParts(std::nan("")).isOk());
    EXPECT_FALSE(dateParts(-1e300).isOk());
    EXPECT_TRUE(isLeapYear(2000));
    EXPECT_FALSE(isLeapYear(1900));
    EXPECT_EQ(expandTwoDigitYear(29), 2029);
    EXPECT_EQ(expandTwoDigitYear(30), 1930);
}

TEST(DateTime, FindAndReplacePatterns)
{
    const RegionalSettings tr = RegionalSettings::turkish();
    const RegionalSettings us = RegionalSettings::unitedStates();
    const double s = *dateSerial({2010, 12, 31, 14, 30, 5});
    EXPECT_EQ(formatDate(s, u"dd/mm/yyyy", tr), u"31.12.2010");
    EXPECT_EQ(formatDate(s, u"mm/dd/yyyy", tr), u"12.31.2010");
    EXPECT_EQ(formatDate(s, u" hh:mm:ss", tr), u" 14:30:05");
    EXPECT_EQ(formatDate(s, u"dd/mm/yyyy", us), u"31/12/2010");
    EXPECT_EQ(formatDate(s, u"mm/dd/yyyy", us), u"12/31/2010");
    const double early = *dateSerial({2009, 6, 5, 8, 4, 3});
    EXPECT_EQ(formatDate(early, u"dd/mm/yyyy", tr), u"05.06.2009");
    EXPECT_EQ(formatDate(early, u" hh:mm:ss", tr), u" 08:04:03");
    EXPECT_EQ(formatDate(early, u"d/m/yy h:n", tr), u"5.6.09 8:4");
    EXPECT_EQ(formatDate(s, u"hh:mm AM/PM", us), u"02:30 PM");
    EXPECT_EQ(formatDate(s, u"\"Tarih \"dd", tr), u"Tarih 31");
    EXPECT_EQ(formatDate(1e12, u"dd/mm/yyyy", tr), u"");
}

TEST(DateTime, RegionalPatterns)
{
    const RegionalSettings tr = RegionalSettings::turkish();
    const RegionalSettings us = RegionalSettings::unitedStates();
    const double s = *dateSerial({2010, 1, 5, 0, 7, 9});
    EXPECT_EQ(formatRegionalDate(s, tr.shortDateFormat, tr), u"05.01.2010");
    EXPECT_EQ(formatRegionalDate(s, tr.longTimeFormat, tr), u"00:07:09");
    EXPECT_EQ(formatRegionalDate(s, us.shortDateFormat, us), u"1/5/2010");
    EXPECT_EQ(formatRegionalDate(s, us.longTimeFormat, us), u"12:07:09 AM");
    EXPECT_EQ(formatRegionalDate(s, u"yyyy-MM-dd'T'HH", tr), u"2010-01-05T00");
}

}  // namespace
}  // namespace varnika

// The pure rules of the bulk operations: title case, record sources, the date
// separator rule, date patterns and reading, value text.

#include "db/text.h"
#include "db/convert.h"
#include "db/date_time.h"
#include "ops/record_source.h"
#include "ops/title_case.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

std::string u8(std::u16string_view s) { return toUtf8(s); }

TEST(TitleCase, TurkishAndWordRules)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"İSTANBUL", "İstanbul"},
        {"IŞIK", "Işık"},
        {"ırmak kıyısı", "Irmak Kıyısı"},
        {"iğne ipliği", "İğne İpliği"},
        {"ali  veli", "Ali  Veli"},
        {"ali ", "Ali "},
        {" ali", " Ali"},
        {"o'neil-smith", "O'neil-smith"},
        {"McDonald", "Mcdonald"},
        {"", ""},
        {" ", " "},
        {"ali\tveli", "Ali\tveli"},
        {"ÇİĞDEM ÖZ ÜNAL", "Çiğdem Öz Ünal"},
        {"12", "12"},
        {"a", "A"},
    };
    for (const Case& c : cases) EXPECT_EQ(u8(titleCase(fromUtf8(c.in))), c.out) << c.in;
}

TEST(TitleCase, LowerAndRaiseMapTheTurkishIs)
{
    EXPECT_EQ(u8(lowerTurkish(u"İIiı")), "iıiı");
    EXPECT_EQ(raiseTurkish(u'i'), u'\u0130');
    EXPECT_EQ(raiseTurkish(u'\u0131'), u'I');
    EXPECT_EQ(raiseTurkish(u'ş'), u'Ş');
}

TEST(RecordSource, RulesInOrder)
{
    struct Case {
        const char* name;
        bool numeric, date, dateTime;
        const char* old;
        const char* extra;
        const char* expected;
    };
    const Case cases[] = {
        {"rule 1: numeric, empty old value", true, false, false, "", " and Depo=2", "Stok"},
        {"rule 2: numeric", true, false, false, "5", " and Depo=2", "Select * From Stok where Miktar=5 and Depo=2"},
        {"rule 2 before date mode", true, true, true, "5", "", "Select * From Stok where Miktar=5"},
        {"rule 3: date", false, true, false, "31.12.2010", "", "Select * From Stok where Miktar=#31.12.2010#"},
        {"rule 3 has no empty exception", false, true, false, "", " X", "Select * From Stok where Miktar=## X"},
        {"rule 3 before rule 4", false, true, true, "1/2/2010", "", "Select * From Stok where Miktar=#1/2/2010#"},
        {"rule 4: date and time", false, false, true, "12/31/2010", " and A=1", "Stok"},
        {"rule 5: empty old value", false, false, false, "", " and A=1", "Stok"},
        {"rule 6: text", false, false, false, "Adet", "", "Select * From Stok where Miktar='Adet'"},
        {"rule 6 with extra", false, false, false, "O'Neil", " or 1=1",
         "Select * From Stok where Miktar='O'Neil' or 1=1"},
    };
    for (const Case& c : cases) {
        RecordSourceInputs in;
        in.table = u"Stok";
        in.field = u"Miktar";
        in.oldValue = fromUtf8(c.old);
        in.extraCondition = fromUtf8(c.extra);
        in.numeric = c.numeric;
        in.dateMode = c.date;
        in.dateTimeMode = c.dateTime;
        EXPECT_EQ(u8(buildRecordSource(in)), c.expected) << c.name;
    }
}

TEST(RecordSource, DateSeparatorRule)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"Select * From Stok where Tarih=#31.12.2010#", "Select * From Stok where Tarih=#31/12/2010#"},
        {"Select * From Stok where A='x.y' and TARIH>1.5", "Select * From Stok where A='x/y' and TARIH>1/5"},
        {"FaturaTarihleri", "FaturaTarihleri"},
        {"Select * From Stok where Fiyat=1.5", "Select * From Stok where Fiyat=1.5"},
        {"Select * From Stok where Birim='tarih.'", "Select * From Stok where Birim='tarih/'"},
        {"Select * From Stok where A=#1.2.2010#", "Select * From Stok where A=#1.2.2010#"},
    };
    for (const Case& c : cases) EXPECT_EQ(u8(applyDateSeparatorRule(fromUtf8(c.in))), c.out) << c.in;
}

TEST(RecordSource, ExtraConditionGetsOneBlankPerRun)
{
    EXPECT_EQ(u8(prefixExtraCondition(u"")), "");
    EXPECT_EQ(u8(prefixExtraCondition(u"and Depo=2")), " and Depo=2");
    EXPECT_EQ(u8(prefixExtraCondition(u" and Depo=2")), "  and Depo=2");
}

TEST(DateText, SerialsAndCalendar)
{
    struct Case { double serial; int y, mo, d, h, mi, s; };
    const Case cases[] = {
        {0, 1899, 12, 30, 0, 0, 0},
        {1, 1899, 12, 31, 0, 0, 0},
        {2, 1900, 1, 1, 0, 0, 0},
        {40543, 2010, 12, 31, 0, 0, 0},
        {40543.604224537, 2010, 12, 31, 14, 30, 5},
        {-1.25, 1899, 12, 29, 6, 0, 0},
        {36585, 2000, 2, 29, 0, 0, 0},
        {40543.99999999, 2011, 1, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        auto t = dateParts(c.serial);
        ASSERT_TRUE(t.isOk()) << c.serial;
        EXPECT_EQ(*t, (DateParts{c.y, c.mo, c.d, c.h, c.mi, c.s})) << c.serial;
    }
    EXPECT_EQ(daySerial(2010, 12, 31), 40543);
}

TEST(DateText, FixedPatternsUseRegionalSeparators)
{
    const double serial = 40543.604224537;  // 31.12.2010 14:30:05
    const RegionalSettings tr = RegionalSettings::turkish();
    RegionalSettings odd = tr;
    odd.dateSeparator = u'-';
    odd.timeSeparator = u'.';
    EXPECT_EQ(u8(formatDate(serial, u"dd/mm/yyyy", tr)), "31.12.2010");
    EXPECT_EQ(u8(formatDate(serial, u"mm/dd/yyyy", tr)), "12.31.2010");
    EXPECT_EQ(u8(formatDate(serial, u" hh:mm:ss", tr)), " 14:30:05");
    EXPECT_EQ(u8(formatDate(2, u"dd/mm/yyyy", odd)), "01-01-1900");
    EXPECT_EQ(u8(formatDate(serial, u" hh:mm:ss", odd)), " 14.30.05");
}

TEST(DateText, Reading)
{
    using Order = RegionalSettings::DateOrder;
    const RegionalSettings tr = RegionalSettings::turkish();
    struct Case { const char* text; Order order; bool ok; double serial; };
    const Case cases[] = {
        {"31.12.2010", Order::DayMonthYear, true, 40543},
        {"31/12/2010", Order::DayMonthYear, true, 40543},
        {" 31-12-2010 ", Order::DayMonthYear, true, 40543},
        {"12/31/2010", Order::MonthDayYear, true, 40543},
        {"12.31.2010", Order::MonthDayYear, true, 40543},
        {"2010.12.31", Order::YearMonthDay, true, 40543},
        {"31.12.10", Order::DayMonthYear, true, 40543},
        {"1.1.99", Order::DayMonthYear, true, 36161},
        {"31.12.2010 14:30:05", Order::DayMonthYear, true, 40543 + (14 * 3600 + 30 * 60 + 5) / 86400.0},
        {"31.12.2010 06:00", Order::DayMonthYear, true, 40543.25},
        {"12/31/2010", Order::DayMonthYear, true, 40543},  // no 31st month: read the other way round
        {"29.02.2011", Order::DayMonthYear, false, 0},
        {"31.12", Order::DayMonthYear, false, 0},
        {"", Order::DayMonthYear, false, 0},
        {"abc", Order::DayMonthYear, false, 0},
        {"31..12.2010", Order::DayMonthYear, false, 0},
        {"31.12.2010 25:00", Order::DayMonthYear, false, 0},
        {"31.12.2010.", Order::DayMonthYear, false, 0},
    };
    for (const Case& c : cases) {
        RegionalSettings settings = tr;
        settings.dateOrder = c.order;
        Result<double> d = textToDate(fromUtf8(c.text), settings);
        ASSERT_EQ(d.isOk(), c.ok) << c.text;
        if (c.ok) {
            EXPECT_NEAR(*d, c.serial, 1e-9) << c.text;
        } else {
            EXPECT_EQ(d.status().code(), ErrorCode::TypeMismatch) << c.text;
        }
    }
    EXPECT_TRUE(textToDate(u"12/31/2010", RegionalSettings::unitedStates()).isOk());
}

TEST(ValueText, DefaultTextForms)
{
    const RegionalSettings tr = RegionalSettings::turkish();
    struct Case { Variant value; const char* text; };
    const Case cases[] = {
        {Variant::text(u"abc"), "abc"},
        {Variant::longValue(12), "12"},
        {Variant::integer(-7), "-7"},
        {Variant::byte(255), "255"},
        {Variant::boolean(true), "True"},
        {Variant::doubleValue(1.5), "1,5"},
        {Variant::doubleValue(0.1), "0,1"},
        {Variant::doubleValue(100), "100"},
        {Variant::doubleValue(1e20), "1E+20"},
        {Variant::single(2.25f), "2,25"},
        {Variant::currency(Currency{123450}), "12,345"},
        {Variant::currency(Currency{-5000}), "-0,5"},
        {Variant::date(40543.0), "31.12.2010"},
        {Variant::date(40543.604224537), "31.12.2010 14:30:05"},
        {Variant::date(0.5), "12:00:00"},
        {Variant::decimal(Decimal{true, 12345, 2, 18}), "-123,45"},
    };
    for (const Case& c : cases) {
        Result<std::u16string> t = variantToText(c.value, tr);
        ASSERT_TRUE(t.isOk()) << c.value.debugString();
        EXPECT_EQ(u8(*t), c.text) << c.value.debugString();
    }
    EXPECT_EQ(variantToText(Variant(), tr).status().code(), ErrorCode::TypeMismatch);
    EXPECT_FALSE(variantToText(Variant::binary({1, 2}), tr).isOk());
    EXPECT_EQ(u8(*variantToText(Variant::date(40543.604224537), RegionalSettings::unitedStates())),
              "12/31/2010 2:30:05 PM");
}

}  // namespace
}  // namespace varnika

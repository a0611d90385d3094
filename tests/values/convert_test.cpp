// Reading text as numbers, dates and booleans under Turkish and US
// settings, the default text forms, and the conversion for a field.

#include "db/convert.h"
#include "db/date_time.h"
#include "db/text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace varnika {
namespace {

const RegionalSettings kTurkish = RegionalSettings::turkish();
const RegionalSettings kUs = RegionalSettings::unitedStates();

double serialOf(int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    return *dateSerial(DateParts{y, m, d, h, mi, s});
}

struct NumberCase {
    const char16_t* text;
    bool turkish;
    bool ok;
    double value;
};

TEST(Convert, TextToDouble)
{
    const NumberCase cases[] = {
        {u"1.234,56", true, true, 1234.56},
        {u"1234,56", true, true, 1234.56},
        {u"-12,5", true, true, -12.5},
        {u" 7 ", true, true, 7},
        {u"+3", true, true, 3},
        {u"- 3", true, true, -3},
        {u"1.234.567", true, true, 1234567},
        {u"1E3", true, true, 1000},
        {u"2,5e-1", true, true, 0.25},
        {u",5", true, true, 0.5},
        {u"5,", true, true, 5},
        {u"0", true, true, 0},
        {u"1.5", true, false, 0},     // not fifteen: a group of one digit
        {u"12.34", true, false, 0},
        {u"1234.567", true, false, 0},
        {u".234", true, false, 0},
        {u"1,234.56", true, false, 0},
        {u"12a", true, false, 0},
        {u"", true, false, 0},
        {u"   ", true, false, 0},
        {u"-", true, false, 0},
        {u"1E", true, false, 0},
        {u"1e999", true, false, 0},
        {u"1,2,3", true, false, 0},
        {u"1,234.56", false, true, 1234.56},
        {u"1234.56", false, true, 1234.56},
        {u"1,234,567.5", false, true, 1234567.5},
        {u"1.234,56", false, false, 0},
        {u"12,34", false, false, 0},
        {u"1e-400", false, true, 0},
    };
    for (const NumberCase& c : cases) {
        auto r = textToDouble(c.text, c.turkish ? kTurkish : kUs);
        EXPECT_EQ(r.isOk(), c.ok) << toUtf8(c.text);
        if (r.isOk() && c.ok) {
            EXPECT_DOUBLE_EQ(*r, c.value) << toUtf8(c.text);
        } else if (!r.isOk()) {
            EXPECT_EQ(r.status().code(), ErrorCode::TypeMismatch);
            EXPECT_NE(r.status().message().find(toUtf8(c.text)), std::string::npos) << r.status().message();
        }
    }
}

TEST(Convert, TextToScaledRoundsHalfToEven)
{
    struct Case {
        const char16_t* text;
        int scale;
        int64_t value;
    };
    const Case cases[] = {
        {u"2,5", 0, 2},        {u"3,5", 0, 4},          {u"-2,5", 0, -2},          {u"2,500001", 0, 3},
        {u"0,4", 0, 0},        {u"1.234,56789", 4, 12345679}, {u"0,00005", 4, 0},  {u"0,00015", 4, 2},
        {u"1E2", 4, 1000000},  {u"922337203685477,5807", 4, INT64_MAX},
    };
    for (const Case& c : cases) {
        auto r = textToScaled(c.text, c.scale, kTurkish);
        ASSERT_TRUE(r.isOk()) << toUtf8(c.text) << ": " << r.status().toString();
        EXPECT_EQ(*r, c.value) << toUtf8(c.text);
    }
    EXPECT_FALSE(textToScaled(u"922337203685477,5808", 4, kTurkish).isOk());
    EXPECT_FALSE(textToScaled(u"1E30", 0, kTurkish).isOk());
}

TEST(Convert, Val)
{
    EXPECT_EQ(valOfText(u"12abc"), 12);
    EXPECT_EQ(valOfText(u" 1 2 3"), 123);
    EXPECT_EQ(valOfText(u"2.5"), 2.5);
    EXPECT_EQ(valOfText(u"-4.5x"), -4.5);
    EXPECT_EQ(valOfText(u"abc"), 0);
    EXPECT_EQ(valOfText(u""), 0);
    EXPECT_EQ(valOfText(u"1.2.3"), 1.2);
}

struct DateCase {
    const char16_t* text;
    bool turkish;
    double expected;  // NaN: refused
};

TEST(Convert, TextToDate)
{
    const double bad = std::nan("");
    const DateCase cases[] = {
        {u"31.12.2010 14:30:05", true, serialOf(2010, 12, 31, 14, 30, 5)},
        {u"31.12.2010", true, serialOf(2010, 12, 31)},
        {u"31/12/2010", true, serialOf(2010, 12, 31)},
        {u"31-12-2010", true, serialOf(2010, 12, 31)},
        {u"2010-12-31", true, serialOf(2010, 12, 31)},
        {u"2010-12-31 08:05", true, serialOf(2010, 12, 31, 8, 5)},
        {u"05.06.2010", true, serialOf(2010, 6, 5)},
        {u"12/31/2010", true, serialOf(2010, 12, 31)},  // no month 31: read month first
        {u"1.1.30", true, serialOf(1930, 1, 1)},
        {u"31.12.10", true, serialOf(2010, 12, 31)},
        {u"  31.12.2010  ", true, serialOf(2010, 12, 31)},
        {u"14:30", true, (14 * 60 + 30) / 1440.0},
        {u"14:30:05", true, (14 * 3600 + 30 * 60 + 5) / 86400.0},
        {u"29.02.2012", true, serialOf(2012, 2, 29)},
        {u"29.02.2011", true, bad},
        {u"32.12.2010", true, bad},
        {u"31.12.2010 25:00", true, bad},
        {u"31.12.2010 14:60", true, bad},
        {u"31.12.2010x", true, bad},
        {u"31.12", true, bad},
        {u"abc", true, bad},
        {u"", true, bad},
        {u"31.12.99999", true, bad},
        {u"1.1.0099", true, bad},
        {u"12/31/2010 2:30:05 PM", false, serialOf(2010, 12, 31, 14, 30, 5)},
        {u"12/31/2010 2:30:05 pm", false, serialOf(2010, 12, 31, 14, 30, 5)},
        {u"12/31/2010 12:00:00 AM", false, serialOf(2010, 12, 31)},
        {u"12/31/2010 12:00:00 PM", false, serialOf(2010, 12, 31, 12)},
        {u"12/31/2010 2 PM", false, serialOf(2010, 12, 31, 14)},
        {u"12/31/2010 14:30", false, serialOf(2010, 12, 31, 14, 30)},
        {u"5/6/2010", false, serialOf(2010, 5, 6)},
        {u"31/12/2010", false, serialOf(2010, 12, 31)},
        {u"2:30 PM", false, (14 * 60 + 30) / 1440.0},
        {u"12/31/2010 13:00 PM", false, bad},
        {u"12/31/2010 0:30 AM", false, bad},
    };
    for (const DateCase& c : cases) {
        auto r = textToDate(c.text, c.turkish ? kTurkish : kUs);
        if (std::isnan(c.expected)) {
            EXPECT_FALSE(r.isOk()) << toUtf8(c.text) << " read as " << (r.isOk() ? *r : 0);
            if (!r.isOk()) {
                EXPECT_EQ(r.status().code(), ErrorCode::TypeMismatch);
            }
            continue;
        }
        ASSERT_TRUE(r.isOk()) << toUtf8(c.text) << ": " << r.status().toString();
        EXPECT_NEAR(*r, c.expected, 1e-9) << toUtf8(c.text);
    }
}

TEST(Convert, DateLiteralsReadMonthFirst)
{
    EXPECT_EQ(*parseDateLiteral(u"12/31/2010"), serialOf(2010, 12, 31));
    EXPECT_EQ(*parseDateLiteral(u"31/12/2010"), serialOf(2010, 12, 31));
    EXPECT_EQ(*parseDateLiteral(u"05/06/2010"), serialOf(2010, 5, 6));
    EXPECT_EQ(*parseDateLiteral(u"2010-12-31"), serialOf(2010, 12, 31));
    EXPECT_NEAR(*parseDateLiteral(u"12/31/2010 2:30:05 PM"), serialOf(2010, 12, 31, 14, 30, 5), 1e-9);
    EXPECT_FALSE(parseDateLiteral(u"").isOk());
    EXPECT_FALSE(parseDateLiteral(u"31.12.2010").isOk());
    EXPECT_FALSE(parseDateLiteral(u"13/13/2010").isOk());
}

TEST(Convert, TextToBoolean)
{
    struct Case {
        const char16_t* text;
        int expected;  // -1 refused
    };
    const Case cases[] = {
        {u"True", 1}, {u"true", 1}, {u"YES", 1}, {u"On", 1}, {u"False", 0}, {u"no", 0}, {u"OFF", 0},
        {u"-1", 1},   {u"0", 0},    {u"2,5", 1}, {u" yes ", 1}, {u"maybe", -1}, {u"", -1}, {u"Evet", -1},
    };
    for (const Case& c : cases) {
        auto r = textToBoolean(c.text, kTurkish);
        if (c.expected < 0) {
            EXPECT_FALSE(r.isOk()) << toUtf8(c.text);
            continue;
        }
        ASSERT_TRUE(r.isOk()) << toUtf8(c.text);
        EXPECT_EQ(*r, c.expected == 1) << toUtf8(c.text);
    }
}

TEST(Convert, DefaultTextForms)
{
    EXPECT_EQ(doubleToText(1234.56, kTurkish), u"1234,56");
    EXPECT_EQ(doubleToText(1234.56, kUs), u"1234.56");
    EXPECT_EQ(doubleToText(0.1, kTurkish), u"0,1");
    EXPECT_EQ(doubleToText(1.0 / 3, kTurkish), u"0,333333333333333");
    EXPECT_EQ(doubleToText(1e20, kTurkish), u"1E+20");
    EXPECT_EQ(doubleToText(-0.0, kTurkish), u"0");
    EXPECT_EQ(doubleToText(-7.5, kTurkish), u"-7,5");
    EXPECT_EQ(integerToText(-32768), u"-32768");
    EXPECT_EQ(currencyToText(Currency{12345000}, kTurkish), u"1234,5");
    EXPECT_EQ(currencyToText(Currency{-5}, kTurkish), u"-0,0005");
    EXPECT_EQ(currencyToText(Currency{1500000}, kUs), u"150");
    EXPECT_EQ(currencyToText(Currency{INT64_MIN}, kUs), u"-922337203685477.5808");

    const double withTime = serialOf(2010, 12, 31, 14, 30, 5);
    EXPECT_EQ(dateToText(withTime, kTurkish), u"31.12.2010 14:30:05");
    EXPECT_EQ(dateToText(serialOf(2010, 12, 31), kTurkish), u"31.12.2010");
    EXPECT_EQ(dateToText(0.5, kTurkish), u"12:00:00");
    EXPECT_EQ(dateToText(0, kTurkish), u"00:00:00");
    EXPECT_EQ(dateToText(withTime, kUs), u"12/31/2010 2:30:05 PM");
    EXPECT_EQ(dateToText(serialOf(2010, 5, 6, 0, 5), kUs), u"5/6/2010 12:05:00 AM");

    Decimal d;
    d.magnitude = 123450;
    d.scale = 3;
    EXPECT_EQ(decimalToText(d, kTurkish), u"123,45");
    EXPECT_EQ(*variantToText(Variant::boolean(true), kTurkish), u"True");
    EXPECT_EQ(*variantToText(Variant::single(0.1f), kTurkish), u"0,1");
    EXPECT_EQ(*variantToText(Variant::byte(255), kTurkish), u"255");
    EXPECT_FALSE(variantToText(Variant::null(), kTurkish).isOk());
    EXPECT_FALSE(variantToText(Variant::binary({1}), kTurkish).isOk());
    Guid g{};
    g[0] = 0x78;
    g[1] = 0x56;
    g[2] = 0x34;
    g[3] = 0x12;
    EXPECT_EQ(guidToText(g), u"{12345678-0000-0000-0000-000000000000}");
}

struct ColumnCase {
    Variant value;
    ColumnType type;
    int size;
    bool turkish;
    Variant expected;  // Null with expectOk false: refused
    bool expectOk;
};

TEST(Convert, ForColumn)
{
    const ColumnCase cases[] = {
        {Variant::text(u"2,5"), ColumnType::Integer, 2, true, Variant::integer(2), true},
        {Variant::text(u"3,5"), ColumnType::Integer, 2, true, Variant::integer(4), true},
        {Variant::text(u"-2,5"), ColumnType::Long, 4, true, Variant::longValue(-2), true},
        {Variant::text(u"32767"), ColumnType::Integer, 2, true, Variant::integer(32767), true},
        {Variant::text(u"32768"), ColumnType::Integer, 2, true, {}, false},
        {Variant::text(u"2147483648"), ColumnType::Long, 4, true, {}, false},
        {Variant::text(u"1.000.000"), ColumnType::Long, 4, true, Variant::longValue(1000000), true},
        {Variant::text(u"1,000,000"), ColumnType::Long, 4, false, Variant::longValue(1000000), true},
        {Variant::text(u"255"), ColumnType::Byte, 1, true, Variant::byte(255), true},
        {Variant::text(u"256"), ColumnType::Byte, 1, true, {}, false},
        {Variant::text(u"-1"), ColumnType::Byte, 1, true, {}, false},
        {Variant::text(u"abc"), ColumnType::Long, 4, true, {}, false},
        {Variant::text(u""), ColumnType::Long, 4, true, {}, false},
        {Variant::doubleValue(2.5), ColumnType::Long, 4, true, Variant::longValue(2), true},
        {Variant::doubleValue(1.5), ColumnType::Long, 4, true, Variant::longValue(2), true},
        {Variant::currency(Currency{25000}), ColumnType::Integer, 2, true, Variant::integer(2), true},
        {Variant::currency(Currency{35000}), ColumnType::Integer, 2, true, Variant::integer(4), true},
        {Variant::boolean(true), ColumnType::Integer, 2, true, Variant::integer(-1), true},
        {Variant::text(u"1.234,56789"), ColumnType::Currency, 8, true, Variant::currency(Currency{12345679}), true},
        {Variant::text(u"1,234.56"), ColumnType::Currency, 8, false, Variant::currency(Currency{12345600}), true},
        {Variant::text(u"150"), ColumnType::Currency, 8, true, Variant::currency(Currency{1500000}), true},
        {Variant::doubleValue(0.00005), ColumnType::Currency, 8, true, Variant::currency(Currency{0}), true},
        {Variant::longValue(7), ColumnType::Currency, 8, true, Variant::currency(Currency{70000}), true},
        {Variant::doubleValue(1e300), ColumnType::Currency, 8, true, {}, false},
        {Variant::text(u"12,5"), ColumnType::Double, 8, true, Variant::doubleValue(12.5), true},
        {Variant::text(u"12,5"), ColumnType::Single, 4, true, Variant::single(12.5f), true},
        {Variant::doubleValue(1e300), ColumnType::Single, 4, true, {}, false},
        {Variant::text(u"31.12.2010"), ColumnType::DateTime, 8, true, Variant::date(serialOf(2010, 12, 31)), true},
        {Variant::text(u"12/31/2010 2:30:05 PM"), ColumnType::DateTime, 8, false,
         Variant::date(serialOf(2010, 12, 31, 14, 30, 5)), true},
        {Variant::text(u"31.12.2010 14:30:05"), ColumnType::DateTime, 8, true,
         Variant::date(serialOf(2010, 12, 31, 14, 30, 5)), true},
        {Variant::longValue(40543), ColumnType::DateTime, 8, true, Variant::date(40543), true},
        {Variant::doubleValue(1e9), ColumnType::DateTime, 8, true, {}, false},
        {Variant::text(u"kırk"), ColumnType::DateTime, 8, true, {}, false},
        {Variant::text(u"Yes"), ColumnType::Boolean, 1, true, Variant::boolean(true), true},
        {Variant::text(u"off"), ColumnType::Boolean, 1, true, Variant::boolean(false), true},
        {Variant::longValue(0), ColumnType::Boolean, 1, true, Variant::boolean(false), true},
        {Variant::text(u"belki"), ColumnType::Boolean, 1, true, {}, false},
        {Variant::text(u"abcde"), ColumnType::Text, 5, true, Variant::text(u"abcde"), true},
        {Variant::text(u"abcdef"), ColumnType::Text, 5, true, {}, false},
        {Variant::text(std::u16string(70000, u'x')), ColumnType::Memo, 0, true,
         Variant::text(std::u16string(70000, u'x')), true},
        {Variant::longValue(5), ColumnType::Text, 10, true, Variant::text(u"5"), true},
        {Variant::doubleValue(12.5), ColumnType::Text, 10, true, Variant::text(u"12,5"), true},
        {Variant::doubleValue(12.5), ColumnType::Text, 10, false, Variant::text(u"12.5"), true},
        {Variant::date(serialOf(2010, 12, 31, 14, 30, 5)), ColumnType::Text, 50, true,
         Variant::text(u"31.12.2010 14:30:05"), true},
        {Variant::date(serialOf(2010, 12, 31, 14, 30, 5)), ColumnType::Text, 10, true, {}, false},
        {Variant::boolean(false), ColumnType::Text, 10, true, Variant::text(u"False"), true},
        {Variant::text(u"x"), ColumnType::OLE, 0, true, {}, false},
        {Variant::binary({1, 2, 3}), ColumnType::Binary, 2, true, {}, false},
        {Variant::binary({1, 2}), ColumnType::Binary, 2, true, Variant::binary({1, 2}), true},
        {Variant::null(), ColumnType::Long, 4, true, Variant::null(), true},
        {Variant::null(), ColumnType::Text, 5, true, Variant::null(), true},
    };
    for (const ColumnCase& c : cases) {
        auto r = convertForColumn(c.value, c.type, c.size, c.turkish ? kTurkish : kUs);
        const std::string what = c.value.debugString() + " -> " + std::string(columnTypeName(c.type));
        EXPECT_EQ(r.isOk(), c.expectOk) << what << (r.isOk() ? " gave " + r->debugString() : ": " + r.status().toString());
        if (r.isOk() && c.expectOk) {
            EXPECT_EQ(*r, c.expected) << what << " gave " << r->debugString();
        }
        if (!r.isOk()) {
            EXPECT_TRUE(r.status().code() == ErrorCode::TypeMismatch || r.status().code() == ErrorCode::InvalidArgument)
                << what;
            EXPECT_FALSE(r.status().message().empty());
        }
    }
    auto tooLong = convertForColumn(Variant::text(u"abcdef"), ColumnType::Text, 5, kTurkish);
    EXPECT_EQ(tooLong.status().code(), ErrorCode::InvalidArgument);
    auto notANumber = convertForColumn(Variant::text(u"abc"), ColumnType::Long, 4, kTurkish);
    EXPECT_EQ(notANumber.status().code(), ErrorCode::TypeMismatch);
}

}  // namespace
}  // namespace varnika

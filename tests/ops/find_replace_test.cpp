// Find and replace: the record actions on a record set in memory, the walk
// with its counter, and whole runs with an engine that cannot open anything.

#include "db/data_control.h"
#include "db/text.h"
#include "ops/fakes.h"
#include "ops/find_replace.h"
#include "ops/record_action.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

using test::FakeRecordSet;
using test::FakeWindow;

std::string u8(std::u16string_view s) { return toUtf8(s); }

constexpr double k31Dec2010 = 40543;
constexpr double kTime143005 = (14 * 3600 + 30 * 60 + 5) / 86400.0;

TEST(RecordAction, FirstOptionDecides)
{
    struct Case { bool c6, c2, c3, c5; RecordAction expected; };
    const Case cases[] = {
        {true, true, true, true, RecordAction::KeepTimeOfDay},
        {false, true, true, true, RecordAction::DebitToCredit},
        {false, false, true, true, RecordAction::CreditToDebit},
        {false, false, false, true, RecordAction::WriteDate},
        {false, false, false, false, RecordAction::WriteText},
    };
    for (const Case& c : cases) {
        RecordActionInputs in;
        in.dateTimeMode = c.c6;
        in.debitToCredit = c.c2;
        in.creditToDebit = c.c3;
        in.dateMode = c.c5;
        EXPECT_EQ(chooseRecordAction(in), c.expected);
    }
}

TEST(RecordAction, LedgerSwaps)
{
    struct Case {
        const char* name;
        bool debitToCredit;
        Variant alacak, borc;
        Variant alacakAfter, borcAfter;
    };
    const Variant null;
    const Case cases[] = {
        {"debit to credit", true, Variant::longValue(0), Variant::longValue(150), Variant::longValue(150),
         Variant::integer(0)},
        {"credit already set", true, Variant::longValue(20), Variant::longValue(150), Variant::longValue(20),
         Variant::longValue(150)},
        {"both zero", true, Variant::longValue(0), Variant::longValue(0), Variant::longValue(0), Variant::longValue(0)},
        {"empty amount", true, Variant::longValue(0), null, Variant::longValue(0), null},
        {"currency amounts", true, Variant::currency({0}), Variant::currency({15000}), Variant::currency({15000}),
         Variant::integer(0)},
        {"credit to debit", false, Variant::longValue(80), Variant::longValue(0), Variant::integer(0),
         Variant::longValue(80)},
        {"debit already set", false, Variant::longValue(80), Variant::longValue(30), Variant::longValue(80),
         Variant::longValue(30)},
        {"negative credit", false, Variant::doubleValue(-5), Variant::doubleValue(0), Variant::doubleValue(-5),
         Variant::doubleValue(0)},
    };
    for (const Case& c : cases) {
        FakeRecordSet rs({u"Alacak", u"Borc", u"Aciklama"}, {{c.alacak, c.borc, Variant::text(u"x")}});
        RecordActionInputs in;
        in.field = u"Aciklama";
        in.newValue = u"changed";
        in.secondField = u"Aciklama";
        in.secondValue = u"changed";
        (c.debitToCredit ? in.debitToCredit : in.creditToDebit) = true;
        ASSERT_TRUE(applyRecordAction(rs, in, RegionalSettings::turkish()).isOk()) << c.name;
        EXPECT_EQ(rs.at(0, u"Alacak"), c.alacakAfter) << c.name;
        EXPECT_EQ(rs.at(0, u"Borc"), c.borcAfter) << c.name;
        EXPECT_EQ(rs.at(0, u"Aciklama"), Variant::text(u"x")) << c.name << ": the ledger leaves other fields";
        EXPECT_EQ(rs.edits, 1) << c.name << ": every ledger record is edited and saved";
    }
}

TEST(RecordAction, LedgerNeedsBothFields)
{
    FakeRecordSet rs({u"Alacak"}, {{Variant::longValue(0)}});
    RecordActionInputs in;
    in.debitToCredit = true;
    EXPECT_EQ(applyRecordAction(rs, in, RegionalSettings::turkish()).code(), ErrorCode::NotFound);
}

TEST(RecordAction, TextWriteWithSecondField)
{
    FakeRecordSet rs({u"Birim", u"Aciklama"}, {{Variant::text(u"Adet"), Variant::text(u"eski")}});
    RecordActionInputs in;
    in.field = u"Birim";
    in.newValue = u"Kutu";
    in.secondField = u"Aciklama";
    in.secondValue = u"Duzeltildi";
    ASSERT_TRUE(applyRecordAction(rs, in, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Birim"), Variant::text(u"Kutu"));
    EXPECT_EQ(rs.at(0, u"Aciklama"), Variant::text(u"Duzeltildi"));
    EXPECT_EQ(rs.updates, 1);

    // A second field the table lacks: nothing of the record is saved.
    FakeRecordSet other({u"Birim"}, {{Variant::text(u"Adet")}});
    EXPECT_FALSE(applyRecordAction(other, in, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(other.at(0, u"Birim"), Variant::text(u"Adet"));
}

TEST(RecordAction, DateWriteAndSecondFieldLeftAlone)
{
    FakeRecordSet rs({u"Tarih", u"Aciklama"}, {{Variant::date(1.0), Variant::text(u"eski")}});
    RecordActionInputs in;
    in.field = u"Tarih";
    in.newValue = u"31.12.2010";
    in.secondField = u"Aciklama";
    in.secondValue = u"Duzeltildi";
    in.dateMode = true;
    ASSERT_TRUE(applyRecordAction(rs, in, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Tarih"), Variant::date(k31Dec2010));
    EXPECT_EQ(rs.at(0, u"Aciklama"), Variant::text(u"eski"));

    in.newValue = u"not a date";
    EXPECT_EQ(applyRecordAction(rs, in, RegionalSettings::turkish()).code(), ErrorCode::TypeMismatch);
    EXPECT_EQ(rs.at(0, u"Tarih"), Variant::date(k31Dec2010));
}

TEST(RecordAction, DateTimeModeMatchesTheCalendarDateReadMonthFirst)
{
    const RegionalSettings tr = RegionalSettings::turkish();
    struct Case { const char* oldValue; Variant field; bool matches; };
    const Case cases[] = {
        {"12/31/2010", Variant::date(k31Dec2010 + kTime143005), true},
        {"12.31.2010", Variant::date(k31Dec2010 + kTime143005), true},
        {"12/31/2010", Variant::date(k31Dec2010), true},
        // A month over 12 is read day first, as Jet reads #31/12/2010# in the date mode.
        {"31/12/2010", Variant::date(k31Dec2010), true},
        {"12/30/2010", Variant::date(k31Dec2010 + kTime143005), false},
        {"12/31/2010", Variant::text(u"31.12.2010"), false},
        {"12/31/2010", Variant(), false},
        {"", Variant::date(k31Dec2010), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dateTimeMatches(c.field, fromUtf8(c.oldValue), tr), c.matches) << c.oldValue << " "
                                                                                  << c.field.debugString();
}

TEST(RecordAction, DateTimeModeKeepsEachRecordsTime)
{
    FakeRecordSet rs({u"Tarih", u"Aciklama"},
                     {{Variant::date(k31Dec2010 + kTime143005), Variant::text(u"a")},
                      {Variant::date(k31Dec2010 - 1), Variant::text(u"b")}});
    RecordActionInputs in;
    in.field = u"Tarih";
    in.oldValue = u"12/31/2010";
    in.newValue = u"15.01.2011";
    in.secondField = u"Aciklama";
    in.secondValue = u"x";
    in.dateTimeMode = true;
    const RegionalSettings tr = RegionalSettings::turkish();
    ASSERT_TRUE(applyRecordAction(rs, in, tr).isOk());
    EXPECT_EQ(rs.at(0, u"Tarih"), Variant::text(u"15.01.2011 14:30:05"));
    EXPECT_EQ(rs.at(0, u"Aciklama"), Variant::text(u"a"));
    ASSERT_TRUE(rs.MoveNext().isOk());
    ASSERT_TRUE(applyRecordAction(rs, in, tr).isOk());
    EXPECT_EQ(rs.at(1, u"Tarih"), Variant::date(k31Dec2010 - 1));
    EXPECT_EQ(rs.edits, 1) << "a record that does not match is not even edited";
}

TEST(FindReplaceWalk, CounterAndWritesForEveryRecord)
{
    FakeRecordSet rs({u"Birim"}, {{Variant::text(u"Adet")}, {Variant::text(u"Adet")}, {Variant::text(u"Adet")}});
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Birim";
    w.texts[TextBox::Text4] = u"Kutu";
    ASSERT_TRUE(walkReplace(w, rs, RegionalSettings::turkish()).isOk());
    for (size_t i = 0; i < rs.rows.size(); ++i) EXPECT_EQ(rs.at(i, u"Birim"), Variant::text(u"Kutu"));
    EXPECT_EQ(u8(w.counter), " Kayıt: 3");
    EXPECT_EQ(w.processEventsCalls, 0) << "the replace never yields to the window";
}

TEST(FindReplaceWalk, FailureAtTheFortiethRecordKeepsTheFirstThirtyNine)
{
    std::vector<std::vector<Variant>> rows(100, {Variant::text(u"old")});
    FakeRecordSet rs({u"F"}, rows);
    rs.failUpdateAtRow = 39;
    FakeWindow w;
    w.texts[TextBox::Text2] = u"F";
    w.texts[TextBox::Text4] = u"new";
    EXPECT_FALSE(walkReplace(w, rs, RegionalSettings::turkish()).isOk());
    for (int i = 0; i < 39; ++i) EXPECT_EQ(rs.at(i, u"F"), Variant::text(u"new")) << i;
    for (int i = 39; i < 100; ++i) EXPECT_EQ(rs.at(i, u"F"), Variant::text(u"old")) << i;
    EXPECT_EQ(u8(w.counter), " Kayıt: 40");
}

TEST(FindReplaceWalk, CounterShowsManyDigitsWhole)
{
    EXPECT_EQ(u8(counterText(0)), " Kayıt: 1");
    EXPECT_EQ(u8(counterText(1234566)), " Kayıt: 1234567");
}

TEST(FindReplaceWalk, EmptySelectionLeavesTheCounter)
{
    FakeRecordSet rs({u"F"}, {});
    FakeWindow w;
    w.counter = u" Kayıt: 7";
    EXPECT_TRUE(walkReplace(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(u8(w.counter), " Kayıt: 7");
}

// ---- whole runs: the engine opens nothing, so every run ends on the trap ----

struct RunCase {
    const char* name;
    bool numeric, date, dateTime;
    const char* table;
    const char* field;
    const char* old;
    const char* extra;
    const char* recordSource;
    const char* extraAfter;
};

TEST(FindReplaceRun, BindsTheRecordSourceAndRestoresTheWindowOnFailure)
{
    const RunCase cases[] = {
        {"text mode", false, false, false, "Stok", "Birim", "Adet", "", "Select * From Stok where Birim='Adet'", ""},
        {"numeric with extra", true, false, false, "Stok", "Miktar", "5", "and Depo=2",
         "Select * From Stok where Miktar=5 and Depo=2", " and Depo=2"},
        {"date mode with the separator rule", false, true, false, "Stok", "Tarih", "31.12.2010", "",
         "Select * From Stok where Tarih=#31/12/2010#", ""},
        {"date-and-time: whole table", false, false, true, "Stok", "Tarih", "12/31/2010", "", "Stok", ""},
        {"bare table holding tarih", false, false, false, "Tarih.Log", "F", "", "", "Tarih/Log", ""},
        {"empty old value", false, false, false, "Stok", "F", "", " x", "Stok", "  x"},
        {"empty date", false, true, false, "Stok", "F", "", "", "Select * From Stok where F=##", ""},
    };
    for (const RunCase& c : cases) {
        FakeWindow w;
        DataControl data;
        w.counter = u" Kayıt: 9";
        w.texts[TextBox::Text1] = u"/nonexistent/x.mdb";
        w.texts[TextBox::Text5] = fromUtf8(c.table);
        w.texts[TextBox::Text2] = fromUtf8(c.field);
        w.texts[TextBox::Text3] = fromUtf8(c.old);
        w.texts[TextBox::Text6] = fromUtf8(c.extra);
        w.checks[CheckBox::Check1] = c.numeric;
        w.checks[CheckBox::Check5] = c.date;
        w.checks[CheckBox::Check6] = c.dateTime;

        EXPECT_FALSE(Command1_Click(w, data).isOk()) << c.name;
        EXPECT_EQ(u8(data.DatabaseName()), "/nonexistent/x.mdb") << c.name;
        EXPECT_EQ(u8(data.RecordSource()), c.recordSource) << c.name;
        EXPECT_EQ(u8(w.text(TextBox::Text6)), c.extraAfter) << c.name;
        EXPECT_FALSE(w.windowBusy) << c.name;
        EXPECT_FALSE(w.applicationBusy) << c.name;
        EXPECT_TRUE(w.isButtonEnabled(Button::Command1)) << c.name;
        EXPECT_TRUE(w.isButtonEnabled(Button::Command2)) << c.name;
        EXPECT_EQ(u8(w.counter), " Kayıt: 9") << c.name << ": the walk never began";
        EXPECT_EQ(data.Recordset(), nullptr) << c.name;
    }
}

TEST(FindReplaceRun, BusyStateOrder)
{
    FakeWindow w;
    DataControl data;
    (void)Command1_Click(w, data);
    const std::vector<std::string> expected = {"disable Command1", "disable Command2", "busy Window",
                                               "normal Window",    "enable Command1",  "enable Command2"};
    EXPECT_EQ(w.log, expected);
}

TEST(FindReplaceRun, CaseOptionRunsTheConversionInstead)
{
    FakeWindow w;
    DataControl data;
    w.checks[CheckBox::Check4] = true;
    w.checks[CheckBox::Check1] = true;
    w.texts[TextBox::Text1] = u"/nonexistent/x.mdb";
    w.texts[TextBox::Text5] = u"Stok";
    w.texts[TextBox::Text6] = u"and A=1";
    w.counter = u" Kayıt: 4";
    EXPECT_FALSE(Command1_Click(w, data).isOk());
    EXPECT_EQ(u8(data.RecordSource()), "Stok");
    EXPECT_EQ(u8(w.text(TextBox::Text6)), "and A=1") << "the replace's steps do not run";
    EXPECT_EQ(u8(w.counter), " Kayıt: 4");
    EXPECT_FALSE(w.applicationBusy);
    EXPECT_FALSE(w.windowBusy);
    EXPECT_TRUE(w.isButtonEnabled(Button::Command1));
    EXPECT_TRUE(w.isButtonEnabled(Button::Command2));
    EXPECT_EQ(w.log.front(), "busy Application");
}

TEST(FindReplaceRun, LedgerOptionsExcludeEachOther)
{
    FakeWindow w;
    w.checks[CheckBox::Check2] = true;
    w.checks[CheckBox::Check3] = true;  // the user has just set it
    Check3_Click(w);
    EXPECT_FALSE(w.isChecked(CheckBox::Check2));
    EXPECT_TRUE(w.isChecked(CheckBox::Check3));
    w.checks[CheckBox::Check2] = true;
    Check2_Click(w);
    EXPECT_FALSE(w.isChecked(CheckBox::Check3));
    EXPECT_TRUE(w.isChecked(CheckBox::Check2));
    w.checks[CheckBox::Check2] = false;  // a click that cleared it
    Check2_Click(w);
    EXPECT_FALSE(w.isChecked(CheckBox::Check3));
}

}  // namespace
}  // namespace varnika

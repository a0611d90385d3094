// Case conversion and delete all over record sets in memory, and their runs
// with an engine that opens nothing.

#include "db/data_control.h"
#include "db/text.h"
#include "ops/case_conversion.h"
#include "ops/delete_all.h"
#include "ops/fakes.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

using test::FakeRecordSet;
using test::FakeWindow;

std::string u8(std::u16string_view s) { return toUtf8(s); }

TEST(CaseConversion, ConvertsEveryRecordAndSkipsNulls)
{
    FakeRecordSet rs({u"Ad"}, {{Variant::text(u"İSTANBUL")},
                               {Variant()},
                               {Variant::text(u"")},
                               {Variant::longValue(12)},
                               {Variant::text(u"ırmak kıyısı")}});
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Ad";
    w.texts[TextBox::Text3] = u"filter?";
    ASSERT_TRUE(convertRecords(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Ad"), Variant::text(u"İstanbul"));
    EXPECT_EQ(rs.at(1, u"Ad"), Variant()) << "an empty field stays empty and the run goes on";
    EXPECT_EQ(rs.at(2, u"Ad"), Variant::text(u""));
    EXPECT_EQ(rs.at(3, u"Ad"), Variant::text(u"12")) << "written back as text; the engine converts it";
    EXPECT_EQ(rs.at(4, u"Ad"), Variant::text(u"Irmak Kıyısı"));
    EXPECT_EQ(w.processEventsCalls, 5) << "once per record";
    EXPECT_EQ(u8(w.text(TextBox::Text3)), "Irmak Kıyısı");
    EXPECT_EQ(u8(w.counter), "Kayıt : ") << "the conversion never writes the counter itself";
}

TEST(CaseConversion, EmptyTableTouchesNothing)
{
    FakeRecordSet rs({u"Ad"}, {});
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Ad";
    ASSERT_TRUE(convertRecords(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(u8(w.text(TextBox::Text3)), "0");
    EXPECT_EQ(w.processEventsCalls, 0);
}

TEST(CaseConversion, CloseRequestStopsAfterTheRecordInHand)
{
    FakeRecordSet rs({u"Ad"}, {{Variant::text(u"ALİ")}, {Variant::text(u"VELİ")}});
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Ad";
    w.onProcessEvents = [&w] { w.closeFlag = true; };
    ASSERT_TRUE(convertRecords(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Ad"), Variant::text(u"Ali")) << "the record in hand is finished";
    EXPECT_EQ(rs.at(1, u"Ad"), Variant::text(u"VELİ"));
}

TEST(CaseConversion, EditsOfTheBoxesMeanwhileDoNotMixFields)
{
    FakeRecordSet rs({u"Ad", u"Soyad"}, {{Variant::text(u"ALİ"), Variant::text(u"YILMAZ")}});
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Ad";
    w.onProcessEvents = [&w] {
        w.texts[TextBox::Text2] = u"Soyad";
        w.texts[TextBox::Text3] = u"typed";
    };
    ASSERT_TRUE(convertRecords(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Ad"), Variant::text(u"Ali"));
    EXPECT_EQ(rs.at(0, u"Soyad"), Variant::text(u"YILMAZ"));
}

TEST(CaseConversion, FailureStopsAtTheRecord)
{
    FakeRecordSet rs({u"Ad"}, {{Variant::text(u"A B")}, {Variant::text(u"C D")}, {Variant::text(u"E F")}});
    rs.failUpdateAtRow = 1;
    FakeWindow w;
    w.texts[TextBox::Text2] = u"Ad";
    EXPECT_FALSE(convertRecords(w, rs, RegionalSettings::turkish()).isOk());
    EXPECT_EQ(rs.at(0, u"Ad"), Variant::text(u"A B"));  // "a b" title-cased is "A B"
    EXPECT_EQ(rs.at(2, u"Ad"), Variant::text(u"E F"));
    EXPECT_EQ(rs.updates, 1);

    FakeRecordSet missing({u"Ad"}, {{Variant::text(u"x")}});
    w.texts[TextBox::Text2] = u"Yok";
    EXPECT_EQ(convertRecords(w, missing, RegionalSettings::turkish()).code(), ErrorCode::NotFound);
}

TEST(CaseConversion, RunRestoresNothingItselfOnFailure)
{
    // Command1_Click restores the window after a failed conversion (tested
    // with the replace); the conversion alone leaves it busy.
    FakeWindow w;
    DataControl data;
    w.texts[TextBox::Text5] = u"Stok";
    EXPECT_FALSE(ConvertFieldCase(w, data).isOk());
    EXPECT_TRUE(w.applicationBusy);
    EXPECT_FALSE(w.isButtonEnabled(Button::Command1));
    EXPECT_TRUE(w.isButtonEnabled(Button::Command2)) << "only Değiştir is disabled";
    EXPECT_EQ(u8(data.RecordSource()), "Stok");
}

TEST(DeleteAll, DeletesEveryRecord)
{
    FakeRecordSet rs({u"F"}, {{Variant::longValue(1)}, {Variant::longValue(2)}, {Variant::longValue(3)}});
    ASSERT_TRUE(rs.MoveLast(0).isOk());  // wherever the last run left it
    ASSERT_TRUE(deleteRecords(rs).isOk());
    for (bool d : rs.deleted) EXPECT_TRUE(d);

    FakeRecordSet empty({u"F"}, {});
    EXPECT_TRUE(deleteRecords(empty).isOk());
}

TEST(DeleteAll, NothingBoundDoesNothing)
{
    FakeWindow w;
    DataControl data;
    EXPECT_TRUE(Command3_Click(w, data).isOk());
    EXPECT_TRUE(w.log.empty());
}

TEST(DeleteAll, ClosedRecordSetReopensTheLastSource)
{
    FakeWindow w;
    DataControl data;
    data.SetDatabaseName(u"/nonexistent/x.mdb");
    data.SetRecordSource(u"Stok");
    // The engine cannot open it: the failure comes back, the window is untouched.
    EXPECT_FALSE(Command3_Click(w, data).isOk());
    EXPECT_TRUE(w.log.empty());
    EXPECT_EQ(u8(w.counter), "Kayıt : ");
}

}  // namespace
}  // namespace varnika

// The window's handlers on a copy of a real Turkish Access database: choose
// the file, a table and a field, then replace, convert case and delete, and
// read the file back with mdbtools.
#include "db/data_control.h"
#include "db/text.h"
#include "fakes.h"
#include "ops/case_conversion.h"
#include "ops/delete_all.h"
#include "ops/find_replace.h"
#include "schema/schema_browser.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnika {
namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto fixtures = test::fixturesDir();
        if (!fixtures) GTEST_SKIP() << "VARNIKA_FIXTURES is not set; real-file test skipped";
        if (!test::haveProgram("mdb-export")) GTEST_SKIP() << "mdb-export is not installed";
        file = test::copyWritable(*fixtures / "turkish" / "hospital-appointments.mdb", dir.file("randevu.mdb"));
        window.dialogResult.cancelled = false;
        window.dialogResult.paths = {fromUtf8(file.string())};
        ASSERT_TRUE(Command4_Click(window).isOk());
        pick(ListBox::Tables, u"doktor");
        ASSERT_TRUE(lstTables_Click(window).isOk());
        pick(ListBox::Fields, u"DoktorAdi");
        lstFields_Click(window);
    }

    void pick(ListBox list, const std::u16string& item)
    {
        auto& l = window.list(list);
        auto it = std::find(l.begin(), l.end(), item);
        ASSERT_NE(it, l.end()) << toUtf8(item);
        window.selected[int(list)] = int(it - l.begin());
    }

    std::string doctors() { return test::runCommand({"mdb-export", file.string(), "doktor"}).out; }

    test::TempDir dir;
    std::filesystem::path file;
    test::FakeWindow window;
    DataControl data;
};

TEST_F(EndToEnd, ChoosingFileTableAndFieldFillsTheBoxes)
{
    EXPECT_EQ(window.text(TextBox::Text1), fromUtf8(file.string()));
    EXPECT_EQ(window.text(TextBox::Text5), u"doktor");
    EXPECT_EQ(window.text(TextBox::Text2), u"DoktorAdi");
    EXPECT_EQ(window.list(ListBox::Fields),
              (std::vector<std::u16string>{u"doktorid", u"DoktorAdi", u"clinicid", u"DoctorPass"}));
}

TEST_F(EndToEnd, TextReplaceWritesEveryMatchingRecordAndCounts)
{
    window.texts[TextBox::Text3] = u"selim kaş";
    window.texts[TextBox::Text4] = u"Selim Kaya";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    EXPECT_EQ(window.counter, u" Kay\u0131t: 1");
    std::string after = doctors();
    EXPECT_NE(after.find("\"Selim Kaya\""), std::string::npos);
    EXPECT_EQ(after.find("selim kaş"), std::string::npos);
    EXPECT_TRUE(window.isButtonEnabled(Button::Command1));
    EXPECT_FALSE(window.windowBusy);

    // Numeric mode with an extra condition.
    window.checks[CheckBox::Check1] = true;
    window.texts[TextBox::Text2] = u"clinicid";
    window.texts[TextBox::Text3] = u"1";
    window.texts[TextBox::Text4] = u"30";
    window.texts[TextBox::Text6] = u"and doktorid>1";
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    EXPECT_EQ(window.counter, u" Kay\u0131t: 2");  // Orhan and Cagatay, not Selman Ay
    after = doctors();
    EXPECT_NE(after.find("2,\"Orhan\",30,"), std::string::npos);
    EXPECT_NE(after.find("1,\"Selman Ay\",1,"), std::string::npos);
}

TEST_F(EndToEnd, TitleCaseConvertsTheWholeFieldWithTurkishRules)
{
    window.checks[CheckBox::Check4] = true;
    ASSERT_TRUE(Command1_Click(window, data).isOk());
    std::string after = doctors();
    EXPECT_NE(after.find("\"Volkan Şen\""), std::string::npos);
    EXPECT_NE(after.find("\"Selim Kaş\""), std::string::npos);
    EXPECT_NE(after.find("\"Hızır Gök\""), std::string::npos);
    EXPECT_EQ(window.processEventsCalls, 25);
    EXPECT_EQ(window.text(TextBox::Text3), u"Volkan Şen");  // the last record in scan order
}

TEST_F(EndToEnd, DeleteAllRemovesTheLastRunsSelection)
{
    window.checks[CheckBox::Check1] = true;
    window.texts[TextBox::Text2] = u"clinicid";
    window.texts[TextBox::Text3] = u"2";
    window.texts[TextBox::Text4] = u"2";
    ASSERT_TRUE(Command1_Click(window, data).isOk());  // binds "where clinicid=2": two doctors
    ASSERT_TRUE(Command3_Click(window, data).isOk());
    std::string after = doctors();
    EXPECT_EQ(after.find("Hasan Tas"), std::string::npos);
    EXPECT_EQ(after.find("Seyhan Gun"), std::string::npos);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 24);  // header + 23 doctors
    ASSERT_TRUE(Command3_Click(window, data).isOk());  // the second press finds nothing
    after = doctors();
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 24);
}

TEST_F(EndToEnd, AFailureInTheMiddleLeavesEarlierRecordsSavedAndTheWindowUsable)
{
    // Every doctor's name becomes too long for the ten-character field: the
    // first record already fails, nothing is saved, the window recovers.
    window.texts[TextBox::Text3] = u"";
    window.texts[TextBox::Text4] = u"A name far too long";
    EXPECT_FALSE(Command1_Click(window, data).isOk());
    EXPECT_EQ(window.counter, u" Kay\u0131t: 1");
    EXPECT_TRUE(window.isButtonEnabled(Button::Command1));
    EXPECT_TRUE(window.isButtonEnabled(Button::Command2));
    EXPECT_FALSE(window.windowBusy);
    EXPECT_EQ(doctors().find("A name far too long"), std::string::npos);
}

}  // namespace
}  // namespace varnika

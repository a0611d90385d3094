// The schema browser's statements and its handlers against an engine that
// opens nothing.

#include "db/text.h"
#include "ops/fakes.h"
#include "schema/schema_browser.h"

#include <gtest/gtest.h>

namespace varnika {
namespace {

using test::FakeWindow;

std::string u8(std::u16string_view s) { return toUtf8(s); }

TEST(SchemaText, ConnectionStrings)
{
    EXPECT_EQ(u8(listingConnectionString(u"/d/a b.mdb")),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/a b.mdb;Persist Security Info=False");
    EXPECT_EQ(u8(addFieldConnectionString(u"/d/a b.mdb")),
              "Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=/d/a b.mdb");
}

TEST(SchemaText, AddFieldStatement)
{
    struct Case { const char* table; const char* column; const char* type; const char* def; const char* expected; };
    const Case cases[] = {
        {"Stok", "Adet", "Long", "", "ALTER TABLE Stok ADD COLUMN Adet Long"},
        {"Stok", "Tarih", "Date/Time", "", "ALTER TABLE Stok ADD COLUMN Tarih Date/Time"},
        {"", "Adet", "Long", "", "ALTER TABLE  ADD COLUMN Adet Long"},
        {"Stok", "Yeni Fiield ismi girin", "Boolean", "", "ALTER TABLE Stok ADD COLUMN Yeni Fiield ismi girin Boolean"},
        {"Stok", "Adet", "Long", "   ", "ALTER TABLE Stok ADD COLUMN Adet Long"},
        {"Stok", "Adet", "Long", " 5", "ALTER TABLE Stok ADD COLUMN Adet Long DEFAULT  5"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(u8(addFieldStatement(fromUtf8(c.table), fromUtf8(c.column), fromUtf8(c.type), fromUtf8(c.def))),
                  c.expected);
}

TEST(SchemaText, DialogSettingsAndSeveralNames)
{
    const FileDialogRequest r = mdbFileDialogRequest();
    EXPECT_EQ(u8(r.title), "Mdb Dosya Seçimi");
    EXPECT_EQ(u8(r.filterName), "Mdb Dosyaları");
    EXPECT_EQ(u8(r.pattern), "*.Mdb");
    EXPECT_TRUE(r.multipleSelection);

    EXPECT_EQ(u8(dialogFileName({u"/d/a.mdb"})), "/d/a.mdb");
    const std::u16string several = dialogFileName({u"/d/a.mdb", u"/d/b.mdb"});
    EXPECT_EQ(several, std::u16string(u"/d\0a.mdb\0b.mdb", 14));
    EXPECT_NE(several.find(u'\0'), std::u16string::npos) << "names no single file";
}

TEST(SchemaBrowser, CancelLeavesEverything)
{
    FakeWindow w;
    w.texts[TextBox::Text1] = u"/old.mdb";
    w.list(ListBox::Tables) = {u"A"};
    w.list(ListBox::Fields) = {u"f"};
    w.dialogResult.cancelled = true;
    EXPECT_FALSE(Command4_Click(w).isOk());
    ASSERT_TRUE(w.lastRequest.has_value());
    EXPECT_EQ(u8(w.text(TextBox::Text1)), "/old.mdb");
    EXPECT_EQ(w.list(ListBox::Tables).size(), 1u);
    EXPECT_EQ(w.list(ListBox::Fields).size(), 1u);
    EXPECT_TRUE(w.log.empty());
}

TEST(SchemaBrowser, UnopenableFileShowsThePathAndKeepsTheLists)
{
    for (const std::vector<std::u16string>& paths :
         {std::vector<std::u16string>{u"/nonexistent/new.mdb"},
          std::vector<std::u16string>{u"/nonexistent/a.mdb", u"/nonexistent/b.mdb"}}) {
        FakeWindow w;
        w.list(ListBox::Tables) = {u"A"};
        w.list(ListBox::Fields) = {u"f"};
        w.dialogResult.cancelled = false;
        w.dialogResult.paths = paths;
        EXPECT_FALSE(Command4_Click(w).isOk());
        EXPECT_EQ(w.text(TextBox::Text1), dialogFileName(paths));
        EXPECT_EQ(w.list(ListBox::Tables), std::vector<std::u16string>{u"A"});
        EXPECT_EQ(w.list(ListBox::Fields), std::vector<std::u16string>{u"f"});
        EXPECT_TRUE(w.messages.empty());
    }
}

TEST(SchemaBrowser, TableClick)
{
    FakeWindow w;
    w.list(ListBox::Tables) = {u"Stok", u"Cari Hesap"};
    w.list(ListBox::Fields) = {u"f"};
    w.texts[TextBox::Text5] = u"eski";
    EXPECT_TRUE(lstTables_Click(w).isOk()) << "no entry selected: no effect";
    EXPECT_EQ(u8(w.text(TextBox::Text5)), "eski");

    w.selected[static_cast<int>(ListBox::Tables)] = 1;
    w.texts[TextBox::Text1] = u"/nonexistent/x.mdb";
    EXPECT_FALSE(lstTables_Click(w).isOk());
    EXPECT_EQ(u8(w.text(TextBox::Text5)), "Cari Hesap");
    EXPECT_EQ(w.list(ListBox::Fields), std::vector<std::u16string>{u"f"}) << "a failed open leaves the list";
}

TEST(SchemaBrowser, FieldClick)
{
    FakeWindow w;
    w.list(ListBox::Fields) = {u"Birim", u"[Miktar] "};
    w.selected[static_cast<int>(ListBox::Fields)] = 1;
    lstFields_Click(w);
    EXPECT_EQ(u8(w.text(TextBox::Text2)), "[Miktar] ");
    EXPECT_EQ(w.focusOldValueCalls, 1);

    w.selected[static_cast<int>(ListBox::Fields)] = -1;
    lstFields_Click(w);
    EXPECT_EQ(u8(w.text(TextBox::Text2)), "");
    EXPECT_EQ(w.focusOldValueCalls, 2);
}

TEST(SchemaBrowser, AddFieldFailureShowsNothing)
{
    FakeWindow w;
    w.texts[TextBox::Text1] = u"/nonexistent/x.mdb";
    w.texts[TextBox::Text5] = u"Stok";
    w.texts[TextBox::Text9] = u"Adet";
    w.fieldType = u"Long";
    EXPECT_FALSE(AddField_Click(w).isOk());
    EXPECT_TRUE(w.messages.empty());
}

}  // namespace
}  // namespace varnika

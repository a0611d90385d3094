// Record sources as the find and replace builds them, refusals of anything
// that is not a plain selection, and the planner's and sorter's view of a
// bound query.

#include "sql_fixture.h"

#include "db/sql/sql_parser.h"
#include "db/sql/sql_query.h"
#include "db/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <numeric>
#include <random>

namespace varnika {
namespace {

using test::stokColumns;
using test::stokRows;

// Rows (numbered from 1) that a record source selects from the Stok table.
std::string select(std::u16string_view source, ErrorCode* failure = nullptr)
{
    auto parsed = parseRecordSource(source);
    if (!parsed.isOk()) {
        if (failure) *failure = parsed.status().code();
        return "!parse";
    }
    auto bound = bindQuery(*parsed, stokColumns(), RegionalSettings::turkish(), QueryOptions{test::testNow()});
    if (!bound.isOk()) {
        if (failure) *failure = bound.status().code();
        return "!bind";
    }
    std::string out;
    const auto rows = stokRows();
    for (size_t r = 0; r < rows.size(); ++r) {
        auto m = bound->matches(RowValues(rows[r]));
        if (!m.isOk()) return "!eval";
        if (*m == Tri::True) out += (out.empty() ? "" : " ") + std::to_string(r + 1);
    }
    return out;
}

// The statement of the text and numeric modes: "Select * From " T " where " F "='" O "'" X.
std::u16string textMode(std::u16string_view t, std::u16string_view f, std::u16string_view o, std::u16string_view x = u"")
{
    return u"Select * From " + std::u16string(t) + u" where " + std::u16string(f) + u"='" + std::u16string(o) + u"'"
           + std::u16string(x);
}

std::u16string numericMode(std::u16string_view t, std::u16string_view f, std::u16string_view o, std::u16string_view x = u"")
{
    return u"Select * From " + std::u16string(t) + u" where " + std::u16string(f) + u"=" + std::u16string(o)
           + std::u16string(x);
}

std::u16string dateMode(std::u16string_view t, std::u16string_view f, std::u16string_view o, std::u16string_view x = u"")
{
    return u"Select * From " + std::u16string(t) + u" where " + std::u16string(f) + u"=#" + std::u16string(o) + u"#"
           + std::u16string(x);
}

// Every "." becomes "/" when the text holds "tarih" in any case.
std::u16string dateSeparatorRule(std::u16string s)
{
    if (toLower(s).find(u"tarih") != std::u16string::npos) std::replace(s.begin(), s.end(), u'.', u'/');
    return s;
}

TEST(RecordSource, StatementsOfTheFindAndReplace)
{
    EXPECT_EQ(select(textMode(u"Stok", u"Birim", u"Adet")), "1 3");
    EXPECT_EQ(select(u"Select * From Stok where Birim='Adet'"), "1 3");
    EXPECT_EQ(select(numericMode(u"Stok", u"Miktar", u"5", u" and Depo=2")), "1 8");
    EXPECT_EQ(select(u"Select * From Stok where Miktar=5 and Depo=2"), "1 8");
    EXPECT_EQ(select(dateMode(u"Stok", u"Tarih", u"12/31/2010")), "1 8");
    EXPECT_EQ(select(u"Select * From Stok where Tarih=#12/31/2010#"), "1 8");
    // Date mode with 31.12.2010: the separator rule gives a day-first literal.
    const std::u16string rule = dateSeparatorRule(dateMode(u"Stok", u"Tarih", u"31.12.2010"));
    EXPECT_EQ(rule, u"Select * From Stok where Tarih=#31/12/2010#");
    EXPECT_EQ(select(rule), "1 8");
    // Without the rule the dotted date is refused, not misread.
    EXPECT_EQ(select(dateMode(u"Stok", u"Vade", u"31.12.2010")), "!parse");
    // The extra condition is appended after a blank.
    EXPECT_EQ(select(textMode(u"Stok", u"Birim", u"Adet", u" and Aktif=True")), "1 3");
    EXPECT_EQ(select(textMode(u"Stok", u"Birim", u"Adet", u" AND Tarih>#1/1/2011#")), "3");
    // Numeric mode on a text field compares as numbers, and fails on the
    // first text that is none, whatever the extra condition says.
    EXPECT_EQ(select(numericMode(u"Stok", u"Birim", u"5")), "!eval");
    EXPECT_EQ(select(numericMode(u"Stok", u"Birim", u"5", u" and Birim IN ('05')")), "!eval");
}

TEST(RecordSource, MalformedStatementsOfTheFindAndReplace)
{
    ErrorCode code = ErrorCode::Ok;
    // Date mode with an empty old value: =##.
    EXPECT_EQ(select(dateMode(u"Stok", u"Tarih", u""), &code), "!parse");
    EXPECT_EQ(code, ErrorCode::InvalidArgument);
    EXPECT_EQ(select(dateMode(u"Stok", u"Tarih", u"", u" and Depo=2")), "!parse");
    // A table name with a blank makes the statement malformed; it is never
    // read as table Stok with an alias.
    EXPECT_EQ(select(textMode(u"Stok Hareket", u"Birim", u"Adet"), &code), "!parse");
    EXPECT_EQ(code, ErrorCode::InvalidArgument);
    EXPECT_EQ(select(numericMode(u"Stok Hareket", u"Miktar", u"5")), "!parse");
    EXPECT_EQ(select(dateMode(u"Stok Hareket", u"Tarih", u"12/31/2010")), "!parse");
    // An apostrophe inside the old value.
    EXPECT_EQ(select(textMode(u"Stok", u"Birim", u"O'Neil")), "!parse");
    EXPECT_EQ(select(u"Select * From Stok where Birim='O'Neil'"), "!parse");
    // A field name with a blank.
    EXPECT_EQ(select(textMode(u"Stok", u"Stok Birim", u"Adet")), "!parse");
    // Numeric mode with a text old value names a column that does not exist.
    EXPECT_EQ(select(numericMode(u"Stok", u"Miktar", u"beş"), &code), "!bind");
    EXPECT_EQ(code, ErrorCode::NotFound);
}

TEST(RecordSource, BareTableNames)
{
    struct Case {
        const char16_t* source;
        const char16_t* table;
    };
    const Case cases[] = {
        {u"Stok", u"Stok"},
        {u"Stok Hareket", u"Stok Hareket"},
        {u"[Stok Hareket]", u"Stok Hareket"},
        {u"  Stok  ", u"Stok"},
        {u"Stok/Tarih", u"Stok/Tarih"},
        {u"Delete", u"Delete"},
        {u"Seçim", u"Seçim"},
        {u"Selection", u"Selection"},
    };
    for (const Case& c : cases) {
        auto q = parseRecordSource(c.source);
        ASSERT_TRUE(q.isOk()) << toUtf8(c.source) << ": " << q.status().toString();
        EXPECT_FALSE(q->isStatement);
        EXPECT_EQ(q->tableName, c.table);
        EXPECT_FALSE(q->where);
        auto bound = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
        ASSERT_TRUE(bound.isOk());
        EXPECT_FALSE(bound->hasCondition());
        EXPECT_EQ(*bound->matches(RowValues(stokRows()[4])), Tri::True);
    }
}

TEST(RecordSource, StatementForms)
{
    struct Case {
        const char16_t* source;
        const char16_t* table;
        bool hasWhere;
        size_t orderTerms;
    };
    const Case cases[] = {
        {u"Select * From Stok", u"Stok", false, 0},
        {u"select * from stok", u"stok", false, 0},
        {u"SELECT * FROM Stok;", u"Stok", false, 0},
        {u"SELECT * FROM [Stok Hareket] WHERE Birim='Adet'", u"Stok Hareket", true, 0},
        {u"Select * From Stok where Birim='Adet' order by Miktar desc, Birim asc;", u"Stok", true, 2},
        {u"Select * From Stok Order By [Birim]", u"Stok", false, 1},
        {u"Select * From Stok Order By Stok.Birim", u"Stok", false, 1},
        {u"Select*From Stok", u"Stok", false, 0},
        {u"  Select\t*\r\nFrom\nStok\nwhere Miktar=5  ", u"Stok", true, 0},
        {u"SeLeCt * FrOm Stok WhErE Miktar=5", u"Stok", true, 0},
    };
    for (const Case& c : cases) {
        auto q = parseRecordSource(c.source);
        ASSERT_TRUE(q.isOk()) << toUtf8(c.source) << ": " << q.status().toString();
        EXPECT_TRUE(q->isStatement);
        EXPECT_EQ(q->tableName, c.table);
        EXPECT_EQ(q->where.has_value(), c.hasWhere) << toUtf8(c.source);
        EXPECT_EQ(q->orderBy.size(), c.orderTerms) << toUtf8(c.source);
    }
}

// Nothing but a selection gets through, so a condition typed into the box
// can narrow what is changed but never change data itself.
TEST(RecordSource, RefusesEverythingElse)
{
    const char16_t* refused[] = {
        u"DELETE FROM Stok",
        u"delete * from Stok where Birim='Adet'",
        u"UPDATE Stok SET Birim='x'",
        u"DROP TABLE Stok",
        u"INSERT INTO Stok (Birim) VALUES ('x')",
        u"ALTER TABLE Stok ADD COLUMN X TEXT",
        u"CREATE TABLE X (A TEXT)",
        u"Select * From Stok; DELETE FROM Stok",
        u"Select * From Stok where Birim='Adet'; DROP TABLE Stok",
        u"Select * From Stok where Birim='Adet';;",
        u"Select * From Stok where Birim='Adet' DELETE FROM Stok",
        u"Select * From Stok where Birim='Adet",
        u"Select * From Stok where Birim=\"Adet",
        u"Select * From [Stok where Birim='Adet'",
        u"Select Birim From Stok",
        u"Select * From Stok, Depo",
        u"Select * From Stok AS S",
        u"Select * From Stok S where S.Birim='Adet'",
        u"Select * From Stok INNER JOIN Depo ON Stok.Depo = Depo.Id",
        u"Select * From (Select * From Stok)",
        u"Select * From Stok where Birim IN (Select Birim From Stok)",
        u"Select * From Stok Order By",
        u"Select * From Stok Order Miktar",
        u"Select * From Stok Where",
        u"Select * From",
        u"Select * From Where",
        u"Select",
        u"Stok; DELETE FROM Stok",
        u"Stok.Birim",
        u"[Stok",
        u"",
        u"   ",
        u"Stok\x01",
    };
    for (const char16_t* s : refused) {
        auto q = parseRecordSource(s);
        EXPECT_FALSE(q.isOk()) << "accepted: " << toUtf8(s);
        if (!q.isOk()) {
            EXPECT_EQ(q.status().code(), ErrorCode::InvalidArgument) << toUtf8(s);
            EXPECT_FALSE(q.status().message().empty());
        }
    }
}

TEST(RecordSource, ErrorsNameThePlace)
{
    auto q = parseRecordSource(u"Select * From Stok where Miktar=5 Depo=2");
    ASSERT_FALSE(q.isOk());
    EXPECT_NE(q.status().message().find("position 35"), std::string::npos) << q.status().message();
    auto b = bindQuery(*parseRecordSource(u"Select * From Stok where Yok=1"), stokColumns(), RegionalSettings::turkish());
    ASSERT_FALSE(b.isOk());
    EXPECT_NE(b.status().message().find("Yok"), std::string::npos) << b.status().message();
}

TEST(RecordSource, HostileNestingIsRefusedNotFollowed)
{
    auto nested = [](int depth) {
        return u"Select * From Stok where " + std::u16string(static_cast<size_t>(depth), u'(') + u"Miktar=5"
               + std::u16string(static_cast<size_t>(depth), u')');
    };
    EXPECT_EQ(select(nested(kMaxSqlNesting - 1)), "1 3 8");
    EXPECT_EQ(select(nested(kMaxSqlNesting + 1)), "!parse");
    EXPECT_EQ(select(nested(100000)), "!parse");
    EXPECT_EQ(select(u"Select * From Stok where " + std::u16string(50000, u'(')), "!parse");

    std::u16string nots = u"Select * From Stok where ";
    for (int i = 0; i < 5000; ++i) nots += u"NOT ";
    EXPECT_EQ(select(nots + u"Aktif"), "!parse");
    std::u16string signs = u"Select * From Stok where Miktar=";
    signs += std::u16string(5000, u'-');
    EXPECT_EQ(select(signs + u"5"), "!parse");

    // A long flat chain builds a deep tree; it is refused as too complex.
    std::u16string chain = u"Select * From Stok where Miktar=1";
    for (int i = 0; i < 2000; ++i) chain += u" or Miktar=1";
    EXPECT_EQ(select(chain), "!parse");
    std::u16string shortChain = u"Select * From Stok where Miktar=1";
    for (int i = 0; i < 50; ++i) shortChain += u" or Miktar=250";
    EXPECT_EQ(select(shortChain), "6");

    EXPECT_EQ(select(u"Select * From Stok where Birim='" + std::u16string(kMaxRecordSourceLength, u'a') + u"'"),
              "!parse");
}

// Random bytes and random cuts of valid statements: every one ends with a
// result or an error, never a crash (the sanitizer build checks the rest).
TEST(RecordSource, RandomInputNeverCrashes)
{
    std::mt19937 rng(20101231);
    const std::u16string alphabet = u"SELECT* FROMWHERE Stok Birim Miktar Tarih ()[]'\"#=<>+-*/\\^&,.;!?ANDORNOTLIKEIN"
                                    u"BETWEENISNULL0123456789 LenMidIIfNzCIntDateSerial ıİşğ\x01";
    int okCount = 0;
    for (int i = 0; i < 3000; ++i) {
        std::u16string s = u"Select * From Stok where ";
        const int len = static_cast<int>(rng() % 40);
        for (int k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
        if (checkRecordSourceForFuzz(s).isOk()) ++okCount;
    }
    const std::u16string seeds[] = {
        u"Select * From Stok where Mid(Birim, 2, Len(Aciklama)) LIKE '[!a-c]*#' AND Tarih BETWEEN #1/1/2010# AND Now()",
        u"Select * From Stok where IIf(Nz(Miktar,0) Mod 3 = 1, CStr(Alacak) & 'x', Replace(Aciklama,'a','bb',2,1)) IN ('1','2')",
        u"Select * From Stok where DateSerial(Depo, Miktar, -Miktar) > CDate('31.12.2010') OR Round(Alacak/3, 2) = 0,33",
    };
    for (const auto& seed : seeds) {
        for (size_t cut = 0; cut <= seed.size(); ++cut) (void)checkRecordSourceForFuzz(seed.substr(0, cut));
        for (int i = 0; i < 300; ++i) {
            std::u16string s = seed;
            s[rng() % s.size()] = alphabet[rng() % alphabet.size()];
            (void)checkRecordSourceForFuzz(s);
        }
    }
    EXPECT_GT(okCount, 0);
}

std::optional<EqualityTerm> equalityOf(std::u16string_view condition)
{
    auto q = parseRecordSource(u"Select * From Stok where " + std::u16string(condition));
    EXPECT_TRUE(q.isOk()) << toUtf8(condition);
    auto b = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
    EXPECT_TRUE(b.isOk()) << toUtf8(condition);
    return b->indexableEquality();
}

TEST(RecordSource, IndexableEquality)
{
    struct Case {
        const char16_t* condition;
        int column;  // -1: none
        Variant value;
    };
    const Case cases[] = {
        {u"Birim='Adet'", 0, Variant::text(u"Adet")},
        {u"'Adet'=Birim", 0, Variant::text(u"Adet")},
        {u"Miktar=5 and Depo=2", 1, Variant::longValue(5)},
        {u"Depo=2 and Miktar=5", 2, Variant::integer(2)},
        {u"(Miktar > 3) AND (Birim='Adet')", 0, Variant::text(u"Adet")},
        {u"Miktar=5.0", 1, Variant::longValue(5)},
        {u"Miktar='5'", 1, Variant::longValue(5)},
        {u"Tarih=#12/31/2010#", 3, test::dateValue(2010, 12, 31)},
        {u"Tarih='31.12.2010'", 3, test::dateValue(2010, 12, 31)},
        {u"Alacak=1234.56", 4, test::money(1234.56)},
        {u"Aktif=True", 7, Variant::boolean(true)},
        {u"Fiyat=12.5", 8, Variant::doubleValue(12.5)},
        {u"Miktar=5.5", -1, {}},
        {u"Depo=100000", -1, {}},
        {u"Birim=5", -1, {}},
        {u"Miktar=5 or Depo=2", -1, {}},
        {u"NOT Miktar=5", -1, {}},
        {u"Miktar>5", -1, {}},
        {u"Miktar=Null", -1, {}},
        {u"Miktar=Depo", -1, {}},
        {u"Len(Birim)=4", -1, {}},
        {u"Aktif=1", -1, {}},
    };
    for (const Case& c : cases) {
        auto term = equalityOf(c.condition);
        if (c.column < 0) {
            EXPECT_FALSE(term.has_value()) << toUtf8(c.condition);
            continue;
        }
        ASSERT_TRUE(term.has_value()) << toUtf8(c.condition);
        EXPECT_EQ(term->column, c.column) << toUtf8(c.condition);
        EXPECT_EQ(term->value, c.value) << toUtf8(c.condition) << ": " << term->value.debugString();
    }
}

std::vector<int> sortedRows(std::u16string_view source)
{
    auto q = parseRecordSource(source);
    EXPECT_TRUE(q.isOk());
    auto b = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
    EXPECT_TRUE(b.isOk()) << b.status().toString();
    const auto rows = stokRows();
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        return b->compareRows(RowValues(rows[static_cast<size_t>(x)]), RowValues(rows[static_cast<size_t>(y)])) < 0;
    });
    for (int& r : order) ++r;
    return order;
}

TEST(RecordSource, OrderBy)
{
    // Null first; text without regard to case; ties keep their order.
    EXPECT_EQ(sortedRows(u"Select * From Stok Order By Miktar"), (std::vector<int>{4, 5, 1, 3, 8, 7, 2, 6}));
    EXPECT_EQ(sortedRows(u"Select * From Stok Order By Miktar DESC, Depo"), (std::vector<int>{6, 2, 7, 3, 1, 8, 5, 4}));
    EXPECT_EQ(sortedRows(u"Select * From Stok Order By Birim"), (std::vector<int>{5, 8, 7, 1, 3, 6, 2, 4}));
    EXPECT_EQ(sortedRows(u"Select * From Stok Order By Tarih desc"), (std::vector<int>{3, 2, 1, 8, 6, 5, 7, 4}));
    EXPECT_EQ(sortedRows(u"Select * From Stok where Miktar=5 Order By Tarih"), (std::vector<int>{4, 7, 5, 6, 1, 8, 2, 3}));

    auto q = parseRecordSource(u"Select * From Stok Order By Yok");
    ASSERT_TRUE(q.isOk());
    auto b = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
    ASSERT_FALSE(b.isOk());
    EXPECT_EQ(b.status().code(), ErrorCode::NotFound);
    EXPECT_FALSE(parseRecordSource(u"Select * From Stok Order By Depo.Miktar").isOk());
}

TEST(RecordSource, ReferencedColumns)
{
    auto q = parseRecordSource(u"Select * From Stok where Birim='Adet' and Len(Aciklama) > Depo Order By Tarih, Birim");
    auto b = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
    ASSERT_TRUE(b.isOk());
    EXPECT_EQ(b->referencedColumns(), (std::vector<int>{0, 2, 3, 6}));
    // Columns only the folded constants named are gone from the plan.
    auto none = bindQuery(*parseRecordSource(u"Select * From Stok where Len('abc') = 3"), stokColumns(),
                          RegionalSettings::turkish());
    EXPECT_TRUE(none->referencedColumns().empty());
}

TEST(RecordSource, NullIsNeitherTrueNorFalse)
{
    auto q = parseRecordSource(u"Select * From Stok where Birim='Adet'");
    auto b = bindQuery(*q, stokColumns(), RegionalSettings::turkish());
    const auto rows = stokRows();
    EXPECT_EQ(*b->matches(RowValues(rows[0])), Tri::True);
    EXPECT_EQ(*b->matches(RowValues(rows[1])), Tri::False);
    EXPECT_EQ(*b->matches(RowValues(rows[4])), Tri::Null);
    // A row with fewer values than columns is an error, not a read past the end.
    EXPECT_FALSE(b->matches(RowValues()).isOk());
}

}  // namespace
}  // namespace varnika

namespace varnika {
namespace {

// Under a Turkish C locale "i" upper-cases to "İ" in locale-aware calls;
// keywords, names and numbers must not depend on it.
TEST(RecordSource, WorksUnderTurkishLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) GTEST_SKIP() << "the tr_TR.UTF-8 locale is not installed";
    const std::string got = select(u"select * from stok where birim like 'a*' and miktar in (5, 7.5e0) and "
                                   u"tarih is not null and fiyat > 0,5e-1 - 0.04 and instr(birim, 'i') = 0");
    const std::string numbers = select(u"Select * From Stok where CDbl('1.234,5') = 1234.5 and Miktar = 5.0");
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(got, "!parse");  // "0,5e-1" is no SQL number: the comma is a separator
    EXPECT_EQ(numbers, "1 3 8");
    std::setlocale(LC_ALL, "tr_TR.UTF-8");
    const std::string keywords = select(u"select * from stok where birim like 'a*' and miktar in (5, 7.5e0) "
                                        u"and tarih is not null and fiyat > 0.5e-1 - 0.04 order by miktar desc");
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(keywords, "1");
}

}  // namespace
}  // namespace varnika

// Each condition against the Stok table: the rows it selects, or the kind
// of failure (at parse, at bind or while reading the rows).

#include "sql_fixture.h"

#include "db/sql/sql_parser.h"
#include "db/sql/sql_query.h"
#include "db/text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace varnika {
namespace {

struct ConditionCase {
    const char* condition;
    // Row numbers selected, blank separated; or "!parse", "!bind:<code>", "!eval:<code>".
    const char* expected;
};

const ConditionCase kCases[] = {
    // Text equality and order, case ignored, blanks kept
    {"Birim='Adet'", "1 3"},
    {"Birim=\"Adet\"", "1 3"},
    {"Birim='ADET'", "1 3"},
    {"Birim<>'Adet'", "2 4 6 7 8"},
    {"Birim<'B'", "1 3 7 8"},
    {"Birim>='Kutu'", "2 4"},
    {"Birim<='Kutu'", "1 2 3 6 7 8"},
    {"Birim>'Koli'", "2 4 6"},
    {"Trim(Birim)='Adet'", "1 3 8"},
    {"Birim='Adet '", ""},
    {"Birim=''", ""},
    {"Aciklama=''", "5"},
    {"Aciklama='O''Neil paketi'", "4"},
    {"Aciklama='a''b' OR Aciklama='O''Neil ' & 'paketi' OR Aciklama=\"''\"", "4"},
    {"Aciklama=\"O'Neil paketi\"", "4"},
    // Null
    {"Aciklama IS NULL", "3"},
    {"Aciklama IS NOT NULL", "1 2 4 5 6 7 8"},
    {"Birim IS NULL", "5"},
    {"Miktar Is Null", "4"},
    {"NOT Birim IS NULL", "1 2 3 4 6 7 8"},
    {"Birim = Null", ""},
    {"Birim <> Null", ""},
    {"NOT (Birim = 'Adet')", "2 4 6 7 8"},
    {"Miktar IS NULL OR Depo IS NULL", "4 5"},
    {"Miktar > 5 OR Miktar IS NULL", "2 4 6 7"},
    {"NOT Miktar > 5", "1 3 5 8"},
    {"Null", ""},
    {"NOT Null", ""},
    {"True", "1 2 3 4 5 6 7 8"},
    {"False", ""},
    // AND / OR
    {"Birim='Adet' OR Birim='Kutu'", "1 2 3"},
    {"Birim='Adet' AND Depo=2", "1"},
    {"Miktar=5 and Depo=2", "1 8"},
    {"Birim LIKE 'A*' AnD Miktar=5", "1 3"},
    {"Miktar=5 and (Depo=1 or Depo=3)", "3"},
    {"Miktar=5 and Depo=1 or Depo=3", "3 6"},
    // Numbers
    {"Miktar=5", "1 3 8"},
    {"Miktar<>5", "2 5 6 7"},
    {"Miktar>5", "2 6 7"},
    {"Miktar>=10", "2 6"},
    {"Miktar<7", "1 3 5 8"},
    {"Miktar<=0", "5"},
    {"Miktar=5.0", "1 3 8"},
    {"Miktar=5.5", ""},
    {"Miktar='5'", "1 3 8"},
    {"'5'=Miktar", "1 3 8"},
    {"Miktar='beş'", "!bind:TypeMismatch"},
    {"Depo=2", "1 4 7 8"},
    {"Depo IS NULL", "5"},
    {"Depo=2.0", "1 4 7 8"},
    // Arithmetic and precedence
    {"Miktar + Depo = 7", "1 8"},
    {"Miktar - Depo = 4", "3"},
    {"Miktar * 2 = 20", "2"},
    {"Miktar / 2 = 2.5", "1 3 8"},
    {"Miktar \\ 2 = 2", "1 3 8"},
    {"Miktar Mod 2 = 1", "1 3 7 8"},
    {"Miktar MOD 2 = 0", "2 5 6"},
    {"Miktar ^ 2 = 25", "1 3 8"},
    {"-Miktar = -5", "1 3 8"},
    {"-2^2 = -4", "1 2 3 4 5 6 7 8"},
    {"2+3*4 = 14", "1 2 3 4 5 6 7 8"},
    {"(2+3)*4 = 20", "1 2 3 4 5 6 7 8"},
    {"7 \\ 2 * 2 = 1", "1 2 3 4 5 6 7 8"},
    {"10 Mod 3 + 1 = 2", "1 2 3 4 5 6 7 8"},
    {"2^3^2 = 64", "1 2 3 4 5 6 7 8"},
    {"1E3 = 1000", "1 2 3 4 5 6 7 8"},
    {".5 = 0.5", "1 2 3 4 5 6 7 8"},
    {"Miktar * 10000000 > 1000000000", "6"},
    {"1/0 = 1", "!bind:InvalidArgument"},
    {"Miktar/0 = 1", "!eval:InvalidArgument"},
    {"Miktar \\ 0 = 1", "!eval:InvalidArgument"},
    // Concatenation
    {"Birim & 'x' = 'Adetx'", "1 3"},
    {"Birim & Null = 'Adet'", "1 3"},
    {"Birim + 'x' = 'Kutux'", "2"},
    {"Birim + Null IS NULL", "1 2 3 4 5 6 7 8"},
    {"Miktar & '' = '5'", "1 3 8"},
    {"'A' & 1 & 'B' = 'A1B'", "1 2 3 4 5 6 7 8"},
    {"Fiyat & '' = '12,5'", "1"},
    {"'1' + 2 = 3", "1 2 3 4 5 6 7 8"},
    // LIKE
    {"Birim LIKE 'A*'", "1 3"},
    {"Birim LIKE '*A*'", "1 3 4 8"},
    {"Birim LIKE 'K?tu'", "2"},
    {"Birim LIKE 'Koli ##'", "6"},
    {"Birim LIKE '#*'", "7"},
    {"Birim LIKE '[AK]*'", "1 2 3 6"},
    {"Birim LIKE '[!AK]*'", "4 7 8"},
    {"Birim LIKE '[a-k]*'", "1 2 3 6"},
    {"Birim NOT LIKE 'A*'", "2 4 6 7 8"},
    {"Aciklama LIKE '*[*]*'", "7"},
    {"Aciklama LIKE '*[?]*'", "7"},
    {"Aciklama LIKE '*50[%]*'", "6"},
    {"Aciklama LIKE '*%*'", "6"},
    {"Aciklama LIKE '*'", "1 2 4 5 6 7 8"},
    {"Aciklama LIKE ''", "5"},
    {"Birim like 'adet'", "1 3"},
    {"Aciklama LIKE 'a*c'", "7"},
    {"Aciklama LIKE '*kutu'", "2"},
    // Case is ignored through the simple upper-case mapping for now, under
    // which dotless ı and i both stand for I.
    {"Aciklama LIKE '*ı*'", "1 2 4 6 8"},
    {"Aciklama LIKE 'K?rm*'", "1"},
    {"Aciklama LIKE 'K*'", "1"},
    {"Birim LIKE '[A-'", "!bind:InvalidArgument"},
    {"Miktar LIKE '5'", "1 3 8"},
    {"Tarih LIKE '31.12.2010*'", "1 2 8"},
    {"Birim LIKE Birim", "1 2 3 4 6 7 8"},
    // IN
    {"Birim IN ('Adet', 'Kutu')", "1 2 3"},
    {"Birim NOT IN ('Adet', 'Kutu')", "4 6 7 8"},
    {"Miktar IN (5, 7)", "1 3 7 8"},
    {"Miktar NOT IN (5, 7)", "2 5 6"},
    {"Miktar IN (5, Null)", "1 3 8"},
    {"Miktar NOT IN (5, Null)", ""},
    {"Depo IN (1)", "2 3"},
    {"Miktar IN ('5', '10')", "1 2 3 8"},
    {"Miktar IN ('5', 'x')", "!bind:TypeMismatch"},
    {"Miktar IN (Depo, 250)", "6"},
    // BETWEEN
    {"Miktar BETWEEN 5 AND 10", "1 2 3 7 8"},
    {"Miktar BETWEEN 10 AND 5", "1 2 3 7 8"},
    {"Miktar NOT BETWEEN 5 AND 10", "5 6"},
    {"Tarih BETWEEN #1/1/2010# AND #12/31/2010#", "1 6 8"},
    {"Birim BETWEEN 'A' AND 'L'", "1 2 3 6"},
    {"Fiyat BETWEEN 0 AND 1", "3 8"},
    {"Miktar BETWEEN 5 AND Null", ""},
    {"Miktar BETWEEN 1 AND 10 AND Depo = 1", "2 3"},
    // Dates
    {"Tarih=#12/31/2010#", "1 8"},
    {"Tarih=#31/12/2010#", "1 8"},
    {"Tarih=#2010-12-31#", "1 8"},
    {"Tarih=#12-31-2010#", "1 8"},
    {"Tarih=#12/31/10#", "1 8"},
    {"Tarih=#12/31/2010 14:30:05#", "2"},
    {"Tarih=#12/31/2010 2:30:05 PM#", "2"},
    {"Tarih=#12/31/2010 2:30:05 pm#", "2"},
    {"Tarih>#12/31/2010#", "2 3"},
    {"Tarih<#1/1/2000#", "7"},
    {"Tarih=#05/06/2010#", "6"},
    {"Tarih=#06/05/2010#", ""},
    {"Tarih=#6/5/2009 8:00#", "5"},
    {"Tarih=#6/5/2009 8:00 AM#", "5"},
    {"Tarih='31.12.2010'", "1 8"},
    {"Tarih='31.12.2010 14:30:05'", "2"},
    {"Tarih='2010-12-31'", "1 8"},
    {"Tarih>='2010-12-31'", "1 2 3 8"},
    {"Tarih='abc'", "!bind:TypeMismatch"},
    {"Tarih=##", "!parse"},
    {"Tarih=#31.12.2010#", "!parse"},
    {"Tarih=#2/30/2010#", "!parse"},
    {"Tarih=#13/13/2010#", "!parse"},
    {"Tarih=#12/31/2010", "!parse"},
    {"Tarih IS NULL", "4"},
    {"Hour(#14:30#) = 14 AND Minute(#2:30 PM#) = 30", "1 2 3 4 5 6 7 8"},
    {"Tarih=#31/12/10#", "1 8"},
    {"Tarih=#1/1/99#", ""},
    {"Year(#1/1/99#) = 1999 AND Year(#1/1/29#) = 2029", "1 2 3 4 5 6 7 8"},
    {"Year(Tarih)=2010", "1 2 6 8"},
    {"Month(Tarih)=12", "1 2 7 8"},
    {"Day(Tarih)=31", "1 2 7 8"},
    {"Hour(Tarih)=14", "2"},
    {"Minute(Tarih)=30", "2"},
    {"Second(Tarih)=59", "7"},
    {"Hour(Tarih)=8", "5"},
    {"DateValue(Tarih)=#12/31/2010#", "1 2 8"},
    {"Int(Tarih)=#12/31/2010#", "1 2 8"},
    {"Tarih=DateSerial(2010,12,31)", "1 8"},
    {"Tarih=DateSerial(2011,0,31)", "1 8"},
    {"Tarih=DateSerial(2010,13,15)", "3"},
    {"Tarih=DateSerial(10,12,31)", "1 8"},
    {"Tarih < Date()", "1 2 3 5 6 7 8"},
    {"Tarih > Now()", ""},
    {"Year(Now())=2026 AND Day(Date())=7", "1 2 3 4 5 6 7 8"},
    {"Tarih = CDate('31.12.2010')", "1 8"},
    {"Tarih = DateValue('2010-12-31')", "1 8"},
    {"Tarih + 1 = #1/1/2011#", "1 8"},
    {"Tarih - #12/30/2010# = 1", "1 8"},
    {"Year('31.12.2010')=2010", "1 2 3 4 5 6 7 8"},
    {"Year('yok')=2010", "!bind:TypeMismatch"},
    {"Tarih = Birim", "!eval:TypeMismatch"},
    // Booleans
    {"Aktif = True", "1 3 6 8"},
    {"Aktif", "1 3 6 8"},
    {"NOT Aktif", "2 5 7"},
    {"Aktif = False", "2 5 7"},
    {"Aktif = -1", "1 3 6 8"},
    {"Aktif = 0", "2 5 7"},
    {"Aktif = 'True'", "1 3 6 8"},
    {"Aktif = 'Hayır gibi'", "!bind:TypeMismatch"},
    {"Aktif IS NULL", "4"},
    {"Aktif OR Depo = 2", "1 3 4 6 7 8"},
    {"Aktif AND Depo = 2", "1 8"},
    {"Miktar", "1 2 3 6 7 8"},
    {"Birim", "!eval:TypeMismatch"},
    // Currency and Double
    {"Alacak = 0", "1 3 8"},
    {"Alacak = 0 And Borc > 0", "1 8"},
    {"Borc = 0 And Alacak > 0", "4 6"},
    {"Alacak = 1234.56", "6"},
    {"Alacak = '1.234,56'", "6"},
    {"Alacak = '1234.56'", "!bind:TypeMismatch"},
    {"Alacak > 0.25", "2 4 6 7"},
    {"Alacak + Borc = 3", "7"},
    {"Alacak * 2 = 1", "7"},
    {"Alacak IS NULL", "5"},
    {"Borc = 150", "1 2 8"},
    {"Fiyat = 12.5", "1"},
    {"Fiyat < 0", "5"},
    {"Fiyat = 0.1", "8"},
    {"Fiyat > 1000", "6"},
    {"Round(Fiyat, 2) = 1234.57", "6"},
    {"Round(Fiyat) = 12", "1"},
    {"Round(2.5) = 2 AND Round(3.5) = 4", "1 2 3 4 5 6 7 8"},
    {"Round(Alacak, 1) = 1234.6", "6"},
    {"Int(Fiyat) = -8", "5"},
    {"Fix(Fiyat) = -7", "5"},
    {"Abs(Fiyat) = 7.5", "5"},
    {"Int(Fiyat) = 3", "2"},
    // Text functions
    {"Len(Birim) = 4", "1 2 3"},
    {"Len(Aciklama) = 0", "5"},
    {"Len(Birim) = 8", "8"},
    {"Len(Miktar) = 3", "6"},
    {"Left(Birim, 2) = 'Ko'", "6"},
    {"Right(Birim, 2) = '12'", "6"},
    {"Mid(Birim, 2, 2) = 'ut'", "2"},
    {"Mid(Birim, 3) = 'ket'", "4"},
    {"Left(Birim, -1) = 'x'", "!eval:InvalidArgument"},
    {"Mid(Birim, 0, 1) = 'x'", "!eval:InvalidArgument"},
    {"Left('abc', -1) = 'x'", "!bind:InvalidArgument"},
    {"UCase(Birim) = 'ADET'", "1 3"},
    {"LCase(Aciklama) LIKE '*kalem'", "1"},
    {"LTrim(Birim) = 'Adet  '", "8"},
    {"RTrim(Birim) = '  Adet'", "8"},
    {"InStr(Aciklama, 'kutu') = 6", "2"},
    {"InStr(Aciklama, 'KUTU') > 0", "2"},
    {"InStr(3, Birim, 'et') = 3", "1 3"},
    {"InStr(1, Birim, 'ET', 0) > 0", ""},
    {"InStr(Birim, 'z') = 0", "1 2 3 4 6 7 8"},
    {"Replace(Birim, 'e', 'E') = 'AdEt'", "1 3"},
    {"Replace(Aciklama, ' ', '') = 'mavikutu'", "2"},
    {"Len(Replace(Birim, ' ', '')) = 4", "1 2 3 8"},
    {"Replace('aaaa', 'a', 'b', 1, 2) = 'bbaa'", "1 2 3 4 5 6 7 8"},
    {"Val(Nz(Birim, '')) = 5", "7"},
    {"Val(Birim) = 5", "!eval:TypeMismatch"},
    {"Val('12abc') = 12 AND Val(' 1 2 ') = 12 AND Val('x') = 0", "1 2 3 4 5 6 7 8"},
    {"Val('2.5') = 2.5", "1 2 3 4 5 6 7 8"},
    // Conversion functions
    {"CStr(Nz(Miktar, 0)) = '250'", "6"},
    {"CStr(Nz(Fiyat, 0)) = '12,5'", "1"},
    {"CStr(Tarih) = '31.12.2010 14:30:05'", "!eval:TypeMismatch"},
    {"CStr(Nz(Tarih, 0)) = '31.12.2010 14:30:05'", "2"},
    {"CInt('2,5') = 2 AND CInt(3.5) = 4 AND CInt(-2.5) = -2", "1 2 3 4 5 6 7 8"},
    {"CInt(40000) = 1", "!bind:TypeMismatch"},
    {"CLng(Fiyat) = 1235", "!eval:TypeMismatch"},
    {"CLng(Nz(Fiyat, 0)) = 1235", "6"},
    {"CDbl('1.234,56') = 1234.56", "1 2 3 4 5 6 7 8"},
    {"CCur(Nz(Fiyat, 0)) = 1234.5678", "6"},
    {"CInt(Miktar) = 5", "!eval:TypeMismatch"},
    {"CDate('12/31/2010') = #12/31/2010#", "1 2 3 4 5 6 7 8"},
    {"IsNull(Birim)", "5"},
    {"NOT IsNull(Miktar) AND Miktar > 100", "6"},
    {"Nz(Miktar, 0) = 0", "4 5"},
    {"Nz(Birim) = ''", "5"},
    {"Nz(Birim, 'yok') = 'yok'", "5"},
    {"IIf(Miktar > 5, 'b', 'k') = 'b'", "2 6 7"},
    {"IIf(Aktif, Miktar, 0) = 5", "1 3 8"},
    // Text compared with a number: the text is read as a number, row by row
    {"IIf(Miktar = 7, Birim = 5, False)", "7"},
    {"Birim IN ('05') AND Birim = 5", "7"},
    {"Birim = 5", "!eval:TypeMismatch"},
    // Names
    {"[Birim]='Adet'", "1 3"},
    {"birim='Adet'", "1 3"},
    {"BIRIM='Adet'", "1 3"},
    {"Stok.Birim='Adet'", "1 3"},
    {"[Stok].[Birim]='Adet'", "1 3"},
    {"stok.birim='Adet'", "1 3"},
    {"Diger.Birim='Adet'", "!bind:InvalidArgument"},
    {"Yok='Adet'", "!bind:NotFound"},
    {"[Birim ]='Adet'", "!bind:NotFound"},
    {"Foo(Birim)='x'", "!bind:NotFound"},
    {"len(birim)=4", "1 2 3"},
    {"LEFT(Birim,1)='A'", "1 3"},
    {"Left(Birim)='A'", "!bind:InvalidArgument"},
    {"Now(1) = 1", "!bind:InvalidArgument"},
    {"Resim IS NOT NULL", "1"},
    {"IsNull(Resim)", "2 3 4 5 6 7 8"},
    {"Resim = 'x'", "!bind:TypeMismatch"},
    {"Resim LIKE '*'", "!bind:TypeMismatch"},
    // Malformed conditions
    {"Birim='O'Neil'", "!parse"},
    {"Birim=", "!parse"},
    {"(Birim='Adet'", "!parse"},
    {"Birim='Adet')", "!parse"},
    {"Birim=='Adet'", "!parse"},
    {"Miktar=5 Depo=2", "!parse"},
    {"Birim LIKE", "!parse"},
    {"Miktar BETWEEN 1", "!parse"},
    {"Miktar IN 1,2", "!parse"},
    {"Miktar IN ()", "!parse"},
    {"Birim IS 'x'", "!parse"},
    {"Birim = 'Adet", "!parse"},
    {"[Birim='Adet'", "!parse"},
    {"Birim != 'Adet'", "!parse"},
    {"Miktar = 5abc", "!parse"},
    {"Birim = 'a' AND", "!parse"},
    {"AND Birim = 'a'", "!parse"},
    {"Miktar = 99999999999999999999999999999999999999e999", "!parse"},
    {"", "!parse"},
};

const char* codeWord(ErrorCode code)
{
    switch (code) {
    case ErrorCode::InvalidArgument: return "InvalidArgument";
    case ErrorCode::NotFound: return "NotFound";
    case ErrorCode::TypeMismatch: return "TypeMismatch";
    default: return errorCodeName(code);
    }
}

std::string rowsSelected(const BoundQuery& q, const std::vector<std::vector<Variant>>& rows, std::string& failure)
{
    std::ostringstream out;
    bool first = true;
    for (size_t r = 0; r < rows.size(); ++r) {
        auto m = q.matches(RowValues(rows[r]));
        if (!m.isOk()) {
            failure = std::string("!eval:") + codeWord(m.status().code());
            return failure;
        }
        if (*m == Tri::True) {
            if (!first) out << ' ';
            out << (r + 1);
            first = false;
        }
    }
    return out.str();
}

class ConditionTable : public ::testing::TestWithParam<ConditionCase> {};

TEST_P(ConditionTable, SelectsTheExpectedRows)
{
    const ConditionCase& c = GetParam();
    const std::u16string source = u"Select * From Stok where " + fromUtf8(c.condition);
    auto parsed = parseRecordSource(source);
    if (!parsed.isOk()) {
        EXPECT_EQ(parsed.status().code(), ErrorCode::InvalidArgument) << parsed.status().toString();
        EXPECT_STREQ(c.expected, "!parse") << c.condition << ": parse failed: " << parsed.status().toString();
        return;
    }
    auto bound = bindQuery(*parsed, test::stokColumns(), RegionalSettings::turkish(), QueryOptions{test::testNow()});
    if (!bound.isOk()) {
        EXPECT_EQ(std::string(c.expected), std::string("!bind:") + codeWord(bound.status().code()))
            << c.condition << ": " << bound.status().toString();
        EXPECT_FALSE(bound.status().message().empty());
        return;
    }
    std::string failure;
    const std::string got = rowsSelected(*bound, test::stokRows(), failure);
    EXPECT_EQ(got, c.expected) << c.condition;
}

INSTANTIATE_TEST_SUITE_P(Stok, ConditionTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ConditionTable, HasAtLeastOneHundredFiftyCases)
{
    EXPECT_GE(std::size(kCases), 150u);
}

// The same conditions evaluated twice in a row give the same answer: the
// scratch space kept between rows must not leak from one row into the next.
TEST(ConditionTable, ReevaluatingGivesTheSameRows)
{
    for (const ConditionCase& c : kCases) {
        auto parsed = parseRecordSource(u"Select * From Stok where " + fromUtf8(c.condition));
        if (!parsed.isOk()) continue;
        auto bound = bindQuery(*parsed, test::stokColumns(), RegionalSettings::turkish(), QueryOptions{test::testNow()});
        if (!bound.isOk()) continue;
        std::string f1, f2;
        const std::string a = rowsSelected(*bound, test::stokRows(), f1);
        const std::string b = rowsSelected(*bound, test::stokRows(), f2);
        EXPECT_EQ(a, b) << c.condition;
    }
}

}  // namespace
}  // namespace varnika

#include "db/connection.h"
#include "db/text.h"
#include "db/variant.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnika {
namespace {

TEST(Text, Utf8RoundTripsTurkishAndAstralCharacters)
{
    const std::string s = "Işık İğne çöğüş \xF0\x9F\x98\x80";
    std::u16string u = fromUtf8(s);
    EXPECT_EQ(u.size(), 18u);  // the emoji is a surrogate pair
    EXPECT_EQ(toUtf8(u), s);
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters)
{
    EXPECT_EQ(fromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(fromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated sequence
    EXPECT_EQ(fromUtf8("\xC0\x80"), u"\uFFFD");        // overlong NUL
    EXPECT_EQ(toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");   // lone surrogate
}

// Runs of ASCII of every length, with a letter of two, three or four bytes
// or a bad byte at every place among them: each comes out where it stands.
TEST(Text, Utf8AmidRunsOfAsciiOfEveryLength)
{
    const std::pair<std::string, std::u16string> odd[] = {
        {"\xC4\xB1", u"\u0131"}, {"\xE2\x82\xAC", u"\u20AC"}, {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xFF", u"\uFFFD"}};
    for (const auto& [bytes, unit] : odd) {
        for (size_t length = 0; length <= 20; ++length) {
            for (size_t at = 0; at <= length; ++at) {
                std::string s;
                std::u16string want;
                for (size_t i = 0; i < length; ++i) {
                    if (i == at) {
                        s += bytes;
                        want += unit;
                    }
                    s += char('a' + i % 26);
                    want += char16_t(u'a' + i % 26);
                }
                if (at == length) {
                    s += bytes;
                    want += unit;
                }
                ASSERT_EQ(fromUtf8(s), want) << "length " << length << ", at " << at;
            }
        }
    }
}

TEST(Text, CaseMappingIsLanguageIndependent)
{
    EXPECT_EQ(toUpper(u"istanbul ışık"), u"ISTANBUL IŞIK");
    EXPECT_EQ(toLower(u"ÇĞÖŞÜ"), u"çğöşü");
    EXPECT_EQ(toUpperChar(u'ß'), u'ß');  // expands in full mapping: left alone
    EXPECT_TRUE(equalsIgnoreCase(u"Alacak", u"aLACAK"));
    EXPECT_FALSE(equalsIgnoreCase(u"Alacak", u"Alacaks"));
}

// The characters a capital stands for, against every character there is.
TEST(Text, CharsWithUpperAreExactlyThoseThatUppercaseToIt)
{
    std::vector<std::u16string> expected(0x10000);
    for (uint32_t c = 0; c <= 0xFFFF; ++c) expected[toUpperChar(char16_t(c))].push_back(char16_t(c));
    for (uint32_t u = 0; u <= 0xFFFF; ++u) {
        std::u16string got = charsWithUpper(char16_t(u));
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got, expected[u]) << std::hex << u;
    }
    EXPECT_EQ(charsWithUpper(u'I').size(), 3u);  // I, i and the dotless ı
}

TEST(ConnectionString, SplitsPairsAndKeepsValuesAsWritten)
{
    auto pairs = parseConnectionString(
        u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/a b;c.mdb;Persist Security Info=False");
    ASSERT_EQ(pairs.size(), 3u);  // "c.mdb" has no '=' and is not a pair
    EXPECT_EQ(pairs[0].first, u"Provider");
    EXPECT_EQ(pairs[1].second, u"/tmp/a b");
    EXPECT_EQ(pairs[2].first, u"Persist Security Info");
}

TEST(Variant, HoldsEachTypeAndComparesExactly)
{
    EXPECT_TRUE(Variant().isNull());
    EXPECT_EQ(Variant::longValue(5), Variant::longValue(5));
    EXPECT_NE(Variant::longValue(5), Variant::integer(5));
    EXPECT_EQ(Variant::text(u"a").type(), VariantType::Text);
    EXPECT_EQ(Variant::currency({35000}).debugString(), "Currency(35000e-4)");
}

}  // namespace
}  // namespace varnika

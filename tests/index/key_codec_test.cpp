#include "db/jet/index/key_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace varnika::jet {
namespace {

std::vector<uint8_t> key(const Variant& v, ColumnType t, bool asc = true,
                         TextCollation c = TextCollation::GeneralLegacy)
{
    std::vector<uint8_t> out;
    Status s = appendColumnKey(out, v, t, asc, c);
    EXPECT_TRUE(s.isOk()) << s.toString();
    return out;
}

std::vector<uint8_t> textKey(const char16_t* s, TextCollation c = TextCollation::GeneralLegacy, bool asc = true)
{
    return key(Variant::text(s), ColumnType::Text, asc, c);
}

using B = std::vector<uint8_t>;

TEST(TextKey, ReproducesAccessKeysUnderGeneralLegacy)
{
    EXPECT_EQ(textKey(u"a"), (B{0x7f, 0x4a, 0x01, 0x00}));
    EXPECT_EQ(textKey(u"A"), textKey(u"a"));
    EXPECT_EQ(textKey(u"hijklmnop"), (B{0x7f, 0x57, 0x59, 0x5b, 0x5c, 0x5e, 0x60, 0x62, 0x64, 0x66, 0x01, 0x00}));
    EXPECT_EQ(textKey(u"ääkkösiä"), (B{0x7f, 0x4a, 0x4a, 0x5c, 0x5c, 0x64, 0x6b, 0x59, 0x4a, 0x01, 0x13, 0x13, 0x02,
                                       0x02, 0x13, 0x02, 0x02, 0x13, 0x00}));
    EXPECT_EQ(textKey(u"it's"), (B{0x7f, 0x59, 0x6d, 0x6b, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0f, 0x06, 0x80, 0x00}));
    EXPECT_EQ(textKey(u"abc   "), textKey(u"abc"));  // trailing spaces do not count
    EXPECT_EQ(textKey(u""), (B{0x7f, 0x01, 0x00}));
    // The General tables keep ı and I apart: Turkish text needs its own order.
    EXPECT_NE(textKey(u"ışık"), textKey(u"Işık"));
}

TEST(TextKey, TurkishLettersSortInTheirOwnPlaceAndPairTheirCases)
{
    const TextCollation tr = TextCollation::Turkish;
    struct Pair {
        const char16_t* lower;
        const char16_t* upper;
    } pairs[] = {{u"ç", u"Ç"}, {u"ğ", u"Ğ"}, {u"ı", u"I"}, {u"i", u"İ"}, {u"ö", u"Ö"}, {u"ş", u"Ş"}, {u"ü", u"Ü"}};
    for (const Pair& p : pairs) EXPECT_EQ(textKey(p.lower, tr), textKey(p.upper, tr));
    EXPECT_EQ(textKey(u"ışık", tr), (B{0x7f, 0x58, 0x06, 0x6c, 0x07, 0x58, 0x06, 0x5c, 0x01, 0x00}));
    EXPECT_EQ(textKey(u"Hızır Gök", tr), (B{0x7f, 0x57, 0x58, 0x06, 0x78, 0x58, 0x06, 0x69, 0x07, 0x55, 0x65, 0x02, 0x5c, 0x01, 0x00}));
    EXPECT_EQ(textKey(u"Işık", tr), textKey(u"ışık", tr));
    EXPECT_EQ(textKey(u"İstanbul", tr), textKey(u"istanbul", tr));
    EXPECT_NE(textKey(u"Istanbul", tr), textKey(u"istanbul", tr));
    // Alphabetical order of the Turkish alphabet.
    const char16_t* alphabet[] = {u"a", u"b", u"c", u"ç", u"d", u"e", u"f", u"g", u"ğ", u"h", u"ı", u"i", u"j",
                                  u"k", u"l", u"m", u"n", u"o", u"ö", u"p", u"r", u"s", u"ş", u"t", u"u", u"ü",
                                  u"v", u"y", u"z"};
    for (size_t i = 1; i < std::size(alphabet); ++i)
        EXPECT_LT(textKey(alphabet[i - 1], tr), textKey(alphabet[i], tr)) << i;
    EXPECT_LT(textKey(u"çay", tr), textKey(u"dere", tr));
    EXPECT_LT(textKey(u"cam", tr), textKey(u"çay", tr));
}

TEST(TextKey, DescendingFlipsAndUnknownSortOrdersAreRefused)
{
    B asc = textKey(u"a");
    B desc = textKey(u"a", TextCollation::GeneralLegacy, false);
    EXPECT_EQ(desc, (B{0x80, 0xb5, 0xfe, 0xff, 0x00}));
    EXPECT_GT(textKey(u"a", TextCollation::GeneralLegacy, false), textKey(u"b", TextCollation::GeneralLegacy, false));
    EXPECT_TRUE(collationFor(0x0409, 0).isOk());
    EXPECT_TRUE(collationFor(0x041F, 0).isOk());
    EXPECT_EQ(collationFor(0x0407, 0).status().code(), ErrorCode::NotSupported);
    EXPECT_EQ(collationFor(0x041F, 1).status().code(), ErrorCode::NotSupported);
}

TEST(NumberKey, ByteOrderEqualsValueOrderAscendingAndDescending)
{
    std::mt19937 rng(7);
    auto check = [&](auto make, ColumnType type, auto gen) {
        for (int round = 0; round < 2000; ++round) {
            auto a = gen(), b = gen();
            for (bool asc : {true, false}) {
                B ka = key(make(a), type, asc), kb = key(make(b), type, asc);
                if (a < b) EXPECT_EQ(asc, ka < kb);
                else if (b < a) EXPECT_EQ(asc, kb < ka);
                else EXPECT_EQ(ka, kb);
            }
        }
    };
    check([](int32_t v) { return Variant::longValue(v); }, ColumnType::Long,
          [&] { return int32_t(rng()); });
    check([](int16_t v) { return Variant::integer(v); }, ColumnType::Integer,
          [&] { return int16_t(rng()); });
    check([](int64_t v) { return Variant::currency({v}); }, ColumnType::Currency,
          [&] { return int64_t(uint64_t(rng()) << 32 | rng()); });
    check([](double v) { return Variant::doubleValue(v); }, ColumnType::Double,
          [&] { return std::uniform_real_distribution<double>(-1e6, 1e6)(rng); });
    check([](double v) { return Variant::date(v); }, ColumnType::DateTime,
          [&] { return std::uniform_real_distribution<double>(-700000, 2900000)(rng); });
    check([](uint8_t v) { return Variant::byte(v); }, ColumnType::Byte, [&] { return uint8_t(rng()); });
}

TEST(NumberKey, MatchesTheStoredExamplesAndNullsSortFirstAscending)
{
    EXPECT_EQ(key(Variant::longValue(1), ColumnType::Long), (B{0x7f, 0x80, 0x00, 0x00, 0x01}));
    EXPECT_EQ(key(Variant::longValue(-1), ColumnType::Long), (B{0x7f, 0x7f, 0xff, 0xff, 0xff}));
    EXPECT_EQ(key(Variant(), ColumnType::Long), (B{0x00}));
    EXPECT_EQ(key(Variant(), ColumnType::Long, false), (B{0xff}));
    EXPECT_LT(key(Variant(), ColumnType::Long), key(Variant::longValue(INT32_MIN), ColumnType::Long));
    EXPECT_EQ(key(Variant::boolean(true), ColumnType::Boolean), (B{0x7f, 0x00}));
    EXPECT_EQ(key(Variant::boolean(false), ColumnType::Boolean), (B{0x7f, 0xff}));
    EXPECT_EQ(key(Variant::binary({1, 2, 3}), ColumnType::Binary),
              (B{0x7f, 1, 2, 3, 0, 0, 0, 0, 0, 3}));
    B nine = key(Variant::binary({1, 2, 3, 4, 5, 6, 7, 8, 9}), ColumnType::Binary);
    EXPECT_EQ(nine, (B{0x7f, 1, 2, 3, 4, 5, 6, 7, 8, 0x09, 9, 0, 0, 0, 0, 0, 0, 0, 1}));
    std::vector<uint8_t> out;
    EXPECT_FALSE(appendColumnKey(out, Variant::text(u"x"), ColumnType::Long, true, TextCollation::General).isOk());
}

}  // namespace
}  // namespace varnika::jet

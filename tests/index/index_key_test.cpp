#include "db/jet/index_key.h"
#include "db/jet/sort_order.h"
#include "db/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

using namespace varnika;
using namespace varnika::jet;

namespace {

std::string hex(const std::vector<uint8_t>& v)
{
    std::string s;
    char buf[4];
    for (uint8_t b : v) {
        std::snprintf(buf, sizeof buf, "%02x ", b);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

std::vector<uint8_t> key(ColumnType type, const Variant& v, bool asc = true,
                         SortOrderId order = kGeneralLegacySortOrder)
{
    std::vector<uint8_t> out;
    IndexKeyColumn c;
    c.type = type;
    c.ascending = asc;
    c.sortOrder = order;
    const Status s = appendIndexKey(c, v, out);
    EXPECT_TRUE(s.isOk()) << s.toString();
    return out;
}

std::string textKey(const char* utf8, SortOrderId order = kGeneralLegacySortOrder, bool asc = true)
{
    return hex(key(ColumnType::Text, Variant::text(fromUtf8(utf8)), asc, order));
}

}  // namespace

TEST(IndexKeyText, GeneralLegacyExamplesFromAccessFiles)
{
    struct Case {
        const char* text;
        const char* key;
    } cases[] = {
        {"a", "7f 4a 01 00"},
        {"A", "7f 4a 01 00"},
        {"b", "7f 4c 01 00"},
        {"hijklmnop", "7f 57 59 5b 5c 5e 60 62 64 66 01 00"},
        {"ääkkösiä", "7f 4a 4a 5c 5c 64 6b 59 4a 01 13 13 02 02 13 02 02 13 00"},
        {"it's", "7f 59 6d 6b 01 01 01 01 80 0f 06 80 00"},
        {"a  ", "7f 4a 01 00"},  // trailing spaces do not count
        {"", "7f 01 00"},
        {"ışık", "7f 59 6b 59 5c 01 03 1c 03 00"},
        {"Işık", "7f 59 6b 59 5c 01 02 1c 03 00"},
    };
    for (const auto& c : cases) EXPECT_EQ(textKey(c.text), c.key) << c.text;
}

TEST(IndexKeyText, DescendingFlipsTheBody)
{
    EXPECT_EQ(textKey("a", kGeneralLegacySortOrder, false), "80 b5 fe ff 00");
}

TEST(IndexKeyText, OnlyTheFirst255CodeUnitsCount)
{
    const std::u16string longA(300, u'a');
    const std::u16string exactA(255, u'a');
    EXPECT_EQ(key(ColumnType::Text, Variant::text(longA)), key(ColumnType::Text, Variant::text(exactA)));
    // Spaces are stripped after the cut.
    std::u16string spaced(254, u'a');
    spaced += u"  b";
    EXPECT_EQ(key(ColumnType::Memo, Variant::text(spaced)), key(ColumnType::Memo, Variant::text(std::u16string(254, u'a'))));
}

TEST(IndexKeyText, TurkishLettersInBothCases)
{
    struct Case {
        const char* letters;  // both cases share one key
        const char* key;
    } cases[] = {
        {"ç", "7f 4e 03 01 00"}, {"Ç", "7f 4e 03 01 00"}, {"ğ", "7f 56 02 01 00"}, {"Ğ", "7f 56 02 01 00"},
        {"ı", "7f 58 06 01 00"}, {"I", "7f 58 06 01 00"}, {"i", "7f 59 01 00"},    {"İ", "7f 59 01 00"},
        {"ö", "7f 65 02 01 00"}, {"Ö", "7f 65 02 01 00"}, {"ş", "7f 6c 07 01 00"}, {"Ş", "7f 6c 07 01 00"},
        {"ü", "7f 70 03 01 00"}, {"Ü", "7f 70 03 01 00"}, {"Ĳ", "7f 58 06 5b 01 00"}, {"ĳ", "7f 59 5b 01 00"},
        {"şık", "7f 6c 07 58 06 5c 01 00"}, {"ŞIK", "7f 6c 07 58 06 5c 01 00"},
        // Keys Access wrote (hospital-appointments.mdb, doctor names).
        {"Metin Koş", "7f 60 51 6d 59 62 07 5c 64 6c 07 01 00"},
        {"Hızır Gök", "7f 57 58 06 78 58 06 69 07 55 65 02 5c 01 00"},
        {"Nazan Akça", "7f 62 4a 78 4a 62 07 4a 5c 4e 03 4a 01 00"},
        {"Selim Ürer", "7f 6b 51 5e 59 60 07 70 03 69 51 69 01 00"},
        // Accents of other letters still go to the accent part.
        {"Çé", "7f 4e 03 51 01 02 0e 00"},
    };
    for (const auto& c : cases) EXPECT_EQ(textKey(c.letters, kTurkishSortOrder), c.key) << c.letters;
}

TEST(IndexKeyText, TurkishAlphabetOrder)
{
    const char* alphabet[] = {"a", "b", "c", "ç", "d", "e", "f", "g", "ğ", "h", "ı", "i", "j", "k", "l",
                              "m", "n", "o", "ö", "p", "r", "s", "ş", "t", "u", "ü", "v", "y", "z"};
    std::vector<uint8_t> previous;
    for (const char* letter : alphabet) {
        auto k = key(ColumnType::Text, Variant::text(fromUtf8(letter)), true, kTurkishSortOrder);
        EXPECT_LT(previous, k) << letter;
        previous = k;
    }
}

TEST(IndexKeyText, GeneralVersion1TableIsWired)
{
    // Plain letters share codes with the legacy table.
    EXPECT_EQ(textKey("a", kGeneralSortOrder).substr(0, 2), "7f");
    auto r = SortOrder::find(kGeneralSortOrder);
    ASSERT_TRUE(r.isOk());
    EXPECT_EQ((*r)->name(), "General");
}

TEST(IndexKeyText, UnknownSortOrderIsRefusedNamingIt)
{
    std::vector<uint8_t> out;
    IndexKeyColumn c{ColumnType::Text, true, SortOrderId{0x0407, 0}};
    const Status s = appendIndexKey(c, Variant::text(u"x"), out);
    EXPECT_EQ(s.code(), ErrorCode::NotSupported);
    EXPECT_NE(s.message().find("0x0407/0"), std::string::npos) << s.message();
    EXPECT_TRUE(out.empty());
}

TEST(IndexKeyText, SortOrderFromDescriptorBytes)
{
    const uint8_t turkish[] = {0x1F, 0x04, 0x00, 0x00};
    auto id = sortOrderFromDescriptor(turkish);
    ASSERT_TRUE(id.isOk());
    EXPECT_EQ(*id, kTurkishSortOrder);
    const uint8_t general[] = {0x09, 0x04, 0x00, 0x01};
    EXPECT_EQ(*sortOrderFromDescriptor(general), kGeneralSortOrder);
    EXPECT_FALSE(sortOrderFromDescriptor(std::span(general, 3)).isOk());
}

TEST(IndexKeyText, SurrogatePairsAreComputed)
{
    // U+1F600 = D83D DE00; high d83d - 10238 = b03f; low de00: (de00-dc00)%1024 = 512 -> k 9988 -> b4fc.
    EXPECT_EQ(hex(key(ColumnType::Text, Variant::text(u"\U0001F600"))), "7f b0 3f b6 fc 01 3f 3f 00");
}

TEST(IndexKeyFixed, EncodingsByType)
{
    struct Case {
        ColumnType type;
        Variant value;
        const char* asc;
        const char* desc;
    } cases[] = {
        {ColumnType::Byte, Variant::byte(0x12), "7f 12", "80 ed"},
        {ColumnType::Integer, Variant::integer(1), "7f 80 01", "80 7f fe"},
        {ColumnType::Integer, Variant::integer(-1), "7f 7f ff", "80 80 00"},
        {ColumnType::Long, Variant::longValue(19), "7f 80 00 00 13", "80 7f ff ff ec"},
        {ColumnType::Long, Variant::longValue(INT32_MIN), "7f 00 00 00 00", "80 ff ff ff ff"},
        {ColumnType::Currency, Variant::currency({10000}), "7f 80 00 00 00 00 00 27 10", "80 7f ff ff ff ff ff d8 ef"},
        {ColumnType::Single, Variant::single(1.0f), "7f bf 80 00 00", "80 40 7f ff ff"},
        {ColumnType::Single, Variant::single(-1.0f), "7f 40 7f ff ff", "80 bf 80 00 00"},
        {ColumnType::Double, Variant::doubleValue(0.0), "7f 80 00 00 00 00 00 00 00", "80 7f ff ff ff ff ff ff ff"},
        {ColumnType::DateTime, Variant::date(36526.0), "7f c0 e1 d5 c0 00 00 00 00", "80 3f 1e 2a 3f ff ff ff ff"},
        {ColumnType::Boolean, Variant::boolean(true), "7f 00", "80 ff"},
        {ColumnType::Boolean, Variant::boolean(false), "7f ff", "80 00"},
        {ColumnType::Boolean, Variant::null(), "7f ff", "80 00"},
        {ColumnType::Binary, Variant::binary({1, 2, 3}), "7f 01 02 03 00 00 00 00 00 03", "80 fe fd fc ff ff ff ff ff fc"},
        {ColumnType::Binary, Variant::binary({1, 2, 3, 4, 5, 6, 7, 8, 9}),
         "7f 01 02 03 04 05 06 07 08 09 09 00 00 00 00 00 00 00 01",
         "80 fe fd fc fb fa f9 f8 f7 09 f6 ff ff ff ff ff ff ff fe"},
        {ColumnType::Guid,
         Variant::guid({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}),
         "7f 00 11 22 33 44 55 66 77 09 88 99 aa bb cc dd ee ff 08",
         "80 ff ee dd cc bb aa 99 88 09 77 66 55 44 33 22 11 00 f7"},
        {ColumnType::Numeric, Variant::decimal({false, 5, 0, 18}),
         "7f ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05",
         "80 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff fa"},
        {ColumnType::Numeric, Variant::decimal({true, 5, 0, 18}),
         "7f 00 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff fa",
         "80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 05"},
        {ColumnType::Long, Variant::null(), "00", "ff"},
        {ColumnType::Text, Variant::null(), "00", "ff"},
        {ColumnType::Guid, Variant::null(), "00", "ff"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(key(c.type, c.value, true)), c.asc) << c.value.debugString();
        EXPECT_EQ(hex(key(c.type, c.value, false)), c.desc) << c.value.debugString();
    }
}

TEST(IndexKeyFixed, RefusalsWriteNothing)
{
    struct Case {
        IndexKeyColumn column;
        Variant value;
        ErrorCode code;
    } cases[] = {
        {{ColumnType::Long}, Variant::text(u"5"), ErrorCode::TypeMismatch},
        {{ColumnType::OLE}, Variant::binary({1}), ErrorCode::NotSupported},
        {{ColumnType::Binary}, Variant::binary({}), ErrorCode::NotSupported},
        {{ColumnType::Numeric, true, kGeneralLegacySortOrder, 0}, Variant::decimal({false, 15, 1, 18}),
         ErrorCode::InvalidArgument},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out{0xAA};
        const Status s = appendIndexKey(c.column, c.value, out);
        EXPECT_EQ(s.code(), c.code) << c.value.debugString();
        EXPECT_EQ(out, std::vector<uint8_t>{0xAA});
    }
}

TEST(IndexKeyFixed, DecimalIsRescaledToTheColumn)
{
    IndexKeyColumn c{ColumnType::Numeric, true, kGeneralLegacySortOrder, 2};
    std::vector<uint8_t> a, b;
    ASSERT_TRUE(appendIndexKey(c, Variant::decimal({false, 15, 1, 18}), a).isOk());   // 1.5
    ASSERT_TRUE(appendIndexKey(c, Variant::decimal({false, 150, 2, 18}), b).isOk());  // 1.50
    EXPECT_EQ(a, b);
}

TEST(IndexKeyFixed, CompositeKeyIsTheConcatenation)
{
    const IndexKeyColumn cols[] = {{ColumnType::Long, true}, {ColumnType::Text, false}, {ColumnType::Byte, true}};
    const Variant vals[] = {Variant::longValue(1), Variant::text(u"a"), Variant::null()};
    auto k = encodeIndexKey(cols, vals);
    ASSERT_TRUE(k.isOk());
    EXPECT_EQ(hex(*k), "7f 80 00 00 01 80 b5 fe ff 00 00");
    EXPECT_FALSE(encodeIndexKey(cols, std::span(vals, 2)).isOk());
    EXPECT_FALSE(isAllNullKey(*k));
    const uint8_t nulls[] = {0x00, 0xFF, 0x00};
    EXPECT_TRUE(isAllNullKey(nulls));
}

// Byte order of keys equals value order, ascending and (reversed) descending.
TEST(IndexKeyFixed, ByteOrderFollowsValueOrder)
{
    std::mt19937_64 rng(20261207);
    auto check = [&](ColumnType type, auto make, auto draw) {
        for (int i = 0; i < 3000; ++i) {
            auto a = draw(), b = draw();
            if (a > b) std::swap(a, b);
            const Variant va = make(a), vb = make(b);
            for (bool asc : {true, false}) {
                const auto ka = key(type, va, asc), kb = key(type, vb, asc);
                if (a == b) {
                    EXPECT_EQ(ka, kb);
                } else if (asc) {
                    EXPECT_LT(ka, kb) << va.debugString() << " " << vb.debugString();
                } else {
                    EXPECT_GT(ka, kb) << va.debugString() << " " << vb.debugString();
                }
            }
        }
    };
    check(ColumnType::Integer, [](int16_t v) { return Variant::integer(v); }, [&] { return int16_t(rng()); });
    check(ColumnType::Long, [](int32_t v) { return Variant::longValue(v); }, [&] { return int32_t(rng()); });
    check(ColumnType::Currency, [](int64_t v) { return Variant::currency({v}); }, [&] { return int64_t(rng()); });
    check(ColumnType::Byte, [](uint8_t v) { return Variant::byte(v); }, [&] { return uint8_t(rng()); });
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    check(ColumnType::Double, [](double v) { return Variant::doubleValue(v); }, [&] { return wide(rng); });
    check(ColumnType::DateTime, [](double v) { return Variant::date(v); }, [&] { return wide(rng); });
    check(ColumnType::Single, [](float v) { return Variant::single(v); }, [&] { return float(wide(rng)); });
    // Decimal keeps order within one sign (descending keys put negatives
    // first, as Jet's own legacy ordering does).
    auto decimal = [](int64_t v) { return Variant::decimal({v < 0, (unsigned __int128)(v < 0 ? -v : v), 0, 18}); };
    check(ColumnType::Numeric, decimal, [&] { return int64_t(rng() >> 2); });
    check(ColumnType::Numeric, decimal, [&] { return -int64_t(rng() >> 2) - 1; });
}

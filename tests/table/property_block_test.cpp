// Property blocks (LvProp) and the default values read from them: against
// mdb-prop on every Access-made fixture, written and read back, damaged at
// every byte, and each form of DefaultValue Access stores.

#include "db/jet/column_defaults.h"
#include "db/jet/database.h"
#include "db/jet/table/property_block.h"
#include "db/jet/table/table_def.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace varnika::jet {
namespace {

TEST(PropertyBlock, DefaultValuesMatchMdbPropOnEveryFixture)
{
    VK_REQUIRE_FIXTURES(dir);
    if (!test::haveProgram("mdb-prop")) GTEST_SKIP() << "mdbtools not installed";
    size_t tables = 0, defaults = 0;
    for (const char* sub : {"jet4", "turkish"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            auto db = Database::open(file.string(), OpenMode::ReadOnly);
            ASSERT_TRUE(db.isOk()) << file;
            for (const CatalogEntry& table : (*db)->catalog().tables()) {
                SCOPED_TRACE(file.filename().string() + " " + toUtf8(table.name));
                auto block = readTableProperties(**db, table.name);
                ASSERT_TRUE(block.isOk()) << block.status().toString();
                std::map<std::string, std::string> ours;
                for (const auto& [column, text] : defaultValueTexts(*block)) ours[toUtf8(column)] = toUtf8(text);
                // mdb-prop lists "name: COLUMN" then "\tDefaultValue: TEXT".
                std::map<std::string, std::string> theirs;
                std::istringstream in(test::runCommand({"mdb-prop", file.string(), toUtf8(table.name)}).out);
                std::string line, column;
                while (std::getline(in, line)) {
                    if (line.rfind("name: ", 0) == 0) column = line.substr(6);
                    else if (line.rfind("\tDefaultValue: ", 0) == 0) theirs[column] = line.substr(15);
                }
                EXPECT_EQ(ours, theirs);
                ++tables;
                defaults += ours.size();
            }
        }
    }
    EXPECT_GT(tables, 60u);
    EXPECT_GT(defaults, 40u);
}

PropertyBlock sampleBlock()
{
    Guid g{};
    for (size_t i = 0; i < g.size(); ++i) g[i] = uint8_t(i * 7);
    PropertyBlock b;
    b.sets.push_back({u"", {{u"Orientation", uint8_t(ColumnType::Integer), true, Variant::integer(0)}}});
    b.sets.push_back({u"Ünvan",
                      {{u"DefaultValue", uint8_t(ColumnType::Memo), true, Variant::text(u"\"Memur\"")},
                       {u"Required", uint8_t(ColumnType::Boolean), true, Variant::boolean(true)},
                       {u"ColumnWidth", uint8_t(ColumnType::Long), false, Variant::longValue(-1)},
                       {u"Caption", uint8_t(ColumnType::Text), true, Variant::text(u"Ünvanı")}}});
    b.sets.push_back({u"Tarih",
                      {{u"Min", uint8_t(ColumnType::DateTime), true, Variant::date(40000.5)},
                       {u"Rate", uint8_t(ColumnType::Double), true, Variant::doubleValue(-2.25)},
                       {u"Cost", uint8_t(ColumnType::Currency), true, Variant::currency(Currency{123456})},
                       {u"Small", uint8_t(ColumnType::Single), true, Variant::single(1.5f)},
                       {u"Byte", uint8_t(ColumnType::Byte), true, Variant::byte(200)},
                       {u"Id", uint8_t(ColumnType::Guid), true, Variant::guid(g)},
                       {u"Blob", uint8_t(ColumnType::Binary), true, Variant::binary({1, 2, 3})}}});
    return b;
}

TEST(PropertyBlock, WrittenBlocksReadBackWhole)
{
    const PropertyBlock block = sampleBlock();
    auto bytes = buildPropertyBlock(block);
    ASSERT_TRUE(bytes.isOk());
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 4), std::string("MR2\0", 4));
    auto read = parsePropertyBlock(*bytes);
    ASSERT_TRUE(read.isOk()) << read.status().toString();
    ASSERT_EQ(read->sets.size(), block.sets.size());
    for (size_t s = 0; s < block.sets.size(); ++s) {
        EXPECT_EQ(read->sets[s].objectName, block.sets[s].objectName);
        ASSERT_EQ(read->sets[s].properties.size(), block.sets[s].properties.size());
        for (size_t p = 0; p < block.sets[s].properties.size(); ++p) {
            const Property& a = block.sets[s].properties[p];
            const Property& b = read->sets[s].properties[p];
            EXPECT_EQ(b.name, a.name);
            EXPECT_EQ(b.typeCode, a.typeCode);
            EXPECT_EQ(b.ddl, a.ddl);
            EXPECT_EQ(b.value, a.value) << toUtf8(a.name);
        }
    }
    EXPECT_EQ(read->find(u"ünvan"), &read->sets[1]);
    EXPECT_EQ(read->sets[1].find(u"required")->value, Variant::boolean(true));
    EXPECT_TRUE(parsePropertyBlock({}).isOk());
}

TEST(PropertyBlock, DamageIsACorruptionNeverACrash)
{
    auto built = buildPropertyBlock(sampleBlock());
    ASSERT_TRUE(built.isOk());
    const std::vector<uint8_t> good = *built;
    size_t refused = 0;
    for (size_t n = 1; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        auto r = parsePropertyBlock(cut);
        if (!r.isOk()) {
            EXPECT_EQ(r.status().code(), ErrorCode::Corruption) << n;
            ++refused;
        }
    }
    EXPECT_GT(refused, good.size() / 2);
    for (size_t i = 0; i < good.size(); ++i) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(good[i] ^ 0x40)}) {
            std::vector<uint8_t> bad = good;
            bad[i] = v;
            auto r = parsePropertyBlock(bad);  // ASan and UBSan watch this
            if (!r.isOk()) {
                EXPECT_NE(r.status().message(), "");
            }
        }
    }
}

TEST(PropertyBlock, Access97BlocksKeepTheirTextInTheCodePage)
{
    // An Access 97 block ("KKD\0") has the chunks of a Jet 4 one, its names
    // and text one byte a character.
    JetFormat jet3 = JetFormat::jet3();
    jet3.codePage = 1254;
    PropertyBlock block;
    block.sets.push_back({u"", {{u"Description", uint8_t(ColumnType::Memo), true, Variant::text(u"\u015eube listesi")}}});
    block.sets.push_back({u"\u00dcnvan", {{u"DefaultValue", uint8_t(ColumnType::Memo), true, Variant::text(u"\"\u0130\u011fne\"")},
                                          {u"Required", uint8_t(ColumnType::Boolean), true, Variant::boolean(true)}}});
    auto bytes = buildPropertyBlock(block, jet3);
    ASSERT_TRUE(bytes.isOk()) << bytes.status().toString();
    ASSERT_GE(bytes->size(), 4u);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 3), "KKD");
    // "Şube listesi": one byte a character, Ş as 0xDE.
    const std::vector<uint8_t> text = {0xDE, 'u', 'b', 'e'};
    EXPECT_NE(std::search(bytes->begin(), bytes->end(), text.begin(), text.end()), bytes->end());
    auto parsed = parsePropertyBlock(*bytes, 1254);
    ASSERT_TRUE(parsed.isOk()) << parsed.status().toString();
    ASSERT_EQ(parsed->sets.size(), 2u);
    EXPECT_EQ(parsed->sets[1].objectName, u"\u00dcnvan");
    EXPECT_EQ(parsed->sets[1].find(u"DefaultValue")->value, Variant::text(u"\"\u0130\u011fne\""));
    EXPECT_EQ(parsed->sets[0].find(u"Description")->value, Variant::text(u"\u015eube listesi"));
    // A character the code page cannot hold is refused when the block is made.
    block.sets[0].properties[0].value = Variant::text(u"\u65e5");
    EXPECT_EQ(buildPropertyBlock(block, jet3).status().code(), ErrorCode::InvalidArgument);
}

ColumnDef column(ColumnType type, int chars = 0, uint8_t flags = tdef::kColFlagNullable)
{
    ColumnDef c;
    c.name = u"Alan";
    c.typeCode = uint8_t(type);
    c.length = uint16_t(type == ColumnType::Text ? 2 * chars : 0);
    c.flags = flags;
    return c;
}

TEST(ColumnDefaults, EachFormAccessStoresGivesItsValue)
{
    const double now = 45000.75;  // 2023-03-15 18:00
    const RegionalSettings us = RegionalSettings::unitedStates();
    struct Case {
        const char16_t* text;
        ColumnDef column;
        std::optional<Variant> value;  // nothing: the writer numbers the field
    };
    const Case cases[] = {
        {u"0", column(ColumnType::Long), Variant::longValue(0)},
        {u"0", column(ColumnType::Boolean), Variant::boolean(false)},
        {u"No", column(ColumnType::Boolean), Variant::boolean(false)},
        {u" yes ", column(ColumnType::Boolean), Variant::boolean(true)},
        {u"\"Memur\"", column(ColumnType::Text, 20), Variant::text(u"Memur")},
        {u"'O''N'", column(ColumnType::Text, 20), Variant::text(u"O'N")},
        {u"\"say \"\"hi\"\"\"", column(ColumnType::Memo), Variant::text(u"say \"hi\"")},
        {u"-1.5", column(ColumnType::Double), Variant::doubleValue(-1.5)},
        {u"7", column(ColumnType::Currency), Variant::currency(Currency{70000})},
        {u"#1/2/2003#", column(ColumnType::DateTime), Variant::date(37623)},
        {u"=Date()", column(ColumnType::DateTime), Variant::date(45000)},
        {u"Now ( )", column(ColumnType::DateTime), Variant::date(now)},
        {u"Time()", column(ColumnType::DateTime), Variant::date(0.75)},
        {u"Null", column(ColumnType::Text, 5), Variant()},
        {u"GenGUID()", column(ColumnType::Guid, 0, tdef::kColFlagNullable | tdef::kColFlagAutoGuid), std::nullopt},
        {u"   ", column(ColumnType::Long), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        auto v = evaluateDefaultValue(c.text, c.column, now, us);
        ASSERT_TRUE(v.isOk()) << v.status().toString();
        EXPECT_EQ(*v, c.value);
    }
    auto guid = evaluateDefaultValue(u"GenGUID()", column(ColumnType::Guid), now, us);
    ASSERT_TRUE(guid.isOk() && *guid);
    EXPECT_EQ((*guid)->type(), VariantType::Guid);
    EXPECT_NE(**guid, **evaluateDefaultValue(u"GenGUID()", column(ColumnType::Guid), now, us));

    const std::pair<const char16_t*, ErrorCode> refused[] = {
        {u"[Preis]*2", ErrorCode::NotSupported},
        {u"Format(Now(),\"yyyy\")", ErrorCode::NotSupported},
        {u"'abc'", ErrorCode::TypeMismatch},
        {u"'abcdef'", ErrorCode::InvalidArgument},  // longer than the field's 3 characters
        {u"#13/45/2003#", ErrorCode::TypeMismatch},
    };
    for (const auto& [text, code] : refused) {
        SCOPED_TRACE(toUtf8(text));
        const ColumnDef c = std::u16string_view(text) == u"'abcdef'" ? column(ColumnType::Text, 3)
                          : text[0] == u'#'                            ? column(ColumnType::DateTime)
                                                                        : column(ColumnType::Long);
        auto v = evaluateDefaultValue(text, c, now, us);
        ASSERT_FALSE(v.isOk());
        EXPECT_NE(v.status().message().find("\"Alan\""), std::string::npos) << v.status().message();
        if (code != ErrorCode::TypeMismatch) {
            EXPECT_EQ(v.status().code(), code);
        }
    }
}

}  // namespace
}  // namespace varnika::jet

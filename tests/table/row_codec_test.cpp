#include "db/jet/table/row_codec.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/text.h"
#include "db/jet/file/page_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace varnika::jet {
namespace {

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Hands back the field bytes themselves, so rows can be compared without
// following long-value pointers.
class FieldEcho : public LongValueSource {
public:
    Result<std::vector<uint8_t>> readLongValue(std::span<const uint8_t> field) override
    {
        return std::vector<uint8_t>(field.begin(), field.end());
    }
};

// Bytes of the example row of testV2000.mdb Table1 (page 27, offset 0xFB8).
TEST(RowCodecFixtures, DecodesTheAnnotatedRow)
{
    VK_REQUIRE_FIXTURES(dir);
    Pager pager(std::make_unique<MemoryPageFile>(fileBytes(dir / "jet4" / "testV2000.mdb")));
    auto def = TableDef::read(pager, 24);
    ASSERT_TRUE(def.isOk());
    auto row = readRowAt(pager, RowPointer{27, 0});
    ASSERT_TRUE(row.isOk()) << row.status().toString();
    auto values = decodeRow(*def, row->bytes(), nullptr);
    ASSERT_TRUE(values.isOk()) << values.status().toString();
    auto value = [&](const char16_t* name) { return (*values)[size_t(def->findColumn(name))]; };
    EXPECT_EQ(value(u"A"), Variant::text(u"abcdefg"));
    EXPECT_EQ(value(u"B"), Variant::text(u"hijklmnop"));
    EXPECT_EQ(value(u"C"), Variant::byte(2));
    EXPECT_EQ(value(u"D"), Variant::integer(222));
    EXPECT_EQ(value(u"E"), Variant::longValue(333333333));
    EXPECT_EQ(value(u"F"), Variant::doubleValue(444.555));
    EXPECT_EQ(value(u"H"), Variant::currency(Currency{35000}));
    EXPECT_EQ(value(u"G").type(), VariantType::Date);
}

// Every base row of every user table: decode, encode in the canonical
// layout, decode again, and get the same values.
TEST(RowCodecFixtures, EncodeRoundTripsEveryRow)
{
    VK_REQUIRE_FIXTURES(dir);
    FieldEcho echo;
    size_t rows = 0, files = 0;
    for (const char* sub : {"jet4", "turkish", "odd"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            Pager pager(std::make_unique<MemoryPageFile>(fileBytes(file)));
            std::map<uint32_t, TableDef> defs;
            for (uint32_t p = 1; p < pager.pageCount(); ++p) {
                auto page = pager.read(p);
                ASSERT_TRUE(page.isOk());
                if ((**page)[page::kType] != uint8_t(PageType::Data)) continue;
                auto view = DataPageView::parse(*page, p);
                if (!view.isOk()) continue;
                uint32_t owner = view->owner();
                if (owner == 0 || owner >= pager.pageCount()) continue;
                if (!defs.count(owner)) {
                    auto def = TableDef::read(pager, owner);
                    if (!def.isOk()) continue;
                    defs.emplace(owner, std::move(def).value());
                }
                const TableDef& def = defs.at(owner);
                for (int s = 0; s < view->slotCount(); ++s) {
                    const Slot& slot = view->slot(s);
                    if (slot.flags != 0) continue;
                    auto bytes = view->rowBytes(s);
                    auto layout = parseRowLayout(def, bytes);
                    ASSERT_TRUE(layout.isOk()) << file << " page " << p << " row " << s;
                    auto original = decodeRow(def, bytes, &echo);
                    ASSERT_TRUE(original.isOk()) << file << " page " << p << " row " << s << ": "
                                                 << original.status().toString();
                    std::vector<Variant> input = *original;
                    for (size_t c = 0; c < def.columns().size(); ++c) {
                        if (!isLongValueType(def.columns()[c].type())) continue;
                        auto f = fieldBytes(def, *layout, bytes, int(c));
                        ASSERT_TRUE(f.isOk());
                        input[c] = f->present && !f->bytes.empty()
                                       ? Variant::binary({f->bytes.begin(), f->bytes.end()})
                                       : Variant();
                    }
                    auto encoded = encodeRow(def, input);
                    ASSERT_TRUE(encoded.isOk()) << file << " page " << p << " row " << s << ": "
                                                << encoded.status().toString();
                    auto again = decodeRow(def, *encoded, &echo);
                    ASSERT_TRUE(again.isOk()) << again.status().toString();
                    EXPECT_EQ(*again, *original) << file << " page " << p << " row " << s;
                    ++rows;
                }
            }
            ++files;
        }
    }
    EXPECT_GT(rows, 1000u);
    EXPECT_GT(files, 30u);
}

struct TableShape {
    bool numbersVariable = false;  // numbers, dates and GUIDs stored as variable-length values
    bool reservedFirstVarSlot = false;  // a deleted column's slot before every live variable column
    size_t extraTexts = 0;  // text columns after the one of every type
};

// A table built in memory: one column of every type.
TableDef everyTypeTable(TableShape shape = {})
{
    struct Col { ColumnType type; uint16_t length; uint8_t flags; };
    const std::vector<Col> base = {
        {ColumnType::Boolean, 1, 0x03},  {ColumnType::Byte, 1, 0x03},     {ColumnType::Integer, 2, 0x03},
        {ColumnType::Long, 4, 0x03},     {ColumnType::Currency, 8, 0x03}, {ColumnType::Single, 4, 0x03},
        {ColumnType::Double, 8, 0x03},   {ColumnType::DateTime, 8, 0x03}, {ColumnType::Guid, 16, 0x03},
        {ColumnType::Numeric, 17, 0x03}, {ColumnType::Text, 20, 0x02},    {ColumnType::Binary, 8, 0x02},
        {ColumnType::Memo, 0, 0x02},     {ColumnType::OLE, 0, 0x02},
    };
    std::vector<Col> cols = base;
    cols.insert(cols.end(), shape.extraTexts, Col{ColumnType::Text, 10, 0x02});
    std::vector<uint8_t> buf(tdef::kVariablePart, 0);
    uint16_t fixedOffset = 0, varIndex = shape.reservedFirstVarSlot ? 1 : 0;
    std::vector<uint8_t> descriptors, names;
    for (size_t i = 0; i < cols.size(); ++i) {
        std::array<uint8_t, tdef::kColumnSize> d{};
        d[tdef::kColType] = uint8_t(cols[i].type);
        putU32(d.data(), tdef::kColConstant, tdef::kConstantValue);
        putU16(d.data(), tdef::kColNumber, uint16_t(i));
        putU16(d.data(), tdef::kColOrdinal, uint16_t(i));
        d[tdef::kColFlags] = cols[i].flags;
        if (shape.numbersVariable && fixedSize(cols[i].type) > 0) d[tdef::kColFlags] &= uint8_t(~tdef::kColFlagFixed);
        if (cols[i].type == ColumnType::Numeric) { d[tdef::kColTypeSpecific] = 28; d[tdef::kColTypeSpecific + 1] = 2; }
        if (cols[i].type == ColumnType::Text || cols[i].type == ColumnType::Memo) d[tdef::kColExtraFlags] = 1;
        if (d[tdef::kColFlags] & tdef::kColFlagFixed) {
            if (cols[i].type != ColumnType::Boolean) {
                putU16(d.data(), tdef::kColFixedOffset, fixedOffset);
                fixedOffset = uint16_t(fixedOffset + cols[i].length);
            }
        } else {
            putU16(d.data(), tdef::kColVarIndex, varIndex++);
        }
        putU16(d.data(), tdef::kColLength, cols[i].length);
        descriptors.insert(descriptors.end(), d.begin(), d.end());
        std::u16string name = u"c" + std::u16string(1, char16_t(u'a' + i % 26)) + (i < 26 ? u"" : u"x" + std::u16string(1, char16_t(u'a' + i / 26)));
        names.push_back(uint8_t(name.size() * 2));
        names.push_back(0);
        for (char16_t ch : name) { names.push_back(uint8_t(ch)); names.push_back(0); }
    }
    buf[page::kType] = uint8_t(PageType::TableDefinition);
    buf[tdef::kTableType] = tdef::kTableTypeUser;
    putU16(buf.data(), tdef::kMaxColumns, uint16_t(cols.size() + (shape.reservedFirstVarSlot ? 1 : 0)));
    putU16(buf.data(), tdef::kVarColumnCount, varIndex);
    putU16(buf.data(), tdef::kColumnCount, uint16_t(cols.size()));
    buf.insert(buf.end(), descriptors.begin(), descriptors.end());
    buf.insert(buf.end(), names.begin(), names.end());
    buf.push_back(0xFF);
    buf.push_back(0xFF);
    putU32(buf.data(), tdef::kLength, uint32_t(buf.size()));
    auto def = TableDef::parse(buf, {9});
    EXPECT_TRUE(def.isOk()) << def.status().toString();
    return std::move(def).value();
}

TEST(RowCodec, EncodesAndDecodesEveryType)
{
    TableDef def = everyTypeTable();
    Guid g{};
    for (size_t i = 0; i < g.size(); ++i) g[i] = uint8_t(i * 7);
    Decimal dec;
    dec.negative = true;
    dec.magnitude = (static_cast<unsigned __int128>(1) << 90) + 12345;
    dec.scale = 2;
    auto memo = encodeInlineLongValue(*memoBytes(def.columns()[12], u"not\u015f"));
    ASSERT_TRUE(memo.isOk());
    auto ole = encodeInlineLongValue(std::vector<uint8_t>{1, 2, 3});
    ASSERT_TRUE(ole.isOk());
    std::vector<Variant> values = {
        Variant::boolean(true), Variant::byte(200), Variant::integer(-2), Variant::longValue(-70000),
        Variant::currency({-123456789}), Variant::single(1.5f), Variant::doubleValue(-0.25), Variant::date(-1.25),
        Variant::guid(g), Variant::decimal(dec), Variant::text(u"\u00c7\u00f6p"), Variant::binary({9, 8, 7}),
        Variant::binary(*memo), Variant::binary(*ole),
    };
    auto row = encodeRow(def, values);
    ASSERT_TRUE(row.isOk()) << row.status().toString();
    auto back = decodeRow(def, *row, nullptr);
    ASSERT_TRUE(back.isOk()) << back.status().toString();
    std::vector<Variant> expected = values;
    dec.precision = 28;
    expected[9] = Variant::decimal(dec);
    expected[12] = Variant::text(u"not\u015f");
    expected[13] = Variant::binary({1, 2, 3});
    EXPECT_EQ(*back, expected);

    // All null: Boolean reads False, everything else Null.
    std::vector<Variant> nulls(values.size());
    row = encodeRow(def, nulls);
    ASSERT_TRUE(row.isOk());
    back = decodeRow(def, *row, nullptr);
    ASSERT_TRUE(back.isOk());
    EXPECT_EQ((*back)[0], Variant::boolean(false));
    for (size_t i = 1; i < back->size(); ++i) EXPECT_TRUE((*back)[i].isNull()) << i;
}

TEST(RowCodec, RowsOfManyVariableColumns)
{
    // Around the number of offsets a parsed row holds in place, and far past it.
    for (size_t extra : {size_t(26), size_t(27), size_t(28), size_t(80)}) {
        TableDef def = everyTypeTable({.extraTexts = extra});
        std::vector<Variant> values(def.columns().size());
        for (size_t c = 14; c < values.size(); ++c)
            if (c % 7 != 3) values[c] = Variant::text(u"v" + toU16(std::to_string(c)));
        auto row = encodeRow(def, values);
        ASSERT_TRUE(row.isOk()) << row.status().toString();
        auto back = decodeRow(def, *row, nullptr);
        ASSERT_TRUE(back.isOk()) << extra << ": " << back.status().toString();
        values[0] = Variant::boolean(false);
        EXPECT_EQ(*back, values) << extra;

        // A layout kept and copied reads the same fields.
        auto layout = parseRowLayout(def, *row);
        ASSERT_TRUE(layout.isOk());
        EXPECT_EQ(layout->varOffsets.size(), size_t(def.varColumnCount()) + 1) << extra;
        const RowLayout copy = *layout;
        RowLayout moved = std::move(*layout);
        for (size_t c = 14; c < values.size(); ++c) {
            auto a = decodeColumn(def, copy, *row, int(c), nullptr);
            auto b = decodeColumn(def, moved, *row, int(c), nullptr);
            ASSERT_TRUE(a.isOk() && b.isOk()) << extra << " column " << c;
            EXPECT_EQ(*a, values[c]) << extra << " column " << c;
            EXPECT_EQ(*b, values[c]) << extra << " column " << c;
        }
    }
}

TEST(RowCodec, RefusesValuesThatDoNotFit)
{
    TableDef def = everyTypeTable();
    std::vector<Variant> values(def.columns().size());
    unsigned __int128 tenToThe28 = 1;
    for (int i = 0; i < 28; ++i) tenToThe28 *= 10;
    struct Case { size_t column; Variant value; ErrorCode code; };
    const std::vector<Case> cases = {
        {1, Variant::integer(1), ErrorCode::TypeMismatch},
        {10, Variant::text(std::u16string(11, u'x')), ErrorCode::InvalidArgument},
        {11, Variant::binary(std::vector<uint8_t>(9, 1)), ErrorCode::InvalidArgument},
        {12, Variant::text(u"raw memo text"), ErrorCode::InvalidArgument},
        {9, Variant::decimal(Decimal{false, tenToThe28, 2, 28}), ErrorCode::InvalidArgument},  // 29 digits
        {0, Variant::longValue(1), ErrorCode::TypeMismatch},
    };
    for (const Case& c : cases) {
        auto v = values;
        v[c.column] = c.value;
        auto row = encodeRow(def, v);
        ASSERT_FALSE(row.isOk()) << c.column;
        EXPECT_EQ(row.status().code(), c.code) << row.status().toString();
    }
    EXPECT_FALSE(encodeRow(def, std::vector<Variant>(3)).isOk());
    EXPECT_FALSE(encodeInlineLongValue(std::vector<uint8_t>(65, 0)).isOk());
}

// Numeric values take the column's scale (here 2):
// more places are rounded half away from zero, fewer are filled in.
TEST(RowCodec, NumericValuesTakeTheColumnsScale)
{
    TableDef def = everyTypeTable();
    struct Case { bool negative; uint64_t magnitude; uint8_t scale; bool storedNegative; uint64_t stored; };
    const std::vector<Case> cases = {
        {false, 125, 1, false, 1250},   // 12.5 -> 12.50
        {false, 3755, 3, false, 376},   // 3.755 -> 3.76
        {false, 3754, 3, false, 375},   // 3.754 -> 3.75
        {true, 5, 3, true, 1},          // -0.005 -> -0.01
        {true, 4, 3, false, 0},         // -0.004 -> 0, never a negative zero
        {false, 7, 0, false, 700},      // 7 -> 7.00
    };
    for (const Case& c : cases) {
        std::vector<Variant> values(def.columns().size());
        values[9] = Variant::decimal(Decimal{c.negative, c.magnitude, c.scale, 18});
        auto row = encodeRow(def, values);
        ASSERT_TRUE(row.isOk()) << c.magnitude << ": " << row.status().toString();
        auto back = decodeRow(def, *row, nullptr);
        ASSERT_TRUE(back.isOk());
        const Decimal& d = (*back)[9].asDecimal();
        EXPECT_EQ(d.scale, 2) << c.magnitude;
        EXPECT_EQ(uint64_t(d.magnitude), c.stored) << c.magnitude;
        EXPECT_EQ(d.negative && d.magnitude != 0, c.storedNegative) << c.magnitude;
    }
}

// Access stores numbers, dates and GUIDs of some tables in the variable
// part, in the bytes of their fixed form: they read and write like the
// fixed ones, and a value of another length is damage.
TEST(RowCodec, NumbersStoredAsVariableLengthValues)
{
    TableDef fixed = everyTypeTable();
    TableDef def = everyTypeTable({.numbersVariable = true});
    EXPECT_EQ(def.fixedAreaSize(), 0u);
    Guid g{};
    g[3] = 0x44;
    const std::vector<Variant> values = {
        Variant::boolean(true), Variant::byte(200), Variant::integer(-2), Variant::longValue(-70000),
        Variant::currency({-123456789}), Variant::single(1.5f), Variant::doubleValue(-0.25), Variant::date(-1.25),
        Variant::guid(g), Variant::decimal(Decimal{true, 12345, 2, 28}), Variant::text(u"\u00c7\u00f6p"),
        Variant::binary({9, 8, 7}), Variant(), Variant(),
    };
    auto row = encodeRow(def, values);
    ASSERT_TRUE(row.isOk()) << row.status().toString();
    auto back = decodeRow(def, *row, nullptr);
    ASSERT_TRUE(back.isOk()) << back.status().toString();
    EXPECT_EQ(*back, values);
    // The same values as the fixed layout stores them, field by field.
    auto fixedRow = encodeRow(fixed, values);
    ASSERT_TRUE(fixedRow.isOk());
    auto layout = parseRowLayout(def, *row);
    auto fixedLayout = parseRowLayout(fixed, *fixedRow);
    ASSERT_TRUE(layout.isOk() && fixedLayout.isOk());
    for (int c = 1; c <= 9; ++c) {
        auto f = fieldBytes(def, *layout, *row, c);
        auto ff = fieldBytes(fixed, *fixedLayout, *fixedRow, c);
        ASSERT_TRUE(f.isOk() && ff.isOk() && f->present && ff->present) << c;
        EXPECT_TRUE(std::equal(f->bytes.begin(), f->bytes.end(), ff->bytes.begin(), ff->bytes.end())) << c;
    }

    // The Long column (variable slot 2) takes a byte of the Currency after it.
    const ColumnDef& longColumn = def.columns()[3];
    ASSERT_EQ(longColumn.type(), ColumnType::Long);
    std::vector<uint8_t> damaged = *row;
    const size_t entry = layout->maskOffset - 2 * sizeof(uint16_t) - sizeof(uint16_t) * (longColumn.varIndex + 1u);
    putU16(damaged.data(), entry, uint16_t(layout->varOffsets[longColumn.varIndex + 1u] + 1));
    auto bad = decodeRow(def, damaged, nullptr);
    ASSERT_FALSE(bad.isOk());
    EXPECT_EQ(bad.status().code(), ErrorCode::Corruption);
    EXPECT_NE(bad.status().message().find("LONG"), std::string::npos) << bad.status().message();
}

// A row changed in some columns keeps the others byte for byte: on a row
// this codec wrote, the result is the row encoded whole with the new values.
TEST(RowCodec, ChangedColumnsAloneAreEncodedTheRestKeptAsStored)
{
    Guid g{};
    g[5] = 0x5A;
    auto memo = encodeInlineLongValue(std::vector<uint8_t>{'n', 0, 'o', 0});
    ASSERT_TRUE(memo.isOk());
    const std::vector<Variant> values = {
        Variant::boolean(true), Variant::byte(7), Variant::integer(-2), Variant::longValue(123456),
        Variant::currency({55}), Variant::single(0.5f), Variant::doubleValue(3.25), Variant::date(40000.5),
        Variant::guid(g), Variant::decimal(Decimal{false, 31415, 2, 28}), Variant::text(u"Işık"), Variant(),
        Variant::binary(*memo), Variant(),
    };
    const std::vector<Variant> others = {
        Variant::boolean(false), Variant::byte(9), Variant(), Variant::longValue(-1),
        Variant::currency({-99}), Variant::single(2.0f), Variant(), Variant::date(1.25),
        Variant(), Variant::decimal(Decimal{true, 5, 2, 28}), Variant::text(u"başka şey"),
        Variant::binary({1, 2, 3, 4}), Variant(), Variant(),
    };
    for (TableShape shape : {TableShape{}, TableShape{.numbersVariable = true}, TableShape{.reservedFirstVarSlot = true}}) {
        TableDef def = everyTypeTable(shape);
        auto row = encodeRow(def, values);
        ASSERT_TRUE(row.isOk()) << row.status().toString();
        // Each column alone, then all but the long values at once.
        std::vector<std::pair<int, Variant>> all;
        for (int c = 0; c < 12; ++c) {
            all.emplace_back(c, others[size_t(c)]);
            std::vector<Variant> expected = values;
            expected[size_t(c)] = others[size_t(c)];
            auto whole = encodeRow(def, expected);
            auto changed = encodeRowChanged(def, *row, std::vector<std::pair<int, Variant>>{{c, others[size_t(c)]}});
            ASSERT_TRUE(whole.isOk() && changed.isOk()) << c << ": " << changed.status().toString();
            EXPECT_EQ(*changed, *whole) << "column " << c << ", variable numbers " << shape.numbersVariable;
        }
        std::vector<Variant> allChanged = others;
        allChanged[12] = values[12];
        auto whole = encodeRow(def, allChanged);
        auto changed = encodeRowChanged(def, *row, all);
        ASSERT_TRUE(whole.isOk() && changed.isOk()) << changed.status().toString();
        EXPECT_EQ(*changed, *whole);

        // A long value is not changed here; a value that does not fit is
        // refused as encodeRow refuses it.
        EXPECT_EQ(encodeRowChanged(def, *row, std::vector<std::pair<int, Variant>>{{12, Variant()}}).status().code(),
                  ErrorCode::InvalidArgument);
        EXPECT_EQ(encodeRowChanged(def, *row, std::vector<std::pair<int, Variant>>{{10, Variant::text(std::u16string(30, u'x'))}})
                      .status().code(),
                  ErrorCode::InvalidArgument);
    }

    // A row written before columns were added keeps them Null.
    TableDef def = everyTypeTable();
    std::vector<Variant> first(values.size());
    first[2] = Variant::integer(7);
    auto row = encodeRow(def, first);
    ASSERT_TRUE(row.isOk());
    std::vector<uint8_t> shortRow = *row;
    putU16(shortRow.data(), 0, 3);  // claims only columns 0..2
    shortRow.pop_back();               // and a mask of one byte
    auto changed = encodeRowChanged(def, shortRow, std::vector<std::pair<int, Variant>>{{1, Variant::byte(4)}});
    ASSERT_TRUE(changed.isOk()) << changed.status().toString();
    auto back = decodeRow(def, *changed, nullptr);
    ASSERT_TRUE(back.isOk());
    first[1] = Variant::byte(4);
    first[0] = Variant::boolean(false);
    EXPECT_EQ(*back, first);

    // A kept number of the wrong size is damage, not copied on.
    TableDef variable = everyTypeTable({.numbersVariable = true});
    row = encodeRow(variable, values);
    ASSERT_TRUE(row.isOk());
    auto layout = parseRowLayout(variable, *row);
    ASSERT_TRUE(layout.isOk());
    std::vector<uint8_t> damaged = *row;
    const ColumnDef& longColumn = variable.columns()[3];
    const size_t entry = layout->maskOffset - 2 * sizeof(uint16_t) - sizeof(uint16_t) * (longColumn.varIndex + 1u);
    putU16(damaged.data(), entry, uint16_t(layout->varOffsets[longColumn.varIndex + 1u] - 1));
    EXPECT_EQ(encodeRowChanged(variable, damaged, std::vector<std::pair<int, Variant>>{{10, Variant::text(u"x")}}).status().code(),
              ErrorCode::Corruption);
}

// The variable slots of deleted columns are not read, so their offsets
// may be in any order (Access leaves some so); a live column's may not.
TEST(RowCodec, DeletedColumnSlotsOutOfOrder)
{
    TableDef def = everyTypeTable({.reservedFirstVarSlot = true});
    std::vector<Variant> values(def.columns().size());
    values[10] = Variant::text(u"abc");
    auto row = encodeRow(def, values);
    ASSERT_TRUE(row.isOk());
    auto layout = parseRowLayout(def, *row);
    ASSERT_TRUE(layout.isOk());
    const size_t slot0 = layout->maskOffset - 2 * sizeof(uint16_t);
    std::vector<uint8_t> reversed = *row;  // the deleted slot 0 ends before it starts
    putU16(reversed.data(), slot0, uint16_t(layout->varOffsets[1] + 2));
    auto back = decodeRow(def, reversed, nullptr);
    ASSERT_TRUE(back.isOk()) << back.status().toString();
    EXPECT_EQ((*back)[10], Variant::text(u"abc"));

    const size_t textEntry = slot0 - sizeof(uint16_t) * def.columns()[10].varIndex;
    std::vector<uint8_t> live = *row;  // the Text column's own slot reversed
    putU16(live.data(), textEntry, uint16_t(layout->varOffsets[def.columns()[10].varIndex + 1u] + 1));
    EXPECT_EQ(decodeRow(def, live, nullptr).status().code(), ErrorCode::Corruption);
    std::vector<uint8_t> outside = *row;  // any slot pointing outside the row
    putU16(outside.data(), slot0, uint16_t(row->size()));
    EXPECT_EQ(decodeRow(def, outside, nullptr).status().code(), ErrorCode::Corruption);
    std::vector<uint8_t> intoHeader = *row;  // or into the column count before the fixed area
    putU16(intoHeader.data(), slot0, 0);
    EXPECT_EQ(decodeRow(def, intoHeader, nullptr).status().code(), ErrorCode::Corruption);
}

// Short rows (written before columns were added) read the missing columns
// as Null / False; damaged framing is Corruption, never a read out of range.
TEST(RowCodec, ShortAndDamagedRows)
{
    TableDef def = everyTypeTable();
    std::vector<Variant> values(def.columns().size());
    values[0] = Variant::boolean(true);
    values[2] = Variant::integer(7);
    values[10] = Variant::text(u"abc");
    auto row = encodeRow(def, values);
    ASSERT_TRUE(row.isOk());

    std::vector<uint8_t> shortRow = *row;
    putU16(shortRow.data(), 0, 3);  // claims only columns 0..2
    shortRow.erase(shortRow.end() - 2, shortRow.end() - 1);  // mask one byte
    auto back = decodeRow(def, shortRow, nullptr);
    ASSERT_TRUE(back.isOk()) << back.status().toString();
    EXPECT_EQ((*back)[2], Variant::integer(7));
    EXPECT_TRUE((*back)[3].isNull());

    for (size_t cut = 0; cut < row->size(); ++cut) {
        std::vector<uint8_t> part(row->begin(), row->begin() + long(cut));
        (void)decodeRow(def, part, nullptr);  // any result, no crash
    }
    for (size_t i = 0; i < row->size(); ++i) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x7F)}) {
            std::vector<uint8_t> bad = *row;
            bad[i] = v;
            (void)decodeRow(def, bad, nullptr);
        }
    }
    std::vector<uint8_t> zero(2, 0);
    EXPECT_EQ(decodeRow(def, zero, nullptr).status().code(), ErrorCode::Corruption);
}

}  // namespace
}  // namespace varnika::jet

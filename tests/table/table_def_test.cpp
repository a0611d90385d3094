#include "db/jet/table/table_def.h"

#include "db/jet/file/bytes.h"
#include "db/jet/file/page_file.h"
#include "db/jet/page/text_codec.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

namespace varnika::jet {
namespace {

std::vector<uint8_t> readFileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<Pager> pagerFor(const std::filesystem::path& p)
{
    return std::make_unique<Pager>(std::make_unique<MemoryPageFile>(readFileBytes(p)));
}

// Every TDEF chain in a file that parses, found by walking the pages
// (continuation pages of an earlier chain are skipped).
std::vector<TableDef> allTableDefs(Pager& pager)
{
    std::vector<TableDef> out;
    std::set<uint32_t> continuation;
    for (uint32_t p = 1; p < pager.pageCount(); ++p) {
        auto page = pager.read(p);
        if (!page.isOk() || (**page)[page::kType] != uint8_t(PageType::TableDefinition) || continuation.count(p)) continue;
        ByteReader r((*page)->data(), kPageSize);
        if (r.u32(tdef::kConstant) != tdef::kConstantValue) continue;
        auto def = TableDef::read(pager, p);
        if (!def.isOk()) continue;
        for (size_t i = 1; i < def->pages().size(); ++i) continuation.insert(def->pages()[i]);
        out.push_back(std::move(def).value());
    }
    return out;
}

TEST(TableDefFixtures, SerializeRoundTripsEveryTableDefinition)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t checked = 0, multiPage = 0;
    for (const char* sub : {"jet4", "turkish", "blank", "odd"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            auto pager = pagerFor(file);
            auto defs = allTableDefs(*pager);
            EXPECT_FALSE(defs.empty()) << file;
            for (const TableDef& def : defs) {
                auto pages = def.toPages();
                ASSERT_TRUE(pages.isOk()) << pages.status().toString();
                ASSERT_EQ(pages->size(), def.pages().size());
                if (pages->size() > 1) ++multiPage;
                std::vector<uint8_t> buffer = def.serialize();
                for (size_t i = 0; i < pages->size(); ++i) {
                    auto original = pager->read(def.pages()[i]);
                    ASSERT_TRUE(original.isOk());
                    // Compare the part of the page the definition uses: Access
                    // sometimes leaves stale bytes after it (we write zeros).
                    size_t used = i == 0 ? std::min(buffer.size(), kPageSize)
                                         : std::min(buffer.size() - kPageSize - (i - 1) * (kPageSize - 8) + 8, kPageSize);
                    auto diff = std::mismatch((*pages)[i].begin(), (*pages)[i].begin() + long(used), (*original)->begin());
                    EXPECT_EQ(diff.first, (*pages)[i].begin() + long(used))
                        << file << " tdef " << def.firstPage() << " page " << i << " differs at byte "
                        << (diff.first - (*pages)[i].begin());
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100u);
    EXPECT_GT(multiPage, 0u);
}

TEST(TableDefFixtures, KnownTableLayout)
{
    VK_REQUIRE_FIXTURES(dir);
    auto pager = pagerFor(dir / "jet4" / "testV2000.mdb");
    auto def = TableDef::read(*pager, 24);
    ASSERT_TRUE(def.isOk()) << def.status().toString();
    EXPECT_EQ(def->rowCount(), 2u);
    EXPECT_EQ(def->maxColumns(), 9);
    EXPECT_EQ(def->varColumnCount(), 2);
    EXPECT_EQ(def->columns().size(), 9u);
    EXPECT_TRUE(def->isUserTable());
    EXPECT_EQ(def->realIndexes().size(), 2u);
    EXPECT_EQ(def->logicalIndexes().size(), 2u);
    int a = def->findColumn(u"a");
    ASSERT_GE(a, 0);
    const ColumnDef& col = def->columns()[size_t(a)];
    EXPECT_EQ(col.type(), ColumnType::Text);
    EXPECT_EQ(col.displaySize(), 50);
    EXPECT_TRUE(col.allowsCompression());
    EXPECT_EQ(col.sortLcid(), 0x0409);
    EXPECT_EQ(def->findColumn(u"nope"), -1);
    // columnsByNumber is sorted by column number.
    for (size_t i = 1; i < def->columnsByNumber().size(); ++i)
        EXPECT_LT(def->columns()[size_t(def->columnsByNumber()[i - 1])].number,
                  def->columns()[size_t(def->columnsByNumber()[i])].number);
}

TEST(TableDefFixtures, SystemCatalogDescriptorsAreNotInNumberOrder)
{
    VK_REQUIRE_FIXTURES(dir);
    auto pager = pagerFor(dir / "jet4" / "testV2000.mdb");
    auto def = TableDef::read(*pager, 2);
    ASSERT_TRUE(def.isOk()) << def.status().toString();
    EXPECT_EQ(def->tableType(), tdef::kTableTypeSystem);
    EXPECT_GE(def->findColumn(u"Name"), 0);
    EXPECT_GE(def->findColumn(u"TYPE"), 0);
}

// Columns of fixed-size types whose descriptor says variable-length (the
// Numeric columns of tblUrun; their descriptor length is not the value's)
// are read as such; only Memo and OLE have a single form.
TEST(TableDefFixtures, NumbersStoredAsVariableLengthValues)
{
    VK_REQUIRE_FIXTURES(dir);
    auto bytes = readFileBytes(dir / "odd" / "variable-numeric.mdb");
    constexpr uint32_t kUrunPage = 36;
    {
        Pager pager(std::make_unique<MemoryPageFile>(bytes));
        auto def = TableDef::read(pager, kUrunPage);
        ASSERT_TRUE(def.isOk()) << def.status().toString();
        const ColumnDef& price = def->columns()[size_t(def->findColumn(u"aFiyat"))];
        EXPECT_EQ(price.type(), ColumnType::Numeric);
        EXPECT_TRUE(price.isVariable());
        EXPECT_EQ(price.precision(), 18);
        EXPECT_EQ(price.scale(), 2);
        EXPECT_EQ(price.fixedWidth(), 0u);
        const ColumnDef& year = def->columns()[size_t(def->findColumn(u"yil"))];
        EXPECT_TRUE(year.isFixed());
        EXPECT_EQ(def->fixedAreaSize(), size_t(year.fixedOffset) + 4);
    }
    // The first column (urunID, a fixed Long) turned into a fixed Memo.
    const size_t firstColumn = kUrunPage * kPageSize + tdef::kVariablePart + tdef::kRealIndexCounterSize;
    bytes[firstColumn + tdef::kColType] = uint8_t(ColumnType::Memo);
    Pager pager(std::make_unique<MemoryPageFile>(bytes));
    auto def = TableDef::read(pager, kUrunPage);
    ASSERT_FALSE(def.isOk());
    EXPECT_EQ(def.status().code(), ErrorCode::Corruption);
}

// Damage to the header counts and the chain must be refused, never read past.
TEST(TableDefDamage, RefusesBrokenDefinitions)
{
    VK_REQUIRE_FIXTURES(dir);
    auto bytes = readFileBytes(dir / "jet4" / "testV2000.mdb");
    const size_t base = 24 * kPageSize;
    struct Case { const char* what; size_t offset; std::vector<uint8_t> value; };
    const std::vector<Case> cases = {
        {"huge length", tdef::kLength, {0xFF, 0xFF, 0, 0}},
        {"short length", tdef::kLength, {0x10, 0, 0, 0}},
        {"column count", tdef::kColumnCount, {0xFF, 0x7F}},
        {"index count", tdef::kIndexCount, {0xFF, 0xFF, 0xFF, 0x00}},
        {"real index count", tdef::kRealIndexCount, {0x00, 0x01, 0, 0}},
        {"no columns", tdef::kColumnCount, {0, 0}},
        {"self loop", tdef::kNextPage, {24, 0, 0, 0}},
        {"next past end", tdef::kNextPage, {0xFF, 0xFF, 0, 0}},
        {"page type", page::kType, {0x01}},
        {"max columns", tdef::kMaxColumns, {1, 0}},
    };
    for (const Case& c : cases) {
        auto copy = bytes;
        std::copy(c.value.begin(), c.value.end(), copy.begin() + long(base + c.offset));
        Pager pager(std::make_unique<MemoryPageFile>(copy));
        auto def = TableDef::read(pager, 24);
        EXPECT_FALSE(def.isOk()) << c.what;
        if (!def.isOk()) {
            EXPECT_EQ(def.status().code(), ErrorCode::Corruption) << c.what << ": " << def.status().toString();
        }
    }
}

TEST(TableDefSplit, FreeSpaceAndLinksFollowTheLayout)
{
    std::vector<uint8_t> buffer(5000, 0xAB);
    putU32(buffer.data(), tdef::kLength, uint32_t(buffer.size()));
    EXPECT_EQ(TableDef::pagesNeeded(buffer.size()), 2u);
    EXPECT_FALSE(TableDef::splitIntoPages(buffer, {7}).isOk());
    auto pages = TableDef::splitIntoPages(buffer, {7, 9});
    ASSERT_TRUE(pages.isOk());
    ByteReader first((*pages)[0].data(), kPageSize), second((*pages)[1].data(), kPageSize);
    EXPECT_EQ(first.u32(tdef::kNextPage), 9u);
    EXPECT_EQ(first.u16(tdef::kFreeSpace), 0);
    EXPECT_EQ(second.u32(tdef::kNextPage), 0u);
    // 904 bytes follow on page 2 after its 8-byte header.
    EXPECT_EQ(second.u16(tdef::kFreeSpace), kPageSize - 8 - 904 - 8);
    EXPECT_EQ(TableDef::pagesNeeded(kPageSize), 1u);
    EXPECT_EQ(TableDef::pagesNeeded(kPageSize + 1), 2u);
}

TEST(JetText, DecodesBothFormsAndEncodesSafely)
{
    const std::vector<uint8_t> plain = {0x61, 0, 0x5F, 0x01};
    EXPECT_EQ(decodeJetText(plain), u"a\u015F");
    const std::vector<uint8_t> compressed = {0xFF, 0xFE, 0x61, 0x62, 0x00, 0x5F, 0x01, 0x00, 0x63};
    EXPECT_EQ(decodeJetText(compressed), u"ab\u015Fc");
    const std::vector<uint8_t> bom = {0xFF, 0xFE};
    EXPECT_EQ(decodeJetText(bom), u"\uFEFF");
    const std::vector<uint8_t> odd = {0xFF, 0xFE, 0x00, 0x41};
    EXPECT_EQ(decodeJetText(odd), u"");

    EXPECT_EQ(encodeJetText(u"abc", true), (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
    EXPECT_EQ(encodeJetText(u"ab", true).size(), 4u);         // too short to compress
    EXPECT_EQ(encodeJetText(u"abc", false).size(), 6u);       // column does not allow it
    EXPECT_EQ(encodeJetText(u"ab\u015F", true).size(), 6u);   // outside U+00FF
    EXPECT_EQ(encodeJetText(std::u16string(1025, u'x'), true).size(), 2050u);
    EXPECT_EQ(decodeJetText(encodeJetText(u"\u00e7ay", true)), u"\u00e7ay");
}

}  // namespace
}  // namespace varnika::jet

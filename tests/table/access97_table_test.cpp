// Access 97 (Jet 3) tables: every definition of the Access-made fixtures
// written back byte for byte, every row decoded and encoded again, rows of
// one-byte offsets with their jump table at every length, and text in the
// file's code page.

#include "db/jet/file/bytes.h"
#include "db/jet/page/data_page.h"
#include "db/jet/table/row_codec.h"
#include "db/jet/table/table_builder.h"
#include "db/jet/table/table_def.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace varnika::jet {
namespace {

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> access97Files(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> files = test::mdbFilesIn(dir / "jet3");
    for (const auto& f : test::mdbFilesIn(dir / "jet3-turkish")) files.push_back(f);
    return files;
}

// Jet 3 definition pages carry "VC" where Jet 4 keeps their free space.
bool isAccess97Definition(const PageBuffer& page)
{
    return page[page::kType] == uint8_t(PageType::TableDefinition) && page[tdef::kFreeSpace] == 'V' &&
           page[tdef::kFreeSpace + 1] == 'C';
}

// Hands back the field bytes of long values as they are, so that rows can be
// decoded and encoded without following them.
class FieldEcho : public LongValueSource {
public:
    Result<std::vector<uint8_t>> readLongValue(std::span<const uint8_t> field) override
    {
        return std::vector<uint8_t>(field.begin(), field.end());
    }
};

TEST(Access97Tables, EveryDefinitionIsWrittenBackByteForByte)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t checked = 0, multiPage = 0, columns = 0;
    for (const auto& file : access97Files(dir)) {
        Pager pager(std::make_unique<MemoryPageFile>(fileBytes(file)));
        ASSERT_EQ(pager.format().version, JetVersion::Jet3);
        std::set<uint32_t> continuation;
        for (uint32_t p = 2; p < pager.pageCount(); ++p) {
            auto page = pager.read(p);
            ASSERT_TRUE(page.isOk());
            if (!isAccess97Definition(**page) || continuation.count(p)) continue;
            auto def = TableDef::read(pager, p);
            if (!def.isOk()) continue;  // a stale page that no longer holds a whole definition
            for (size_t i = 1; i < def->pages().size(); ++i) continuation.insert(def->pages()[i]);
            auto pages = def->toPages();
            ASSERT_TRUE(pages.isOk()) << pages.status().toString();
            ASSERT_EQ(pages->size(), def->pages().size());
            multiPage += pages->size() > 1;
            const std::vector<uint8_t> buffer = def->serialize();
            size_t taken = 0;
            for (size_t i = 0; i < pages->size(); ++i) {
                auto original = pager.read(def->pages()[i]);
                ASSERT_TRUE(original.isOk());
                const size_t start = i == 0 ? 0 : tdef::kPageHeaderSize;
                const size_t used = start + std::min(buffer.size() - taken, 2048 - start);
                taken += used - start;
                auto diff = std::mismatch((*pages)[i].begin(), (*pages)[i].begin() + long(used), (*original)->begin());
                EXPECT_EQ(diff.first, (*pages)[i].begin() + long(used))
                    << file.filename() << " definition " << p << " page " << i << " differs at byte "
                    << (diff.first - (*pages)[i].begin());
            }
            for (const ColumnDef& c : def->columns()) {
                ++columns;
                EXPECT_NE(c.codePage, 0) << file.filename() << " column " << toUtf8(c.name);
                if (c.type() == ColumnType::Text) {
                    EXPECT_EQ(c.displaySize(), c.length);
                }
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 80u);
    EXPECT_GT(multiPage, 0u);
    EXPECT_GT(columns, 700u);
}

TEST(Access97Tables, EveryRowDecodesAndEncodesAgain)
{
    VK_REQUIRE_FIXTURES(dir);
    FieldEcho echo;
    size_t rows = 0, jumpRows = 0;
    for (const auto& file : access97Files(dir)) {
        Pager pager(std::make_unique<MemoryPageFile>(fileBytes(file)));
        std::map<uint32_t, TableDef> defs;
        for (uint32_t p = 1; p < pager.pageCount(); ++p) {
            auto page = pager.read(p);
            ASSERT_TRUE(page.isOk());
            if ((**page)[page::kType] != uint8_t(PageType::Data)) continue;
            auto view = DataPageView::parse(*page, p, pager.format());
            if (!view.isOk()) continue;
            const uint32_t owner = view->owner();
            if (owner < 2 || owner >= pager.pageCount()) continue;
            if (!defs.count(owner)) {
                auto def = TableDef::read(pager, owner);
                if (!def.isOk()) continue;
                defs.emplace(owner, std::move(def).value());
            }
            const TableDef& def = defs.at(owner);
            for (int s = 0; s < view->slotCount(); ++s) {
                if (view->slot(s).flags != 0) continue;
                auto bytes = view->rowBytes(s);
                const std::string where = file.filename().string() + " page " + std::to_string(p) + " row " + std::to_string(s);
                auto layout = parseRowLayout(def, bytes);
                ASSERT_TRUE(layout.isOk()) << where << ": " << layout.status().toString();
                jumpRows += bytes.size() > 256;
                auto original = decodeRow(def, bytes, &echo);
                ASSERT_TRUE(original.isOk()) << where << ": " << original.status().toString();
                std::vector<Variant> input = *original;
                for (size_t c = 0; c < def.columns().size(); ++c) {
                    if (!isLongValueType(def.columns()[c].type())) continue;
                    auto f = fieldBytes(def, *layout, bytes, int(c));
                    ASSERT_TRUE(f.isOk());
                    input[c] = f->present && !f->bytes.empty() ? Variant::binary({f->bytes.begin(), f->bytes.end()}) : Variant();
                }
                auto encoded = encodeRow(def, input);
                ASSERT_TRUE(encoded.isOk()) << where << ": " << encoded.status().toString();
                auto again = decodeRow(def, *encoded, &echo);
                ASSERT_TRUE(again.isOk()) << where << ": " << again.status().toString();
                EXPECT_EQ(*again, *original) << where;
                ++rows;
            }
        }
    }
    EXPECT_GT(rows, 2000u);
    EXPECT_GT(jumpRows, 0u);  // the project row of test2V1997.mdb, with its unused jump entry
}

// A Jet 3 table of `count` Text(255) columns (and a Long first), through the
// table builder.
TableDef textTable(size_t count, uint16_t codePage = 1252)
{
    JetFormat format = JetFormat::jet3();
    format.codePage = codePage;
    NewTable t;
    NewColumn id;
    id.name = u"Id";
    id.type = ColumnType::Long;
    t.columns.push_back(id);
    for (size_t i = 0; i < count; ++i) {
        NewColumn c;
        c.name = u"T" + fromUtf8(std::to_string(i));
        c.type = ColumnType::Text;
        c.length = 510;
        t.columns.push_back(c);
    }
    NewTableStorage storage;
    auto buffer = buildTableDefinition(t, storage, format);
    EXPECT_TRUE(buffer.isOk()) << buffer.status().toString();
    std::vector<uint32_t> pages(TableDef::pagesNeeded(buffer->size(), format.pageSize), 9);
    for (size_t i = 0; i < pages.size(); ++i) pages[i] = uint32_t(9 + i);
    auto def = TableDef::parse(*buffer, pages, false, format);
    EXPECT_TRUE(def.isOk()) << def.status().toString();
    return std::move(def).value();
}

TEST(Access97Rows, OneByteOffsetsAndTheJumpTableAtEveryLength)
{
    const TableDef def = textTable(8);
    ASSERT_EQ(def.columns()[1].displaySize(), 255);
    // Rows from a few bytes to past 1800, the variable data crossing 256-byte
    // boundaries inside a value, at a value's start, and only the row's tail
    // (after the data) crossing one.
    size_t lengths = 0, withEntries = 0, unusedEntries = 0;
    for (size_t total = 0; total <= 1780; total += 7) {
        std::vector<Variant> values(def.columns().size());
        values[0] = Variant::longValue(int32_t(total));
        size_t left = total;
        for (size_t c = 1; c < values.size(); ++c) {
            const size_t n = std::min<size_t>(left, c % 3 == 0 ? 0 : 255);
            values[c] = c == 4 && left == 0 ? Variant() : Variant::text(std::u16string(n, char16_t(u'a' + c)));
            left -= n;
        }
        auto row = encodeRow(def, values);
        ASSERT_TRUE(row.isOk()) << total << ": " << row.status().toString();
        ASSERT_LE(row->size(), 2012u);
        auto layout = parseRowLayout(def, *row);
        ASSERT_TRUE(layout.isOk()) << total;
        const size_t entries = row->size() > 256 ? (row->size() - 1) / 256 : 0;
        withEntries += entries > 0;
        unusedEntries += entries > layout->varTableStart / 256;
        // The table the reader found ends where the row's tail begins.
        EXPECT_EQ(layout->varTableStart + 8 + 1 + entries + 1 + 2, row->size()) << total;
        auto back = decodeRow(def, *row, nullptr);
        ASSERT_TRUE(back.isOk()) << total << ": " << back.status().toString();
        EXPECT_EQ(*back, values) << total;
        ++lengths;
    }
    EXPECT_GT(withEntries, 200u);
    EXPECT_GT(unusedEntries, 0u);

    // A row of 256 bytes has no jump table; one byte more needs an entry,
    // which is itself a byte: the next row is 258 bytes long.
    std::set<size_t> seen;
    for (size_t n = 230; n < 250; ++n) {
        std::vector<Variant> values(def.columns().size());
        values[1] = Variant::text(std::u16string(n, u'x'));
        auto row = encodeRow(def, values);
        ASSERT_TRUE(row.isOk());
        seen.insert(row->size());
        const size_t maskAt = row->size() - 2;
        EXPECT_EQ((*row)[maskAt - 1], 8);  // the variable count, next to the mask
        if (row->size() > 256) {
            EXPECT_EQ((*row)[maskAt - 2], 0xFF) << "the entry no offset reaches";
        }
        EXPECT_EQ(*decodeRow(def, *row, nullptr), values);
    }
    EXPECT_TRUE(seen.count(256) && seen.count(258) && !seen.count(257));
}

TEST(Access97Rows, TooManyUnusedJumpEntriesAreRefused)
{
    // 250 variable columns: a row whose data ends near 230 bytes has a tail
    // past two boundaries, which no reader can tell apart.
    const TableDef def = textTable(250);
    std::vector<Variant> values(def.columns().size());
    values[1] = Variant::text(std::u16string(20, u'k'));
    EXPECT_TRUE(encodeRow(def, values).isOk());
    values[1] = Variant::text(std::u16string(228, u'k'));
    auto refused = encodeRow(def, values);
    ASSERT_FALSE(refused.isOk());
    EXPECT_EQ(refused.status().code(), ErrorCode::InvalidArgument);
}

TEST(Access97Rows, TextIsStoredInTheCodePage)
{
    const TableDef western = textTable(2, 1252);
    const TableDef turkish = textTable(2, 1254);
    std::vector<Variant> values(3);
    values[1] = Variant::text(u"\u015eEKER");
    values[2] = Variant::text(u"Gr\u00fc\u00dfe");
    auto row = encodeRow(turkish, values);
    ASSERT_TRUE(row.isOk()) << row.status().toString();
    const std::vector<uint8_t> stored = {0xDE, 'E', 'K', 'E', 'R'};
    EXPECT_NE(std::search(row->begin(), row->end(), stored.begin(), stored.end()), row->end());
    EXPECT_EQ(*decodeRow(turkish, *row, nullptr), values);

    auto refused = encodeRow(western, values);
    ASSERT_FALSE(refused.isOk());
    EXPECT_EQ(refused.status().code(), ErrorCode::InvalidArgument);
    EXPECT_NE(refused.status().message().find("U+015E"), std::string::npos) << refused.status().message();
    // The limit is in characters, one byte each.
    values[1] = Variant::text(std::u16string(256, u'a'));
    EXPECT_EQ(encodeRow(western, values).status().code(), ErrorCode::InvalidArgument);
}

}  // namespace
}  // namespace varnika::jet

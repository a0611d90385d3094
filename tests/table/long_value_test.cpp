#include "db/jet/table/long_value.h"

#include "db/jet/file/bytes.h"
#include "db/jet/database.h"
#include "db/jet/page/page_layout.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

// A file of `pages` pages; page 1 is an LVAL data page holding `rows`.
std::vector<uint8_t> lvalFile(const std::vector<std::vector<uint8_t>>& rows, uint32_t owner = datapage::kLongValueOwner)
{
    std::vector<uint8_t> bytes(3 * kPageSize, 0);
    uint8_t* p = bytes.data() + kPageSize;
    p[page::kType] = uint8_t(PageType::Data);
    p[page::kMarker] = page::kMarkerValue;
    putU32(p, datapage::kOwner, owner);
    putU16(p, datapage::kSlotCount, uint16_t(rows.size()));
    size_t end = kPageSize;
    for (size_t i = 0; i < rows.size(); ++i) {
        end -= rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(), p + end);
        putU16(p, datapage::kSlotTable + 2 * i, uint16_t(end));
    }
    return bytes;
}

std::vector<uint8_t> field(uint32_t length, uint32_t kind, RowPointer first)
{
    std::vector<uint8_t> f(longvalue::kHeaderSize, 0);
    putU32(f.data(), longvalue::kLengthAndKind, length | kind);
    putU32(f.data(), longvalue::kPointer, first.toWord());
    return f;
}

std::vector<uint8_t> piece(RowPointer next, size_t dataBytes, uint8_t fill)
{
    std::vector<uint8_t> r(longvalue::kChainPointerSize + dataBytes, fill);
    putU32(r.data(), 0, next.toWord());
    return r;
}

TEST(LongValue, ReadsEveryKindAndRefusesBrokenChains)
{
    const RowPointer row0{1, 0}, row1{1, 1}, nowhere{0, 0};
    struct Case {
        const char* what;
        std::vector<std::vector<uint8_t>> rows;
        std::vector<uint8_t> field;
        uint32_t owner;
        bool ok;
        size_t length;
    };
    std::vector<uint8_t> inlineField = field(3, longvalue::kKindInline, nowhere);
    inlineField.insert(inlineField.end(), {1, 2, 3});
    const std::vector<Case> cases = {
        {"inline", {}, inlineField, datapage::kLongValueOwner, true, 3},
        {"inline longer than field", {}, field(30, longvalue::kKindInline, nowhere), datapage::kLongValueOwner, false, 0},
        {"single row", {std::vector<uint8_t>(100, 7)}, field(90, longvalue::kKindSingleRow, row0), datapage::kLongValueOwner, true, 90},
        {"single row too short", {std::vector<uint8_t>(10, 7)}, field(90, longvalue::kKindSingleRow, row0), datapage::kLongValueOwner, false, 0},
        {"chain of two", {piece(row1, 50, 1), piece(nowhere, 50, 2)}, field(80, longvalue::kKindChain, row0), datapage::kLongValueOwner, true, 80},
        {"chain loops", {piece(row1, 50, 1), piece(row0, 50, 2)}, field(500, longvalue::kKindChain, row0), datapage::kLongValueOwner, false, 0},
        {"chain ends early", {piece(row1, 50, 1), piece(nowhere, 50, 2)}, field(200, longvalue::kKindChain, row0), datapage::kLongValueOwner, false, 0},
        {"not an LVAL page", {std::vector<uint8_t>(100, 7)}, field(90, longvalue::kKindSingleRow, row0), 5, false, 0},
        {"missing row", {std::vector<uint8_t>(100, 7)}, field(90, longvalue::kKindSingleRow, RowPointer{1, 9}), datapage::kLongValueOwner, false, 0},
        {"missing page", {}, field(90, longvalue::kKindSingleRow, RowPointer{77, 0}), datapage::kLongValueOwner, false, 0},
        {"longer than the file", {}, field(0x3FFFFFFF, longvalue::kKindChain, row0), datapage::kLongValueOwner, false, 0},
        {"header cut short", {}, std::vector<uint8_t>(5, 0), datapage::kLongValueOwner, false, 0},
    };
    for (const Case& c : cases) {
        Pager pager(std::make_unique<MemoryPageFile>(lvalFile(c.rows, c.owner)));
        LongValueReader reader(pager);
        auto data = reader.readLongValue(c.field);
        EXPECT_EQ(data.isOk(), c.ok) << c.what << ": " << data.status().toString();
        if (c.ok && data.isOk()) {
            EXPECT_EQ(data->size(), c.length) << c.what;
        }
        if (!c.ok && !data.isOk()) {
            EXPECT_EQ(data.status().code(), ErrorCode::Corruption) << c.what;
        }
    }
}

// Every user table: the scan finds as many rows as the definition counts,
// and each row read by its pointer equals the scanned one.
TEST(LongValue, TablesScanTheirCountedRows)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t tables = 0;
    for (const char* sub : {"jet4", "turkish"}) {
        for (const auto& f : test::mdbFilesIn(dir / sub)) {
            auto db = Database::open(f.string(), OpenMode::ReadOnly);
            ASSERT_TRUE(db.isOk()) << f << ": " << db.status().toString();
            for (const auto& e : (*db)->catalog().tables()) {
                auto t = (*db)->table(e.name);
                ASSERT_TRUE(t.isOk()) << t.status().toString();
                auto ptrs = (*t)->rowPointers();
                ASSERT_TRUE(ptrs.isOk());
                EXPECT_EQ(ptrs->size(), (*t)->def().rowCount()) << f << " " << toUtf8(e.name);
                auto scanner = (*t)->scan();
                ASSERT_TRUE(scanner.isOk());
                size_t i = 0;
                while (*scanner->next()) {
                    ASSERT_LT(i, ptrs->size());
                    EXPECT_EQ(scanner->pointer(), (*ptrs)[i]);
                    auto a = scanner->values();
                    auto b = (*t)->readRow((*ptrs)[i]);
                    ASSERT_TRUE(a.isOk() && b.isOk()) << f << " " << toUtf8(e.name);
                    EXPECT_EQ(*a, *b);
                    ++i;
                }
                EXPECT_EQ(i, ptrs->size());
                ++tables;
            }
        }
    }
    EXPECT_GT(tables, 50u);
}

}  // namespace
}  // namespace varnika::jet

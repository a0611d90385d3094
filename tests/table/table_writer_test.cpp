#include "db/jet/page/data_page.h"
#include "db/jet/check/table_pages_check.h"
#include "db/jet/table/table_writer.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace varnika;
using namespace varnika::jet;

namespace {

// A simple stand-in for the table's row codec: per column a presence byte,
// a u16 length and the bytes. Columns: 0 Long (AutoNumber), 1 Text,
// 2 Memo, 3 OLE. Column 1 also takes a GUID, for Replication ID columns.
class TestFormat : public TableRowFormat {
public:
    static constexpr uint8_t kGuidMark = 2;  // column 1 may also hold a GUID
    explicit TestFormat(Pager& pager) : m_pager(pager) {}

    Status decode(std::span<const uint8_t> row, std::vector<Variant>& values,
                  std::map<int, std::vector<uint8_t>>& longValues) override
    {
        ByteReader r(row);
        size_t at = 1;
        values.assign(r.u8(0), Variant());
        for (size_t c = 0; c < values.size(); ++c) {
            uint8_t present = r.u8(at);
            size_t len = r.u16(at + 1);
            auto b = r.bytes(at + 3, len);
            at += 3 + len;
            if (!r.ok()) return corruption("bad test row");
            if (!present) continue;
            if (c == 0) values[c] = Variant::longValue(ByteReader(b).i32(0));
            if (c == 1 && present == kGuidMark) {
                Guid g{};
                std::copy(b.begin(), b.end(), g.begin());
                values[c] = Variant::guid(g);
            } else if (c == 1) {
                values[c] = Variant::text(ucs2(b));
            }
            if (c >= 2) longValues[int(c)] = {b.begin(), b.end()};
        }
        return Status::ok();
    }

    Result<EncodedRow> encode(const std::vector<Variant>& values, const std::map<int, std::vector<uint8_t>>& longValues) override
    {
        if (values.size() != 4) return invalidArgument("four values needed");
        EncodedRow out;
        out.bytes.push_back(4);
        for (int c = 0; c < 4; ++c) {
            std::vector<uint8_t> b;
            bool present = !values[size_t(c)].isNull();
            if (c == 0 && present) {
                b.resize(4);
                putU32(b.data(), 0, uint32_t(values[0].asLong()));
            } else if (c == 1 && present && values[1].type() == VariantType::Guid) {
                b.assign(values[1].asGuid().begin(), values[1].asGuid().end());
            } else if (c == 1 && present) {
                for (char16_t ch : values[1].asText()) {
                    b.push_back(uint8_t(ch));
                    b.push_back(uint8_t(ch >> 8));
                }
            } else if (c >= 2) {
                auto it = longValues.find(c);
                present = it != longValues.end();
                if (present) b = it->second;
            }
            out.bytes.push_back(c == 1 && present && values[1].type() == VariantType::Guid ? kGuidMark : uint8_t(present));
            out.bytes.push_back(uint8_t(b.size()));
            out.bytes.push_back(uint8_t(b.size() >> 8));
            out.bytes.insert(out.bytes.end(), b.begin(), b.end());
        }
        out.padAt = out.bytes.size();
        return out;
    }

    Result<Variant> readLongValue(int column, std::span<const uint8_t> stored) override
    {
        ByteReader r(stored);
        uint32_t word = r.u32(0);
        size_t length = word & longvalue::kLengthMask;
        std::vector<uint8_t> data;
        if ((word & longvalue::kKindMask) == longvalue::kKindInline) {
            auto b = r.bytes(longvalue::kHeaderSize, length);
            data.assign(b.begin(), b.end());
        } else {
            uint32_t next = r.u32(4);
            bool single = (word & longvalue::kKindMask) == longvalue::kKindSingleRow;
            while (data.size() < length && next) {
                VK_ASSIGN_OR_RETURN(RowBytes row, readRowAt(m_pager, RowPointer::fromWord(next)));
                auto b = row.bytes();
                if (single) {
                    data.assign(b.begin(), b.begin() + long(length));
                    break;
                }
                next = ByteReader(b).u32(0);
                data.insert(data.end(), b.begin() + 4, b.end());
            }
        }
        if (data.size() != length) return corruption("long value of the wrong length");
        if (column == 3) return Variant::binary(data);
        if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
            std::u16string t;
            for (size_t i = 2; i < data.size(); ++i) t += char16_t(data[i]);
            return Variant::text(t);
        }
        return Variant::text(ucs2(data));
    }

private:
    static std::u16string ucs2(std::span<const uint8_t> b)
    {
        std::u16string t;
        for (size_t i = 0; i + 1 < b.size(); i += 2) t += char16_t(b[i] | (b[i + 1] << 8));
        return t;
    }
    Pager& m_pager;
};

class RecordingIndexes : public IndexMaintainer {
public:
    struct Call {
        RowChangeKind kind;
        RowPointer row;
        std::vector<Variant> oldValues, newValues;
    };
    Status apply(PageAllocator&, const RowChange& change) override
    {
        calls.push_back({change.kind, change.row, change.oldValues ? *change.oldValues : std::vector<Variant>{},
                         change.newValues ? *change.newValues : std::vector<Variant>{}});
        return failWith;
    }
    std::vector<Call> calls;
    Status failWith;
};

struct Fixture {
    test::MemoryTable t = test::makeTable();
    PageOwners memoMaps;
    std::unique_ptr<TestFormat> format;
    RecordingIndexes indexes;
    std::unique_ptr<TableWriter> writer;

    // `indexColumns`: the key columns of each index, when the writer is
    // told them.
    explicit Fixture(std::vector<std::vector<int>> indexColumns = {})
    {
        memoMaps = {test::addEmptyOwnerMap(*t.pager, 2), test::addEmptyOwnerMap(*t.pager, 2)};
        EXPECT_TRUE(t.pager->commit().isOk());
        format = std::make_unique<TestFormat>(*t.pager);
        // No index keys on the OLE column.
        TableLayout layout{t.table, {{2, true, true, memoMaps}, {3, false, false, {}, 0, false}}, 0, true, {}};
        layout.indexColumns = std::move(indexColumns);
        writer = std::make_unique<TableWriter>(*t.pager, layout, *format, &indexes);
    }
    size_t liveLongValueRows()
    {
        size_t n = 0;
        for (uint32_t p = 3; p < t.pager->pageCount(); ++p) {
            auto view = DataPageView::parse(*t.pager->read(p), p);
            if (!view || view->owner() != datapage::kLongValueOwner) continue;
            for (int s = 0; s < view->slotCount(); ++s) n += !view->slot(s).isDeleted();
        }
        return n;
    }
    uint32_t rowCount() { return ByteReader((*t.pager->read(t.table.tdefPage))->data(), kPageSize).u32(tdef::kRowCount); }
    void expectTableSound()
    {
        auto s = checkTablePages(*t.pager, t.table.tdefPage);
        ASSERT_TRUE(s.isOk()) << s.status().toString();
        EXPECT_TRUE(s->rowCountMatches());
        EXPECT_FALSE(t.pager->hasPendingWrites());
    }
};

std::vector<Variant> record(std::u16string text, std::optional<std::u16string> memo, std::optional<std::vector<uint8_t>> ole = {})
{
    return {Variant(), Variant::text(std::move(text)), memo ? Variant::text(*memo) : Variant(),
            ole ? Variant::binary(*ole) : Variant()};
}

}  // namespace

TEST(TableWriter, InsertTakesAutoNumbersAndCountsRows)
{
    Fixture f;
    auto a = f.writer->insertRow(record(u"bir", u"kısa not"));
    auto b = f.writer->insertRow(record(u"iki", std::nullopt));
    ASSERT_TRUE(a.isOk() && b.isOk()) << a.status().toString();
    EXPECT_EQ((*f.writer->readRow(*a))[0], Variant::longValue(9));
    EXPECT_EQ((*f.writer->readRow(*b))[0], Variant::longValue(10));
    EXPECT_EQ((*f.writer->readRow(*a))[2], Variant::text(u"kısa not"));
    EXPECT_TRUE((*f.writer->readRow(*b))[2].isNull());
    EXPECT_EQ(f.rowCount(), 2u);
    f.expectTableSound();
    ASSERT_EQ(f.indexes.calls.size(), 2u);
    EXPECT_EQ(f.indexes.calls[0].kind, RowChangeKind::Insert);
    EXPECT_EQ(f.indexes.calls[0].row, *a);
    EXPECT_EQ(f.indexes.calls[0].newValues[0], Variant::longValue(9));
}

TEST(TableWriter, UpdatesAcrossTheLongValueLimits)
{
    Fixture f;
    auto row = f.writer->insertRow(record(u"x", u""));
    ASSERT_TRUE(row.isOk());
    struct Step {
        size_t memoChars;
        bool plain;       // characters outside Latin-1 force plain UCS-2
        size_t lvalRows;  // live long-value rows afterwards
    } steps[] = {
        // Compressed (2 + 1 byte a character) up to 1024 characters, plain
        // (2 bytes a character) beyond.
        {0, false, 0},    {10, false, 0},   {62, false, 0},   {63, false, 1},  {1024, false, 1},
        {1025, false, 1}, {2038, true, 1},  {2039, true, 2},  {15000, true, 8}, {5, false, 0},
    };
    for (const Step& s : steps) {
        std::u16string memo;
        for (size_t i = 0; i < s.memoChars; ++i) memo += s.plain && i % 3 == 0 ? u'ş' : char16_t(u'a' + i % 26);
        std::u16string text(s.memoChars % 200, u'T');  // the row itself grows and shrinks too
        Status st = f.writer->updateRow(*row, record(text, memo, std::vector<uint8_t>(s.memoChars % 300, 7)));
        ASSERT_TRUE(st.isOk()) << s.memoChars << ": " << st.toString();
        auto back = f.writer->readRow(*row);
        ASSERT_TRUE(back.isOk()) << back.status().toString();
        EXPECT_EQ((*back)[1], Variant::text(text));
        EXPECT_EQ((*back)[2], Variant::text(memo)) << s.memoChars;
        size_t oleRows = s.memoChars % 300 > 64 ? 1 : 0;
        EXPECT_EQ(f.liveLongValueRows(), s.lvalRows + oleRows) << s.memoChars;
        f.expectTableSound();
    }
    // Null again: every long-value row is given back.
    ASSERT_TRUE(f.writer->updateRow(*row, record(u"", std::nullopt)).isOk());
    EXPECT_EQ(f.liveLongValueRows(), 0u);
    EXPECT_EQ(f.rowCount(), 1u);
    const auto& last = f.indexes.calls.back();
    EXPECT_EQ(last.kind, RowChangeKind::Update);
    EXPECT_EQ(last.row, *row);
    EXPECT_EQ(last.oldValues[2].asText(), u"abcde");  // old long values reach the index code resolved
}

TEST(TableWriter, GrowingRowsMoveButKeepTheirAddress)
{
    Fixture f;
    std::vector<RowPointer> rows;
    for (int i = 0; i < 12; ++i) {
        auto r = f.writer->insertRow(record(std::u16string(150, u'a'), std::nullopt));
        ASSERT_TRUE(r.isOk());
        rows.push_back(*r);
    }
    for (int round = 0; round < 3; ++round)
        for (size_t i = 0; i < rows.size(); ++i) {
            std::u16string text(300 + 200 * round + i, char16_t(u'k' + round));
            ASSERT_TRUE(f.writer->updateRow(rows[i], record(text, std::nullopt)).isOk());
            EXPECT_EQ((*f.writer->readRow(rows[i]))[1], Variant::text(text));
        }
    auto summary = checkTablePages(*f.t.pager, f.t.table.tdefPage);
    ASSERT_TRUE(summary.isOk());
    EXPECT_GT(summary->movedRows, 0u);
    EXPECT_EQ(summary->baseRows, 12u);
    for (const auto& c : f.indexes.calls) {
        if (c.kind == RowChangeKind::Update) {
            EXPECT_NE(std::find(rows.begin(), rows.end(), c.row), rows.end());
        }
    }
}

// With the indexes' key columns unknown (every column read) and known
// (the text and the memo: the others are not read).
TEST(TableWriter, DeleteGivesEverythingBack)
{
    for (bool keysKnown : {false, true}) {
        SCOPED_TRACE(keysKnown ? "key columns known" : "key columns unknown");
        Fixture f(keysKnown ? std::vector<std::vector<int>>{{1, 2}} : std::vector<std::vector<int>>{});
        auto a = f.writer->insertRow(record(u"a", std::u16string(5000, u'm'), std::vector<uint8_t>(9000, 1)));
        auto b = f.writer->insertRow(record(u"b", u"kalır"));
        ASSERT_TRUE(a.isOk() && b.isOk());
        EXPECT_EQ(f.liveLongValueRows(), 3u + 3u);  // 10000 and 9000 bytes: three pieces each
        ASSERT_TRUE(f.writer->deleteRow(*a).isOk());
        EXPECT_EQ(f.liveLongValueRows(), 0u);
        EXPECT_EQ(f.rowCount(), 1u);
        EXPECT_EQ(f.writer->readRow(*a).status().code(), ErrorCode::NotFound);
        EXPECT_EQ(f.writer->deleteRow(*a).code(), ErrorCode::NotFound);
        EXPECT_EQ((*f.writer->readRow(*b))[2], Variant::text(u"kalır"));
        f.expectTableSound();
        const auto& del = f.indexes.calls.back();
        EXPECT_EQ(del.kind, RowChangeKind::Delete);
        // The long value an index may key on is read for the delete; the
        // other is given back unread.
        EXPECT_EQ(del.oldValues[1], Variant::text(u"a"));
        EXPECT_EQ(del.oldValues[2], Variant::text(std::u16string(5000, u'm')));
        EXPECT_TRUE(del.oldValues[3].isNull());
    }
}

TEST(TableWriter, FailuresWriteNothing)
{
    Fixture f;
    auto a = f.writer->insertRow(record(u"a", u"eski"));
    ASSERT_TRUE(a.isOk());
    const std::vector<uint8_t> before = static_cast<MemoryPageFile&>(f.t.pager->file()).bytes();
    auto unchanged = [&] { return static_cast<MemoryPageFile&>(f.t.pager->file()).bytes() == before; };

    f.indexes.failWith = Status(ErrorCode::Constraint, "duplicate key");
    EXPECT_EQ(f.writer->updateRow(*a, record(u"b", std::u16string(3000, u'y'))).code(), ErrorCode::Constraint);
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(f.writer->insertRow(record(u"c", u"yeni")).status().code(), ErrorCode::Constraint);
    EXPECT_TRUE(unchanged());
    EXPECT_EQ(f.writer->deleteRow(*a).code(), ErrorCode::Constraint);
    EXPECT_TRUE(unchanged());
    f.indexes.failWith = Status();

    // A value of the wrong type for the Memo field.
    auto bad = record(u"d", std::nullopt);
    bad[2] = Variant::longValue(5);
    EXPECT_EQ(f.writer->updateRow(*a, bad).code(), ErrorCode::TypeMismatch);
    EXPECT_TRUE(unchanged());
    // A record too long for a page.
    EXPECT_EQ(f.writer->updateRow(*a, record(std::u16string(2100, u'z'), std::nullopt)).code(), ErrorCode::InvalidArgument);
    EXPECT_TRUE(unchanged());
    EXPECT_EQ((*f.writer->readRow(*a))[2], Variant::text(u"eski"));

    // Pending changes of someone else are not committed by accident.
    ASSERT_TRUE(f.t.pager->write(2, **f.t.pager->read(2)).isOk());
    EXPECT_EQ(f.writer->insertRow(record(u"e", std::nullopt)).status().code(), ErrorCode::InvalidArgument);
    f.t.pager->rollback();

    // Indexes without maintenance: refused.
    TableLayout layout{f.t.table, {}, 0, true, {}};
    TableWriter noIndexCode(*f.t.pager, layout, *f.format, nullptr);
    EXPECT_EQ(noIndexCode.insertRow(record(u"f", std::nullopt)).status().code(), ErrorCode::NotSupported);
    EXPECT_TRUE(unchanged());
}

TEST(TableWriter, NullReplicationIdsGetNewGuids)
{
    Fixture f;
    TableLayout layout{f.t.table, {}, std::nullopt, false, {1}};
    TableWriter writer(*f.t.pager, layout, *f.format, nullptr);
    std::set<Guid> seen;
    for (int i = 0; i < 20; ++i) {
        auto r = writer.insertRow({Variant::longValue(i), Variant(), Variant(), Variant()});
        ASSERT_TRUE(r.isOk()) << r.status().toString();
        Variant id = (*writer.readRow(*r))[1];
        ASSERT_EQ(id.type(), VariantType::Guid);
        EXPECT_EQ(id.asGuid()[7] >> 4, 4);      // version 4
        EXPECT_EQ(id.asGuid()[8] & 0xC0, 0x80);  // RFC 4122 variant
        seen.insert(id.asGuid());
    }
    EXPECT_EQ(seen.size(), 20u);
    // A given GUID is kept.
    Guid mine{};
    mine[0] = 1;
    auto r = writer.insertRow({Variant::longValue(99), Variant::guid(mine), Variant(), Variant()});
    EXPECT_EQ((*writer.readRow(*r))[1], Variant::guid(mine));
}

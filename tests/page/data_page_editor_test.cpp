#include "db/jet/page/data_page.h"
#include "db/jet/page/data_page_editor.h"
#include "support/write_test_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace varnika;
using namespace varnika::jet;

namespace {

std::vector<uint8_t> rowOf(size_t length, uint8_t fill)
{
    std::vector<uint8_t> r(length);
    for (size_t i = 0; i < length; ++i) r[i] = uint8_t(fill + i);
    return r;
}

std::vector<uint8_t> bytesOf(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

struct ModelSlot {
    std::vector<uint8_t> bytes;
    uint16_t flags = 0;
};

// The page must say what the model says: same slots, flags and bytes
// (deleted slots empty, overflow headers their pointer), consistent header.
void expectMatches(const DataPageEditor& e, const std::vector<ModelSlot>& model)
{
    ASSERT_TRUE(checkDataPage(e.page(), e.pageNumber()).isOk()) << checkDataPage(e.page(), e.pageNumber()).toString();
    ASSERT_EQ(e.slotCount(), int(model.size()));
    size_t used = datapage::kHeaderSize + model.size() * datapage::kSlotSize;
    for (size_t i = 0; i < model.size(); ++i) {
        EXPECT_EQ(e.slotFlags(int(i)), model[i].flags) << "slot " << i;
        if (model[i].flags == datapage::kSlotDeleted) {
            EXPECT_TRUE(e.rowBytes(int(i)).empty());
        } else {
            EXPECT_EQ(bytesOf(e.rowBytes(int(i))), model[i].bytes) << "slot " << i;
        }
        used += e.rowBytes(int(i)).size();
    }
    EXPECT_EQ(e.freeSpace(), kPageSize - used);
    // The reader's view agrees with the editor.
    auto view = DataPageView::parse(std::make_shared<PageBuffer>(e.page()), e.pageNumber());
    ASSERT_TRUE(view.isOk());
    for (size_t i = 0; i < model.size(); ++i)
        if (model[i].flags != datapage::kSlotDeleted) {
            EXPECT_EQ(bytesOf(view->rowBytes(int(i))), model[i].bytes);
        }
}

}  // namespace

TEST(DataPageEditor, FreshPageHeader)
{
    PageBuffer p = makeDataPage(24);
    EXPECT_EQ(p[page::kType], uint8_t(PageType::Data));
    EXPECT_EQ(p[page::kMarker], page::kMarkerValue);
    ByteReader r(p.data(), p.size());
    EXPECT_EQ(r.u16(datapage::kFreeSpace), kPageSize - datapage::kHeaderSize);
    EXPECT_EQ(r.u32(datapage::kOwner), 24u);
    EXPECT_EQ(r.u16(datapage::kSlotCount), 0);
    EXPECT_TRUE(checkDataPage(p, 5).isOk());
    PageBuffer lval = makeDataPage(datapage::kLongValueOwner);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(lval.data() + datapage::kOwner), 4), "LVAL");
}

// An editor's page as it hands it over passes the checks, and its slots
// are what parsing the page gives: a later editor may reopen the page with
// them instead of checking and parsing it.
void expectReopensAsParsed(const DataPageEditor& e)
{
    DataPageEditor spent = e;
    auto [bytes, slots] = std::move(spent).handOver();
    ASSERT_TRUE(checkDataPage(*bytes, 7, JetFormat::jet4()).isOk());
    auto parsed = DataPageEditor::open(*bytes, 7);
    ASSERT_TRUE(parsed.isOk());
    const DataPageEditor reopened = DataPageEditor::reopen(*bytes, 7, slots);
    ASSERT_EQ(reopened.slotCount(), parsed->slotCount());
    EXPECT_EQ(reopened.freeSpace(), parsed->freeSpace());
    EXPECT_EQ(reopened.page(), parsed->page());
    for (int i = 0; i < parsed->slotCount(); ++i) {
        EXPECT_EQ(reopened.slotFlags(i), parsed->slotFlags(i)) << i;
        const auto a = reopened.rowBytes(i), b = parsed->rowBytes(i);
        EXPECT_EQ(a.data() - reopened.page().data(), b.data() - parsed->page().data()) << i;
        EXPECT_EQ(a.size(), b.size()) << i;
    }
}

TEST(DataPageEditor, RandomSequencesFollowTheModel)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        DataPageEditor e = DataPageEditor::create(7, 24);
        std::vector<ModelSlot> model;
        for (int step = 0; step < 300; ++step) {
            int op = int(rng() % 6);
            size_t len = 4 + rng() % (rng() % 4 == 0 ? 900 : 120);
            uint8_t fill = uint8_t(rng());
            if (op <= 1 || model.empty()) {
                bool target = rng() % 5 == 0;
                bool fits = e.canAddRow(len);
                auto slot = target ? e.addOverflowTarget(rowOf(len, fill)) : e.addRow(rowOf(len, fill));
                ASSERT_EQ(slot.isOk(), fits);
                if (fits) model.push_back({rowOf(len, fill), target ? datapage::kSlotNotBaseRow : uint16_t(0)});
            } else {
                int s = int(rng() % model.size());
                ModelSlot& m = model[size_t(s)];
                bool live = m.flags == 0 || m.flags == datapage::kSlotNotBaseRow;
                if (op == 2 || op == 3) {
                    bool fits = e.canReplaceRow(s, len);
                    Status st = op == 2 ? e.replaceRow(s, rowOf(len, fill)) : e.replaceRowPadded(s, rowOf(len, fill), len / 2);
                    ASSERT_EQ(st.isOk(), live && fits) << st.toString();
                    if (st.isOk()) {
                        std::vector<uint8_t> expect = rowOf(len, fill);
                        if (op == 3 && len < m.bytes.size())
                            expect.insert(expect.begin() + long(len / 2), m.bytes.size() - len, 0);
                        m.bytes = expect;
                    }
                } else if (op == 4) {
                    ASSERT_TRUE(e.markDeleted(s).isOk());
                    m = {{}, datapage::kSlotDeleted};
                } else {
                    RowPointer to{99, uint8_t(rng() % 255)};
                    Status st = e.makeOverflowHeader(s, to);
                    bool allowed = m.flags == 0 || m.flags == datapage::kSlotLookup;
                    ASSERT_EQ(st.isOk(), allowed) << st.toString();
                    if (allowed) {
                        m.bytes.assign(4, 0);
                        putU32(m.bytes.data(), 0, to.toWord());
                        m.flags = datapage::kSlotLookup;
                    }
                }
            }
            expectMatches(e, model);
            expectReopensAsParsed(e);
            {
                DataPageEditor compacted = e;
                compacted.compact();
                EXPECT_EQ(compacted.page(), e.page()) << "step " << step;
            }
            if (HasFailure()) return;
        }
        e.compact();
        expectMatches(e, model);
    }
}

// A row that changes length moves the rows after it; the page comes out as
// compacting it would lay it out, whether it was compact before or held
// the bytes of a deleted row and stray bytes in its free space, as pages
// Access wrote do.
TEST(DataPageEditor, ARowChangingLengthLeavesThePageAsCompactingItWould)
{
    DataPageEditor e = DataPageEditor::create(3, 24);
    for (uint8_t i = 0; i < 6; ++i) ASSERT_TRUE(e.addRow(rowOf(40 + 10 * i, uint8_t(i * 20))).isOk());
    auto sameAsCompacted = [](const DataPageEditor& d) {
        DataPageEditor c = d;
        c.compact();
        return c.page() == d.page();
    };
    for (int slot = 0; slot < 6; ++slot)
        for (size_t len : {size_t(5), size_t(70), size_t(44)}) {
            ASSERT_TRUE(e.replaceRow(slot, rowOf(len, uint8_t(slot))).isOk());
            EXPECT_TRUE(sameAsCompacted(e)) << "slot " << slot << ", " << len << " bytes";
        }

    // Slot 2 deleted with its bytes left in place; stray bytes between the
    // slot table and the rows; both.
    const size_t word = datapage::kSlotTable + 2 * datapage::kSlotSize;
    PageBuffer keptBytes = e.page();
    putU16(keptBytes.data(), word, uint16_t(ByteReader(keptBytes.data(), keptBytes.size()).u16(word) | datapage::kSlotDeleted));
    PageBuffer stray = e.page();
    stray[datapage::kSlotTable + 6 * datapage::kSlotSize + 3] = 0x5A;
    PageBuffer both = keptBytes;
    both[datapage::kSlotTable + 6 * datapage::kSlotSize + 3] = 0x5A;
    for (const PageBuffer* loose : {&keptBytes, &stray, &both}) {
        auto opened = DataPageEditor::open(*loose, 3);
        ASSERT_TRUE(opened.isOk()) << opened.status().toString();
        EXPECT_FALSE(sameAsCompacted(*opened));
        for (int slot : {0, 4}) {
            for (size_t len : {size_t(12), size_t(90)}) {
                DataPageEditor tidy = *opened;
                tidy.compact();
                ASSERT_TRUE(tidy.replaceRow(slot, rowOf(len, 9)).isOk());
                DataPageEditor changed = *opened;
                ASSERT_TRUE(changed.replaceRow(slot, rowOf(len, 9)).isOk());
                EXPECT_EQ(changed.page(), tidy.page()) << "slot " << slot << ", " << len << " bytes";
                EXPECT_TRUE(sameAsCompacted(changed));
            }
        }
    }
}

TEST(DataPageEditor, SameLengthAndPaddedReplaceMoveNoOtherRow)
{
    DataPageEditor e = DataPageEditor::create(3, 24);
    ASSERT_TRUE(e.addRow(rowOf(50, 1)).isOk());
    ASSERT_TRUE(e.addRow(rowOf(60, 2)).isOk());
    ASSERT_TRUE(e.addRow(rowOf(70, 3)).isOk());
    PageBuffer before = e.page();
    ASSERT_TRUE(e.replaceRowPadded(1, rowOf(40, 9), 30).isOk());
    // Only the bytes of row 1 changed.
    for (size_t i = 0; i < kPageSize; ++i) {
        bool inRow1 = i >= size_t(kPageSize - 110) && i < size_t(kPageSize - 50);
        if (!inRow1) {
            ASSERT_EQ(before[i], e.page()[i]) << "offset " << i;
        }
    }
    auto row = bytesOf(e.rowBytes(1));
    ASSERT_EQ(row.size(), 60u);
    EXPECT_EQ(std::vector<uint8_t>(row.begin() + 30, row.begin() + 50), std::vector<uint8_t>(20, 0));
    EXPECT_EQ(e.freeSpace(), kPageSize - datapage::kHeaderSize - 6 - 180);
}

TEST(DataPageEditor, Limits)
{
    DataPageEditor e = DataPageEditor::create(3, 24);
    for (int i = 0; i < datapage::kMaxSlots; ++i) ASSERT_TRUE(e.addRow(rowOf(4, uint8_t(i))).isOk());
    EXPECT_FALSE(e.canAddRow(1));
    EXPECT_EQ(e.addRow(rowOf(4, 0)).status().code(), ErrorCode::InvalidArgument);

    DataPageEditor big = DataPageEditor::create(4, 24);
    EXPECT_TRUE(big.canAddRow(kPageSize - datapage::kHeaderSize - datapage::kSlotSize));
    EXPECT_FALSE(big.canAddRow(kPageSize - datapage::kHeaderSize - datapage::kSlotSize + 1));
    ASSERT_TRUE(big.addRow(rowOf(kPageSize - datapage::kHeaderSize - datapage::kSlotSize, 0)).isOk());
    EXPECT_EQ(big.freeSpace(), 0u);
    EXPECT_TRUE(checkDataPage(big.page(), 4).isOk());
    // Growing a row needs the room; a refused change leaves the page as it was.
    PageBuffer before = big.page();
    EXPECT_FALSE(big.replaceRow(0, rowOf(kPageSize, 0)).isOk());
    EXPECT_EQ(before, big.page());
    // Deleting the only row gives every byte back and leaves slot word 0xD000.
    ASSERT_TRUE(big.markDeleted(0).isOk());
    ByteReader r(big.page().data(), kPageSize);
    EXPECT_EQ(r.u16(datapage::kSlotTable), 0xD000);
    EXPECT_EQ(big.freeSpace(), kPageSize - datapage::kHeaderSize - datapage::kSlotSize);
    EXPECT_FALSE(big.replaceRow(0, rowOf(4, 0)).isOk());
    EXPECT_FALSE(big.makeOverflowHeader(0, {5, 1}).isOk());
}

TEST(DataPageEditor, CheckDataPageFindsDamage)
{
    DataPageEditor e = DataPageEditor::create(3, 24);
    ASSERT_TRUE(e.addRow(rowOf(50, 1)).isOk());
    ASSERT_TRUE(e.addRow(rowOf(60, 2)).isOk());
    struct Case {
        const char* what;
        size_t offset;
        uint16_t value;
    } cases[] = {
        {"free space", datapage::kFreeSpace, 1},
        {"slot count", datapage::kSlotCount, 300},
        {"increasing offsets", datapage::kSlotTable + 2, uint16_t(kPageSize - 20)},
        {"row inside slot table", datapage::kSlotTable + 2, 4},
        {"unknown flag", datapage::kSlotTable, uint16_t((kPageSize - 50) | datapage::kSlotUnknownFlag)},
        {"short overflow header", datapage::kSlotTable, uint16_t((kPageSize - 2) | datapage::kSlotLookup)},
        {"type", page::kType, uint16_t(PageType::IndexLeaf) | (page::kMarkerValue << 8)},
    };
    // Reading one row checks the page's whole slot table as the page's
    // reader does: a row is refused when any slot lies outside the rows.
    auto pager = test::makeMemoryDatabase();
    const uint32_t page = pager->pageCount();
    ASSERT_TRUE(pager->append(e.page()).isOk());
    for (int row : {0, 1}) {
        auto read = readRowAt(*pager, RowPointer{page, uint8_t(row)});
        ASSERT_TRUE(read.isOk()) << read.status().toString();
        EXPECT_EQ(bytesOf(read->bytes()), rowOf(row == 0 ? 50 : 60, uint8_t(row + 1)));
    }
    EXPECT_EQ(readRowAt(*pager, RowPointer{page, 2}).status().code(), ErrorCode::Corruption);
    // A memo of checked slot tables reads the same rows, and checks new
    // bytes of a page it has seen before again.
    SlotTableMemo memo;
    auto readBoth = [&](const char* what) {
        for (int pass = 0; pass < 2; ++pass)
            for (int row : {0, 1}) {
                auto read = memo.read(*pager, RowPointer{page, uint8_t(row)});
                ASSERT_TRUE(read.isOk()) << what << ": " << read.status().toString();
                EXPECT_EQ(bytesOf(read->bytes()), rowOf(row == 0 ? 50 : 60, uint8_t(row + 1))) << what;
            }
        EXPECT_EQ(memo.read(*pager, RowPointer{page, 2}).status().code(), ErrorCode::Corruption) << what;
    };
    readBoth("sound");
    for (const Case& c : cases) {
        PageBuffer bad = e.page();
        putU16(bad.data(), c.offset, c.value);
        EXPECT_EQ(checkDataPage(bad, 3).code(), ErrorCode::Corruption) << c.what;
        EXPECT_FALSE(DataPageEditor::open(bad, 3).isOk()) << c.what;
        const bool viewRefuses = !DataPageView::parse(std::make_shared<PageBuffer>(bad), page).isOk();
        ASSERT_TRUE(pager->write(page, bad).isOk());
        for (int row : {0, 1}) {
            EXPECT_EQ(readRowAt(*pager, RowPointer{page, uint8_t(row)}).isOk(), !viewRefuses) << c.what << ", row " << row;
            EXPECT_EQ(memo.read(*pager, RowPointer{page, uint8_t(row)}).isOk(), !viewRefuses) << c.what << ", row " << row;
        }
        ASSERT_TRUE(pager->write(page, e.page()).isOk());
        readBoth(c.what);
    }
}

TEST(DataPageEditor, EveryFixtureDataPagePassesAndRoundTrips)
{
    VK_REQUIRE_FIXTURES(dir);
    int pages = 0;
    for (const char* sub : {"jet4", "blank", "turkish"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            auto f = openPosixFile(file.string(), OpenMode::ReadOnly);
            ASSERT_TRUE(f.isOk());
            Pager pager(std::move(*f));
            for (uint32_t p = 1; p < pager.pageCount(); ++p) {
                auto page = pager.read(p);
                ASSERT_TRUE(page.isOk());
                if ((**page)[page::kType] != uint8_t(PageType::Data)) continue;
                // Free pages keep stale bytes; only pages that parse as data pages count.
                if (!DataPageView::parse(*page, p).isOk()) continue;
                ++pages;
                Status s = checkDataPage(**page, p);
                EXPECT_TRUE(s.isOk()) << file.filename() << ": " << s.toString();
                auto e = DataPageEditor::open(**page, p);
                ASSERT_EQ(e.isOk(), s.isOk());
                if (!e) continue;
                // Compacting keeps every live row's bytes and passes the check.
                auto view = DataPageView::parse(*page, p);
                e->compact();
                ASSERT_TRUE(checkDataPage(e->page(), p).isOk());
                for (int i = 0; i < view->slotCount(); ++i) {
                    uint16_t fl = view->slot(i).flags;
                    if (fl == 0 || fl == datapage::kSlotNotBaseRow) {
                        EXPECT_EQ(bytesOf(view->rowBytes(i)), bytesOf(e->rowBytes(i)));
                    }
                    EXPECT_EQ(e->slotFlags(i), fl);
                }
            }
        }
    }
    EXPECT_GT(pages, 1000);
}

#include "db/jet/index/index_page.h"
#include "index/index_fixture_util.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace varnika;
using namespace varnika::jet;

namespace {

IndexEntry entry(std::vector<uint8_t> key, uint32_t page, uint8_t row, uint32_t child = 0)
{
    return IndexEntry::make(key, RowId{page, row}, child);
}

// Leaf page 26 of testV2000.mdb (index on column B).
PageBuffer accessLeaf()
{
    PageBuffer p{};
    const uint8_t head[] = {0x04, 0x01, 0x08, 0x0e, 0x18, 0x00, 0x00, 0x00};
    std::copy(std::begin(head), std::end(head), p.begin());
    p[0x1B + 1] = 0x01;
    p[0x1B + 3] = 0x01;
    const uint8_t data[] = {0x7f, 0x4c, 0x01, 0x00, 0x00, 0x00, 0x1b, 0x01, 0x7f, 0x57, 0x59, 0x5b,
                            0x5c, 0x5e, 0x60, 0x62, 0x64, 0x66, 0x01, 0x00, 0x00, 0x00, 0x1b, 0x00};
    std::copy(std::begin(data), std::end(data), p.begin() + 480);
    return p;
}

}  // namespace

TEST(IndexPageCodec, DecodesAnAccessLeaf)
{
    auto p = decodeIndexPage(accessLeaf());
    ASSERT_TRUE(p.isOk()) << p.status().toString();
    EXPECT_TRUE(p->isLeaf());
    EXPECT_EQ(p->tdefPage, 24u);
    EXPECT_EQ(p->freeSpace, 3592);
    ASSERT_EQ(p->entries.size(), 2u);
    EXPECT_EQ(p->entries[0].rowId(), (RowId{27, 1}));
    EXPECT_EQ(p->entries[1].rowId(), (RowId{27, 0}));
    EXPECT_EQ(p->entries[1].key().size(), 12u);
    // Common prefix of the keys is the flag byte, so our encoding compresses it away.
    auto mine = encodeIndexPage(*p);
    ASSERT_TRUE(mine.isOk());
    auto again = decodeIndexPage(*mine);
    ASSERT_TRUE(again.isOk());
    EXPECT_EQ(again->entries, p->entries);
    EXPECT_EQ(again->prefixLength, 1);
    EXPECT_EQ(again->freeSpace, 3593);
    auto same = encodeIndexPageWithPrefix(*p, 0);
    ASSERT_TRUE(same.isOk());
    EXPECT_EQ(*same, accessLeaf());
}

TEST(IndexPageCodec, NodeEntriesWithPrefixRoundTrip)
{
    IndexPage node;
    node.type = indexlayout::kTypeNode;
    node.tdefPage = 9;
    node.prev = 3;
    node.next = 4;
    node.tail = 77;
    for (uint8_t i = 0; i < 50; ++i) node.entries.push_back(entry({0x80, 0x7f, 0xff, i}, 100 + i, i, 1000 + i));
    auto buf = encodeIndexPage(node);
    ASSERT_TRUE(buf.isOk());
    auto back = decodeIndexPage(*buf);
    ASSERT_TRUE(back.isOk()) << back.status().toString();
    EXPECT_EQ(back->prefixLength, 3);
    EXPECT_EQ(back->entries, node.entries);
    EXPECT_EQ(back->tail, 77u);
    EXPECT_EQ(back->prev, 3u);
    EXPECT_EQ(back->next, 4u);
    EXPECT_EQ(back->freeSpace, indexlayout::kMaxEntryData - encodedEntrySize(node.entries, true));
    // The prefix never reaches into the row pointer, even for equal keys.
    IndexPage same;
    same.entries = {entry({0x7f, 0x01}, 5, 1), entry({0x7f, 0x01}, 5, 2)};
    EXPECT_EQ(choosePrefixLength(same.entries), 2u);
    auto sb = encodeIndexPage(same);
    ASSERT_TRUE(sb.isOk());
    EXPECT_EQ(decodeIndexPage(*sb)->entries, same.entries);
}

TEST(IndexPageCodec, EmptyAndFullPages)
{
    IndexPage empty;
    auto e = encodeIndexPage(empty);
    ASSERT_TRUE(e.isOk());
    auto d = decodeIndexPage(*e);
    ASSERT_TRUE(d.isOk());
    EXPECT_TRUE(d->entries.empty());
    EXPECT_EQ(d->freeSpace, 3616);

    IndexPage full;
    // 452 entries of 8 bytes = 3616 bytes, no shared prefix (first byte varies).
    for (int i = 0; i < 452; ++i) full.entries.push_back(entry({uint8_t(i / 2), uint8_t(i % 2 ? 0x80 : 0x7f), 0x10, 0x20}, 1, 0));
    ASSERT_EQ(encodedEntrySize(full.entries, false), 3616u);
    auto f = encodeIndexPage(full);
    ASSERT_TRUE(f.isOk()) << f.status().toString();
    EXPECT_EQ(decodeIndexPage(*f)->entries.size(), 452u);
    full.entries.push_back(entry({0xF0, 0x7f, 0x10, 0x20}, 1, 0));
    EXPECT_EQ(encodeIndexPage(full).status().code(), ErrorCode::InvalidArgument);
}

TEST(IndexPageCodec, DamagedPagesAreErrorsNotCrashes)
{
    IndexPage node;
    node.type = indexlayout::kTypeNode;
    for (uint8_t i = 0; i < 40; ++i) node.entries.push_back(entry({0x7f, 0x40, i, 1, 2, 3}, i, i, i));
    const PageBuffer good = *encodeIndexPage(node);
    std::mt19937 rng(7);
    int failures = 0;
    for (int round = 0; round < 5000; ++round) {
        PageBuffer bad = good;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly hit the header and bitmap, where damage matters most.
            const size_t at = rng() % 2 ? rng() % 512 : rng() % kPageSize;
            bad[at] = uint8_t(rng());
        }
        auto r = decodeIndexPage(bad);
        if (!r) {
            EXPECT_EQ(r.status().code(), ErrorCode::Corruption);
            ++failures;
        }
    }
    EXPECT_GT(failures, 0);
    // Truncated pages, and bitmap bits in odd places.
    for (size_t n : {size_t(0), size_t(1), size_t(27), size_t(480), size_t(4095)})
        EXPECT_EQ(decodeIndexPage(std::span(good.data(), n)).status().code(), ErrorCode::Corruption);
    PageBuffer lateBit = good;
    lateBit[indexlayout::kBitmap + indexlayout::kBitmapSize - 1] = 0x80;
    EXPECT_FALSE(decodeIndexPage(lateBit).isOk());
    PageBuffer shortEntry{};
    shortEntry[0] = indexlayout::kTypeLeaf;
    shortEntry[indexlayout::kBitmap] = 0x08;  // a 3-byte entry: shorter than its row pointer
    EXPECT_FALSE(decodeIndexPage(shortEntry).isOk());
    PageBuffer longPrefix = *encodeIndexPage(IndexPage{indexlayout::kTypeLeaf, 0, 0, 0, 0, 0, 0, 0, 0,
                                                       {entry({0x7f, 1}, 1, 1), entry({0x7f, 2}, 1, 2)}});
    longPrefix[indexlayout::kPrefixLength] = 200;
    EXPECT_FALSE(decodeIndexPage(longPrefix).isOk());
}

// Every index page Access wrote decodes and, encoded again with Access's
// prefix length, gives the same bytes (header, bitmap and entry data; Access
// leaves old bytes after the data, which are not part of the page's content).
TEST(IndexPageFixtures, EveryIndexPageRoundTrips)
{
    VK_REQUIRE_FIXTURES(dir);
    size_t pages = 0, ownPrefixDiffers = 0;
    for (const char* sub : {"jet4", "turkish"}) {
        for (const auto& file : test::mdbFilesIn(dir / sub)) {
            const auto bytes = test::readWholeFile(file);
            for (size_t pg = 1; pg < bytes.size() / kPageSize; ++pg) {
                std::span<const uint8_t> page(bytes.data() + pg * kPageSize, kPageSize);
                if (page[0] != indexlayout::kTypeLeaf && page[0] != indexlayout::kTypeNode) continue;
                auto p = decodeIndexPage(page);
                ASSERT_TRUE(p.isOk()) << file << " page " << pg << ": " << p.status().toString();
                auto again = encodeIndexPageWithPrefix(*p, p->prefixLength);
                ASSERT_TRUE(again.isOk()) << file << " page " << pg;
                const size_t end = indexlayout::kEntryData + indexlayout::kMaxEntryData - p->freeSpace;
                EXPECT_TRUE(std::equal(page.begin(), page.begin() + long(end), again->begin()))
                    << file << " page " << pg;
                auto mine = encodeIndexPage(*p);
                ASSERT_TRUE(mine.isOk());
                auto mineBack = decodeIndexPage(*mine);
                ASSERT_TRUE(mineBack.isOk());
                EXPECT_EQ(mineBack->entries, p->entries) << file << " page " << pg;
                if (mineBack->prefixLength != p->prefixLength) ++ownPrefixDiffers;
                ++pages;
            }
        }
    }
    EXPECT_GT(pages, 500u);
    std::printf("[ index pages ] %zu pages; our prefix choice differs from Access's on %zu\n", pages, ownPrefixDiffers);
}

namespace {

// The prefix rule written out entry by entry: the first entry's common key
// prefix with each other entry, at most maxPrefix bytes.
size_t prefixEntryByEntry(const std::vector<IndexEntry>& entries, size_t maxPrefix)
{
    if (entries.size() < 2) return 0;
    size_t p = maxPrefix;
    const auto first = entries.front().key();
    for (size_t i = 1; i < entries.size(); ++i) {
        const auto k = entries[i].key();
        size_t n = 0;
        while (n < first.size() && n < k.size() && first[n] == k[n]) ++n;
        p = std::min(p, n);
    }
    return p;
}

}  // namespace

TEST(IndexPageCodec, PrefixOfRandomPagesMatchesTheRuleEntryByEntry)
{
    std::mt19937 rng(15);
    for (int round = 0; round < 2000; ++round) {
        // Keys over two byte values and of varied lengths, so that keys are
        // often prefixes of one another and row pointers repeat key bytes.
        std::vector<IndexEntry> entries;
        const size_t n = rng() % 12;
        for (size_t i = 0; i < n; ++i) {
            std::vector<uint8_t> key(1 + rng() % 6, 0x7f);
            for (size_t j = 1; j < key.size(); ++j) key[j] = uint8_t(0x7f + rng() % 2);
            entries.push_back(entry(key, 0x7f7f00 + rng() % 2, uint8_t(0x7f + rng() % 2)));
        }
        if (round % 2 == 0) std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.bytes < b.bytes; });
        EXPECT_EQ(choosePrefixLength(entries, 3), prefixEntryByEntry(entries, 3)) << "round " << round;
        const size_t want = prefixEntryByEntry(entries, SIZE_MAX);
        ASSERT_EQ(choosePrefixLength(entries), want) << "round " << round;
        IndexPage page;
        page.entries = entries;
        auto chosen = encodeIndexPage(page);
        auto given = encodeIndexPageWithPrefix(page, want);
        ASSERT_TRUE(chosen.isOk() && given.isOk());
        EXPECT_EQ(*chosen, *given);
        if (want > 0) {
            EXPECT_FALSE(encodeIndexPageWithPrefix(page, want + 1).isOk());
        }
    }
}

// A leaf changed by one entry is spliced from its old bytes; the result must
// be the bytes of encoding the changed entries, for every position, for
// short and long keys, on Access 97 and Jet 4 pages alike.
TEST(IndexPageCodec, SplicedLeafEqualsEncodedLeaf)
{
    std::mt19937 rng(11);
    size_t removals = 0, inserts = 0;
    for (const JetFormat* format : {&JetFormat::jet4(), &JetFormat::jet3()}) {
        for (int round = 0; round < 300; ++round) {
            const size_t keyLength = 4 + rng() % (round % 3 == 0 ? 40 : 4);  // room for enough distinct keys
            std::set<std::vector<uint8_t>> keys;
            const size_t count = 3 + rng() % 120;
            const std::vector<uint8_t> shared = {0x7F, uint8_t(rng() % 4)};
            while (keys.size() < count) {
                std::vector<uint8_t> k = shared;
                for (size_t i = 0; i < keyLength; ++i) k.push_back(uint8_t(rng() % 6));
                keys.insert(k);
            }
            IndexPage page;
            page.type = indexlayout::kTypeLeaf;
            page.tdefPage = 2;
            for (const auto& k : keys) page.entries.push_back(entry(k, 100 + uint32_t(rng() % 50), uint8_t(rng() % 4)));
            std::sort(page.entries.begin(), page.entries.end(), [](auto& a, auto& b) { return a.bytes < b.bytes; });
            if (encodedEntrySize(page.entries, false, format->maxIndexPrefix()) > format->index.maxEntryData) continue;
            auto before = encodeIndexPage(page, *format);
            ASSERT_TRUE(before.isOk());
            const size_t prefix = choosePrefixLength(page.entries, format->maxIndexPrefix());
            auto offsetOf = [&](const IndexPage& p, size_t pos) {
                size_t at = 0;
                for (size_t i = 0; i < pos; ++i) at += p.entries[i].bytes.size() - (i == 0 ? 0 : prefix);
                return at;
            };
            // The end marks tell where each entry starts.
            EXPECT_FALSE(leafEntryStart(*before, 0, *format));
            for (size_t n = 1; n < page.entries.size(); ++n)
                EXPECT_EQ(leafEntryStart(*before, n, *format), offsetOf(page, n)) << "entry " << n << " round " << round;
            EXPECT_EQ(leafEntryStart(*before, page.entries.size(), *format), offsetOf(page, page.entries.size()));
            EXPECT_FALSE(leafEntryStart(*before, page.entries.size() + 1, *format));

            // Take out the entry at pos (the first one too).
            IndexPage less = page;
            const size_t pos = rng() % page.entries.size();
            const size_t removed = less.entries[pos].bytes.size();
            less.entries.erase(less.entries.begin() + long(pos));
            if (choosePrefixLength(less.entries, format->maxIndexPrefix()) == prefix && less.entries.size() >= 2) {
                auto spliced = pos == 0 ? spliceLeafEntry(*before, 0, removed + less.entries[0].bytes.size() - prefix,
                                                          less.entries[0].bytes, *format)
                                        : spliceLeafEntry(*before, offsetOf(page, pos), removed - prefix, {}, *format);
                ASSERT_TRUE(spliced.isOk()) << spliced.status().toString();
                EXPECT_EQ(*spliced, *encodeIndexPage(less, *format)) << "removal at " << pos << " round " << round;
                ++removals;
            }

            // Add an entry after the first.
            std::vector<uint8_t> k = shared;
            for (size_t i = 0; i < keyLength; ++i) k.push_back(uint8_t(rng() % 6));
            IndexPage more = page;
            IndexEntry e = entry(k, 300, 1);
            auto at = std::lower_bound(more.entries.begin(), more.entries.end(), e,
                                       [](auto& a, auto& b) { return a.bytes < b.bytes; });
            const size_t added = size_t(at - more.entries.begin());
            more.entries.insert(at, e);
            if (added == 0 || choosePrefixLength(more.entries, format->maxIndexPrefix()) != prefix ||
                encodedEntrySize(more.entries, false, format->maxIndexPrefix()) > format->index.maxEntryData)
                continue;
            auto spliced = spliceLeafEntry(*before, offsetOf(page, added), 0, std::span(e.bytes).subspan(prefix), *format);
            ASSERT_TRUE(spliced.isOk()) << spliced.status().toString();
            EXPECT_EQ(*spliced, *encodeIndexPage(more, *format)) << "insert at " << added << " round " << round;
            ++inserts;
        }
    }
    EXPECT_GT(removals, 300u);
    EXPECT_GT(inserts, 300u);
}

TEST(IndexPageCodec, SpliceRefusesOffsetsOutsideTheLeaf)
{
    IndexPage page;
    page.type = indexlayout::kTypeLeaf;
    page.entries = {entry({0x7F, 1}, 100, 0), entry({0x7F, 2}, 100, 1)};
    auto bytes = encodeIndexPage(page);
    ASSERT_TRUE(bytes.isOk());
    const std::vector<uint8_t> one = {1};
    EXPECT_EQ(spliceLeafEntry(*bytes, 4000, 0, one, JetFormat::jet4()).status().code(), ErrorCode::Corruption);
    EXPECT_EQ(spliceLeafEntry(*bytes, 2, 100, {}, JetFormat::jet4()).status().code(), ErrorCode::Corruption);
    PageBuffer node = *bytes;
    node[indexlayout::kType] = indexlayout::kTypeNode;
    EXPECT_EQ(spliceLeafEntry(node, 2, 0, one, JetFormat::jet4()).status().code(), ErrorCode::Corruption);
}

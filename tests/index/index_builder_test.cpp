#include "db/jet/file/bytes.h"
#include "db/jet/database_creator.h"
#include "db/jet/index/index_builder.h"
#include "db/jet/index/key_codec.h"
#include "db/jet/page/usage_map.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace varnika::jet {
namespace {

struct Decoded {
    bool leaf = false;
    uint32_t prev = 0, next = 0, tail = 0;
    std::vector<std::vector<uint8_t>> entries;
};

Decoded decode(Pager& p, uint32_t page)
{
    auto ref = p.read(page);
    EXPECT_TRUE(ref.isOk());
    const PageBuffer& b = **ref;
    ByteReader r(b.data(), b.size());
    Decoded d;
    d.leaf = b[0] == uint8_t(PageType::IndexLeaf);
    d.prev = r.u32(indexlayout::kPrevPage);
    d.next = r.u32(indexlayout::kNextPage);
    d.tail = r.u32(indexlayout::kTailPage);
    size_t prefix = r.u16(indexlayout::kPrefixLength);
    size_t start = 0;
    for (size_t k = 1; k <= indexlayout::kMaxEntryData; ++k) {
        if (!(b[indexlayout::kBitmap + k / 8] & (1 << (k % 8)))) continue;
        std::vector<uint8_t> e(b.begin() + long(indexlayout::kEntryData + start), b.begin() + long(indexlayout::kEntryData + k));
        if (!d.entries.empty()) e.insert(e.begin(), d.entries.front().begin(), d.entries.front().begin() + long(prefix));
        d.entries.push_back(std::move(e));
        start = k;
    }
    EXPECT_EQ(r.u16(indexlayout::kFreeSpace), indexlayout::kMaxEntryData - start);
    return d;
}

// Checks the subtree at `page` and returns its last leaf entry; appends the
// leaves in order.
std::vector<uint8_t> walk(Pager& p, uint32_t page, std::vector<uint32_t>& leaves)
{
    Decoded d = decode(p, page);
    if (d.leaf) {
        leaves.push_back(page);
        return d.entries.empty() ? std::vector<uint8_t>() : d.entries.back();
    }
    std::vector<uint32_t> children;
    for (const auto& e : d.entries) children.push_back(ByteReader(e.data(), e.size()).u32be(e.size() - 4));
    if (d.tail) children.push_back(d.tail);
    EXPECT_TRUE(children.size() == 1 ? d.tail == 0 : d.tail != 0) << "tail rule on page " << page;
    std::vector<uint8_t> last;
    for (size_t i = 0; i < children.size(); ++i) {
        last = walk(p, children[i], leaves);
        if (i < d.entries.size()) {
            std::vector<uint8_t> expect(d.entries[i].begin(), d.entries[i].end() - 4);
            EXPECT_EQ(expect, last) << "node entry is not the last entry of its child";
        }
    }
    return last;
}

TEST(IndexBuilder, BuildsOrderedLinkedTreesOfAnySizeAtTheSameRoot)
{
    for (size_t count : {size_t(0), size_t(1), size_t(300), size_t(20000)}) {
        auto bytes = buildEmptyDatabase({});
        ASSERT_TRUE(bytes.isOk());
        Pager pager(std::make_unique<MemoryPageFile>(*bytes));
        auto def = TableDef::read(pager, 5);  // MSysRelationships: three empty indexes
        ASSERT_TRUE(def.isOk());
        const RealIndexDef& ix = def->realIndexes()[0];
        std::mt19937 rng{uint32_t(count)};
        std::vector<IndexKeyEntry> entries;
        std::set<std::vector<uint8_t>> expected;
        for (size_t i = 0; i < count; ++i) {
            IndexKeyEntry e;
            std::u16string text;
            for (int k = 0, n = int(rng() % 30); k < n; ++k) text.push_back(char16_t(u'a' + rng() % 26));
            ASSERT_TRUE(appendColumnKey(e.key, Variant::text(text), ColumnType::Text, true, TextCollation::GeneralLegacy).isOk());
            e.row = {uint32_t(100 + i / 100), uint8_t(i % 100)};
            expected.insert(leafEntryBytes(e));
            entries.push_back(std::move(e));
        }
        PageAllocator allocator(pager);
        ASSERT_TRUE(rebuildIndex(allocator, 5, ix, entries).isOk());
        std::vector<uint32_t> leaves;
        walk(pager, ix.rootPage, leaves);
        std::vector<std::vector<uint8_t>> got;
        for (size_t i = 0; i < leaves.size(); ++i) {
            Decoded d = decode(pager, leaves[i]);
            EXPECT_EQ(d.prev, i ? leaves[i - 1] : 0u);
            EXPECT_EQ(d.next, i + 1 < leaves.size() ? leaves[i + 1] : 0u);
            got.insert(got.end(), d.entries.begin(), d.entries.end());
        }
        EXPECT_EQ(got, std::vector<std::vector<uint8_t>>(expected.begin(), expected.end())) << count;
        // The walk over the leaves reads the same entries, and stops where the
        // visitor says so, with its own error.
        auto read = readIndexEntries(pager, ix.rootPage);
        ASSERT_TRUE(read.isOk()) << read.status().toString();
        EXPECT_EQ(*read, got) << count;
        if (count == 20000) {
            size_t seen = 0;
            Status stop = forEachIndexEntry(pager, ix.rootPage, [&](std::span<const uint8_t>) {
                return ++seen == 500 ? Status(ErrorCode::NotFound, "enough") : Status::ok();
            });
            EXPECT_EQ(stop.code(), ErrorCode::NotFound);
            EXPECT_EQ(stop.message(), "enough");
            EXPECT_EQ(seen, 500u);
            // A leaf whose bitmap marks an entry past the page's end.
            const PageBuffer original = **pager.read(leaves[3]);
            PageBuffer damaged = original;
            damaged[indexlayout::kBitmap + indexlayout::kBitmapSize - 1] |= 0x80;
            ASSERT_TRUE(pager.write(leaves[3], damaged).isOk());
            Status bad = forEachIndexEntry(pager, ix.rootPage, [](std::span<const uint8_t>) { return Status::ok(); });
            EXPECT_EQ(bad.code(), ErrorCode::Corruption);
            EXPECT_NE(bad.message().find("index page " + std::to_string(leaves[3])), std::string::npos) << bad.message();
            ASSERT_TRUE(pager.write(leaves[3], original).isOk());
        }
        auto map = UsageMap::load(pager, ix.usageMap);
        ASSERT_TRUE(map.isOk());
        EXPECT_TRUE(map->contains(ix.rootPage));
        if (count == 20000) {
            EXPECT_GT(map->count(), 50u);
        }

        // Rebuilding smaller gives the spare pages back.
        entries.resize(entries.size() / 10);
        ASSERT_TRUE(rebuildIndex(allocator, 5, ix, entries).isOk());
        auto after = UsageMap::load(pager, ix.usageMap);
        if (count == 20000) {
            EXPECT_LT(after->count(), map->count() / 5);
        }
    }
}

TEST(IndexBuilder, RefusesDuplicateKeysInAUniqueIndexButNotNulls)
{
    auto bytes = buildEmptyDatabase({});
    ASSERT_TRUE(bytes.isOk());
    Pager pager(std::make_unique<MemoryPageFile>(*bytes));
    auto def = TableDef::read(pager, 2);  // MSysObjects: Id is unique
    ASSERT_TRUE(def.isOk());
    RealIndexDef ix = def->realIndexes()[1];
    ASSERT_TRUE(ix.isUnique());
    PageAllocator allocator(pager);
    IndexKeyEntry a, b;
    ASSERT_TRUE(appendColumnKey(a.key, Variant::longValue(7), ColumnType::Long, true, TextCollation::General).isOk());
    b.key = a.key;
    a.row = {10, 1};
    b.row = {10, 2};
    EXPECT_EQ(rebuildIndex(allocator, 2, ix, {a, b}).code(), ErrorCode::Constraint);
    IndexKeyEntry n1, n2;
    n1.key = n2.key = {0x00};
    n1.allNull = n2.allNull = true;
    n1.row = {10, 3};
    n2.row = {10, 4};
    EXPECT_TRUE(rebuildIndex(allocator, 2, ix, {a, n1, n2}).isOk());
}

}  // namespace
}  // namespace varnika::jet

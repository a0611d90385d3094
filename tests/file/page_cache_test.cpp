#include "db/jet/file/page_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>

using namespace varnika::jet;

namespace {

PageRef pageOf(uint32_t page, uint8_t tag)
{
    auto b = std::make_shared<PageBuffer>();
    b->fill(tag);
    (*b)[0] = uint8_t(page);
    return b;
}

// The cache as a list, most recently used first.
struct Model {
    size_t limit;
    std::list<std::pair<uint32_t, PageRef>> pages;

    auto at(uint32_t page)
    {
        return std::find_if(pages.begin(), pages.end(), [&](const auto& p) { return p.first == page; });
    }
    const PageRef* find(uint32_t page)
    {
        auto it = at(page);
        if (it == pages.end()) return nullptr;
        pages.splice(pages.begin(), pages, it);
        return &pages.front().second;
    }
    void put(uint32_t page, PageRef bytes)
    {
        if (auto it = at(page); it != pages.end()) pages.erase(it);
        pages.emplace_front(page, std::move(bytes));
        if (pages.size() > limit) pages.pop_back();
    }
    void erase(uint32_t page)
    {
        if (auto it = at(page); it != pages.end()) pages.erase(it);
    }
    void eraseFrom(uint32_t first)
    {
        pages.remove_if([&](const auto& p) { return p.first >= first; });
    }
};

}  // namespace

// Random reads, puts, erases and cuts against a plain list of the same
// limit, on pages whose places in the table collide and wrap around its end:
// the cache holds exactly the pages the list holds, with the same bytes,
// and lets the same page go when full.
TEST(PageCache, KeepsTheMostRecentlyUsedPagesAsAListWould)
{
    for (size_t limit : {1u, 2u, 3u, 7u, 64u}) {
        std::mt19937 rng{static_cast<unsigned>(limit)};
        PageCache cache(limit);
        Model model{limit, {}};
        // Few pages, so that they come back; some far apart, so that their
        // places in the table are anywhere.
        const uint32_t range = uint32_t(limit * 3 + 2);
        auto anyPage = [&] { return rng() % 4 == 0 ? uint32_t(rng() % 500000) : uint32_t(rng() % range); };
        for (int step = 0; step < 4000; ++step) {
            const uint32_t page = anyPage();
            switch (rng() % 6) {
            case 0:
            case 1: {
                const PageRef* got = cache.find(page);
                const PageRef* want = model.find(page);
                ASSERT_EQ(got != nullptr, want != nullptr) << "limit " << limit << " step " << step << " page " << page;
                if (want) {
                    ASSERT_EQ(*got, *want);
                }
                break;
            }
            case 2:
            case 3: {
                PageRef bytes = pageOf(page, uint8_t(step));
                cache.put(page, bytes);
                model.put(page, bytes);
                break;
            }
            case 4:
                cache.erase(page);
                model.erase(page);
                break;
            case 5:
                if (rng() % 8 == 0) {
                    const uint32_t first = uint32_t(rng() % range);
                    cache.eraseFrom(first);
                    model.eraseFrom(first);
                }
                break;
            }
            ASSERT_EQ(cache.size(), model.pages.size());
            ASSERT_LE(cache.size(), limit);
        }
        // Every page the list holds is found, and no other.
        for (const auto& [page, bytes] : std::list(model.pages)) {
            const PageRef* got = cache.find(page);
            ASSERT_NE(got, nullptr) << "page " << page;
            EXPECT_EQ(*got, bytes);
        }
        for (uint32_t page = 0; page < range; ++page)
            if (model.at(page) == model.pages.end()) {
                EXPECT_EQ(cache.find(page), nullptr) << "page " << page;
            }
    }
}

// A page pushed out leaves its buffer for the next read only when nobody
// else holds its bytes: bytes handed out stay as they were.
TEST(PageCache, APagePushedOutLeavesItsBufferOnlyWhenNobodyHoldsIt)
{
    PageCache cache(2);
    PageRef held = pageOf(1, 0x11);
    cache.put(1, held);
    cache.put(2, pageOf(2, 0x22));
    cache.put(3, pageOf(3, 0x33));  // page 1 goes, still held by `held`
    EXPECT_EQ(cache.takeSpare(), nullptr);
    EXPECT_EQ((*held)[1], 0x11);
    const PageBuffer* second = cache.find(2)->get();
    cache.put(4, pageOf(4, 0x44));  // page 3 goes; page 2 was used more recently
    EXPECT_NE(cache.find(2), nullptr);
    EXPECT_EQ(cache.find(3), nullptr);
    cache.put(5, pageOf(5, 0x55));  // page 4 goes, held by nobody
    std::shared_ptr<PageBuffer> spare = cache.takeSpare();
    ASSERT_NE(spare, nullptr);
    EXPECT_EQ((*spare)[1], 0x44);
    EXPECT_NE(spare.get(), second);
    // Page 3 went held by nobody too; each buffer is handed out once.
    std::shared_ptr<PageBuffer> earlier = cache.takeSpare();
    ASSERT_NE(earlier, nullptr);
    EXPECT_EQ((*earlier)[1], 0x33);
    EXPECT_EQ(cache.takeSpare(), nullptr) << "a spare is handed out once";
}

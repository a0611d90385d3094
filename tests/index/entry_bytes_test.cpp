#include "db/jet/index/entry_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

using namespace varnika::jet;

namespace {

std::vector<uint8_t> bytesOf(const EntryBytes& b) { return {b.begin(), b.end()}; }

std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng() % 3);  // few values: long common prefixes
    return v;
}

}  // namespace

// Every change is made to a vector alongside, on both sides of the size held
// in place, and the two must hold the same bytes and compare alike.
TEST(EntryBytes, BehavesAsAByteVectorInPlaceAndOnTheHeap)
{
    std::mt19937 rng(7);
    const size_t sizes[] = {0, 1, 5, EntryBytes::kInline - 1, EntryBytes::kInline, EntryBytes::kInline + 1, 200};
    std::vector<std::vector<uint8_t>> models;
    std::vector<EntryBytes> held;
    for (int round = 0; round < 400; ++round) {
        const size_t n = sizes[rng() % std::size(sizes)];
        std::vector<uint8_t> model = randomBytes(rng, n);
        EntryBytes b(model);
        switch (rng() % 6) {
        case 0: {  // grows past the inline size a byte at a time
            const size_t more = rng() % 60;
            for (size_t i = 0; i < more; ++i) {
                b.push_back(uint8_t(i));
                model.push_back(uint8_t(i));
            }
            break;
        }
        case 1: {  // assigned from a part of itself
            const size_t from = n ? rng() % n : 0;
            b.assign(b.begin() + from, b.end());
            model.assign(model.begin() + long(from), model.end());
            break;
        }
        case 2: {  // moved out of, and the source used again
            EntryBytes moved(std::move(b));
            EXPECT_TRUE(b.empty());
            b = std::move(moved);
            EXPECT_TRUE(moved.empty());
            moved.push_back(9);
            EXPECT_EQ(bytesOf(moved), std::vector<uint8_t>{9});
            break;
        }
        case 3: {  // copied and assigned to itself
            EntryBytes copy(b);
            b = copy;
            const EntryBytes& same = b;
            b = same;
            break;
        }
        case 4: {  // resized both ways, new bytes zero
            const size_t to = rng() % 100;
            b.resize(to);
            model.resize(to);
            break;
        }
        default: {  // a move assignment over bytes of any size
            EntryBytes other(randomBytes(rng, sizes[rng() % std::size(sizes)]));
            other = std::move(b);
            b = std::move(other);
            break;
        }
        }
        ASSERT_EQ(bytesOf(b), model) << "round " << round;
        ASSERT_EQ(b.size(), model.size());
        if (!model.empty()) {
            ASSERT_EQ(b.back(), model.back());
        }
        models.push_back(model);
        held.push_back(std::move(b));
    }
    // Ordered and equal exactly as the vectors are.
    for (size_t i = 0; i < models.size(); i += 3)
        for (size_t j = 0; j < models.size(); j += 5) {
            ASSERT_EQ(held[i] < held[j], models[i] < models[j]) << i << " " << j;
            ASSERT_EQ(held[i] == held[j], models[i] == models[j]) << i << " " << j;
            ASSERT_EQ(held[i] < models[j], models[i] < models[j]) << i << " " << j;
            ASSERT_EQ(models[i] < held[j], models[i] < models[j]) << i << " " << j;
        }
    // Shifting a vector of them, as a leaf's entries shift, keeps each one.
    std::vector<EntryBytes> shifted(held.begin(), held.begin() + 50);
    std::vector<std::vector<uint8_t>> expected(models.begin(), models.begin() + 50);
    shifted.erase(shifted.begin() + 3);
    expected.erase(expected.begin() + 3);
    shifted.insert(shifted.begin() + 10, EntryBytes(randomBytes(rng, 100)));
    expected.insert(expected.begin() + 10, bytesOf(shifted[10]));
    for (size_t i = 0; i < shifted.size(); ++i) ASSERT_EQ(bytesOf(shifted[i]), expected[i]) << i;
}

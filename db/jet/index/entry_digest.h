#pragma once
// An order-free digest of a set of index entries: two independent 64-bit
// hashes of each entry, summed, and the count. Comparing the entries an
// index holds with the ones its rows make needs no memory for the entries,
// which a table of millions of rows cannot spare.

#include <cstdint>
#include <span>

namespace varnika::jet {

struct EntryDigest {
    uint64_t count = 0;
    uint64_t sumA = 0;
    uint64_t sumB = 0;

    static uint64_t mix(uint64_t z)
    {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    void add(std::span<const uint8_t> entry)
    {
        uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL ^ entry.size();
        for (uint8_t byte : entry) {
            a = (a ^ byte) * 0x100000001b3ULL;
            b = mix(b + byte + 1);
        }
        ++count;
        sumA += mix(a);
        sumB += b;
    }
    friend bool operator==(const EntryDigest&, const EntryDigest&) = default;
};

}  // namespace varnika::jet

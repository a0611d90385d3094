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
    // The first hash takes the entry a byte at a time (FNV-1a), the second
    // eight bytes at a time, each word mixed in whole.
    void add(std::span<const uint8_t> entry)
    {
        uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL ^ entry.size();
        for (uint8_t byte : entry) a = (a ^ byte) * 0x100000001b3ULL;
        size_t at = 0;
        for (; at + 8 <= entry.size(); at += 8) {
            uint64_t word = 0;
            for (size_t k = 0; k < 8; ++k) word |= uint64_t(entry[at + k]) << (8 * k);
            b = mix(b + word + 1);
        }
        if (at < entry.size()) {
            uint64_t word = 0;
            for (size_t k = 0; at + k < entry.size(); ++k) word |= uint64_t(entry[at + k]) << (8 * k);
            b = mix(b + word + 1);
        }
        ++count;
        sumA += mix(a);
        sumB += b;
    }
    friend bool operator==(const EntryDigest&, const EntryDigest&) = default;
};

}  // namespace varnika::jet

#pragma once
// An order-free digest of a set of index entries: two independent 64-bit
// hashes of each entry, summed, and the count. It lives in memory only:
// both sides of a comparison are made by the same code. Comparing the entries an
// index holds with the ones its rows make needs no memory for the entries,
// which a table of millions of rows cannot spare.

#include <cstdint>
#include <cstring>
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
    // A second finalizer, of other constants and shifts.
    static uint64_t mixOther(uint64_t z)
    {
        z = (z ^ (z >> 33)) * 0xff51afd7ed558ccdULL;
        z = (z ^ (z >> 33)) * 0xc4ceb9fe1a85ec53ULL;
        return z ^ (z >> 33);
    }
    // Both hashes take the entry eight bytes at a time (the last word
    // padded with zeros; the length seeds them), each chained through its
    // own finalizer.
    void add(std::span<const uint8_t> entry)
    {
        uint64_t a = 0xcbf29ce484222325ULL ^ entry.size(), b = 0x84222325cbf29ce4ULL ^ entry.size();
        const uint8_t* p = entry.data();
        const size_t n = entry.size();
        size_t at = 0;
        for (; at + 8 <= n; at += 8) {
            uint64_t word;
            std::memcpy(&word, p + at, 8);
            a = mixOther(a ^ word);
            b = mix(b + word + 1);
        }
        if (at < n) {
            uint64_t word = 0;
            std::memcpy(&word, p + at, n - at);
            a = mixOther(a ^ word);
            b = mix(b + word + 1);
        }
        ++count;
        sumA += mix(a);
        sumB += b;
    }
    // The digest of both sets of entries together.
    EntryDigest& operator+=(const EntryDigest& other)
    {
        count += other.count;
        sumA += other.sumA;
        sumB += other.sumB;
        return *this;
    }
    friend bool operator==(const EntryDigest&, const EntryDigest&) = default;
};

}  // namespace varnika::jet

#pragma once
// The checksum both journals use to find torn or stale bytes: FNV-1a over
// 64-bit words (then the tail bytes), each word mixed before it is added.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnika::jet {

constexpr uint64_t kJournalChecksumStart = 0xcbf29ce484222325ULL;

inline uint64_t journalChecksum(uint64_t h, const uint8_t* p, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        w *= 0x9e3779b97f4a7c15ULL;
        h = (h ^ (w ^ (w >> 32))) * 0x100000001b3ULL;
    }
    for (; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

}  // namespace varnika::jet

#pragma once
// The entries an index is built from, packed: each entry is its bytes
// (key ‖ row id), held in blocks of a megabyte, and 8 bytes of place, so
// that an index over millions of records is built in tens of megabytes,
// not a vector per entry, and growing never copies the bytes held.

#include "db/jet/index/index_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace varnika::jet {

class IndexEntryList {
public:
    static constexpr size_t kDefaultBlockSize = size_t(1) << 20;

    // `blockSize` is for tests that cross many blocks with few entries.
    explicit IndexEntryList(size_t blockSize = kDefaultBlockSize) : m_blockSize(blockSize) {}

    // Room for `entries` places, when their number is known ahead.
    void reserve(size_t entries) { m_at.reserve(entries); }

    // Adds key ‖ row id.
    void add(std::span<const uint8_t> key, RowId row)
    {
        uint8_t* to = place(key.size() + indexlayout::kRowIdSize);
        if (!to) return;
        if (!key.empty()) std::memcpy(to, key.data(), key.size());
        to += key.size();
        to[0] = uint8_t(row.page >> 16);
        to[1] = uint8_t(row.page >> 8);
        to[2] = uint8_t(row.page);
        to[3] = row.row;
    }
    // Adds an entry's bytes as they are (key ‖ row id).
    void addBytes(std::span<const uint8_t> entry)
    {
        uint8_t* to = place(entry.size());
        if (to && !entry.empty()) std::memcpy(to, entry.data(), entry.size());
    }

    size_t size() const { return m_at.size(); }
    bool empty() const { return m_at.empty(); }
    // The memory the entries take: their blocks and their places.
    size_t memoryHeld() const { return m_blocks.size() * m_blockSize + m_at.capacity() * sizeof(At); }
    // False once an entry was left out: one larger than a block, or bytes
    // held past 4 GB, where the places stop (more than any key a 2 GB file
    // makes).
    bool complete() const { return !m_overflow; }

    // The whole entry, and its key (the entry without its row id).
    std::span<const uint8_t> operator[](size_t i) const { return {bytesAt(m_at[i]), m_at[i].size}; }
    std::span<const uint8_t> key(size_t i) const
    {
        const auto e = (*this)[i];
        return e.first(e.size() >= indexlayout::kRowIdSize ? e.size() - indexlayout::kRowIdSize : 0);
    }

    // Into the order of their bytes, as a leaf chain holds them.
    void sort()
    {
        if (m_sorted) return;
        std::sort(m_at.begin(), m_at.end(), [this](const At& a, const At& b) {
            const int c = std::memcmp(bytesAt(a), bytesAt(b), std::min(a.size, b.size));
            return c != 0 ? c < 0 : a.size < b.size;
        });
        m_sorted = true;
    }

private:
    struct At {
        uint32_t offset;  // block × block size + where in the block
        uint32_t size;
    };

    const uint8_t* bytesAt(const At& at) const
    {
        return m_blocks[at.offset / m_blockSize].get() + at.offset % m_blockSize;
    }

    // Where `n` bytes of a new entry go (an entry never spans two blocks),
    // its place recorded; null when the entry cannot be held.
    uint8_t* place(size_t n)
    {
        if (m_overflow) return nullptr;
        if (m_blocks.empty() || m_used + n > m_blockSize) {
            if (n > m_blockSize || (m_blocks.size() + 1) * m_blockSize > UINT32_MAX) {
                m_overflow = true;
                return nullptr;
            }
            m_blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(m_blockSize));
            m_used = 0;
        }
        m_at.push_back({uint32_t((m_blocks.size() - 1) * m_blockSize + m_used), uint32_t(n)});
        uint8_t* to = m_blocks.back().get() + m_used;
        m_used += n;
        m_sorted = m_at.size() == 1;
        return to;
    }

    size_t m_blockSize;
    std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
    size_t m_used = 0;  // bytes taken in the last block
    std::vector<At> m_at;
    bool m_sorted = true;
    bool m_overflow = false;
};

}  // namespace varnika::jet

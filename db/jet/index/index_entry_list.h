#pragma once
// The entries an index is built from, packed in one buffer: each entry is
// its bytes (key ‖ row id) and 8 bytes of place, so that an index over
// millions of records is built in tens of megabytes, not a vector per
// entry.

#include "db/jet/index/index_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace varnika::jet {

class IndexEntryList {
public:
    // Adds key ‖ row id.
    void add(std::span<const uint8_t> key, RowId row)
    {
        if (!room(key.size() + indexlayout::kRowIdSize)) return;
        m_at.push_back({uint32_t(m_bytes.size()), uint32_t(key.size() + indexlayout::kRowIdSize)});
        m_bytes.insert(m_bytes.end(), key.begin(), key.end());
        m_bytes.insert(m_bytes.end(), {uint8_t(row.page >> 16), uint8_t(row.page >> 8), uint8_t(row.page), row.row});
        m_sorted = false;
    }
    // Adds an entry's bytes as they are (key ‖ row id).
    void addBytes(std::span<const uint8_t> entry)
    {
        if (!room(entry.size())) return;
        m_at.push_back({uint32_t(m_bytes.size()), uint32_t(entry.size())});
        m_bytes.insert(m_bytes.end(), entry.begin(), entry.end());
        m_sorted = false;
    }

    size_t size() const { return m_at.size(); }
    bool empty() const { return m_at.empty(); }
    // False once an entry was left out because the bytes held would pass
    // 4 GB, where the places stop (more than any key a 2 GB file makes).
    bool complete() const { return !m_overflow; }

    // The whole entry, and its key (the entry without its row id).
    std::span<const uint8_t> operator[](size_t i) const { return {m_bytes.data() + m_at[i].offset, m_at[i].size}; }
    std::span<const uint8_t> key(size_t i) const
    {
        const auto e = (*this)[i];
        return e.first(e.size() >= indexlayout::kRowIdSize ? e.size() - indexlayout::kRowIdSize : 0);
    }

    // Into the order of their bytes, as a leaf chain holds them.
    void sort()
    {
        if (m_sorted) return;
        const uint8_t* base = m_bytes.data();
        std::sort(m_at.begin(), m_at.end(), [base](const At& a, const At& b) {
            const int c = std::memcmp(base + a.offset, base + b.offset, std::min(a.size, b.size));
            return c != 0 ? c < 0 : a.size < b.size;
        });
        m_sorted = true;
    }

private:
    bool room(size_t more)
    {
        if (m_bytes.size() + more > UINT32_MAX) m_overflow = true;
        return !m_overflow;
    }

    struct At {
        uint32_t offset;
        uint32_t size;
    };
    std::vector<uint8_t> m_bytes;
    std::vector<At> m_at;
    bool m_sorted = true;
    bool m_overflow = false;
};

}  // namespace varnika::jet

#pragma once
// The bytes of one index entry (key ‖ row id). A leaf holds hundreds of
// entries and a run decodes thousands of leaves: keys of up to kInline
// bytes, nearly all of them, are held in place, with no allocation of
// their own; longer ones go to the heap. Compares as std::vector<uint8_t>
// compares: byte by byte, a shorter key that begins a longer one first.

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

namespace varnika::jet {

class EntryBytes {
public:
    static constexpr size_t kInline = 48;

    EntryBytes() = default;
    EntryBytes(std::span<const uint8_t> bytes) { assign(bytes.data(), bytes.size()); }
    EntryBytes(const std::vector<uint8_t>& bytes) { assign(bytes.data(), bytes.size()); }
    EntryBytes(std::initializer_list<uint8_t> bytes) { assign(bytes.begin(), bytes.size()); }
    EntryBytes(const EntryBytes& other) { assign(other.data(), other.size()); }
    EntryBytes(EntryBytes&& other) noexcept { take(other); }
    EntryBytes& operator=(const EntryBytes& other)
    {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    // A leaf's entries shift by one place on every insert and removal, a
    // move assignment each: kept to a few moves and no call.
    EntryBytes& operator=(EntryBytes&& other) noexcept
    {
        if (this == &other) return *this;
        if (onHeap()) delete[] m_storage.heap;
        take(other);
        return *this;
    }
    EntryBytes& operator=(std::span<const uint8_t> bytes)
    {
        assign(bytes.data(), bytes.size());
        return *this;
    }
    EntryBytes& operator=(const std::vector<uint8_t>& bytes) { return *this = std::span<const uint8_t>(bytes); }
    ~EntryBytes() { release(); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const uint8_t* data() const { return onHeap() ? m_storage.heap : m_storage.bytes; }
    uint8_t* data() { return onHeap() ? m_storage.heap : m_storage.bytes; }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + m_size; }
    uint8_t* begin() { return data(); }
    uint8_t* end() { return data() + m_size; }
    uint8_t operator[](size_t i) const { return data()[i]; }
    uint8_t& operator[](size_t i) { return data()[i]; }
    uint8_t back() const { return data()[m_size - 1]; }
    uint8_t& back() { return data()[m_size - 1]; }

    operator std::span<const uint8_t>() const { return {data(), m_size}; }
    operator std::vector<uint8_t>() const { return {begin(), end()}; }

    void clear() { m_size = 0; }
    void reserve(size_t n)
    {
        if (n <= m_capacity) return;
        uint8_t* grown = new uint8_t[n];
        const uint32_t size = m_size;
        if (size) std::memcpy(grown, data(), size);
        release();
        m_storage.heap = grown;
        m_capacity = uint32_t(n);
        m_size = size;
    }
    void resize(size_t n)
    {
        reserve(n);
        if (n > m_size) std::memset(data() + m_size, 0, n - m_size);
        m_size = uint32_t(n);
    }
    void assign(const uint8_t* bytes, size_t n)
    {
        if (n > m_capacity) {
            clear();
            reserve(n);
        }
        if (n) std::memmove(data(), bytes, n);
        m_size = uint32_t(n);
    }
    template <std::contiguous_iterator It>
    void assign(It first, It last)
    {
        assign(std::to_address(first), size_t(last - first));
    }
    void append(const uint8_t* bytes, size_t n)
    {
        if (m_size + n > m_capacity) reserve(std::max(m_size + n, size_t(m_capacity) * 2));
        if (n) std::memcpy(data() + m_size, bytes, n);
        m_size += uint32_t(n);
    }
    void push_back(uint8_t b) { append(&b, 1); }

    friend bool operator==(const EntryBytes& a, const EntryBytes& b) { return equal(a, b); }
    friend std::strong_ordering operator<=>(const EntryBytes& a, const EntryBytes& b) { return compare(a, b); }
    friend bool operator==(const EntryBytes& a, const std::vector<uint8_t>& b) { return equal(a, b); }
    friend std::strong_ordering operator<=>(const EntryBytes& a, const std::vector<uint8_t>& b) { return compare(a, b); }

private:
    static bool equal(std::span<const uint8_t> a, std::span<const uint8_t> b)
    {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
    }
    static std::strong_ordering compare(std::span<const uint8_t> a, std::span<const uint8_t> b)
    {
        const size_t n = std::min(a.size(), b.size());
        if (n) {
            const int c = std::memcmp(a.data(), b.data(), n);
            if (c != 0) return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
        }
        return a.size() <=> b.size();
    }
    bool onHeap() const { return m_capacity > kInline; }
    void release()
    {
        if (onHeap()) delete[] m_storage.heap;
        m_capacity = kInline;
        m_size = 0;
    }
    // Takes `other`'s bytes and leaves it empty.
    void take(EntryBytes& other)
    {
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        // The whole buffer, a fixed size: the bytes held in place, or the
        // heap pointer at its start.
        std::memcpy(&m_storage, &other.m_storage, sizeof m_storage);
        other.m_size = 0;
        other.m_capacity = kInline;
    }

    uint32_t m_size = 0;
    uint32_t m_capacity = kInline;  // more than kInline: the bytes are on the heap
    union Storage {
        uint8_t bytes[kInline] = {};
        uint8_t* heap;
    } m_storage;
};

}  // namespace varnika::jet

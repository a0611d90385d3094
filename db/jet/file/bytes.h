#pragma once
// Checked access to bytes read from a file. Every read from a page goes
// through ByteReader: an out-of-range read returns 0 and marks the reader
// failed, so a damaged file can be decoded step by step and checked once with
// ok(), without ever touching memory outside the buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace varnika::jet {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit ByteReader(std::span<const uint8_t> s) : m_data(s.data()), m_size(s.size()) {}

    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }
    bool ok() const { return m_ok; }
    void fail() { m_ok = false; }
    bool has(size_t offset, size_t length) const { return offset <= m_size && length <= m_size - offset; }

    uint8_t u8(size_t off) { return check(off, 1) ? m_data[off] : 0; }
    uint16_t u16(size_t off) { return check(off, 2) ? uint16_t(m_data[off] | (m_data[off + 1] << 8)) : 0; }
    uint32_t u24(size_t off)
    {
        return check(off, 3) ? uint32_t(m_data[off]) | (uint32_t(m_data[off + 1]) << 8) | (uint32_t(m_data[off + 2]) << 16) : 0;
    }
    uint32_t u32(size_t off)
    {
        if (!check(off, 4)) return 0;
        return uint32_t(m_data[off]) | (uint32_t(m_data[off + 1]) << 8) | (uint32_t(m_data[off + 2]) << 16) |
               (uint32_t(m_data[off + 3]) << 24);
    }
    uint64_t u64(size_t off)
    {
        if (!check(off, 8)) return 0;
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | m_data[off + i];
        return v;
    }
    int16_t i16(size_t off) { return int16_t(u16(off)); }
    int32_t i32(size_t off) { return int32_t(u32(off)); }
    int64_t i64(size_t off) { return int64_t(u64(off)); }
    uint32_t u24be(size_t off)
    {
        return check(off, 3) ? (uint32_t(m_data[off]) << 16) | (uint32_t(m_data[off + 1]) << 8) | m_data[off + 2] : 0;
    }
    uint32_t u32be(size_t off) { return check(off, 4) ? (u24be(off) << 8) | m_data[off + 3] : 0; }
    float f32(size_t off)
    {
        uint32_t b = u32(off);
        float f;
        std::memcpy(&f, &b, 4);
        return f;
    }
    double f64(size_t off)
    {
        uint64_t b = u64(off);
        double d;
        std::memcpy(&d, &b, 8);
        return d;
    }
    // The bytes [off, off+length), or an empty span (and failure) when out of range.
    std::span<const uint8_t> bytes(size_t off, size_t length)
    {
        if (!check(off, length)) return {};
        return {m_data + off, length};
    }
    // A reader over [off, off+length); failed and empty when out of range.
    ByteReader sub(size_t off, size_t length)
    {
        if (!check(off, length)) {
            ByteReader r;
            r.m_ok = false;
            return r;
        }
        return ByteReader(m_data + off, length);
    }

private:
    bool check(size_t off, size_t length)
    {
        if (has(off, length)) return true;
        m_ok = false;
        return false;
    }

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    bool m_ok = true;
};

// Little-endian stores into buffers the engine owns and has sized itself.
inline void putU8(uint8_t* p, size_t off, uint8_t v) { p[off] = v; }
inline void putU16(uint8_t* p, size_t off, uint16_t v)
{
    p[off] = uint8_t(v);
    p[off + 1] = uint8_t(v >> 8);
}
inline void putU24(uint8_t* p, size_t off, uint32_t v)
{
    p[off] = uint8_t(v);
    p[off + 1] = uint8_t(v >> 8);
    p[off + 2] = uint8_t(v >> 16);
}
inline void putU32(uint8_t* p, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[off + i] = uint8_t(v >> (8 * i));
}
inline void putU64(uint8_t* p, size_t off, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[off + i] = uint8_t(v >> (8 * i));
}
inline void putU24be(uint8_t* p, size_t off, uint32_t v)
{
    p[off] = uint8_t(v >> 16);
    p[off + 1] = uint8_t(v >> 8);
    p[off + 2] = uint8_t(v);
}
inline void putU32be(uint8_t* p, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[off + i] = uint8_t(v >> (8 * (3 - i)));
}

}  // namespace varnika::jet

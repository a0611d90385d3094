#pragma once
// A vector that also keeps room at its front, for the entries of a decoded
// index page. A run takes entries out of a leaf and puts new ones in one at
// a time, and each change moves the entries on the nearer side of it. A run
// in row order over one key takes out a leaf's first entry again and again:
// that moves none. Otherwise it is used as a std::vector.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace varnika::jet {

// Whether an entry may change places by a copy of its bytes, the place it
// left then being just bytes: true of a type that holds no pointer into
// itself and that nothing else points into. Such entries shift by one
// block copy instead of one move each.
template <class Entry>
struct MovesAsBytes : std::bool_constant<std::is_trivially_copyable_v<Entry>> {};

template <class Entry>
class FrontRoomVector {
public:
    using value_type = Entry;
    using size_type = size_t;
    using difference_type = std::ptrdiff_t;
    using reference = Entry&;
    using const_reference = const Entry&;
    using pointer = Entry*;
    using const_pointer = const Entry*;
    using iterator = Entry*;
    using const_iterator = const Entry*;

    FrontRoomVector() = default;
    FrontRoomVector(std::initializer_list<Entry> entries) : m_items(entries) {}
    FrontRoomVector(std::vector<Entry> entries) : m_items(std::move(entries)) {}
    FrontRoomVector(const FrontRoomVector& other) : m_items(other.begin(), other.end()) {}
    FrontRoomVector(FrontRoomVector&& other) noexcept : m_items(std::move(other.m_items)), m_front(other.m_front)
    {
        other.m_items.clear();
        other.m_front = 0;
    }
    FrontRoomVector& operator=(const FrontRoomVector& other)
    {
        if (this != &other) assign(other.begin(), other.end());
        return *this;
    }
    FrontRoomVector& operator=(FrontRoomVector&& other) noexcept
    {
        if (this == &other) return *this;
        m_items = std::move(other.m_items);
        m_front = other.m_front;
        other.m_items.clear();
        other.m_front = 0;
        return *this;
    }
    FrontRoomVector& operator=(std::initializer_list<Entry> entries)
    {
        assign(entries.begin(), entries.end());
        return *this;
    }
    FrontRoomVector& operator=(std::vector<Entry> entries)
    {
        m_items = std::move(entries);
        m_front = 0;
        return *this;
    }

    size_t size() const { return m_items.size() - m_front; }
    bool empty() const { return size() == 0; }
    Entry* data() { return m_items.data() + m_front; }
    const Entry* data() const { return m_items.data() + m_front; }
    Entry* begin() { return data(); }
    Entry* end() { return m_items.data() + m_items.size(); }
    const Entry* begin() const { return data(); }
    const Entry* end() const { return m_items.data() + m_items.size(); }
    Entry& operator[](size_t i) { return data()[i]; }
    const Entry& operator[](size_t i) const { return data()[i]; }
    Entry& front() { return *data(); }
    const Entry& front() const { return *data(); }
    Entry& back() { return m_items.back(); }
    const Entry& back() const { return m_items.back(); }

    void push_back(const Entry& e) { m_items.push_back(e); }
    void push_back(Entry&& e) { m_items.push_back(std::move(e)); }
    void pop_back() { m_items.pop_back(); }
    void clear()
    {
        m_items.clear();
        m_front = 0;
    }
    void reserve(size_t n) { m_items.reserve(m_front + n); }
    void resize(size_t n) { m_items.resize(m_front + n); }
    template <class It>
    void assign(It first, It last)
    {
        m_items.assign(first, last);
        m_front = 0;
    }

    // Puts `e` before `at`; returns where it went.
    Entry* insert(const Entry* at, Entry e)
    {
        const size_t i = size_t(at - begin());
        if constexpr (MovesAsBytes<Entry>::value) {
            if (m_front > 0 && i < size() / 2) {
                Entry* first = data() - 1;  // the room just before the entries
                first->~Entry();
                slide(first, first + 1, i);
                --m_front;
                return new (first + i) Entry(std::move(e));
            }
            m_items.emplace_back();
            Entry* place = data() + i;
            Entry* last = &m_items.back();
            last->~Entry();
            slide(place + 1, place, size_t(last - place));
            return new (place) Entry(std::move(e));
        } else {
            if (m_front > 0 && i < size() / 2) {
                Entry* first = data() - 1;
                std::move(first + 1, first + 1 + i, first);
                --m_front;
                first[i] = std::move(e);
                return first + i;
            }
            return &*m_items.insert(m_items.begin() + difference_type(m_front + i), std::move(e));
        }
    }

    // Takes out the entry at `at`; returns where the one after it now is.
    Entry* erase(const Entry* at)
    {
        const size_t i = size_t(at - begin());
        if constexpr (MovesAsBytes<Entry>::value) {
            Entry* gone = data() + i;
            gone->~Entry();
            if (i < size() / 2) {
                Entry* first = data();
                slide(first + 1, first, i);
                new (first) Entry();  // the room holds empty entries
                ++m_front;
                compactIfMostlyRoom();
                return data() + i;
            }
            slide(gone, gone + 1, size() - i - 1);
            new (&m_items.back()) Entry();
            m_items.pop_back();
            return data() + i;
        } else {
            if (i < size() / 2) {
                Entry* first = data();
                std::move_backward(first, first + i, first + i + 1);
                *first = Entry();  // gives back what the entry held
                ++m_front;
                compactIfMostlyRoom();
                return data() + i;
            }
            m_items.erase(m_items.begin() + difference_type(m_front + i));
            return data() + i;
        }
    }
    // Takes out [from, to); returns where the entry after them now is.
    Entry* erase(const Entry* from, const Entry* to)
    {
        const size_t i = size_t(from - begin()), n = size_t(to - from);
        if (i == 0) {
            for (Entry* e = data(); e != data() + n; ++e) *e = Entry();
            m_front += n;
            compactIfMostlyRoom();
            return data();
        }
        const auto first = m_items.begin() + difference_type(m_front + i);
        m_items.erase(first, first + difference_type(n));
        return data() + i;
    }

    // The room at the front, for tests.
    size_t frontRoom() const { return m_front; }

    friend bool operator==(const FrontRoomVector& a, const FrontRoomVector& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    // `n` entries' bytes from `from` to `to` (the two may overlap). The
    // entries at `to` must have ended, and those left at `from` (outside
    // `to`) are bytes until an entry is made there again.
    static void slide(Entry* to, Entry* from, size_t n)
    {
        if (n) std::memmove(static_cast<void*>(to), static_cast<const void*>(from), n * sizeof(Entry));
    }

    // The room goes once it is more than the entries: giving it back moves
    // each entry once for at least as many entries taken out.
    void compactIfMostlyRoom()
    {
        if (m_front < kKeptRoom || m_front <= size()) return;
        m_items.erase(m_items.begin(), m_items.begin() + difference_type(m_front));
        m_front = 0;
    }

    static constexpr size_t kKeptRoom = 16;
    std::vector<Entry> m_items;  // m_front emptied entries, then the entries
    size_t m_front = 0;
};

}  // namespace varnika::jet

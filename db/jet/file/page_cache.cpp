#include "db/jet/file/page_cache.h"

#include <algorithm>
#include <bit>

namespace varnika::jet {

PageCache::PageCache(size_t limit) : m_limit(std::clamp<size_t>(limit, 1, kMaxLimit))
{
    // At most half the table in use keeps the runs of linear probing short.
    const size_t places = std::bit_ceil(2 * m_limit);
    m_shift = unsigned(32 - std::countr_zero(places));
    m_table.assign(places, kNone);
}

size_t PageCache::placeOf(uint32_t page) const
{
    const size_t mask = m_table.size() - 1;
    size_t at = home(page);
    while (m_table[at] != kNone && m_slots[m_table[at]].page != page) at = (at + 1) & mask;
    return at;
}

const PageRef* PageCache::find(uint32_t page)
{
    const uint32_t slot = slotOf(page);
    if (slot == kNone) return nullptr;
    if (slot != m_front) {
        unlink(slot);
        linkFront(slot);
    }
    return &m_slots[slot].bytes;
}

void PageCache::put(uint32_t page, PageRef bytes)
{
    const size_t at = placeOf(page);
    if (uint32_t slot = m_table[at]; slot != kNone) {
        m_slots[slot].bytes = std::move(bytes);
        if (slot != m_front) {
            unlink(slot);
            linkFront(slot);
        }
        return;
    }
    if (m_count == m_limit) release(m_back);
    uint32_t slot;
    if (m_free != kNone) {
        slot = m_free;
        m_free = m_slots[slot].next;
    } else {
        slot = uint32_t(m_slots.size());
        m_slots.emplace_back();
    }
    Slot& s = m_slots[slot];
    s.page = page;
    s.bytes = std::move(bytes);
    linkFront(slot);
    // Releasing a page may have moved entries of the table back.
    m_table[placeOf(page)] = slot;
    ++m_count;
}

void PageCache::erase(uint32_t page)
{
    if (uint32_t slot = slotOf(page); slot != kNone) release(slot);
}

void PageCache::eraseFrom(uint32_t first)
{
    for (uint32_t slot = m_front; slot != kNone;) {
        const uint32_t next = m_slots[slot].next;
        if (m_slots[slot].page >= first) release(slot);
        slot = next;
    }
}

std::shared_ptr<PageBuffer> PageCache::takeSpare()
{
    if (m_spares.empty()) return nullptr;
    std::shared_ptr<PageBuffer> spare = std::move(m_spares.back());
    m_spares.pop_back();
    return spare;
}

void PageCache::unindex(uint32_t page)
{
    const size_t mask = m_table.size() - 1;
    size_t hole = placeOf(page);
    if (m_table[hole] == kNone) return;
    // An entry further on in the run moves back into the hole unless its
    // home lies after the hole (cyclically), where it would not be found.
    for (size_t at = (hole + 1) & mask; m_table[at] != kNone; at = (at + 1) & mask) {
        const size_t h = home(m_slots[m_table[at]].page);
        const bool stays = hole <= at ? (h > hole && h <= at) : (h > hole || h <= at);
        if (stays) continue;
        m_table[hole] = m_table[at];
        hole = at;
    }
    m_table[hole] = kNone;
}

void PageCache::unlink(uint32_t slot)
{
    Slot& s = m_slots[slot];
    if (s.prev != kNone) m_slots[s.prev].next = s.next;
    else m_front = s.next;
    if (s.next != kNone) m_slots[s.next].prev = s.prev;
    else m_back = s.prev;
    s.prev = s.next = kNone;
}

void PageCache::linkFront(uint32_t slot)
{
    Slot& s = m_slots[slot];
    s.prev = kNone;
    s.next = m_front;
    if (m_front != kNone) m_slots[m_front].prev = slot;
    m_front = slot;
    if (m_back == kNone) m_back = slot;
}

void PageCache::release(uint32_t slot)
{
    unindex(m_slots[slot].page);
    unlink(slot);
    Slot& s = m_slots[slot];
    // Every page the pager keeps was made as a buffer it may write; held
    // by nobody else now, it can take the next page read.
    if (s.bytes && s.bytes.use_count() == 1 && m_spares.size() < kMostSpares)
        m_spares.push_back(std::const_pointer_cast<PageBuffer>(std::move(s.bytes)));
    s.bytes.reset();
    s.next = m_free;
    m_free = slot;
    --m_count;
}

}  // namespace varnika::jet

#pragma once
// The pages a unit of a group wrote, each with the dirty bytes it had
// before (null: it was not dirty). A unit writes a handful of pages and a
// run makes millions of units: the pages are kept in a list that keeps its
// room from one unit to the next, looked through while short and indexed
// once long (a unit that builds an index writes thousands).

#include "db/jet/file/page_buffer.h"

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace varnika::jet {

class UnitUndo {
public:
    bool contains(uint32_t page) const
    {
        if (m_items.size() > kLookThrough) return m_index.count(page) > 0;
        for (const auto& item : m_items)
            if (item.first == page) return true;
        return false;
    }
    // Records `page` with its bytes before the unit; the caller adds each
    // page once (contains() first).
    void add(uint32_t page, PageRef before)
    {
        m_items.emplace_back(page, std::move(before));
        if (m_items.size() == kLookThrough + 1) {
            for (size_t i = 0; i < m_items.size(); ++i) m_index.emplace(m_items[i].first, i);
        } else if (m_items.size() > kLookThrough + 1) {
            m_index.emplace(page, m_items.size() - 1);
        }
    }
    void clear()
    {
        m_items.clear();
        if (!m_index.empty()) m_index.clear();
    }
    bool empty() const { return m_items.empty(); }
    std::vector<std::pair<uint32_t, PageRef>>::iterator begin() { return m_items.begin(); }
    std::vector<std::pair<uint32_t, PageRef>>::iterator end() { return m_items.end(); }

private:
    static constexpr size_t kLookThrough = 16;
    std::vector<std::pair<uint32_t, PageRef>> m_items;
    std::unordered_map<uint32_t, size_t> m_index;  // only past kLookThrough pages
};

}  // namespace varnika::jet

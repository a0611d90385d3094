#pragma once
// Index pages for tests and benchmarks of the index tree alone: appends
// zeroed pages to the pager and reuses freed ones, with no usage maps.

#include "db/jet/index/index_tree.h"

#include <vector>

namespace varnika::jet {

class AppendingPageAllocator : public IndexPageAllocator {
public:
    explicit AppendingPageAllocator(Pager& pager) : m_pager(pager) {}

    Result<uint32_t> allocatePage() override
    {
        if (!m_free.empty()) {
            const uint32_t page = m_free.back();
            m_free.pop_back();
            return page;
        }
        return m_pager.append(PageBuffer{});
    }
    Status freePage(uint32_t page) override
    {
        m_free.push_back(page);
        return Status::ok();
    }
    const std::vector<uint32_t>& freePages() const { return m_free; }

private:
    Pager& m_pager;
    std::vector<uint32_t> m_free;
};

}  // namespace varnika::jet

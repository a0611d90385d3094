#include "db/jet/pager.h"

namespace varnika::jet {

Pager::Pager(std::unique_ptr<PageFile> file, size_t cachePages)
    : m_file(std::move(file)), m_cacheLimit(cachePages ? cachePages : 1)
{
    m_pageCount = uint32_t(m_file->size() / kPageSize);
    m_committedPageCount = m_pageCount;
}

Result<PageRef> Pager::read(uint32_t page)
{
    if (auto it = m_dirty.find(page); it != m_dirty.end()) return it->second;
    if (auto it = m_cache.find(page); it != m_cache.end()) {
        m_lru.splice(m_lru.begin(), m_lru, it->second.second);
        return it->second.first;
    }
    if (page >= m_pageCount)
        return corruption("page " + std::to_string(page) + " is beyond the end of the file (" +
                          std::to_string(m_pageCount) + " pages)");
    auto buf = std::make_shared<PageBuffer>();
    VK_RETURN_IF_ERROR(m_file->read(uint64_t(page) * kPageSize, kPageSize, buf->data()));
    ++m_fileReads;
    PageRef ref = buf;
    remember(page, ref);
    return ref;
}

void Pager::remember(uint32_t page, PageRef ref)
{
    m_lru.push_front(page);
    m_cache[page] = {std::move(ref), m_lru.begin()};
    while (m_cache.size() > m_cacheLimit) {
        uint32_t victim = m_lru.back();
        m_lru.pop_back();
        m_cache.erase(victim);
    }
}

Status Pager::write(uint32_t page, const PageBuffer& bytes)
{
    if (!m_file->isWritable()) return Status(ErrorCode::ReadOnly, "the database is open for reading only");
    if (page > m_pageCount) return invalidArgument("page " + std::to_string(page) + " is past the end of the file");
    if (page == m_pageCount) ++m_pageCount;
    m_dirty[page] = std::make_shared<PageBuffer>(bytes);
    if (auto it = m_cache.find(page); it != m_cache.end()) {
        m_lru.erase(it->second.second);
        m_cache.erase(it);
    }
    return Status::ok();
}

Result<uint32_t> Pager::append(const PageBuffer& bytes)
{
    uint32_t page = m_pageCount;
    VK_RETURN_IF_ERROR(write(page, bytes));
    return page;
}

Status Pager::commit()
{
    while (!m_dirty.empty()) {
        auto it = m_dirty.begin();
        VK_RETURN_IF_ERROR(m_file->write(uint64_t(it->first) * kPageSize, it->second->data(), kPageSize));
        ++m_fileWrites;
        remember(it->first, it->second);
        m_dirty.erase(it);
    }
    m_committedPageCount = m_pageCount;
    if (m_syncOnCommit) VK_RETURN_IF_ERROR(m_file->sync());
    return Status::ok();
}

void Pager::rollback()
{
    m_dirty.clear();
    m_pageCount = m_committedPageCount;
}

}  // namespace varnika::jet

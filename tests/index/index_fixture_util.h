#pragma once
// Reading Access-made files for the index tests without the table reader:
// the index trees are found by their page types alone.
#include "db/jet/index/index_page.h"
#include "db/jet/file/page_file.h"
#include "db/jet/file/pager.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

namespace varnika::test {

inline std::vector<uint8_t> readWholeFile(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::unique_ptr<jet::Pager> memoryPager(std::vector<uint8_t> bytes)
{
    return std::make_unique<jet::Pager>(std::make_unique<jet::MemoryPageFile>(std::move(bytes)));
}

struct FoundTree {
    uint32_t root = 0;
    uint32_t tdef = 0;
};

// Index pages that no node names as a child and that have no siblings:
// the roots of the file's index trees.
inline std::vector<FoundTree> findIndexRoots(const std::vector<uint8_t>& file)
{
    const size_t pages = file.size() / jet::kPageSize;
    std::set<uint32_t> children;
    std::vector<std::pair<uint32_t, jet::IndexPage>> decoded;
    for (uint32_t pg = 1; pg < pages; ++pg) {
        std::span<const uint8_t> page(file.data() + pg * jet::kPageSize, jet::kPageSize);
        if (page[0] != jet::indexlayout::kTypeLeaf && page[0] != jet::indexlayout::kTypeNode) continue;
        auto p = jet::decodeIndexPage(page);
        if (!p) continue;
        if (p->isNode()) {
            for (const auto& e : p->entries) children.insert(e.child);
            if (p->tail) children.insert(p->tail);
        }
        decoded.emplace_back(pg, std::move(p).value());
    }
    std::vector<FoundTree> roots;
    for (const auto& [pg, p] : decoded)
        if (!children.count(pg) && p.prev == 0 && p.next == 0) roots.push_back({pg, p.tdefPage});
    return roots;
}

}  // namespace varnika::test

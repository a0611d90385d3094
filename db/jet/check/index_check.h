#pragma once
// Consistency check of one index B-tree, for tests and `varnika-db check`.
#include "db/jet/index/index_page.h"
#include "db/jet/file/pager.h"
#include "db/status.h"

#include <cstddef>
#include <cstdint>

namespace varnika::jet {

struct IndexTreeStats {
    size_t entries = 0;
    size_t leafPages = 0;
    size_t nodePages = 0;
    size_t depth = 0;  // 1 = root is a leaf
};

// Checks everything a sound index tree holds: pages decode and name the
// table, free space agrees with the data, entries strictly increase within
// pages and along the whole leaf chain, prev/next links agree, all leaves
// are at one depth, node entries equal the last entry of their child, and
// the tail rule holds (a node with only a tail child, as Access leaves them
// after appending, is accepted). The first fault → Corruption naming the page.
Status checkIndexTree(Pager& pager, uint32_t tdefPage, uint32_t rootPage, IndexTreeStats* stats = nullptr);

}  // namespace varnika::jet

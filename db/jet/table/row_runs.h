#pragma once
// A pass over a table's rows that a large table shares between two threads.
// The pages are read in runs (see PageRuns): by the calling thread, and by a
// second one through a pager and a table of its own on the same file, each
// run whole by the thread that took it. A small table, a file that offers
// no second handle, a pager holding changes not yet committed, or no thread
// to be had: the calling thread reads every page, in one run.

#include "db/jet/table/table.h"
#include "db/status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace varnika::jet {

// The pages (256 KB of Jet 4 pages) a thread takes at a time: the run at
// `pages[i * kRowRunPages]` is the i-th, for a caller that keeps what each
// run makes apart so as to put it together in page order.
constexpr size_t kRowRunPages = 64;

// Reads one run of pages through `table` (the calling thread's or the
// second's; thread 0 or 1, which alone use it and what it is given) and
// returns the first failure, in page order.
using RowRunReader = std::function<Status(Table& table, int thread, std::span<const uint32_t> run)>;

// Reads `pages` (ownedPages() of `table`, or a part of them) with `read`;
// `meanwhile`, if given, runs on the calling thread before its share. The
// outcome is the failure of the earliest run refused, which is the one a
// single pass in page order meets first, or ok.
Status readRowsInRuns(Table& table, std::span<const uint32_t> pages, const RowRunReader& read,
                      const std::function<void()>& meanwhile = {});

// How many runs readRowsInRuns makes of `pages` at most (one when they
// are read by the calling thread alone, or there are none).
inline size_t rowRunCount(std::span<const uint32_t> pages)
{
    return pages.empty() ? 1 : (pages.size() + kRowRunPages - 1) / kRowRunPages;
}

// Which run `run`, given by readRowsInRuns over `pages`, is.
inline size_t rowRunIndex(std::span<const uint32_t> pages, std::span<const uint32_t> run)
{
    return size_t(run.data() - pages.data()) / kRowRunPages;
}

}  // namespace varnika::jet

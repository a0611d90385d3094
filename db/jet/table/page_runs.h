#pragma once
// A table's pages in runs that several threads take in turn, each run read
// whole by the thread that took it, for a pass over the rows whose verdict
// must be the one a single pass in page order comes to. Runs are taken in
// order, so every run before the earliest one refused is read whole, and
// that run's refusal, the one reported, is the one a single pass meets
// first. Once a refusal is in, no run after it is taken.

#include "db/status.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace varnika::jet {

class PageRuns {
public:
    // `pages` must outlive the runs.
    PageRuns(std::span<const uint32_t> pages, size_t runPages)
        : m_pages(pages), m_runPages(std::max<size_t>(runPages, 1)),
          m_runs((pages.size() + m_runPages - 1) / m_runPages), m_firstRefused(m_runs)
    {
    }

    // Takes runs and reads each with `read(std::span<const uint32_t> run)`,
    // returning a Status, until none is left to take; a run refused ends
    // the calling thread's part. Any number of threads may call it at once.
    template <typename Read>
    void readWith(Read&& read)
    {
        for (;;) {
            const size_t run = m_next.fetch_add(1);
            if (run >= m_runs || run > m_firstRefused.load()) return;
            const size_t from = run * m_runPages;
            Status s = read(m_pages.subspan(from, std::min(m_runPages, m_pages.size() - from)));
            if (!s.isOk()) {
                refuse(run, std::move(s));
                return;
            }
        }
    }

    // Refuses the pass as the run at `run` would, for a thread that failed
    // other than by reading (one that could not go on).
    void refuse(size_t run, Status why)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_refusal.isOk() && m_refusalRun <= run) return;
        m_refusal = std::move(why);
        m_refusalRun = run;
        m_firstRefused.store(std::min(m_firstRefused.load(), run));
    }

    // Once every thread has ended: the earliest run's refusal, or ok.
    Status verdict() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refusal;
    }

private:
    const std::span<const uint32_t> m_pages;
    const size_t m_runPages;
    const size_t m_runs;
    std::atomic<size_t> m_next{0};
    std::atomic<size_t> m_firstRefused;  // no run after it is taken
    mutable std::mutex m_mutex;
    Status m_refusal = Status::ok();
    size_t m_refusalRun = 0;
};

}  // namespace varnika::jet

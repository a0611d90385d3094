// Pages read in runs by several threads: each page once, each run whole and
// in order, and a refusal that is the one a single reader in page order
// would meet first, however the threads' refusals come in time.

#include "db/jet/table/page_runs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <numeric>
#include <thread>

namespace varnika::jet {
namespace {

TEST(PageRuns, FourThreadsReadEveryPageOnceInRunsOfTheirOwn)
{
    std::vector<uint32_t> pages(1000);
    std::iota(pages.begin(), pages.end(), 100u);
    PageRuns runs(pages, 7);
    std::mutex mutex;
    std::vector<int> readCount(pages.size(), 0);
    auto reader = [&] {
        runs.readWith([&](std::span<const uint32_t> run) {
            EXPECT_TRUE(run.size() == 7 || run.front() == 100u + 994u) << run.front() << " " << run.size();
            std::lock_guard<std::mutex> lock(mutex);
            for (size_t i = 0; i < run.size(); ++i) {
                EXPECT_EQ(run[i], run.front() + i);
                ++readCount[run[i] - 100u];
            }
            return Status::ok();
        });
    };
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < 4; ++i) threads.emplace_back(reader);
    }
    EXPECT_TRUE(runs.verdict().isOk());
    for (size_t i = 0; i < readCount.size(); ++i) EXPECT_EQ(readCount[i], 1) << "page " << pages[i];
}

// Two threads over ten runs of ten pages. A thread that takes the second
// run is held there until the other's refusal of the fourth is recorded,
// then reads it whole (`secondRefused` false) or refuses it. The runs read
// whole, and the verdict.
struct HeldRun {
    std::vector<uint32_t> runsRead;
    Status verdict;
};

HeldRun holdSecondRun(bool secondRefused)
{
    std::vector<uint32_t> pages(100);
    std::iota(pages.begin(), pages.end(), 0u);
    PageRuns runs(pages, 10);
    std::mutex mutex;
    HeldRun held;
    auto reader = [&] {
        runs.readWith([&](std::span<const uint32_t> run) -> Status {
            const uint32_t first = run.front();
            if (first == 10) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (runs.verdict().isOk() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
                EXPECT_FALSE(runs.verdict().isOk()) << "the other thread never refused the fourth run";
                if (secondRefused) return corruption("the second run");
            }
            if (first == 30) return corruption("the fourth run");
            std::lock_guard<std::mutex> lock(mutex);
            held.runsRead.push_back(first);
            return Status::ok();
        });
    };
    {
        std::jthread a(reader), b(reader);
    }
    held.verdict = runs.verdict();
    std::sort(held.runsRead.begin(), held.runsRead.end());
    // A refusal from outside the reads, of a later run, displaces nothing.
    runs.refuse(5, corruption("later"));
    EXPECT_EQ(runs.verdict().message(), held.verdict.message());
    return held;
}

// The second run's refusal, which comes last, is the verdict.
TEST(PageRuns, TheEarliestRunsRefusalIsTheVerdictWhicheverComesFirst)
{
    const HeldRun held = holdSecondRun(true);
    EXPECT_EQ(held.verdict.message(), "the second run");
    EXPECT_EQ(held.runsRead, (std::vector<uint32_t>{0, 20}));
}

// The thread held in the second run reads it whole, and takes no run after
// the fourth, which the other refused meanwhile.
TEST(PageRuns, NoRunAfterARefusedOneIsTaken)
{
    const HeldRun held = holdSecondRun(false);
    EXPECT_EQ(held.verdict.message(), "the fourth run");
    EXPECT_EQ(held.runsRead, (std::vector<uint32_t>{0, 10, 20}));
}

}  // namespace
}  // namespace varnika::jet

// A sync begun on another thread: the owner's sync() returns only once
// every write made before it is covered by a sync that began after that
// write, and a failure of the one in the background is the owner's.

#include "db/jet/file/background_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace varnika::jet {
namespace {

// A file's writes and syncs as a disk sees them: each sync covers the
// writes made before it began. A sync can be held at its start until the
// test lets it go, so that the test can write while it runs.
struct Disk {
    std::mutex mutex;
    std::condition_variable changed;
    long written = 0;           // writes made so far
    long covered = 0;           // writes the finished syncs began after
    std::vector<long> syncs;    // the writes each sync began after, in order
    bool holdSyncs = false;
    int syncsWaiting = 0;
    int failNext = 0;           // errno for the next sync

    void write()
    {
        std::lock_guard lock(mutex);
        ++written;
    }
    int sync()
    {
        std::unique_lock lock(mutex);
        const long began = written;
        ++syncsWaiting;
        changed.notify_all();
        changed.wait(lock, [this] { return !holdSyncs; });
        --syncsWaiting;
        syncs.push_back(began);
        if (int failed = std::exchange(failNext, 0)) return failed;
        covered = std::max(covered, began);
        return 0;
    }
    void waitForASyncHeld()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return syncsWaiting > 0; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        holdSyncs = false;
        changed.notify_all();
    }
};

struct SyncedFile {
    Disk disk;
    BackgroundSync sync{[this] { return disk.sync(); }};
    void write()
    {
        disk.write();
        sync.noteWrite();
    }
    // Writes, starts the background sync, and writes again once that sync
    // has begun; the sync then ends with `failure` (an errno, or 0).
    void writeAroundABackgroundSync(int failure)
    {
        disk.holdSyncs = true;
        write();
        sync.start();
        disk.waitForASyncHeld();
        write();
        {
            std::lock_guard lock(disk.mutex);
            disk.failNext = failure;
        }
        disk.release();
    }
};

TEST(BackgroundSync, ASyncCoversEveryWriteBeforeItWhetherTheBackgroundOneDidOrNot)
{
    SyncedFile f;
    // Nothing in flight: the sync is made then.
    f.write();
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 1);
    EXPECT_EQ(f.disk.syncs.size(), 1u);

    // Written, then the sync begun in the background: the owner's sync
    // takes its outcome and syncs no more.
    f.write();
    f.write();
    f.sync.start();
    f.sync.start();  // one in flight already: no second
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 3);
    EXPECT_EQ(f.disk.syncs.size(), 2u);

    // Written before the background sync began, and again after: the
    // owner's sync must sync once more itself, after the last write.
    f.writeAroundABackgroundSync(0);
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 5);
    ASSERT_EQ(f.disk.syncs.size(), 4u);

    // A write after the start but before the thread's sync began, which
    // may or may not cover it: the owner's sync still makes sure.
    f.disk.holdSyncs = true;
    f.sync.start();
    f.write();
    f.disk.waitForASyncHeld();
    f.disk.release();
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 6);
}

TEST(BackgroundSync, AFailedBackgroundSyncIsReportedByTheNextSyncAndNotPassedOver)
{
    SyncedFile f;
    f.write();
    f.disk.failNext = EIO;
    f.sync.start();
    EXPECT_EQ(f.sync.sync(), EIO);
    EXPECT_EQ(f.disk.covered, 0);
    // Asked again, it syncs again.
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 1);

    // Failed while a write came in: the failure is reported, not covered
    // up by a second sync that succeeds.
    f.writeAroundABackgroundSync(ENOSPC);
    EXPECT_EQ(f.sync.sync(), ENOSPC);
    EXPECT_EQ(f.disk.covered, 1);
    EXPECT_EQ(f.sync.sync(), 0);
    EXPECT_EQ(f.disk.covered, 3);
}

TEST(BackgroundSync, GoesWithASyncInFlight)
{
    for (int i = 0; i < 20; ++i) {
        SyncedFile f;
        f.write();
        f.sync.start();
    }  // each joined its thread
    SUCCEED();
}

}  // namespace
}  // namespace varnika::jet

#pragma once
// Forces a file to the disk on another thread while the caller goes on. A
// run's groups of records each sync the safe-point journal before their
// pages go to the database; started as soon as the journal's entries for the
// next group are written, that sync overlaps the group's own work, and the
// group's sync then only takes its outcome. A sync() still returns only once
// every write made before it is on the disk: a write made after the
// background sync began is not counted as covered by it, and is synced then.
//
// One owner thread calls noteWrite(), start() and sync(); the class's own
// thread only runs the sync it is given.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace varnika::jet {

class BackgroundSync {
public:
    // `syncNow` forces the file to the disk and returns 0, or the errno of
    // the failure. It must stay callable until this object is gone.
    explicit BackgroundSync(std::function<int()> syncNow) : m_syncNow(std::move(syncNow)) {}
    ~BackgroundSync();
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;

    // The file was written (or resized).
    void noteWrite() { ++m_writes; }
    // Starts a sync of what was written so far; returns at once. Does
    // nothing while one is in flight, or when no thread can be had (the
    // next sync() then does all the work).
    void start();
    // Every write so far is on the disk when this returns 0: the sync in
    // flight is waited for, and another made when the file was written
    // after it began. A failed background sync's errno is returned, and
    // nothing more is tried then.
    int sync();

private:
    void run();

    std::function<int()> m_syncNow;
    // The owner's alone.
    uint64_t m_writes = 0;
    uint64_t m_writesAtStart = 0;
    bool m_inFlight = false;
    bool m_noThread = false;
    // Shared with the thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finishedOne;
    bool m_requested = false;
    bool m_finished = false;
    bool m_stopping = false;
    int m_result = 0;
    std::thread m_thread;
};

}  // namespace varnika::jet

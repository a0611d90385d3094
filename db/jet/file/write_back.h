#pragma once
// Carries a file's written pages to the disk in the background. A safe
// point syncs the database file, and waits then for every page the run has
// written since the last one; asked as a run's groups of records are
// written (every few megabytes), a thread of this class starts that writing
// early, on the machine's other core, while the run goes on, so that the
// sync finds little left to do. It only
// starts writing (sync_file_range): durability remains the sync's, and
// nothing here can fail a run. On systems without the call it does nothing.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace varnika::jet {

class BackgroundWriteBack {
public:
    // `fd` must stay open until this object is gone.
    explicit BackgroundWriteBack(int fd) : m_fd(fd) {}
    ~BackgroundWriteBack();
    BackgroundWriteBack(const BackgroundWriteBack&) = delete;
    BackgroundWriteBack& operator=(const BackgroundWriteBack&) = delete;

    // Whether a thread for it costs the process nothing more: one has been
    // started already (for the check before a run, say). The first thread
    // of a process makes every shared reference count from then on with
    // atomic instructions, which costs a run of small commits (the inserts
    // of a list of statements) more than the write-back saves.
    static bool threadsRunAlready();

    // Has the pages written so far to the file's first `length` bytes start
    // on their way to the disk; returns at once. The thread starts with the
    // first request (none, should the system refuse one: the request is
    // then dropped).
    void request(uint64_t length);

private:
    void run();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    uint64_t m_length = 0;  // of the request waiting
    bool m_stopping = false;
    bool m_failedToStart = false;
    std::thread m_thread;
};

}  // namespace varnika::jet

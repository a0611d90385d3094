#pragma once
// Carries a file's written pages to the disk in the background. A safe
// point syncs the database file, and waits then for every page the run has
// written since the last one; asked after each group of records, a thread
// of this class starts that writing early, on the machine's other core,
// while the run goes on, so that the sync finds little left to do. It only
// starts writing (sync_file_range): durability remains the sync's, and
// nothing here can fail a run. On systems without the call it does nothing.

#include <condition_variable>
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

    // Has the pages written so far start on their way to the disk; returns
    // at once. The thread starts with the first request (none, should the
    // system refuse one: the request is then dropped).
    void request();

private:
    void run();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    bool m_failedToStart = false;
    std::thread m_thread;
};

}  // namespace varnika::jet

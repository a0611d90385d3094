#include "db/jet/file/write_back.h"

#include <fcntl.h>
#include <system_error>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

namespace varnika::jet {

bool BackgroundWriteBack::threadsRunAlready()
{
#if __has_include(<sys/single_threaded.h>)
    return !__libc_single_threaded;
#else
    return true;
#endif
}

BackgroundWriteBack::~BackgroundWriteBack()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void BackgroundWriteBack::request(uint64_t length)
{
#ifdef SYNC_FILE_RANGE_WRITE
    {
        std::lock_guard lock(m_mutex);
        if (m_failedToStart) return;
        m_requested = true;
        m_length = length;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                m_failedToStart = true;  // no thread to be had: the syncs do it all
                return;
            }
        }
    }
    m_wake.notify_one();
#endif
}

void BackgroundWriteBack::run()
{
#ifdef SYNC_FILE_RANGE_WRITE
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_requested || m_stopping; });
        if (m_stopping) return;
        m_requested = false;
        const uint64_t length = m_length;
        lock.unlock();
        // Only a start: errors show at the sync, which the caller checks.
        (void)::sync_file_range(m_fd, 0, off64_t(length), SYNC_FILE_RANGE_WRITE);
        lock.lock();
    }
#endif
}

}  // namespace varnika::jet

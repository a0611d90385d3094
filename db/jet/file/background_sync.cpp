#include "db/jet/file/background_sync.h"

#include <system_error>

namespace varnika::jet {

BackgroundSync::~BackgroundSync()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void BackgroundSync::start()
{
    if (m_inFlight || m_noThread) return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                m_noThread = true;
                return;
            }
        }
        m_requested = true;
        m_finished = false;
    }
    m_wake.notify_one();
    m_inFlight = true;
    m_writesAtStart = m_writes;
}

int BackgroundSync::sync()
{
    if (m_inFlight) {
        int result;
        {
            std::unique_lock lock(m_mutex);
            m_finishedOne.wait(lock, [this] { return m_finished; });
            result = m_result;
        }
        m_inFlight = false;
        if (result != 0) return result;
        if (m_writes == m_writesAtStart) return 0;
    }
    return m_syncNow();
}

void BackgroundSync::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_requested || m_stopping; });
        if (m_stopping) return;
        m_requested = false;
        lock.unlock();
        const int result = m_syncNow();
        lock.lock();
        m_result = result;
        m_finished = true;
        m_finishedOne.notify_all();
    }
}

}  // namespace varnika::jet

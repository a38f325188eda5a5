#include "honeypot/ConnectionThreads.h"

#include <algorithm>

namespace ostrel::honeypot {

ConnectionThreads::~ConnectionThreads() {
    close();
    joinAll();
}

void ConnectionThreads::open() {
    std::lock_guard lock(m_mutex);
    m_closed = false;
    m_peak = m_busy;
}

void ConnectionThreads::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_slotFreed.notify_all();
}

bool ConnectionThreads::reserveSlot() {
    std::unique_lock lock(m_mutex);
    m_slotFreed.wait(lock, [this] { return m_closed || m_busy < m_limit; });
    if (m_closed)
        return false;
    ++m_busy;
    m_peak = std::max(m_peak, m_busy);
    return true;
}

void ConnectionThreads::releaseSlot() {
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
    }
    m_slotFreed.notify_all();
}

void ConnectionThreads::launch(std::function<void()> work) {
    // The handle's place is made before the thread starts, and under the lock the thread needs
    // to finish, so a running thread always has its place.
    std::lock_guard lock(m_mutex);
    const Handles::iterator handle = m_running.emplace(m_running.end());
    try {
        *handle = std::thread([this, handle, work = std::move(work)] {
            work();
            finished(handle);
        });
    } catch (...) {
        m_running.erase(handle);
        throw;
    }
}

void ConnectionThreads::finished(Handles::iterator handle) noexcept {
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
        m_ended.splice(m_ended.end(), m_running, handle);
    }
    m_slotFreed.notify_all();
}

void ConnectionThreads::joinEnded() {
    Handles ended;
    {
        std::lock_guard lock(m_mutex);
        ended.swap(m_ended);
    }
    for (std::thread& thread : ended)
        thread.join();
}

void ConnectionThreads::joinAll() {
    for (;;) {
        Handles ended;
        {
            std::unique_lock lock(m_mutex);
            m_slotFreed.wait(lock, [this] { return !m_ended.empty() || m_running.empty(); });
            if (m_ended.empty())
                return;
            ended.swap(m_ended);
        }
        for (std::thread& thread : ended)
            thread.join();
    }
}

int ConnectionThreads::peak() const {
    std::lock_guard lock(m_mutex);
    return m_peak;
}

} // namespace ostrel::honeypot

#include "main/PassWorker.h"

namespace ostrel {

PassWorker::PassWorker() : m_thread([this] { run(); }) {}

PassWorker::~PassWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool PassWorker::start(std::function<void()> pass, Ended ended) {
    {
        std::lock_guard lock(m_mutex);
        if (m_busy || m_ending)
            return false;
        m_busy = true;
        m_pass = std::move(pass);
        m_ended = std::move(ended);
    }
    m_changed.notify_all();
    return true;
}

void PassWorker::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        // A pass already handed over still runs when the window ends: it is awaited, not dropped.
        m_changed.wait(lock, [this] { return m_pass || m_ending; });
        if (!m_pass)
            return;
        std::function<void()> pass = std::move(m_pass);
        Ended ended = std::move(m_ended);
        m_pass = nullptr;
        lock.unlock();
        std::exception_ptr error;
        try {
            pass();
        } catch (...) {
            error = std::current_exception();
        }
        // Free before the window hears of the end: the pass it starts as soon as it has heard
        // must not find this one still running and be refused.
        lock.lock();
        m_busy = false;
        lock.unlock();
        try {
            if (ended)
                ended(error);
        } catch (...) {
            // Telling the window needs memory; without it the pass has still ended.
        }
        lock.lock();
    }
}

} // namespace ostrel

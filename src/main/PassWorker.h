#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrel {

// The window's guard pass runs on this one thread, not on the window's: a pass waits for the
// database (a row another guard holds, a server that does not answer) and for the program's
// firewall lock, which a honeypot block holds across its round trips, and the window must go on
// answering meanwhile. One pass at a time; the thread lives as long as the window, so the
// database connection it keeps serves every pass.
class PassWorker {
public:
    // Called on this worker's thread when the pass has ended, with its error or none.
    using Ended = std::function<void(std::exception_ptr)>;

    PassWorker();
    // Waits for a running pass to end, then ends the thread.
    ~PassWorker();
    PassWorker(const PassWorker&) = delete;
    PassWorker& operator=(const PassWorker&) = delete;

    // Starts the pass unless one runs; false when one does.
    bool start(std::function<void()> pass, Ended ended);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_pass;
    Ended m_ended;
    bool m_busy = false;
    bool m_ending = false;
    std::thread m_thread; // last: starts once the members above exist
};

} // namespace ostrel

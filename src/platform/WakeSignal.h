#pragma once

#include <cstdint>

namespace ostrel::platform {

// A one-shot signal that a thread waiting for a peer (waitForPeer) watches beside its socket:
// an eventfd on Linux, a Winsock event on Windows. Once raised it stays raised, so every waiter
// sees it. Waking a listening thread this way never touches its socket, which only its owner
// closes.
class WakeSignal {
public:
    // ESocketError when the signal cannot be made.
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise() noexcept;
    bool raised() const;

    // Waits until the signal is raised or the time has passed; true when raised.
    bool waitFor(int milliseconds) const;

    // The system's object behind the signal, for waitForPeer.
    std::intptr_t handle() const { return m_handle; }

private:
    std::intptr_t m_handle;
};

} // namespace ostrel::platform

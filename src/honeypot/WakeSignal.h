#pragma once

#include "honeypot/Socket.h"

namespace ostrel::honeypot {

// A one-shot signal that a thread blocked in poll() can wait on beside its socket (eventfd).
// Once raised it stays raised, so every waiter sees it. Waking a listening thread this way
// never touches its socket, which only its owner closes.
class WakeSignal {
public:
    // ESocketError when the descriptor cannot be made.
    WakeSignal();

    void raise() noexcept;
    bool raised() const;
    int fd() const { return m_event.fd(); }

    // Waits until the signal is raised or the time has passed; true when raised.
    bool waitFor(int milliseconds) const;

private:
    Socket m_event;
};

} // namespace ostrel::honeypot

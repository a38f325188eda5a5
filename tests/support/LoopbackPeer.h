#pragma once

#include "support/TestSocket.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace ostrel::test {

// A peer of the honeypot on loopback, on every platform: a TCP connection from a chosen
// loopback source address (127.0.0.0/8) to 127.0.0.1:port.
class LoopbackPeer {
public:
    // Connects and returns once the handshake is done (a peer left in the listen queue counts);
    // raises std::runtime_error when it cannot.
    LoopbackPeer(const std::string& source, std::uint16_t port);

    // Waits until the other side has closed the connection (end of stream or reset); false when
    // it is still open when the time is up. A zero timeout only looks.
    bool waitClosed(std::chrono::milliseconds timeout) const;

private:
    TestSocket m_socket;
};

// A port from 3300 to 3400 that nobody has bound at every address; the search starts at a
// random place, so parallel test processes rarely meet.
std::uint16_t freeLoopbackHoneypotPort();

} // namespace ostrel::test

#pragma once

#include "platform/linux/FileDescriptor.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace ostrel::test {

// A peer of the honeypot: a TCP connection from a chosen source address. The socket belongs
// to the namespace of the thread that made the object and can be watched from any thread.
class HoneypotPeer {
public:
    // Connects from `source` to destination:port and waits for the handshake; raises
    // std::runtime_error when it does not complete within the time or is refused. A connection
    // that the other side reset right after the handshake counts as made (and closed).
    HoneypotPeer(const std::string& source, const std::string& destination, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits until the other side has closed the connection (end of stream or reset); false
    // when it is still open when the time is up. A zero timeout only looks.
    bool waitClosed(std::chrono::milliseconds timeout) const;

private:
    platform::FileDescriptor m_socket;
    bool m_resetEarly = false;
};

// A port from 3300 to 3400 that nobody in the calling thread's namespace has bound; the search
// starts at a place that depends on the process, so parallel test processes rarely meet.
std::uint16_t freeHoneypotPort();

// Connections waiting in the accept queues of the listening IPv4 sockets on `port` in the
// calling thread's namespace (what `ss -lt` shows as Recv-Q).
int acceptQueueLength(std::uint16_t port);

// Open descriptors of this process.
int openDescriptorCount();

} // namespace ostrel::test

#include "support/LoopbackPeer.h"

#include "platform/Sockets.h"
#include "support/Ipv4Endpoint.h"

#include <random>
#include <stdexcept>

#ifdef _WIN32
#include "platform/windows/Winsock.h"
#else
#include <sys/socket.h>
#endif

namespace ostrel::test {

LoopbackPeer::LoopbackPeer(const std::string& source, std::uint16_t port) {
#ifdef _WIN32
    platform::startWinsock();
#endif
    m_socket = TestSocket(static_cast<RawSocket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (!m_socket)
        throw std::runtime_error("peer socket: " + socketErrorText());
    const sockaddr_in from = ipv4Endpoint(source, 0);
    const sockaddr_in to = ipv4Endpoint("127.0.0.1", port);
    if (::bind(m_socket.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
        throw std::runtime_error("peer bind to " + source + ": " + socketErrorText());
    // Blocking: on loopback the handshake is done at once, also for a peer the listener has not
    // taken yet.
    if (::connect(m_socket.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        throw std::runtime_error("peer connect from " + source + ": " + socketErrorText());
}

bool LoopbackPeer::waitClosed(std::chrono::milliseconds timeout) const {
    // The honeypot never sends, so anything readable is the end of the stream or a reset.
    return waitReadable({m_socket.get()}, timeout) == 0;
}

std::uint16_t freeLoopbackHoneypotPort() {
    constexpr int First = 3300;
    constexpr int Count = 101;
    const int start = static_cast<int>(std::random_device{}() % Count);
    for (int i = 0; i < Count; ++i) {
        const auto port = static_cast<std::uint16_t>(First + (start + i) % Count);
        platform::SocketFailure failure;
        const platform::SocketHandle probe = platform::bindTcp4("", port, failure);
        if (probe != platform::InvalidSocket) {
            platform::closeSocket(probe);
            return port;
        }
    }
    throw std::runtime_error("no free port from 3300 to 3400");
}

} // namespace ostrel::test

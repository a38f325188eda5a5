#include "honeypot/Listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace ostrel::honeypot {

namespace {

// How long the listening thread rests after the system ran out of descriptors or memory
// for a new connection, instead of spinning on a queue it cannot empty.
constexpr int ResourceBackoffMilliseconds = 100;

bool outOfResources(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

std::string peerAddress(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    if (peer.sin_family != AF_INET || !::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text))
        return {};
    return text;
}

void closeAbortively(const Socket& socket) {
    const linger abortive{1, 0};
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

} // namespace

Listener::Listener(Socket socket, const WakeSignal& stop, ConnectionThreads& threads, ConnectionHandler handler)
    : m_socket(std::move(socket)), m_stop(stop), m_threads(threads), m_handler(std::move(handler)),
      m_thread([this] { run(); }) {}

Listener::~Listener() {
    if (m_thread.joinable())
        m_thread.join();
}

void Listener::run() {
    for (;;) {
        m_threads.joinEnded();
        if (!m_threads.reserveSlot())
            return;
        std::string peerIp;
        Socket peer = acceptNext(peerIp);
        if (!peer.isOpen()) {
            m_threads.releaseSlot();
            if (m_stop.raised())
                return;
            continue;
        }
        serve(std::move(peer), peerIp);
    }
}

Socket Listener::acceptNext(std::string& peerIp) {
    pollfd waiting[2] = {{m_socket.fd(), POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(waiting, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || waiting[1].revents != 0)
            return {};
        if (waiting[0].revents != 0)
            break;
    }
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    Socket accepted(::accept4(m_socket.fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!accepted.isOpen()) {
        // A peer that gave up before we took it (EAGAIN, ECONNABORTED) needs nothing; a
        // shortage of descriptors or memory needs a pause before the next try.
        if (outOfResources(errno))
            m_stop.waitFor(ResourceBackoffMilliseconds);
        return {};
    }
    closeAbortively(accepted);
    peerIp = peerAddress(peer);
    return accepted;
}

void Listener::serve(Socket socket, const std::string& peerIp) {
    // The handler holds only the descriptor number until the thread takes ownership, so a
    // failed launch leaves the socket with us.
    const int fd = socket.fd();
    try {
        m_threads.launch([handler = m_handler, fd, peerIp] { handler(Socket(fd), peerIp); });
        (void)socket.release();
    } catch (...) {
        // No thread to be had: serve the peer here rather than drop it, within the slot we hold.
        m_handler(std::move(socket), peerIp);
        m_threads.releaseSlot();
    }
}

} // namespace ostrel::honeypot

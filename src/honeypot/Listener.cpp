#include "honeypot/Listener.h"

namespace ostrel::honeypot {

namespace {

// How long the listening thread rests after the system ran out of descriptors or memory
// for a new connection, instead of spinning on a queue it cannot empty.
constexpr int ResourceBackoffMilliseconds = 100;
// How long it rests after a failed wait for a peer: such a failure tends to last.
constexpr int WaitFailureBackoffMilliseconds = 1000;

} // namespace

Listener::Listener(Socket socket, const platform::WakeSignal& stop, ConnectionThreads& threads,
                   ConnectionHandler handler, WaitFailureReport reportWaitFailure)
    : m_socket(std::move(socket)), m_stop(stop), m_threads(threads), m_handler(std::move(handler)),
      m_reportWaitFailure(std::move(reportWaitFailure)), m_thread([this] { run(); }) {}

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
    const platform::PeerWait wait = platform::waitForPeer(m_socket.handle(), m_stop);
    if (wait == platform::PeerWait::Failed) {
        if (!m_waitFailing && m_reportWaitFailure)
            m_reportWaitFailure(" - Honeypot: waiting for connections failed; trying again every second.");
        m_waitFailing = true;
        m_stop.waitFor(WaitFailureBackoffMilliseconds);
        return {};
    }
    if (wait != platform::PeerWait::PeerWaiting)
        return {};
    // A later failure is a new one, worth its own line.
    m_waitFailing = false;
    platform::SocketFailure failure;
    Socket accepted(platform::acceptPeer(m_socket.handle(), peerIp, failure));
    // A peer that gave up before we took it needs nothing; a shortage of descriptors or memory
    // needs a pause before the next try.
    if (!accepted.isOpen() && failure.outOfResources)
        m_stop.waitFor(ResourceBackoffMilliseconds);
    return accepted;
}

void Listener::serve(Socket socket, const std::string& peerIp) {
    // The handler holds only the socket's number until the thread takes ownership, so a
    // failed launch leaves the socket with us.
    const platform::SocketHandle handle = socket.handle();
    try {
        m_threads.launch([handler = m_handler, handle, peerIp] { handler(Socket(handle), peerIp); });
        (void)socket.release();
    } catch (...) {
        // No thread to be had: serve the peer here rather than drop it, within the slot we hold.
        m_handler(std::move(socket), peerIp);
        m_threads.releaseSlot();
    }
}

} // namespace ostrel::honeypot

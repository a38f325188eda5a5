#pragma once

#include "honeypot/ConnectionThreads.h"
#include "honeypot/Socket.h"
#include "platform/WakeSignal.h"

#include <functional>
#include <string>
#include <thread>

namespace ostrel::honeypot {

// Serves one accepted connection to its end; runs on the connection's own thread and must
// not throw.
using ConnectionHandler = std::function<void(Socket socket, const std::string& peerIp)>;

// Told once when waiting for peers starts failing (the message is a log line's text); called on
// the listening thread and must not throw.
using WaitFailureReport = std::function<void(const std::string& message)>;

// The listening thread of one bound socket: waits for a free connection slot, accepts one
// peer, hands it to a new connection thread, and again, until the wake signal is raised.
// When the wait for a peer fails, the thread says so once and tries again each second until a
// wait succeeds, rather than spinning on a socket the system refuses to watch.
// The listening socket belongs to this thread's object and is closed after the thread ended.
class Listener {
public:
    // Starts the thread; the socket must already listen. std::system_error when no thread
    // can be made.
    Listener(Socket socket, const platform::WakeSignal& stop, ConnectionThreads& threads, ConnectionHandler handler,
             WaitFailureReport reportWaitFailure = {});
    // Joins the thread (raise the wake signal and close the threads' slots first).
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

private:
    void run();
    // Waits for a peer and accepts it; an empty socket when woken or when the accept failed.
    Socket acceptNext(std::string& peerIp);
    void serve(Socket socket, const std::string& peerIp);

    Socket m_socket;
    const platform::WakeSignal& m_stop;
    ConnectionThreads& m_threads;
    ConnectionHandler m_handler;
    WaitFailureReport m_reportWaitFailure;
    bool m_waitFailing = false;
    std::thread m_thread;
};

} // namespace ostrel::honeypot

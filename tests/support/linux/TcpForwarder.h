#pragma once

#include "platform/linux/FileDescriptor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel::test {

// A TCP forwarder on a loopback address: every connection made to it is carried through to the
// target byte for byte, on a thread of its own. It counts the connections it took and can cut them
// all at once, as a restart of the server behind it would. In front of a MySQL server it can also
// lose the reply to a COMMIT the way a broken network does: the statement is passed on, and once
// the server answers (so the commit has happened) both sides are closed instead of passing the
// answer back, leaving the client not knowing whether it committed.
class TcpForwarder {
public:
    // `listenPort` 0 lets the system choose.
    TcpForwarder(const std::string& targetAddress, std::uint16_t targetPort,
                 const std::string& listenAddress = "127.0.0.1", std::uint16_t listenPort = 0);
    ~TcpForwarder();
    TcpForwarder(const TcpForwarder&) = delete;
    TcpForwarder& operator=(const TcpForwarder&) = delete;

    const std::string& address() const { return m_address; }
    std::uint16_t port() const { return m_port; }

    // Connections taken so far.
    std::size_t accepted() const;
    // Connections carried right now.
    std::size_t carried() const;
    // Closes both sides of every carried connection; returns once they are closed.
    void cutAll();
    // Waits until exactly `count` connections are carried; false when the time ran out.
    bool waitUntilCarried(std::size_t count, std::chrono::milliseconds timeout) const;

    // The next COMMIT (alone, or ending a multi-statement text) on any carried connection loses its reply.
    void loseNextCommitReply() { m_loseCommitReply = true; }
    // Replies lost so far.
    int lostReplies() const { return m_lostReplies.load(); }

private:
    void run();
    void wake() const;

    std::string m_address;
    std::uint16_t m_port = 0;
    std::string m_targetAddress;
    std::uint16_t m_targetPort;
    platform::FileDescriptor m_listener;
    platform::FileDescriptor m_wakeRead;
    platform::FileDescriptor m_wakeWrite;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::size_t m_accepted = 0;
    std::size_t m_carried = 0;
    std::uint64_t m_cutsAsked = 0;
    std::uint64_t m_cutsDone = 0;
    bool m_stopping = false;
    std::atomic<bool> m_loseCommitReply{false};
    std::atomic<int> m_lostReplies{0};
    std::thread m_thread;
};

} // namespace ostrel::test

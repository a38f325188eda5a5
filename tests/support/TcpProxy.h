#pragma once

#include "platform/linux/FileDescriptor.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {

// A TCP proxy on 127.0.0.1 in front of a MySQL server, forwarding both ways. Armed, it loses
// the reply to the next COMMIT the way a broken network does: it passes the statement on,
// waits until the server has answered (so the commit has happened), then closes both sides
// instead of passing the answer back. The client is left not knowing whether it committed.
class TcpProxy {
public:
    // host must be an IPv4 literal.
    TcpProxy(const std::string& host, int port);
    ~TcpProxy();
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    std::uint16_t port() const { return m_port; }

    // The next COMMIT on any connection through the proxy loses its reply.
    void loseNextCommitReply() { m_armed = true; }
    // Replies lost so far.
    int lostReplies() const { return m_lost.load(); }

private:
    void acceptLoop();
    void relay(platform::FileDescriptor client);
    bool isArmedCommit(const std::string& packet);

    std::string m_host;
    int m_serverPort;
    platform::FileDescriptor m_listener;
    platform::FileDescriptor m_wakeRead;
    platform::FileDescriptor m_wakeWrite;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_armed{false};
    std::atomic<int> m_lost{0};
    std::mutex m_mutex;
    std::vector<std::thread> m_relays;
    std::thread m_acceptor;
};

} // namespace ostrel::test

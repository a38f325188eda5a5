#include "support/linux/TcpForwarder.h"

#include "support/Ipv4Endpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <list>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace ostrel::test {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("TcpForwarder: " + what + " failed (errno " + std::to_string(errno) + ")");
}

platform::FileDescriptor tcpSocket() {
    platform::FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        fail("socket");
    return socket;
}

// Writes all of it; false when the other side is gone.
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// One carried connection: the client's side and the target's side.
struct Carried {
    platform::FileDescriptor client;
    platform::FileDescriptor target;
    std::string clientPacket; // the client's bytes of a MySQL packet not yet complete
    bool loseReply = false;   // a COMMIT went on: its answer ends the connection instead
};

// Moves what one side has to the other; false when the connection has ended. What it moved is
// appended to `seen` when given.
bool pass(int from, int to, std::string* seen = nullptr) {
    char buffer[65536];
    const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0 || !writeAll(to, buffer, static_cast<std::size_t>(got)))
        return false;
    if (seen)
        seen->append(buffer, static_cast<std::size_t>(got));
    return true;
}

// True when the client's bytes so far end a COM_QUERY packet whose text is "COMMIT" or ends with
// a statement "COMMIT;" of its own line; the complete packets (3-byte length, sequence byte,
// payload) leave the buffer.
bool endsInCommit(std::string& clientBytes) {
    static const std::string Commit = "\x03"
                                      "COMMIT";
    static const std::string LastStatementCommit = "\nCOMMIT;";
    bool commit = false;
    for (;;) {
        if (clientBytes.size() < 4)
            return commit;
        const auto byte = [&](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(clientBytes[i]));
        };
        const std::size_t length = byte(0) | (byte(1) << 8) | (byte(2) << 16);
        if (clientBytes.size() < 4 + length)
            return commit;
        const std::string_view payload(clientBytes.data() + 4, length);
        commit = payload == Commit || (payload.starts_with('\x03') && payload.ends_with(LastStatementCommit));
        clientBytes.erase(0, 4 + length);
    }
}

} // namespace

TcpForwarder::TcpForwarder(const std::string& targetAddress, std::uint16_t targetPort, const std::string& listenAddress,
                           std::uint16_t listenPort)
    : m_address(listenAddress), m_targetAddress(targetAddress), m_targetPort(targetPort), m_listener(tcpSocket()) {
    ipv4Endpoint(targetAddress, targetPort); // refuses a bad target here, not on the thread
    const int on = 1;
    ::setsockopt(m_listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local = ipv4Endpoint(listenAddress, listenPort);
    if (::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        fail("bind to " + listenAddress + ":" + std::to_string(listenPort));
    if (::listen(m_listener.get(), 16) != 0)
        fail("listen");
    socklen_t length = sizeof local;
    ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        fail("pipe");
    m_wakeRead = platform::FileDescriptor(pipe[0]);
    m_wakeWrite = platform::FileDescriptor(pipe[1]);
    m_thread = std::thread([this] { run(); });
}

TcpForwarder::~TcpForwarder() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    m_thread.join();
}

void TcpForwarder::wake() const {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(m_wakeWrite.get(), &byte, 1);
}

std::size_t TcpForwarder::accepted() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

std::size_t TcpForwarder::carried() const {
    std::lock_guard lock(m_mutex);
    return m_carried;
}

void TcpForwarder::cutAll() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = ++m_cutsAsked;
    wake();
    m_changed.wait(lock, [&] { return m_cutsDone >= ticket; });
}

bool TcpForwarder::waitUntilCarried(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_carried == count; });
}

void TcpForwarder::run() {
    std::list<Carried> connections;
    const auto publish = [&] {
        std::lock_guard lock(m_mutex);
        m_carried = connections.size();
        m_changed.notify_all();
    };
    for (;;) {
        std::vector<pollfd> fds{{m_wakeRead.get(), POLLIN, 0}, {m_listener.get(), POLLIN, 0}};
        for (const Carried& carried : connections) {
            fds.push_back({carried.client.get(), POLLIN, 0});
            fds.push_back({carried.target.get(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents) {
            char drained[64];
            while (::read(m_wakeRead.get(), drained, sizeof drained) > 0) {
            }
            std::unique_lock lock(m_mutex);
            if (m_stopping)
                return;
            if (m_cutsDone < m_cutsAsked) {
                connections.clear();
                m_carried = 0;
                m_cutsDone = m_cutsAsked;
                m_changed.notify_all();
            }
            continue; // the poll set is stale now
        }
        std::size_t index = 2;
        for (auto it = connections.begin(); it != connections.end(); index += 2) {
            bool ended = fds[index].revents && !pass(it->client.get(), it->target.get(), &it->clientPacket);
            if (!ended && endsInCommit(it->clientPacket) && m_loseCommitReply.exchange(false))
                it->loseReply = true;
            if (!ended && fds[index + 1].revents) {
                // The answer to the COMMIT has come, so the commit has happened: it is not passed on.
                if (it->loseReply) {
                    ++m_lostReplies;
                    ended = true;
                } else {
                    ended = !pass(it->target.get(), it->client.get());
                }
            }
            it = ended ? connections.erase(it) : std::next(it);
        }
        if (fds[1].revents & POLLIN) {
            platform::FileDescriptor client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client) {
                platform::FileDescriptor target = tcpSocket();
                const sockaddr_in destination = ipv4Endpoint(m_targetAddress, m_targetPort);
                if (::connect(target.get(), reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0)
                    connections.push_back(Carried{std::move(client), std::move(target), {}, false});
                std::lock_guard lock(m_mutex);
                ++m_accepted;
            }
        }
        publish();
    }
}

} // namespace ostrel::test

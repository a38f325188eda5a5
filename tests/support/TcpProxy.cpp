#include "support/TcpProxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

using platform::FileDescriptor;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("TcpProxy: " + what + ": " + std::strerror(errno));
}

sockaddr_in ipv4Address(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        throw std::invalid_argument("TcpProxy: not an IPv4 address: " + host);
    return address;
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// The complete MySQL packets at the front of a buffer (3-byte length, sequence byte, payload),
// taken out of it; a packet not yet complete stays.
std::vector<std::string> takePackets(std::string& buffer) {
    std::vector<std::string> packets;
    for (;;) {
        if (buffer.size() < 4)
            return packets;
        const auto byte = [&](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(buffer[i]));
        };
        const std::size_t length = byte(0) | (byte(1) << 8) | (byte(2) << 16);
        if (buffer.size() < 4 + length)
            return packets;
        packets.push_back(buffer.substr(0, 4 + length));
        buffer.erase(0, 4 + length);
    }
}

} // namespace

TcpProxy::TcpProxy(const std::string& host, int port) : m_host(host), m_serverPort(port) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        fail("pipe");
    m_wakeRead = FileDescriptor(pipeEnds[0]);
    m_wakeWrite = FileDescriptor(pipeEnds[1]);

    m_listener = FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!m_listener)
        fail("socket");
    sockaddr_in address = ipv4Address("127.0.0.1", 0);
    if (::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("bind");
    if (::listen(m_listener.get(), 16) != 0)
        fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("getsockname");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TcpProxy::~TcpProxy() {
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite.get(), &wake, 1);
    m_acceptor.join();
    std::lock_guard lock(m_mutex);
    for (std::thread& relay : m_relays)
        relay.join();
}

void TcpProxy::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        FileDescriptor client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client)
            continue;
        std::lock_guard lock(m_mutex);
        m_relays.emplace_back([this, fd = std::move(client)]() mutable { relay(std::move(fd)); });
    }
}

bool TcpProxy::isArmedCommit(const std::string& packet) {
    // COM_QUERY (0x03) carries the statement text after the command byte.
    static const std::string Commit = "\x03"
                                      "COMMIT";
    return m_armed && packet.size() == 4 + Commit.size() && packet.compare(4, Commit.size(), Commit) == 0 &&
           m_armed.exchange(false);
}

void TcpProxy::relay(FileDescriptor client) {
    FileDescriptor server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = ipv4Address(m_host, static_cast<std::uint16_t>(m_serverPort));
    if (!server || ::connect(server.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return; // the client sees its connection closed
    std::string fromClient;
    char chunk[65536];
    for (;;) {
        pollfd fds[3] = {{client.get(), POLLIN, 0}, {server.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents != 0)
            return;
        if (fds[1].revents != 0) {
            const ssize_t got = ::recv(server.get(), chunk, sizeof chunk, 0);
            if (got <= 0 || !sendAll(client.get(), chunk, static_cast<std::size_t>(got)))
                return;
        }
        if (fds[0].revents != 0) {
            const ssize_t got = ::recv(client.get(), chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            fromClient.append(chunk, static_cast<std::size_t>(got));
            for (const std::string& packet : takePackets(fromClient)) {
                if (!sendAll(server.get(), packet.data(), packet.size()))
                    return;
                if (isArmedCommit(packet)) {
                    // The answer comes once the commit is done; it never reaches the client.
                    pollfd answer{server.get(), POLLIN, 0};
                    while (::poll(&answer, 1, -1) < 0 && errno == EINTR) {
                    }
                    ++m_lost;
                    return;
                }
            }
        }
    }
}

} // namespace ostrel::test

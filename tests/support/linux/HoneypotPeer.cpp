#include "support/linux/HoneypotPeer.h"

#include "support/Ipv4Endpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

int pollFor(int fd, short events, std::chrono::milliseconds timeout) {
    pollfd watched{fd, events, 0};
    int ready;
    do
        ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
    while (ready < 0 && errno == EINTR);
    return ready > 0 ? watched.revents : 0;
}

} // namespace

HoneypotPeer::HoneypotPeer(const std::string& source, const std::string& destination, std::uint16_t port,
                           std::chrono::milliseconds timeout)
    : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    if (!m_socket)
        fail("socket", errno);
    const sockaddr_in from = ipv4Endpoint(source, 0);
    const sockaddr_in to = ipv4Endpoint(destination, port);
    if (::bind(m_socket.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
        fail("bind to " + source, errno);
    if (::connect(m_socket.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return;
    if (errno != EINPROGRESS)
        fail("connect to " + destination, errno);
    if (pollFor(m_socket.get(), POLLOUT, timeout) == 0)
        throw std::runtime_error("connect to " + destination + " from " + source + ": no answer in time");
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    // A refused connection ends in ECONNREFUSED; a reset needs an established connection first.
    m_resetEarly = error == ECONNRESET;
    if (error != 0 && !m_resetEarly)
        fail("connect to " + destination + " from " + source, error);
}

bool HoneypotPeer::waitClosed(std::chrono::milliseconds timeout) const {
    if (m_resetEarly)
        return true;
    // The honeypot never sends data, so anything readable is the end of the stream or a reset.
    return (pollFor(m_socket.get(), POLLIN | POLLRDHUP, timeout) & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

std::uint16_t freeHoneypotPort() {
    constexpr int First = 3300;
    constexpr int Count = 101;
    const int start = static_cast<int>(::getpid() % Count);
    for (int i = 0; i < Count; ++i) {
        const auto port = static_cast<std::uint16_t>(First + (start + i) % Count);
        const platform::FileDescriptor probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in any = ipv4Endpoint("0.0.0.0", port);
        if (probe && ::bind(probe.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0)
            return port;
    }
    throw std::runtime_error("no free port from 3300 to 3400");
}

int acceptQueueLength(std::uint16_t port) {
    // /proc/thread-self/net shows the calling thread's namespace, /proc/self/net the main thread's.
    std::ifstream table("/proc/thread-self/net/tcp");
    std::string line;
    std::getline(table, line); // header
    int waiting = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        constexpr const char* Listening = "0A";
        const auto colon = local.find(':');
        if (state != Listening || colon == std::string::npos)
            continue;
        if (std::stoi(local.substr(colon + 1), nullptr, 16) != port)
            continue;
        // "tx_queue:rx_queue"; for a listening socket rx_queue is its accept queue.
        waiting += std::stoi(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return waiting;
}

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace ostrel::test

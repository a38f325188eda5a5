#include "support/linux/TcpProbe.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>

namespace ostrel::test {
namespace {

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

SocketAddress socketAddress(const std::string& text, std::uint16_t port) {
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
    } else {
        throw std::invalid_argument("not an address: " + text);
    }
    return address;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

TcpListener::TcpListener() : m_socket(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (!m_socket)
        fail("socket");
    const int off = 0;
    ::setsockopt(m_socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    if (::bind(m_socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        fail("bind");
    if (::listen(m_socket.get(), 64) != 0)
        fail("listen");
    socklen_t length = sizeof any;
    if (::getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&any), &length) != 0)
        fail("getsockname");
    m_port = ntohs(any.sin6_port);
}

bool connectsFrom(const std::string& source, const std::string& destination, std::uint16_t port,
                  std::chrono::milliseconds timeout) {
    const SocketAddress from = socketAddress(source, 0);
    const SocketAddress to = socketAddress(destination, port);
    const platform::FileDescriptor socket(
        ::socket(to.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket)
        fail("socket");
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&from.storage), from.length) != 0)
        fail("bind to " + source);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&to.storage), to.length) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd watched{socket.get(), POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0;
}

} // namespace ostrel::test

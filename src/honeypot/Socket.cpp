#include "honeypot/Socket.h"

#include "common/Errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::honeypot {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void Socket::close() noexcept {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string describe(const BindingAddress& binding) {
    return (binding.address.empty() ? std::string("0.0.0.0") : binding.address) + ":" + std::to_string(binding.port);
}

namespace {

[[noreturn]] void fail(const std::string& what, const BindingAddress& binding, int error) {
    throw ESocketError(what + " " + describe(binding) + ": " + std::strerror(error));
}

sockaddr_in socketAddress(const BindingAddress& binding) {
    if (binding.port < 1 || binding.port > 65535)
        throw ESocketError("Could not bind socket to " + describe(binding) + ": the port lies outside 1 to 65535");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(binding.port));
    if (binding.address.empty())
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    else if (::inet_pton(AF_INET, binding.address.c_str(), &address.sin_addr) != 1)
        throw ESocketError("Could not bind socket to " + describe(binding) + ": not an IPv4 address");
    return address;
}

} // namespace

Socket bindSocket(const BindingAddress& binding, int* error) {
    const sockaddr_in address = socketAddress(binding);
    // Non-blocking, so that a peer that vanishes between the wake-up and accept() cannot
    // stall the listening thread in accept().
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isOpen())
        fail("Could not create a socket for", binding, errno);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int reason = errno;
        if (error)
            *error = reason;
        fail("Could not bind socket to", binding, reason);
    }
    return socket;
}

void listenOn(const Socket& socket, const BindingAddress& binding, int queue) {
    if (::listen(socket.fd(), queue) != 0)
        fail("Could not listen on", binding, errno);
}

} // namespace ostrel::honeypot

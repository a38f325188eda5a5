#pragma once

#include <string>
#include <utility>

namespace ostrel::honeypot {

// Owns one socket descriptor and closes it on every path.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // Closes now; later calls do nothing.
    void close() noexcept;
    // Gives the descriptor up without closing it.
    [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

// A TCP port of IPv4 as the honeypot binds it: empty address text means every local address.
struct BindingAddress {
    std::string address;
    int port = 0;
};

// "0.0.0.0" for the all-addresses binding, the address otherwise; for messages.
std::string describe(const BindingAddress& binding);

// A new IPv4 stream socket bound to the binding, without address reuse, not yet listening.
// Raises ESocketError naming the binding and the reason; `error` receives errno of a failed bind.
Socket bindSocket(const BindingAddress& binding, int* error = nullptr);

// Puts a bound socket to listening with the given queue; ESocketError when it cannot.
void listenOn(const Socket& socket, const BindingAddress& binding, int queue);

} // namespace ostrel::honeypot

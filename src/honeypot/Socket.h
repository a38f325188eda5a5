#pragma once

#include "platform/Sockets.h"

#include <string>
#include <utility>

namespace ostrel::honeypot {

// Owns one socket and closes it on every path.
class Socket {
public:
    Socket() = default;
    explicit Socket(platform::SocketHandle handle) : m_handle(handle) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : m_handle(std::exchange(other.m_handle, platform::InvalidSocket)) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    platform::SocketHandle handle() const { return m_handle; }
    bool isOpen() const { return m_handle != platform::InvalidSocket; }

    // Closes now; later calls do nothing.
    void close() noexcept;
    // Gives the socket up without closing it.
    [[nodiscard]] platform::SocketHandle release() noexcept { return std::exchange(m_handle, platform::InvalidSocket); }

private:
    platform::SocketHandle m_handle = platform::InvalidSocket;
};

// A TCP port of IPv4 as the honeypot binds it: empty address text means every local address.
struct BindingAddress {
    std::string address;
    int port = 0;
};

// "0.0.0.0" for the all-addresses binding, the address otherwise; for messages.
std::string describe(const BindingAddress& binding);

// A new IPv4 stream socket bound to the binding, without address reuse, not yet listening.
// Raises ESocketError naming the binding and the reason; `addressInUse` tells whether a failed
// bind found the address and port taken.
Socket bindSocket(const BindingAddress& binding, bool* addressInUse = nullptr);

// Puts a bound socket to listening with the given queue; ESocketError when it cannot, with
// `addressInUse` telling whether the system found the address and port taken only now.
void listenOn(const Socket& socket, const BindingAddress& binding, int queue, bool* addressInUse = nullptr);

} // namespace ostrel::honeypot

#pragma once

#include "platform/linux/FileDescriptor.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace ostrel::test {

// A TCP listener on every IPv4 and IPv6 address of the namespace it is made in, on a port
// of the system's choice. The kernel completes handshakes into its queue; nobody accepts.
class TcpListener {
public:
    TcpListener();
    std::uint16_t port() const { return m_port; }

private:
    platform::FileDescriptor m_socket;
    std::uint16_t m_port = 0;
};

// Whether a TCP connection from `source` (an address of the calling thread's namespace) to
// destination:port completes within the timeout. A dropped SYN shows as false.
bool connectsFrom(const std::string& source, const std::string& destination, std::uint16_t port,
                  std::chrono::milliseconds timeout);

} // namespace ostrel::test

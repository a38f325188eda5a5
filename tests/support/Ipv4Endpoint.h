#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include "platform/windows/WindowsApi.h"
#include "platform/windows/Winsock.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace ostrel::test {

// The socket address of an IPv4 address and port, for the tests' own peers, proxies and servers;
// std::invalid_argument for a text that is no IPv4 address.
inline sockaddr_in ipv4Endpoint(const std::string& text, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 address: " + text);
    return address;
}

} // namespace ostrel::test

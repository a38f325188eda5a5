#include "honeypot/Socket.h"

#include "common/Errors.h"

#include <cstdint>

namespace ostrel::honeypot {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, platform::InvalidSocket);
    }
    return *this;
}

void Socket::close() noexcept {
    platform::closeSocket(std::exchange(m_handle, platform::InvalidSocket));
}

std::string describe(const BindingAddress& binding) {
    return (binding.address.empty() ? std::string("0.0.0.0") : binding.address) + ":" + std::to_string(binding.port);
}

Socket bindSocket(const BindingAddress& binding, bool* addressInUse) {
    if (binding.port < 1 || binding.port > 65535)
        throw ESocketError("Could not bind socket to " + describe(binding) + ": the port lies outside 1 to 65535");
    platform::SocketFailure failure;
    Socket socket(platform::bindTcp4(binding.address, static_cast<std::uint16_t>(binding.port), failure));
    if (!socket.isOpen()) {
        if (addressInUse)
            *addressInUse = failure.addressInUse;
        throw ESocketError("Could not bind socket to " + describe(binding) + ": " + failure.text);
    }
    return socket;
}

void listenOn(const Socket& socket, const BindingAddress& binding, int queue, bool* addressInUse) {
    platform::SocketFailure failure;
    if (!platform::listenOn(socket.handle(), queue, failure)) {
        if (addressInUse)
            *addressInUse = failure.addressInUse;
        throw ESocketError("Could not listen on " + describe(binding) + ": " + failure.text);
    }
}

} // namespace ostrel::honeypot

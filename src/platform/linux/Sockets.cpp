#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::platform {
namespace {

int fdOf(SocketHandle socket) {
    return static_cast<int>(socket);
}

SocketHandle handleOf(int fd) {
    return fd < 0 ? InvalidSocket : static_cast<SocketHandle>(fd);
}

void failed(SocketFailure& failure, int error) {
    failure.code = error;
    failure.text = std::strerror(error);
    failure.addressInUse = error == EADDRINUSE;
    failure.outOfResources = error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

std::string peerAddress(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    if (peer.sin_family != AF_INET || !::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text))
        return {};
    return text;
}

} // namespace

void closeSocket(SocketHandle socket) noexcept {
    if (socket != InvalidSocket)
        ::close(fdOf(socket));
}

SocketHandle bindTcp4(const std::string& address, std::uint16_t port, SocketFailure& failure) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (address.empty()) {
        where.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        failure = {EINVAL, "not an IPv4 address", false, false};
        return InvalidSocket;
    }
    // Non-blocking, so that a peer that vanishes between the wake-up and accept() cannot
    // stall the listening thread in accept().
    const SocketHandle socket = handleOf(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket == InvalidSocket) {
        failed(failure, errno);
        return InvalidSocket;
    }
    if (::bind(fdOf(socket), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        failed(failure, errno);
        closeSocket(socket);
        return InvalidSocket;
    }
    return socket;
}

bool listenOn(SocketHandle socket, int queue, SocketFailure& failure) {
    if (::listen(fdOf(socket), queue) == 0)
        return true;
    failed(failure, errno);
    return false;
}

PeerWait waitForPeer(SocketHandle listening, const WakeSignal& wake) {
    pollfd waiting[2] = {{fdOf(listening), POLLIN, 0}, {static_cast<int>(wake.handle()), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(waiting, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return PeerWait::Failed;
        if (waiting[1].revents != 0)
            return PeerWait::Woken;
        // A descriptor that is no (longer an) open socket cannot be waited on, now or later.
        if ((waiting[0].revents & POLLNVAL) != 0)
            return PeerWait::Failed;
        if (waiting[0].revents != 0)
            return PeerWait::PeerWaiting;
    }
}

SocketHandle acceptPeer(SocketHandle listening, std::string& peerIp, SocketFailure& failure) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const SocketHandle accepted =
        handleOf(::accept4(fdOf(listening), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (accepted == InvalidSocket) {
        failed(failure, errno);
        return InvalidSocket;
    }
    const linger abortive{1, 0};
    ::setsockopt(fdOf(accepted), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    peerIp = peerAddress(peer);
    return accepted;
}

} // namespace ostrel::platform

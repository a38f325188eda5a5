#pragma once

#include "platform/WakeSignal.h"

#include <cstdint>
#include <string>

// The TCP sockets the honeypot needs, the same on every platform: descriptors on Linux,
// Winsock sockets on Windows (started once per process by the first call that needs it).
namespace ostrel::platform {

// A socket of the system; wide enough for Windows' 64-bit SOCKET.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle InvalidSocket = ~SocketHandle{0};

// Why a socket call failed: the system's code and text, and the two causes callers act on.
struct SocketFailure {
    int code = 0;
    std::string text;
    bool addressInUse = false;   // the address and port are taken
    bool outOfResources = false; // the system ran out of descriptors or memory for now
};

// Closes the socket; nothing for InvalidSocket.
void closeSocket(SocketHandle socket) noexcept;

// A new IPv4 stream socket, non-blocking and not inherited by child processes, bound without
// address reuse to address:port (empty address: every local IPv4 address). InvalidSocket and
// the reason when it cannot be made, bound, or the address is no IPv4 address.
SocketHandle bindTcp4(const std::string& address, std::uint16_t port, SocketFailure& failure);

bool listenOn(SocketHandle socket, int queue, SocketFailure& failure);

enum class PeerWait { PeerWaiting, Woken, Failed };

// Waits until the listening socket has a peer to accept or the wake signal is raised (the
// signal wins when both hold).
PeerWait waitForPeer(SocketHandle listening, const WakeSignal& wake);

// Accepts one waiting peer: the connection, set to close abortively (a reset for the peer and no
// TIME_WAIT left on the port), and the peer's IPv4 address as text. InvalidSocket when the peer
// gave up meanwhile or the accept failed (the failure tells which).
SocketHandle acceptPeer(SocketHandle listening, std::string& peerIp, SocketFailure& failure);

} // namespace ostrel::platform

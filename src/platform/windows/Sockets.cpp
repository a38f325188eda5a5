#include "platform/Sockets.h"

#include "platform/windows/SystemErrors.h"
#include "platform/windows/WindowsApi.h"
#include "platform/windows/Winsock.h"

namespace ostrel::platform {
namespace {

class WinsockSession {
public:
    WinsockSession() {
        WSADATA data{};
        m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (m_started)
            ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    bool m_started = false;
};

SOCKET socketOf(SocketHandle handle) {
    return static_cast<SOCKET>(handle);
}

void failed(SocketFailure& failure, int error) {
    failure.code = error;
    failure.text = systemMessage(static_cast<std::uint32_t>(error));
    failure.addressInUse = error == WSAEADDRINUSE;
    failure.outOfResources = error == WSAEMFILE || error == WSAENOBUFS;
}

// Owns the event that one wait for a peer watches, and detaches it from the socket again, so
// that the socket accepted next inherits no event of ours.
class AcceptEvent {
public:
    explicit AcceptEvent(SOCKET listening) : m_listening(listening), m_event(::WSACreateEvent()) {}
    ~AcceptEvent() {
        if (m_selected)
            ::WSAEventSelect(m_listening, nullptr, 0);
        if (m_event != WSA_INVALID_EVENT)
            ::WSACloseEvent(m_event);
    }
    AcceptEvent(const AcceptEvent&) = delete;
    AcceptEvent& operator=(const AcceptEvent&) = delete;

    bool select() {
        m_selected = m_event != WSA_INVALID_EVENT && ::WSAEventSelect(m_listening, m_event, FD_ACCEPT) == 0;
        return m_selected;
    }
    WSAEVENT event() const { return m_event; }

private:
    SOCKET m_listening;
    WSAEVENT m_event;
    bool m_selected = false;
};

} // namespace

void startWinsock() {
    static const WinsockSession session;
}

void closeSocket(SocketHandle socket) noexcept {
    if (socket != InvalidSocket)
        ::closesocket(socketOf(socket));
}

SocketHandle bindTcp4(const std::string& address, std::uint16_t port, SocketFailure& failure) {
    startWinsock();
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = ::htons(port);
    if (address.empty()) {
        where.sin_addr.s_addr = ::htonl(INADDR_ANY);
    } else if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        failure = {WSAEINVAL, "not an IPv4 address", false, false};
        return InvalidSocket;
    }
    const SOCKET socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        failed(failure, ::WSAGetLastError());
        return InvalidSocket;
    }
    // Non-blocking, so that a peer that vanishes between the wake-up and accept() cannot
    // stall the listening thread in accept().
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        ::bind(socket, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        failed(failure, ::WSAGetLastError());
        ::closesocket(socket);
        return InvalidSocket;
    }
    return static_cast<SocketHandle>(socket);
}

bool listenOn(SocketHandle socket, int queue, SocketFailure& failure) {
    if (::listen(socketOf(socket), queue) == 0)
        return true;
    failed(failure, ::WSAGetLastError());
    return false;
}

PeerWait waitForPeer(SocketHandle listening, const WakeSignal& wake) {
    AcceptEvent accept(socketOf(listening));
    if (!accept.select())
        return PeerWait::Failed;
    // The wake signal comes first: when both are set, the lower index is the one reported.
    const WSAEVENT events[2] = {reinterpret_cast<WSAEVENT>(wake.handle()), accept.event()};
    const DWORD which = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
    if (which == WSA_WAIT_EVENT_0)
        return PeerWait::Woken;
    if (which == WSA_WAIT_EVENT_0 + 1)
        return PeerWait::PeerWaiting;
    return PeerWait::Failed;
}

SocketHandle acceptPeer(SocketHandle listening, std::string& peerIp, SocketFailure& failure) {
    sockaddr_in peer{};
    int length = sizeof peer;
    const SOCKET accepted = ::accept(socketOf(listening), reinterpret_cast<sockaddr*>(&peer), &length);
    if (accepted == INVALID_SOCKET) {
        failed(failure, ::WSAGetLastError());
        return InvalidSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    const linger abortive{1, 0};
    ::setsockopt(accepted, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    char text[INET_ADDRSTRLEN] = {};
    peerIp = peer.sin_family == AF_INET && ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) ? text : "";
    return static_cast<SocketHandle>(accepted);
}

} // namespace ostrel::platform

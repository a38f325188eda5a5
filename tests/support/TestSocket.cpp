#include "support/TestSocket.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include "platform/windows/WindowsApi.h"
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ostrel::test {

namespace {

#ifdef _WIN32
using Length = int;
using PollEntry = WSAPOLLFD;

// Winsock wants one WSAStartup per process before any socket; it stays up until the end.
void startSockets() {
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
        return true;
    }();
    (void)started;
}

int pollSockets(PollEntry* entries, std::size_t count, int timeout) {
    return WSAPoll(entries, static_cast<ULONG>(count), timeout);
}
#else
using Length = socklen_t;
using PollEntry = pollfd;

void startSockets() {}

int pollSockets(PollEntry* entries, std::size_t count, int timeout) {
    int ready;
    do
        ready = ::poll(entries, count, timeout);
    while (ready < 0 && errno == EINTR);
    return ready;
}
#endif

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("test socket: " + what + ": " + socketErrorText());
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

TestSocket newTcpSocket() {
    startSockets();
#ifdef _WIN32
    // Not inherited by child processes, as SOCK_CLOEXEC does on Linux.
    TestSocket socket(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
#else
    TestSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
#endif
    if (!socket)
        fail("socket");
    return socket;
}

} // namespace

TestSocket& TestSocket::operator=(TestSocket&& other) noexcept {
    if (this != &other) {
        close();
        m_socket = std::exchange(other.m_socket, NoSocket);
    }
    return *this;
}

void TestSocket::close() noexcept {
    if (m_socket == NoSocket)
        return;
#ifdef _WIN32
    ::closesocket(m_socket);
#else
    ::close(m_socket);
#endif
    m_socket = NoSocket;
}

std::string socketErrorText() {
#ifdef _WIN32
    const int code = WSAGetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                   text, sizeof text, nullptr);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return "error " + std::to_string(code) + (message.empty() ? "" : " (" + message + ")");
#else
    return std::strerror(errno);
#endif
}

TestSocket bindLoopback(std::uint16_t port) {
    TestSocket socket = newTcpSocket();
    const sockaddr_in address = loopback(port);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("bind");
    return socket;
}

std::uint16_t boundPort(const TestSocket& socket) {
    sockaddr_in address{};
    Length length = sizeof address;
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("getsockname");
    return ntohs(address.sin_port);
}

void listenOn(const TestSocket& socket, int queue) {
    if (::listen(socket.get(), queue) != 0)
        fail("listen");
}

TestSocket acceptFrom(const TestSocket& listening) {
#ifdef _WIN32
    TestSocket accepted(::accept(listening.get(), nullptr, nullptr));
    // An accepted socket does not take WSA_FLAG_NO_HANDLE_INHERIT over: say it again.
    if (accepted)
        SetHandleInformation(reinterpret_cast<HANDLE>(accepted.get()), HANDLE_FLAG_INHERIT, 0);
    return accepted;
#else
    return TestSocket(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
#endif
}

TestSocket connectLoopback(std::uint16_t port) {
    TestSocket socket = newTcpSocket();
    const sockaddr_in address = loopback(port);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("connect");
    return socket;
}

std::pair<TestSocket, TestSocket> connectedPair() {
    TestSocket listening = bindLoopback();
    listenOn(listening, 1);
    TestSocket writer = newTcpSocket();
    const sockaddr_in address = loopback(boundPort(listening));
    if (::connect(writer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("connect");
    TestSocket reader = acceptFrom(listening);
    if (!reader)
        fail("accept");
    return {std::move(reader), std::move(writer)};
}

int waitReadable(std::initializer_list<RawSocket> sockets, std::chrono::milliseconds timeout) {
    std::vector<PollEntry> entries;
    for (RawSocket socket : sockets) {
        PollEntry entry{};
        entry.fd = socket;
        entry.events = POLLIN;
        entries.push_back(entry);
    }
    const int milliseconds = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
    if (pollSockets(entries.data(), entries.size(), milliseconds) <= 0)
        return -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].revents & (POLLIN | POLLHUP | POLLERR))
            return static_cast<int>(i);
    return -1;
}

long receiveSome(RawSocket socket, char* buffer, std::size_t size) {
#ifdef _WIN32
    return ::recv(socket, buffer, static_cast<int>(size), 0);
#else
    return ::recv(socket, buffer, size, 0);
#endif
}

long sendSome(RawSocket socket, const char* data, std::size_t size) {
#ifdef _WIN32
    return ::send(socket, data, static_cast<int>(size), 0);
#else
    return ::send(socket, data, size, MSG_NOSIGNAL);
#endif
}

namespace {

void setNonBlocking(RawSocket socket) {
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(socket, FIONBIO, &on);
#else
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags >= 0)
        ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
#endif
}

bool sendWouldBlock() {
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

} // namespace

bool sendAllOrStop(RawSocket socket, RawSocket stop, const char* data, std::size_t size,
                   std::chrono::milliseconds stall) {
    // Small pieces: a large send may stay inside the system (Wine's emulation of a blocking send
    // is one such place) long after the peer went.
    constexpr std::size_t Piece = 64 * 1024;
    setNonBlocking(socket);
    std::size_t done = 0;
    while (done < size) {
        PollEntry entries[2]{};
        entries[0].fd = stop;
        entries[0].events = POLLIN;
        entries[1].fd = socket;
        entries[1].events = POLLOUT;
        if (pollSockets(entries, 2, static_cast<int>(stall.count())) <= 0)
            return false; // the peer took nothing for the whole time, or waiting failed
        if (entries[0].revents != 0)
            return false;
        if (entries[1].revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
        const long sent = sendSome(socket, data + done, std::min(Piece, size - done));
        if (sent < 0 && sendWouldBlock())
            continue;
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace ostrel::test

#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace ostrel::test {

// The sockets of the tests' own servers and peers, the same on Linux and Windows: descriptors
// there, Winsock sockets here (Winsock is started by the first socket made).
#ifdef _WIN32
using RawSocket = std::uintptr_t; // SOCKET
inline constexpr RawSocket NoSocket = ~RawSocket{0};
#else
using RawSocket = int;
inline constexpr RawSocket NoSocket = -1;
#endif

// Owns one socket and closes it on every path.
class TestSocket {
public:
    TestSocket() = default;
    explicit TestSocket(RawSocket socket) : m_socket(socket) {}
    ~TestSocket() { close(); }
    TestSocket(TestSocket&& other) noexcept : m_socket(std::exchange(other.m_socket, NoSocket)) {}
    TestSocket& operator=(TestSocket&& other) noexcept;
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    RawSocket get() const { return m_socket; }
    explicit operator bool() const { return m_socket != NoSocket; }
    void close() noexcept;

private:
    RawSocket m_socket = NoSocket;
};

// The last socket error of the calling thread as text (errno, or WSAGetLastError on Windows).
std::string socketErrorText();

// A TCP socket of IPv4 bound to 127.0.0.1 and `port` (0: the system chooses); raises
// std::runtime_error when it cannot.
TestSocket bindLoopback(std::uint16_t port = 0);
std::uint16_t boundPort(const TestSocket& socket);
void listenOn(const TestSocket& socket, int queue);
// The next waiting connection; an empty socket when accepting failed.
TestSocket acceptFrom(const TestSocket& listening);

// A TCP connection to 127.0.0.1 and `port`; raises std::runtime_error when it cannot be made.
TestSocket connectLoopback(std::uint16_t port);

// Two connected loopback sockets: a wake-up line for threads waiting on sockets (one byte
// written to the second makes the first readable for good).
std::pair<TestSocket, TestSocket> connectedPair();

// Waits until one of the sockets is readable (data, end of stream or an error waiting) and
// returns its index; -1 when the time ran out or waiting failed. A negative timeout waits on.
int waitReadable(std::initializer_list<RawSocket> sockets,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

// One recv / send; what the system returns (bytes, 0 at the end of the stream, negative on error).
// Sending never raises SIGPIPE.
long receiveSome(RawSocket socket, char* buffer, std::size_t size);
long sendSome(RawSocket socket, const char* data, std::size_t size);

// Sends all of `data` without ever blocking in the system's send: waits for room on the socket
// or a byte on `stop`, and gives up when the peer has taken nothing for `stall`. A peer that stops
// reading (a client past its body limit keeping the connection) so costs at most `stall`, and a
// stop ends the send at once. False when not all was sent. Leaves the socket non-blocking.
bool sendAllOrStop(RawSocket socket, RawSocket stop, const char* data, std::size_t size,
                   std::chrono::milliseconds stall);

} // namespace ostrel::test

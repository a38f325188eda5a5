#pragma once

#include "support/TestSocket.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ostrel::test {

// One request as the server received it.
struct HttpRequest {
    std::string requestLine; // e.g. "GET /report.php?KEY=k HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header of that name (compared without regard to case); nullopt when absent.
    std::optional<std::string> header(const std::string& name) const;
};

struct HttpReply {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // besides Content-Length and Connection
};

// What the server answers to a request; nullopt leaves the client waiting until it gives up or the
// server stops. Called on the connection's own thread, so it must be safe to call concurrently.
using HttpResponder = std::function<std::optional<HttpReply>(const HttpRequest&)>;

// A small threaded HTTP/1.1 server on 127.0.0.1 and an ephemeral port, one thread per connection,
// one request per connection. The TLS variant presents a self-signed certificate made at start,
// which no client trusts.
class HttpTestServer {
public:
    enum class Transport { Plain, Tls };

    // Whether this build has the TLS variant (it needs OpenSSL, which the Windows build lacks).
    static bool hasTls();

    explicit HttpTestServer(HttpResponder responder, Transport transport = Transport::Plain);
    explicit HttpTestServer(HttpReply reply, Transport transport = Transport::Plain);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // A responder that never answers.
    static HttpResponder silent();

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
    std::string baseUrl() const;

    // While held, requests are received and counted but not answered; each reply follows when
    // they are released (or never, when the server stops first).
    void holdReplies();
    void releaseReplies();

    std::vector<HttpRequest> requests() const;
    std::size_t connections() const;
    // Wait until at least that many requests (connections) have arrived; false when the time ran out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    bool waitForConnections(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    class TlsContext;

    void acceptLoop();
    void serve(const TestSocket& connection);
    void stop();

    HttpResponder m_responder;
    Transport m_transport;
    std::unique_ptr<TlsContext> m_tls;
    TestSocket m_listening;
    // Stopping writes one byte into this line; every wait of the server watches its other end.
    TestSocket m_stopReader;
    TestSocket m_stopWriter;
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<HttpRequest> m_requests;
    std::size_t m_connections = 0;
    bool m_held = false;
    bool m_stopping = false;
    std::vector<std::thread> m_connectionThreads;
};

// A loopback port that is bound but never listens, held for the object's life: connecting to it is refused.
class RefusingPort {
public:
    RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t port() const { return m_port; }

private:
    TestSocket m_socket;
    std::uint16_t m_port = 0;
};

} // namespace ostrel::test

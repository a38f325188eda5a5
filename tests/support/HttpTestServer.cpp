#include "support/HttpTestServer.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>
#include <tuple>

#ifdef OSTREL_TEST_TLS
#include <csignal>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#endif

namespace ostrel::test {

namespace {

#ifdef OSTREL_TEST_TLS
template <auto Free> struct OpenSslFree {
    template <typename T> void operator()(T* object) const noexcept { Free(object); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
#else
// Builds without OpenSSL (the Windows one) have the plain server only.
struct SSL;
struct SslPtr {
    SSL* get() const { return nullptr; }
};
#endif

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("HttpTestServer: " + what);
}

// Both ends of one connection, plain or TLS. Every wait also ends when the server stops.
class Stream {
public:
    Stream(RawSocket socket, RawSocket stop, SSL* ssl) : m_socket(socket), m_stop(stop), m_ssl(ssl) {}

    bool handshake() {
#ifdef OSTREL_TEST_TLS
        if (m_ssl) {
            SSL_set_fd(m_ssl, m_socket);
            return SSL_accept(m_ssl) == 1;
        }
#endif
        return true;
    }

    // Bytes read, or 0 on end of stream, error or stop.
    std::size_t read(char* buffer, std::size_t size) {
#ifdef OSTREL_TEST_TLS
        if (m_ssl) {
            if (SSL_pending(m_ssl) == 0 && !waitReadable())
                return 0;
            const int got = SSL_read(m_ssl, buffer, static_cast<int>(size));
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        }
#endif
        if (!waitReadable())
            return 0;
        const long got = receiveSome(m_socket, buffer, size);
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    void writeAll(const std::string& data) {
        if (!m_ssl) {
            // Never blocked in a send: a client that stops reading past its body limit and a
            // server that stops must not keep this thread, or the server's end would wait on it.
            sendAllOrStop(m_socket, m_stop, data.data(), data.size(), std::chrono::seconds(20));
            return;
        }
        std::size_t done = 0;
        while (done < data.size()) {
            const long sent = write(data.data() + done, data.size() - done);
            if (sent <= 0)
                return;
            done += static_cast<std::size_t>(sent);
        }
#ifdef OSTREL_TEST_TLS
        if (m_ssl)
            SSL_shutdown(m_ssl);
#endif
    }

    // Until the client closes or the server stops.
    void holdOpen() {
        char scratch[256];
        while (read(scratch, sizeof scratch) > 0) {
        }
    }

private:
    // False once the server stops, which wins over data.
    bool waitReadable() {
        return test::waitReadable({m_stop, m_socket}) == 1;
    }

    long write(const char* data, std::size_t size) {
#ifdef OSTREL_TEST_TLS
        if (m_ssl)
            return SSL_write(m_ssl, data, static_cast<int>(size));
#endif
        return sendSome(m_socket, data, size);
    }

    RawSocket m_socket;
    RawSocket m_stop;
    SSL* m_ssl;
};

HttpRequest parseRequest(const std::string& head) {
    HttpRequest request;
    std::size_t lineEnd = head.find("\r\n");
    request.requestLine = head.substr(0, lineEnd);
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::size_t valueStart = line.find_first_not_of(' ', colon + 1);
        request.headers.emplace_back(line.substr(0, colon),
                                     valueStart == std::string::npos ? "" : line.substr(valueStart));
    }
    return request;
}

std::string formatReply(const HttpReply& reply) {
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        text += name + ": " + value + "\r\n";
    text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    return text + reply.body;
}

} // namespace

#ifdef OSTREL_TEST_TLS
// A server context with a fresh self-signed certificate for 127.0.0.1.
class HttpTestServer::TlsContext {
public:
    TlsContext() {
        EvpPkeyPtr key(EVP_EC_gen("P-256"));
        X509Ptr cert(X509_new());
        if (!key || !cert)
            fail("key or certificate");
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                                   -1, 0);
        X509_set_issuer_name(cert.get(), name);
        if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
            fail("signing the certificate");
        m_context.reset(SSL_CTX_new(TLS_server_method()));
        if (!m_context || SSL_CTX_use_certificate(m_context.get(), cert.get()) != 1 ||
            SSL_CTX_use_PrivateKey(m_context.get(), key.get()) != 1)
            fail("TLS context");
    }

    SslPtr newSession() const { return SslPtr(SSL_new(m_context.get())); }

private:
    SslCtxPtr m_context;
};
#else
class HttpTestServer::TlsContext {};
#endif

std::optional<std::string> HttpRequest::header(const std::string& name) const {
    const auto sameLetters = [](const std::string& a, const std::string& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
    };
    for (const auto& [key, value] : headers)
        if (sameLetters(key, name))
            return value;
    return std::nullopt;
}

HttpTestServer::HttpTestServer(HttpReply reply, Transport transport)
    : HttpTestServer([reply = std::move(reply)](const HttpRequest&) { return std::optional<HttpReply>(reply); },
                     transport) {}

HttpTestServer::HttpTestServer(HttpResponder responder, Transport transport)
    : m_responder(std::move(responder)), m_transport(transport) {
    if (transport == Transport::Tls) {
#ifdef OSTREL_TEST_TLS
        // A TLS peer that hangs up mid-write must not end the test process.
        std::signal(SIGPIPE, SIG_IGN);
        m_tls = std::make_unique<TlsContext>();
#else
        fail("this build has no TLS test server (no OpenSSL)");
#endif
    }
    std::tie(m_stopReader, m_stopWriter) = connectedPair();
    m_listening = bindLoopback();
    listenOn(m_listening, 64);
    m_port = boundPort(m_listening);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    stop();
}

bool HttpTestServer::hasTls() {
#ifdef OSTREL_TEST_TLS
    return true;
#else
    return false;
#endif
}

HttpResponder HttpTestServer::silent() {
    return [](const HttpRequest&) { return std::optional<HttpReply>(); };
}

std::string HttpTestServer::baseUrl() const {
    return std::string(m_transport == Transport::Tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

std::vector<HttpRequest> HttpTestServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t HttpTestServer::connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

bool HttpTestServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

bool HttpTestServer::waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_connections >= count; });
}

void HttpTestServer::holdReplies() {
    std::lock_guard lock(m_mutex);
    m_held = true;
}

void HttpTestServer::releaseReplies() {
    std::lock_guard lock(m_mutex);
    m_held = false;
    m_changed.notify_all();
}

void HttpTestServer::stop() {
    if (!m_acceptThread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }
    // The byte stays unread, so every wait on the line sees it.
    sendSome(m_stopWriter.get(), "x", 1);
    m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_connectionThreads);
    }
    for (auto& thread : threads)
        thread.join();
}

void HttpTestServer::acceptLoop() {
    for (;;) {
        if (waitReadable({m_stopReader.get(), m_listening.get()}) != 1)
            return;
        TestSocket connection = acceptFrom(m_listening);
        if (!connection)
            continue;
        std::lock_guard lock(m_mutex);
        ++m_connections;
        m_connectionThreads.emplace_back(
            [this, socket = std::make_shared<TestSocket>(std::move(connection))] { serve(*socket); });
        m_changed.notify_all();
    }
}

void HttpTestServer::serve(const TestSocket& connection) {
#ifdef OSTREL_TEST_TLS
    SslPtr ssl = m_tls ? m_tls->newSession() : nullptr;
#else
    SslPtr ssl;
#endif
    Stream stream(connection.get(), m_stopReader.get(), ssl.get());
    if (!stream.handshake())
        return;

    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const std::size_t got = stream.read(buffer, sizeof buffer);
        if (got == 0)
            return;
        head.append(buffer, got);
    }
    const HttpRequest request = parseRequest(head.substr(0, head.find("\r\n\r\n") + 2));
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        m_changed.notify_all();
    }
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_held || m_stopping; });
        if (m_stopping)
            return;
    }
    if (std::optional<HttpReply> reply = m_responder(request))
        stream.writeAll(formatReply(*reply));
    else
        stream.holdOpen();
}

RefusingPort::RefusingPort() : m_socket(bindLoopback()), m_port(boundPort(m_socket)) {}

} // namespace ostrel::test

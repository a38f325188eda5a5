#include "db/ConnectionCache.h"

#include <mysql.h>

namespace ostrel {

#ifdef __MINGW32__

// mingw-w64's runtime runs the destructors of thread_local objects after it has freed their
// storage, so a connection kept per thread crashes the process when its thread ends. Built with
// it, every operation opens a connection of its own, as before connections were kept: slower,
// and otherwise the same.
std::shared_ptr<Connection> ConnectionCache::acquire(const Settings& settings) {
    return acquire(ConnectionValues::fromSettings(settings));
}

std::shared_ptr<Connection> ConnectionCache::acquire(const ConnectionValues& values) {
    return std::make_shared<Connection>(values);
}

void ConnectionCache::closeThreadConnection() noexcept {}

#else

namespace {

// The calling thread's kept connection and the values it was opened with.
class ThreadConnection {
public:
    ThreadConnection() = default;
    ThreadConnection(const ThreadConnection&) = delete;
    ThreadConnection& operator=(const ThreadConnection&) = delete;
    // Runs when the thread ends: the connection goes with it, and the client library's
    // per-thread state too.
    ~ThreadConnection() {
        close();
        if (m_usedClient)
            mysql_thread_end();
    }

    std::shared_ptr<Connection> acquire(const ConnectionValues& values) {
        // A connection that an enclosing operation of this thread holds (a block made by the scan)
        // is in use, not kept: that operation has just used it, and should it have died since,
        // that operation fails anyway. Only a connection that lay idle is asked whether it still
        // stands, and only once it passed the other tests: the question costs a round trip.
        if (m_connection) {
            const bool inUse = m_connection.use_count() > 1;
            if (!(m_values == values && m_connection->reusable() && (inUse || m_connection->alive())))
                close();
        }
        if (!m_connection) {
            m_usedClient = true;
            m_connection = std::make_shared<Connection>(values);
            m_values = values;
        }
        return m_connection;
    }

    // An operation that still holds the connection finishes with it; it closes when that ends.
    void close() noexcept { m_connection.reset(); }

private:
    std::shared_ptr<Connection> m_connection;
    ConnectionValues m_values;
    bool m_usedClient = false;
};

thread_local ThreadConnection threadConnection;

} // namespace

std::shared_ptr<Connection> ConnectionCache::acquire(const Settings& settings) {
    return acquire(ConnectionValues::fromSettings(settings));
}

std::shared_ptr<Connection> ConnectionCache::acquire(const ConnectionValues& values) {
    return threadConnection.acquire(values);
}

void ConnectionCache::closeThreadConnection() noexcept {
    threadConnection.close();
}

#endif

} // namespace ostrel

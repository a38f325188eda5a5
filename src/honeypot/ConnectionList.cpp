#include "honeypot/ConnectionList.h"

#include <algorithm>

namespace ostrel::honeypot {

void ConnectionList::add(ServedConnection& connection) {
    std::lock_guard lock(m_mutex);
    m_connections.push_back(&connection);
}

void ConnectionList::remove(ServedConnection& connection) {
    std::lock_guard lock(m_mutex);
    connection.socket.close();
    const auto listed = std::find(m_connections.begin(), m_connections.end(), &connection);
    if (listed != m_connections.end())
        m_connections.erase(listed);
}

void ConnectionList::close(ServedConnection& connection) {
    std::lock_guard lock(m_mutex);
    connection.socket.close();
}

void ConnectionList::closeAll() {
    std::lock_guard lock(m_mutex);
    for (ServedConnection* connection : m_connections)
        connection->socket.close();
}

int ConnectionList::closeMatching(const std::string& peerIp) {
    std::lock_guard lock(m_mutex);
    int matches = 0;
    for (ServedConnection* connection : m_connections) {
        if (connection->PeerIP != peerIp)
            continue;
        connection->socket.close();
        ++matches;
    }
    return matches;
}

std::size_t ConnectionList::size() const {
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

} // namespace ostrel::honeypot

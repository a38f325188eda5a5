#pragma once

#include "honeypot/Socket.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace ostrel::honeypot {

// One accepted connection being served: its socket and the peer's address. The object lives
// on its connection thread; while it is listed, its socket is touched only under the list's lock.
struct ServedConnection {
    ServedConnection(Socket socket, std::string peerIp) : socket(std::move(socket)), PeerIP(std::move(peerIp)) {}

    Socket socket;
    const std::string PeerIP;
};

// `Contexts`: the connections being served, in order of arrival, under a lock of their own.
//
// Closing a connection is a close() of its descriptor under this lock, by whichever thread
// closes it; every other use of a listed descriptor happens under the same lock, so no thread
// can reach a descriptor number that the system has already handed to someone else. Sockets
// are accepted with an abortive close (SO_LINGER 0): the peer gets a reset and the port keeps
// no TIME_WAIT entries, which would otherwise refuse the next start on the same port, since
// the honeypot binds without address reuse.
class ConnectionList {
public:
    void add(ServedConnection& connection);
    // Takes the connection off the list, closing its socket if that has not happened yet.
    void remove(ServedConnection& connection);

    // Closes one connection (the connect step's own close).
    void close(ServedConnection& connection);
    // Closes every listed connection; each ends on its own thread.
    void closeAll();
    // Closes every listed connection whose peer is exactly `peerIp`; the number of them,
    // including those that were already closed and are still on their way out.
    int closeMatching(const std::string& peerIp);

    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::vector<ServedConnection*> m_connections;
};

} // namespace ostrel::honeypot

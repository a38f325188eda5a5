#pragma once

#include "db/Connection.h"

#include <memory>

namespace ostrel {

class Settings;

// One kept database connection per thread, so that an operation does not pay for a fresh
// connection each time. An operation takes its connection here when it starts and holds it
// until it ends; the connection values are read at that moment, as for a fresh connection, so
// a changed server, port, database, user or password counts from the next operation on. The
// kept connection is given out again only while its values are unchanged, its last statement
// did not fail, no transaction is open on it and the server still answers on it; otherwise it
// is closed and a new one opened. It is closed when its thread ends.
class ConnectionCache {
public:
    // The calling thread's connection for the live connection values of this moment. A port
    // that is no whole number raises EConvertError, a failed connect EDatabaseError; nothing is
    // kept then.
    static std::shared_ptr<Connection> acquire(const Settings& settings);
    static std::shared_ptr<Connection> acquire(const ConnectionValues& values);

    // Closes the calling thread's kept connection now rather than at the thread's end.
    static void closeThreadConnection() noexcept;
};

} // namespace ostrel

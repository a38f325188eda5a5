#pragma once

#include "db/Connection.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// The start-up connection `Conn`: opened once at start-up to prove the configuration, then
// held open for the life of the program without running a statement on it.
class StartupConnection {
public:
    // Takes the five values of a configuration load. New values for server, port, user or
    // password close an open connection, which is not opened again by itself.
    void setValues(const ConnectionValues& values);
    const ConnectionValues& values() const { return m_values; }

    // Opens the connection with the values last handed over; EDatabaseError when that fails.
    // An open connection stays as it is.
    void connect();
    bool connected() const { return m_connection.has_value(); }
    void disconnect() { m_connection.reset(); }

    // Those of the named tables that exist in the connection's database on an engine without
    // transactions, each as "name (ENGINE)". Needs the connection open; EDatabaseError otherwise.
    std::vector<std::string> tablesWithoutTransactions(const std::vector<std::string>& names);

private:
    ConnectionValues m_values;
    std::optional<Connection> m_connection;
};

} // namespace ostrel

#pragma once

#include "db/Connection.h"

namespace ostrel {

// One transaction on a connection: rolled back when the scope ends without commit(), so an
// operation that fails half-way leaves the tables as they were before it began.
class SqlTransaction {
public:
    explicit SqlTransaction(Connection& connection) : m_connection(connection) {
        m_connection.execute("START TRANSACTION");
    }
    ~SqlTransaction() {
        if (m_open) {
            try {
                m_connection.execute("ROLLBACK");
            } catch (...) {
                // A connection that broke rolls the transaction back on the server anyway.
            }
        }
    }
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    void commit() {
        m_connection.execute("COMMIT");
        m_open = false;
    }
    // Runs the last statements and the commit in one round trip. A statement that fails stops
    // the text before the COMMIT, and the transaction is rolled back as the scope ends.
    void commitWith(const std::string& statements) {
        m_connection.execute(statements + "\nCOMMIT;");
        m_open = false;
    }

private:
    Connection& m_connection;
    bool m_open = true;
};

} // namespace ostrel

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct st_mysql;
struct st_mysql_res;

namespace ostrel {

class Settings;

// The five values a connection is opened with.
struct ConnectionValues {
    std::string host;
    int port = 0;
    std::string database;
    std::string user;
    std::string password;

    // Reads them from the live settings now; a port that is no whole number raises
    // EConvertError before anything connects.
    static ConnectionValues fromSettings(const Settings& settings);

    bool operator==(const ConnectionValues&) const = default;
};

// Rows of one result, positioned on the first row. Columns are read by name.
class ResultSet {
public:
    ResultSet() = default;
    ResultSet(std::vector<std::string> columns, std::vector<std::vector<std::string>> rows,
              std::vector<std::vector<bool>> nulls);

    // True once a step has passed the last row (at once for a result without rows).
    bool eof() const { return m_row >= m_rows.size(); }
    void next() {
        if (!eof())
            ++m_row;
    }
    std::size_t rowCount() const { return m_rows.size(); }

    // The column of the current row as text; empty past the last row or for NULL.
    std::string text(const std::string& column) const;
    // The column of the current row as a whole number (EConvertError if it is none).
    std::int64_t integer(const std::string& column) const;

private:
    std::size_t columnIndex(const std::string& column) const;

    std::vector<std::string> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::vector<std::vector<bool>> m_nulls;
    std::size_t m_row = 0;
};

// One connection to the MySQL server, owned by one operation on one thread and closed
// when it goes out of scope, on every path. Multi-statement texts are enabled; connect,
// read and write are bounded by time limits so a dead server cannot hang the caller.
// ROW_COUNT() of an UPDATE counts the rows it found, changed or not.
class Connection {
public:
    static constexpr unsigned ConnectTimeoutSeconds = 10;
    static constexpr unsigned ReadWriteTimeoutSeconds = 30;

    explicit Connection(const ConnectionValues& values);
    // Opens a connection with the live connection values of this moment.
    explicit Connection(const Settings& settings);
    ~Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs a text of one or more statements (one per line, each ended by ";") in order.
    // Returns the rows of the first statement that yields any; EDatabaseError on failure,
    // naming the statement's error; statements before a failing one stay in effect.
    ResultSet execute(const std::string& sql);
    // As execute, with the result of every statement that yields one (rows or none), in order.
    std::vector<ResultSet> executeAll(const std::string& sql);

    // Text value as a double-quoted SQL literal, escaped so it is stored exactly.
    std::string quote(const std::string& value) const;

    // Whether the connection may serve another operation as it stands: its last statement ran
    // to the end (a failure may have left it lost or half-read) and no transaction is open on it.
    bool reusable() const;
    // Asks the server whether the connection still stands (one round trip); false when the
    // server went away or ended the connection.
    bool alive() const;

    st_mysql* handle() const { return m_mysql.get(); }
    // The server's number for the error of the last statement (0 when it succeeded).
    unsigned errorNumber() const;
    static constexpr unsigned NoSuchTable = 1146; // ER_NO_SUCH_TABLE

private:
    struct Closer {
        void operator()(st_mysql* mysql) const noexcept;
    };
    std::unique_ptr<st_mysql, Closer> m_mysql;
    bool m_failed = false;
};

} // namespace ostrel

#include "db/Connection.h"

#include "common/Conversion.h"
#include "common/Errors.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <algorithm>
#include <mysql.h>
#include <strings.h>

namespace ostrel {

namespace {

// What a Galera node answers to every statement while it is outside its cluster's primary
// component: it would read (and count, and block on) rows the others have moved on from.
constexpr unsigned NodeNotReadyError = 1047;

EDatabaseError clientError(MYSQL* mysql, const char* what) {
    std::string message =
        std::string(what) + ": " + mysql_error(mysql) + " (" + std::to_string(mysql_errno(mysql)) + ")";
    if (mysql_errno(mysql) == NodeNotReadyError)
        message += " - the database node is not part of its cluster's primary component: nothing is stored, blocked "
                   "or released until it rejoins";
    return EDatabaseError(message, mysql_errno(mysql));
}

struct ResultFree {
    void operator()(MYSQL_RES* result) const noexcept { mysql_free_result(result); }
};
using ResultPtr = std::unique_ptr<MYSQL_RES, ResultFree>;

ResultSet readAll(MYSQL_RES* result) {
    const unsigned fieldCount = mysql_num_fields(result);
    MYSQL_FIELD* fields = mysql_fetch_fields(result);
    std::vector<std::string> columns;
    columns.reserve(fieldCount);
    for (unsigned i = 0; i < fieldCount; ++i)
        columns.emplace_back(fields[i].name, fields[i].name_length);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::vector<bool>> nulls;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long* lengths = mysql_fetch_lengths(result);
        std::vector<std::string> values(fieldCount);
        std::vector<bool> isNull(fieldCount, false);
        for (unsigned i = 0; i < fieldCount; ++i) {
            if (row[i])
                values[i].assign(row[i], lengths[i]);
            else
                isNull[i] = true;
        }
        rows.push_back(std::move(values));
        nulls.push_back(std::move(isNull));
    }
    return ResultSet(std::move(columns), std::move(rows), std::move(nulls));
}

// A TCP port has 16 bits: 94406 would reach port 28870. 0 stands for the client's default.
int portNumber(const std::string& text) {
    return settingNumber(SQLPortRange, text);
}

} // namespace

ConnectionValues ConnectionValues::fromSettings(const Settings& settings) {
    const SettingsValues values = settings.snapshot();
    ConnectionValues result;
    result.host = values.SQLServer;
    result.port = portNumber(values.SQLPort);
    result.database = values.SQLDatabase;
    result.user = values.SQLUsername;
    result.password = values.SQLPasswort;
    return result;
}

ResultSet::ResultSet(std::vector<std::string> columns, std::vector<std::vector<std::string>> rows,
                     std::vector<std::vector<bool>> nulls)
    : m_columns(std::move(columns)), m_rows(std::move(rows)), m_nulls(std::move(nulls)) {}

std::size_t ResultSet::columnIndex(const std::string& column) const {
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (strcasecmp(m_columns[i].c_str(), column.c_str()) == 0)
            return i;
    throw EDatabaseError("Field '" + column + "' not found");
}

std::string ResultSet::text(const std::string& column) const {
    if (eof())
        return {};
    return m_rows[m_row][columnIndex(column)];
}

std::int64_t ResultSet::integer(const std::string& column) const {
    if (eof())
        return 0;
    const std::size_t index = columnIndex(column);
    if (m_nulls[m_row][index])
        return 0;
    const std::string& value = m_rows[m_row][index];
    try {
        std::size_t used = 0;
        const long long number = std::stoll(value, &used);
        if (used == value.size())
            return number;
    } catch (const std::exception&) {
    }
    throw EConvertError(notAnIntegerMessage(value));
}

void Connection::Closer::operator()(MYSQL* mysql) const noexcept {
    mysql_close(mysql);
}

Connection::Connection(const Settings& settings) : Connection(ConnectionValues::fromSettings(settings)) {}

Connection::Connection(const ConnectionValues& values) {
    // mysql_init is not thread-safe before the library is initialised once.
    static const bool initialised = [] { return mysql_library_init(0, nullptr, nullptr) == 0; }();
    if (!initialised)
        throw EDatabaseError("The MySQL client library could not be initialised");
    m_mysql.reset(mysql_init(nullptr));
    if (!m_mysql)
        throw EDatabaseError("Out of memory for a database connection");
    MYSQL* mysql = m_mysql.get();
    const unsigned connectTimeout = ConnectTimeoutSeconds;
    const unsigned ioTimeout = ReadWriteTimeoutSeconds;
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
    mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(mysql, values.host.c_str(), values.user.c_str(), values.password.c_str(),
                            values.database.c_str(), static_cast<unsigned>(values.port), nullptr,
                            CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS | CLIENT_FOUND_ROWS))
        throw clientError(mysql, "Database connection failed");
}

Connection::~Connection() = default;
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;

ResultSet Connection::execute(const std::string& sql) {
    std::vector<ResultSet> results = executeAll(sql);
    return results.empty() ? ResultSet() : std::move(results.front());
}

std::vector<ResultSet> Connection::executeAll(const std::string& sql) {
    MYSQL* mysql = m_mysql.get();
    // Cleared only when every result was read: a connection left half-way is not used again.
    m_failed = true;
    if (mysql_real_query(mysql, sql.data(), sql.size()) != 0)
        throw clientError(mysql, "Statement failed");
    // Every result of a multi-statement text must be fetched before the connection
    // takes the next statement.
    std::vector<ResultSet> results;
    for (;;) {
        ResultPtr result(mysql_store_result(mysql));
        if (result)
            results.push_back(readAll(result.get()));
        else if (mysql_field_count(mysql) != 0)
            throw clientError(mysql, "Reading a result failed");
        const int more = mysql_next_result(mysql);
        if (more == -1)
            break;
        if (more > 0)
            throw clientError(mysql, "Statement failed");
    }
    m_failed = false;
    return results;
}

bool Connection::reusable() const {
    return !m_failed && (m_mysql->server_status & SERVER_STATUS_IN_TRANS) == 0;
}

bool Connection::alive() const {
    return mysql_ping(m_mysql.get()) == 0;
}

unsigned Connection::errorNumber() const {
    return mysql_errno(m_mysql.get());
}

std::string Connection::quote(const std::string& value) const {
    MYSQL* mysql = m_mysql.get();
    std::string escaped;
    if (mysql->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) {
        // Without backslash escapes only doubling the quote keeps a literal closed.
        escaped.reserve(value.size() + 2);
        for (char c : value) {
            if (c == '"')
                escaped += '"';
            escaped += c;
        }
    } else {
        escaped.resize(value.size() * 2 + 1);
        const unsigned long length = mysql_real_escape_string(mysql, escaped.data(), value.data(), value.size());
        escaped.resize(length);
    }
    return "\"" + escaped + "\"";
}

} // namespace ostrel

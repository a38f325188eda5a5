#include "db/StartupConnection.h"

#include "common/Errors.h"

namespace ostrel {

void StartupConnection::setValues(const ConnectionValues& values) {
    // The database name alone does not end a session: it only names where statements go.
    const bool sessionChanges = values.host != m_values.host || values.port != m_values.port ||
                                values.user != m_values.user || values.password != m_values.password;
    if (sessionChanges)
        m_connection.reset();
    m_values = values;
}

void StartupConnection::connect() {
    if (!m_connection)
        m_connection.emplace(m_values);
}

std::vector<std::string> StartupConnection::tablesWithoutTransactions(const std::vector<std::string>& names) {
    if (!m_connection)
        throw EDatabaseError("The start-up connection is not open");
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + m_connection->quote(name);
    // An engine the server does not list (a plugin that is gone) has no transactions either.
    ResultSet rows = m_connection->execute(
        "SELECT T.TABLE_NAME AS name, T.ENGINE AS engine FROM information_schema.TABLES T"
        " LEFT JOIN information_schema.ENGINES E ON E.ENGINE = T.ENGINE"
        " WHERE T.TABLE_SCHEMA = DATABASE() AND T.TABLE_TYPE = 'BASE TABLE' AND T.TABLE_NAME IN (" +
        list + ") AND COALESCE(E.TRANSACTIONS, 'NO') <> 'YES' ORDER BY T.TABLE_NAME");
    std::vector<std::string> tables;
    for (; !rows.eof(); rows.next())
        tables.push_back(rows.text("name") + " (" + rows.text("engine") + ")");
    return tables;
}

} // namespace ostrel

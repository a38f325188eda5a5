#include "config/StartupConnection.h"

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

} // namespace ostrel

#pragma once

#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"

#include <memory>

namespace ostrel {

class Settings;

// What every operation on the tables starts with: the calling thread's connection from the
// cache and the table names of this moment, both for the live settings. The connection is
// taken first, so that a server that cannot be reached is reported before a bad prefix.
class TableConnection {
public:
    explicit TableConnection(const Settings& settings)
        : m_lease(ConnectionCache::acquire(settings)), m_tables(Tables::fromSettings(settings)) {}

    Connection& connection() const { return *m_lease; }
    const Tables& tables() const { return m_tables; }

private:
    std::shared_ptr<Connection> m_lease;
    Tables m_tables;
};

} // namespace ostrel

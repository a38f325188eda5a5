#include "support/TestDatabase.h"

#include "config/Settings.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <unistd.h> // getpid; mingw-w64 has it too

#ifndef OSTREL_SOURCE_DIR
#define OSTREL_SOURCE_DIR "."
#endif

namespace ostrel::test {

namespace {

std::map<std::string, std::string> readEnvFile(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("export ", 0) == 0)
            line.erase(0, 7);
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

TestServer load() {
    std::map<std::string, std::string> values;
    for (const char* key : {"OSTREL_TEST_DB_HOST", "OSTREL_TEST_DB_PORT", "OSTREL_TEST_DB_USER",
                            "OSTREL_TEST_DB_PASSWORD", "OSTREL_TEST_DB_SOCKET", "OSTREL_TEST_DB_NAME"})
        if (const char* value = std::getenv(key))
            values[key] = value;
    if (values.find("OSTREL_TEST_DB_PORT") == values.end())
        values = readEnvFile(OSTREL_SOURCE_DIR "/.testdb.env");
    TestServer server;
    if (values.find("OSTREL_TEST_DB_PORT") == values.end())
        return server;
    server.host = values["OSTREL_TEST_DB_HOST"];
    server.port = std::atoi(values["OSTREL_TEST_DB_PORT"].c_str());
    server.user = values["OSTREL_TEST_DB_USER"];
    server.password = values["OSTREL_TEST_DB_PASSWORD"];
    server.socket = values["OSTREL_TEST_DB_SOCKET"];
    server.database = values["OSTREL_TEST_DB_NAME"];
    server.configured = server.port > 0;
    // A host of "localhost" reaches the server through this socket (the client reads it). Windows
    // has no unix sockets for it: there the tests reach the server over TCP.
#ifndef _WIN32
    if (!server.socket.empty())
        setenv("MYSQL_UNIX_PORT", server.socket.c_str(), 0);
#endif
    return server;
}

} // namespace

const TestServer& TestServer::get() {
    static const TestServer server = load();
    return server;
}

bool requireDatabase() {
    const char* value = std::getenv("OSTREL_REQUIRE_DB");
    return value && std::string(value) == "1";
}

std::string TestTables::uniquePrefix() {
    static std::atomic<int> counter{0};
    return "t" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_";
}

TestTables::TestTables() : m_prefix(uniquePrefix()), m_historyPrefix(m_prefix) {
    create(merkliste(), "merkliste");
    create(firewall(), "firewall");
    create(history(), "firewall_history");
}

TestTables::TestTables(std::string historyPrefix)
    : m_prefix(uniquePrefix()), m_historyPrefix(std::move(historyPrefix)), m_ownHistory(false) {
    create(merkliste(), "merkliste");
    create(firewall(), "firewall");
    exec("CREATE TABLE IF NOT EXISTS " + history() + " LIKE firewall_history");
}

TestTables::~TestTables() {
    try {
        std::string drop = "DROP TABLE IF EXISTS " + merkliste() + ", " + firewall();
        if (m_ownHistory)
            drop += ", " + history();
        exec(drop);
    } catch (...) {
        // A test that stopped the server leaves its tables; the server's folder goes anyway.
    }
}

void TestTables::create(const std::string& table, const std::string& like) const {
    exec("CREATE TABLE " + table + " LIKE " + like);
}

ConnectionValues TestTables::connectionValues() {
    const TestServer& server = TestServer::get();
    ConnectionValues values;
    values.host = server.host;
    values.port = server.port;
    values.database = server.database;
    values.user = server.user;
    values.password = server.password;
    return values;
}

void TestTables::applyTo(Settings& settings) const {
    const TestServer& server = TestServer::get();
    settings.set(&SettingsValues::SQLServer, server.host);
    settings.set(&SettingsValues::SQLPort, std::to_string(server.port));
    settings.set(&SettingsValues::SQLDatabase, server.database);
    settings.set(&SettingsValues::SQLUsername, server.user);
    settings.set(&SettingsValues::SQLPasswort, server.password);
    settings.set(&SettingsValues::SQLTBLPrefix, m_prefix);
    settings.set(&SettingsValues::SQLTBLPrefixHistory, m_historyPrefix);
}

Connection TestTables::connect() const {
    return Connection(connectionValues());
}

ResultSet TestTables::query(const std::string& sql) const {
    return connect().execute(sql);
}

void TestTables::exec(const std::string& sql) const {
    connect().execute(sql);
}

std::int64_t TestTables::scalar(const std::string& sql) const {
    ResultSet result = query(sql);
    return std::stoll(result.text("value"));
}

} // namespace ostrel::test

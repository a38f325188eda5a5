#include "support/TestDatabase.h"

#include "settings/Settings.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
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
    // Process numbers come round again (under Wine within a few runs), and a run that crashed
    // left its tables behind: a random part keeps a new run off them.
    static const std::string run = [] {
        std::random_device random;
        char text[9];
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
        return std::string(text);
    }();
    return "t" + std::to_string(getpid()) + "_" + run + "_" + std::to_string(counter++) + "_";
}

TestTables::TestTables() : m_prefix(uniquePrefix()), m_historyPrefix(m_prefix) {
    createFromSchema();
}

TestTables::TestTables(std::string historyPrefix)
    : m_prefix(uniquePrefix()), m_historyPrefix(std::move(historyPrefix)), m_ownHistory(false) {
    createFromSchema();
}

std::vector<std::string> TestTables::configLines(const std::string& host) const {
    const TestServer& server = TestServer::get();
    return {"SQLServer=" + host,
            "SQLPort=" + std::to_string(server.port),
            "SQLDatabase=" + server.database,
            "SQLUsername=" + server.user,
            "SQLPasswort=" + server.password,
            "SQLTBLPrefix=" + m_prefix,
            "SQLTBLPrefixHistory=" + m_historyPrefix};
}

TestTables::~TestTables() {
    if (m_created.empty())
        return;
    try {
        std::string drop = "DROP TABLE IF EXISTS ";
        for (std::size_t i = 0; i < m_created.size(); ++i)
            drop += (i ? ", " : "") + m_created[i];
        exec(drop);
    } catch (...) {
        // A test that stopped the server leaves its tables; the server's folder goes anyway.
    }
}

// Each "CREATE TABLE IF NOT EXISTS <name> (...)" of the schema, run for the prefixed name: the
// tests see exactly the layout an installation gets. The history shared with other instances
// is created only when missing, and stays.
void TestTables::createFromSchema() {
    std::ifstream in(OSTREL_SOURCE_DIR "/sql/schema.sql");
    if (!in)
        throw std::runtime_error("cannot read " OSTREL_SOURCE_DIR "/sql/schema.sql");
    std::string text, line;
    // Comments go first: they may hold a ";" of their own.
    while (std::getline(in, line))
        text += line.substr(0, line.find("--")) + "\n";
    const std::string create = "CREATE TABLE IF NOT EXISTS ";
    for (std::size_t at = text.find(create); at != std::string::npos; at = text.find(create, at)) {
        const std::size_t nameStart = at + create.size();
        const std::size_t nameEnd = text.find_first_of(" (", nameStart);
        const std::size_t end = text.find(';', nameEnd);
        const std::string table = text.substr(nameStart, nameEnd - nameStart);
        const std::string rest = text.substr(nameEnd, end - nameEnd);
        at = end;
        const bool history = table == "firewall_history";
        const std::string name = (history ? m_historyPrefix : m_prefix) + table;
        if (history && !m_ownHistory) {
            exec(create + name + rest);
            continue;
        }
        exec("CREATE TABLE " + name + rest);
        m_created.push_back(name);
    }
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

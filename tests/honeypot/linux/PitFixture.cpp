#include "PitFixture.h"

#include "platform/linux/NftablesFirewall.h"

#include <algorithm>
#include <thread>

namespace ostrel::test {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void WatchedOperator::log(Pane pane, const std::string& message) {
    {
        std::lock_guard lock(m_watchMutex);
        RecordingOperator::log(pane, message);
    }
    m_changed.notify_all();
}

// The list and its history change together, so a waiter never sees one without the other.
void WatchedOperator::tarpitAppend(const std::string& address) {
    {
        std::lock_guard lock(m_watchMutex);
        RecordingOperator::tarpitAppend(address);
        m_history.push_back("+" + address);
    }
    m_changed.notify_all();
}

void WatchedOperator::tarpitRemove(const std::string& address) {
    {
        std::lock_guard lock(m_watchMutex);
        RecordingOperator::tarpitRemove(address);
        m_history.push_back("-" + address);
    }
    m_changed.notify_all();
}

std::vector<std::string> WatchedOperator::tarpitHistory() const {
    std::lock_guard lock(m_watchMutex);
    return m_history;
}

bool WatchedOperator::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_watchMutex);
    return m_changed.wait_for(lock, timeout, condition);
}

bool WatchedOperator::waitForTarpitSize(std::size_t size, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return tarpit().size() == size; }, timeout);
}

bool WatchedOperator::waitForRemoval(const std::string& address, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return std::find(m_history.begin(), m_history.end(), "-" + address) != m_history.end(); },
                     timeout);
}

TableLock::TableLock(const TestTables& tables, const std::string& table) : m_connection(tables.connect()) {
    m_connection.execute("LOCK TABLES " + table + " WRITE");
}

TableLock::~TableLock() {
    try {
        release();
    } catch (...) {
        // Closing the connection lets go of the lock as well.
    }
}

void TableLock::release() {
    if (m_held)
        m_connection.execute("UNLOCK TABLES");
    m_held = false;
}

void PitTest::SetUp() {
    OSTREL_REQUIRE_TEST_DB();
    if (!NetworkNamespace::available())
        GTEST_SKIP() << NetworkNamespace::unavailableReason();
    m_net.emplace();
    m_net->execChecked({"ip", "route", "add", "local", "203.0.113.0/24", "dev", "lo"});
    m_tables.emplace();
    m_tables->applyTo(m_settings);
    m_settings.set(&SettingsValues::SQLServer, std::string("localhost"));
    m_settings.set(&SettingsValues::Report, false);
    m_settings.set(&SettingsValues::BlockHoneypotInterval, std::string("45"));
    m_ini.emplace(m_folder / "Config.ini");
    m_report.emplace(m_settings, m_op);
    if (withNftables())
        m_nftables = platform::makeNftablesFirewall(m_nftablesOp, {"rdp_ostrel", "nft", m_net->name()});
    m_context.emplace(OperationContext{m_settings, *m_ini, m_op, m_nftables ? *m_nftables : m_firewall, *m_report});
    m_port = m_net->run(freeHoneypotPort);
}

void PitTest::TearDown() {
    m_pit.reset();
    m_nftables.reset();
}

void PitTest::start(const std::string& adapter) {
    if (!m_pit)
        m_pit.emplace(*m_context, [adapter] { return adapter; });
    // Sockets belong to the namespace of the thread that makes them, and threads inherit it.
    m_net->run([&] { m_pit->start(m_port); });
}

void PitTest::stop(const std::string& portText) {
    m_pit->stop(portText);
}

HoneypotPeer PitTest::connect(const std::string& source, const std::string& destination) {
    return m_net->run([&] { return HoneypotPeer(source, destination, m_port); });
}

void PitTest::connectAndWaitClosed(const std::string& source) {
    const HoneypotPeer peer = connect(source);
    ASSERT_TRUE(peer.waitClosed(Patience)) << "the honeypot kept the connection from " << source;
}

std::int64_t PitTest::rowsFor(const std::string& ip) const {
    return m_tables->scalar("SELECT COUNT(*) AS value FROM " + m_tables->firewall() + " WHERE IP = \"" + ip + "\"");
}

std::int64_t PitTest::blockMinutes(const std::string& ip) const {
    return m_tables->scalar("SELECT TIMESTAMPDIFF(MINUTE, `Timestamp`, `revoke`) AS value FROM " +
                            m_tables->firewall() + " WHERE IP = \"" + ip + "\"");
}

std::string PitTest::column(const std::string& ip, const std::string& name) const {
    return m_tables->query("SELECT `" + name + "` FROM " + m_tables->firewall() + " WHERE IP = \"" + ip + "\"")
        .text(name);
}

} // namespace ostrel::test

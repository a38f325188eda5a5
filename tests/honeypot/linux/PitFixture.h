#pragma once

#include "blocking/AbuseReport.h"
#include "blocking/OperationContext.h"
#include "config/IniFile.h"
#include "db/Connection.h"
#include "honeypot/Pit.h"
#include "platform/FirewallCommand.h"
#include "settings/Settings.h"
#include "support/RecordingFirewallCommand.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"
#include "support/linux/HoneypotPeer.h"
#include "support/linux/NetworkNamespace.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

using namespace std::chrono_literals;

// Long enough for anything the honeypot does on a loaded machine; reached only on failure.
constexpr auto Patience = 20s;

// Checks `condition` every few milliseconds until it holds; false when the time ran out. For
// states that nothing signals, such as the kernel's listen queue.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = Patience);

// A recording operator that also keeps the order of the `tarpit` changes ("+address",
// "-address") and lets a test wait for a state instead of sleeping.
class WatchedOperator : public RecordingOperator {
public:
    void log(Pane pane, const std::string& message) override;
    void tarpitAppend(const std::string& address) override;
    void tarpitRemove(const std::string& address) override;

    std::vector<std::string> tarpitHistory() const;
    // Waits until `condition` holds, re-checking after every change; false when the time ran out.
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = Patience);
    bool waitForTarpitSize(std::size_t size, std::chrono::milliseconds timeout = Patience);
    // Waits until the disconnect step of a connection from `address` has run.
    bool waitForRemoval(const std::string& address, std::chrono::milliseconds timeout = Patience);

private:
    mutable std::mutex m_watchMutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_history;
};

// Holds a table write-locked from a connection of its own, so that every block operation
// that reaches the table waits until the test lets go.
class TableLock {
public:
    TableLock(const TestTables& tables, const std::string& table);
    ~TableLock();
    void release();

private:
    Connection m_connection;
    bool m_held = true;
};

// A honeypot in a network namespace of its own where the whole of 203.0.113.0/24 is local, so
// that peers can connect from documentation addresses (loopback is never blocked). The block
// operation reaches the test database through its unix socket, the one way out of the namespace.
class PitTest : public ::testing::Test {
protected:
    static constexpr const char* Adapter = "203.0.113.1";

    void SetUp() override;
    void TearDown() override;
    // True when the blocks go to the real nftables firewall inside the namespace instead of the
    // recorder (m_nftables is made then).
    virtual bool withNftables() const { return false; }

    // Makes the Pit (with the adapter address given) if there is none yet, and starts it inside
    // the namespace.
    void start(const std::string& adapter = Adapter);
    void stop(const std::string& portText);
    HoneypotPeer connect(const std::string& source, const std::string& destination = Adapter);
    // Connects and waits until the honeypot has closed the connection; the assertion fails otherwise.
    void connectAndWaitClosed(const std::string& source);
    // Waits until every connection thread has run its disconnect step.
    bool waitUntilIdle() { return m_op.waitForTarpitSize(0); }

    std::int64_t rowsFor(const std::string& ip) const;
    std::int64_t blockMinutes(const std::string& ip) const;
    std::string column(const std::string& ip, const std::string& name) const;

    std::string portText() const { return std::to_string(m_port); }

    std::optional<NetworkNamespace> m_net;
    std::optional<TestTables> m_tables;
    TempFolder m_folder;
    Settings m_settings;
    std::optional<IniFile> m_ini;
    WatchedOperator m_op;
    RecordingFirewallCommand m_firewall;
    RecordingOperator m_nftablesOp;
    std::unique_ptr<platform::FirewallCommand> m_nftables;
    std::optional<AbuseReport> m_report;
    std::optional<OperationContext> m_context;
    std::uint16_t m_port = 0;
    std::optional<Pit> m_pit;
};

} // namespace ostrel::test

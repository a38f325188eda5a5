#pragma once

#include "WindowRig.h"
#include "support/NamespaceTest.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// A window whose honeypot peers come from documentation addresses (loopback is never blocked),
// inside a namespace where that whole range is local; the window's operations reach the database
// through its unix socket, which every namespace shares. Skipped without a test database or
// where this machine cannot make a namespace.
class WindowInNamespaceTest : public NamespaceTest {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        NamespaceTest::SetUp();
        if (IsSkipped())
            return;
        net().execChecked({"ip", "route", "add", "local", "203.0.113.0/24", "dev", "lo"});
        m_tables.emplace();
    }

    NetworkNamespace& net() { return *m_ns; }
    TestTables& tables() { return *m_tables; }
    WindowRig& rig() { return m_rig; }

    // A good configuration that reaches the database through its socket.
    std::vector<std::string> socketConfig() const {
        std::vector<std::string> config = goodConfig(*m_tables);
        config[0] = "SQLServer=localhost";
        return config;
    }

private:
    std::optional<TestTables> m_tables;
    WindowRig m_rig; // the window goes before its tables
};

} // namespace ostrel::test

#pragma once

#include "ServiceProcess.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"
#include "support/linux/NetworkNamespace.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// The service program run as an administrator would run it, but inside a network namespace
// of the test's own (its firewall is real nftables there) with Config.ini and the event
// channel in a temporary folder. The database is the test server, reached through its unix
// socket, as a namespace cannot reach the machine's loopback.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override;

    // The command line: `ip netns exec` into the guarded namespace, the C locale, the
    // server's socket, the program with --config and --eventlog, then `options`.
    std::vector<std::string> commandLine(const std::vector<std::string>& options) const;
    platform::ProcessOutcome runToEnd(const std::vector<std::string>& options) const;

    // Config.ini's default section with these lines (CR LF, as the store writes it).
    void writeConfig(const std::vector<std::string>& lines) const;
    std::string readConfig() const;
    // The settings that reach the test's own tables, with the abuse report off.
    static std::vector<std::string> goodConfig(const TestTables& tables, std::int64_t lastRecord);

    // Appends one failed logon per address to the channel; returns the last record's number.
    std::int64_t appendFailedLogons(const std::vector<std::string>& addresses) const;

    // The addresses the program's own nftables table holds in the namespace, IPv4 and IPv6.
    std::map<std::string, std::string> blockedInFirewall() const;

    const NetworkNamespace& guarded() const { return *m_guarded; }
    std::filesystem::path configFile() const { return m_folder / "Config.ini"; }
    std::filesystem::path eventlog() const { return m_folder / "Eventlog"; }

    TempFolder m_folder;
    std::optional<NetworkNamespace> m_guarded;
};

} // namespace ostrel::test

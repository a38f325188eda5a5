#include "ServiceFixture.h"

#include "platform/EventSource.h"
#include "platform/linux/NftablesScript.h"
#include "support/ChannelAppend.h"
#include "support/linux/NftablesInspection.h"

#include <fstream>
#include <sstream>

namespace ostrel::test {

void ServiceFixture::SetUp() {
    if (!NetworkNamespace::available())
        GTEST_SKIP() << NetworkNamespace::unavailableReason();
    m_guarded.emplace();
}

std::vector<std::string> ServiceFixture::commandLine(const std::vector<std::string>& options) const {
    std::vector<std::string> argv = {"ip",
                                     "netns",
                                     "exec",
                                     m_guarded->name(),
                                     "env",
                                     "LC_ALL=C",
                                     "MYSQL_UNIX_PORT=" + TestServer::get().socket,
                                     OSTREL_SERVICE_PROGRAM,
                                     "--config",
                                     configFile().string(),
                                     "--eventlog",
                                     eventlog().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
}

platform::ProcessOutcome ServiceFixture::runToEnd(const std::vector<std::string>& options) const {
    return platform::runProcess(commandLine(options), {}, std::chrono::seconds(120));
}

void ServiceFixture::writeConfig(const std::vector<std::string>& lines) const {
    std::ofstream out(configFile(), std::ios::binary);
    out << "[RDPOstrel]\r\n";
    for (const std::string& line : lines)
        out << line << "\r\n";
    out << "\r\n";
}

std::string ServiceFixture::readConfig() const {
    std::ifstream in(configFile(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ServiceFixture::goodConfig(const TestTables& tables, std::int64_t lastRecord) {
    std::vector<std::string> config = tables.configLines("localhost");
    config.push_back("Report=FALSE");
    config.push_back("LastRecord=" + std::to_string(lastRecord));
    return config;
}

std::int64_t ServiceFixture::appendFailedLogons(const std::vector<std::string>& addresses) const {
    return appendFailedLogonsFrom(eventlog(), addresses);
}

std::map<std::string, std::string> ServiceFixture::blockedInFirewall() const {
    auto blocked = setElements(*m_guarded, "rdp_ostrel", platform::BlockedV4Set);
    blocked.merge(setElements(*m_guarded, "rdp_ostrel", platform::BlockedV6Set));
    return blocked;
}

} // namespace ostrel::test

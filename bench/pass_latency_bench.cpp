// Attack to drop: the service running as installed, at its default five-second interval, inside
// a network namespace of the benchmark's own with the test database server; 20 attackers arrive
// one after another at random moments of the timer's cycle. Each makes two failed logons
// (threshold 1); the time measured runs from the append of the second, the record that crosses
// the threshold, to the kernel adding the address to the firewall's set, as `nft monitor` in the
// namespace reports it. Printed for the channel file and for the xrdp log, median and maximum
// beside their targets, whatever the timer's interval.
#include "BenchPrerequisites.h"
#include "platform/EventSource.h"
#include "platform/linux/ChildProcess.h"
#include "platform/portable/ChannelFileWriter.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"
#include "support/linux/NetworkNamespace.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace ostrel;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int Attackers = 20;
constexpr double MedianTargetSeconds = 0.1;
constexpr double MaximumTargetSeconds = 0.3;

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitForText(const std::filesystem::path& file, const std::string& text, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (fileText(file).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class Source {
public:
    virtual ~Source() = default;
    virtual const char* name() const = 0;
    virtual std::string option() const = 0;
    // Before the service starts: a line it learns as the log's start.
    virtual void seed() = 0;
    virtual void failedLogon(const std::string& address) = 0;
};

class ChannelSource : public Source {
public:
    explicit ChannelSource(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    const char* name() const override { return "channel file"; }
    std::string option() const override { return "channel"; }
    void seed() override { failedLogon("198.51.100.1"); }
    void failedLogon(const std::string& address) override {
        platform::ChannelFileWriter(m_folder).append(
            {{platform::FailedLogonEventCode, std::nullopt, std::vector<std::string>{address}}});
    }

private:
    std::filesystem::path m_folder;
};

class XrdpSource : public Source {
public:
    explicit XrdpSource(std::filesystem::path log) : m_log(std::move(log)) {}
    const char* name() const override { return "xrdp log"; }
    std::string option() const override { return "xrdp:" + m_log.string(); }
    void seed() override { append("[20261210-21:04:30] [INFO ] starting xrdp-sesman with pid 4242\n"); }
    void failedLogon(const std::string& address) override {
        append("[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=::ffff:" + address + " time=1796936675\n");
    }

private:
    void append(const std::string& line) {
        std::ofstream out(m_log, std::ios::app | std::ios::binary);
        out << line;
    }
    std::filesystem::path m_log;
};

// The firewall's own account of each address put into a set: `nft monitor` in the namespace
// reports every element as the kernel adds it, so the time is taken when the drop begins,
// without the delay a polling `nft list` adds to each figure.
class SetAdditions {
public:
    explicit SetAdditions(const test::NetworkNamespace& guarded)
        : m_monitor({"ip", "netns", "exec", guarded.name(), "stdbuf", "-oL", "nft", "monitor", "new", "elements"}) {}
    ~SetAdditions() { m_monitor.kill(); }

    // Waits up to `limit` for `address` to be added; the moment it was seen.
    std::optional<Clock::time_point> waitFor(const std::string& address, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        for (;;) {
            std::size_t newline;
            while ((newline = m_pending.find('\n')) != std::string::npos) {
                const std::string line = m_pending.substr(0, newline);
                m_pending.erase(0, newline + 1);
                if (line.find("{ " + address + " ") != std::string::npos ||
                    line.find(" " + address + " }") != std::string::npos)
                    return m_lineTime;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd wait{m_monitor.output().get(), POLLIN, 0};
            if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(m_monitor.output().get(), buffer, sizeof buffer);
            if (got <= 0)
                return std::nullopt;
            m_lineTime = Clock::now();
            m_pending.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    platform::ChildProcess m_monitor;
    std::string m_pending;
    Clock::time_point m_lineTime;
};

struct Figures {
    double median = 0;
    double maximum = 0;
    int missed = 0;
};

// Runs the service on one source and times each attacker's drop.
Figures measure(Source& source, const test::TempFolder& folder, const test::NetworkNamespace& guarded) {
    const test::TestServer& server = test::TestServer::get();
    test::TestTables tables;
    source.seed();
    {
        std::ofstream config(folder / "Config.ini", std::ios::binary);
        for (const std::string& line : std::vector<std::string>{
                 "[RDPOstrel]", "SQLServer=localhost", "SQLPort=" + std::to_string(server.port),
                 "SQLDatabase=" + server.database, "SQLUsername=" + server.user, "SQLPasswort=" + server.password,
                 "SQLTBLPrefix=" + tables.prefix(), "SQLTBLPrefixHistory=" + tables.historyPrefix(), "Report=FALSE",
                 std::string("LastRecord=0")})
            config << line << "\r\n";
    }
    const std::filesystem::path output = folder / "service.out";
    const std::string command =
        "exec ip netns exec " + guarded.name() + " env LC_ALL=C MYSQL_UNIX_PORT=" + server.socket + " " +
        OSTREL_SERVICE_PROGRAM + " --config " + (folder / "Config.ini").string() + " --eventlog " +
        (folder / "Eventlog").string() + " --source " + source.option() + " >" + output.string() + " 2>&1";
    SetAdditions additions(guarded);
    platform::ChildProcess service({"sh", "-c", command});
    Figures figures;
    // The first pass (at the fifth tick) learns where the source stands.
    if (!waitForText(output, "First run", 30s)) {
        std::fprintf(stderr, "%s: the service made no first pass:\n%s\n", source.name(), fileText(output).c_str());
        service.kill();
        service.wait();
        figures.missed = Attackers;
        return figures;
    }
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(0, 5000); // anywhere in the five-second cycle
    std::vector<double> drops;
    for (int i = 0; i < Attackers; ++i) {
        const std::string address = "203.0.113." + std::to_string(10 + i);
        source.failedLogon(address);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const auto crossed = Clock::now();
        source.failedLogon(address);
        if (const auto dropped = additions.waitFor(address, 10s))
            drops.push_back(std::chrono::duration<double>(*dropped - crossed).count());
        else
            ++figures.missed;
    }
    service.signal(SIGTERM);
    service.wait();
    if (!drops.empty()) {
        std::sort(drops.begin(), drops.end());
        figures.median =
            drops.size() % 2 ? drops[drops.size() / 2] : (drops[drops.size() / 2 - 1] + drops[drops.size() / 2]) / 2;
        figures.maximum = drops.back();
    }
    return figures;
}

} // namespace

int main() {
    if (!bench::prerequisitesMet())
        return 1;
    std::printf("Attack to drop (service at its default 5 s interval, %d attackers at random moments)\n", Attackers);
    for (int kind = 0; kind < 2; ++kind) {
        test::TempFolder folder;
        test::NetworkNamespace guarded;
        std::filesystem::create_directories(folder / "Eventlog");
        ChannelSource channel(folder / "Eventlog");
        XrdpSource xrdp(folder / "xrdp-sesman.log");
        Source& source = kind == 0 ? static_cast<Source&>(channel) : static_cast<Source&>(xrdp);
        const Figures figures = measure(source, folder, guarded);
        std::printf("  %-13s median %.3f s (target <= %.1f s), maximum %.3f s (target <= %.1f s)%s\n", source.name(),
                    figures.median, MedianTargetSeconds, figures.maximum, MaximumTargetSeconds,
                    figures.missed ? ("  " + std::to_string(figures.missed) + " not dropped within 10 s").c_str() : "");
    }
    return 0;
}

// Floods the honeypot with connections from many documentation addresses and prints what it
// sustained: connections served per second, the most connection threads at once, and the
// descriptors and resident memory of the process before and after each round.
//
// Runs as root with the throwaway database of scripts/bench (or scripts/testdb); the honeypot
// and its peers live in a network namespace of the bench's own.

#include "blocking/AbuseReport.h"
#include "blocking/OperationContext.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "honeypot/Pit.h"
#include "platform/FirewallCommand.h"
#include "settings/Settings.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"
#include "support/linux/HoneypotPeer.h"
#include "support/linux/NetworkNamespace.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

constexpr int Connections = 10000;
constexpr int ClientThreads = 8;
constexpr const char* Adapter = "203.0.113.1";

// IPv4 documentation space allowed for peers holds 2 x 254 host addresses; 250 of each range.
std::vector<std::string> peerAddresses() {
    std::vector<std::string> addresses;
    for (int i = 0; i < 250; ++i) {
        addresses.push_back("203.0.113." + std::to_string(2 + i));
        addresses.push_back("198.51.100." + std::to_string(2 + i));
    }
    return addresses;
}

// Counts instead of keeping lines, so that memory measures the honeypot and not the recorder.
class CountingOperator : public Operator {
public:
    void log(Pane, const std::string&) override { ++lines; }
    void logPlain(Pane, const std::string&) override { ++lines; }
    void tarpitAppend(const std::string&) override { ++listed; }
    void tarpitRemove(const std::string&) override { ++removed; }
    bool debug() const override { return debugOn; }
    bool detailLog() const override { return false; }

    std::atomic<bool> debugOn{false};
    std::atomic<long> lines{0};
    std::atomic<long> listed{0};
    std::atomic<long> removed{0};
};

class CountingFirewallCommand : public platform::FirewallCommand {
public:
    void addRule(const std::string&, const std::string&) override { ++added; }
    void deleteRule(const std::string&, const std::string&) override {}
    void drain() override {}
    std::vector<std::string> blockedAddresses() override { return {}; }
    std::atomic<long> added{0};
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// One peer: connect from its address, wait until the honeypot has closed the connection.
bool touch(const std::string& source, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    ::inet_pton(AF_INET, Adapter, &to.sin_addr);
    to.sin_port = htons(port);
    bool served = false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            pollfd watched{fd, POLLIN | POLLRDHUP, 0};
            served = ::poll(&watched, 1, 30000) > 0;
        } else {
            served = errno == ECONNRESET; // accepted and reset before connect() returned
        }
    }
    ::close(fd);
    return served;
}

struct Round {
    double seconds = 0;
    int served = 0;
    int peak = 0;
    int descriptorsBefore = 0, descriptorsAfter = 0;
    long residentBefore = 0, residentAfter = 0;
};

Round flood(const test::NetworkNamespace& net, Pit& pit, std::uint16_t port, CountingOperator& op) {
    const auto addresses = peerAddresses();
    Round round;
    round.descriptorsBefore = test::openDescriptorCount();
    round.residentBefore = residentKiB();
    net.run([&] { pit.start(port); });

    std::atomic<int> served{0};
    std::atomic<int> next{0};
    const auto begun = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < ClientThreads; ++c)
        clients.emplace_back([&] {
            net.run([&] {
                for (int i = next++; i < Connections; i = next++)
                    if (touch(addresses[i % addresses.size()], port))
                        ++served;
            });
        });
    for (auto& client : clients)
        client.join();
    // Every peer has seen its close; the last disconnect steps may still be running.
    while (op.removed < op.listed)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    round.seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    round.served = served;
    round.peak = pit.connectionThreadPeak();
    pit.stop(std::to_string(port));
    round.descriptorsAfter = test::openDescriptorCount();
    round.residentAfter = residentKiB();
    return round;
}

bool report(const char* name, const Round& round, double target) {
    const double rate = round.served / round.seconds;
    std::printf("%-22s %6d served in %6.2f s = %7.0f connections/s (target >= %.0f)\n", name, round.served,
                round.seconds, rate, target);
    std::printf("%-22s most connection threads at once: %d (limit %d)\n", "", round.peak, Pit::MaxThreads);
    std::printf("%-22s open descriptors %d -> %d, resident memory %ld -> %ld KiB\n", "", round.descriptorsBefore,
                round.descriptorsAfter, round.residentBefore, round.residentAfter);
    const bool sound = round.served == Connections && round.peak <= Pit::MaxThreads &&
                       round.descriptorsAfter == round.descriptorsBefore;
    if (!sound)
        std::printf("%-22s FAILED: not every peer served, too many threads, or descriptors left open\n", "");
    if (rate < target)
        std::printf("%-22s below target\n", "");
    return sound;
}

} // namespace

int main() {
    const test::TestServer& server = test::TestServer::get();
    if (!server.configured) {
        std::fprintf(stderr, "no test database configured: run through scripts/bench or start scripts/testdb\n");
        return 2;
    }
    if (!test::NetworkNamespace::available()) {
        std::fprintf(stderr, "%s\n", test::NetworkNamespace::unavailableReason().c_str());
        return 2;
    }
    test::NetworkNamespace net;
    for (const char* range : {"203.0.113.0/24", "198.51.100.0/24"})
        net.execChecked({"ip", "route", "add", "local", range, "dev", "lo"});
    const std::uint16_t port = net.run(test::freeHoneypotPort);

    test::TestTables tables;
    test::TempFolder folder;
    Settings settings;
    tables.applyTo(settings);
    // The namespace reaches the database only through its unix socket.
    settings.set(&SettingsValues::SQLServer, std::string("localhost"));
    settings.set(&SettingsValues::Report, false);
    IniFile ini(folder / "Config.ini");
    CountingOperator op;
    CountingFirewallCommand firewall;
    AbuseReport abuseReport(settings, op);
    OperationContext context{settings, ini, op, firewall, abuseReport};
    Pit pit(context, [] { return std::string(Adapter); });

    std::printf("honeypot flood: %d connections from %zu addresses, %d client threads, port %u\n", Connections,
                peerAddresses().size(), ClientThreads, port);
    bool sound = true;
    op.debugOn = true;
    flood(net, pit, port, op); // warm-up: thread stacks, allocator arenas, the first database connection
    sound &= report("Debug on", flood(net, pit, port, op), 2000);
    op.debugOn = false;
    flood(net, pit, port, op); // warm-up: the database client's per-thread state
    tables.exec("DELETE FROM " + tables.firewall());
    firewall.added = 0;
    sound &= report("Debug off (blocks)", flood(net, pit, port, op), 300);
    std::printf("%-22s %ld rows blocked, %ld firewall rules queued\n", "",
                static_cast<long>(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall())),
                firewall.added.load());
    return sound ? 0 : 1;
}

// One release of 10,000 expired blocks, against the test database server, with the nftables
// changes inside a network namespace of the benchmark's own that holds all those addresses.
#include "BenchPrerequisites.h"
#include "blocking/BlockTexts.h"
#include "blocking/CleanFirewall.h"
#include "blocking/Firewall.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/TestContext.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/NftablesInspection.h"

#include <chrono>
#include <cstdio>
#include <string>

using namespace ostrel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* Table = "rdp_release_bench";
constexpr int Rows = 10000;

std::string address(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "2001:db8:8::%x", i);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main() {
    if (!bench::prerequisitesMet())
        return 1;
    test::TestTables tables;
    test::NetworkNamespace ns;
    test::RecordingOperator firewallOp;
    platform::NftablesOptions options;
    options.table = Table;
    options.netns = ns.name();
    auto firewall = platform::makeNftablesFirewall(firewallOp, options);
    test::TestContext env(&tables, firewall.get());

    tables.exec(
        "INSERT INTO " + tables.firewall() +
        " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) SELECT DATE_SUB(NOW(), INTERVAL 2 HOUR),"
        " DATE_SUB(NOW(), INTERVAL 1 MINUTE), CONCAT('2001:db8:8::', LOWER(HEX(seq))), ' - Counter: 1 - RDP-Block',"
        " 'netsh', 'RDP-Block' FROM seq_0_to_" +
        std::to_string(Rows - 1));
    for (int i = 0; i < Rows; ++i)
        firewall->addRule(ruleName(address(i)), address(i));
    firewall->drain();
    const std::size_t before = test::setElements(ns, Table, "blocked_v6").size();

    const auto start = Clock::now();
    CleanFirewall(env.context);
    const auto released = Clock::now();
    firewall->drain();
    const auto cleared = Clock::now();

    const std::size_t after = test::setElements(ns, Table, "blocked_v6").size();
    const std::int64_t history = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.history());
    const std::int64_t active = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall());

    std::printf("release of %d expired blocks, nftables in a namespace\n", Rows);
    std::printf("  release           %8.3f s (target < 5 s)\n", seconds(released - start));
    std::printf("  firewall clear after %.3f s: set held %zu, holds %zu\n", seconds(cleared - start), before, after);
    std::printf("  history rows %lld, active rows %lld\n", static_cast<long long>(history),
                static_cast<long long>(active));
    const bool complete = before == Rows && after == 0 && history == Rows && active == 0 && firewallOp.lines().empty();
    if (!complete)
        std::printf("INCOMPLETE: not every block was released\n");
    return complete ? 0 : 1;
}

// One guard pass over many new failed-logon records, against the test database server, with
// threshold 1, Debug off and the nftables changes inside a network namespace of the benchmark's
// own. Prints the seconds of each step of the scan, the time until the firewall holds every
// offender, and beside them the bound for the storing step: the same sightings stored by plain
// multi-row inserts of 1,000 rows in one transaction. Then the cost of the firewall reconcile that
// follows every release, beside a pass with no new records.
#include "BenchPrerequisites.h"
#include "blocking/CleanFirewall.h"
#include "blocking/FirewallReconcile.h"
#include "blocking/SqlLists.h"
#include "guard/EventlogScan.h"
#include "guard/GetEventlog.h"
#include "platform/ChannelFileWriter.h"
#include "platform/platform.h"
#include "support/NetworkNamespace.h"
#include "support/NftablesInspection.h"
#include "support/TempFolder.h"
#include "support/TestContext.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace ostrel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* Table = "rdp_pass_bench";

struct Workload {
    int records;
    int addresses;
    double targetSeconds; // until the firewall holds every offender
};

std::string address(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "2001:db8:7::%x:%x", i / 65536, i % 65536);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The records of the workload, every address in turn, appended after one record already seen.
std::int64_t feedChannel(platform::ChannelFileWriter& writer, const Workload& workload) {
    const std::int64_t seen =
        writer.append({{platform::FailedLogonEventCode, std::nullopt, std::vector<std::string>{"198.51.100.1"}}});
    std::vector<platform::NewChannelRecord> batch;
    for (int i = 0; i < workload.records; ++i) {
        batch.push_back(
            {platform::FailedLogonEventCode, std::nullopt, std::vector<std::string>{address(i % workload.addresses)}});
        if (batch.size() == 10000 || i + 1 == workload.records) {
            writer.append(batch);
            batch.clear();
        }
    }
    return seen;
}

// The same sightings as multi-row inserts of ValuesPerStatement rows in one transaction; only
// the statements' execution is timed.
double storingBound(const Workload& workload) {
    test::TestTables tables;
    Connection connection = tables.connect();
    std::vector<std::string> rows;
    rows.reserve(workload.records);
    for (int i = workload.records - 1; i >= 0; --i)
        rows.push_back("(" + connection.quote(address(i % workload.addresses)) + ", NOW() )");
    std::vector<std::string> statements;
    for (const std::string& chunk : joinInChunks(rows))
        statements.push_back("INSERT INTO " + tables.merkliste() + " (`IP`, `Zeitstempel`) VALUES " + chunk + ";");
    const auto start = Clock::now();
    connection.execute("START TRANSACTION");
    for (const std::string& statement : statements)
        connection.execute(statement);
    connection.execute("COMMIT");
    return seconds(Clock::now() - start);
}

bool run(const Workload& workload) {
    test::TestTables tables;
    test::NetworkNamespace ns;
    test::RecordingOperator firewallOp;
    platform::NftablesOptions options;
    options.table = Table;
    options.netns = ns.name();
    auto firewall = platform::makeNftablesFirewall(firewallOp, options);
    firewall->drain();
    test::TestContext env(&tables, firewall.get());
    test::TempFolder folder;
    platform::ChannelFileWriter writer(folder.path());
    platform::ChannelFileSource source(folder.path());
    const std::string lastRecord = std::to_string(feedChannel(writer, workload));
    env.settings.set(&SettingsValues::LastRecord, lastRecord);
    env.settings.set(&SettingsValues::BlockInvalidUserCount, std::string("1"));

    const auto start = Clock::now();
    EventlogScan scan(env.context, lastRecord);
    const auto connected = Clock::now();
    scan.read(source);
    const auto read = Clock::now();
    scan.store();
    const auto stored = Clock::now();
    ResultSet counts = scan.count();
    const auto counted = Clock::now();
    scan.blockOffenders(counts);
    const auto blocked = Clock::now();
    CleanFirewall(env.context);
    const auto released = Clock::now();
    firewall->drain();
    const auto held = Clock::now();

    // The reconcile that follows every pass's release, against a firewall that agrees (one set
    // listing, one query of the active rows), beside a pass with no new records.
    const auto idleStart = Clock::now();
    GetEventlog(env.context, source, env.settings.get(&SettingsValues::LastRecord));
    CleanFirewall(env.context);
    const auto idleEnd = Clock::now();
    reconcileFirewall(env.context);
    const auto reconciled = Clock::now();

    const std::size_t elements = test::setElements(ns, Table, "blocked_v6").size();
    const std::int64_t left = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste());
    const std::int64_t active = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall());
    const double bound = storingBound(workload);

    std::printf("\n%d records from %d addresses (%zu records read, %zu sightings)\n", workload.records,
                workload.addresses, scan.recordsRead(), scan.sightings());
    std::printf("  connect           %8.3f s\n", seconds(connected - start));
    std::printf("  reading           %8.3f s\n", seconds(read - connected));
    std::printf("  storing           %8.3f s   bound %.3f s (%.2fx)\n", seconds(stored - read), bound,
                seconds(stored - read) / bound);
    std::printf("  counting          %8.3f s\n", seconds(counted - stored));
    std::printf("  blocking          %8.3f s   (%d block operations, %.2f ms each)\n", seconds(blocked - counted),
                workload.addresses, 1000 * seconds(blocked - counted) / workload.addresses);
    std::printf("  release (purges)  %8.3f s\n", seconds(released - blocked));
    std::printf("  pass              %8.3f s\n", seconds(released - start));
    std::printf(
        "  pass, no new records %5.3f s; its reconcile with %lld active blocks %.3f s = %.1f %% (target < 10 %%)\n",
        seconds(idleEnd - idleStart), static_cast<long long>(active), seconds(reconciled - idleEnd),
        100 * seconds(reconciled - idleEnd) / seconds(idleEnd - idleStart));
    std::printf("  firewall holds all after %.3f s (target < %.1f s): set holds %zu of %d\n", seconds(held - start),
                workload.targetSeconds, elements, workload.addresses);
    std::printf("  left in the watch list %lld, active blocks %lld\n", static_cast<long long>(left),
                static_cast<long long>(active));
    std::fflush(stdout);
    return elements == static_cast<std::size_t>(workload.addresses) && left == 0 && active == workload.addresses &&
           firewallOp.lines().empty() && !env.op.hasLineContaining("Firewall rule");
}

} // namespace

int main() {
    if (!bench::prerequisitesMet())
        return 1;
    std::printf("guard pass, threshold 1, Debug off, nftables in a namespace\n");
    bool complete = true;
    for (const Workload& workload : {Workload{10000, 1000, 1.5}, Workload{100000, 10000, 12.0}})
        complete = run(workload) && complete;
    std::printf("\ntargets: storing within 2x of its bound\n");
    if (!complete)
        std::printf("INCOMPLETE: a run did not block every address\n");
    return complete ? 0 : 1;
}

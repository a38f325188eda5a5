// One guard pass over many new failed-logon records, against the test database server, with
// threshold 1, Debug off and the nftables changes inside a network namespace of the benchmark's
// own. Prints the seconds of each step of the scan and the time until the firewall holds every
// offender beside its target, the storing step beside its bound (the same sightings stored by
// plain multi-row inserts of 1,000 rows in one transaction), and after the larger pass the release
// of all its blocks once they have expired, beside its target. Then the cost of the firewall
// reconcile that follows every release, beside a pass with no new records: the first one (the
// firewall listed, every address compared), one while nothing changed (the table's change count
// read, no active row), and one after a block of this guard and of another guard on the same
// table (every active row read and compared against the firewall's record).
#include "BenchPrerequisites.h"
#include "blocking/CleanFirewall.h"
#include "blocking/Firewall.h"
#include "blocking/FirewallReconcile.h"
#include "db/SqlLists.h"
#include "guard/EventlogScan.h"
#include "guard/GetEventlog.h"
#include "platform/EventSource.h"
#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesFirewall.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/portable/ChannelFileWriter.h"
#include "support/TempFolder.h"
#include "support/TestContext.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/NftablesInspection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
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

constexpr double ReleaseTargetSeconds = 1.0; // for the release of the larger pass's blocks

std::string address(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "2001:db8:7::%x:%x", i / 65536, i % 65536);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

constexpr int Repeats = 15;

// The median of `repeats` runs of work, in seconds; `before` runs untimed ahead of each.
double medianSeconds(const std::function<void()>& work, const std::function<void()>& before = {},
                     int repeats = Repeats) {
    std::vector<double> runs;
    for (int i = 0; i < repeats; ++i) {
        if (before)
            before();
        const auto start = Clock::now();
        work();
        runs.push_back(seconds(Clock::now() - start));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// The target holds for the reconcile of a pass after which nothing changed; the others are shown
// beside it for what they cost.
void printShare(const char* what, double cost, double pass, bool targeted = false) {
    std::printf("    %-38s %8.2f ms = %6.1f %% of the pass%s\n", what, 1000 * cost, 100 * cost / pass,
                targeted ? " (target < 10 %)" : "");
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

// Lets every active block expire, then times the release until the firewall is clear again.
bool releaseAll(OperationContext& context, platform::FirewallCommand& firewall, const test::TestTables& tables,
                const test::NetworkNamespace& ns) {
    const std::int64_t rows = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall());
    tables.exec("UPDATE " + tables.firewall() + " SET `revoke` = DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    const auto start = Clock::now();
    CleanFirewall(context);
    const auto released = Clock::now();
    firewall.drain();
    const auto clear = Clock::now();
    const std::size_t left = test::setElements(ns, Table, "blocked_v6").size();
    std::printf("  release of %lld rows %6.3f s, firewall clear after %.3f s (target < %.1f s): set holds %zu\n",
                static_cast<long long>(rows), seconds(released - start), seconds(clear - start), ReleaseTargetSeconds,
                left);
    std::fflush(stdout);
    return left == 0 && tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()) == 0;
}

bool run(const Workload& workload, bool thenRelease) {
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

    // The reconcile that follows every pass's release, beside a pass with no new records.
    const auto reconcile = [&] { reconcileFirewall(env.context); };
    const auto first = Clock::now();
    reconcile(); // no agreement yet: the firewall is listed and every address compared
    const double firstCost = seconds(Clock::now() - first);
    const double idlePass = medianSeconds([&] {
        GetEventlog(env.context, source, env.settings.get(&SettingsValues::LastRecord));
        CleanFirewall(env.context);
    });
    const double connecting = medianSeconds([&] { Connection connection(env.settings); });
    const double steady = medianSeconds(reconcile);
    int extra = workload.addresses;
    const double afterOwnBlock = medianSeconds(reconcile, [&] {
        Firewall(env.context, "RDP-Block", address(extra++), 120);
        firewall->drain(); // the block's own rule, not the reconcile's work
    });
    test::TestContext other(&tables); // another guard on the same table, with a firewall of its own
    const double afterOtherBlock =
        medianSeconds(reconcile, [&] { Firewall(other.context, "RDP-Block", address(extra++), 120); });
    const int blocks = extra;

    const std::size_t elements = test::setElements(ns, Table, "blocked_v6").size();
    const std::int64_t left = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste());
    const std::int64_t active = tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall());
    std::size_t restored = 0;  // one for each of the other guard's blocks
    std::size_t otherRule = 0; // none: the firewall agreed otherwise
    for (const std::string& line : env.op.lines()) {
        if (line.starts_with(" - Firewall rule restored for IP "))
            ++restored;
        else if (line.find("Firewall rule") != std::string::npos)
            ++otherRule;
    }
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
    std::printf("  pass, no new records %.2f ms (median of %d); its reconcile with %d active blocks (median):\n",
                1000 * idlePass, Repeats, workload.addresses);
    printShare("first (firewall listed)", firstCost, idlePass);
    printShare("nothing changed", steady, idlePass, true);
    printShare("after a block of this guard", afterOwnBlock, idlePass);
    printShare("after a block of another guard", afterOtherBlock, idlePass);
    printShare("of each: its own connection", connecting, idlePass);
    std::printf("  firewall holds all after %.3f s (target < %.1f s): set holds %zu of %d\n", seconds(held - start),
                workload.targetSeconds, elements, blocks);
    std::printf("  left in the watch list %lld, active blocks %lld\n", static_cast<long long>(left),
                static_cast<long long>(active));
    std::fflush(stdout);
    const bool complete = elements == static_cast<std::size_t>(blocks) && left == 0 && active == blocks &&
                          firewallOp.lines().empty() && restored == static_cast<std::size_t>(Repeats) && otherRule == 0;
    return complete && (!thenRelease || releaseAll(env.context, *firewall, tables, ns));
}

} // namespace

int main() {
    if (!bench::prerequisitesMet())
        return 1;
    std::printf("guard pass, threshold 1, Debug off, nftables in a namespace\n");
    bool complete = true;
    complete = run(Workload{10000, 1000, 0.4}, false) && complete;
    complete = run(Workload{100000, 10000, 4.0}, true) && complete;
    std::printf(
        "\ntargets: firewall holds all within the target of each pass, storing within 2x of its bound,"
        " the reconcile when nothing changed within 10 %% of a pass with no new records, the release within %.1f s\n",
        ReleaseTargetSeconds);
    if (!complete)
        std::printf("INCOMPLETE: a run did not block every address\n");
    return complete ? 0 : 1;
}

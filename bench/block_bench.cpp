// New blocks per second through the block operation, against the test database server:
// with Debug on (the two counts only) and off (insert plus the nftables change, inside a
// network namespace of the benchmark's own), from one thread and from ten.
#include "BenchPrerequisites.h"
#include "blocking/Firewall.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/TestContext.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/NftablesInspection.h"

#include <chrono>
#include <cstdio>
#include <thread>

using namespace ostrel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Addresses = 10000;

std::string address(int run, int i) {
    char text[64];
    std::snprintf(text, sizeof text, "2001:db8:%x::%x:%x", run, i / 65536, i % 65536);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Blocks `Addresses` distinct addresses from `threads` threads; returns the seconds taken.
double blockAll(OperationContext& context, int run, int threads) {
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = t; i < Addresses; i += threads)
                Firewall(context, "RDP-Block", address(run, i), 120);
        });
    for (auto& worker : workers)
        worker.join();
    return seconds(Clock::now() - start);
}

std::size_t elementsInSet(const test::NetworkNamespace& ns) {
    return test::setElements(ns, "rdp_bench", "blocked_v6").size();
}

} // namespace

int main() {
    if (!bench::prerequisitesMet())
        return 1;
    std::printf("block operation, %d distinct addresses per run\n", Addresses);
    std::printf("%-34s %10s %12s %14s\n", "run", "seconds", "blocks/s", "firewall +s");
    int run = 1;
    for (bool debug : {true, false}) {
        for (int threads : {1, 10}) {
            test::TestTables tables;
            test::NetworkNamespace ns;
            test::RecordingOperator op;
            platform::NftablesOptions options;
            options.table = "rdp_bench";
            options.netns = ns.name();
            auto firewall = platform::makeNftablesFirewall(op, options);
            test::TestContext env(&tables, firewall.get());
            env.op.setDebug(debug);

            const double taken = blockAll(env.context, run++, threads);
            const auto drainStart = Clock::now();
            firewall->drain();
            const double drained = seconds(Clock::now() - drainStart);
            const std::size_t held = debug ? 0 : elementsInSet(ns);

            char label[64];
            std::snprintf(label, sizeof label, "Debug %s, %d thread%s", debug ? "on " : "off", threads,
                          threads == 1 ? "" : "s");
            std::printf("%-34s %10.2f %12.0f %14.3f", label, taken, Addresses / taken, drained);
            if (!debug)
                std::printf("   set holds %zu of %d", held, Addresses);
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    std::printf("targets: >= 1000 blocks/s from one thread with Debug off, the set complete within 1 s;"
                " >= 2000 blocks/s with Debug on\n");
    return 0;
}

#include "service/ServiceRun.h"

#include "common/ErrorReport.h"
#include "service/HeadlessGuard.h"
#include "service/ServiceOptions.h"
#include "service/StopRequest.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace ostrel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TickPeriod = std::chrono::seconds(1);

// The window's one-second timer: ticks keep their rhythm, and after a pass that took longer
// than a tick the next tick comes at once, without making up the ones it missed. A wake from the
// source's watch runs a pass in between; wakes during a pass wait as one.
void tickUntilStopped(HeadlessGuard& guard, StopRequest& stop) {
    auto next = Clock::now() + TickPeriod;
    while (!stop.waitUntil(next)) {
        if (stop.takeWake()) {
            guard.passNow();
            continue;
        }
        guard.tick();
        next = std::max(next + TickPeriod, Clock::now());
    }
}

} // namespace

int runService(const ServiceOptions& options, StopRequest& stop, std::ostream& out, std::ostream& errors) {
    std::optional<HeadlessGuard> guard;
    try {
        guard.emplace(options, out, errors);
        guard->startUp();
        if (options.once) {
            // A pass whose scan failed read nothing it should have: a cron job must learn of it.
            if (const std::optional<std::string> failure = guard->singlePass()) {
                errors << "rdp-ostrel-service: the pass did not complete:" << *failure << std::endl;
                return 1;
            }
            return 0;
        }
        if (options.honeypotPort)
            guard->startHoneypot(*options.honeypotPort);
        guard->watchSource([&stop] { stop.wake(); });
    } catch (...) {
        errors << "rdp-ostrel-service: " << errorReportText(std::current_exception()) << std::endl;
        return 1;
    }
    tickUntilStopped(*guard, stop);
    return 0;
}

} // namespace ostrel

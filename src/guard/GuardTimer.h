#pragma once

#include "blocking/OperationContext.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace ostrel {

namespace platform {
class EventSource;
class ChannelClaim;
} // namespace platform

// The progress bar `PG` as the pass drives it (minimum 0, step 10).
class PassProgress {
public:
    virtual ~PassProgress() = default;
    virtual void setMaximum(int maximum) = 0;
    virtual void stepIt() = 0;
    virtual void reset() = 0;
};

// The tick counter and the guard pass, without the timer itself: the window's one-second
// timer calls TimerTimer, its buttons call singlePass and timerStarted.
class GuardTimer {
public:
    static constexpr std::int32_t IntervalCeiling = 120;

    GuardTimer(OperationContext& context, platform::EventSource& source, PassProgress& progress);
    ~GuardTimer();

    // From now on a pass scans only while this guard holds the machine's claim to the channel
    // (the lock of `claimFile`): a second guard of the machine on the same channel does not scan,
    // says once which process holds it, and takes over when that one is gone. A source with a
    // claim of its own (the xrdp log) is claimed there instead, and a changed choice of source
    // lets the old claim go. Without a claim file every pass scans.
    void claimChannelAt(std::filesystem::path claimFile);
    // Takes the claim unless it is held already; false when another guard holds it, with
    // holder() naming it. Raises EInOutError when the claim file cannot be used.
    bool claimChannel();
    const std::string& holder() const { return m_holder; }

    // One tick: counts, steps the bar, and runs a pass when one is due: the scan, the release and
    // the reconcile of the firewall with the active blocks. The scan's errors are logged here; an
    // interval that is no number and the errors of the release and the reconcile raise.
    void TimerTimer();
    // TimerTimer in its two halves, for a caller that runs the pass elsewhere: the tick (on the
    // window's thread; true when a pass is due, the counter and the bar then start over) and the
    // pass itself, which may wait for the database and the firewall.
    bool tick();
    void runPass();
    // One pass at once (TickCounter := interval + 1, then a tick), then " - Single pass carried out!".
    void singlePass();
    // Makes the next tick run a pass at once; raises when the interval is no number.
    void passNow();
    // A pass at once, as a tick that finds one due (without the single pass's line): new records
    // that a watch of the source has seen are handled now instead of at the next due tick.
    void passAtOnce();
    // The timer button started the timer: the bar's maximum becomes interval × 10.
    void timerStarted();

    // The line the last pass logged for its scan's error, nullopt when the scan completed.
    const std::optional<std::string>& lastScanError() const { return m_lastScanError; }

    std::int32_t TickCounter() const { return m_tickCounter; }
    void setTickCounter(std::int32_t value) { m_tickCounter = value; }

private:
    std::int32_t interval() const;
    void runScan();

    OperationContext& m_context;
    platform::EventSource& m_source;
    PassProgress& m_progress;
    std::int32_t m_tickCounter = 0;
    std::optional<std::string> m_lastScanError;
    std::filesystem::path m_claimFile;
    std::filesystem::path m_claimedFile; // what m_claim holds, or was last tried
    std::unique_ptr<platform::ChannelClaim> m_claim;
    std::string m_holder;
};

} // namespace ostrel

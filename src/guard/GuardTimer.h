#pragma once

#include "common/OperationContext.h"

#include <cstdint>

namespace ostrel {

namespace platform {
class EventSource;
}

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

    // One tick: counts, steps the bar, and runs a pass when one is due: the scan, the release and
    // the reconcile of the firewall with the active blocks. The scan's errors are logged here; an
    // interval that is no number and the errors of the release and the reconcile raise.
    void TimerTimer();
    // One pass at once (TickCounter := interval + 1, then a tick), then " - Single pass carried out!".
    void singlePass();
    // A pass at once, as a tick that finds one due (without the single pass's line): new records
    // that a watch of the source has seen are handled now instead of at the next due tick.
    void passNow();
    // The timer button started the timer: the bar's maximum becomes interval × 10.
    void timerStarted();

    std::int32_t TickCounter() const { return m_tickCounter; }
    void setTickCounter(std::int32_t value) { m_tickCounter = value; }

private:
    std::int32_t interval() const;
    void runScan();

    OperationContext& m_context;
    platform::EventSource& m_source;
    PassProgress& m_progress;
    std::int32_t m_tickCounter = 0;
};

} // namespace ostrel

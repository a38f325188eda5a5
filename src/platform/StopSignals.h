#pragma once

#include <functional>
#include <memory>

namespace ostrel::platform {

// Hands the system's requests to end the program to `onStop`, on a thread of its own and
// never inside a signal handler, for as long as the object lives (Linux: SIGTERM, SIGINT and
// SIGHUP; Windows: a console control event or the service manager's stop). Until the object
// exists, and again once it is gone, such a request ends the program the system's way.
// One at a time.
class StopSignals {
public:
    virtual ~StopSignals() = default;
};

std::unique_ptr<StopSignals> watchStopSignals(std::function<void()> onStop);

} // namespace ostrel::platform

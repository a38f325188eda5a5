#pragma once

#include <ostream>

namespace ostrel {

class StopRequest;
struct ServiceOptions;

// Runs the headless guard as the options say: start-up, then one tick a second until `stop`
// is requested (or one pass with --once), then the orderly end. Returns the exit status:
// 0 after a stop or a --once pass, 1 when start-up or the --once pass failed (the reason
// written to `errors`).
int runService(const ServiceOptions& options, StopRequest& stop, std::ostream& out, std::ostream& errors);

} // namespace ostrel

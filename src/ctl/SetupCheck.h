#pragma once

#include <ostream>

namespace ostrel {

struct CtlOptions;

// Checks the set-up a guard with these options would run with and writes one line per check,
// "ok   <check>: <what was found>" or "FAIL <check>: <why>": settings file readable, complete,
// values in range, database reachable, its five tables present and transactional, event source
// readable, firewall usable. A check that needs an earlier one that failed says it was not made.
// Changes nothing. Returns ExitDone when every check passed, else ExitFailed.
int checkSetup(const CtlOptions& options, std::ostream& out);

} // namespace ostrel

#pragma once

#include "blocking/OperationContext.h"

namespace ostrel {

// Makes the firewall hold exactly the addresses of the active blocks (rows whose `revoke` lies
// after now): a missing rule is added and one without an active row is deleted, each with one
// line in `Log`. Runs at program start and after every pass's release, so a rule lost to a
// reboot, a flushed ruleset or a failed command comes back, and guards that share one table
// follow each other's blocks. While neither the table's change count nor the firewall changed
// since the last reconcile of the program, and no row it read then has ended, it costs one query
// of one row. With `Debug` on it does nothing. Failures raise to the caller.
void reconcileFirewall(OperationContext& context);

} // namespace ostrel

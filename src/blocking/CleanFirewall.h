#pragma once

#include "common/OperationContext.h"

namespace ostrel {

// The release: moves every active block whose `revoke` has come to the history, deletes
// its firewall rule, and purges watch-list and history rows 30 days old or older.
// The copies and deletes of one call take effect together. Failures raise to the caller.
void CleanFirewall(OperationContext& context);

} // namespace ostrel

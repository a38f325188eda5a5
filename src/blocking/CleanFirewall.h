#pragma once

#include "blocking/OperationContext.h"

#include <cstddef>
#include <string>

namespace ostrel {

// The release: moves every active block whose `revoke` has come to the history, deletes
// its firewall rule, and purges watch-list and history rows 30 days old or older.
// The copies and deletes of one call take effect together. Failures raise to the caller.
void CleanFirewall(OperationContext& context);

// Ends the active block of an address now, as if its time had come: the row goes to the history,
// the rule here is deleted, and guards sharing the table follow at their next pass. Returns how
// many active rows it ended (0: the address was not blocked). Raises Error for what is no address.
std::size_t releaseBlocksOf(OperationContext& context, const std::string& IP);

} // namespace ostrel

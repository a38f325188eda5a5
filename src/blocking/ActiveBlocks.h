#pragma once

#include "blocking/OperationContext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// One row of the active blocks, as an administrator asks about it.
struct ActiveBlock {
    std::int64_t id = 0;
    std::string address;
    std::string reason;                 // the reason name ("RDP-Block", "Honeypot-Block", "Manual-Block")
    std::string since;                  // "YYYY-MM-DD HH:MM:SS", the database server's clock
    std::string until;                  // likewise; "2099-01-01 00:00:00" for a block without end
    std::optional<std::int64_t> number; // the block's number in the address's history ("Counter")
    bool heldHere = false;              // this machine's firewall holds its rule
};

// The active blocks, earliest end first, each marked with whether the firewall here holds it.
// Database and firewall failures raise.
std::vector<ActiveBlock> activeBlocks(OperationContext& context);

} // namespace ostrel

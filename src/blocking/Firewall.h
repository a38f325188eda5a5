#pragma once

#include "blocking/OperationContext.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ostrel {

class Connection;
struct Tables;

// The block operation: blocks `IP` for `MinuteModify` minutes times its block number
// (0: without end), or extends the active block of the address. Records the block,
// queues the firewall rule and makes the abuse report when `Report` is on. Database
// failures and a 32-bit overflow raise to the caller. An address on the allow list, an
// address that is not an IP literal, or a loopback address, is logged and left alone.
void Firewall(OperationContext& context, const std::string& Name, const std::string& IP, std::int32_t MinuteModify);

// Statements a caller runs in the same transaction as the blocks of `handled` (the addresses
// given, in their order, up to one whose block failed): the scan deletes their sightings with
// them, so that a sighting is either still counted or part of a block, never both.
using AlongsideBlocks = std::function<std::string(const std::vector<std::string>& handled)>;

// The block operation for many addresses at once, as the operation for each in turn, on the
// caller's connection and tables: one transaction and a few round trips for all of them. The
// caller keeps the list to a few thousand addresses (it travels as one statement). Raises the
// first failure after the addresses before it are done and logged.
void blockAddresses(OperationContext& context, Connection& connection, const Tables& tables, const std::string& Name,
                    const std::vector<std::string>& IPs, std::int32_t MinuteModify,
                    const AlongsideBlocks& alongside = {});

} // namespace ostrel

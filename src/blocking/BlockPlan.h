#pragma once

#include "blocking/OperationContext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

class Connection;
struct Tables;

// What the block operation makes of one address it was given.
struct PlannedBlock {
    enum class Kind { Refused, Extension, NewBlock };
    Kind kind = Kind::Refused;
    std::string address;            // canonical, unless refused
    std::vector<std::string> lines; // logged in order, before the report of a new block
    std::string closing;            // the last line; empty when refused
    std::string row;                // the new block's VALUES tuple
};

// The addresses given, screened: each one's plan when it is refused (lines only), nullopt for an
// address the table and the firewall are asked about, under `addresses[i]` in its one text.
struct ScreenedAddresses {
    std::vector<std::optional<PlannedBlock>> refusals;
    std::vector<std::string> addresses;
};

// Checks the addresses against the allow list, against what is no single host's address, and
// against this machine's own addresses (looked up once for all of them).
ScreenedAddresses screened(OperationContext& context, const std::vector<std::string>& IPs);

PlannedBlock plannedExtension(const std::string& Name, const std::string& IP, std::int32_t MinuteModify);
// A first block counts 1; its length is its number times MinuteModify (0: without end). A number
// or length beyond 32 bits raises EIntOverflow.
PlannedBlock plannedNewBlock(Operator& op, Connection& connection, const std::string& Name, const std::string& IP,
                             std::int32_t MinuteModify, std::int64_t earlierBlocks);

// The statements that write the planned blocks: the new rows, then the extensions. An address
// given twice (in two spellings) is extended once for each time after the first.
std::string writeStatements(const Tables& tables, const std::vector<PlannedBlock>& planned, std::int32_t MinuteModify,
                            Connection& connection);

} // namespace ostrel

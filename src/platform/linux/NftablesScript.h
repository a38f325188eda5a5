#pragma once

#include "platform/portable/Addresses.h"
#include "platform/portable/QueuedFirewallCommand.h"

#include <span>
#include <string>

namespace ostrel::platform {

// One queued change of the block sets. Only `address` and `comment` reach a script.
struct RuleChange {
    RuleChangeKind kind = RuleChangeKind::Add;
    IpLiteral address;
    std::string comment;   // already made safe by elementComment
    std::string requested; // the address as the caller wrote it, for log lines
};

// The names of the table's parts, fixed here so the scripts and the tests agree.
inline constexpr const char* BlockedV4Set = "blocked_v4";
inline constexpr const char* BlockedV6Set = "blocked_v6";
inline constexpr const char* InputChain = "input";
inline constexpr std::size_t MaxCommentBytes = 128; // nft's limit for a comment

// True for a name nft takes as a bare identifier: a letter or '_', then letters, digits, '_'.
bool isNftIdentifier(const std::string& name);

// The rule name as an element comment: characters that could end the quoted string or the
// command become '_', and the text is cut to MaxCommentBytes.
std::string elementComment(const std::string& ruleName);

// Creates the table, both sets and the input chain with its two drop rules when missing,
// and replaces the chain's rules with exactly those two. Safe to run any number of times.
std::string setUpScript(const std::string& table);

// The set-up followed by the changes, in order, as one atomic batch. Consecutive changes of
// one kind and family become one command. A delete first adds its address, so it always finds
// it and an address that is already gone cannot fail the whole batch.
std::string batchScript(const std::string& table, std::span<const RuleChange> changes);

} // namespace ostrel::platform

#pragma once

#include "support/linux/NetworkNamespace.h"

#include <cstddef>
#include <map>
#include <string>

namespace ostrel::test {

// What nft holds inside a test's namespace, read through `nft -j`.

// The elements of a set: address -> comment (empty without one). Raises when the set is missing.
std::map<std::string, std::string> setElements(const NetworkNamespace& ns, const std::string& table,
                                               const std::string& set);
// The number of rules in a chain. Raises when the chain is missing.
std::size_t ruleCount(const NetworkNamespace& ns, const std::string& table, const std::string& chain);

} // namespace ostrel::test
